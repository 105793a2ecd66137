// The listing's Windows edge: the standard heap and the directory search.
#include "sysutil/listing_seam.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

static_assert(sizeof(WIN32_FIND_DATAA::cFileName) == LIST_ENTRY_NAME_BYTES,
              "an entry holds cFileName whole");

static void copy_entry(const WIN32_FIND_DATAA* data, ListEntry* entry)
{
    entry->attributes = data->dwFileAttributes;
    memcpy(entry->name, data->cFileName, sizeof entry->name);
}

static void* find_first(const char* pattern, ListEntry* entry)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        return nullptr;
    copy_entry(&data, entry);
    return search;
}

static bool find_next(void* search, ListEntry* entry)
{
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(search), &data))
        return false;
    copy_entry(&data, entry);
    return true;
}

static void find_close(void* search)
{
    FindClose(static_cast<HANDLE>(search));
}

unsigned char list_files(FileList* list)
{
    static const ListSystem windows_system = {malloc, find_first, find_next,
                                              find_close};
    return list_files_with(list, &windows_system);
}
