// Path and heap-string operations, under the Shift-JIS code page and under a
// single-byte one: the byte 0x5C after 0x83 is a trail byte under the first
// and a backslash of its own under the second.
#include "text/path_seam.h"
#include "text/text.h"
#include "tests/text/bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum CodePage { CP932, CP1252 };

void select_code_page(CodePage cp) {
    if (cp == CP932)
        mbcp_select_shift_jis();
    else
        mbcp_select_single_byte(1252);
}

const char* name_of(CodePage cp) {
    return cp == CP932 ? "932" : "1252";
}

// Leaves the code page as the system described it for the tests after.
class PathTest : public testing::Test {
protected:
    void SetUp() override {
        saved_code_page_ = mbcp_code_page();
        for (int b = 0; b < 256; ++b)
            saved_lead_[b] = mbcp_is_lead(static_cast<unsigned char>(b)) ? 1 : 0;
    }
    void TearDown() override { mbcp_set(saved_code_page_, saved_lead_); }

private:
    unsigned int saved_code_page_ = 0;
    unsigned char saved_lead_[256] = {};
};

TEST(EndsWithNocase, FoldsAsciiLettersOnly) {
    const struct {
        const char* str;
        const char* suffix;
        unsigned char expected;
    } cases[] = {
        {"README.TXT", ".txt", 1},
        {"readme.txt", ".TXT", 1},
        {"readme.txt", "README.TXT", 1},
        {"txt", ".txt", 0},          // suffix longer than the string
        {"readme.txt", ".tx", 0},
        {"readme.txt", "", 1},
        {"", "", 1},
        {"", "a", 0},
        {"\x83\x5C", "\\", 1},       // byte-wise: a trail byte may match
        {"\x82\x60", "\x82\x81", 0}, // full-width A and a are not folded
        {"x\xC1", "\xE1", 0},        // nor are bytes above 0x7F
        {"@", "`", 0},               // 0x40/0x60 and 0x5B/0x7B lie just
        {"[", "{", 0},               // outside the letters
        {"AZ", "az", 1},
        {"file.txt", "file.txT", 1},
        {"afile.txt", "bfile.txt", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(hex(c.str) + "/ " + hex(c.suffix));
        EXPECT_EQ(c.expected, ends_with_nocase(c.str, c.suffix));
    }
}

TEST_F(PathTest, FileNameIsTheNameAfterTheLastSingleByteSeparator) {
    const struct {
        const char* path;
        int result;
        const char* name;
    } cases[] = {
        {"c:\\dir\\file.txt", 1, "file.txt"},
        {"c:/dir/file", 1, "file"},
        {"c:\\dir/sub\\file", 1, "file"},
        {"c:\\dir\\", 0, ""},
        {"file.txt", 0, ""},
        {"", 0, ""},
        {"\\", 0, ""},
        {"\\x", 1, "x"},
        // 0x83 0x5C ends no component: the name reaches back to the backslash.
        {"c:\\d\x83\x5Cname", 1, "d\x83\x5Cname"},
        {"c:\\dir\\\x83\x5C", 1, "\x83\x5C"},
        {"c:\\dir\x95\x5C", 1, "dir\x95\x5C"},
        {"\x83\x5C", 0, ""},
        // Half-width katakana are single bytes; the backslash after one counts.
        {"\xB1\\x", 1, "x"},
        // A lone lead byte at the end is part of the name.
        {"c:\\a\x82", 1, "a\x82"},
    };
    // The fixed Shift-JIS rule holds whatever the process's code page is.
    for (CodePage cp : {CP932, CP1252}) {
        select_code_page(cp);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string("cp ") + name_of(cp) + ": " + hex(c.path));
            char out[PATH_BUFFER_BYTES];
            memset(out, 0xBD, sizeof out);
            EXPECT_EQ(c.result, path_file_name(out, c.path));
            EXPECT_EQ(hex(c.name), hex(out));
        }
    }
}

TEST(PathFileName, RefusesANameLongerThanItsBuffer) {
    char out[PATH_BUFFER_BYTES + 8];
    memset(out, 0xBD, sizeof out);
    const std::string fits = "c:\\" + std::string(PATH_MAX_BYTES, 'n');
    EXPECT_EQ(1, path_file_name(out, fits.c_str()));
    EXPECT_EQ(fits.substr(3), out);

    memset(out, 0xBD, sizeof out);
    const std::string too_long = "c:\\" + std::string(PATH_MAX_BYTES + 1, 'n');
    EXPECT_EQ(0, path_file_name(out, too_long.c_str()));
    EXPECT_EQ(0, out[0]);
    for (size_t k = 1; k < sizeof out; ++k)
        ASSERT_EQ(static_cast<char>(0xBD), out[k]) << "byte " << k;
}

struct SplitCase {
    CodePage cp;
    const char* path;
    const char* drive;
    const char* directory;
    const char* extension;
};

const SplitCase kSplit[] = {
    {CP932, "c:\\dir.d\\file", "c:", "\\dir.d\\", ""},
    {CP932, "c:\\a\\archive.tar.gz", "c:", "\\a\\", ".gz"},
    {CP932, "c:\\home\\.profile", "c:", "\\home\\", ".profile"},
    {CP932, ".profile", "", "", ".profile"},
    {CP932, "file", "", "", ""},
    {CP932, "", "", "", ""},
    {CP932, "c:", "c:", "", ""},
    {CP932, "c:file.txt", "c:", "", ".txt"},
    {CP932, "c:/a/b.c", "c:", "/a/", ".c"},
    {CP932, "\\\\server\\share\\f.x", "", "\\\\server\\share\\", ".x"},
    {CP932, "a.b\\", "", "a.b\\", ""},
    {CP932, "dir\\name.", "", "dir\\", "."},
    {CP932, "x:", "x:", "", ""},
    {CP932, ":a", "", "", ""},
    // A trail byte 0x5C is no separator under 932; under 1252 it is one.
    {CP932, "c:\\a.\x83\x5C" "b", "c:", "\\", ".\x83\x5C" "b"},
    {CP1252, "c:\\a.\x83\x5C" "b", "c:", "\\a.\x83\\", ""},
    {CP932, "c:\\\x95\x5C\\f.txt", "c:", "\\\x95\x5C\\", ".txt"},
    {CP1252, "c:\\\x95\x5C\\f.txt", "c:", "\\\x95\\\\", ".txt"},
    // The byte after a lead byte is passed over with it, whatever it is.
    {CP932, "x\x83.txt", "", "", ""},
    {CP1252, "x\x83.txt", "", "", ".txt"},
    // A lone lead byte at the end stays in the extension.
    {CP932, "c:\\a.b\x83", "c:", "\\", ".b\x83"},
    // Half-width katakana are single bytes under both.
    {CP932, "\xB1\\\xB2.\xB3", "", "\xB1\\", ".\xB3"},
};

TEST_F(PathTest, SplitPathFindsDriveDirectoryAndExtension) {
    for (const SplitCase& c : kSplit) {
        SCOPED_TRACE(std::string("cp ") + name_of(c.cp) + ": " + hex(c.path));
        select_code_page(c.cp);
        char drive[SPLIT_DRIVE_BYTES + 4];
        char directory[SPLIT_PART_BYTES + 4];
        char extension[SPLIT_PART_BYTES + 4];
        memset(drive, 0xBD, sizeof drive);
        memset(directory, 0xBD, sizeof directory);
        memset(extension, 0xBD, sizeof extension);
        split_path(c.path, drive, directory, extension);
        EXPECT_EQ(hex(c.drive), hex(drive));
        EXPECT_EQ(hex(c.directory), hex(directory));
        EXPECT_EQ(hex(c.extension), hex(extension));

        char ext[SPLIT_PART_BYTES];
        memset(ext, 0xBD, sizeof ext);
        EXPECT_EQ(1, path_extension(ext, c.path));
        EXPECT_EQ(hex(c.extension), hex(ext));
    }
}

TEST_F(PathTest, SplitPathProducesOnlyTheOutputsAskedFor) {
    mbcp_select_shift_jis();
    EXPECT_EQ(0, path_extension(nullptr, "c:\\a\\b.txt"));
    split_path("c:\\a\\b.txt", nullptr, nullptr, nullptr);

    char directory[SPLIT_PART_BYTES];
    memset(directory, 0xBD, sizeof directory);
    split_path("c:\\a\\b.txt", nullptr, directory, nullptr);
    EXPECT_STREQ("\\a\\", directory);

    char drive[SPLIT_DRIVE_BYTES];
    split_path("c:\\a\\b.txt", drive, nullptr, nullptr);
    EXPECT_STREQ("c:", drive);
}

// A directory or extension longer than 255 bytes is cut there; a double-byte
// character across the cut is left out whole, and nothing is written past the
// 256-byte output.
TEST_F(PathTest, SplitPathCutsLongPartsAtACharacterBoundary) {
    const size_t limit = SPLIT_PART_BYTES - 1;
    const std::string long_dir = "\\" + std::string(300, 'd') + "\\";
    const std::string dir_dbcs_at_cut = "\\" + std::string(limit - 2, 'd') + "\x82\xA0\\";
    const std::string ext_dbcs_at_cut = "." + std::string(limit - 2, 'e') + "\x82\xA0";
    const struct {
        CodePage cp;
        std::string path;
        std::string directory;
        std::string extension;
    } cases[] = {
        {CP932, long_dir + "f.x", long_dir.substr(0, limit), ".x"},
        {CP932, dir_dbcs_at_cut + "f", dir_dbcs_at_cut.substr(0, limit - 1), ""},
        {CP1252, dir_dbcs_at_cut + "f", dir_dbcs_at_cut.substr(0, limit), ""},
        {CP932, "c:\\" + ext_dbcs_at_cut, "\\", ext_dbcs_at_cut.substr(0, limit - 1)},
        {CP1252, "c:\\" + ext_dbcs_at_cut, "\\", ext_dbcs_at_cut.substr(0, limit)},
        {CP932, "c:\\f." + std::string(400, 'e'), "\\", "." + std::string(limit - 1, 'e')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("cp ") + name_of(c.cp) + ": " + hex(c.path));
        select_code_page(c.cp);
        char directory[SPLIT_PART_BYTES + 8];
        char extension[SPLIT_PART_BYTES + 8];
        memset(directory, 0xBD, sizeof directory);
        memset(extension, 0xBD, sizeof extension);
        split_path(c.path.c_str(), nullptr, directory, extension);
        EXPECT_EQ(hex(c.directory), hex(directory));
        EXPECT_EQ(hex(c.extension), hex(extension));
        for (size_t k = SPLIT_PART_BYTES; k < sizeof directory; ++k) {
            ASSERT_EQ(static_cast<char>(0xBD), directory[k]) << "byte " << k;
            ASSERT_EQ(static_cast<char>(0xBD), extension[k]) << "byte " << k;
        }
    }
}

void record_directory(const char* directory, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(directory);
}

std::vector<std::string> requested_directories(const std::string& path) {
    std::vector<std::string> requested;
    create_directories_with(path.c_str(), record_directory, &requested);
    return requested;
}

std::string joined_hex(const std::vector<std::string>& v) {
    std::string r;
    for (const std::string& s : v)
        r += "[" + hex(s) + "]";
    return r;
}

TEST_F(PathTest, CreateDirectoriesRequestsEachFolderOutermostFirst) {
    const std::string at_limit = "c:\\" + std::string(PATH_MAX_BYTES - 5, 'a') + "\\b";
    const struct {
        CodePage cp;
        std::string path;
        std::vector<std::string> requested;
    } cases[] = {
        {CP932, "c:\\a\\b\\c.txt", {"c:", "c:\\a", "c:\\a\\b"}},
        {CP932, "c:\\a\\b\\", {"c:", "c:\\a", "c:\\a\\b"}},
        {CP932, "c:\\a\\\\b", {"c:", "c:\\a", "c:\\a\\"}},
        {CP932, "abc", {}},
        {CP932, "c:/a/b/c", {}},
        {CP932, "", {}},
        {CP932, "\\a\\b", {"", "\\a"}},
        {CP932, "\\\\srv\\share\\x", {"", "\\", "\\\\srv", "\\\\srv\\share"}},
        // The trail byte 0x5C of 0x83 0x5C creates nothing under 932.
        {CP932, "c:\\\x83\x5C\\x", {"c:", "c:\\\x83\x5C"}},
        {CP1252, "c:\\\x83\x5C\\x", {"c:", "c:\\\x83", "c:\\\x83\\"}},
        {CP932, "c:\\\x83\x5C", {"c:"}},
        {CP1252, "c:\\\x83\x5C", {"c:", "c:\\\x83"}},
        {CP932, "c:\\\x95\x5C\x95\x5C\\", {"c:", "c:\\\x95\x5C\x95\x5C"}},
        {CP932, "\xB1\\x", {"\xB1"}},
        {CP932, at_limit, {"c:", at_limit.substr(0, at_limit.size() - 2)}},
        // Longer than MAX_PATH: nothing at all, not a cut path.
        {CP932, at_limit + "c", {}},
        {CP932, "c:\\" + std::string(400, 'a') + "\\b", {}},
    };
    EXPECT_EQ(PATH_MAX_BYTES, at_limit.size());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("cp ") + name_of(c.cp) + ": " + hex(c.path));
        select_code_page(c.cp);
        EXPECT_EQ(joined_hex(c.requested), joined_hex(requested_directories(c.path)));
    }
}

TEST_F(PathTest, CodePageDescriptionClassifiesBytes) {
    mbcp_select_shift_jis();
    EXPECT_EQ(932u, mbcp_code_page());
    EXPECT_TRUE(mbcp_is_described());
    for (int b = 0; b < 256; ++b) {
        const unsigned char u = static_cast<unsigned char>(b);
        EXPECT_EQ(sjis_is_lead(u), mbcp_is_lead(u)) << b;
    }
    EXPECT_EQ(2u, mbcp_char_length("\x83\x5C"));
    EXPECT_EQ(1u, mbcp_char_length("\x83"));
    EXPECT_EQ(1u, mbcp_char_length("\xB1\x5C"));

    mbcp_select_single_byte(1252);
    EXPECT_EQ(1252u, mbcp_code_page());
    for (int b = 0; b < 256; ++b)
        EXPECT_FALSE(mbcp_is_lead(static_cast<unsigned char>(b))) << b;
    EXPECT_EQ(1u, mbcp_char_length("\x83\x5C"));

    // A description that marks the terminator as a lead byte cannot make a
    // walk step over it.
    unsigned char all[256];
    memset(all, 1, sizeof all);
    mbcp_set(65001, all);
    EXPECT_FALSE(mbcp_is_lead(0));
    EXPECT_EQ(1u, mbcp_char_length("\x41"));
    EXPECT_EQ(2u, mbcp_char_length("\x41\x41"));
}

// ---- assign_string, over a heap that records block sizes and can fail ----

struct HeapLog {
    std::vector<size_t> allocated;
    std::vector<void*> released;
    bool fail = false;
};
HeapLog heap_log;

void* logged_allocate(size_t size) {
    if (heap_log.fail)
        return nullptr;
    heap_log.allocated.push_back(size);
    return malloc(size);
}

void logged_release(void* block) {
    heap_log.released.push_back(block);
    free(block);
}

class AssignStringTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = string_heap;
        string_heap = {logged_allocate, logged_release};
        heap_log = HeapLog();
    }
    void TearDown() override {
        free(slot_);
        string_heap = saved_;
    }
    // Starts the slot with text in a block of exactly its length plus one.
    void start_with(const char* text) {
        slot_ = static_cast<char*>(malloc(strlen(text) + 1));
        memcpy(slot_, text, strlen(text) + 1);
    }
    char* slot_ = nullptr;

private:
    StringHeap saved_ = {};
};

TEST_F(AssignStringTest, NullIntoNullLeavesTheSlotNull) {
    assign_string(&slot_, nullptr);
    EXPECT_EQ(nullptr, slot_);
    EXPECT_TRUE(heap_log.allocated.empty());
}

TEST_F(AssignStringTest, NullEmptiesTheStringAndKeepsItsBlock) {
    start_with("abc");
    char* const block = slot_;
    assign_string(&slot_, nullptr);
    EXPECT_EQ(block, slot_);
    EXPECT_EQ(0, slot_[0]);
    EXPECT_TRUE(heap_log.allocated.empty());
}

TEST_F(AssignStringTest, FirstStringGetsABlockOfItsLengthPlusOne) {
    assign_string(&slot_, "velk.exe");
    ASSERT_NE(nullptr, slot_);
    EXPECT_STREQ("velk.exe", slot_);
    EXPECT_EQ(std::vector<size_t>{9}, heap_log.allocated);
}

TEST_F(AssignStringTest, EmptyStringIntoNullGetsOneByte) {
    assign_string(&slot_, "");
    ASSERT_NE(nullptr, slot_);
    EXPECT_EQ(0, slot_[0]);
    EXPECT_EQ(std::vector<size_t>{1}, heap_log.allocated);
}

TEST_F(AssignStringTest, ShorterOrEqualStringReusesTheBlock) {
    start_with("abcdef");
    char* const block = slot_;
    assign_string(&slot_, "xy");
    EXPECT_EQ(block, slot_);
    EXPECT_STREQ("xy", slot_);
    assign_string(&slot_, "uv");
    EXPECT_EQ(block, slot_);
    EXPECT_STREQ("uv", slot_);
    EXPECT_TRUE(heap_log.allocated.empty());
}

TEST_F(AssignStringTest, LongerStringGetsABlockOfExactlyItsLengthPlusOne) {
    start_with("ab");
    char* const old = slot_;
    assign_string(&slot_, "\x83\x5C\x95\x5Cwxyz");
    EXPECT_STREQ("\x83\x5C\x95\x5Cwxyz", slot_);
    EXPECT_EQ(std::vector<size_t>{9}, heap_log.allocated);
    EXPECT_EQ(std::vector<void*>{old}, heap_log.released);
}

// The string's length stands for the capacity: once emptied, even a large
// block takes a new one for the next non-empty string.
TEST_F(AssignStringTest, EmptiedBlockIsReplacedByTheNextNonEmptyString) {
    start_with("a long string");
    assign_string(&slot_, nullptr);
    assign_string(&slot_, "a");
    EXPECT_STREQ("a", slot_);
    EXPECT_EQ(std::vector<size_t>{2}, heap_log.allocated);
}

TEST_F(AssignStringTest, OwnStringOrATailOfItStays) {
    start_with("c:\\games\\velk.exe");
    char* const block = slot_;
    assign_string(&slot_, slot_);
    EXPECT_STREQ("c:\\games\\velk.exe", slot_);
    assign_string(&slot_, slot_ + 9);
    EXPECT_STREQ("velk.exe", slot_);
    EXPECT_EQ(block, slot_);
    EXPECT_TRUE(heap_log.allocated.empty());
}

// Bytes beyond the terminator of an emptied string are still the holder's;
// copying them into a longer string must read them before the block goes.
TEST_F(AssignStringTest, SourceInsideTheOldBlockIsReadBeforeTheBlockIsReleased) {
    start_with("abcdef");
    assign_string(&slot_, nullptr);
    assign_string(&slot_, slot_ + 1);
    EXPECT_STREQ("bcdef", slot_);
}

TEST_F(AssignStringTest, FailedAllocationKeepsTheBlockAndLeavesTheEmptyString) {
    heap_log.fail = true;
    assign_string(&slot_, "abc");
    EXPECT_EQ(nullptr, slot_);

    start_with("ab");
    char* const block = slot_;
    assign_string(&slot_, "longer");
    EXPECT_EQ(block, slot_);
    EXPECT_STREQ("", slot_);
    EXPECT_TRUE(heap_log.released.empty());
}

// ---- module strings from a given executable path ----

struct ModuleCase {
    CodePage cp;
    const char* executable;
    const char* path;
    const char* instance;
    const char* dir;
};

const ModuleCase kModule[] = {
    {CP932, "C:\\Games\\Upd\\Setup.exe", "c:\\games\\upd\\setup.exe",
     "c::games:upd:setup.exe", "c:\\games\\upd\\"},
    {CP932, "C:/Games/Upd/Setup.exe", "c:/games/upd/setup.exe",
     "c:/games/upd/setup.exe", "c:\\games\\upd\\"},
    {CP932, "C:\\\x83\x5C\\Setup.EXE", "c:\\\x83\x5C\\setup.exe",
     "c::\x83\x5C:setup.exe", "c:\\\x83\x5C\\"},
    {CP932, "C:\\Games\\\x95\x5CSETUP.EXE", "c:\\games\\\x95\x5Csetup.exe",
     "c::games:\x95\x5Csetup.exe", "c:\\games\\"},
    {CP932, "D:\\\x82\x60\xB1\\A.EXE", "d:\\\x82\x60\xB1\\a.exe",
     "d::\x82\x60\xB1:a.exe", "d:\\\x82\x60\xB1\\"},
    {CP932, "C:Setup.exe", "c:setup.exe", "c:setup.exe", "c:\\"},
    {CP932, "\\\\Server\\Share\\Setup.exe", "\\\\server\\share\\setup.exe",
     "::server:share:setup.exe", "\\\\server\\share\\"},
};

TEST_F(PathTest, ModulePathsFollowTheExecutablePath) {
    for (const ModuleCase& c : kModule) {
        SCOPED_TRACE(std::string("cp ") + name_of(c.cp) + ": " + hex(c.executable));
        select_code_page(c.cp);
        init_module_paths_from(c.executable);
        EXPECT_EQ(hex(c.path), hex(module_path));
        EXPECT_EQ(hex(c.instance), hex(module_instance_name));
        EXPECT_EQ(hex(c.dir), hex(module_dir));
    }
}

TEST_F(PathTest, ModulePathsAreEmptyRatherThanCut) {
    mbcp_select_shift_jis();
    // Exactly MAX_PATH bytes, with a directory longer than split_path's
    // 255-byte outputs: module_dir holds it whole.
    const std::string dir = "c:\\" + std::string(PATH_MAX_BYTES - 6, 'd') + "\\";
    const std::string at_limit = dir + "ab";
    ASSERT_EQ(PATH_MAX_BYTES, at_limit.size());
    init_module_paths_from(at_limit.c_str());
    EXPECT_EQ(at_limit, module_path);
    EXPECT_EQ(dir, module_dir);

    for (const std::string& refused : {at_limit + "x", std::string()}) {
        SCOPED_TRACE(refused.size());
        init_module_paths_from("C:\\Games\\Setup.exe");
        init_module_paths_from(refused.c_str());
        EXPECT_STREQ("", module_path);
        EXPECT_STREQ("", module_instance_name);
        EXPECT_STREQ("", module_dir);
    }
}

}  // namespace
