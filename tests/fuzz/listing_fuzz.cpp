// Fuzz target: the directory listing's logic over a fake directory search:
// the prefix rules, the extension filter, the capacity limit, the forming of
// each listed name into its fixed-size block, the sort, and the record left
// unchanged when an allocation fails. Checked against a reference listing
// written here.
//
// Input: a flags byte (sort, failing allocation), a capacity byte, an
// extension-count byte, the directory (up to a NUL; beyond the field's size
// it fills the field without a terminator), a byte for how many extension
// entries follow, the entries (up to a NUL each, 8 bytes fill an entry
// without a terminator), then directory entries: an attribute byte and a
// name each.
#include "tests/fuzz/fuzz_common.h"
#include "sysutil/listing_seam.h"
#include "sysutil/sysutil.h"

#include <algorithm>
#include <map>

namespace {

struct FakeSearch {
    std::vector<ListEntry> entries;
    size_t next = 0;       // entries handed out so far
    int first_calls = 0;
    int close_calls = 0;
    std::string pattern;
};

FakeSearch* search;
std::map<void*, size_t>* block_sizes;
size_t allocation_number = 0;
size_t failing_allocation = 0;  // 1-based; 0: none fails

void* fake_allocate(size_t size) {
    ++allocation_number;
    if (allocation_number == failing_allocation)
        return nullptr;
    void* block = std::malloc(size);
    if (block != nullptr)
        (*block_sizes)[block] = size;
    return block;
}

void* fake_find_first(const char* pattern, ListEntry* entry) {
    ++search->first_calls;
    // The pattern must be terminated inside its buffer; strnlen keeps this
    // check from reading past it.
    const size_t n = strnlen(pattern, LIST_PATTERN_BYTES);
    FUZZ_CHECK(n < LIST_PATTERN_BYTES);
    search->pattern.assign(pattern, n);
    if (search->entries.empty())
        return nullptr;
    *entry = search->entries[0];
    search->next = 1;
    return search;
}

bool fake_find_next(void* handle, ListEntry* entry) {
    FUZZ_CHECK(handle == search);
    FUZZ_CHECK(search->close_calls == 0);
    if (search->next >= search->entries.size())
        return false;
    *entry = search->entries[search->next++];
    return true;
}

void fake_find_close(void* handle) {
    FUZZ_CHECK(handle == search);
    ++search->close_calls;
}

const ListSystem FAKE_SYSTEM = {fake_allocate, fake_find_first, fake_find_next,
                                fake_find_close};

// Length of the string in a fixed field, or the field's size without a NUL.
size_t field_length(const char* field, size_t size) {
    const void* nul = std::memchr(field, 0, size);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : size;
}

bool ref_suffix(const std::string& name, const std::string& suffix) {
    if (name.size() < suffix.size())
        return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (fuzz::ref_lower(static_cast<unsigned char>(name[name.size() - suffix.size() + i])) !=
            fuzz::ref_lower(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

struct RefListing {
    bool searched = false;
    std::string pattern;
    std::vector<std::string> names;
    size_t entries_read = 0;  // entries the listing had to look at
};

RefListing ref_list(const FileList& list, const std::vector<ListEntry>& entries) {
    RefListing r;
    const size_t dir_len = field_length(list.directory, LIST_DIRECTORY_BYTES);
    // The pattern (directory, backslash, "*.*", NUL) must fit its buffer;
    // a longer directory is not searched.
    if (dir_len + 5 > LIST_PATTERN_BYTES)
        return r;
    r.searched = true;
    const std::string prefix = std::string(list.directory, dir_len) + "\\";
    r.pattern = prefix + "*.*";
    std::string name_prefix = prefix;
    if (prefix.size() >= 2 && prefix[0] == '.' && (prefix[1] == '/' || prefix[1] == '\\'))
        name_prefix = prefix.substr(2);

    const int used = std::min<int>(list.extension_count, LIST_MAX_EXTENSIONS);
    for (const ListEntry& e : entries) {
        ++r.entries_read;
        const size_t n = field_length(e.name, sizeof e.name);
        if (n == sizeof e.name)
            continue;  // no terminator: not a name
        const std::string name(e.name, n);
        if (name == "." || name == "..")
            continue;
        if ((e.attributes & LIST_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        bool hit = false;
        for (int i = 0; i < used && !hit; ++i) {
            const size_t sl = field_length(list.extensions[i], LIST_EXTENSION_BYTES);
            if (sl < LIST_EXTENSION_BYTES)
                hit = ref_suffix(name, std::string(list.extensions[i], sl));
        }
        if (!hit)
            continue;
        // A name that would not fit its block is passed over, never cut.
        if (name_prefix.size() + name.size() >= LIST_PATH_BYTES)
            continue;
        if (r.names.size() == static_cast<size_t>(list.capacity))
            break;
        r.names.push_back(fuzz::ref_sjis_replace(
            fuzz::ref_sjis_lower(name_prefix + name), '/', '\\'));
    }
    if (r.names.size() < static_cast<size_t>(list.capacity))
        r.entries_read = entries.size();
    if (list.sort != 0)
        std::sort(r.names.begin(), r.names.end());  // unsigned byte order
    return r;
}

void fill_field(char* field, size_t size, const std::string& s) {
    std::memset(field, 0, size);
    std::memcpy(field, s.data(), std::min(s.size(), size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    search = new FakeSearch();
    block_sizes = new std::map<void*, size_t>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    const uint8_t flags = in.byte();
    static FileList list;  // large: keep it off the stack
    std::memset(&list, 0, sizeof list);
    list.sort = flags & 1;
    list.capacity = static_cast<int8_t>(in.byte()) % 12;
    list.extension_count = static_cast<int8_t>(in.byte());
    fill_field(list.directory, LIST_DIRECTORY_BYTES, in.c_string(LIST_DIRECTORY_BYTES));
    const size_t given = in.byte() % (LIST_MAX_EXTENSIONS + 1);
    for (size_t i = 0; i < given; ++i)
        fill_field(list.extensions[i], LIST_EXTENSION_BYTES, in.c_string(LIST_EXTENSION_BYTES));
    list.names = reinterpret_cast<char**>(&list);  // an earlier result, never touched
    list.count = -7;

    *search = FakeSearch();
    while (!in.empty() && search->entries.size() < 40) {
        ListEntry e;
        e.attributes = (in.byte() & 1) ? LIST_ATTRIBUTE_DIRECTORY : 0;
        fill_field(e.name, sizeof e.name, in.c_string(sizeof e.name));
        search->entries.push_back(e);
    }
    block_sizes->clear();
    allocation_number = 0;
    failing_allocation = (flags >> 1) % 8;

    FileList before;
    std::memcpy(&before, &list, sizeof list);
    const unsigned char status = list_files_with(&list, &FAKE_SYSTEM);

    FUZZ_CHECK(search->first_calls <= 1);
    FUZZ_CHECK(search->close_calls == (search->next > 0 ? 1 : 0));
    if (list.capacity < 0 || status == 255) {
        // Refused, or out of memory: the record is as it was, and nothing is
        // left allocated (the leak checker sees to the second half).
        FUZZ_CHECK(status == 255);
        FUZZ_CHECK(std::memcmp(&before, &list, sizeof list) == 0);
        FUZZ_CHECK(list.capacity < 0 || failing_allocation != 0);
        return 0;
    }
    FUZZ_CHECK(status == 0);

    const RefListing ref = ref_list(list, search->entries);
    FUZZ_CHECK(search->first_calls == (ref.searched ? 1 : 0));
    if (ref.searched) {
        FUZZ_CHECK(search->pattern == ref.pattern);
        FUZZ_CHECK(search->next == ref.entries_read);
    }
    FUZZ_CHECK(list.count == static_cast<int32_t>(ref.names.size()));
    FUZZ_CHECK((*block_sizes)[list.names] == list.capacity * sizeof(char*));
    for (int32_t i = 0; i < list.capacity; ++i) {
        char* name = list.names[i];
        if (i >= list.count) {
            FUZZ_CHECK(name == nullptr);
            continue;
        }
        FUZZ_CHECK(name != nullptr);
        FUZZ_CHECK((*block_sizes)[name] == LIST_PATH_BYTES);
        FUZZ_CHECK(std::memchr(name, 0, LIST_PATH_BYTES) != nullptr);
        FUZZ_CHECK(std::string(name) == ref.names[static_cast<size_t>(i)]);
        std::free(name);
    }
    std::free(list.names);
    return 0;
}
