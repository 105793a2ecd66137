// Shift-JIS character operations. One step function decides how far a
// character reaches; every walker below goes through it, so the trail-byte
// rule lives in one place.
#include "text/text.h"

#include <cstring>

#define L1 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1
#define L0 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0

const unsigned char sjis_lead_table[256] = {
    L0, L0, L0, L0, L0, L0, L0, L0,             // 0x00-0x7F
    0,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x80-0x8F
    L1,                                         // 0x90-0x9F
    L0, L0, L0, L0,                             // 0xA0-0xDF
    L1,                                         // 0xE0-0xEF
    1,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0,  // 0xF0-0xFF
};

#undef L1
#undef L0

bool sjis_is_lead(unsigned char b) {
    return sjis_lead_table[b] != 0;
}

// A lead byte directly before the terminator is a character of one byte, so
// no walker steps past the NUL.
size_t sjis_char_length(const char* p) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return (sjis_is_lead(u[0]) && u[1] != 0) ? 2 : 1;
}

// Applies action to each single-byte character of s. The character is
// classified before the action runs, and the walk always steps over the byte
// that was there, whatever the action wrote.
template <typename Action>
static void sjis_for_each_single(char* s, Action action) {
    unsigned char* p = reinterpret_cast<unsigned char*>(s);
    while (*p != 0) {
        if (sjis_is_lead(*p)) {
            // A lead byte and its trail are never examined; a lone lead byte
            // before the terminator is left as it is and ends the walk.
            p += sjis_char_length(reinterpret_cast<const char*>(p));
            continue;
        }
        action(p);
        p += 1;
    }
}

void sjis_to_lower(char* s) {
    sjis_for_each_single(s, [](unsigned char* p) {
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<unsigned char>(*p + 0x20);
    });
}

void sjis_to_upper(char* s) {
    sjis_for_each_single(s, [](unsigned char* p) {
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<unsigned char>(*p - 0x20);
    });
}

void sjis_replace_char(char* s, unsigned char from, unsigned char to) {
    sjis_for_each_single(s, [from, to](unsigned char* p) {
        if (*p == from)
            *p = to;
    });
}

unsigned char sjis_ends_with_char(const char* s, unsigned char ch) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    const size_t n = strlen(s);
    if (n == 0)
        return 0;
    size_t i = 0;
    size_t last = 0;
    while (i < n) {
        last = i;
        i += sjis_char_length(s + i);
    }
    return (last == n - 1 && p[last] == ch) ? 1 : 0;
}
