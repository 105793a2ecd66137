// The directory listing on a real directory in a scratch folder: Shift-JIS
// and mixed-case names, a subdirectory that looks like a hit, hidden files,
// the capacity, the sort and the order of the search.
#include "sysutil/sysutil.h"
#include "tests/sysutil/file_list_helpers.h"
#include "tests/sysutil/scratch_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kDir = "scratch_listing";
// What the listing makes of kDir: lowercased already.
const std::string kPrefix = kDir + "\\";

class ListFilesOnDisk : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The names below are Shift-JIS only under the Japanese code page.
        ASSERT_EQ(GetACP(), 932u);
        make_scratch(kDir);
        const char* files[] = {
            "A.TXT", "b.txt", "ReadMe.Txt", "data.BIN", "noext",
            // ソ.txt and ア.TXT: trail bytes 0x5C and 0x41.
            "\x83\x5C.txt", "\x83\x41.TXT",
        };
        for (const char* name : files)
            ASSERT_TRUE(write_file(kDir + "\\" + name, "x")) << name;
        ASSERT_TRUE(write_file(kDir + "\\h.txt", "x"));
        ASSERT_TRUE(SetFileAttributesA((kDir + "\\h.txt").c_str(),
                                       FILE_ATTRIBUTE_HIDDEN));
        // A directory that looks like a hit, with a hit inside: neither is listed.
        ASSERT_TRUE(CreateDirectoryA((kDir + "\\sub.txt").c_str(), nullptr));
        ASSERT_TRUE(write_file(kDir + "\\sub.txt\\inner.txt", "x"));
        // 表 as a directory: its trail byte 0x5C is no separator.
        ASSERT_TRUE(CreateDirectoryA((kDir + "\\\x95\x5C").c_str(), nullptr));
        ASSERT_TRUE(write_file(kDir + "\\\x95\x5C\\In.Txt", "x"));
    }
    static void TearDownTestSuite() { remove_tree(kDir); }
};

// The plain files of kDir whose names end in suffix, lowercased, in the order
// of an independent search.
std::vector<std::string> search_order(const std::string& suffix)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((kDir + "\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        std::string lower = name;
        CharLowerBuffA(&lower[0], static_cast<DWORD>(lower.size()));
        if (lower.size() >= suffix.size() &&
            lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(kPrefix + lower);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return names;
}

const std::vector<std::string> kTxtSorted = {
    kPrefix + "a.txt",  kPrefix + "b.txt",        kPrefix + "h.txt",
    kPrefix + "readme.txt", kPrefix + "\x83\x41.txt", kPrefix + "\x83\x5C.txt",
};

TEST_F(ListFilesOnDisk, ListsSortedLowercasedHits)
{
    // The same directory named in several ways gives the same names.
    for (const char* directory :
         {"scratch_listing", "SCRATCH_LISTING", "./scratch_listing", ".\\Scratch_Listing"}) {
        SCOPED_TRACE(directory);
        FileList list = make_list(directory, {".zip", ".TXT"}, 20, 1);
        ASSERT_EQ(list_files(&list), 0);
        EXPECT_EQ(list.count, 6);
        EXPECT_EQ(take_names(&list), kTxtSorted);
    }
}

TEST_F(ListFilesOnDisk, EmptyExtensionListsEveryPlainFile)
{
    FileList list = make_list(kDir, {""}, 20, 1);
    ASSERT_EQ(list_files(&list), 0);
    std::vector<std::string> expected = {
        kPrefix + "a.txt", kPrefix + "b.txt",      kPrefix + "data.bin",
        kPrefix + "h.txt", kPrefix + "noext",      kPrefix + "readme.txt",
        kPrefix + "\x83\x41.txt", kPrefix + "\x83\x5C.txt",
    };
    EXPECT_EQ(take_names(&list), expected);
}

TEST_F(ListFilesOnDisk, KeepsTheSearchOrderWithoutSort)
{
    const std::vector<std::string> order = search_order(".txt");
    ASSERT_EQ(order.size(), 6u);
    FileList list = make_list(kDir, {".txt"}, 20, 0);
    ASSERT_EQ(list_files(&list), 0);
    EXPECT_EQ(take_names(&list), order);

    // More hits than slots: the first ones the search gives.
    list = make_list(kDir, {".txt"}, 2, 0);
    ASSERT_EQ(list_files(&list), 0);
    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(take_names(&list), std::vector<std::string>(order.begin(), order.begin() + 2));
}

TEST_F(ListFilesOnDisk, DirectoryWithATrailByteBackslash)
{
    FileList list = make_list(kDir + "/\x95\x5C", {".txt"}, 4, 1);
    ASSERT_EQ(list_files(&list), 0);
    EXPECT_EQ(take_names(&list),
              std::vector<std::string>{kPrefix + "\x95\x5C\\in.txt"});
}

TEST_F(ListFilesOnDisk, AbsoluteDirectory)
{
    char full[MAX_PATH + 1];
    const DWORD n = GetFullPathNameA(kDir.c_str(), sizeof full, full, nullptr);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, sizeof full);
    std::string lower(full);
    CharLowerBuffA(&lower[0], static_cast<DWORD>(lower.size()));
    FileList list = make_list(full, {".bin"}, 4, 1);
    ASSERT_EQ(list_files(&list), 0);
    EXPECT_EQ(take_names(&list), std::vector<std::string>{lower + "\\data.bin"});
}

TEST_F(ListFilesOnDisk, MissingDirectoryAndZeroCapacity)
{
    FileList list = make_list(kDir + "\\missing", {""}, 3, 1);
    ASSERT_EQ(list_files(&list), 0);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(take_names(&list).size(), 0u);

    list = make_list(kDir, {""}, 0, 1);
    ASSERT_EQ(list_files(&list), 0);
    EXPECT_EQ(list.count, 0);
    EXPECT_NE(list.names, nullptr);
    free(list.names);
}

TEST_F(ListFilesOnDisk, ASecondCallLeavesTheFirstArrayToTheCaller)
{
    FileList list = make_list(kDir, {".bin"}, 2, 0);
    ASSERT_EQ(list_files(&list), 0);
    FileList first = list;
    ASSERT_EQ(list_files(&list), 0);
    EXPECT_NE(list.names, first.names);
    EXPECT_EQ(take_names(&first), std::vector<std::string>{kPrefix + "data.bin"});
    EXPECT_EQ(take_names(&list), std::vector<std::string>{kPrefix + "data.bin"});
}

} // namespace
