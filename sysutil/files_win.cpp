// File queries. get_file_size and is_directory go through the directory
// search, so a pattern is answered by the first entry it matches;
// get_file_size64 and is_file ask for the attributes of one path, taken
// literally, where '*' and '?' can name no entry. is_directory asks for them
// too where the search finds nothing.
#include "sysutil/sysutil.h"

#include <windows.h>

// The first entry that the search returns for name, into data; false when
// nothing matches. FindFirstFileA then hands back no entry and no search, so
// there is nothing to read and nothing to close.
static bool find_first_entry(const char* name, WIN32_FIND_DATAA* data)
{
    HANDLE search = FindFirstFileA(name, data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

uint32_t get_file_size(const char* name)
{
    WIN32_FIND_DATAA data;
    if (!find_first_entry(name, &data))
        return 0;
    // Only the low word: 4 GiB and more come back modulo 2^32.
    return data.nFileSizeLow;
}

int64_t get_file_size64(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return -1;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return -1;
    const uint64_t size =
        (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return static_cast<int64_t>(size);
}

unsigned char is_file(const char* path)
{
    // INVALID_FILE_ATTRIBUTES has the directory bit set as well, so a path
    // that cannot be queried fails the first test already.
    const DWORD attributes = GetFileAttributesA(path);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return 0;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    return 1;
}

unsigned char is_directory(const char* name)
{
    // The search finds nothing for a drive root ("C:\", "C:") or for any
    // name that ends in a backslash, as module_dir does, although the
    // directory exists; the attribute query answers for those. A pattern or
    // a missing path fails both.
    WIN32_FIND_DATAA data;
    const DWORD attributes =
        find_first_entry(name, &data) ? data.dwFileAttributes : GetFileAttributesA(name);
    // INVALID_FILE_ATTRIBUTES has the directory bit set too.
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}
