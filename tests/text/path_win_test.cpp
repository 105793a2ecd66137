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

// Copies the report program to folder\\name (making every folder below the
// scratch tree), runs it there and returns the lines it wrote, or nothing.
std::vector<std::string> report_from_copy(const std::string& folder, const char* name) {
    std::vector<std::string> lines;
    char own[PATH_BUFFER_BYTES] = {};
    const DWORD n = GetModuleFileNameA(nullptr, own, PATH_BUFFER_BYTES);
    EXPECT_TRUE(n > 0 && n < PATH_BUFFER_BYTES);
    std::string report_program = own;
    report_program = report_program.substr(0, report_program.rfind('\\') + 1) +
                     "module_paths_report.exe";

    for (size_t at = strlen(kScratch); at != std::string::npos;
         at = folder.find('\\', at + 1)) {
        CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string copy = folder + "\\" + name;
    if (!CopyFileA(report_program.c_str(), copy.c_str(), FALSE)) {
        ADD_FAILURE() << report_program << " to " << hex(copy) << ": error " << GetLastError();
        return lines;
    }

    const std::string report = std::string(kScratch) + "\\report.txt";
    std::string command = "\"" + copy + "\" " + report;
    std::vector<char> command_line(command.begin(), command.end());
    command_line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(copy.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, kScratch, &startup, &process)) {
        ADD_FAILURE() << hex(copy) << ": error " << GetLastError();
        return lines;
    }
    const DWORD waited = WaitForSingleObject(process.hProcess, 30000);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(WAIT_OBJECT_0, waited);
    EXPECT_EQ(0u, exit_code);

    FILE* f = fopen(report.c_str(), "rb");
    if (f == nullptr) {
        ADD_FAILURE() << "no report";
        return lines;
    }
    char line[1024];
    while (fgets(line, sizeof line, f) != nullptr) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        lines.push_back(text);
    }
    fclose(f);
    return lines;
}

enum ReportLine { RAW_PATH, RAW_LENGTH, PATH, INSTANCE, DIR, CODE_PAGE, REPORT_LINES };

// A copy in a folder with upper-case letters and two characters whose trail
// byte is 0x5C.
TEST_F(WindowsPathTest, ModulePathsOfACopyInAShiftJisFolder) {
    const std::vector<std::string> lines =
        report_from_copy(std::string(kScratch) + "\\Upd\\" + kTrailFolder, "Setup.EXE");
    ASSERT_EQ(size_t{REPORT_LINES}, lines.size());

    const std::string expected_path =
        std::string("c:\\orvextexttest\\upd\\") + kTrailFolder + "\\setup.exe";
    EXPECT_EQ(hex(expected_path), hex(ascii_lower(lines[RAW_PATH])));
    EXPECT_EQ(hex(expected_path), hex(lines[PATH]));
    EXPECT_EQ(hex(std::string("c::orvextexttest:upd:") + kTrailFolder + ":setup.exe"),
              hex(lines[INSTANCE]));
    EXPECT_EQ(hex(std::string("c:\\orvextexttest\\upd\\") + kTrailFolder + "\\"),
              hex(lines[DIR]));
    EXPECT_EQ("932", lines[CODE_PAGE]);
}

// A path of fewer than MAX_PATH characters can take more than MAX_PATH bytes
// in Shift-JIS: the system then gives no whole path, and the module strings
// stay empty rather than hold a cut one.
TEST_F(WindowsPathTest, ModulePathsStayEmptyWhenThePathDoesNotFit) {
    std::string wide_folder;
    for (int i = 0; i < 60; ++i)
        wide_folder += "\x82\xA0";  // あ: one character, two bytes
    const std::string folder =
        std::string(kScratch) + "\\" + wide_folder + "\\" + wide_folder;
    const std::vector<std::string> lines = report_from_copy(folder, "Setup.exe");
    ASSERT_EQ(size_t{REPORT_LINES}, lines.size());
    ASSERT_GT(folder.size() + strlen("\\Setup.exe"), PATH_MAX_BYTES);
    // The system cut the path to the buffer and said so by the buffer's size.
    ASSERT_EQ(std::to_string(PATH_BUFFER_BYTES), lines[RAW_LENGTH]);
    EXPECT_EQ("", lines[PATH]);
    EXPECT_EQ("", lines[INSTANCE]);
    EXPECT_EQ("", lines[DIR]);
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
