// Shift-JIS (code page 932) text and path utilities.
//
// Every string here is a NUL-terminated byte string owned by the caller. The
// walkers step one character at a time, so the trail byte of a double-byte
// character (0x5C in 0x83 0x5C, for one) is never taken for a backslash, a
// slash or a letter.
#pragma once

#include <cstddef>
#include <cstdint>

// MAX_PATH and its terminator: the size of every fixed path buffer.
constexpr size_t PATH_MAX_BYTES = 260;
constexpr size_t PATH_BUFFER_BYTES = PATH_MAX_BYTES + 1;

// ---- Shift-JIS character operations (fixed code page 932 rule) ----

// 1 for the lead bytes 0x81-0x9F and 0xE0-0xFC, 0 for every other byte.
extern const unsigned char sjis_lead_table[256];

bool sjis_is_lead(unsigned char b);
void sjis_to_lower(char* s);
void sjis_to_upper(char* s);
void sjis_replace_char(char* s, unsigned char from, unsigned char to);
// 1 when the last character of s is one byte long and equal to ch, else 0.
unsigned char sjis_ends_with_char(const char* s, unsigned char ch);

// ---- Path and string operations ----

// Byte-wise suffix test, ASCII letters folded; 1 or 0.
unsigned char ends_with_nocase(const char* str, const char* suffix);

// Assigns src (or empties the string, for a null src) into a heap string
// slot. The slot's holder owns the block and releases it with free().
void assign_string(char** slot, const char* src);

// File name of path (after the last '\\' or '/') into out, which holds at
// least PATH_BUFFER_BYTES; 1 when a name was stored, 0 when out was made empty.
int path_file_name(char* out, const char* path);

// Capacities of split_path's outputs, terminator included.
constexpr size_t SPLIT_DRIVE_BYTES = 3;
constexpr size_t SPLIT_PART_BYTES = 256;

// Splits path under the process's multibyte code page. Each output may be
// null; drive holds SPLIT_DRIVE_BYTES, directory and extension
// SPLIT_PART_BYTES each.
void split_path(const char* path, char* drive, char* directory, char* extension);

// Extension of path into ext (SPLIT_PART_BYTES); 1 when ext is given, else 0.
int path_extension(char* ext, const char* path);
