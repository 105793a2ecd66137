// Fuzz target: what the updater makes of its registry value. The query hands
// over up to DIR_VALUE_CAPACITY bytes of anything, with or without a
// terminator; from the text that is taken, the marker, archive and game paths
// are composed and the game's instance name is formed. Checked against the
// plain concatenation and a reference walk, in buffers of the documented
// sizes with canaries behind them.
//
// Input: two bytes for the reported value size, one byte for the capacity of
// a deliberately small output buffer, then the value's bytes.
#include "tests/fuzz/fuzz_common.h"
#include "updater/updater.h"

#include <sanitizer/asan_interface.h>

namespace {

const char* const RELATIVE_NAMES[] = {MARKER_INSTALL_INI, MARKER_PAC_DIR,
                                      ARCHIVE_RELATIVE_PATH, GAME_EXE_NAME};

// The registry value as the query leaves it: `size` bytes written into a
// block of DIR_VALUE_CAPACITY, the rest as it was. Bytes past the first
// one after the value are poisoned: the terminator may go right behind the
// value's last byte, nothing may be read beyond that.
struct QueryBuffer {
    unsigned char* p;
    size_t size;

    QueryBuffer(const std::string& value, size_t reported)
        : p(static_cast<unsigned char*>(std::malloc(DIR_VALUE_CAPACITY))),
          size(reported) {
        if (p == nullptr)
            std::abort();
        std::memset(p, fuzz::CANARY, DIR_VALUE_CAPACITY);
        std::memcpy(p, value.data(), value.size() < size ? value.size() : size);
        if (size + 1 < DIR_VALUE_CAPACITY)
            ASAN_POISON_MEMORY_REGION(p + size + 1, DIR_VALUE_CAPACITY - size - 1);
    }
    ~QueryBuffer() {
        ASAN_UNPOISON_MEMORY_REGION(p, DIR_VALUE_CAPACITY);
        std::free(p);
    }
    QueryBuffer(const QueryBuffer&) = delete;
    QueryBuffer& operator=(const QueryBuffer&) = delete;
};

std::string ref_instance_name(const std::string& path) {
    return fuzz::ref_sjis_replace(fuzz::ref_sjis_lower(path), '\\', ':');
}

void check_compose(const std::string& prefix, const char* name, size_t small) {
    const std::string expected = prefix + name;
    fuzz::ExactString p(prefix);

    fuzz::CanaryBuffer out(COMPOSED_PATH_BYTES);
    // Every accepted prefix fits the composed-path buffer with any name.
    FUZZ_CHECK(compose_path(out.data(), COMPOSED_PATH_BYTES, p.p, name));
    FUZZ_CHECK(out.canaries_intact() && out.terminated());
    FUZZ_CHECK(out.str() == expected);

    // A smaller buffer takes the whole path or nothing.
    fuzz::CanaryBuffer tight(small);
    const bool fits = compose_path(tight.data(), small, p.p, name);
    FUZZ_CHECK(tight.canaries_intact());
    FUZZ_CHECK(fits == (expected.size() < small));
    if (small > 0) {
        FUZZ_CHECK(tight.terminated());
        FUZZ_CHECK(tight.str() == (fits ? expected : std::string()));
    }
    FUZZ_CHECK(p.all() == prefix + std::string(1, '\0'));
}

void check_instance_name(const std::string& prefix) {
    const std::string exe = prefix + GAME_EXE_NAME;
    const std::string expected = ref_instance_name(exe);
    FUZZ_CHECK(expected.size() == exe.size());

    // Into the process-wide buffer, as the updater does it: never cut.
    fuzz::ExactString path(exe);
    FUZZ_CHECK(form_instance_name(instance_name, INSTANCE_NAME_BYTES, path.p));
    FUZZ_CHECK(std::string(instance_name) == expected);

    // In place, and a second time: a formed name no longer changes.
    fuzz::ExactString in_place(exe);
    to_instance_name(in_place.p);
    FUZZ_CHECK(in_place.all() == expected + std::string(1, '\0'));
    to_instance_name(in_place.p);
    FUZZ_CHECK(in_place.all() == expected + std::string(1, '\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    const size_t hi = in.byte();
    const size_t reported = ((hi << 8) | in.byte()) % (DIR_VALUE_CAPACITY + 1);
    const size_t small = in.byte() % (COMPOSED_PATH_BYTES + 1);
    const std::string value = in.bytes(DIR_VALUE_CAPACITY);

    // Bytes the query did not write count as noise (the canary value).
    std::string written = value.substr(0, reported);
    written.resize(reported, static_cast<char>(fuzz::CANARY));
    const size_t nul = written.find('\0');
    const bool refused = nul == std::string::npos && reported == DIR_VALUE_CAPACITY;
    const std::string text = written.substr(0, nul);

    QueryBuffer buf(value, reported);
    const bool taken = take_registry_text(reinterpret_cast<char*>(buf.p),
                                          DIR_VALUE_CAPACITY, reported);
    FUZZ_CHECK(taken == !refused);
    if (!taken)
        return 0;
    const std::string prefix(reinterpret_cast<const char*>(buf.p));
    FUZZ_CHECK(prefix == text);
    FUZZ_CHECK(prefix.size() < DIR_VALUE_CAPACITY);

    for (const char* name : RELATIVE_NAMES)
        check_compose(prefix, name, small);
    check_instance_name(prefix);
    return 0;
}
