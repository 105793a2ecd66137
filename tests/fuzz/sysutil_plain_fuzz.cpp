// Fuzz target: the plain parts of the registry read and the shortcuts: the
// termination of a value's data in the caller's buffer, a shortcut's working
// directory from its target, and the link path in a program group. Each is
// checked against a reference in buffers of exactly the documented sizes.
//
// Input: a selector byte, then
//   0: type byte, buffer size byte, data size byte, the buffer's bytes;
//   1: mode byte, the target path (up to a NUL);
//   2: the Programs folder, the group and the shortcut name (up to a NUL
//      each).
#include "tests/fuzz/fuzz_common.h"
#include "sysutil/registry_data.h"
#include "sysutil/shortcut_paths.h"

namespace {

void check_registry_termination(fuzz::Reader& in) {
    static const uint32_t TYPES[] = {REGISTRY_TYPE_SZ, REGISTRY_TYPE_EXPAND_SZ,
                                     REGISTRY_TYPE_MULTI_SZ, 0, 3, 4, 11};
    const uint32_t type = TYPES[in.byte() % (sizeof TYPES / sizeof TYPES[0])];
    const uint32_t buffer_size = in.byte() % 48;
    // The system never reports more data than the buffer holds on success;
    // a few bytes beyond that test that nothing is written out of it.
    const uint32_t data_size = in.byte() % (buffer_size + 3);
    std::string bytes = in.bytes(buffer_size);
    bytes.resize(buffer_size, static_cast<char>(fuzz::CANARY));

    // Exactly buffer_size bytes: a write past them is a heap overflow.
    char* buffer = static_cast<char*>(std::malloc(buffer_size));
    FUZZ_CHECK(buffer != nullptr || buffer_size == 0);
    if (buffer_size > 0)
        std::memcpy(buffer, bytes.data(), buffer_size);
    const bool ok = terminate_registry_data(type, buffer, data_size, buffer_size);
    const std::string after(buffer, buffer_size);
    std::free(buffer);

    const bool is_string = type == REGISTRY_TYPE_SZ || type == REGISTRY_TYPE_EXPAND_SZ ||
                           type == REGISTRY_TYPE_MULTI_SZ;
    std::string expected = bytes;
    bool expected_ok = true;
    if (is_string && !(data_size > 0 && data_size <= buffer_size && bytes[data_size - 1] == 0)) {
        if (data_size >= buffer_size)
            expected_ok = false;
        else
            expected[data_size] = '\0';
    }
    FUZZ_CHECK(ok == expected_ok);
    FUZZ_CHECK(after == expected);
    // A string the caller may read as a C string ends inside the buffer.
    if (ok && is_string)
        FUZZ_CHECK(after.find('\0') != std::string::npos);
}

void check_working_directory(fuzz::Reader& in) {
    const int32_t mode = static_cast<int8_t>(in.byte());
    const std::string target = in.c_string(2 * PATH_BUFFER_BYTES);

    // The drive and directory as the splitter hands them out, slashes made
    // backslashes, one final single-byte backslash dropped.
    const fuzz::RefSplit split = fuzz::ref_split(target, fuzz::ref_is_lead_932);
    std::string expected = fuzz::ref_sjis_replace(
        split.drive + fuzz::ref_cut(split.directory, SPLIT_PART_BYTES - 1, fuzz::ref_is_lead_932),
        '/', '\\');
    if (fuzz::ref_ends_with_single(expected, '\\'))
        expected.pop_back();
    if (mode > 0)
        expected.clear();

    fuzz::ExactString t(target);
    fuzz::CanaryBuffer out(SHORTCUT_WORKING_DIRECTORY_BYTES);
    shortcut_working_directory(t.p, mode, out.data());
    FUZZ_CHECK(out.canaries_intact() && out.terminated());
    FUZZ_CHECK(out.str() == expected);
    FUZZ_CHECK(t.all() == target + std::string(1, '\0'));
}

void check_link_path(fuzz::Reader& in) {
    const std::string programs = in.c_string(400);
    const std::string group = in.c_string(400);
    const std::string name = in.c_string(400);
    const std::string whole = programs + "\\" + group + "\\" + name + ".lnk";
    const bool fits = !programs.empty() && whole.size() <= SHORTCUT_LINK_MAX_BYTES;

    fuzz::ExactString p(programs), g(group), n(name);
    fuzz::CanaryBuffer out(SHORTCUT_LINK_PATH_BYTES);
    FUZZ_CHECK(programs_link_path(p.p, g.p, n.p, out.data()) == fits);
    FUZZ_CHECK(out.canaries_intact() && out.terminated());
    // Whole or nothing: a cut link path would name another file.
    FUZZ_CHECK(out.str() == (fits ? whole : std::string()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    switch (in.byte() % 3) {
    case 0: check_registry_termination(in); break;
    case 1: check_working_directory(in); break;
    default: check_link_path(in); break;
    }
    return 0;
}
