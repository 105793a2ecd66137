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

void write_hex(FILE* out, const char* text) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t j = 0; j < std::strlen(text); ++j) {
        std::fprintf(out, "%02x", bytes[j]);
    }
}

void write_texts(FILE* out) {
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        std::fprintf(out, "%s ", ALL_TEXTS[i].name);
        write_hex(out, ALL_TEXTS[i].text);
        std::fputc('\n', out);
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

bool write_row(FILE* out, const BoxRow& row) {
    char text[MESSAGE_BUFFER_BYTES];
    char caption[MESSAGE_BUFFER_BYTES];
    if (!names_text(row.text_name, row.text) || !names_text(row.caption_name, row.caption) ||
        (row.text_after_path != nullptr &&
         !names_text(row.text_after_path_name, row.text_after_path))) {
        std::fprintf(stderr, "%s names a text that is not its own\n", row.name);
        return false;
    }
    if (!format_box(row.id, nullptr, text, caption)) {
        std::fprintf(stderr, "%s does not fit the message buffer\n", row.name);
        return false;
    }
    std::fprintf(out, "%s_TEXT=%s\n%s_CAPTION=%s\n%s_AFTER_PATH=%s\n", row.name, row.text_name,
                 row.name, row.caption_name, row.name,
                 row.text_after_path != nullptr ? row.text_after_path_name : "");
    std::fprintf(out, "%s_BUTTONS=%s\n%s_ICON=%s\n", row.name,
                 row.buttons == BOX_STYLE_YES_NO ? "YES,NO" : "OK", row.name,
                 row.icon == BOX_STYLE_INFORMATION ? "information" : "none");
    std::fprintf(out, "%s_TEXT_HEX=", row.name);
    write_hex(out, text);
    std::fprintf(out, "\n%s_CAPTION_HEX=", row.name);
    write_hex(out, caption);
    std::fprintf(out, "\n%s_AFTER_PATH_HEX=", row.name);
    if (row.text_after_path != nullptr) write_hex(out, row.text_after_path);
    std::fputc('\n', out);
    return true;
}

bool write_values(FILE* out) {
    for (const NamedNumber& number : NUMBERS) {
        std::fprintf(out, "%s=%" PRId64 "\n", number.name, number.value);
    }
    for (const NamedText& name : NAMES) {
        if (!quotable(name.text)) {
            std::fprintf(stderr, "%s cannot be quoted\n", name.name);
            return false;
        }
        std::fprintf(out, "%s='%s'\n", name.name, name.text);
    }
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        if (!format_title_message(message_buffer, ALL_TEXTS[i].text)) {
            std::fprintf(stderr, "%s does not fit the message buffer\n", ALL_TEXTS[i].name);
            return false;
        }
        std::fprintf(out, "%s_HEX=", ALL_TEXTS[i].name);
        write_hex(out, message_buffer);
        std::fputc('\n', out);
    }
    std::fprintf(out, "BOXES='");
    for (const BoxRow& row : BOXES) {
        std::fprintf(out, "%s%s", row.id == 0 ? "" : " ", row.name);
    }
    std::fprintf(out, "'\n");
    for (const BoxRow& row : BOXES) {
        if (!write_row(out, row)) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool values = argc == 3 && std::strcmp(argv[1], "--values") == 0;
    if (argc != 2 && !values) {
        std::fprintf(stderr, "usage: dump_texts [--values] OUTPUT\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::perror(path);
        return 1;
    }
    if (values && !write_values(out)) {
        std::fclose(out);
        return 1;
    }
    if (!values) write_texts(out);
    // A write error may only show when the buffered data is flushed.
    bool failed = std::ferror(out) != 0;
    failed = (std::fclose(out) != 0) || failed;
    if (failed) {
        std::fprintf(stderr, "%s: write failed\n", path);
        return 1;
    }
    return 0;
}
