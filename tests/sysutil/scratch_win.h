// Scratch folders for the Windows tests of the file queries and the listing:
// made fresh in the current directory (inside the build tree) and removed
// with everything in them.
#pragma once

#include <string>

// Removes path with everything below it (read-only entries included), then
// creates it empty. ADD_FAILURE when it cannot be created.
void make_scratch(const std::string& path);
// Removes path with everything below it; nothing happens when it is missing.
void remove_tree(const std::string& path);
// Creates (or truncates) path holding bytes; true when every byte was written.
bool write_file(const std::string& path, const std::string& bytes);
