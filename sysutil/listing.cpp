// Directory listing: the prefix and pattern, the filter, the forming of each
// name and the sort. The heap and the directory search come in through a
// ListSystem, so nothing here calls Windows.
#include "sysutil/listing_seam.h"
#include "text/text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned char LIST_NO_MEMORY = 255;

// The longest directory whose pattern, directory + "\\*.*" + NUL, fits.
constexpr size_t LIST_DIRECTORY_MAX = LIST_PATTERN_BYTES - sizeof "\\*.*";
static_assert(LIST_DIRECTORY_MAX < LIST_DIRECTORY_BYTES, "the record can hold it");

// Length of the string in a fixed field, or size when the field holds no NUL.
size_t field_length(const char* field, size_t size)
{
    const void* nul = memchr(field, 0, size);
    return nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - field)
                          : size;
}

bool matches_extension(const FileList* list, const char* name)
{
    // The record holds LIST_MAX_EXTENSIONS entries; a larger count cannot
    // mean more of them.
    int used = list->extension_count;
    if (used > static_cast<int>(LIST_MAX_EXTENSIONS))
        used = static_cast<int>(LIST_MAX_EXTENSIONS);
    for (int i = 0; i < used; ++i) {
        const char* suffix = list->extensions[i];
        // An entry without its NUL is not a suffix; reading on would run
        // into the next entry.
        if (field_length(suffix, LIST_EXTENSION_BYTES) == LIST_EXTENSION_BYTES)
            continue;
        if (ends_with_nocase(name, suffix))
            return true;
    }
    return false;
}

// Whether the entry is listed behind a prefix of prefix_length bytes. A name
// that would not fit its block behind the prefix is passed over: cut short,
// it would name another file.
bool is_listed(const FileList* list, const ListEntry* entry, size_t prefix_length)
{
    const size_t name_length = field_length(entry->name, sizeof entry->name);
    if (name_length == sizeof entry->name)
        return false;
    if (strcmp(entry->name, ".") == 0 || strcmp(entry->name, "..") == 0)
        return false;
    if ((entry->attributes & LIST_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    if (!matches_extension(list, entry->name))
        return false;
    return prefix_length + name_length < LIST_PATH_BYTES;
}

// Searches directory (at most LIST_DIRECTORY_MAX bytes) and fills names from
// slot *count on. False when a name's block could not be had; the names
// taken so far stay in names.
bool search_directory(const FileList* list, const ListSystem* system,
                      const char* directory, char** names, int32_t* count)
{
    const size_t directory_length = strlen(directory);
    char prefix[LIST_PATTERN_BYTES];
    memcpy(prefix, directory, directory_length);
    prefix[directory_length] = '\\';
    prefix[directory_length + 1] = '\0';
    char pattern[LIST_PATTERN_BYTES];
    memcpy(pattern, prefix, directory_length + 1);
    memcpy(pattern + directory_length + 1, "*.*", sizeof "*.*");

    // A leading ".\\" or "./" is the current directory and stays out of the
    // names; ".." is kept.
    const char* name_prefix = prefix;
    if (prefix[0] == '.' && (prefix[1] == '/' || prefix[1] == '\\'))
        name_prefix += 2;
    const size_t prefix_length = strlen(name_prefix);

    ListEntry entry;
    void* search = system->find_first(pattern, &entry);
    if (search == nullptr)
        return true;
    bool complete = true;
    do {
        if (!is_listed(list, &entry, prefix_length))
            continue;
        if (*count >= list->capacity)
            break;
        char* name = static_cast<char*>(system->allocate(LIST_PATH_BYTES));
        if (name == nullptr) {
            complete = false;
            break;
        }
        memcpy(name, name_prefix, prefix_length);
        memcpy(name + prefix_length, entry.name, strlen(entry.name) + 1);
        sjis_to_lower(name);
        sjis_replace_char(name, '/', '\\');
        names[(*count)++] = name;
    } while (system->find_next(search, &entry));
    system->find_close(search);
    return complete;
}

// Exchange sort; strcmp compares the bytes as unsigned values, so a lead
// byte or a half-width katakana sorts after every ASCII character.
void sort_names(char** names, int32_t count)
{
    for (int32_t k = 0; k < count; ++k) {
        for (int32_t j = k + 1; j < count; ++j) {
            if (strcmp(names[k], names[j]) > 0) {
                char* held = names[k];
                names[k] = names[j];
                names[j] = held;
            }
        }
    }
}

} // namespace

unsigned char list_files_with(FileList* list, const ListSystem* system)
{
    // A negative capacity, or one whose array would not fit the address
    // space (possible on 32-bit), sizes no array.
    if (list->capacity < 0 ||
        static_cast<uint64_t>(list->capacity) > SIZE_MAX / sizeof(char*))
        return LIST_NO_MEMORY;
    const size_t capacity = static_cast<size_t>(list->capacity);

    char** work = static_cast<char**>(
        alloc_zeroed_with(system->allocate, LIST_WORK_SLOTS * sizeof(char*)));
    if (work == nullptr)
        return LIST_NO_MEMORY;
    char** names = static_cast<char**>(system->allocate(capacity * sizeof(char*)));
    if (names == nullptr) {
        free(work);
        return LIST_NO_MEMORY;
    }
    for (size_t i = 0; i < capacity; ++i)
        names[i] = nullptr;

    // The record is written only once the listing has succeeded, so that a
    // failure leaves it as it was.
    int32_t count = 0;
    bool complete = false;
    work[0] = static_cast<char*>(system->allocate(LIST_PATH_BYTES));
    if (work[0] != nullptr) {
        complete = true;
        // A directory too long for its pattern (or without its NUL) cannot
        // be searched, like one that does not exist: no names.
        const size_t length = field_length(list->directory, LIST_DIRECTORY_BYTES);
        if (length <= LIST_DIRECTORY_MAX) {
            memcpy(work[0], list->directory, length + 1);
            complete = search_directory(list, system, work[0], names, &count);
        }
    }
    for (size_t i = 0; i < LIST_WORK_SLOTS; ++i) {
        free(work[i]);
        work[i] = nullptr;
    }
    free(work);

    if (!complete) {
        for (int32_t i = 0; i < count; ++i)
            free(names[i]);
        free(names);
        return LIST_NO_MEMORY;
    }
    if (list->sort != 0 && count > 0)
        sort_names(names, count);
    list->names = names;
    list->count = count;
    return 0;
}
