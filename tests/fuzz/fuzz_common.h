// Shared pieces of the fuzz targets: a property check that fails loudly, an
// exact-size copy of the input (so any read past the end is caught by
// AddressSanitizer), a buffer with canary bytes behind the terminator, and
// independent reference walks to compare the product code with.
//
// The reference walks deliberately do not use sjis_lead_table or any product
// helper: a lead byte is recognised by its numeric ranges here, so a fault in
// the product table or step function shows up as a disagreement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// A failed property aborts, which libFuzzer records as a crash together with
// the input that caused it.
#define FUZZ_CHECK(cond)                                                     \
    do {                                                                     \
        if (!(cond)) {                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__,   \
                         __LINE__, #cond);                                   \
            std::abort();                                                    \
        }                                                                    \
    } while (0)

namespace fuzz {

// Shift-JIS (code page 932) lead bytes by their ranges.
inline bool ref_is_lead_932(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
// A single-byte code page: no lead bytes at all.
inline bool ref_is_lead_none(unsigned char) {
    return false;
}
using LeadRule = bool (*)(unsigned char);

// Start offsets of the characters of s, up to its first NUL: a lead byte
// takes the next byte with it unless that is the terminator.
inline std::vector<size_t> ref_char_starts(const std::string& s,
                                           LeadRule is_lead = ref_is_lead_932) {
    std::vector<size_t> starts;
    const size_t n = std::strlen(s.c_str());
    size_t i = 0;
    while (i < n) {
        starts.push_back(i);
        i += (is_lead(static_cast<unsigned char>(s[i])) && i + 1 < n) ? 2 : 1;
    }
    return starts;
}

// s (up to its first NUL) with f applied to every single-byte character; a
// lead byte and its trail, or a lone lead byte at the end, stay as they are.
template <typename F>
std::string ref_map_singles(const std::string& s, F f,
                            LeadRule is_lead = ref_is_lead_932) {
    std::string out(s.c_str());
    for (size_t i : ref_char_starts(out, is_lead)) {
        const unsigned char b = static_cast<unsigned char>(out[i]);
        if (!is_lead(b))
            out[i] = static_cast<char>(f(b));
    }
    return out;
}

inline unsigned char ref_lower(unsigned char b) {
    return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 32) : b;
}
inline unsigned char ref_upper(unsigned char b) {
    return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 32) : b;
}

// The fixed Shift-JIS lowering and single-byte replacement.
inline std::string ref_sjis_lower(const std::string& s) {
    return ref_map_singles(s, ref_lower);
}
inline std::string ref_sjis_replace(const std::string& s, unsigned char from,
                                    unsigned char to) {
    return ref_map_singles(
        s, [from, to](unsigned char b) { return b == from ? to : b; });
}

// True when the last character of s is a single byte equal to ch.
inline bool ref_ends_with_single(const std::string& s, unsigned char ch,
                                 LeadRule is_lead = ref_is_lead_932) {
    const std::vector<size_t> starts = ref_char_starts(s, is_lead);
    if (starts.empty())
        return false;
    const size_t n = std::strlen(s.c_str());
    return starts.back() == n - 1 && static_cast<unsigned char>(s[n - 1]) == ch;
}

// Byte value written behind the terminator of every checked buffer. Any
// value works as long as the check compares against the same one; 0xBD is
// neither a lead byte nor ASCII.
constexpr unsigned char CANARY = 0xBD;
constexpr size_t CANARY_BYTES = 16;

// Reads fuzz input bit by bit as small numbers, taking bytes from the front.
struct Reader {
    const uint8_t* data;
    size_t size;

    bool empty() const { return size == 0; }
    uint8_t byte() {
        if (size == 0)
            return 0;
        const uint8_t b = *data;
        ++data;
        --size;
        return b;
    }
    // Up to max_len bytes, stopping after a NUL (not included): a C string
    // taken from the input. The NUL in the input acts as the separator
    // between consecutive strings.
    std::string c_string(size_t max_len) {
        std::string s;
        while (size > 0 && s.size() < max_len) {
            const uint8_t b = byte();
            if (b == 0)
                break;
            s.push_back(static_cast<char>(b));
        }
        return s;
    }
    // Up to max_len bytes, NULs included.
    std::string bytes(size_t max_len) {
        const size_t n = size < max_len ? size : max_len;
        std::string s(reinterpret_cast<const char*>(data), n);
        data += n;
        size -= n;
        return s;
    }
};

// A heap block of exactly s.size() + 1 bytes holding s and a terminator.
// Reading one byte past the terminator is a heap overflow that
// AddressSanitizer reports.
struct ExactString {
    char* p;
    size_t n;

    explicit ExactString(const std::string& s)
        : p(static_cast<char*>(std::malloc(s.size() + 1))), n(s.size() + 1) {
        if (p == nullptr)
            std::abort();
        std::memcpy(p, s.data(), s.size());
        p[s.size()] = '\0';
    }
    ~ExactString() { std::free(p); }
    ExactString(const ExactString&) = delete;
    ExactString& operator=(const ExactString&) = delete;

    // The whole block, embedded NULs included.
    std::string all() const { return std::string(p, n); }
};

// An output buffer of `capacity` bytes followed by canary bytes; everything
// starts as the canary value so an unterminated result is visible too.
struct CanaryBuffer {
    std::vector<unsigned char> bytes;
    size_t capacity;

    explicit CanaryBuffer(size_t cap)
        : bytes(cap + CANARY_BYTES, CANARY), capacity(cap) {}
    char* data() { return reinterpret_cast<char*>(bytes.data()); }
    bool canaries_intact() const {
        for (size_t i = capacity; i < bytes.size(); ++i)
            if (bytes[i] != CANARY)
                return false;
        return true;
    }
    // True when a NUL lies within the capacity.
    bool terminated() const {
        return std::memchr(bytes.data(), 0, capacity) != nullptr;
    }
    // Bytes after the first NUL up to the capacity: untouched canaries?
    bool untouched_after_terminator() const {
        const void* nul = std::memchr(bytes.data(), 0, capacity);
        if (nul == nullptr)
            return false;
        const size_t end = static_cast<size_t>(
            static_cast<const unsigned char*>(nul) - bytes.data());
        for (size_t i = end + 1; i < bytes.size(); ++i)
            if (bytes[i] != CANARY)
                return false;
        return true;
    }
    std::string str() const {
        return std::string(reinterpret_cast<const char*>(bytes.data()));
    }
};

// A path split by the rule of the multibyte code page: the drive (the first
// two bytes when the second is a colon), the directory up to the start of
// the last component, the extension from the last full stop in it. The
// directory and extension are uncut; ref_cut applies the length limit.
struct RefSplit {
    std::string drive;
    std::string directory;
    std::string extension;
};

inline RefSplit ref_split(const std::string& path, LeadRule is_lead) {
    RefSplit r;
    size_t rest = 0;
    if (path.size() >= 2 && path[1] == ':') {
        r.drive = path.substr(0, 2);
        rest = 2;
    }
    const std::string tail = path.substr(rest);
    size_t component = 0;
    size_t dot = std::string::npos;
    const std::vector<size_t> starts = ref_char_starts(tail, is_lead);
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t i = starts[k];
        const unsigned char b = static_cast<unsigned char>(tail[i]);
        if (is_lead(b))
            continue;  // a lead byte with its trail, or a lone one at the end
        if (b == '\\' || b == '/')
            component = i + 1;
        else if (b == '.')
            dot = i;
    }
    r.directory = tail.substr(0, component);
    if (dot != std::string::npos && dot >= component)
        r.extension = tail.substr(dot);
    return r;
}

// s cut to at most limit bytes, whole characters only.
inline std::string ref_cut(const std::string& s, size_t limit, LeadRule is_lead) {
    size_t end = 0;
    const std::vector<size_t> starts = ref_char_starts(s, is_lead);
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t next = k + 1 < starts.size() ? starts[k + 1] : s.size();
        if (next > limit)
            break;
        end = next;
    }
    return s.substr(0, end);
}

}  // namespace fuzz
