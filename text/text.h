// Shift-JIS (code page 932) text and path utilities.
//
// For a program of its own: the installed library is static, built by
// mingw-w64 g++ against msvcrt for Windows (the native build: by the host's
// g++ for it), and its functions carry g++'s C++ names, so the program is
// built by the same kind of compiler; find_package(orvex) refuses another,
// pkg-config cannot. On Windows, a program that splits paths calls
// init_multibyte_code_page() once at start-up, before the first split.
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

// The code page of Shift-JIS as the system numbers it.
constexpr unsigned int SHIFT_JIS_CODE_PAGE = 932;

// 1 for the lead bytes 0x81-0x9F and 0xE0-0xFC, 0 for every other byte.
extern const unsigned char sjis_lead_table[256];

bool sjis_is_lead(unsigned char b);
// Length of the character at p (p is not at the terminator): 2 for a lead
// byte and the byte after it, 1 otherwise, also for a lone lead byte before
// the terminator. Every walker of the fixed Shift-JIS rule steps by it.
size_t sjis_char_length(const char* p);
void sjis_to_lower(char* s);
void sjis_to_upper(char* s);
void sjis_replace_char(char* s, unsigned char from, unsigned char to);
// 1 when the last character of s is one byte long and equal to ch, else 0.
unsigned char sjis_ends_with_char(const char* s, unsigned char ch);

// ---- The process's multibyte code page ----
//
// Path splitting and directory creation classify bytes by the code page that
// the C runtime uses for its multibyte routines, which the program sets at
// start-up to the system's ANSI code page. These functions hold a description
// of it: its number and its lead bytes. A byte that is not a lead byte is a
// single-byte character; a lead byte forms one character with the byte after
// it, whatever that byte is. Until something describes it, the description is
// code page 932 (Shift-JIS), the code page of the systems the program serves.
// On Windows, create_directories and init_module_paths describe the
// runtime's code page themselves when nothing has, and sysutil.h's
// create_shortcut does for its own call only; split_path, being plain code,
// cannot, so a program that splits paths calls init_multibyte_code_page at
// start-up.

// Describes code page code_page by its 256 lead-byte entries (1 or 0).
void mbcp_set(unsigned int code_page, const unsigned char lead[256]);
// Code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC.
void mbcp_select_shift_jis();
// A single-byte code page: every byte is a character of its own.
void mbcp_select_single_byte(unsigned int code_page);
unsigned int mbcp_code_page();
// True once a setter or the start-up call below has described the code page.
bool mbcp_is_described();
bool mbcp_is_lead(unsigned char b);
// Length of the character at p under the described code page (p is not at
// the terminator): 2 for a lead byte and the byte after it, 1 otherwise, also
// for a lead byte directly before the terminator.
size_t mbcp_char_length(const char* p);

#ifdef _WIN32
// Sets the C runtime's multibyte code page to the system's ANSI code page
// (_setmbcp(_MB_CP_ANSI)) and describes it above. The program calls it once at
// start-up; returns the code page now in force.
unsigned int init_multibyte_code_page();
// Describes the C runtime's multibyte code page as it stands, without
// changing it; returns its number.
unsigned int describe_multibyte_code_page();
// The same, unless something has described the code page already.
void ensure_multibyte_code_page_described();
#endif

// ---- Path and string operations ----

// Byte-wise suffix test, ASCII letters folded; 1 or 0.
unsigned char ends_with_nocase(const char* str, const char* suffix);

// Assigns src (or empties the string, for a null src) into a heap string
// slot. A block never shrinks; a longer src gets a new block of exactly its
// length plus one, and src may lie anywhere, in the old block too. When no
// block can be had the slot keeps its block (or stays null) and holds the
// empty string, as after a null src, never its old text.
// The slot's holder owns the block and releases it with free().
void assign_string(char** slot, const char* src);

// File name of path (after the last '\\' or '/', by the fixed Shift-JIS rule)
// into out, which holds at least PATH_BUFFER_BYTES; 1 when a name was stored,
// 0 when out was made empty (no separator, nothing after it, or a name longer
// than PATH_MAX_BYTES).
int path_file_name(char* out, const char* path);

// Capacities of split_path's outputs, terminator included.
constexpr size_t SPLIT_DRIVE_BYTES = 3;
constexpr size_t SPLIT_PART_BYTES = 256;

// Splits path under the process's multibyte code page into its drive ("c:"
// or empty), its directory (ending in its separator, or empty) and the
// extension of its last component (from the last full stop, or empty). Each
// output may be null; drive holds SPLIT_DRIVE_BYTES, directory and extension
// SPLIT_PART_BYTES each. A longer directory or extension is cut to
// SPLIT_PART_BYTES - 1 bytes without splitting a double-byte character.
void split_path(const char* path, char* drive, char* directory, char* extension);

// Extension of path into ext (SPLIT_PART_BYTES); 1 when ext is given, else 0,
// so an empty extension also yields 1.
int path_extension(char* ext, const char* path);

// The program's own module strings, empty until init_module_paths fills them.
// module_path: the executable's full path, lower-cased; module_instance_name:
// the same with every single-byte backslash turned into a colon;
// module_dir: its drive and directory, ending in one backslash.
extern char module_path[PATH_BUFFER_BYTES];
extern char module_instance_name[PATH_BUFFER_BYTES];
extern char module_dir[PATH_BUFFER_BYTES];

#ifdef _WIN32
// Fills the module strings from the running executable's path. When the
// system gives no path, or only a cut one (longer than PATH_MAX_BYTES), all
// three are empty.
void init_module_paths();

// Creates every directory along path with CreateDirectoryA, outermost first:
// for each backslash that is a single-byte character under the process's
// multibyte code page, the bytes before it. The part after the last
// backslash is never created, and a path longer than PATH_MAX_BYTES creates
// nothing. Failures, existing directories included, are passed over.
void create_directories(const char* path);
#endif
