// The Windows edges of the path operations under the Japanese prefix: the
// C runtime's multibyte code page, the executable's own path, and folders
// created for real.
#include "text/text.h"
#include "tests/text/bytes.h"

#include <gtest/gtest.h>
#include <mbctype.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Scratch tree on the prefix's C: drive, removed before and after each test.
const char kScratch[] = "C:\\OrvexTextTest";

// "ソ表": both characters end in the trail byte 0x5C.
const char kTrailFolder[] = "\x83\x5C\x95\x5C";

void remove_tree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

// Names in folder, other than . and .., as the system reports them.
std::vector<std::string> entries_of(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

bool is_folder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ascii_lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    }
    return s;
}

class WindowsPathTest : public testing::Test {
protected:
    void SetUp() override {
        init_multibyte_code_page();
        remove_tree(kScratch);
    }
    void TearDown() override { remove_tree(kScratch); }
};

TEST_F(WindowsPathTest, StartUpCodePageIsShiftJis) {
    EXPECT_EQ(932u, GetACP());
    EXPECT_EQ(932u, init_multibyte_code_page());
    EXPECT_EQ(932, _getmbcp());
    EXPECT_EQ(932u, mbcp_code_page());
    for (int b = 0; b < 256; ++b) {
        const unsigned char u = static_cast<unsigned char>(b);
        EXPECT_EQ(sjis_is_lead(u), mbcp_is_lead(u)) << "byte " << b;
    }
}

TEST_F(WindowsPathTest, ModulePathsDescribeThisExecutable) {
    init_module_paths();
    char raw[PATH_BUFFER_BYTES] = {};
    const DWORD n = GetModuleFileNameA(nullptr, raw, PATH_BUFFER_BYTES);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, PATH_BUFFER_BYTES);
    const std::string path = raw;
    // The build tree's path is ASCII, so byte-wise lowering is an oracle.
    for (unsigned char c : path)
        ASSERT_LT(c, 0x80) << path;

    const std::string lower = ascii_lower(path);
    std::string instance = lower;
    for (char& c : instance) {
        if (c == '\\')
            c = ':';
    }
    EXPECT_EQ(lower, module_path);
    EXPECT_EQ(instance, module_instance_name);
    EXPECT_EQ(lower.substr(0, lower.rfind('\\') + 1), module_dir);
    const size_t dir_length = strlen(module_dir);
    ASSERT_GE(dir_length, 2u);
    EXPECT_NE('\\', module_dir[dir_length - 2]);
}

// The report program copied to a folder with upper-case letters and two
// characters whose trail byte is 0x5C, and run from there.
TEST_F(WindowsPathTest, ModulePathsOfACopyInAShiftJisFolder) {
    char own[PATH_BUFFER_BYTES] = {};
    const DWORD n = GetModuleFileNameA(nullptr, own, PATH_BUFFER_BYTES);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, PATH_BUFFER_BYTES);
    std::string report_program = own;
    report_program = report_program.substr(0, report_program.rfind('\\') + 1) +
                     "module_paths_report.exe";

    const std::string folder = std::string(kScratch) + "\\Upd\\" + kTrailFolder;
    ASSERT_TRUE(CreateDirectoryA(kScratch, nullptr));
    ASSERT_TRUE(CreateDirectoryA((std::string(kScratch) + "\\Upd").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string copy = folder + "\\Setup.EXE";
    ASSERT_TRUE(CopyFileA(report_program.c_str(), copy.c_str(), FALSE))
        << report_program << " error " << GetLastError();

    const std::string report = std::string(kScratch) + "\\report.txt";
    std::string command = "\"" + copy + "\" " + report;
    std::vector<char> command_line(command.begin(), command.end());
    command_line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(copy.c_str(), command_line.data(), nullptr, nullptr,
                               FALSE, 0, nullptr, kScratch, &startup, &process))
        << "error " << GetLastError();
    const DWORD waited = WaitForSingleObject(process.hProcess, 30000);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, waited);
    ASSERT_EQ(0u, exit_code);

    std::vector<std::string> lines;
    FILE* f = fopen(report.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    char line[1024];
    while (fgets(line, sizeof line, f) != nullptr) {
        std::string s = line;
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        lines.push_back(s);
    }
    fclose(f);
    ASSERT_EQ(5u, lines.size());

    const std::string expected_path =
        std::string("c:\\orvextexttest\\upd\\") + kTrailFolder + "\\setup.exe";
    EXPECT_EQ(hex(expected_path), hex(ascii_lower(lines[0])));
    EXPECT_EQ(hex(expected_path), hex(lines[1]));
    EXPECT_EQ(hex(std::string("c::orvextexttest:upd:") + kTrailFolder + ":setup.exe"),
              hex(lines[2]));
    EXPECT_EQ(hex(std::string("c:\\orvextexttest\\upd\\") + kTrailFolder + "\\"),
              hex(lines[3]));
    EXPECT_EQ("932", lines[4]);
}

TEST_F(WindowsPathTest, CreateDirectoriesMakesEveryFolderButTheFileName) {
    const std::string base = std::string(kScratch) + "\\cd";
    // Each folder needs its parent, so the innermost existing shows that they
    // were made outermost first.
    create_directories((base + "\\a\\b\\file.txt").c_str());
    EXPECT_TRUE(is_folder(kScratch));
    EXPECT_TRUE(is_folder(base + "\\a\\b"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((base + "\\a\\b\\file.txt").c_str()));
    EXPECT_TRUE(entries_of(base + "\\a\\b").empty());

    // Existing folders are passed over; a trailing backslash makes the last.
    create_directories((base + "\\a\\b\\c\\").c_str());
    EXPECT_TRUE(is_folder(base + "\\a\\b\\c"));
    EXPECT_EQ(std::vector<std::string>{"a"}, entries_of(base));
    EXPECT_EQ(std::vector<std::string>{"b"}, entries_of(base + "\\a"));
}

TEST_F(WindowsPathTest, CreateDirectoriesMakesNoFolderAtATrailByte) {
    const std::string base = std::string(kScratch) + "\\cd";
    create_directories((base + "\\" + kTrailFolder + "\\x\\name.txt").c_str());
    EXPECT_TRUE(is_folder(base + "\\" + kTrailFolder + "\\x"));
    // A split at either 0x5C would have left a folder "\x83" or "\x83\x5C\x95".
    const std::vector<std::string> made = entries_of(base);
    ASSERT_EQ(1u, made.size());
    EXPECT_EQ(hex(kTrailFolder), hex(made[0]));
}

TEST_F(WindowsPathTest, CreateDirectoriesRefusesAPathBeyondMaxPath) {
    const std::string too_long =
        std::string(kScratch) + "\\" + std::string(PATH_MAX_BYTES, 'x') + "\\f";
    create_directories(too_long.c_str());
    EXPECT_FALSE(is_folder(kScratch));
}

}  // namespace
