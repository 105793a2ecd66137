# File query and listing tests: being written.
