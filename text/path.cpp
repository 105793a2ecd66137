// Path and heap-string operations. path_file_name and the module strings
// follow the fixed Shift-JIS rule; path splitting and the directory walk
// follow the process's multibyte code page, as the C runtime's path routines
// on Windows do.
#include "text/path_seam.h"
#include "text/text.h"

#include <cstdlib>
#include <cstring>

namespace {

unsigned char fold_ascii(unsigned char b) {
    return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 0x20) : b;
}

void* heap_allocate(size_t size) {
    return malloc(size);
}

void heap_release(void* block) {
    free(block);
}

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// Offsets into a path, found by one walk under the multibyte code page.
struct PathParts {
    size_t rest;       // after the drive: 2 with a drive, else 0
    size_t component;  // start of the last component
    size_t dot;        // the last full stop, when has_dot
    bool has_dot;
    size_t length;
};

PathParts find_path_parts(const char* path) {
    PathParts parts = {};
    parts.length = strlen(path);
    parts.rest = (path[0] != 0 && path[1] == ':') ? 2 : 0;
    parts.component = parts.rest;
    for (size_t i = parts.rest; path[i] != 0; i += mbcp_char_length(path + i)) {
        if (is_separator(path[i])) {
            parts.component = i + 1;
        } else if (path[i] == '.') {
            parts.dot = i;
            parts.has_dot = true;
        }
    }
    return parts;
}

// Copies the n bytes at src (which begins a character) into out, at most
// capacity - 1 of them, and terminates out. A double-byte character that
// would cross the limit is left out whole.
void copy_whole_characters(char* out, size_t capacity, const char* src, size_t n) {
    size_t kept = 0;
    while (kept < n) {
        const size_t step = mbcp_char_length(src + kept);
        if (kept + step > n || kept + step > capacity - 1)
            break;
        kept += step;
    }
    memcpy(out, src, kept);
    out[kept] = 0;
}

}  // namespace

unsigned char ends_with_nocase(const char* str, const char* suffix) {
    const size_t m = strlen(str);
    const size_t n = strlen(suffix);
    if (m < n)
        return 0;
    const unsigned char* tail = reinterpret_cast<const unsigned char*>(str) + (m - n);
    const unsigned char* want = reinterpret_cast<const unsigned char*>(suffix);
    for (size_t i = 0; i < n; ++i) {
        if (fold_ascii(tail[i]) != fold_ascii(want[i]))
            return 0;
    }
    return 1;
}

StringHeap string_heap = {heap_allocate, heap_release};

void assign_string(char** slot, const char* src) {
    if (slot == nullptr)
        return;
    char* block = *slot;
    if (src == nullptr) {
        if (block != nullptr)
            block[0] = 0;
        return;
    }
    const size_t n = strlen(src);
    // The current string's length stands for the block's capacity. src may
    // be the string itself or a tail of it: the copy runs forward.
    if (block != nullptr && strlen(block) >= n) {
        memmove(block, src, n + 1);
        return;
    }
    // A new block is filled before the old one is released, so src may even
    // lie in the old block beyond its current string.
    char* fresh = static_cast<char*>(string_heap.allocate(n + 1));
    if (fresh == nullptr) {
        // Left as it was, the old text would pass for the new one.
        if (block != nullptr)
            block[0] = 0;
        return;
    }
    memcpy(fresh, src, n + 1);
    if (block != nullptr)
        string_heap.release(block);
    *slot = fresh;
}

int path_file_name(char* out, const char* path) {
    const char* name = nullptr;
    for (const char* p = path; *p != 0; p += sjis_char_length(p)) {
        if (is_separator(*p))
            name = p + 1;
    }
    if (name == nullptr || *name == 0 || strlen(name) > PATH_MAX_BYTES) {
        out[0] = 0;
        return 0;
    }
    memcpy(out, name, strlen(name) + 1);
    return 1;
}

void split_path(const char* path, char* drive, char* directory, char* extension) {
    const PathParts parts = find_path_parts(path);
    if (drive != nullptr) {
        memcpy(drive, path, parts.rest);
        drive[parts.rest] = 0;
    }
    if (directory != nullptr) {
        copy_whole_characters(directory, SPLIT_PART_BYTES, path + parts.rest,
                              parts.component - parts.rest);
    }
    if (extension != nullptr) {
        if (parts.has_dot && parts.dot >= parts.component) {
            copy_whole_characters(extension, SPLIT_PART_BYTES, path + parts.dot,
                                  parts.length - parts.dot);
        } else {
            extension[0] = 0;
        }
    }
}

int path_extension(char* ext, const char* path) {
    if (ext == nullptr)
        return 0;
    split_path(path, nullptr, nullptr, ext);
    return 1;
}

void create_directories_with(const char* path,
                             void (*create_one)(const char* directory, void* context),
                             void* context) {
    const size_t n = strlen(path);
    if (n == 0 || n > PATH_MAX_BYTES)
        return;
    char work[PATH_BUFFER_BYTES];
    memcpy(work, path, n + 1);
    for (size_t i = 0; i < n; i += mbcp_char_length(work + i)) {
        if (work[i] != '\\')
            continue;
        work[i] = 0;
        create_one(work, context);
        work[i] = '\\';
    }
}

char module_path[PATH_BUFFER_BYTES];
char module_instance_name[PATH_BUFFER_BYTES];
char module_dir[PATH_BUFFER_BYTES];

void init_module_paths_from(const char* executable_path) {
    module_path[0] = 0;
    module_instance_name[0] = 0;
    module_dir[0] = 0;
    const size_t n = strlen(executable_path);
    if (n == 0 || n > PATH_MAX_BYTES)
        return;

    char path[PATH_BUFFER_BYTES];
    memcpy(path, executable_path, n + 1);
    sjis_to_lower(path);

    // The drive and the directory are the path's first bytes up to its last
    // component, taken whole: they fit, being no longer than the path.
    const PathParts parts = find_path_parts(path);
    char dir[PATH_BUFFER_BYTES];
    memcpy(dir, path, parts.component);
    dir[parts.component] = 0;
    sjis_replace_char(dir, '/', '\\');
    if (!sjis_ends_with_char(dir, '\\')) {
        if (parts.component + 1 > PATH_MAX_BYTES)
            return;
        dir[parts.component] = '\\';
        dir[parts.component + 1] = 0;
    }

    memcpy(module_path, path, n + 1);
    memcpy(module_instance_name, path, n + 1);
    sjis_replace_char(module_instance_name, '\\', ':');
    memcpy(module_dir, dir, strlen(dir) + 1);
}
