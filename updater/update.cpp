// The plain parts of the update procedure: formatting, path composition,
// registry text, size measurement and classification.
#include "updater/updater.h"

#include <cstdio>
#include <cstring>

char message_buffer[MESSAGE_BUFFER_BYTES];

bool format_title_message(char (&buffer)[MESSAGE_BUFFER_BYTES], const char* text) {
    // The formats are the fixed texts of messages.cpp. '%' (0x25) is never
    // the second byte of a Shift-JIS character, so printf's byte-wise scan
    // cannot mistake part of a Japanese character for a conversion.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = snprintf(buffer, sizeof(buffer), text, GAME_TITLE);
#pragma GCC diagnostic pop
    if (length < 0 || static_cast<size_t>(length) >= sizeof(buffer)) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

// One of a box's strings into buffer, printed with the title when titled.
// A text without "%s" would come out of printf unchanged, but one with a '%'
// would not: the row's title flag decides whether printf sees it at all.
static bool format_part(char (&buffer)[MESSAGE_BUFFER_BYTES], const char* text, bool titled) {
    if (titled)
        return format_title_message(buffer, text);
    const size_t length = strlen(text);
    if (length >= sizeof(buffer)) {
        buffer[0] = '\0';
        return false;
    }
    memcpy(buffer, text, length + 1);
    return true;
}

// Appends path, then after, to the text in buffer. The path is copied, never
// printed as a format: a '%' in a folder name would otherwise be read as a
// conversion. false when a path of RESCUE_PATH_BYTES or more is given or the
// whole does not fit.
static bool append_path(char (&buffer)[MESSAGE_BUFFER_BYTES], const char* path,
                        const char* after, BoxPathSpan* span) {
    const void* end = memchr(path, '\0', RESCUE_PATH_BYTES);
    if (end == nullptr)
        return false;
    const size_t path_length = static_cast<size_t>(static_cast<const char*>(end) - path);
    const size_t head_length = strlen(buffer);
    const size_t after_length = strlen(after);
    if (path_length + after_length >= sizeof(buffer) - head_length)
        return false;
    memcpy(buffer + head_length, path, path_length);
    memcpy(buffer + head_length + path_length, after, after_length + 1);
    *span = {head_length, path_length};
    return true;
}

bool format_box(BoxId id, const char* path, char (&text)[MESSAGE_BUFFER_BYTES],
                char (&caption)[MESSAGE_BUFFER_BYTES], BoxPathSpan* span) {
    const BoxRow& row = BOXES[id];
    BoxPathSpan path_span = {0, 0};
    const bool fits = format_part(text, row.text, (row.title & TITLE_IN_TEXT) != 0) &&
                      (row.text_after_path == nullptr || path == nullptr ||
                       append_path(text, path, row.text_after_path, &path_span)) &&
                      format_part(caption, row.caption, (row.title & TITLE_IN_CAPTION) != 0);
    if (!fits) {
        text[0] = '\0';
        caption[0] = '\0';
        path_span = {0, 0};
    }
    if (span != nullptr)
        *span = path_span;
    return fits;
}

bool compose_path(char* out, size_t out_size, const char* prefix, const char* name) {
    if (out_size == 0)
        return false;
    const size_t prefix_length = strlen(prefix);
    const size_t name_length = strlen(name);
    if (prefix_length >= out_size || name_length >= out_size - prefix_length) {
        out[0] = '\0';
        return false;
    }
    memcpy(out, prefix, prefix_length);
    memcpy(out + prefix_length, name, name_length + 1);
    return true;
}

bool take_registry_text(char* buf, size_t capacity, size_t size) {
    if (capacity == 0 || size > capacity)
        return false;
    if (memchr(buf, '\0', size) != nullptr)
        return true;
    if (size == capacity) {
        buf[0] = '\0';
        return false;
    }
    buf[size] = '\0';
    return true;
}

VersionCode classify_archive_size(int64_t size) {
    if (size == ARCHIVE_SIZE_V100)
        return VERSION_100;
    if (size == ARCHIVE_SIZE_V101)
        return VERSION_101;
    if (size == ARCHIVE_SIZE_PATCH_MISSING)
        return VERSION_PATCH_MISSING;
    return VERSION_UNKNOWN;
}

// The C library's 32-bit ftell cannot tell a position of 2^31 or more; both
// runtimes offer a 64-bit pair.
static int seek_to_end(FILE* file) {
#ifdef _WIN32
    return _fseeki64(file, 0, SEEK_END);
#else
    return fseeko(file, 0, SEEK_END);
#endif
}

static int64_t tell_position(FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

// Compares length bytes from the current positions of a and b, a piece at a
// time; false at the first difference or when either ends first.
static bool same_bytes(FILE* a, FILE* b, size_t length) {
    constexpr size_t PIECE_BYTES = 4096;
    unsigned char from_a[PIECE_BYTES];
    unsigned char from_b[PIECE_BYTES];
    for (size_t done = 0; done < length;) {
        const size_t n = length - done < PIECE_BYTES ? length - done : PIECE_BYTES;
        if (fread(from_a, 1, n, a) != n || fread(from_b, 1, n, b) != n ||
            memcmp(from_a, from_b, n) != 0)
            return false;
        done += n;
    }
    return true;
}

static_assert(ARCHIVE_SIZE_V101 < ARCHIVE_SIZE_V100,
              "no version's size lies in the range of a cut-short rewrite");

bool is_interrupted_rewrite(const char* archive_path, int64_t archive_size,
                            const char* update_path) {
    // An empty archive counts: the truncating open leaves one, and whatever
    // else emptied it, the game cannot run on it. It has no head to compare,
    // so the update data need not even be readable. The placeholder's size
    // is a version of its own.
    if (archive_size == 0)
        return true;
    if (archive_size < 0 || archive_size >= ARCHIVE_SIZE_V101 ||
        archive_size == ARCHIVE_SIZE_PATCH_MISSING)
        return false;
    const size_t length = static_cast<size_t>(
        archive_size < UPDATE_HEAD_LENGTH ? archive_size : UPDATE_HEAD_LENGTH);
    FILE* archive = fopen(archive_path, "rb");
    if (archive == nullptr)
        return false;
    FILE* update = fopen(update_path, "rb");
    const bool same = update != nullptr && same_bytes(archive, update, length);
    // Only read from: a failed close loses nothing.
    if (update != nullptr)
        (void)fclose(update);
    (void)fclose(archive);
    return same;
}

bool measure_file_size(const char* path, int64_t* size) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return false;
    *size = seek_to_end(file) == 0 ? tell_position(file) : -1;
    if (*size < 0)
        *size = -1;
    // Only read from: a failed close loses nothing.
    (void)fclose(file);
    return true;
}
