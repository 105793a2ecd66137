// The directory listing's logic over a fake directory search and a heap that
// fails on request: names, prefixes, the filter, the capacity, the sort, and
// every allocation failure. Runs natively under ASan (whose leak checker sees
// anything a failure path leaves behind) and under Wine.
#include "sysutil/listing_seam.h"
#include "sysutil/sysutil.h"
#include "tests/sysutil/file_list_helpers.h"
#include "tests/text/bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t ATTRIBUTE_HIDDEN = 0x2;

struct FakeEntry {
    std::string name;
    uint32_t attributes;
};

// The directory that the fake search serves, and what the listing did with it.
struct FakeDirectory {
    bool exists = true;
    std::vector<FakeEntry> entries;
    size_t next = 0;
    std::vector<std::string> patterns;
    int closed = 0;
    // Allocation number that fails (1 = the first), 0 for none.
    int fail_allocation = 0;
    int allocations = 0;
};

FakeDirectory fake;

void fill_entry(const FakeEntry& from, ListEntry* entry)
{
    entry->attributes = from.attributes;
    memset(entry->name, 0x7E, sizeof entry->name);
    // A name of LIST_ENTRY_NAME_BYTES or more stands for an entry whose name
    // field holds no NUL.
    const size_t n = std::min(from.name.size(), sizeof entry->name);
    memcpy(entry->name, from.name.data(), n);
    if (n < sizeof entry->name)
        entry->name[n] = '\0';
}

void* fake_allocate(size_t size)
{
    ++fake.allocations;
    if (fake.allocations == fake.fail_allocation)
        return nullptr;
    // Marker bytes, so that a name read before it was written shows.
    void* block = malloc(size);
    if (block != nullptr)
        memset(block, 0xBD, size);
    return block;
}

void* fake_find_first(const char* pattern, ListEntry* entry)
{
    fake.patterns.push_back(pattern);
    if (!fake.exists || fake.entries.empty())
        return nullptr;
    fake.next = 1;
    fill_entry(fake.entries[0], entry);
    return &fake;
}

bool fake_find_next(void* search, ListEntry* entry)
{
    EXPECT_EQ(search, &fake);
    if (fake.next >= fake.entries.size())
        return false;
    fill_entry(fake.entries[fake.next++], entry);
    return true;
}

void fake_find_close(void* search)
{
    EXPECT_EQ(search, &fake);
    ++fake.closed;
}

const ListSystem kFakeSystem = {fake_allocate, fake_find_first, fake_find_next,
                                fake_find_close};

void serve(std::vector<FakeEntry> entries)
{
    fake = FakeDirectory();
    fake.entries = std::move(entries);
}

// Runs the listing where it must fail, with an earlier result in the record,
// and checks that the record is left exactly as it was.
void expect_failure_leaves_record(FileList* list)
{
    char* earlier[1] = {nullptr};
    list->names = earlier;
    list->count = 77;
    FileList before;
    memcpy(&before, list, sizeof *list);
    EXPECT_EQ(list_files_with(list, &kFakeSystem), 255);
    EXPECT_EQ(memcmp(list, &before, sizeof *list), 0);
}

TEST(ListFiles, FormsNamesFromTheDirectoryAndTheEntry)
{
    struct Case {
        const char* directory;
        const char* entry;
        const char* pattern;
        const char* name;
    };
    const Case cases[] = {
        // The current directory: bare names, lowercased.
        {".", "ReadMe.TXT", ".\\*.*", "readme.txt"},
        // A leading ".\\" or "./" leaves the names; the pattern keeps it.
        {".\\Sub", "a.txt", ".\\Sub\\*.*", "sub\\a.txt"},
        {"./Sub/Deep", "a.txt", "./Sub/Deep\\*.*", "sub\\deep\\a.txt"},
        {"./", "a.txt", "./\\*.*", "\\a.txt"},
        // "..", or a dot not followed by a separator, stays.
        {"..\\Up", "a.txt", "..\\Up\\*.*", "..\\up\\a.txt"},
        {"../up", "a.txt", "../up\\*.*", "..\\up\\a.txt"},
        {".Cfg", "a.txt", ".Cfg\\*.*", ".cfg\\a.txt"},
        // Slashes and capitals normalised throughout.
        {"C:/Games/Data", "Save.TXT", "C:/Games/Data\\*.*", "c:\\games\\data\\save.txt"},
        // A trailing separator gives two in a row.
        {"c:\\dir\\", "a.txt", "c:\\dir\\\\*.*", "c:\\dir\\\\a.txt"},
        {"c:/dir/", "a.txt", "c:/dir/\\*.*", "c:\\dir\\\\a.txt"},
        // An empty directory: the names begin with a backslash.
        {"", "a.txt", "\\*.*", "\\a.txt"},
        // Trail bytes 0x41 and 0x5C are neither lowercased nor separators.
        {"C:\\\x83\x41" "B", "\x83\x5C" "X.TXT", "C:\\\x83\x41" "B\\*.*",
         "c:\\\x83\x41" "b\\\x83\x5C" "x.txt"},
        // Half-width katakana are single bytes and keep their value.
        {".", "\xB1" "B.txt", ".\\*.*", "\xB1" "b.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.directory) + "/ " + hex(c.entry));
        serve({{c.entry, 0x20}});
        FileList list = make_list(c.directory, {".txt"}, 4);
        ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
        ASSERT_EQ(fake.patterns.size(), 1u);
        EXPECT_EQ(fake.patterns[0], c.pattern);
        EXPECT_EQ(fake.closed, 1);
        EXPECT_EQ(list.count, 1);
        const std::vector<std::string> names = take_names(&list);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(hex(names[0]), hex(c.name));
    }
}

TEST(ListFiles, FiltersByExtensionAndSkipsDirectories)
{
    const std::vector<FakeEntry> entries = {
        {".", 0x10},           {"..", 0x10},        {"a.TXT", 0x20},
        {"b.dat", 0x20},       {"dir.txt", 0x10},   {".hidden.txt", 0x20},
        {"noext", 0x20},       {"abctxt", 0x20},    {"h.txt", ATTRIBUTE_HIDDEN | 0x4},
        {"x.abcdefgh", 0x20},
    };
    struct Case {
        const char* what;
        std::vector<std::string> extensions;
        int8_t count; // used instead of extensions.size() when not 99
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"one extension, other case", {".txt"}, 99,
         {"a.txt", ".hidden.txt", "h.txt"}},
        {"upper-case entry", {".TXT"}, 99, {"a.txt", ".hidden.txt", "h.txt"}},
        {"empty entry matches every file", {".dat", ""}, 99,
         {"a.txt", "b.dat", ".hidden.txt", "noext", "abctxt", "h.txt", "x.abcdefgh"}},
        {"entry without a dot", {"txt"}, 99,
         {"a.txt", ".hidden.txt", "abctxt", "h.txt"}},
        {"first hit of several", {".dat", ".txt"}, 99,
         {"a.txt", "b.dat", ".hidden.txt", "h.txt"}},
        {"count 0 lists nothing", {""}, 0, {}},
        {"negative count lists nothing", {""}, -1, {}},
        {"only the used entries count", {".dat", ""}, 1, {"b.dat"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        serve(entries);
        FileList list = make_list("d", c.extensions, 20);
        if (c.count != 99)
            list.extension_count = c.count;
        ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
        std::vector<std::string> expected;
        for (const std::string& n : c.names)
            expected.push_back("d\\" + n);
        EXPECT_EQ(take_names(&list), expected);
    }
}

TEST(ListFiles, MalformedExtensionEntriesAreBounded)
{
    serve({{"x.abcdefgh", 0x20}, {"y.dat", 0x20}});
    // Entry 0 fills its 8 bytes without a NUL; read on into entry 1 it would
    // be ".abcdefgh" and match the first file.
    FileList list = make_list("d", {"", "h"}, 4);
    memcpy(list.extensions[0], ".abcdefg", LIST_EXTENSION_BYTES);
    list.extension_count = 1;
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_EQ(take_names(&list), std::vector<std::string>());
    // Such an entry is passed over: the entries after it still count.
    serve({{"x.abcdefgh", 0x20}, {"y.dat", 0x20}});
    list = make_list("d", {"", ".dat"}, 4);
    memcpy(list.extensions[0], ".abcdefg", LIST_EXTENSION_BYTES);
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_EQ(take_names(&list), std::vector<std::string>{"d\\y.dat"});

    // A count above the 16 entries of the record uses those 16.
    serve({{"x.abcdefgh", 0x20}, {"y.dat", 0x20}});
    list = make_list("d", {}, 4);
    for (size_t i = 0; i < LIST_MAX_EXTENSIONS; ++i)
        memcpy(list.extensions[i], ".zzz", 5);
    memcpy(list.extensions[LIST_MAX_EXTENSIONS - 1], ".dat", 5);
    list.extension_count = 127;
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_EQ(take_names(&list), std::vector<std::string>{"d\\y.dat"});
}

TEST(ListFiles, StopsAtCapacity)
{
    const std::vector<FakeEntry> entries = {
        {"1.txt", 0x20}, {"skip.dat", 0x20}, {"2.txt", 0x20}, {"3.txt", 0x20},
        {"4.txt", 0x20}, {"5.txt", 0x20},
    };
    struct Case {
        int32_t capacity;
        std::vector<std::string> names;
        size_t entries_read;
    };
    const Case cases[] = {
        // No slots: the first hit stops the listing.
        {0, {}, 1},
        {3, {"1.txt", "2.txt", "3.txt"}, 5},
        {5, {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}, 6},
        {8, {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        serve(entries);
        FileList list = make_list(".", {".txt"}, c.capacity);
        ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
        EXPECT_EQ(fake.next, c.entries_read);
        EXPECT_EQ(fake.closed, 1);
        EXPECT_EQ(list.count, static_cast<int32_t>(c.names.size()));
        EXPECT_NE(list.names, nullptr);
        EXPECT_EQ(take_names(&list), c.names);
    }
}

TEST(ListFiles, SortsByUnsignedBytesOnRequest)
{
    const std::vector<FakeEntry> entries = {
        {"b.txt", 0x20},  {"\x83\x5C.txt", 0x20}, {"A.txt", 0x20},
        {"\xB1.txt", 0x20}, {"c.txt", 0x20},       {"ab.txt", 0x20},
        {"a.txt2", 0x20},
    };
    serve(entries);
    FileList list = make_list(".", {".txt"}, 10, 1);
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_EQ(take_names(&list),
              (std::vector<std::string>{"a.txt", "ab.txt", "b.txt", "c.txt",
                                        "\x83\x5C.txt", "\xB1.txt"}));

    // A name that ends where another goes on comes first.
    serve({{"ab.txt2", 0x20}, {"ab.txt", 0x20}, {"a.txt", 0x20}});
    list = make_list(".", {""}, 10, 1);
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_EQ(take_names(&list),
              (std::vector<std::string>{"a.txt", "ab.txt", "ab.txt2"}));

    serve(entries);
    list = make_list(".", {".txt"}, 10, 0);
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_EQ(take_names(&list),
              (std::vector<std::string>{"b.txt", "\x83\x5C.txt", "a.txt",
                                        "\xB1.txt", "c.txt", "ab.txt"}));
}

TEST(ListFiles, MissingDirectoryGivesAnArrayOfNullSlots)
{
    serve({{"a.txt", 0x20}});
    fake.exists = false;
    FileList list = make_list("nowhere", {".txt"}, 3, 1);
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_EQ(fake.patterns.size(), 1u);
    // Nothing matched, so there is no search to end.
    EXPECT_EQ(fake.closed, 0);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(take_names(&list).size(), 0u);
}

TEST(ListFiles, DirectoryLengthBounds)
{
    struct Case {
        size_t length;
        bool searched;
    };
    // 259 bytes: the pattern fills its 264 bytes. 260: it would not fit.
    // 261: the field holds no NUL at all.
    const Case cases[] = {{258, true}, {259, true}, {260, false}, {261, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        serve({{"a", 0x20}});
        FileList list = make_list("", {""}, 2);
        memset(list.directory, 'd', c.length);
        if (c.length < sizeof list.directory)
            list.directory[c.length] = '\0';
        ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
        if (c.searched) {
            ASSERT_EQ(fake.patterns.size(), 1u);
            EXPECT_EQ(fake.patterns[0], std::string(c.length, 'd') + "\\*.*");
            EXPECT_EQ(take_names(&list),
                      std::vector<std::string>{std::string(c.length, 'd') + "\\a"});
        } else {
            EXPECT_EQ(fake.patterns.size(), 0u);
            EXPECT_EQ(list.count, 0);
            EXPECT_EQ(take_names(&list).size(), 0u);
        }
    }
}

TEST(ListFiles, NamesTooLongForTheirBlockAreSkipped)
{
    // Prefix of 251 bytes (250 + backslash): a name of 10 fills the 261
    // characters of a block; one of 11 would not fit and is passed over.
    const std::string directory(250, 'd');
    const std::string fits = "123456.txt";
    const std::string too_long = "1234567.txt";
    serve({{too_long, 0x20},
           {fits, 0x20},
           // No NUL within the 260-byte name field.
           {std::string(LIST_ENTRY_NAME_BYTES, 'n'), 0x20},
           {"z.txt", 0x20}});
    FileList list = make_list(directory, {""}, 10);
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    const std::vector<std::string> names = take_names(&list);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], directory + "\\" + fits);
    EXPECT_EQ(names[0].size(), LIST_PATH_BYTES - 1);
    EXPECT_EQ(names[1], directory + "\\z.txt");
}

TEST(ListFiles, RefusesACapacityThatSizesNoArray)
{
    serve({{"a.txt", 0x20}});
    FileList list = make_list(".", {""}, -1);
    expect_failure_leaves_record(&list);
    EXPECT_EQ(fake.allocations, 0);
}

TEST(ListFiles, EveryAllocationFailureLeavesTheRecordAndNoBlock)
{
    // Allocations in order: work list, names array, copy of the directory,
    // then one block per name (three hits here).
    const std::vector<FakeEntry> entries = {
        {"a.txt", 0x20}, {"b.txt", 0x20}, {"c.dat", 0x20}, {"d.txt", 0x20}};
    for (int fail = 1; fail <= 6; ++fail) {
        SCOPED_TRACE(fail);
        serve(entries);
        fake.fail_allocation = fail;
        FileList list = make_list("Dir", {".txt"}, 5, 1);
        expect_failure_leaves_record(&list);
        EXPECT_EQ(fake.closed, static_cast<int>(fake.patterns.size()));
    }
    serve(entries);
    fake.fail_allocation = 7;
    FileList list = make_list("Dir", {".txt"}, 5, 1);
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_EQ(fake.allocations, 6);
    EXPECT_EQ(take_names(&list),
              (std::vector<std::string>{"dir\\a.txt", "dir\\b.txt", "dir\\d.txt"}));
}

TEST(ListFiles, ASecondCallReplacesTheNamesArray)
{
    serve({{"a.txt", 0x20}});
    FileList list = make_list(".", {".txt"}, 2);
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    FileList first = list;
    serve({{"b.txt", 0x20}, {"c.txt", 0x20}});
    ASSERT_EQ(list_files_with(&list, &kFakeSystem), 0);
    EXPECT_NE(list.names, first.names);
    EXPECT_EQ(take_names(&first), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(take_names(&list), (std::vector<std::string>{"b.txt", "c.txt"}));
}

} // namespace
