// Fuzz target: the file name of a path, against a reference walk by the fixed
// Shift-JIS rule. The output buffer has exactly the documented capacity and
// canary bytes behind it; the path sits in an exact-size block.
//
// Input: the path, up to its first NUL (longer than MAX_PATH too: the name is
// then refused rather than cut).
#include "tests/fuzz/fuzz_common.h"
#include "text/text.h"

namespace {

// The bytes after the last single-byte '\\' or '/', or the empty string when
// there is none or nothing follows it.
std::string ref_file_name(const std::string& path) {
    size_t after = std::string::npos;
    for (size_t i : fuzz::ref_char_starts(path)) {
        const unsigned char b = static_cast<unsigned char>(path[i]);
        if (b == '\\' || b == '/')
            after = i + 1;
    }
    if (after == std::string::npos)
        return std::string();
    return path.substr(after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    const std::string path = in.c_string(2 * PATH_BUFFER_BYTES);
    const std::string expected = ref_file_name(path);

    fuzz::ExactString p(path);
    fuzz::CanaryBuffer out(PATH_BUFFER_BYTES);
    const int r = path_file_name(out.data(), p.p);

    FUZZ_CHECK(out.canaries_intact());
    FUZZ_CHECK(out.terminated());
    FUZZ_CHECK(p.all() == path + std::string(1, '\0'));
    if (expected.empty() || expected.size() > PATH_MAX_BYTES) {
        // No name, or one that would not fit: refused, never cut.
        FUZZ_CHECK(r == 0);
        FUZZ_CHECK(out.str().empty());
    } else {
        FUZZ_CHECK(r == 1);
        FUZZ_CHECK(out.str() == expected);
    }
    return 0;
}
