// Fuzz target: the archive splice on real files with small layouts, with
// one of its allocations, opens, creations, reads, writes, flushes, commits
// or closes failing at a chosen call (once, or from then on). Whatever fails,
// the old archive must be found whole: as the archive itself (spliced, or
// byte for byte as it was) or, only when the write-back failed too, as the
// one rescued copy; success is reported only for the spliced file and a copy
// only when it is there; every block and every stream is given back.
//
// Input: archive size byte, head length byte, replaced length byte, the
// failing call byte (bits 0-4: the call, 0: none; bit 7: the rescue folder is
// on another disk, where a failure that began elsewhere does not reach; bits
// 5-6, plus 3 when bit 6 of the update length byte is set: the call on that
// disk, counted from the copy's creation, from which on it fails too), a mode
// byte (bit 0: the failure persists, bit 1: a short read or write moves half
// of its bytes first), the update file's length byte, then the bytes that
// fill both files (cycled).
//
// With SPLICE_FUZZ_CALLS naming a file, every run appends "run" and then its
// calls to it, one line each: "N WHAT TARGET" in the order of the failing
// call byte, or "copy N WHAT" on the other disk. tests/fuzz/make_seeds.py seeds a failure at each
// call of the runs it records so.
#include "tests/fuzz/fuzz_common.h"
#include "updater/updater.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::string work_dir;
std::string archive_path;
std::string update_path;
std::string rescue_dir;  // with its '/'

size_t calls = 0;          // io calls so far in this run
size_t failing_call = 0;   // 1-based; 0: none
bool persistent = false;
bool partial = false;
bool other_disk = false;
size_t copy_calls = 0;          // calls on the rescued copy so far
size_t copy_failing_call = 0;   // 1-based, on the other disk; 0: none
bool failing = false;      // a persistent failure has started
long live_blocks = 0;
long open_streams = 0;

// What a call works on, to tell where the first failure struck.
enum Target { OTHER, ARCHIVE_OPEN_FOR_WRITING, ARCHIVE_WRITING, COPY };
const char* const kTargetNames[] = {"other", "archive-open-for-writing", "archive-writing",
                                    "copy"};
FILE* call_log = nullptr;  // SPLICE_FUZZ_CALLS
Target first_failure = OTHER;
int write_opens = 0;          // opens of the archive for writing so far
FILE* writing = nullptr;      // the stream of the latest such open
FILE* copy_stream = nullptr;  // the stream of the rescued copy

Target target_of(FILE* file) {
    if (file != nullptr && file == copy_stream)
        return COPY;
    if (file != nullptr && file == writing)
        return ARCHIVE_WRITING;
    return OTHER;
}

// True when this call, of the kind what, is to fail.
bool fail_now(const char* what, Target target = OTHER) {
    ++calls;
    if (other_disk && target == COPY) {
        // The copy is made only after a failure that began on the archive's
        // disk; on its own disk only its own failure counts.
        ++copy_calls;
        if (call_log != nullptr)
            std::fprintf(call_log, "copy %zu %s\n", copy_calls, what);
        return copy_failing_call != 0 && copy_calls >= copy_failing_call;
    }
    if (call_log != nullptr)
        std::fprintf(call_log, "%zu %s %s\n", calls, what, kTargetNames[target]);
    if (failing)
        return true;
    if (failing_call != 0 && calls == failing_call) {
        failing = persistent;
        first_failure = target;
        return true;
    }
    return false;
}

void* io_alloc(size_t size) {
    if (fail_now("alloc"))
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
    const bool for_writing = std::strcmp(mode, "rb") != 0;
    if (for_writing)
        ++write_opens;
    // Only the first open for writing is the update's own; a later one is
    // the write-back.
    if (fail_now("open", for_writing && write_opens == 1 ? ARCHIVE_OPEN_FOR_WRITING : OTHER))
        return nullptr;
    FILE* f = std::fopen(path, mode);
    if (f != nullptr) {
        ++open_streams;
        if (for_writing)
            writing = f;
    }
    return f;
}
SpliceIo real_io;
FILE* io_create(const char* path) {
    if (fail_now("create", COPY)) {
        errno = EIO;
        return nullptr;
    }
    FILE* f = real_io.create(path);
    if (f != nullptr) {
        ++open_streams;
        copy_stream = f;
    }
    return f;
}
int io_flush(FILE* file) {
    const int rc = std::fflush(file);
    return fail_now("flush", target_of(file)) ? EOF : rc;
}
// The commit's place in the order of calls is what is checked here; a real
// fsync on every run would only slow the target down many times over (the
// native tests run the real one).
int io_commit(FILE* file) {
    return fail_now("commit", target_of(file)) ? -1 : 0;
}
size_t io_read(void* buffer, size_t size, size_t count, FILE* file) {
    if (fail_now("read", target_of(file)))
        return partial ? std::fread(buffer, size, count / 2, file) : 0;
    return std::fread(buffer, size, count, file);
}
size_t io_write(const void* buffer, size_t size, size_t count, FILE* file) {
    if (fail_now("write", target_of(file)))
        return partial ? std::fwrite(buffer, size, count / 2, file) : 0;
    return std::fwrite(buffer, size, count, file);
}
int io_close(FILE* file) {
    --open_streams;
    const Target target = target_of(file);
    if (file == writing)
        writing = nullptr;
    if (file == copy_stream)
        copy_stream = nullptr;
    const int rc = std::fclose(file);
    return fail_now("close", target) ? EOF : rc;
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
    rescue_dir = work_dir + "/rescue/";
    FUZZ_CHECK(mkdir(rescue_dir.c_str(), 0700) == 0);
    std::atexit([] {
        unlink(archive_path.c_str());
        unlink(update_path.c_str());
        unlink((rescue_dir + RESCUE_NAME).c_str());
        rmdir(rescue_dir.c_str());
        rmdir(work_dir.c_str());
    });
    if (const char* log = std::getenv("SPLICE_FUZZ_CALLS")) {
        call_log = std::fopen(log, "a");
        FUZZ_CHECK(call_log != nullptr);
    }
    splice_io_defaults();
    real_io = splice_io;
    splice_io = {io_alloc, io_release, io_open, io_create, io_read,
                 io_write, io_flush,   io_commit, io_close};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in{data, size};
    SpliceLayout layout;
    layout.archive_size = in.byte() % 64;
    layout.head_length = in.byte() % 48;
    layout.replaced_length = in.byte() % 72;
    const uint8_t failure = in.byte();
    failing_call = failure % 32;
    other_disk = (failure & 0x80) != 0;
    const uint8_t mode = in.byte();
    persistent = (mode & 1) != 0;
    partial = (mode & 2) != 0;
    // The archive on disk may differ in size from the layout (a file that
    // changed since it was measured); so may the update data.
    const size_t archive_length = (mode & 4) ? (mode >> 3) % 64 : layout.archive_size;
    const uint8_t update_byte = in.byte();
    const size_t update_length = update_byte % 64;
    copy_failing_call = ((failure >> 5) & 3) + ((update_byte & 0x40) != 0 ? 3 : 0);
    const std::string fill = in.bytes(256);
    const std::string archive = cycled(fill, archive_length, 0);
    const std::string update = cycled(fill, update_length, 7);
    write_file(archive_path, archive);
    write_file(update_path, update);

    const std::string copy_path = rescue_dir + RESCUE_NAME;
    unlink(copy_path.c_str());

    if (call_log != nullptr)
        std::fprintf(call_log, "run\n");
    calls = 0;
    failing = false;
    first_failure = OTHER;
    copy_calls = 0;
    write_opens = 0;
    writing = nullptr;
    copy_stream = nullptr;
    live_blocks = 0;
    open_streams = 0;
    const SpliceOutcome outcome =
        splice_files(archive_path.c_str(), update_path.c_str(), layout, rescue_dir.c_str());
    const SpliceResult result = outcome.result;
    const std::string after = read_file(archive_path);
    const bool copy_exists = access(copy_path.c_str(), F_OK) == 0;

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
    // A failure that struck the new archive decides the outcome alone: an
    // open that fails leaves the archive as it was; a failed write is
    // written back, unless the failure persists, and then the copy on
    // another disk is all that is left.
    if (first_failure == ARCHIVE_OPEN_FOR_WRITING)
        FUZZ_CHECK(result == SPLICE_WRITE_FAILED && after == archive);
    if (first_failure == ARCHIVE_WRITING) {
        // Every copy run makes at least these calls: create, flush, commit,
        // close (and a write unless the archive is empty).
        const size_t copy_call_count = layout.archive_size > 0 ? 5 : 4;
        const bool copy_fails =
            !other_disk || (copy_failing_call != 0 && copy_failing_call <= copy_call_count);
        const SpliceResult expected = !persistent ? SPLICE_WRITE_FAILED
                                      : copy_fails ? SPLICE_RESTORE_FAILED
                                                   : SPLICE_ARCHIVE_RESCUED;
        FUZZ_CHECK(result == expected);
    }

    if (result == SPLICE_DONE) {
        FUZZ_CHECK(sources_fit);
        FUZZ_CHECK(after == spliced);
        FUZZ_CHECK(splice_result_box(result) == BOX_SUCCESS);
    } else if (result == SPLICE_ARCHIVE_RESCUED) {
        // Only a failure that keeps on failing can defeat the write-back, and
        // then the copy is made (which fails too) unless it started after the
        // write-back had failed.
        FUZZ_CHECK(persistent && failing_call != 0);
        FUZZ_CHECK(sources_fit);
        FUZZ_CHECK(copy_exists && read_file(copy_path) == archive);
        FUZZ_CHECK(copy_path == outcome.rescue_path);
        FUZZ_CHECK(splice_result_box(result) == BOX_ARCHIVE_RESCUED);
    } else if (result == SPLICE_RESTORE_FAILED) {
        FUZZ_CHECK(persistent && failing_call != 0);
        FUZZ_CHECK(splice_result_box(result) == BOX_ARCHIVE_DAMAGED);
    } else {
        FUZZ_CHECK(after == archive);
        FUZZ_CHECK(splice_result_box(result) != BOX_SUCCESS);
    }
    // A copy is made only on the path where the archive could not be written
    // back, and a copy that could not be written whole is not left behind.
    FUZZ_CHECK(copy_exists == (result == SPLICE_ARCHIVE_RESCUED));
    if (result != SPLICE_ARCHIVE_RESCUED)
        FUZZ_CHECK(outcome.rescue_path[0] == '\0');
    return 0;
}
