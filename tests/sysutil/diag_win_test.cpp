// Diagnostics under the Japanese locale: the system's error texts, the
// library's information box and its boxes of CP932 texts.
#include "sysutil/sysutil.h"

#include "tests/e2e/box_text.h"
#include "tests/text/bytes.h"
#include "scripts/boxdriver/boxdriver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned char MARKER = 0xBD;
constexpr DWORD BOX_TIMEOUT_MS = 10000;
// A code for which the system has no text.
constexpr DWORD CODE_WITHOUT_TEXT = 0x01234567;

// The system's own text for code, straight from FormatMessageA.
std::string system_text(DWORD code)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(0x1300, nullptr, code, 0x0400,
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = length != 0 && text != nullptr ? std::string(text) : std::string();
    if (text != nullptr) {
        LocalFree(text);
    }
    return result;
}

// last_error_text with code as the thread's last error, into a buffer of
// buffer_size bytes followed by marker bytes. Returns the whole buffer.
std::vector<char> text_for(DWORD code, size_t buffer_size)
{
    std::vector<char> buffer(buffer_size + 8, static_cast<char>(MARKER));
    SetLastError(code);
    last_error_text(buffer.data(), buffer_size);
    return buffer;
}

void expect_marker_from(const std::vector<char>& buffer, size_t from)
{
    for (size_t i = from; i < buffer.size(); ++i) {
        ASSERT_EQ(MARKER, static_cast<unsigned char>(buffer[i])) << "byte " << i;
    }
}

TEST(LastErrorText, CopiesTheSystemTextWhole)
{
    struct {
        DWORD code;
        const char* must_contain;
    } const cases[] = {
        {0, ""},
        // ファイルが見つかりません。 and the line break the system ends it with.
        {ERROR_FILE_NOT_FOUND,
         "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82"
         "\xb9\x82\xf1\x81\x42\r\n"},
        // Kept as an insert sequence: nothing expands it.
        {ERROR_BAD_EXE_FORMAT, "%1"},
        {ERROR_ACCESS_DENIED, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        const std::string expected = system_text(c.code);
        ASSERT_FALSE(expected.empty()) << "the system has no text for this code";
        EXPECT_NE(std::string::npos, expected.find(c.must_contain));

        const std::vector<char> exact = text_for(c.code, expected.size() + 1);
        EXPECT_EQ(hex(expected + '\0'), hex(std::string(exact.data(), expected.size() + 1)));
        expect_marker_from(exact, expected.size() + 1);

        // One byte short: refused whole rather than cut.
        const std::vector<char> short_by_one = text_for(c.code, expected.size());
        EXPECT_EQ(0, short_by_one[0]);
        expect_marker_from(short_by_one, 1);
    }
}

TEST(LastErrorText, NoTextOrNoRoomGivesTheEmptyString)
{
    ASSERT_TRUE(system_text(CODE_WITHOUT_TEXT).empty());
    const std::vector<char> unknown = text_for(CODE_WITHOUT_TEXT, 64);
    EXPECT_EQ(0, unknown[0]);
    expect_marker_from(unknown, 1);

    const std::vector<char> one_byte = text_for(ERROR_FILE_NOT_FOUND, 1);
    EXPECT_EQ(0, one_byte[0]);
    expect_marker_from(one_byte, 1);

    const std::vector<char> no_room = text_for(ERROR_FILE_NOT_FOUND, 0);
    expect_marker_from(no_room, 0);
}

TEST(ShowInfo, ShowsTheTextUnderTheInfoCaption)
{
    const char* const texts[] = {
        "",
        // 数秒～数十秒: a trail byte 0x5C (十) and a line break.
        "\x90\x94\x95\x62\x81\x60\x90\x94\x8f\x5c\x95\x62\r\nOK",
    };
    for (const char* text : texts) {
        SCOPED_TRACE("text " + hex(text));
        BoxScript script{{IDOK}, 1};
        BoxTranscript transcript;
        BoxAnswerer answerer;
        ASSERT_TRUE(start_box_answerer(&answerer, &script, BOX_TIMEOUT_MS, &transcript))
            << transcript.error;
        const unsigned char rc = show_info(text);
        ASSERT_EQ(BOX_RUN_COMPLETED, finish_box_answerer(&answerer)) << transcript.error;

        EXPECT_EQ(0, rc);
        ASSERT_EQ(1, transcript.box_count);
        EXPECT_PRED_FORMAT2(box_text_is, transcript.boxes[0].caption, "ORVEX Info");
        EXPECT_PRED_FORMAT2(box_text_is, transcript.boxes[0].text, text);
        EXPECT_EQ(BOX_BUTTON_OK, transcript.boxes[0].buttons);
        EXPECT_EQ(BOX_ICON_NONE, transcript.boxes[0].icon);
        EXPECT_EQ(0, transcript.unexpected_count);
    }
}

// The boxes of CP932 texts: converted whole, part by part from each part's
// code page, and where they are no valid text, still shown as the system
// reads the bytes.
TEST(ShowBoxParts, ShowsEveryPartFromItsOwnCodePage)
{
    // Not CP932: a lead byte whose second byte cannot follow it.
    const char not_cp932[] = "abc\x81\x20" "def";
    ASSERT_EQ(0, MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, not_cp932, -1, nullptr, 0));
    wchar_t as_system_reads_it[32];
    ASSERT_LT(0, MultiByteToWideChar(CP_ACP, 0, not_cp932, -1, as_system_reads_it, 32));
    // Longer than any fixed buffer of 1024 units would hold.
    const std::string long_text = std::string(3000, 'a') + "\x90\x94\x8f\x5c";
    const std::wstring long_wide = std::wstring(3000, L'a') + L"数十";
    const char* const caption_932 = "\x83\x47\x83\x89\x81\x5b";  // エラー
    struct Case {
        const char* name;
        std::vector<BoxTextPart> parts;
        const char* caption;
        std::wstring text;
        std::wstring caption_seen;
    };
    const Case cases[] = {
        {"one text, 932", {{"\x90\x94\x95\x62\x81\x60\x90\x94\x8f\x5c\x95\x62\r\nOK", 16, 932}},
         caption_932, L"数秒～数十秒\r\nOK", L"エラー"},
        {"a path of code page 1252 between texts of 932",
         {{"\x83\x47\x83\x89\x81\x5b ", 7, 932}, {"C:\\Caf\xE9", 7, 1252}, {" \x90\x94", 3, 932}},
         caption_932, L"エラー C:\\Café 数", L"エラー"},
        {"longer than 1023 units", {{long_text.c_str(), long_text.size(), 932}}, nullptr,
         long_wide, L""},
        {"not CP932", {{not_cp932, sizeof not_cp932 - 1, 932}}, caption_932, as_system_reads_it,
         L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BoxScript script{{IDOK}, 1};
        BoxTranscript transcript;
        BoxAnswerer answerer;
        ASSERT_TRUE(start_box_answerer(&answerer, &script, BOX_TIMEOUT_MS, &transcript))
            << transcript.error;
        const int rc = show_box_parts(c.parts.data(), c.parts.size(), c.caption, MB_OK);
        ASSERT_EQ(BOX_RUN_COMPLETED, finish_box_answerer(&answerer)) << transcript.error;

        EXPECT_EQ(IDOK, rc);
        ASSERT_EQ(1, transcript.box_count);
        EXPECT_FALSE(transcript.boxes[0].truncated);
        EXPECT_TRUE(c.text == transcript.boxes[0].text)
            << box_text_utf8(transcript.boxes[0].text);
        // The fallback's caption is read in the system's code page too.
        if (!c.caption_seen.empty()) {
            EXPECT_TRUE(c.caption_seen == transcript.boxes[0].caption)
                << box_text_utf8(transcript.boxes[0].caption);
        }
    }
}

TEST(NoOperation, ReturnsZeroWithoutTouchingTheLastError)
{
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, no_operation());
    EXPECT_EQ(0, no_operation());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

} // namespace
