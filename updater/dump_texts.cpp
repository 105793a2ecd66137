// The program's own record of what it knows, for everything around it that
// must not type it again: the release's players' note, the demo, the
// benchmark, the pictures, the docs and the checks.
//
//   dump_texts OUTPUT
//   dump_texts --values OUTPUT
//
// Without --values: every text of the program as a "NAME HEX" line, so that a
// decoder with its own CP932 tables can check the bytes that the compiler
// produced.
//
// With --values, lines that sh sources and Python's shlex splits:
//   the fixed values, NAME=NUMBER (sizes, lengths, buffer sizes) and
//   NAME='STRING' (names);
//   every text as a box shows it (formatted with the title), NAME_HEX=HEX;
//   the table of boxes: BOXES='ID ID ...' in the table's order, then for each
//   row ID_TEXT=NAME and ID_CAPTION=NAME (the names of its texts), ID_AFTER_PATH=
//   NAME or empty (the text after the path, for a box that names a file),
//   ID_BUTTONS=OK|YES,NO, ID_ICON=none|information, and ID_TEXT_HEX and
//   ID_CAPTION_HEX, its text and caption exactly as the box shows them (a box
//   that names a file: its text up to the path) and ID_AFTER_PATH_HEX.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "updater/updater.h"

#define NAMED(value) {#value, static_cast<int64_t>(value)}

namespace {

struct NamedNumber {
    const char* name;
    int64_t value;
};

const NamedNumber NUMBERS[] = {
    NAMED(ARCHIVE_SIZE_PATCH_MISSING),
    NAMED(ARCHIVE_SIZE_V100),
    NAMED(ARCHIVE_SIZE_V101),
    NAMED(UPDATE_HEAD_LENGTH),
    NAMED(REPLACED_HEAD_LENGTH),
    NAMED(KEPT_TAIL_LENGTH),
    NAMED(DIR_VALUE_CAPACITY),
    NAMED(COMPOSED_PATH_BYTES),
    NAMED(INSTANCE_NAME_BYTES),
    NAMED(MESSAGE_BUFFER_BYTES),
    NAMED(RESCUE_PATH_BYTES),
    NAMED(RESCUE_NAME_TRIES),
    NAMED(SPLICE_CHUNK_BYTES),
};

#undef NAMED
#define NAMED(value) {#value, value}

const NamedText NAMES[] = {
    NAMED(GUARD_MUTEX_NAME), NAMED(REGISTRY_KEY),          NAMED(REGISTRY_DIR_VALUE),
    NAMED(MARKER_INSTALL_INI), NAMED(MARKER_PAC_DIR),      NAMED(ARCHIVE_RELATIVE_PATH),
    NAMED(GAME_EXE_NAME),    NAMED(UPDATE_DATA_FILE),      NAMED(RESCUE_NAME),
};

#undef NAMED

// Whether a write to the output failed; checked once at the end, since a
// failure may only show when the buffered data is flushed anyway.
bool g_write_failed = false;

// Writes the pieces, in order, as they are: no piece is a format.
template <typename... Pieces>
void put(FILE* out, const Pieces*... pieces) {
    for (const char* piece : {pieces...}) {
        if (std::fputs(piece, out) < 0) g_write_failed = true;
    }
}

// A message on stderr; nothing is left to do when that fails.
template <typename... Pieces>
void complain(const Pieces*... pieces) {
    for (const char* piece : {pieces...}) (void)std::fputs(piece, stderr);
}

// lead, then the bytes of text as two hex digits each, and the line's end.
void put_hex(FILE* out, const char* lead, const char* text) {
    static const char DIGITS[] = "0123456789abcdef";
    put(out, lead);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        const char pair[] = {DIGITS[*p >> 4], DIGITS[*p & 0x0f], '\0'};
        put(out, pair);
    }
    put(out, "\n");
}

void write_texts(FILE* out) {
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        put(out, ALL_TEXTS[i].name);
        put_hex(out, " ", ALL_TEXTS[i].text);
    }
}

// Single quotes keep every byte as it is in sh and in shlex, but for the
// quote itself; the names are plain ASCII and a control byte would break a
// line, so anything else is refused rather than written wrong.
bool quotable(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < 0x20 || *p > 0x7e || *p == '\'') return false;
    }
    return true;
}

// Whether name is the name of text in ALL_TEXTS: the tools look a row's texts
// up by these names.
bool names_text(const char* name, const char* text) {
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        if (ALL_TEXTS[i].text == text) return std::strcmp(ALL_TEXTS[i].name, name) == 0;
    }
    return false;
}

// "ROW_FIELD=value".
void put_field(FILE* out, const BoxRow& row, const char* field, const char* value) {
    put(out, row.name, field, "=", value, "\n");
}

bool write_row(FILE* out, const BoxRow& row) {
    char text[MESSAGE_BUFFER_BYTES];
    char caption[MESSAGE_BUFFER_BYTES];
    if (!names_text(row.text_name, row.text) || !names_text(row.caption_name, row.caption) ||
        (row.text_after_path != nullptr &&
         !names_text(row.text_after_path_name, row.text_after_path))) {
        complain(row.name, " names a text that is not its own\n");
        return false;
    }
    if (!format_box(row.id, nullptr, text, caption)) {
        complain(row.name, " does not fit the message buffer\n");
        return false;
    }
    const bool path = row.text_after_path != nullptr;
    put_field(out, row, "_TEXT", row.text_name);
    put_field(out, row, "_CAPTION", row.caption_name);
    put_field(out, row, "_AFTER_PATH", path ? row.text_after_path_name : "");
    put_field(out, row, "_BUTTONS", row.buttons == BOX_STYLE_YES_NO ? "YES,NO" : "OK");
    put_field(out, row, "_ICON", row.icon == BOX_STYLE_INFORMATION ? "information" : "none");
    const struct {
        const char* field;
        const char* bytes;
    } shown[] = {
        {"_TEXT_HEX=", text},
        {"_CAPTION_HEX=", caption},
        {"_AFTER_PATH_HEX=", path ? row.text_after_path : ""},
    };
    for (const auto& part : shown) {
        put(out, row.name);
        put_hex(out, part.field, part.bytes);
    }
    return true;
}

bool write_values(FILE* out) {
    for (const NamedNumber& number : NUMBERS) {
        char digits[24];
        if (std::snprintf(digits, sizeof(digits), "%" PRId64, number.value) < 0) return false;
        put(out, number.name, "=", digits, "\n");
    }
    for (const NamedText& name : NAMES) {
        if (!quotable(name.text)) {
            complain(name.name, " cannot be quoted\n");
            return false;
        }
        put(out, name.name, "='", name.text, "'\n");
    }
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        if (!format_title_message(message_buffer, ALL_TEXTS[i].text)) {
            complain(ALL_TEXTS[i].name, " does not fit the message buffer\n");
            return false;
        }
        put(out, ALL_TEXTS[i].name);
        put_hex(out, "_HEX=", message_buffer);
    }
    put(out, "BOXES='");
    for (const BoxRow& row : BOXES) put(out, row.id == 0 ? "" : " ", row.name);
    put(out, "'\n");
    for (const BoxRow& row : BOXES) {
        if (!write_row(out, row)) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool values = argc == 3 && std::strcmp(argv[1], "--values") == 0;
    if (argc != 2 && !values) {
        complain("usage: dump_texts [--values] OUTPUT\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::perror(path);
        return 1;
    }
    if (values && !write_values(out)) {
        (void)std::fclose(out);
        return 1;
    }
    if (!values) write_texts(out);
    // A write error may only show when the buffered data is flushed.
    bool failed = std::ferror(out) != 0;
    failed = (std::fclose(out) != 0) || failed || g_write_failed;
    if (failed) {
        complain(path, ": write failed\n");
        return 1;
    }
    return 0;
}
