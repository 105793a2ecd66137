// Directory listing and file queries: being written.
