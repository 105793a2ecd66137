// Fuzz target: the path operations that follow the process's multibyte code
// page (path splitting, the extension, the directory walk, the module
// strings), each under code page 932 and under a single-byte code page,
// against reference walks written here.
//
// Input: one byte choosing which outputs split_path is asked for, then the
// path up to its first NUL.
#include "tests/fuzz/fuzz_common.h"
#include "text/path_seam.h"
#include "text/text.h"

namespace {

using fuzz::LeadRule;
using fuzz::ref_char_starts;
using fuzz::ref_cut;
using fuzz::ref_split;
using fuzz::RefSplit;

// The directories that the walk asks for: the bytes before every backslash
// that is a single-byte character; nothing for a path beyond MAX_PATH.
std::vector<std::string> ref_directories(const std::string& path, LeadRule is_lead) {
    std::vector<std::string> dirs;
    if (path.size() > PATH_MAX_BYTES)
        return dirs;
    for (size_t i : ref_char_starts(path, is_lead))
        if (path[i] == '\\' && !is_lead('\\'))
            dirs.push_back(path.substr(0, i));
    return dirs;
}

void record_directory(const char* directory, void* context) {
    const size_t n = std::strlen(directory);
    FUZZ_CHECK(n < PATH_BUFFER_BYTES);
    static_cast<std::vector<std::string>*>(context)->push_back(std::string(directory, n));
}

void check_split(const std::string& path, unsigned char which, LeadRule is_lead) {
    const RefSplit ref = ref_split(path, is_lead);
    const std::string want_dir = ref_cut(ref.directory, SPLIT_PART_BYTES - 1, is_lead);
    const std::string want_ext = ref_cut(ref.extension, SPLIT_PART_BYTES - 1, is_lead);

    fuzz::ExactString p(path);
    fuzz::CanaryBuffer drive(SPLIT_DRIVE_BYTES);
    fuzz::CanaryBuffer dir(SPLIT_PART_BYTES);
    fuzz::CanaryBuffer ext(SPLIT_PART_BYTES);
    // Each output is optional; the ones asked for must not depend on which
    // others were asked for.
    split_path(p.p, (which & 1) ? drive.data() : nullptr,
               (which & 2) ? dir.data() : nullptr, (which & 4) ? ext.data() : nullptr);
    FUZZ_CHECK(p.all() == path + std::string(1, '\0'));
    const struct {
        bool asked;
        fuzz::CanaryBuffer* out;
        const std::string* want;
    } outputs[] = {{(which & 1) != 0, &drive, &ref.drive},
                   {(which & 2) != 0, &dir, &want_dir},
                   {(which & 4) != 0, &ext, &want_ext}};
    for (const auto& o : outputs) {
        FUZZ_CHECK(o.out->canaries_intact());
        if (!o.asked) {
            FUZZ_CHECK(o.out->bytes[0] == fuzz::CANARY);
            continue;
        }
        FUZZ_CHECK(o.out->terminated());
        FUZZ_CHECK(o.out->str() == *o.want);
    }

    fuzz::CanaryBuffer only_ext(SPLIT_PART_BYTES);
    FUZZ_CHECK(path_extension(only_ext.data(), p.p) == 1);
    FUZZ_CHECK(only_ext.canaries_intact() && only_ext.terminated());
    FUZZ_CHECK(only_ext.str() == want_ext);
    FUZZ_CHECK(path_extension(nullptr, p.p) == 0);
}

void check_directories(const std::string& path, LeadRule is_lead) {
    fuzz::ExactString p(path);
    std::vector<std::string> got;
    create_directories_with(p.p, record_directory, &got);
    FUZZ_CHECK(got == ref_directories(path, is_lead));
    FUZZ_CHECK(p.all() == path + std::string(1, '\0'));
}

void check_module_paths(const std::string& path, LeadRule is_lead) {
    fuzz::ExactString p(path);
    init_module_paths_from(p.p);
    const std::string got_path(module_path);
    const std::string got_name(module_instance_name);
    const std::string got_dir(module_dir);
    // No path (the system gave none) or one beyond MAX_PATH: all three
    // strings empty, never a cut path.
    if (path.empty() || path.size() > PATH_MAX_BYTES) {
        FUZZ_CHECK(got_path.empty() && got_name.empty() && got_dir.empty());
        return;
    }
    // The executable's path and its instance name follow the fixed
    // Shift-JIS rule; only the split follows the code page.
    const std::string lowered = fuzz::ref_sjis_lower(path);
    const RefSplit split = ref_split(lowered, is_lead);
    std::string dir = fuzz::ref_sjis_replace(
        fuzz::ref_sjis_lower(split.drive + split.directory), '/', '\\');
    if (!fuzz::ref_ends_with_single(dir, '\\'))
        dir += '\\';
    if (got_path.empty() && got_name.empty() && got_dir.empty() &&
        split.directory.size() > SPLIT_PART_BYTES - 1) {
        // A directory longer than the splitter hands out is refused whole.
        return;
    }
    FUZZ_CHECK(got_path == lowered);
    FUZZ_CHECK(got_name == fuzz::ref_sjis_replace(lowered, '\\', ':'));
    FUZZ_CHECK(got_dir == dir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    const unsigned char which = in.byte();
    const std::string path = in.c_string(2 * PATH_BUFFER_BYTES);

    mbcp_select_shift_jis();
    check_split(path, which, fuzz::ref_is_lead_932);
    check_directories(path, fuzz::ref_is_lead_932);
    check_module_paths(path, fuzz::ref_is_lead_932);

    mbcp_select_single_byte(1252);
    check_split(path, which, fuzz::ref_is_lead_none);
    check_directories(path, fuzz::ref_is_lead_none);
    check_module_paths(path, fuzz::ref_is_lead_none);
    return 0;
}
