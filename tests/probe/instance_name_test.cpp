// Forming the game's instance name from its executable's path.
#include "probe/probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Names the bytes of a case, escaped, in a failure message.
std::string escaped(const std::string& bytes) {
    return ::testing::PrintToString(bytes);
}

TEST(FormInstanceName, LowersAsciiAndTurnsSingleByteBackslashesIntoColons) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"C:\\Games\\Demo\\velk.exe", "c::games:demo:velk.exe"},
        // 表 is 95 5C: its trail byte is not a separator.
        {"C:\\\x95\x5C\\VELK.EXE", "c::\x95\x5C:velk.exe"},
        {"D:\\\x83\x5C\x83\x74\x83\x67\\", "d::\x83\x5C\x83\x74\x83\x67:"},
        // ア is 83 41: a lowered trail byte would name another game.
        {"C:\\\x83\x41\\VELK.EXE", "c::\x83\x41:velk.exe"},
        // Full-width Ａ (82 60) and ａ (82 81) do not change.
        {"C:\\\x82\x60\x82\x81" "AB\\velk.exe", "c::\x82\x60\x82\x81" "ab:velk.exe"},
        // Half-width katakana are single bytes; the backslash after them is one.
        {"C:\\\xB1\\X", "c::\xB1:x"},
        {"\\\\Server\\Share\\velk.exe", "::server:share:velk.exe"},
        {"velk.exe", "velk.exe"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escaped(c.path));
        char out[INSTANCE_NAME_BYTES];
        ASSERT_TRUE(form_instance_name(out, sizeof(out), c.path));
        EXPECT_EQ(std::string(c.name), std::string(out)) << escaped(out);
    }
}

TEST(FormInstanceName, TheLongestPrefixAndExecutableFitWithoutCutting) {
    // 260 bytes of prefix, with a double-byte character right before the
    // final separator, plus the executable name.
    std::string prefix = "C:\\" + std::string(PATH_MAX_BYTES - 6, 'A') + "\x95\x5C\\";
    ASSERT_EQ(PATH_MAX_BYTES, prefix.size());
    const std::string path = prefix + "velk.exe";
    char out[INSTANCE_NAME_BYTES + 4];
    memset(out, 0xBD, sizeof(out));
    ASSERT_TRUE(form_instance_name(out, INSTANCE_NAME_BYTES, path.c_str()));
    ASSERT_EQ(path.size(), strlen(out));
    EXPECT_EQ("c:" + std::string(":") + std::string(PATH_MAX_BYTES - 6, 'a') + "\x95\x5C:velk.exe",
              std::string(out));
    for (size_t i = INSTANCE_NAME_BYTES; i < sizeof(out); ++i)
        EXPECT_EQ('\xBD', out[i]);

    // A path that does not fit is refused whole.
    const std::string too_long(INSTANCE_NAME_BYTES, 'X');
    memset(out, 0xBD, sizeof(out));
    EXPECT_FALSE(form_instance_name(out, INSTANCE_NAME_BYTES, too_long.c_str()));
    EXPECT_STREQ("", out);
    EXPECT_EQ('\xBD', out[INSTANCE_NAME_BYTES]);
    // Exactly filling the buffer fits.
    EXPECT_TRUE(form_instance_name(out, INSTANCE_NAME_BYTES, too_long.c_str() + 1));
    EXPECT_EQ(INSTANCE_NAME_BYTES - 1, strlen(out));
}

TEST(ToInstanceName, WorksInPlaceOnTheProcessWideBuffer) {
    strcpy(instance_name, "C:\\GAME\\\x8F\x5C\\velk.exe");
    to_instance_name(instance_name);
    EXPECT_STREQ("c::game:\x8F\x5C:velk.exe", instance_name);
}

}  // namespace
