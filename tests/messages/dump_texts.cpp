// Writes every message text of the program as "NAME HEX" lines, one per
// text, so that a decoder with its own CP932 tables can check the bytes that
// the compiler produced.
//
//   dump_texts OUTPUT
#include <cstdio>
#include <cstring>

#include "updater/updater.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dump_texts OUTPUT\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    for (size_t i = 0; i < ALL_TEXTS_COUNT; ++i) {
        std::fprintf(out, "%s ", ALL_TEXTS[i].name);
        const unsigned char* text =
            reinterpret_cast<const unsigned char*>(ALL_TEXTS[i].text);
        for (size_t j = 0; j < std::strlen(ALL_TEXTS[i].text); ++j) {
            std::fprintf(out, "%02x", text[j]);
        }
        std::fputc('\n', out);
    }
    // A write error may only show when the buffered data is flushed.
    bool failed = std::ferror(out) != 0;
    failed = (std::fclose(out) != 0) || failed;
    if (failed) {
        std::fprintf(stderr, "%s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
