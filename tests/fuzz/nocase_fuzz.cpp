// Fuzz target: the case-insensitive suffix test, against a byte-wise
// reference, with both strings in exact-size blocks so that a read past
// either terminator is caught.
//
// Input: the string, a NUL, then the suffix (up to the next NUL).
#include "tests/fuzz/fuzz_common.h"
#include "text/text.h"

namespace {

unsigned char fold(unsigned char b) {
    return fuzz::ref_lower(b);
}

bool ref_ends_with_nocase(const std::string& str, const std::string& suffix) {
    if (str.size() < suffix.size())
        return false;
    const size_t off = str.size() - suffix.size();
    for (size_t i = 0; i < suffix.size(); ++i)
        if (fold(static_cast<unsigned char>(str[off + i])) !=
            fold(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

// Every ASCII letter of s lowered, byte by byte, with no regard for
// characters: the suffix test does not know them either.
std::string fold_all(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(fold(static_cast<unsigned char>(c)));
    return out;
}

unsigned char call(const std::string& str, const std::string& suffix) {
    fuzz::ExactString a(str);
    fuzz::ExactString b(suffix);
    const unsigned char r = ends_with_nocase(a.p, b.p);
    FUZZ_CHECK(r == 0 || r == 1);
    FUZZ_CHECK(a.all() == str + std::string(1, '\0'));
    FUZZ_CHECK(b.all() == suffix + std::string(1, '\0'));
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    const std::string str = in.c_string(1024);
    const std::string suffix = in.c_string(1024);

    FUZZ_CHECK((call(str, suffix) == 1) == ref_ends_with_nocase(str, suffix));
    // Folding either side changes nothing; every string ends with itself, with
    // its own tails and with the empty suffix.
    FUZZ_CHECK(call(fold_all(str), suffix) == call(str, fold_all(suffix)));
    FUZZ_CHECK(call(str, "") == 1);
    FUZZ_CHECK(call(str, str) == 1);
    if (!str.empty())
        FUZZ_CHECK(call(str, str.substr(suffix.size() % str.size())) == 1);
    // A suffix one byte longer than the string never matches.
    FUZZ_CHECK(call(str, "x" + str) == 0);
    return 0;
}
