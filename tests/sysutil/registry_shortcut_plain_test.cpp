// The plain parts of the registry read and the shortcut operations: buffers
// of exactly the stated sizes, so that the sanitizers see any byte written
// past them.
#include "sysutil/registry_data.h"
#include "sysutil/shortcut_paths.h"
#include "tests/text/bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

constexpr char MARKER = '\xBD';
constexpr uint32_t REGISTRY_TYPE_DWORD = 4;
constexpr uint32_t REGISTRY_TYPE_BINARY = 3;

struct TerminateCase {
    uint32_t type;
    std::string data;       // what the system copied into the buffer
    uint32_t buffer_size;
    bool accepted;
    std::string expected;   // the whole buffer afterwards (marker bytes 0xBD)
};

TEST(TerminateRegistryData, StringsEndInsideTheBufferOrAreRefused)
{
    const std::string m(1, MARKER);
    const TerminateCase cases[] = {
        {REGISTRY_TYPE_SZ, std::string("abc\0", 4), 4, true, std::string("abc\0", 4)},
        {REGISTRY_TYPE_SZ, std::string("abc\0", 4), 6, true, std::string("abc\0", 4) + m + m},
        {REGISTRY_TYPE_SZ, "abc", 4, true, std::string("abc\0", 4)},
        {REGISTRY_TYPE_SZ, "abc", 6, true, std::string("abc\0", 4) + m + m},
        {REGISTRY_TYPE_SZ, "abc", 3, false, "abc"},
        {REGISTRY_TYPE_SZ, "", 1, true, std::string("\0", 1)},
        {REGISTRY_TYPE_SZ, "", 0, false, ""},
        // A trail byte ends the data: it is no terminator.
        {REGISTRY_TYPE_SZ, "\x83\x5C", 3, true, std::string("\x83\x5C\0", 3)},
        {REGISTRY_TYPE_EXPAND_SZ, "%T%", 4, true, std::string("%T%\0", 4)},
        {REGISTRY_TYPE_EXPAND_SZ, "%T%", 3, false, "%T%"},
        {REGISTRY_TYPE_MULTI_SZ, std::string("a\0b", 3), 5, true, std::string("a\0b\0", 4) + m},
        {REGISTRY_TYPE_DWORD, "\x01\x02\x03\x04", 4, true, "\x01\x02\x03\x04"},
        {REGISTRY_TYPE_DWORD, "\x01\x02\x03\x04", 6, true, "\x01\x02\x03\x04" + m + m},
        {REGISTRY_TYPE_BINARY, "ab", 2, true, "ab"},
    };
    for (const TerminateCase& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " data " + hex(c.data) + "buffer " +
                     std::to_string(c.buffer_size));
        const uint32_t data_size = static_cast<uint32_t>(c.data.size());
        std::vector<char> buffer(c.buffer_size, MARKER);
        std::copy(c.data.begin(), c.data.end(), buffer.begin());
        const std::vector<char> copied = buffer;
        EXPECT_EQ(c.accepted,
                  terminate_registry_data(c.type, buffer.data(), data_size, c.buffer_size));
        EXPECT_EQ(hex(c.expected), hex(std::string(buffer.begin(), buffer.end())));

        // What the reader's caller gets: a refused value, or any after a
        // failed query, leaves the empty string, not the bytes it copied.
        for (const bool queried : {true, false}) {
            SCOPED_TRACE(queried ? "queried" : "query failed");
            buffer = copied;
            const bool kept = queried && c.accepted;
            EXPECT_EQ(kept, finish_registry_read(queried, c.type, buffer.data(), data_size,
                                                 c.buffer_size));
            std::string after = kept ? c.expected : std::string(copied.begin(), copied.end());
            if (!kept && c.buffer_size > 0) after[0] = '\0';
            EXPECT_EQ(hex(after), hex(std::string(buffer.begin(), buffer.end())));
        }
    }
}

TEST(TerminateRegistryData, DataLargerThanTheBufferIsRefused)
{
    std::vector<char> buffer(4, 'x');
    EXPECT_FALSE(terminate_registry_data(REGISTRY_TYPE_SZ, buffer.data(), 5, 4));
    EXPECT_EQ("xxxx", std::string(buffer.begin(), buffer.end()));
}

struct WorkingDirectoryCase {
    std::string target;
    int32_t mode;
    std::string expected;
};

TEST(ShortcutWorkingDirectory, DriveAndDirectoryWithoutTheLastBackslash)
{
    const std::string title = "C:\\Games\\Title\\game.exe";
    const std::string d253(253, 'd');
    const std::string d300(300, 'd');
    const WorkingDirectoryCase cases[] = {
        {title, 0, "C:\\Games\\Title"},
        {"C:\\game.exe", 0, "C:"},
        {"game.exe", 0, ""},
        {"", 0, ""},
        {"C:", 0, "C:"},
        {"C:game.exe", 0, "C:"},
        {"/game.exe", 0, ""},
        {"C:/Games/Title/game.exe", 0, "C:\\Games\\Title"},
        {"\\\\server\\share\\game.exe", 0, "\\\\server\\share"},
        // Only one backslash goes.
        {"C:\\Games\\\\game.exe", 0, "C:\\Games\\"},
        // ソ (0x83 0x5C) and 表 (0x95 0x5C) end in a trail byte 0x5C: kept.
        {"C:\\\x83\x5C\\game.exe", 0, "C:\\\x83\x5C"},
        {"C:\\\x95\x5C/game.exe", 0, "C:\\\x95\x5C"},
        {"C:\\\x83\x5Cgame.exe", 0, "C:"},
        // Half-width katakana are single bytes: the backslash after one goes.
        {"C:\\\xB1\\game.exe", 0, "C:\\\xB1"},
        {title, 1, ""},
        {title, INT32_MAX, ""},
        {title, -1, "C:\\Games\\Title"},
        {title, INT32_MIN, "C:\\Games\\Title"},
        // The longest directory: 255 bytes, then the drive: 257 bytes.
        {"C:\\" + d253 + "\\game.exe", 0, "C:\\" + d253},
        {"C:\\" + d300 + "\\game.exe", 0, "C:\\" + std::string(254, 'd')},
        {"C:\\" + d300 + "\\game.exe", 1, ""},
        // A cut right after 0x83 0x5C: that 0x5C is no backslash to remove.
        {"C:\\" + std::string(252, 'd') + "\x83\x5C" + "dd\\game.exe", 0,
         "C:\\" + std::string(252, 'd') + "\x83\x5C"},
        // A cut that would split 0x83 0x5C leaves the whole character out.
        {"C:\\" + d253 + "\x83\x5C\\game.exe", 0, "C:\\" + d253},
    };
    for (const WorkingDirectoryCase& c : cases) {
        SCOPED_TRACE("target " + hex(c.target) + "mode " + std::to_string(c.mode));
        std::vector<char> out(SHORTCUT_WORKING_DIRECTORY_BYTES, MARKER);
        shortcut_working_directory(c.target.c_str(), c.mode, out.data());
        ASSERT_NE(out.end(), std::find(out.begin(), out.end(), '\0'));
        EXPECT_EQ(hex(c.expected), hex(out.data()));
    }
}

struct LinkPathCase {
    std::string programs;
    std::string group;
    std::string name;
    bool accepted;
    std::string expected;
};

TEST(ProgramsLinkPath, ComposedAsGivenWithinTheLimit)
{
    const std::string programs = "C:\\Start Menu\\Programs";
    // programs, '\', group, '\', name, ".lnk": 29 bytes besides the group.
    const size_t fixed = programs.size() + 1 + 1 + 4 + 4;
    const std::string longest_group(SHORTCUT_LINK_MAX_BYTES - fixed, 'g');
    const LinkPathCase cases[] = {
        {programs, "Tools\\Viewer", "Viewer", true, programs + "\\Tools\\Viewer\\Viewer.lnk"},
        {programs, "", "Name", true, programs + "\\\\Name.lnk"},
        {programs, "\x83\x5C", "\x95\x5C", true, programs + "\\\x83\x5C\\\x95\x5C.lnk"},
        {programs, longest_group, "Name", true, programs + "\\" + longest_group + "\\Name.lnk"},
        {programs, longest_group + "g", "Name", false, ""},
        {programs, "Tools", std::string(400, 'n'), false, ""},
        {"", "Tools", "Name", false, ""},
    };
    for (const LinkPathCase& c : cases) {
        SCOPED_TRACE("group " + hex(c.group.substr(0, 16)) + "(" + std::to_string(c.group.size()) +
                     " bytes) name of " + std::to_string(c.name.size()) + " bytes");
        std::vector<char> out(SHORTCUT_LINK_PATH_BYTES, MARKER);
        EXPECT_EQ(c.accepted, programs_link_path(c.programs.c_str(), c.group.c_str(),
                                                 c.name.c_str(), out.data()));
        EXPECT_EQ(hex(c.expected), hex(out.data()));
    }
}

} // namespace
