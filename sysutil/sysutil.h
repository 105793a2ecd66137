// System utility library: file queries, zeroed allocation, directory listing,
// registry access, shell shortcuts and diagnostics.
//
// Names and paths are NUL-terminated byte strings in the system's ANSI code
// page (Shift-JIS on the systems the program serves).
//
// For a program of its own: the toolchain that text.h names, and STRICT
// handle types. The registry operations take HKEY as <windows.h> declares it
// under STRICT, its default: a pointer to struct HKEY__, which is part of
// their linked names. NO_STRICT makes it void*, which neither agrees with the
// declaration here nor links, so a file that includes this header leaves
// NO_STRICT undefined.
#pragma once

#ifdef NO_STRICT
#error "orvex/sysutil.h needs STRICT handle types: under NO_STRICT <windows.h> makes HKEY void*, while the library's registry functions take and link as struct HKEY__*; build this file without NO_STRICT"
#endif

#include <cstddef>
#include <cstdint>

// ---- File queries and zeroed allocation ----

#ifdef _WIN32
// The file queries and the directory listing (below) ask the system, so
// only Windows builds have them.

// Low 32 bits of the size of the first entry that the directory search
// returns for name (wildcards allowed); 0 when nothing matches.
uint32_t get_file_size(const char* name);
// Size of the one entry named by path, taken literally; -1 for a directory
// or any failure.
int64_t get_file_size64(const char* path);
// 1 for an existing entry that is not a directory, else 0.
unsigned char is_file(const char* path);
// 1 when the first entry that the search returns for name is a directory,
// or, where the search finds none, when name itself is one: a drive root
// ("C:\") and a path that ends in a backslash are directories too.
unsigned char is_directory(const char* name);
#endif

// size zero bytes from malloc, or null. The caller releases it with free().
void* alloc_zeroed(uint32_t size);

// ---- Directory listing ----

constexpr size_t LIST_DIRECTORY_BYTES = 261;
constexpr size_t LIST_MAX_EXTENSIONS = 16;
constexpr size_t LIST_EXTENSION_BYTES = 8;
constexpr size_t LIST_PATH_BYTES = 262;

struct FileList {
    char directory[LIST_DIRECTORY_BYTES];                       // in
    char extensions[LIST_MAX_EXTENSIONS][LIST_EXTENSION_BYTES]; // in
    int8_t extension_count;                                     // in
    int32_t capacity;                                           // in
    uint8_t sort;                                               // in
    char** names;                                               // out
    int32_t count;                                              // out
};

// Lists the plain files of list->directory whose names end in one of the
// extensions. 0 when the listing ran, 255 when no memory was to be had (or
// capacity is negative or too large for an array); after 255 the record is
// unchanged and nothing stays allocated. After 0 the caller owns list->names
// and its list->count strings and releases each string, then the array,
// with free(); an array left in the record by an earlier call is not freed.
// A directory of more than 259 bytes lists nothing, a file name that would
// not fit its LIST_PATH_BYTES block is left out, an extension entry without
// a NUL matches nothing and an extension_count above 16 counts as 16.
// Windows only.
#ifdef _WIN32
unsigned char list_files(FileList* list);
#endif

// ---- Shell shortcuts (operations below, Windows only) ----

// Longest link path that the shortcut operations accept, terminator excluded
// (MAX_PATH with its terminator); a longer one is refused before anything is
// written.
constexpr size_t SHORTCUT_LINK_MAX_BYTES = 259;

#ifdef _WIN32
// The registry, shortcut and diagnostic operations exist only on Windows.
// HKEY as <windows.h> declares it (STRICT), so callers need not include it.
struct HKEY__;
typedef struct HKEY__* HKEY;

// ---- Registry access ----

// 0 when the value was read into buffer, 255 otherwise. The key is opened for
// reading only, so a key that the user may read but not change is read too.
// The value's bytes are copied as stored; a string value (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) whose data lacks a terminator gets one right
// after the data, and is refused (255) when the buffer has no room for it.
// After 255 a buffer of at least one byte holds the empty string. Nothing is
// written past buffer_size bytes.
unsigned char read_registry_string(HKEY root, const char* key_path,
                                   const char* value_name, char* buffer,
                                   uint32_t buffer_size);
// 0 when the value is stored, its key (and every missing key above it)
// created on the way; -1 when the key could not be had or the value not be
// stored, after a message box that says so. Only the right to set values is
// asked for on an existing key.
int32_t write_registry_string(HKEY root, const char* key_path,
                              const char* value_name, const char* text);

// ---- Shell shortcuts ----

// 1 when the shortcut file was saved, 0 otherwise. The working directory is
// the target's drive and directory (mode 0 or less) as split_path gives them
// under the process's code page. Where nothing has described that (text.h),
// it is described for the call and forgotten again: a program that makes
// shortcuts from several threads describes it once at start-up
// (init_multibyte_code_page), and then nothing process-wide is written.
int32_t create_shortcut(const char* link_path, const char* target_path,
                        const char* arguments, int32_t show_command,
                        int32_t working_directory_mode);
// Places group_name\shortcut_name.lnk below the user's Programs folder,
// creating the folders on the way. Always 0; nothing is created when the
// Programs folder is unknown or the link path would be too long.
int32_t create_programs_shortcut(const char* group_name,
                                 const char* shortcut_name,
                                 const char* target_path,
                                 int32_t working_directory_mode);

// ---- Diagnostics ----

// The system's text for the calling thread's last error, copied whole with
// its terminator into buffer (buffer_size bytes). buffer holds the empty
// string when the system has no text for the code or when the text does not
// fit; nothing is written when buffer_size is 0.
void last_error_text(char* buffer, size_t buffer_size);
// A box under the caption "ORVEX Info"; always 0. The text is in the
// system's ANSI code page, as every other name here.
unsigned char show_info(const char* text);
// A box without owner window whose text and caption (null: the system's
// default title) are Shift-JIS (code page 932) whatever the system's code
// page: they are shown through UTF-16, so they read the same on a system of
// any language, and whole at any length. Where they are not valid CP932 they
// go to the system as they are (MessageBoxA, its ANSI code page), so that the
// box still comes. The button code (IDOK, IDYES, ...), or 0 when no box could
// be shown (the system refused it, or no memory for its text).
int show_cp932_box(const char* text, const char* caption, unsigned int style);

// The code page of a part that the system named (a file's path): the
// system's ANSI code page, CP_ACP.
constexpr unsigned int BOX_PART_SYSTEM_CODE_PAGE = 0;
// One part of a box's text: length bytes (no terminator needed) in code page
// code_page, 932 for the program's own texts.
struct BoxTextPart {
    const char* bytes;
    size_t length;
    unsigned int code_page;
};
// As show_cp932_box, for a text joined from parts in different code pages,
// such as a path in the system's code page between texts in 932: each part
// is converted from its own, so the path reads as the system names it. Where
// any part or the caption does not convert, the parts' bytes go to the
// system joined, as show_cp932_box's do.
int show_box_parts(const BoxTextPart* parts, size_t part_count, const char* caption,
                   unsigned int style);
#endif

// Does nothing; always 0.
int32_t no_operation();
