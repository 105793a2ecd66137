// Byte strings as hex, so that a failing case names its input bytes.
#pragma once

#include <cstdio>
#include <string>

inline std::string hex(const std::string& s) {
    std::string r;
    char b[4];
    for (unsigned char c : s) {
        snprintf(b, sizeof b, "%02X ", c);
        r += b;
    }
    return r;
}
