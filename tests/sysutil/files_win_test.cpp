// File queries on real files and directories in a scratch folder: sizes in
// both widths, files and directories, patterns (decided by the first entry of
// a search, or taken literally), attributes, and Shift-JIS names.
#include "sysutil/sysutil.h"
#include "tests/sysutil/scratch_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

const std::string kDir = "scratch_files";

class FileQueries : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        make_scratch(kDir);
        ASSERT_TRUE(write_file(kDir + "\\empty.bin", ""));
        ASSERT_TRUE(write_file(kDir + "\\five.dat", "12345"));
        ASSERT_TRUE(CreateDirectoryA((kDir + "\\sub").c_str(), nullptr));
        // ソ.bin: the trail byte of 0x83 0x5C is a backslash.
        ASSERT_TRUE(write_file(kDir + "\\\x83\x5C.bin", "abc"));
        // 表 as a directory name, trail byte 0x5C as well.
        ASSERT_TRUE(CreateDirectoryA((kDir + "\\\x95\x5C").c_str(), nullptr));
        ASSERT_TRUE(write_file(kDir + "\\readonly.txt", "ro"));
        ASSERT_TRUE(SetFileAttributesA((kDir + "\\readonly.txt").c_str(),
                                       FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(write_file(kDir + "\\hidden.txt", "hid"));
        ASSERT_TRUE(SetFileAttributesA((kDir + "\\hidden.txt").c_str(),
                                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    }
    static void TearDownTestSuite() { remove_tree(kDir); }
};

TEST_F(FileQueries, AnswerForEachKindOfEntry)
{
    struct Case {
        std::string path;
        uint32_t size;
        int64_t size64;
        unsigned char file;
        unsigned char directory;
    };
    const Case cases[] = {
        {kDir + "\\empty.bin", 0, 0, 1, 0},
        {kDir + "\\five.dat", 5, 5, 1, 0},
        {kDir + "\\FIVE.DAT", 5, 5, 1, 0},
        {kDir + "/five.dat", 5, 5, 1, 0},
        {kDir + "\\\x83\x5C.bin", 3, 3, 1, 0},
        {kDir + "\\readonly.txt", 2, 2, 1, 0},
        {kDir + "\\hidden.txt", 3, 3, 1, 0},
        {kDir + "\\sub", 0, -1, 0, 1},
        {kDir + "\\\x95\x5C", 0, -1, 0, 1},
        {kDir, 0, -1, 0, 1},
        // A trailing backslash, as module_dir has: the search finds nothing.
        {kDir + "\\sub\\", 0, -1, 0, 1},
        // Missing entries: get_file_size has no entry to read and gives 0.
        {kDir + "\\missing.bin", 0, -1, 0, 0},
        {kDir + "\\nodir\\missing.bin", 0, -1, 0, 0},
        {"", 0, -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(get_file_size(c.path.c_str()), c.size);
        EXPECT_EQ(get_file_size64(c.path.c_str()), c.size64);
        EXPECT_EQ(is_file(c.path.c_str()), c.file);
        EXPECT_EQ(is_directory(c.path.c_str()), c.directory);
    }
}

TEST_F(FileQueries, PatternsAreSearchedOrTakenLiterally)
{
    struct Case {
        std::string pattern;
        uint32_t size;
        unsigned char directory;
    };
    // Each pattern matches one entry: the search answers for it, while the
    // attribute queries look for an entry named by the pattern itself.
    const Case cases[] = {
        {kDir + "\\fiv*", 5, 0},
        {kDir + "\\five.???", 5, 0},
        {kDir + "\\*.bin", 3, 0},
        {kDir + "\\su?", 0, 1},
        {kDir + "\\*.none", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        if (c.pattern.find("*.bin") != std::string::npos) {
            // Two entries match; whichever the search gives first decides.
            WIN32_FIND_DATAA first;
            HANDLE search = FindFirstFileA(c.pattern.c_str(), &first);
            ASSERT_NE(search, INVALID_HANDLE_VALUE);
            FindClose(search);
            EXPECT_EQ(get_file_size(c.pattern.c_str()), first.nFileSizeLow);
        } else {
            EXPECT_EQ(get_file_size(c.pattern.c_str()), c.size);
        }
        EXPECT_EQ(is_directory(c.pattern.c_str()), c.directory);
        EXPECT_EQ(is_file(c.pattern.c_str()), 0);
        EXPECT_EQ(get_file_size64(c.pattern.c_str()), -1);
    }
}

TEST_F(FileQueries, SizesBeyondFourGibibytes)
{
    // A sparse file: Wine maps SetEndOfFile to ftruncate, so no data is
    // written.
    const std::string path = kDir + "\\big.bin";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = (int64_t{1} << 32) + 5;
    const BOOL moved = SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    const BOOL sized = moved && SetEndOfFile(file);
    CloseHandle(file);
    ASSERT_TRUE(sized) << GetLastError();

    EXPECT_EQ(get_file_size64(path.c_str()), (int64_t{1} << 32) + 5);
    EXPECT_EQ(get_file_size(path.c_str()), 5u);
    EXPECT_EQ(is_file(path.c_str()), 1);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

} // namespace
