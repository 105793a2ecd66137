// The installation lookup against the real registry and file system, and the
// archive measurement through the Windows C runtime.
#include "updater/updater.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

// A scratch key of this process, never the game's own key: the end-to-end
// tests use that one at the same time.
class LookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        key_ = "Software\\OrvexCoreTest\\lookup-" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &hkey_, NULL));
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(sizeof(temp), temp));
        install_ = std::string(temp) + "orvex-core-" + std::to_string(GetCurrentProcessId()) +
                   "\\";
        ASSERT_TRUE(CreateDirectoryA(install_.c_str(), NULL));
    }

    void TearDown() override {
        RegCloseKey(hkey_);
        RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\OrvexCoreTest");
        DeleteFileA((install_ + ARCHIVE_RELATIVE_PATH).c_str());
        RemoveDirectoryA((install_ + ARCHIVE_RELATIVE_PATH).c_str());
        RemoveDirectoryA((install_ + MARKER_PAC_DIR).c_str());
        DeleteFileA((install_ + MARKER_PAC_DIR).c_str());
        DeleteFileA((install_ + MARKER_INSTALL_INI).c_str());
        RemoveDirectoryA((install_ + MARKER_INSTALL_INI).c_str());
        RemoveDirectoryA(install_.c_str());
    }

    void set_value(DWORD type, const std::string& bytes) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(hkey_, "Dir", 0, type,
                                 reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())));
    }

    static void make_file(const std::string& path) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << path;
        CloseHandle(h);
    }

    InstallLookup lookup() {
        memset(prefix_, 0xBD, sizeof(prefix_));
        return lookup_installation(key_.c_str(), "Dir", prefix_);
    }

    std::string key_;
    HKEY hkey_ = NULL;
    std::string install_;
    char prefix_[DIR_VALUE_CAPACITY];
};

TEST_F(LookupTest, KeyAndValueMustBeThere) {
    EXPECT_EQ(INSTALL_NO_VALUE, lookup());
    EXPECT_STREQ("", prefix_);
    EXPECT_EQ(INSTALL_NO_KEY,
              lookup_installation((key_ + "\\missing").c_str(), "Dir", prefix_));
}

TEST_F(LookupTest, ValueLengthsAtTheEdgeOfTheBuffer) {
    // Paths that do not exist: these cases only show whether the value was
    // taken (markers missing) or refused (no value).
    const std::string text260 = "Z:\\" + std::string(256, 'q') + "\\";
    ASSERT_EQ(260u, text260.size());
    const struct {
        const char* name;
        DWORD type;
        std::string bytes;
        InstallLookup expected;
        std::string prefix;
    } cases[] = {
        {"260 bytes and terminator", REG_SZ, text260 + std::string(1, '\0'), INSTALL_INCOMPLETE,
         text260},
        {"261 bytes and terminator", REG_SZ, text260 + "x" + std::string(1, '\0'),
         INSTALL_NO_VALUE, ""},
        {"260 bytes without terminator", REG_BINARY, text260, INSTALL_INCOMPLETE, text260},
        {"261 bytes without terminator", REG_BINARY, text260 + "x", INSTALL_NO_VALUE, ""},
        {"embedded NUL ends the value", REG_BINARY, std::string("Z:\\a\\\0Z:\\b\\", 10),
         INSTALL_INCOMPLETE, "Z:\\a\\"},
        {"type not examined", REG_EXPAND_SZ, std::string("Z:\\c\\", 6), INSTALL_INCOMPLETE,
         "Z:\\c\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        set_value(c.type, c.bytes);
        EXPECT_EQ(c.expected, lookup());
        EXPECT_EQ(c.prefix, std::string(prefix_));
    }
}

TEST_F(LookupTest, AllThreeMarkersMustExistAsFilesOrDirectories) {
    set_value(REG_SZ, install_ + std::string(1, '\0'));
    EXPECT_EQ(INSTALL_INCOMPLETE, lookup());
    EXPECT_EQ(install_, std::string(prefix_));

    // Any kind of entry counts: a directory named inst.ini, a directory pac,
    // a directory named update1.ovp.
    ASSERT_TRUE(CreateDirectoryA((install_ + MARKER_INSTALL_INI).c_str(), NULL));
    EXPECT_EQ(INSTALL_INCOMPLETE, lookup());
    ASSERT_TRUE(CreateDirectoryA((install_ + MARKER_PAC_DIR).c_str(), NULL));
    EXPECT_EQ(INSTALL_INCOMPLETE, lookup());
    ASSERT_TRUE(CreateDirectoryA((install_ + ARCHIVE_RELATIVE_PATH).c_str(), NULL));
    EXPECT_EQ(INSTALL_FOUND, lookup());
    EXPECT_EQ(install_, std::string(prefix_));

    // Without the trailing backslash the markers are looked for beside the
    // folder, not in it.
    std::string bare = install_.substr(0, install_.size() - 1);
    set_value(REG_SZ, bare + std::string(1, '\0'));
    EXPECT_EQ(INSTALL_INCOMPLETE, lookup());
}

TEST_F(LookupTest, ArchiveMeasurementThroughTheWindowsRuntime) {
    const std::string path = install_ + "sized.bin";
    const struct {
        LONGLONG size;
        VersionCode code;
    } cases[] = {
        {0, VERSION_UNKNOWN},
        {1, VERSION_PATCH_MISSING},
        {ARCHIVE_SIZE_V100, VERSION_100},
        {ARCHIVE_SIZE_V101, VERSION_101},
        {(LONGLONG{1} << 31) + 1, VERSION_UNKNOWN},
        {(LONGLONG{1} << 32) + ARCHIVE_SIZE_V100, VERSION_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        LARGE_INTEGER at;
        at.QuadPart = c.size;
        ASSERT_TRUE(SetFilePointerEx(h, at, NULL, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h));
        CloseHandle(h);
        int64_t size = -2;
        ASSERT_TRUE(measure_file_size(path.c_str(), &size));
        EXPECT_EQ(c.size, size);
        EXPECT_EQ(c.code, classify_archive_size(size));
    }

    // Held without sharing: the archive-busy case.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    int64_t size = -2;
    EXPECT_FALSE(measure_file_size(path.c_str(), &size));
    CloseHandle(held);
    DeleteFileA(path.c_str());
    // A directory cannot be opened as a file.
    EXPECT_FALSE(measure_file_size(install_.c_str(), &size));
}

}  // namespace
