// Shift-JIS character operations, on byte strings that hold the cases the
// walkers exist for: trail bytes 0x5C, half-width katakana, lone lead bytes.
#include "text/text.h"
#include "tests/text/bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

enum Op { LOWER, UPPER, BACKSLASH_TO_COLON, SLASH_TO_BACKSLASH, ZERO_TO_X,
          LEAD_TO_X, X_TO_LEAD };

struct InPlaceCase {
    Op op;
    const char* in;
    const char* out;
};

const InPlaceCase kInPlace[] = {
    // ASCII letters change; the full-width letters 0x82 0x60 0x82 0x61 do not.
    {LOWER, "C:\\GAMES\\\x82\x60\x82\x61", "c:\\games\\\x82\x60\x82\x61"},
    {UPPER, "c:\\games\\\x82\x81\x82\x82", "C:\\GAMES\\\x82\x81\x82\x82"},
    // A trail byte that looks like a letter (0x83 0x41 = ア) stays.
    {LOWER, "\x83\x41" "A", "\x83\x41" "a"},
    {UPPER, "\x83\x61" "a", "\x83\x61" "A"},
    // 0x80, 0xA0 and 0xFD-0xFF are single bytes: the next byte is a character.
    {LOWER, "\x80" "A", "\x80" "a"},
    {LOWER, "\xA0" "A\xFD" "B\xFE" "C\xFF" "D", "\xA0" "a\xFD" "b\xFE" "c\xFF" "d"},
    // Half-width katakana are single bytes and never change case.
    {UPPER, "\xA1\xB1\xDF" "a", "\xA1\xB1\xDF" "A"},
    {LOWER, "\xA1\xB1\xDF" "A", "\xA1\xB1\xDF" "a"},
    // A lone lead byte before the terminator ends the walk unchanged.
    {LOWER, "A\x82", "a\x82"},
    {UPPER, "\x82", "\x82"},
    // Only single-byte backslashes become colons.
    {BACKSLASH_TO_COLON, "\x95\x5C\x5C", "\x95\x5C:"},
    {BACKSLASH_TO_COLON, "\xB1\x5C", "\xB1:"},
    {BACKSLASH_TO_COLON, "c:\\\x83\x5C\\velk.exe", "c::\x83\x5C:velk.exe"},
    {BACKSLASH_TO_COLON, "\\\\", "::"},
    {SLASH_TO_BACKSLASH, "c:/a/\x83/b", "c:\\a\\\x83/b"},
    // from 0 and from a lead-byte value match nothing.
    {ZERO_TO_X, "abc", "abc"},
    {LEAD_TO_X, "\x82\x82\x82", "\x82\x82\x82"},
    // Writing a lead-byte value does not pair it with the next byte.
    {X_TO_LEAD, "xx", "\x82\x82"},
};

void apply(Op op, char* s) {
    switch (op) {
    case LOWER: sjis_to_lower(s); break;
    case UPPER: sjis_to_upper(s); break;
    case BACKSLASH_TO_COLON: sjis_replace_char(s, '\\', ':'); break;
    case SLASH_TO_BACKSLASH: sjis_replace_char(s, '/', '\\'); break;
    case ZERO_TO_X: sjis_replace_char(s, 0, 'x'); break;
    case LEAD_TO_X: sjis_replace_char(s, 0x82, 'x'); break;
    case X_TO_LEAD: sjis_replace_char(s, 'x', 0x82); break;
    }
}

TEST(SjisInPlace, ChangesOnlySingleByteCharacters) {
    for (size_t i = 0; i < sizeof kInPlace / sizeof kInPlace[0]; ++i) {
        const InPlaceCase& c = kInPlace[i];
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << hex(c.in));
        const size_t n = strlen(c.in);
        char buf[64];
        // Marker bytes after the terminator catch a walk that runs past it.
        memset(buf, 0xBD, sizeof buf);
        memcpy(buf, c.in, n + 1);
        apply(c.op, buf);
        EXPECT_EQ(hex(c.out), hex(buf));
        EXPECT_EQ(0, buf[n]);
        for (size_t k = n + 1; k < sizeof buf; ++k)
            ASSERT_EQ(static_cast<char>(0xBD), buf[k]) << "byte " << k;
    }
}

TEST(SjisIsLead, MatchesTheShiftJisLeadRanges) {
    int leads = 0;
    for (int b = 0; b < 256; ++b) {
        const bool expected = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(expected, sjis_is_lead(static_cast<unsigned char>(b))) << b;
        leads += sjis_lead_table[b];
    }
    EXPECT_EQ(60, leads);
}

TEST(SjisEndsWithChar, LooksAtTheLastCharacterOnly) {
    const struct {
        const char* s;
        unsigned char ch;
        unsigned char expected;
    } cases[] = {
        {"", '\\', 0},
        {"\\", '\\', 1},
        {"C:\\Games\\", '\\', 1},
        {"C:\\Games", '\\', 0},
        {"\x83\x5C", '\\', 0},
        {"\x83\x5C\x5C", '\\', 1},
        {"a\x95\x5C", '\\', 0},
        {"\xB1\x5C", '\\', 1},  // half-width katakana then a backslash
        {"a\x82", 0x82, 1},      // a lone lead byte is compared as it stands
        {"\x82\x82", 0x82, 0},   // ...but a trail byte never is
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << hex(cases[i].s));
        EXPECT_EQ(cases[i].expected, sjis_ends_with_char(cases[i].s, cases[i].ch));
    }
}

}  // namespace
