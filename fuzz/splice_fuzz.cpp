// Fuzz target: the archive splice on real files with small layouts, with
// one of its allocations, opens, reads, writes or closes failing at a chosen
// call (once, or from then on). Whatever fails, the archive must end up
// either as the spliced file or byte for byte as it was; success is reported
// only for the spliced file; every block and every stream is given back.
//
// Input: archive size byte, head length byte, replaced length byte, the
// failing call byte (0: none), a mode byte (bit 0: the failure persists,
// bit 1: a short read or write moves half of its bytes first), the update
// file's length byte, then the bytes that fill both files (cycled).
#include "fuzz/fuzz_common.h"
#include "updater/updater.h"

#include <unistd.h>

namespace {

std::string work_dir;
std::string archive_path;
std::string update_path;

size_t calls = 0;          // io calls so far in this run
size_t failing_call = 0;   // 1-based; 0: none
bool persistent = false;
bool partial = false;
bool failing = false;      // a persistent failure has started
long live_blocks = 0;
long open_streams = 0;

// True when this call is to fail.
bool fail_now() {
    ++calls;
    if (failing)
        return true;
    if (failing_call != 0 && calls == failing_call) {
        failing = persistent;
        return true;
    }
    return false;
}

void* io_alloc(size_t size) {
    if (fail_now())
        return nullptr;
    void* block = std::malloc(size);
    if (block != nullptr)
        ++live_blocks;
    return block;
}
void io_release(void* block) {
    if (block != nullptr)
        --live_blocks;
    std::free(block);
}
FILE* io_open(const char* path, const char* mode) {
    if (fail_now())
        return nullptr;
    FILE* f = std::fopen(path, mode);
    if (f != nullptr)
        ++open_streams;
    return f;
}
size_t io_read(void* buffer, size_t size, size_t count, FILE* file) {
    if (fail_now())
        return partial ? std::fread(buffer, size, count / 2, file) : 0;
    return std::fread(buffer, size, count, file);
}
size_t io_write(const void* buffer, size_t size, size_t count, FILE* file) {
    if (fail_now())
        return partial ? std::fwrite(buffer, size, count / 2, file) : 0;
    return std::fwrite(buffer, size, count, file);
}
int io_close(FILE* file) {
    --open_streams;
    const int rc = std::fclose(file);
    return fail_now() ? EOF : rc;
}

void write_file(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    FUZZ_CHECK(std::fclose(f) == 0);
}

std::string read_file(const std::string& path) {
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    FUZZ_CHECK(f != nullptr);
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    std::fclose(f);
    return bytes;
}

std::string cycled(const std::string& fill, size_t n, size_t start) {
    std::string out(n, '\0');
    for (size_t i = 0; i < n && !fill.empty(); ++i)
        out[i] = fill[(start + i) % fill.size()];
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char templ[] = "/tmp/splice-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(templ) != nullptr);
    work_dir = templ;
    archive_path = work_dir + "/update1.ovp";
    update_path = work_dir + "/update.dat";
    std::atexit([] {
        unlink(archive_path.c_str());
        unlink(update_path.c_str());
        rmdir(work_dir.c_str());
    });
    splice_io = {io_alloc, io_release, io_open, io_read, io_write, io_close};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    SpliceLayout layout;
    layout.archive_size = in.byte() % 64;
    layout.head_length = in.byte() % 48;
    layout.replaced_length = in.byte() % 72;
    failing_call = in.byte() % 24;
    const uint8_t mode = in.byte();
    persistent = (mode & 1) != 0;
    partial = (mode & 2) != 0;
    // The archive on disk may differ in size from the layout (a file that
    // changed since it was measured); so may the update data.
    const size_t archive_length = (mode & 4) ? (mode >> 3) % 64 : layout.archive_size;
    const size_t update_length = in.byte() % 64;
    const std::string fill = in.bytes(256);
    const std::string archive = cycled(fill, archive_length, 0);
    const std::string update = cycled(fill, update_length, 7);
    write_file(archive_path, archive);
    write_file(update_path, update);

    calls = 0;
    failing = false;
    live_blocks = 0;
    open_streams = 0;
    const SpliceResult result =
        splice_files(archive_path.c_str(), update_path.c_str(), layout);
    const std::string after = read_file(archive_path);

    FUZZ_CHECK(live_blocks == 0);
    FUZZ_CHECK(open_streams == 0);
    FUZZ_CHECK(read_file(update_path) == update);

    // Without a failure the outcome follows from the sizes alone.
    const bool sources_fit = layout.replaced_length <= layout.archive_size &&
                             update_length >= layout.head_length &&
                             archive_length == layout.archive_size;
    const std::string spliced =
        sources_fit ? update.substr(0, layout.head_length) +
                          archive.substr(layout.replaced_length)
                    : std::string();
    if (failing_call == 0 || calls < failing_call)
        FUZZ_CHECK((result == SPLICE_DONE) == sources_fit);

    if (result == SPLICE_DONE) {
        FUZZ_CHECK(sources_fit);
        FUZZ_CHECK(after == spliced);
        FUZZ_CHECK(splice_result_box(result).text == MSG_SUCCESS);
    } else if (result == SPLICE_RESTORE_FAILED) {
        // Only a failure that keeps on failing can defeat the write-back.
        FUZZ_CHECK(persistent && failing_call != 0);
        FUZZ_CHECK(splice_result_box(result).text == MSG_WRITE_FAILED);
    } else {
        FUZZ_CHECK(after == archive);
        FUZZ_CHECK(splice_result_box(result).text != MSG_SUCCESS);
    }
    return 0;
}
