# Registry, shortcut and diagnostic tests: being written.
