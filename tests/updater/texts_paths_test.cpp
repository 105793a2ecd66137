// Message formatting, the stored texts' bytes, path composition, registry
// text and size classification.
#include "updater/updater.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

// Names the bytes of a case, escaped, in a failure message.
std::string escaped(const std::string& bytes) {
    return ::testing::PrintToString(bytes);
}

// The title's CP932 bytes, written out independently of the compiler's
// conversion: ナギサリウム.
const char kTitleBytes[] = "\x83\x69\x83\x4D\x83\x54\x83\x8A\x83\x45\x83\x80";

TEST(FormatTitleMessage, PutsTheTitleWherePercentSStands) {
    ASSERT_STREQ(kTitleBytes, GAME_TITLE);
    char buffer[MESSAGE_BUFFER_BYTES];

    ASSERT_TRUE(format_title_message(buffer, MSG_NOT_INSTALLED));
    // Title, ASCII space, then が (82 AA).
    const std::string expected_start = std::string(kTitleBytes) + " \x82\xAA";
    EXPECT_EQ(0, strncmp(buffer, expected_start.c_str(), expected_start.size()))
        << escaped(buffer);
    EXPECT_EQ(strlen(MSG_NOT_INSTALLED) - 2 + strlen(kTitleBytes), strlen(buffer));

    ASSERT_TRUE(format_title_message(buffer, CAP_UPDATE));
    EXPECT_EQ(std::string(kTitleBytes) + " \x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x67",
              std::string(buffer))
        << escaped(buffer);
}

TEST(FormatTitleMessage, EveryStoredTextFitsAndTextsWithoutPlaceholderStayAsStored) {
    char buffer[MESSAGE_BUFFER_BYTES];
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        SCOPED_TRACE(ALL_TEXTS[i].name);
        memset(buffer, 0xBD, sizeof(buffer));
        ASSERT_TRUE(format_title_message(buffer, ALL_TEXTS[i].text));
        const char* placeholder = strstr(ALL_TEXTS[i].text, "%s");
        if (placeholder == nullptr) {
            EXPECT_STREQ(ALL_TEXTS[i].text, buffer);
        } else {
            // Exactly one placeholder, and it is replaced by the title.
            EXPECT_EQ(nullptr, strchr(placeholder + 1, '%'));
            EXPECT_NE(nullptr, strstr(buffer, kTitleBytes));
            EXPECT_EQ(nullptr, strchr(buffer, '%'));
        }
    }
}

TEST(FormatTitleMessage, RefusesAResultThatDoesNotFitInsteadOfCuttingIt) {
    char buffer[MESSAGE_BUFFER_BYTES];
    // One byte short of the buffer plus the title: does not fit.
    std::string text(MESSAGE_BUFFER_BYTES - strlen(kTitleBytes), 'x');
    text += "%s";
    EXPECT_FALSE(format_title_message(buffer, text.c_str()));
    EXPECT_STREQ("", buffer);

    // Exactly filling the buffer, terminator included, fits.
    std::string fits(MESSAGE_BUFFER_BYTES - 1 - strlen(kTitleBytes), 'y');
    fits += "%s";
    ASSERT_TRUE(format_title_message(buffer, fits.c_str()));
    EXPECT_EQ(MESSAGE_BUFFER_BYTES - 1, strlen(buffer));
}

TEST(FormatBox, InsertsTheCopyPathVerbatimBetweenTheTwoTexts) {
    char head[MESSAGE_BUFFER_BYTES];
    ASSERT_TRUE(format_title_message(head, MSG_ARCHIVE_RESCUED));
    // 130 times 表 (95 5C): the longest path that the splice accepts, made of
    // double-byte characters whose trail byte is a backslash.
    std::string longest;
    for (int i = 0; i < 130; ++i)
        longest += "\x95\x5C";
    ASSERT_EQ(RESCUE_PATH_BYTES - 1, longest.size());
    const struct {
        const char* name;
        std::string path;
        bool fits;
    } cases[] = {
        {"longest path", longest, true},
        {"path holding printf conversions", "C:\\100%s%n%\\update1.ovp.backup", true},
        {"empty path", "", true},
        // Not terminated within RESCUE_PATH_BYTES: more than a path.
        {"one byte too long", longest + "a", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        struct {
            char buffer[MESSAGE_BUFFER_BYTES];
            char canary[16];
        } out;
        char caption[MESSAGE_BUFFER_BYTES];
        memset(&out, 0xBD, sizeof(out));
        EXPECT_EQ(c.fits, format_box(BOX_ARCHIVE_RESCUED, c.path.c_str(), out.buffer, caption));
        const std::string expected =
            c.fits ? std::string(head) + c.path + MSG_ARCHIVE_RESCUED_ACTION : std::string();
        EXPECT_EQ(expected, std::string(out.buffer)) << escaped(out.buffer);
        EXPECT_STREQ(c.fits ? CAPTION_FAILED : "", caption);
        for (char byte : out.canary)
            ASSERT_EQ('\xBD', byte) << "written past the message buffer";
    }
}

// Every row shows its text and caption, formatted where it holds the title's
// "%s" and nowhere else: a row that leaves a "%s" to the box, or sends a text
// without one through printf, is caught here.
TEST(FormatBox, EveryRowFitsAndGetsTheTitleWhereItsTextsAskForIt) {
    for (const BoxRow& row : BOXES) {
        SCOPED_TRACE(row.name);
        char text[MESSAGE_BUFFER_BYTES];
        char caption[MESSAGE_BUFFER_BYTES];
        ASSERT_TRUE(format_box(row.id, nullptr, text, caption));
        EXPECT_EQ(strstr(row.text, "%s") != nullptr, (row.title & TITLE_IN_TEXT) != 0);
        EXPECT_EQ(strstr(row.caption, "%s") != nullptr, (row.title & TITLE_IN_CAPTION) != 0);
        EXPECT_EQ(nullptr, strchr(text, '%')) << escaped(text);
        EXPECT_EQ(nullptr, strchr(caption, '%')) << escaped(caption);
    }
}

TEST(MessageTexts, LineBreaksAreStoredAsTheBoxesShowThem) {
    // The two confirmations break lines with CR LF, everything else with LF
    // alone.
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        const char* text = ALL_TEXTS[i].text;
        SCOPED_TRACE(ALL_TEXTS[i].name);
        const bool confirmation =
            text == MSG_CONFIRM_DETECTED || text == MSG_CONFIRM_START;
        for (const char* p = text; *p != '\0'; ++p) {
            if (*p == '\n') {
                EXPECT_EQ(confirmation, p > text && p[-1] == '\r') << (p - text);
            }
            if (*p == '\r') {
                EXPECT_TRUE(confirmation && p[1] == '\n') << (p - text);
            }
        }
    }
    EXPECT_NE(nullptr, strstr(MSG_CONFIRM_DETECTED, "\r\n\r\n"));
    EXPECT_NE(nullptr, strstr(MSG_WRITE_FAILED, "\n\n"));
    EXPECT_EQ(nullptr, strchr(MSG_WRITE_FAILED, '\r'));
}

TEST(MessageTexts, TrailByte5CAndFullWidthSignsAreStoredAsCp932) {
    // 数秒～数十秒: 十 is 8F 5C, the full-width tilde 81 60, ？ 81 48.
    EXPECT_NE(nullptr, strstr(MSG_CONFIRM_START, "\x90\x94\x95\x62\x81\x60\x90\x94\x8F\x5C\x95\x62"));
    EXPECT_NE(nullptr, strstr(MSG_CONFIRM_START, "\x81\x48\r\n"));
    // エラー No.1: the caption's blank is ASCII.
    EXPECT_STREQ("\x83\x47\x83\x89\x81\x5B No.1", CAPTION_ERROR_NO1);
    EXPECT_STREQ("\x83\x47\x83\x89\x81\x5B No.3", CAPTION_ERROR_NO3);
}

TEST(MessageTexts, TableNamesEveryTextOnce) {
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        SCOPED_TRACE(ALL_TEXTS[i].name);
        EXPECT_GT(strlen(ALL_TEXTS[i].text), 0u);
        for (size_t j = i + 1; j < ALL_TEXTS_COUNT; ++j) {
            EXPECT_STRNE(ALL_TEXTS[i].name, ALL_TEXTS[j].name);
            EXPECT_NE(ALL_TEXTS[i].text, ALL_TEXTS[j].text);
        }
    }
    // Every text that a row of BOXES shows is in the table once, under the
    // name the row gives it, and the table holds nothing else but the title
    // that the rows' "%s" receive.
    auto named = [](const char* name, const char* text) {
        size_t found = 0;
        for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i)
            found += strcmp(name, ALL_TEXTS[i].name) == 0 && ALL_TEXTS[i].text == text;
        return found;
    };
    std::set<std::string> shown = {"GAME_TITLE"};
    for (const BoxRow& row : BOXES) {
        const struct {
            const char* name;
            const char* text;
        } texts[] = {{row.text_name, row.text},
                     {row.caption_name, row.caption},
                     {row.text_after_path_name, row.text_after_path}};
        for (const auto& t : texts) {
            if (t.name == nullptr) continue;
            shown.insert(t.name);
            EXPECT_EQ(1u, named(t.name, t.text))
                << row.name << " shows " << t.name << ", which ALL_TEXTS in "
                << "updater/messages.cpp must hold once: add NAMED(" << t.name << ")";
        }
    }
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        EXPECT_EQ(1u, shown.count(ALL_TEXTS[i].name))
            << ALL_TEXTS[i].name << " is in ALL_TEXTS but no row of BOXES shows it "
            << "(updater/messages.cpp)";
    }
}

TEST(ComposePath, AppendsWithoutSeparatorAndRefusesWhatDoesNotFit) {
    const std::string prefix260 = "C:\\" + std::string(256, 'd') + "\\";
    ASSERT_EQ(260u, prefix260.size());
    const std::string prefix261 = prefix260 + "e";
    struct Case {
        std::string prefix;
        const char* name;
        size_t out_size;
        bool fits;
    } const cases[] = {
        {"C:\\Game\\", ARCHIVE_RELATIVE_PATH, COMPOSED_PATH_BYTES, true},
        {"C:\\Game", MARKER_INSTALL_INI, COMPOSED_PATH_BYTES, true},  // C:\Gameinst.ini
        {"", MARKER_PAC_DIR, COMPOSED_PATH_BYTES, true},
        {prefix260, ARCHIVE_RELATIVE_PATH, COMPOSED_PATH_BYTES, true},
        {prefix261, ARCHIVE_RELATIVE_PATH, COMPOSED_PATH_BYTES, false},
        {"abc", "de", 6, true},   // exactly five bytes and the terminator
        {"abc", "def", 6, false},
        {"abcdef", "", 6, false},
        {"", "", 1, true},
        {"", "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix + " + " + c.name + " in " + std::to_string(c.out_size));
        char out[COMPOSED_PATH_BYTES + 8];
        memset(out, 0xBD, sizeof(out));
        EXPECT_EQ(c.fits, compose_path(out, c.out_size, c.prefix.c_str(), c.name));
        if (c.out_size > 0) {
            EXPECT_STREQ(c.fits ? (c.prefix + c.name).c_str() : "", out);
        }
        for (size_t i = c.out_size; i < sizeof(out); ++i)
            ASSERT_EQ('\xBD', out[i]) << "written past the buffer at " << i;
    }
}

TEST(TakeRegistryText, EndsAtTheFirstNulOrAfterTheLastByteAndRefusesAFullUnterminatedValue) {
    struct Case {
        const char* bytes;  // stored value, without the literal's own NUL
        size_t size;        // bytes the query reported
        bool accepted;
        const char* text;
    } const cases[] = {
        {"C:\\G\\\0", 6, true, "C:\\G\\"},
        {"C:\\G\\", 5, true, "C:\\G\\"},            // stored without terminator
        {"C:\\\0G\\", 6, true, "C:\\"},             // embedded NUL ends it
        {"", 0, true, ""},
        {"\x95\x5C", 2, true, "\x95\x5C"},
        {"ABCDEFGH", 8, false, ""},                 // fills the buffer, no NUL
        {"ABCDEFG\0", 8, true, "ABCDEFG"},          // fills it with the NUL
    };
    constexpr size_t kCapacity = 8;
    for (const Case& c : cases) {
        SCOPED_TRACE(escaped(std::string(c.bytes, c.size)));
        char buf[kCapacity + 4];
        memset(buf, 0xBD, sizeof(buf));
        memcpy(buf, c.bytes, c.size);
        EXPECT_EQ(c.accepted, take_registry_text(buf, kCapacity, c.size));
        if (c.accepted) {
            EXPECT_STREQ(c.text, buf);
        }
        for (size_t i = kCapacity; i < sizeof(buf); ++i)
            ASSERT_EQ('\xBD', buf[i]);
    }

    // The real buffer: 260 bytes of text without a terminator are accepted,
    // 261 are more than a path and refused.
    char dir[DIR_VALUE_CAPACITY];
    memset(dir, 'a', sizeof(dir));
    EXPECT_TRUE(take_registry_text(dir, sizeof(dir), DIR_VALUE_CAPACITY - 1));
    EXPECT_EQ(DIR_VALUE_CAPACITY - 1, strlen(dir));
    memset(dir, 'a', sizeof(dir));
    EXPECT_FALSE(take_registry_text(dir, sizeof(dir), DIR_VALUE_CAPACITY));
}

TEST(ClassifyArchiveSize, OnlyTheThreeExactSizesAreKnown) {
    const struct {
        int64_t size;
        VersionCode code;
    } cases[] = {
        {638157110, VERSION_100},
        {638151018, VERSION_101},
        {1, VERSION_PATCH_MISSING},
        {0, VERSION_UNKNOWN},
        {2, VERSION_UNKNOWN},
        {638157111, VERSION_UNKNOWN},
        {638157109, VERSION_UNKNOWN},
        {638151017, VERSION_UNKNOWN},
        {-1, VERSION_UNKNOWN},
        {int64_t{1} << 31, VERSION_UNKNOWN},
        {(int64_t{1} << 32) + 638157110, VERSION_UNKNOWN},  // same low 32 bits as 1.00
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(c.code, classify_archive_size(c.size));
    }
    EXPECT_EQ(990, VERSION_PATCH_MISSING);
    EXPECT_EQ(1000, VERSION_100);
    EXPECT_EQ(1010, VERSION_101);
    EXPECT_EQ(9999, VERSION_UNKNOWN);
}

}  // namespace
