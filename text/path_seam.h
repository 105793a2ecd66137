// What the path operations take from the system, opened up so that their
// logic runs natively under the sanitizers: the heap behind assign_string,
// the directory walk without CreateDirectoryA, and the module strings from a
// given path instead of the running executable's; and a way back to a
// process that has described no code page. Not part of the installed
// headers.
#pragma once

#include "text/text.h"

#include <cstddef>

// The heap behind assign_string: malloc and free unless a test replaces them
// to watch the block sizes or to make an allocation fail. A block goes back
// through the release that matches the allocate which made it: a caller who
// replaces string_heap must release the blocks made meanwhile with its own
// release (and those made before with free()), and a slot that outlives the
// replacement must be released before the old functions are put back.
struct StringHeap {
    void* (*allocate)(size_t size);
    void (*release)(void* block);
};
extern StringHeap string_heap;

// Calls create_one for every directory along path, outermost first: for each
// backslash that is a single-byte character under the process's multibyte
// code page, the bytes before it. The part after the last backslash is never
// passed. A path longer than PATH_MAX_BYTES passes nothing.
void create_directories_with(const char* path,
                             void (*create_one)(const char* directory, void* context),
                             void* context);

// Fills the module strings from executable_path. A path longer than
// PATH_MAX_BYTES, or one whose directory and added backslash would not fit,
// leaves all three empty rather than cut.
void init_module_paths_from(const char* executable_path);

// Forgets the description of the process's code page: the Shift-JIS stand-in
// holds again, as in a program that never described one, so that a test can
// see whether an operation describes the runtime's code page by itself.
void mbcp_forget();
