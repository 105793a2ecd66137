// Shell shortcuts saved for real and read back by the shell-link object's own
// getters and by the file's header. The links of ShortcutFile are left in
// .\lnk below the current directory, where a second test reads them with an
// independent reader (check_shortcuts.py, lnkinfo).
#include "sysutil/sysutil.h"

#include "tests/text/bytes.h"
#include "text/path_seam.h"
#include "text/text.h"

#include <mbctype.h>
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

const char TITLE_TARGET[] = "C:\\Games\\Title\\game.exe";

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_directory(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string current_directory()
{
    char buffer[MAX_PATH + 1];
    const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

// What a saved link holds, as the shell-link object reads it back.
struct LinkContent {
    bool loaded;
    std::string path;
    std::string arguments;
    std::string working_directory;
    int show_command;       // from the file's header
    bool has_arguments;     // the header's HasArguments flag
};

std::string read_header(const std::string& link_path)
{
    std::string header;
    FILE* file = std::fopen(link_path.c_str(), "rb");
    if (file != nullptr) {
        char bytes[0x4C];
        header.assign(bytes, std::fread(bytes, 1, sizeof bytes, file));
        std::fclose(file);
    }
    return header;
}

uint32_t header_u32(const std::string& header, size_t offset)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(static_cast<unsigned char>(header[offset + i])) << (8 * i);
    }
    return value;
}

LinkContent load_link(const std::string& link_path)
{
    LinkContent content{false, "", "", "", -1, false};
    wchar_t wide[MAX_PATH + 1];
    if (MultiByteToWideChar(CP_ACP, 0, link_path.c_str(), -1, wide, MAX_PATH + 1) == 0) {
        return content;
    }
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    if (CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                         reinterpret_cast<void**>(&link)) == S_OK) {
        if (link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) == S_OK) {
            if (file->Load(wide, STGM_READ) == S_OK) {
                char text[MAX_PATH * 2];
                content.loaded = true;
                if (link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH) == S_OK) {
                    content.path = text;
                }
                if (link->GetArguments(text, sizeof text) == S_OK) {
                    content.arguments = text;
                }
                if (link->GetWorkingDirectory(text, sizeof text) == S_OK) {
                    content.working_directory = text;
                }
            }
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();

    const std::string header = read_header(link_path);
    if (header.size() == 0x4C) {
        constexpr uint32_t HAS_ARGUMENTS = 0x20;
        content.has_arguments = (header_u32(header, 0x14) & HAS_ARGUMENTS) != 0;
        content.show_command = static_cast<int>(header_u32(header, 0x3C));
    }
    return content;
}

class ShortcutFile : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        init_multibyte_code_page();
        directory_ = current_directory() + "\\lnk";
        CreateDirectoryA(directory_.c_str(), nullptr);
    }

    static std::string link(const char* name) { return directory_ + "\\" + name + ".lnk"; }

    static std::string directory_;
};

std::string ShortcutFile::directory_;

struct LinkCase {
    const char* name;
    const char* target;
    const char* arguments;  // null: none given
    int32_t show_command;
    int32_t mode;
    const char* working_directory;
    int multibyte_code_page = _MB_CP_ANSI;  // the runtime's, described by nothing
};

// Every link of this table is read again by check_shortcuts.py with lnkinfo:
// keep the two in step.
const LinkCase LINK_CASES[] = {
    {"normal", TITLE_TARGET, nullptr, SW_SHOWNORMAL, 0, "C:\\Games\\Title"},
    {"drive_root", "C:\\game.exe", nullptr, SW_SHOWNORMAL, 0, "C:"},
    {"bare_name", "game.exe", nullptr, SW_SHOWNORMAL, 0, ""},
    {"forward_slashes", "C:/Games/Title/game.exe", nullptr, SW_SHOWNORMAL, 0, "C:\\Games\\Title"},
    {"mixed_slashes", "C:\\Games/Title/game.exe", nullptr, SW_SHOWNORMAL, 0, "C:\\Games\\Title"},
    // ソ is 0x83 0x5C: its trail byte stays, only the separator after it goes.
    {"trail_byte_5c", "C:\\\x83\x5C\\game.exe", nullptr, SW_SHOWNORMAL, 0, "C:\\\x83\x5C"},
    {"mode_one", TITLE_TARGET, nullptr, SW_SHOWNORMAL, 1, ""},
    {"mode_positive", TITLE_TARGET, nullptr, SW_SHOWNORMAL, 0x7FFFFFFF, ""},
    {"mode_minus_one", TITLE_TARGET, nullptr, SW_SHOWNORMAL, -1, "C:\\Games\\Title"},
    {"mode_most_negative", TITLE_TARGET, nullptr, SW_SHOWNORMAL, INT32_MIN, "C:\\Games\\Title"},
    {"empty_arguments", TITLE_TARGET, "", SW_SHOWNORMAL, 0, "C:\\Games\\Title"},
    {"arguments", TITLE_TARGET, "-window \x83\x5C", SW_SHOWNORMAL, 0, "C:\\Games\\Title"},
    {"show_maximized", TITLE_TARGET, nullptr, SW_SHOWMAXIMIZED, 0, "C:\\Games\\Title"},
    {"show_min_no_active", TITLE_TARGET, nullptr, SW_SHOWMINNOACTIVE, 0, "C:\\Games\\Title"},
    // Under 936, not under the stand-in, 0xB1 and the backslash after it are
    // one character; both strings read back whole under the system's 932.
    {"code_page_936", "C:\\Games\\\xB1\\game.exe", nullptr, SW_SHOWNORMAL, 0, "C:\\Games", 936},
};

TEST_F(ShortcutFile, SavesTargetArgumentsWorkingDirectoryAndShowCommand)
{
    for (const LinkCase& c : LINK_CASES) {
        SCOPED_TRACE(std::string(c.name) + ": target " + hex(c.target) + " mode " +
                     std::to_string(c.mode));
        const std::string path = link(c.name);
        DeleteFileA(path.c_str());
        ASSERT_EQ(0, _setmbcp(c.multibyte_code_page));
        mbcp_forget();
        ASSERT_EQ(1, create_shortcut(path.c_str(), c.target, c.arguments, c.show_command, c.mode));
        // A later split_path of the caller's answers as before the call.
        EXPECT_FALSE(mbcp_is_described());
        init_multibyte_code_page();

        const LinkContent content = load_link(path);
        ASSERT_TRUE(content.loaded);
        EXPECT_EQ(hex(c.working_directory), hex(content.working_directory));
        EXPECT_EQ(hex(c.arguments != nullptr ? c.arguments : ""), hex(content.arguments));
        EXPECT_EQ(c.arguments != nullptr, content.has_arguments);
        EXPECT_EQ(c.show_command, content.show_command);
        // A relative target is resolved by the link object against the
        // current directory; a full one is kept.
        const std::string target = c.target;
        if (target.find('\\') != std::string::npos && target.find('/') == std::string::npos) {
            EXPECT_EQ(hex(target), hex(content.path));
        }
    }
}

TEST_F(ShortcutFile, MissingFolderSavesNothingAndCreatesNothing)
{
    const std::string folder = directory_ + "\\missing";
    RemoveDirectoryA(folder.c_str());
    const std::string path = folder + "\\sub\\x.lnk";
    EXPECT_EQ(0, create_shortcut(path.c_str(), TITLE_TARGET, nullptr, SW_SHOWNORMAL, 0));
    EXPECT_FALSE(exists(folder));
}

TEST_F(ShortcutFile, LinkPathLimitIsMaxPathWithItsTerminator)
{
    // Folder, backslash, name padded with 'x', ".lnk": exactly total bytes.
    const auto path_of_length = [](size_t total) {
        const std::string head = directory_ + "\\";
        return head + std::string(total - head.size() - 4, 'x') + ".lnk";
    };
    ASSERT_LT(directory_.size() + 10, SHORTCUT_LINK_MAX_BYTES);

    const std::string longest = path_of_length(SHORTCUT_LINK_MAX_BYTES);
    DeleteFileA(longest.c_str());
    EXPECT_EQ(1, create_shortcut(longest.c_str(), TITLE_TARGET, nullptr, SW_SHOWNORMAL, 0));
    EXPECT_TRUE(load_link(longest).loaded);
    DeleteFileA(longest.c_str());

    for (size_t total : {SHORTCUT_LINK_MAX_BYTES + 1, SHORTCUT_LINK_MAX_BYTES + 200}) {
        SCOPED_TRACE("link path of " + std::to_string(total) + " bytes");
        const std::string too_long = path_of_length(total);
        EXPECT_EQ(0, create_shortcut(too_long.c_str(), TITLE_TARGET, nullptr, SW_SHOWNORMAL, 0));
        // Cut to the limit, the path would name this file: nothing there.
        EXPECT_FALSE(exists(too_long.substr(0, SHORTCUT_LINK_MAX_BYTES)));
        EXPECT_FALSE(exists(too_long));
    }
}

// Whether this thread runs COM: a second initialisation in the same model
// says S_FALSE; after a call that tore the caller's down it would say S_OK.
HRESULT probe_com(DWORD model)
{
    const HRESULT hr = CoInitializeEx(nullptr, model);
    if (SUCCEEDED(hr)) {
        CoUninitialize();
    }
    return hr;
}

TEST_F(ShortcutFile, LeavesTheThreadsComStateAsItFoundIt)
{
    const std::string path = link("com_state");
    HRESULT before_none = E_FAIL;
    HRESULT after_none = E_FAIL;
    HRESULT after_apartment = E_FAIL;
    HRESULT after_multithreaded = E_FAIL;
    int32_t saved_in_apartment = -1;

    std::thread([&] {
        before_none = probe_com(COINIT_MULTITHREADED);
        create_shortcut(path.c_str(), TITLE_TARGET, nullptr, SW_SHOWNORMAL, 0);
        // Not left initialised (in the apartment model it would refuse this).
        after_none = probe_com(COINIT_MULTITHREADED);
    }).join();

    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        saved_in_apartment = create_shortcut(path.c_str(), TITLE_TARGET, nullptr, SW_SHOWNORMAL, 0);
        after_apartment = probe_com(COINIT_APARTMENTTHREADED);
        CoUninitialize();
    }).join();

    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        // Its own initialisation fails here (another model): it must not be
        // undone, or the caller's would go with it.
        create_shortcut(path.c_str(), TITLE_TARGET, nullptr, SW_SHOWNORMAL, 0);
        after_multithreaded = probe_com(COINIT_MULTITHREADED);
        CoUninitialize();
    }).join();

    EXPECT_EQ(S_OK, before_none);
    EXPECT_EQ(S_OK, after_none);
    EXPECT_EQ(1, saved_in_apartment);
    EXPECT_EQ(S_FALSE, after_apartment);
    EXPECT_EQ(S_FALSE, after_multithreaded);
    DeleteFileA(path.c_str());
}

class ProgramsShortcut : public ::testing::Test {
protected:
    void SetUp() override
    {
        init_multibyte_code_page();
        char folder[MAX_PATH + 1] = "";
        ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAMS, FALSE));
        programs_ = folder;
        remove_tree("OrvexTest");
        DeleteFileA((programs_ + "\\OrvexTestEmptyGroup.lnk").c_str());
    }

    void TearDown() override
    {
        remove_tree("OrvexTest");
        DeleteFileA((programs_ + "\\OrvexTestEmptyGroup.lnk").c_str());
    }

    // Deletes a small tree below the Programs folder (files, then folders).
    void remove_tree(const std::string& relative)
    {
        const std::string root = programs_ + "\\" + relative;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((root + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..") {
                    continue;
                }
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    remove_tree(relative + "\\" + name);
                } else {
                    DeleteFileA((root + "\\" + name).c_str());
                }
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(root.c_str());
    }

    std::string programs_;
};

TEST_F(ProgramsShortcut, CreatesTheGroupFoldersAndTheLink)
{
    EXPECT_EQ(0, create_programs_shortcut("OrvexTest\\Tools\\Viewer", "Viewer", TITLE_TARGET, 0));

    EXPECT_TRUE(is_directory(programs_ + "\\OrvexTest\\Tools"));
    EXPECT_TRUE(is_directory(programs_ + "\\OrvexTest\\Tools\\Viewer"));
    const LinkContent content = load_link(programs_ + "\\OrvexTest\\Tools\\Viewer\\Viewer.lnk");
    ASSERT_TRUE(content.loaded);
    EXPECT_EQ(TITLE_TARGET, content.path);
    EXPECT_EQ("", content.arguments);
    EXPECT_FALSE(content.has_arguments);
    EXPECT_EQ("C:\\Games\\Title", content.working_directory);
    EXPECT_EQ(SW_SHOWNORMAL, content.show_command);
}

TEST_F(ProgramsShortcut, NamesAreTakenAsGiven)
{
    struct {
        const char* group;
        const char* name;
        int32_t mode;
        const char* link;       // below the Programs folder
        const char* directory;  // the working directory it carries
    } const cases[] = {
        // An empty group leaves two adjacent backslashes: the system reads
        // them as one, so the link lands in the folder above.
        {"", "OrvexTestEmptyGroup", 0, "OrvexTestEmptyGroup.lnk", "C:\\Games\\Title"},
        {"OrvexTest\\", "Empty", 0, "OrvexTest\\Empty.lnk", "C:\\Games\\Title"},
        // A sub-folder in the shortcut's name is created too.
        {"OrvexTest", "Sub\\Named", 1, "OrvexTest\\Sub\\Named.lnk", ""},
        {"OrvexTest\\\x83\x5C", "\x95\x5C", 0, "OrvexTest\\\x83\x5C\\\x95\x5C.lnk",
         "C:\\Games\\Title"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("group ") + hex(c.group) + " name " + hex(c.name));
        EXPECT_EQ(0, create_programs_shortcut(c.group, c.name, TITLE_TARGET, c.mode));
        const LinkContent content = load_link(programs_ + "\\" + c.link);
        ASSERT_TRUE(content.loaded);
        EXPECT_EQ(TITLE_TARGET, content.path);
        EXPECT_EQ(hex(c.directory), hex(content.working_directory));
    }
}

TEST_F(ProgramsShortcut, TooLongALinkPathCreatesNoFolder)
{
    // The Programs folder, "\OrvexTest\", the long part, "\x.lnk".
    const size_t fixed = programs_.size() + std::strlen("\\OrvexTest\\") + std::strlen("\\x.lnk");
    ASSERT_LT(fixed, SHORTCUT_LINK_MAX_BYTES);
    const std::string fits(SHORTCUT_LINK_MAX_BYTES - fixed, 'f');
    const std::string too_long(SHORTCUT_LINK_MAX_BYTES - fixed + 1, 'g');

    EXPECT_EQ(0, create_programs_shortcut(("OrvexTest\\" + fits).c_str(), "x", TITLE_TARGET, 0));
    EXPECT_TRUE(load_link(programs_ + "\\OrvexTest\\" + fits + "\\x.lnk").loaded);

    EXPECT_EQ(0, create_programs_shortcut(("OrvexTest\\" + too_long).c_str(), "x", TITLE_TARGET, 0));
    EXPECT_FALSE(exists(programs_ + "\\OrvexTest\\" + too_long));
    EXPECT_EQ(0, create_programs_shortcut("OrvexTest\\Long", too_long.c_str(), TITLE_TARGET, 0));
    EXPECT_FALSE(exists(programs_ + "\\OrvexTest\\Long"));
}

// Points the user's Programs folder at a folder that does not exist, so that
// SHGetSpecialFolderPathA gives no path, and puts everything back afterwards.
class LostProgramsFolder {
public:
    LostProgramsFolder()
    {
        GetCurrentDirectoryA(sizeof saved_directory_, saved_directory_);
        if (RegOpenKeyExA(HKEY_CURRENT_USER, USER_SHELL_FOLDERS, 0, KEY_ALL_ACCESS, &key_) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        saved_size_ = sizeof saved_;
        if (RegQueryValueExA(key_, "Programs", nullptr, &saved_type_,
                             reinterpret_cast<BYTE*>(saved_), &saved_size_) != ERROR_SUCCESS) {
            saved_size_ = 0;
        }
        RegSetValueExA(key_, "Programs", 0, REG_SZ, reinterpret_cast<const BYTE*>(MISSING),
                       sizeof MISSING);
    }
    ~LostProgramsFolder()
    {
        SetCurrentDirectoryA(saved_directory_);
        if (key_ != nullptr) {
            if (saved_size_ > 0) {
                RegSetValueExA(key_, "Programs", 0, saved_type_,
                               reinterpret_cast<const BYTE*>(saved_), saved_size_);
            }
            RegCloseKey(key_);
        }
    }
    bool redirected() const { return key_ != nullptr && saved_size_ > 0; }

    static constexpr char USER_SHELL_FOLDERS[] =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr char MISSING[] = "C:\\OrvexTestMissing\\Programs";

private:
    HKEY key_ = nullptr;
    char saved_[MAX_PATH * 2] = "";
    DWORD saved_size_ = 0;
    DWORD saved_type_ = REG_NONE;
    char saved_directory_[MAX_PATH + 1] = "";
};

TEST_F(ProgramsShortcut, UnknownProgramsFolderCreatesNothing)
{
    LostProgramsFolder lost;
    ASSERT_TRUE(lost.redirected());
    char folder[MAX_PATH + 1] = "";
    ASSERT_FALSE(SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAMS, FALSE));

    // Were the missing folder taken for an empty one, the group would be
    // made below the root of the current drive.
    const auto remove_lost = [] {
        DeleteFileA("C:\\OrvexTestLost\\Group\\Name.lnk");
        RemoveDirectoryA("C:\\OrvexTestLost\\Group");
        RemoveDirectoryA("C:\\OrvexTestLost");
    };
    remove_lost();
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_EQ(0, create_programs_shortcut("OrvexTestLost\\Group", "Name", TITLE_TARGET, 0));
    EXPECT_FALSE(exists("C:\\OrvexTestLost"));
    EXPECT_FALSE(exists("C:\\OrvexTestMissing"));
    remove_lost();
}

} // namespace
