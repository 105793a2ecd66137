// Writes every message text of the program as "NAME HEX" lines, one per
// text, so that a decoder with its own CP932 tables can check the bytes that
// the compiler produced. With --values it writes instead what the scripts and
// tools around the program need of it, so that none of them types it again:
// the fixed values as NAME=VALUE lines (strings in single quotes), then every
// text as a box shows it (formatted with the title) as NAME_HEX=HEX lines.
// sh sources that file; Python's shlex splits it.
//
//   dump_texts OUTPUT
//   dump_texts --values OUTPUT
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "updater/updater.h"

#define NAMED(value) {#value, value}

namespace {

struct NamedNumber {
    const char* name;
    int64_t value;
};

const NamedNumber NUMBERS[] = {
    NAMED(ARCHIVE_SIZE_PATCH_MISSING), NAMED(ARCHIVE_SIZE_V100),
    NAMED(ARCHIVE_SIZE_V101),          NAMED(UPDATE_HEAD_LENGTH),
    NAMED(REPLACED_HEAD_LENGTH),       NAMED(KEPT_TAIL_LENGTH),
    NAMED(RESCUE_NAME_TRIES),
};

const NamedText NAMES[] = {
    NAMED(GUARD_MUTEX_NAME), NAMED(REGISTRY_KEY),          NAMED(REGISTRY_DIR_VALUE),
    NAMED(MARKER_INSTALL_INI), NAMED(MARKER_PAC_DIR),      NAMED(ARCHIVE_RELATIVE_PATH),
    NAMED(GAME_EXE_NAME),    NAMED(UPDATE_DATA_FILE),      NAMED(RESCUE_NAME),
};

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
