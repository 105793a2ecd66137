// What the directory listing takes from the system: the heap and a directory
// search, as a table of functions. The Windows edge fills it with malloc and
// FindFirstFileA / FindNextFileA / FindClose; tests fill it with a fake
// search and an allocator that fails on request, so the listing's logic runs
// natively under the sanitizers and every allocation failure can be taken.
#pragma once

#include "sysutil/sysutil.h"

#include <cstddef>
#include <cstdint>

// cFileName of WIN32_FIND_DATAA: MAX_PATH bytes, the name and its NUL.
constexpr size_t LIST_ENTRY_NAME_BYTES = 260;
// The prefix and the search pattern: the directory, a backslash, "*.*", NUL.
constexpr size_t LIST_PATTERN_BYTES = 264;
constexpr uint32_t LIST_ATTRIBUTE_DIRECTORY = 0x10;
// Slots of the listing's zero-filled working storage.
constexpr size_t LIST_WORK_SLOTS = 1000;

// One entry of a directory search.
struct ListEntry {
    uint32_t attributes;
    char name[LIST_ENTRY_NAME_BYTES];
};

struct ListSystem {
    // A block that free() releases, or null.
    void* (*allocate)(size_t size);
    // Begins a search for pattern and stores its first entry; null when
    // nothing matches (then there is no search to end).
    void* (*find_first)(const char* pattern, ListEntry* entry);
    // Stores the next entry; false when none is left.
    bool (*find_next)(void* search, ListEntry* entry);
    void (*find_close)(void* search);
};

// list_files over the given system.
unsigned char list_files_with(FileList* list, const ListSystem* system);

// alloc_zeroed over the given allocator.
void* alloc_zeroed_with(void* (*allocate)(size_t size), uint32_t size);
