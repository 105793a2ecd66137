// Fuzz target: the in-place Shift-JIS character operations and the
// last-character test, checked against an independent reference walk.
//
// Input: one byte `from`, one byte `to`, one byte `ch`, then the string. The
// string is all remaining bytes, NULs included: the operations act up to the
// first NUL, and every byte after it must come back untouched.
#include "tests/fuzz/fuzz_common.h"
#include "text/text.h"

namespace {

using fuzz::ExactString;
using fuzz::ref_char_starts;
using fuzz::ref_is_lead_932;
using fuzz::ref_lower;
using fuzz::ref_map_singles;
using fuzz::ref_upper;

// Runs op on an exact-size copy of input and returns the block afterwards
// (NULs and all). Checks the properties every in-place operation has: the
// length up to the first NUL is unchanged, nothing from the first NUL on is
// touched, and every double-byte character keeps both bytes. The one
// exception to the length rule is a replacement that writes NUL bytes: that
// shortens the string by design, but still stays inside the old one.
template <typename Op>
std::string run_in_place(const std::string& input, Op op,
                         bool keeps_length = true) {
    ExactString buf(input);
    const std::string before = buf.all();
    const size_t len = std::strlen(buf.p);
    op(buf.p);
    const std::string after = buf.all();
    FUZZ_CHECK(keeps_length ? std::strlen(buf.p) == len
                            : std::strlen(buf.p) <= len);
    FUZZ_CHECK(after.compare(len, std::string::npos, before, len,
                             std::string::npos) == 0);
    for (size_t i : ref_char_starts(before)) {
        if (ref_is_lead_932(static_cast<unsigned char>(before[i]))) {
            FUZZ_CHECK(after[i] == before[i]);
            if (i + 1 < len)
                FUZZ_CHECK(after[i + 1] == before[i + 1]);
        }
    }
    // Without the block's own terminator: the same bytes as the input.
    return after.substr(0, after.size() - 1);
}

// The same bytes with the part up to the first NUL replaced by head.
std::string with_head(const std::string& whole, const std::string& head) {
    return head + whole.substr(head.size());
}

std::string head_of(const std::string& whole) {
    return std::string(whole.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The lead table is a constant: check all 256 entries once.
    for (int b = 0; b < 256; ++b) {
        const unsigned char u = static_cast<unsigned char>(b);
        FUZZ_CHECK(sjis_is_lead(u) == ref_is_lead_932(u));
        FUZZ_CHECK((sjis_lead_table[u] != 0) == ref_is_lead_932(u));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    const unsigned char from = in.byte();
    const unsigned char to = in.byte();
    const unsigned char ch = in.byte();
    const std::string input = in.bytes(4096);
    const std::string head = head_of(input);

    const std::string lower = run_in_place(input, sjis_to_lower);
    const std::string upper = run_in_place(input, sjis_to_upper);
    FUZZ_CHECK(lower == with_head(input, ref_map_singles(head, ref_lower)));
    FUZZ_CHECK(upper == with_head(input, ref_map_singles(head, ref_upper)));

    // Lowering twice is lowering once; case conversions only ever look at
    // single-byte letters, so the other conversion first changes nothing.
    FUZZ_CHECK(run_in_place(lower, sjis_to_lower) == lower);
    FUZZ_CHECK(run_in_place(upper, sjis_to_upper) == upper);
    FUZZ_CHECK(run_in_place(upper, sjis_to_lower) == lower);
    FUZZ_CHECK(run_in_place(lower, sjis_to_upper) == upper);

    const std::string replaced = run_in_place(
        input, [from, to](char* s) { sjis_replace_char(s, from, to); },
        to != 0);
    FUZZ_CHECK(replaced ==
               with_head(input, ref_map_singles(head, [from, to](unsigned char b) {
                             return b == from ? to : b;
                         })));
    if (from == 0 || ref_is_lead_932(from))
        FUZZ_CHECK(replaced == input);
    if (from != to && !ref_is_lead_932(to)) {
        // The character boundaries stay where they were, so no single-byte
        // `from` is left behind.
        const std::string h = head_of(replaced);
        for (size_t i : ref_char_starts(h))
            FUZZ_CHECK(static_cast<unsigned char>(h[i]) != from ||
                       ref_is_lead_932(from));
    }

    ExactString probe(input);
    const unsigned char ends = sjis_ends_with_char(probe.p, ch);
    FUZZ_CHECK(ends == 0 || ends == 1);
    FUZZ_CHECK((ends == 1) == fuzz::ref_ends_with_single(head, ch));
    FUZZ_CHECK(probe.all() == input + std::string(1, '\0'));
    return 0;
}
