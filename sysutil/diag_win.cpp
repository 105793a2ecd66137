// Registry, shortcuts and diagnostics: being written.
