// The updater: its fixed values, its message texts, and the update procedure
// that WinMain runs once.
//
// Every string is a NUL-terminated byte string in code page 932. The texts
// live in messages.cpp, a UTF-8 source compiled to CP932, so each literal
// holds exactly the bytes of the program's texts (show_box shows them
// through UTF-16, so they read the same under every system code page).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "probe/probe.h"
#include "text/text.h"

// ---- UpdateParameters ----
// Everything that ties the program to its one game and its one update. The
// registry root (HKEY_CURRENT_USER) is named in update_win.cpp: only the
// *_win.cpp files (update_win.cpp, main_win.cpp) may see Windows types, and
// this header stays free of them.

constexpr const char GUARD_MUTEX_NAME[] = "ORVEX_Updater";
constexpr const char REGISTRY_KEY[] = "Software\\Tessaly\\velkin";
constexpr const char REGISTRY_DIR_VALUE[] = "Dir";
// Largest accepted "Dir" value, terminator included: 260 bytes of path text.
constexpr size_t DIR_VALUE_CAPACITY = 261;
constexpr const char MARKER_INSTALL_INI[] = "inst.ini";
constexpr const char MARKER_PAC_DIR[] = "pac";
constexpr const char ARCHIVE_RELATIVE_PATH[] = "pac\\update1.ovp";
constexpr const char GAME_EXE_NAME[] = "velk.exe";
constexpr const char UPDATE_DATA_FILE[] = "pikusuna_update.dat";

constexpr int64_t ARCHIVE_SIZE_PATCH_MISSING = 1;
constexpr int64_t ARCHIVE_SIZE_V100 = 638157110;
constexpr int64_t ARCHIVE_SIZE_V101 = 638151018;
constexpr int64_t UPDATE_HEAD_LENGTH = 164457;
constexpr int64_t REPLACED_HEAD_LENGTH = 170549;
constexpr int64_t KEPT_TAIL_LENGTH = 637986561;

static_assert(REPLACED_HEAD_LENGTH + KEPT_TAIL_LENGTH == ARCHIVE_SIZE_V100,
              "the old head and the kept tail make up the 1.00 archive");
static_assert(UPDATE_HEAD_LENGTH + KEPT_TAIL_LENGTH == ARCHIVE_SIZE_V101,
              "the new head and the kept tail make up the 1.01 archive");

// The longest name ever appended to the installation prefix.
constexpr size_t LONGEST_RELATIVE_NAME_BYTES = sizeof(ARCHIVE_RELATIVE_PATH) - 1;
static_assert(sizeof(MARKER_INSTALL_INI) - 1 <= LONGEST_RELATIVE_NAME_BYTES, "");
static_assert(sizeof(MARKER_PAC_DIR) - 1 <= LONGEST_RELATIVE_NAME_BYTES, "");
static_assert(sizeof(GAME_EXE_NAME) - 1 <= LONGEST_RELATIVE_NAME_BYTES, "");

// A composed path: the longest prefix, the longest name and the terminator.
constexpr size_t COMPOSED_PATH_BYTES =
    (DIR_VALUE_CAPACITY - 1) + LONGEST_RELATIVE_NAME_BYTES + 1;
// The game's instance name is formed from prefix + GAME_EXE_NAME.
static_assert(INSTANCE_NAME_BYTES >= (DIR_VALUE_CAPACITY - 1) + sizeof(GAME_EXE_NAME),
              "the instance name buffer holds the longest prefix and the executable name");

// Size of message_buffer and of the caption buffer of the boxes.
constexpr size_t MESSAGE_BUFFER_BYTES = 1024;

// ---- Message texts ----
// Error texts break lines with "\n" alone, the two confirmations with "\r\n".

extern const char GAME_TITLE[];
extern const char MSG_NOT_INSTALLED[];
extern const char MSG_GAME_RUNNING[];
extern const char MSG_ARCHIVE_BUSY[];
extern const char MSG_UPDATE_DATA_MISSING[];
extern const char MSG_PATCH_MISSING[];
extern const char MSG_ALREADY_APPLIED[];
extern const char MSG_CONFIRM_DETECTED[];
extern const char MSG_CONFIRM_START[];
extern const char MSG_CANCELLED[];
extern const char MSG_SUCCESS[];
extern const char MSG_WRITE_FAILED[];
// The splice could not get the memory for its two blocks.
extern const char MSG_OUT_OF_MEMORY[];
// Neither the new archive nor the old one could be written to the archive's
// place; the old one was saved elsewhere. The copy's path goes between the
// two texts (format_box).
extern const char MSG_ARCHIVE_RESCUED[];
extern const char MSG_ARCHIVE_RESCUED_ACTION[];
// As above, and no copy could be saved either: the archive is damaged.
extern const char MSG_ARCHIVE_DAMAGED[];
// The archive is what a rewrite cut short leaves (is_interrupted_rewrite).
extern const char MSG_UPDATE_INTERRUPTED[];

extern const char CAP_UPDATE[];
extern const char CAPTION_ERROR[];
extern const char CAPTION_ERROR_NO1[];
extern const char CAPTION_ERROR_NO2[];
extern const char CAPTION_ERROR_NO3[];
extern const char CAPTION_CANCELLED[];
extern const char CAPTION_DONE[];
extern const char CAPTION_FAILED[];

// Every text above under its identifier, for tools that check the bytes.
struct NamedText {
    const char* name;
    const char* text;
};
extern const NamedText ALL_TEXTS[];
extern const size_t ALL_TEXTS_COUNT;

// ---- The boxes ----
// Every message box that the program can show is one row of BOXES, and every
// box is shown through its row: the stages name the row, never a text. The
// tools around the program (the dump, the players' note, the pictures, the
// end-to-end tests, the docs) read the same rows.

// In the order in which a player may meet them.
enum BoxId : int {
    BOX_NOT_INSTALLED_NO1,
    BOX_NOT_INSTALLED_NO2,
    BOX_NOT_INSTALLED_NO3,
    BOX_GAME_RUNNING,
    BOX_ARCHIVE_BUSY,
    BOX_UPDATE_DATA_MISSING,
    BOX_PATCH_MISSING,
    BOX_ALREADY_APPLIED,
    BOX_UPDATE_INTERRUPTED,
    BOX_CONFIRM_DETECTED,
    BOX_CONFIRM_START,
    BOX_SUCCESS,
    BOX_CANCELLED,
    BOX_OUT_OF_MEMORY,
    BOX_WRITE_FAILED,
    BOX_ARCHIVE_RESCUED,
    BOX_ARCHIVE_DAMAGED,
    BOX_COUNT
};

// Where the game's title goes: printed into the text, the caption, or both
// (format_title_message).
enum BoxTitle : unsigned {
    TITLE_NOWHERE = 0,
    TITLE_IN_TEXT = 1,
    TITLE_IN_CAPTION = 2,
    TITLE_IN_BOTH = TITLE_IN_TEXT | TITLE_IN_CAPTION,
};

// A box's buttons and icon, with the values of the platform's MB_ flags
// (update_win.cpp asserts that they agree); its style is the two or-ed.
enum BoxButtonStyle : unsigned {
    BOX_STYLE_OK = 0x0,      // MB_OK
    BOX_STYLE_YES_NO = 0x4,  // MB_YESNO
};
enum BoxIconStyle : unsigned {
    BOX_STYLE_NO_ICON = 0x0,
    BOX_STYLE_INFORMATION = 0x40,  // MB_ICONINFORMATION
};

struct BoxRow {
    const char* name;          // the row's id by its name, "BOX_SUCCESS"
    const char* text_name;     // the text's name in ALL_TEXTS, "MSG_SUCCESS"
    const char* text;
    const char* caption_name;  // the caption's name in ALL_TEXTS
    const char* caption;
    // For a box that names a file: the text that follows the file's path,
    // which follows text (BOX_ARCHIVE_RESCUED). Null for every other box.
    const char* text_after_path_name;
    const char* text_after_path;
    BoxId id;
    BoxTitle title;
    BoxButtonStyle buttons;
    BoxIconStyle icon;
};
extern const BoxRow BOXES[BOX_COUNT];

// Where a box's text holds the path it names: its bytes from at, length
// bytes long; length 0 for a text without one. The path is in the system's
// code page, the rest of the text in 932.
struct BoxPathSpan {
    size_t at;
    size_t length;
};

// The text and the caption of a box as the player sees them: formatted with
// the title where its row says so, and for a row with text_after_path, with
// path copied as it is (never read as a format) between its two texts,
// where *span (when given) tells it lies; with a null path such a row gives
// its first text alone. false, with both buffers empty, when the result does
// not fit: a path of RESCUE_PATH_BYTES or more (every shorter one fits,
// which messages.cpp asserts).
bool format_box(BoxId id, const char* path, char (&text)[MESSAGE_BUFFER_BYTES],
                char (&caption)[MESSAGE_BUFFER_BYTES], BoxPathSpan* span = nullptr);

// ---- Formatting ----

extern char message_buffer[MESSAGE_BUFFER_BYTES];

// Prints text into buffer with GAME_TITLE as its only argument (printf rules:
// "%s" becomes the title, a text without it is copied unchanged). true when
// the whole result fit; otherwise buffer holds the empty string, never a cut
// text.
bool format_title_message(char (&buffer)[MESSAGE_BUFFER_BYTES], const char* text);

// ---- Paths ----

// Writes prefix immediately followed by name into out (out_size bytes, for
// the terminator too). Refuses with false and an empty out when it does not
// fit; nothing is ever cut.
bool compose_path(char* out, size_t out_size, const char* prefix, const char* name);

// Takes the bytes of a registry value that the query put into buf (size
// bytes of capacity bytes) as a string: it ends at its first NUL, or after its
// last byte when it holds none, in which case the terminator is added after
// it. A value without a NUL that fills the whole buffer is longer than
// capacity - 1 bytes of text and is refused (false).
bool take_registry_text(char* buf, size_t capacity, size_t size);

// ---- Archive classification ----

enum VersionCode : int {
    VERSION_PATCH_MISSING = 990,
    VERSION_100 = 1000,
    VERSION_101 = 1010,
    VERSION_UNKNOWN = 9999,
};

// size is the archive's byte count, or negative when it could not be taken.
VersionCode classify_archive_size(int64_t size);

// Opens path for binary reading and takes its size by seeking to the end.
// false when the file cannot be opened. A size that the stream cannot tell
// is stored as -1. Sizes of 2^31 bytes and more are taken exactly (they
// classify as VERSION_UNKNOWN all the same).
bool measure_file_size(const char* path, int64_t* size);

// Whether the archive at archive_path, measured at archive_size bytes, is
// what this updater's own rewrite leaves when it is cut short (the process
// ended, the power lost): the rewrite truncates the archive and writes the
// update data first, so such a file is shorter than ARCHIVE_SIZE_V101 bytes
// and starts with the update data's first bytes (as many as it holds,
// UPDATE_HEAD_LENGTH at most). An empty archive is one: the truncating open
// leaves it. false for every other size (the placeholder's included), and
// whenever either file cannot be read that far.
bool is_interrupted_rewrite(const char* archive_path, int64_t archive_size,
                            const char* update_path);

// ---- Archive splice ----

// The file operations of the splice, routed through one table so that tests
// can make a chosen allocation, read, write, flush, commit or close fail. The
// program never changes it; splice_io_defaults() puts the C library's
// functions back.
struct SpliceIo {
    void* (*alloc)(size_t size);
    void (*release)(void* block);
    FILE* (*open)(const char* path, const char* mode);
    // Opens a file that does not exist yet for binary writing; null when it
    // exists (errno EEXIST) or cannot be created. Never replaces a file.
    FILE* (*create)(const char* path);
    size_t (*read)(void* buffer, size_t size, size_t count, FILE* file);
    size_t (*write)(const void* buffer, size_t size, size_t count, FILE* file);
    int (*flush)(FILE* file);
    // Hands the file's written bytes to the disk (_commit, which is
    // FlushFileBuffers, on Windows; fsync elsewhere): 0 once they are there.
    int (*commit)(FILE* file);
    int (*close)(FILE* file);
};
extern SpliceIo splice_io;
void splice_io_defaults();

// Largest single read or write. Some network file systems fail one transfer
// of 64 MiB or more, so the blocks move in pieces of this size.
constexpr size_t SPLICE_CHUNK_BYTES = size_t{16} * 1024 * 1024;

enum SpliceResult : int {
    SPLICE_DONE,                 // the new archive is written, committed and closed
    SPLICE_OUT_OF_MEMORY,        // a block could not be allocated; nothing written
    SPLICE_UPDATE_DATA_UNREADABLE,  // missing, short or unreadable; nothing written
    SPLICE_ARCHIVE_UNREADABLE,   // not readable whole as measured; nothing written
    SPLICE_WRITE_FAILED,         // not opened for writing, or written back as it was
    SPLICE_ARCHIVE_RESCUED,      // neither written nor written back; the old archive
                                 // was saved as a new file (SpliceOutcome::rescue_path)
    SPLICE_RESTORE_FAILED,       // neither written nor written back nor saved elsewhere
};

// The lengths of one splice: the new file is the first head_length bytes of
// the update data followed by the archive from replaced_length to its end.
struct SpliceLayout {
    size_t archive_size;
    size_t head_length;
    size_t replaced_length;
};
constexpr SpliceLayout UPDATE_SPLICE_LAYOUT = {
    static_cast<size_t>(ARCHIVE_SIZE_V100),
    static_cast<size_t>(UPDATE_HEAD_LENGTH),
    static_cast<size_t>(REPLACED_HEAD_LENGTH),
};

// The old archive, when it could be neither replaced nor written back, is
// saved under the first of these names that does not exist yet: RESCUE_NAME,
// then RESCUE_NAME followed by 2, 3, ... RESCUE_NAME_TRIES.
constexpr const char RESCUE_NAME[] = "update1.ovp.backup";
constexpr int RESCUE_NAME_TRIES = 9;
// The longest full path of the saved copy, terminator included: a Windows
// path of MAX_PATH (260) bytes at most. A longer one could not be opened by
// its name anyway, so no copy is made there.
constexpr size_t RESCUE_PATH_BYTES = 261;

struct SpliceOutcome {
    SpliceResult result;
    // The full path of the saved copy for SPLICE_ARCHIVE_RESCUED, else empty.
    char rescue_path[RESCUE_PATH_BYTES];
};

// Splices update_path into archive_path by layout. Nothing is written unless
// both sources were read whole; the new archive counts as written only once
// it is flushed, committed to the disk and closed. Its head is committed
// before the rest is written, and its last byte only after everything before
// it is committed. A failed write puts the old archive back, its last byte
// likewise apart; if that fails too, the old archive is written as a new
// file into rescue_folder (a prefix such as "dir\\", or "" for the current
// directory).
SpliceOutcome splice_files(const char* archive_path, const char* update_path,
                           const SpliceLayout& layout, const char* rescue_folder);

// The splice of this update: prefix + ARCHIVE_RELATIVE_PATH with
// UPDATE_DATA_FILE from the current directory, which also takes the copy.
SpliceOutcome splice_archive(const char* prefix);

// The one message box that reports a splice result.
BoxId splice_result_box(SpliceResult result);

// ---- The procedure (Windows only) ----

// Stage 1's findings.
enum InstallLookup : int {
    INSTALL_FOUND,       // prefix holds the installation directory
    INSTALL_NO_KEY,      // the key is missing or cannot be opened with full access
    INSTALL_NO_VALUE,    // the value is missing, unreadable or too long
    INSTALL_INCOMPLETE,  // one or more of the three markers is missing
};

// Reads the string value value_name of HKEY_CURRENT_USER\key into prefix and
// tests the three installation markers under it (all three, always).
InstallLookup lookup_installation(const char* key, const char* value_name,
                                  char (&prefix)[DIR_VALUE_CAPACITY]);

// Takes the current directory and the program's folder out of the search for
// DLLs that are loaded at run time; called first thing at start-up.
void restrict_dll_search();

// One message box without owner window, its CP932 text and caption shown
// the same under every system code page (show_cp932_box): the button code,
// or 0 when the box could not be shown.
int show_box(const char* text, const char* caption, unsigned int style);
// Box id, formatted by format_box (path: for a box that names a file, in the
// system's code page) into message_buffer and the caption buffer, and shown
// as show_box shows a text, the path converted from the system's code page
// rather than from 932. A path too long for the text leaves it out, so the
// box still comes. The button code, or 0 when the box could not be shown.
int show_program_box(BoxId id, const char* path);

// Runs the four stages; 0 after a completed update, -1 after any message
// that ends it early.
int run_update();
