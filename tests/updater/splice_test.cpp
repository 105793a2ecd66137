// The archive splice on real files, with failures injected through the
// splice's file-operation table, and the size measurement of the archive.
#include "updater/updater.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Content in which every byte depends on its offset, so a shifted, repeated
// or missing range shows.
Bytes pattern(size_t length, unsigned seed) {
    Bytes out(length);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<unsigned char>(x);
    }
    return out;
}

void write_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << path;
}

Bytes read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// ---- Fault injection through splice_io ----

enum Op { ALLOC, OPEN, CREATE, READ, WRITE, FLUSH, COMMIT, CLOSE, OP_COUNT };
const char* const kOpNames[] = {"alloc", "open",  "create", "read",
                                "write", "flush", "commit", "close"};

struct Fault {
    Op op;
    int call;  // 1-based number of the call of that kind that fails
};

SpliceIo g_real;  // the program's own operations, which the fakes call
int g_calls[OP_COUNT];
std::vector<Op> g_log;  // every file call, in order
std::vector<Fault> g_faults;
int g_open_files;
size_t g_largest_transfer;

bool should_fail(Op op) {
    const int call = ++g_calls[op];
    g_log.push_back(op);
    for (const Fault& f : g_faults)
        if (f.op == op && f.call == call)
            return true;
    return false;
}

void* fake_alloc(size_t size) {
    return should_fail(ALLOC) ? nullptr : malloc(size);
}

FILE* fake_open(const char* path, const char* mode) {
    if (should_fail(OPEN))
        return nullptr;
    FILE* f = fopen(path, mode);
    if (f != nullptr)
        ++g_open_files;
    return f;
}

FILE* fake_create(const char* path) {
    if (should_fail(CREATE)) {
        errno = EIO;
        return nullptr;
    }
    FILE* f = g_real.create(path);
    if (f != nullptr)
        ++g_open_files;
    return f;
}

size_t note_transfer(size_t count) {
    if (count > g_largest_transfer)
        g_largest_transfer = count;
    return count;
}

// A failing read or write still moves half of its bytes, as a real short
// transfer does, so a half-written archive is what the restore must repair.
size_t fake_read(void* buffer, size_t size, size_t count, FILE* file) {
    note_transfer(size * count);
    if (should_fail(READ))
        return fread(buffer, size, count / 2, file);
    return fread(buffer, size, count, file);
}

size_t fake_write(const void* buffer, size_t size, size_t count, FILE* file) {
    note_transfer(size * count);
    if (should_fail(WRITE))
        return fwrite(buffer, size, count / 2, file);
    return fwrite(buffer, size, count, file);
}

int fake_flush(FILE* file) {
    const int rc = fflush(file);
    return should_fail(FLUSH) ? EOF : rc;
}

// A failed commit: the bytes were written but are not known to be on the
// disk.
int fake_commit(FILE* file) {
    const int rc = g_real.commit(file);
    return should_fail(COMMIT) ? -1 : rc;
}

int fake_close(FILE* file) {
    --g_open_files;
    const int rc = fclose(file);
    return should_fail(CLOSE) ? EOF : rc;
}

class SpliceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir_template[] = "/tmp/orvex-splice-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir_template));
        dir_ = dir_template;
        archive_ = dir_ + "/update1.ovp";
        update_ = dir_ + "/pikusuna_update.dat";
        rescue_ = dir_ + "/work/";
        ASSERT_EQ(0, mkdir(rescue_.c_str(), 0777));
        reset_calls();
        g_largest_transfer = 0;
        splice_io_defaults();
        g_real = splice_io;
        splice_io.alloc = fake_alloc;
        splice_io.open = fake_open;
        splice_io.create = fake_create;
        splice_io.read = fake_read;
        splice_io.write = fake_write;
        splice_io.flush = fake_flush;
        splice_io.commit = fake_commit;
        splice_io.close = fake_close;
    }

    void TearDown() override {
        splice_io_defaults();
        clear_rescue_folder();
        rmdir(rescue_.c_str());
        unlink(archive_.c_str());
        unlink(update_.c_str());
        rmdir(dir_.c_str());
    }

    static void reset_calls() {
        memset(g_calls, 0, sizeof(g_calls));
        g_log.clear();
        g_faults.clear();
        g_open_files = 0;
    }

    // The names in the rescue folder, sorted.
    std::vector<std::string> rescue_folder_names() const {
        std::vector<std::string> names;
        DIR* dir = opendir(rescue_.c_str());
        if (dir == nullptr)
            return names;
        while (const dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    void clear_rescue_folder() const {
        for (const std::string& name : rescue_folder_names())
            unlink((rescue_ + name).c_str());
    }

    SpliceResult splice(const SpliceLayout& layout) {
        const SpliceOutcome outcome =
            splice_files(archive_.c_str(), update_.c_str(), layout, rescue_.c_str());
        rescue_path_ = outcome.rescue_path;
        return outcome.result;
    }

    std::string dir_;
    std::string archive_;
    std::string update_;
    std::string rescue_;  // the folder that takes a rescued copy, with its '/'
    std::string rescue_path_;
};

// A small layout with the real one's shape: the new head is shorter than the
// head it replaces.
constexpr SpliceLayout kSmall = {1000, 50, 80};

Bytes spliced(const Bytes& update, const Bytes& archive, const SpliceLayout& layout) {
    Bytes out(update.begin(), update.begin() + static_cast<long>(layout.head_length));
    out.insert(out.end(), archive.begin() + static_cast<long>(layout.replaced_length),
               archive.end());
    return out;
}

TEST_F(SpliceTest, WritesTheUpdateHeadThenTheOldTail) {
    const Bytes archive = pattern(kSmall.archive_size, 1);
    // Longer than the head: only the first head_length bytes are used.
    const Bytes update = pattern(kSmall.head_length + 7, 2);
    write_bytes(archive_, archive);
    write_bytes(update_, update);

    EXPECT_EQ(SPLICE_DONE, splice(kSmall));
    const Bytes result = read_bytes(archive_);
    ASSERT_EQ(kSmall.archive_size - kSmall.replaced_length + kSmall.head_length, result.size());
    EXPECT_TRUE(result == spliced(update, archive, kSmall));
    EXPECT_EQ(0, g_open_files);
    // The head is committed on its own before the tail is written, so that a
    // rewrite cut short leaves a file that starts with the update data; the
    // whole is committed before it is closed, and that close is the last
    // thing done; no copy is made.
    const std::vector<Op> last(g_log.end() - 7, g_log.end());
    EXPECT_TRUE((last == std::vector<Op>{WRITE, FLUSH, COMMIT, WRITE, FLUSH, COMMIT, CLOSE}));
    EXPECT_EQ(2, g_calls[COMMIT]);
    EXPECT_EQ(0, g_calls[CREATE]);
    EXPECT_TRUE(rescue_folder_names().empty());
    EXPECT_EQ("", rescue_path_);
}

// What the archive holds after a failed splice.
enum After {
    UNCHANGED,
    SPLICED,
    RESTORED,
    UNKNOWN,  // neither content can be promised: the box must not claim one
};

struct FaultCase {
    const char* name;
    std::vector<Fault> faults;
    SpliceResult result;
    After after;
};

TEST_F(SpliceTest, EveryFailureLeavesTheOldArchiveWholeSomewhereAndIsReported) {
    // Calls in a run: alloc 1 head, 2 body; open 1 update, 2 archive "rb",
    // 3 archive "wb", 4 archive "wb" again to write it back; read 1 update,
    // 2 archive, 3 the probe for bytes past the measured end; write 1 head,
    // 2 tail (skipped when the head fails), then the write-back, then the
    // copy; flush and commit after the head, after the tail, then for the
    // write-back and the copy; close in the order of the files; create 1 the
    // copy in the rescue folder.
    const FaultCase cases[] = {
        {"head block not allocated", {{ALLOC, 1}}, SPLICE_OUT_OF_MEMORY, UNCHANGED},
        {"body block not allocated", {{ALLOC, 2}}, SPLICE_OUT_OF_MEMORY, UNCHANGED},
        {"update data not opened", {{OPEN, 1}}, SPLICE_UPDATE_DATA_UNREADABLE, UNCHANGED},
        {"update data read short", {{READ, 1}}, SPLICE_UPDATE_DATA_UNREADABLE, UNCHANGED},
        {"archive not opened for reading", {{OPEN, 2}}, SPLICE_ARCHIVE_UNREADABLE, UNCHANGED},
        {"archive read short", {{READ, 2}}, SPLICE_ARCHIVE_UNREADABLE, UNCHANGED},
        // A failed read is no proof that nothing follows the measured end.
        {"probe past the end fails", {{READ, 3}}, SPLICE_ARCHIVE_UNREADABLE, UNCHANGED},
        {"archive not opened for writing", {{OPEN, 3}}, SPLICE_WRITE_FAILED, UNCHANGED},
        {"head write fails", {{WRITE, 1}}, SPLICE_WRITE_FAILED, RESTORED},
        {"tail write fails", {{WRITE, 2}}, SPLICE_WRITE_FAILED, RESTORED},
        {"flush after writing fails", {{FLUSH, 2}}, SPLICE_WRITE_FAILED, RESTORED},
        // The tail is not written over a head that is not on the disk.
        {"commit of the head fails", {{COMMIT, 1}}, SPLICE_WRITE_FAILED, RESTORED},
        // Everything written, but not known to be on the disk: never "done".
        {"commit after writing fails", {{COMMIT, 2}}, SPLICE_WRITE_FAILED, RESTORED},
        {"close after writing fails", {{CLOSE, 3}}, SPLICE_WRITE_FAILED, RESTORED},
        // The write-back fails as well: the old archive goes to a new file.
        {"write-back cannot open", {{WRITE, 2}, {OPEN, 4}}, SPLICE_ARCHIVE_RESCUED, UNKNOWN},
        {"write-back write fails", {{WRITE, 1}, {WRITE, 2}}, SPLICE_ARCHIVE_RESCUED, UNKNOWN},
        {"write-back flush fails", {{FLUSH, 1}, {FLUSH, 2}}, SPLICE_ARCHIVE_RESCUED, UNKNOWN},
        {"write-back commit fails", {{COMMIT, 1}, {COMMIT, 2}}, SPLICE_ARCHIVE_RESCUED, UNKNOWN},
        {"write-back close fails", {{CLOSE, 3}, {CLOSE, 4}}, SPLICE_ARCHIVE_RESCUED, UNKNOWN},
        // And so does the copy: nothing is left that passes for the archive.
        {"copy cannot be created", {{WRITE, 1}, {WRITE, 2}, {CREATE, 1}}, SPLICE_RESTORE_FAILED,
         UNKNOWN},
        {"copy write fails", {{WRITE, 1}, {WRITE, 2}, {WRITE, 3}}, SPLICE_RESTORE_FAILED,
         UNKNOWN},
        {"copy commit fails", {{COMMIT, 1}, {COMMIT, 2}, {COMMIT, 3}}, SPLICE_RESTORE_FAILED,
         UNKNOWN},
        {"copy close fails", {{CLOSE, 3}, {CLOSE, 4}, {CLOSE, 5}}, SPLICE_RESTORE_FAILED,
         UNKNOWN},
        // Closing a file that was read whole loses nothing.
        {"close after reading the update fails", {{CLOSE, 1}}, SPLICE_DONE, SPLICED},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes archive = pattern(kSmall.archive_size, 3);
        const Bytes update = pattern(kSmall.head_length, 4);
        write_bytes(archive_, archive);
        write_bytes(update_, update);
        clear_rescue_folder();
        reset_calls();
        g_faults = c.faults;

        EXPECT_EQ(c.result, splice(kSmall));
        EXPECT_EQ(0, g_open_files) << "a file was left open";
        for (const Fault& f : c.faults)
            EXPECT_GE(g_calls[f.op], f.call) << kOpNames[f.op] << " " << f.call << " never ran";

        const Bytes result = read_bytes(archive_);
        if (c.after == SPLICED) {
            EXPECT_TRUE(result == spliced(update, archive, kSmall));
        } else if (c.after == RESTORED) {
            // Written back from memory: byte for byte the old archive.
            EXPECT_GE(g_calls[OPEN], 4);
            EXPECT_TRUE(result == archive) << result.size() << " bytes";
        } else if (c.after == UNCHANGED) {
            EXPECT_TRUE(result == archive) << result.size() << " bytes";
            EXPECT_LE(g_calls[OPEN], 3) << "the archive was opened again for writing";
        }

        // A copy exists exactly when the result says so, and it is the old
        // archive, committed, under the first rescue name.
        const std::vector<std::string> names = rescue_folder_names();
        if (c.result == SPLICE_ARCHIVE_RESCUED) {
            ASSERT_EQ(std::vector<std::string>{RESCUE_NAME}, names);
            EXPECT_EQ(rescue_ + RESCUE_NAME, rescue_path_);
            EXPECT_TRUE(read_bytes(rescue_path_) == archive);
            ASSERT_GE(g_log.size(), 3u);
            const std::vector<Op> last(g_log.end() - 3, g_log.end());
            EXPECT_TRUE((last == std::vector<Op>{FLUSH, COMMIT, CLOSE})) << "copy not committed";
        } else {
            EXPECT_TRUE(names.empty()) << names.size() << " files, first " << names[0];
            EXPECT_EQ("", rescue_path_);
        }
    }
}

// The copy never replaces a file: it takes the first free name, and where
// there is none, or no folder to hold it, there is no copy.
TEST_F(SpliceTest, CopyTakesTheFirstFreeNameAndReplacesNothing) {
    const struct {
        const char* name;
        int taken;             // RESCUE_NAME, then RESCUE_NAME + "2", ... exist
        bool folder_exists;
        SpliceResult result;
        const char* copy_name;
    } cases[] = {
        {"no earlier copy", 0, true, SPLICE_ARCHIVE_RESCUED, RESCUE_NAME},
        {"two earlier copies", 2, true, SPLICE_ARCHIVE_RESCUED, "update1.ovp.backup3"},
        {"all but the last name taken", RESCUE_NAME_TRIES - 1, true, SPLICE_ARCHIVE_RESCUED,
         "update1.ovp.backup9"},
        {"every name taken", RESCUE_NAME_TRIES, true, SPLICE_RESTORE_FAILED, nullptr},
        {"folder missing", 0, false, SPLICE_RESTORE_FAILED, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes archive = pattern(kSmall.archive_size, 8);
        write_bytes(archive_, archive);
        write_bytes(update_, pattern(kSmall.head_length, 9));
        clear_rescue_folder();
        std::vector<std::string> earlier;
        for (int n = 1; n <= c.taken; ++n) {
            earlier.push_back(n == 1 ? RESCUE_NAME : RESCUE_NAME + std::to_string(n));
            write_bytes(rescue_ + earlier.back(), pattern(10, 100 + static_cast<unsigned>(n)));
        }
        if (!c.folder_exists) {
            ASSERT_EQ(0, rmdir(rescue_.c_str()));
        }
        reset_calls();
        g_faults = {{WRITE, 1}, {WRITE, 2}};

        EXPECT_EQ(c.result, splice(kSmall));
        EXPECT_EQ(0, g_open_files);
        for (size_t i = 0; i < earlier.size(); ++i)
            EXPECT_TRUE(read_bytes(rescue_ + earlier[i]) ==
                        pattern(10, 100 + static_cast<unsigned>(i + 1)))
                << earlier[i] << " was changed";
        std::vector<std::string> expected = earlier;
        if (c.copy_name != nullptr) {
            EXPECT_EQ(rescue_ + c.copy_name, rescue_path_);
            EXPECT_TRUE(read_bytes(rescue_path_) == archive);
            expected.push_back(c.copy_name);
            std::sort(expected.begin(), expected.end());
        } else {
            EXPECT_EQ("", rescue_path_);
        }
        EXPECT_EQ(expected, rescue_folder_names());
        if (!c.folder_exists) {
            ASSERT_EQ(0, mkdir(rescue_.c_str(), 0777));
        }
    }
}

// The copy's full path must fit the box and be openable by that name: a
// longer one is refused before anything is created.
TEST_F(SpliceTest, CopyPathLongerThanAWindowsPathIsRefused) {
    // Nested folders so that the copy's full path is exactly 260 bytes, then
    // one byte more.
    const size_t name_length = sizeof(RESCUE_NAME) - 1;
    std::string folder = rescue_;
    std::vector<std::string> made;
    while (folder.size() + name_length < RESCUE_PATH_BYTES - 1 - 100) {
        folder += std::string(99, 'f') + "/";
        made.push_back(folder);
    }
    const size_t last = RESCUE_PATH_BYTES - 1 - name_length - folder.size() - 1;
    folder += std::string(last, 'g') + "/";
    made.push_back(folder);
    for (const std::string& dir : made)
        ASSERT_EQ(0, mkdir(dir.c_str(), 0777)) << dir;
    ASSERT_EQ(RESCUE_PATH_BYTES - 1, folder.size() + name_length);

    const Bytes archive = pattern(kSmall.archive_size, 10);
    write_bytes(update_, pattern(kSmall.head_length, 11));
    for (const bool too_long : {false, true}) {
        SCOPED_TRACE(too_long ? "261 bytes" : "260 bytes");
        const std::string rescue_folder = too_long ? folder + "/" : folder;
        write_bytes(archive_, archive);
        reset_calls();
        g_faults = {{WRITE, 1}, {WRITE, 2}};
        const SpliceOutcome outcome =
            splice_files(archive_.c_str(), update_.c_str(), kSmall, rescue_folder.c_str());
        if (too_long) {
            EXPECT_EQ(SPLICE_RESTORE_FAILED, outcome.result);
            EXPECT_EQ(0, g_calls[CREATE]);
            EXPECT_STREQ("", outcome.rescue_path);
        } else {
            EXPECT_EQ(SPLICE_ARCHIVE_RESCUED, outcome.result);
            EXPECT_EQ(folder + RESCUE_NAME, outcome.rescue_path);
            EXPECT_TRUE(read_bytes(outcome.rescue_path) == archive);
            unlink(outcome.rescue_path);
        }
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        rmdir(it->c_str());
}

TEST_F(SpliceTest, SourcesThatDoNotMatchTheLayoutAreNotSpliced) {
    struct Case {
        const char* name;
        size_t archive_length;
        size_t update_length;
        bool update_exists;
        SpliceResult result;
    } const cases[] = {
        {"update data one byte short", kSmall.archive_size, kSmall.head_length - 1, true,
         SPLICE_UPDATE_DATA_UNREADABLE},
        {"update data empty", kSmall.archive_size, 0, true, SPLICE_UPDATE_DATA_UNREADABLE},
        {"update data missing", kSmall.archive_size, 0, false, SPLICE_UPDATE_DATA_UNREADABLE},
        {"archive shrank since it was measured", kSmall.archive_size - 1, kSmall.head_length,
         true, SPLICE_ARCHIVE_UNREADABLE},
        {"archive grew since it was measured", kSmall.archive_size + 1, kSmall.head_length,
         true, SPLICE_ARCHIVE_UNREADABLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes archive = pattern(c.archive_length, 5);
        write_bytes(archive_, archive);
        unlink(update_.c_str());
        if (c.update_exists)
            write_bytes(update_, pattern(c.update_length, 6));
        EXPECT_EQ(c.result, splice(kSmall));
        EXPECT_TRUE(read_bytes(archive_) == archive);
    }
}

TEST_F(SpliceTest, RealSizeArchiveMovesInBoundedPiecesWithTheSeamAtItsPlace) {
    // A sparse 1.00 archive with distinct bytes on both sides of the cut and
    // at both ends; the update data is non-repeating.
    const long last = static_cast<long>(ARCHIVE_SIZE_V100) - 1;
    {
        FILE* f = fopen(archive_.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        ASSERT_EQ(0, ftruncate(fileno(f), ARCHIVE_SIZE_V100));
        const struct {
            long offset;
            unsigned char byte;
        } marks[] = {{0, 0x11}, {REPLACED_HEAD_LENGTH - 1, 0x22}, {REPLACED_HEAD_LENGTH, 0x33},
                     {REPLACED_HEAD_LENGTH + 1, 0x44}, {last, 0x55}};
        for (const auto& m : marks) {
            ASSERT_EQ(0, fseek(f, m.offset, SEEK_SET));
            ASSERT_EQ(1u, fwrite(&m.byte, 1, 1, f));
        }
        ASSERT_EQ(0, fclose(f));
    }
    const Bytes update = pattern(static_cast<size_t>(UPDATE_HEAD_LENGTH), 7);
    write_bytes(update_, update);

    ASSERT_EQ(SPLICE_DONE, splice(UPDATE_SPLICE_LAYOUT));
    EXPECT_LE(g_largest_transfer, SPLICE_CHUNK_BYTES);
    // 609 MiB in pieces of at most 16 MiB.
    EXPECT_GE(g_calls[READ], static_cast<int>(ARCHIVE_SIZE_V100 / SPLICE_CHUNK_BYTES) + 1);

    int64_t size = 0;
    ASSERT_TRUE(measure_file_size(archive_.c_str(), &size));
    EXPECT_EQ(ARCHIVE_SIZE_V101, size);
    EXPECT_EQ(VERSION_101, classify_archive_size(size));

    FILE* f = fopen(archive_.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    Bytes head(update.size() + 2);
    ASSERT_EQ(head.size(), fread(head.data(), 1, head.size(), f));
    fclose(f);
    EXPECT_TRUE(Bytes(head.begin(), head.begin() + static_cast<long>(update.size())) == update);
    EXPECT_EQ(0x33, head[update.size()]);  // old byte 170549 follows the new head
    EXPECT_EQ(0x44, head[update.size() + 1]);

    f = fopen(archive_.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(0, fseek(f, -1, SEEK_END));
    EXPECT_EQ(0x55, fgetc(f));
    fclose(f);
}

TEST_F(SpliceTest, MeasuredSizeIsExactAboveTwoGibibytes) {
    const struct {
        int64_t size;
        VersionCode code;
    } cases[] = {
        {0, VERSION_UNKNOWN},
        {1, VERSION_PATCH_MISSING},
        {ARCHIVE_SIZE_V100, VERSION_100},
        {ARCHIVE_SIZE_V100 + 1, VERSION_UNKNOWN},
        {(int64_t{1} << 31) + 1, VERSION_UNKNOWN},
        {(int64_t{1} << 32) + ARCHIVE_SIZE_V100, VERSION_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        FILE* f = fopen(archive_.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        ASSERT_EQ(0, ftruncate(fileno(f), c.size));
        fclose(f);
        int64_t size = -2;
        ASSERT_TRUE(measure_file_size(archive_.c_str(), &size));
        EXPECT_EQ(c.size, size);
        EXPECT_EQ(c.code, classify_archive_size(size));
    }
    unlink(archive_.c_str());
    int64_t size = -2;
    EXPECT_FALSE(measure_file_size(archive_.c_str(), &size));
}

// An archive of no known size is told apart as the remains of a rewrite cut
// short only by its head: the update data's first bytes, as many as it holds.
TEST_F(SpliceTest, OnlyACutShortRewriteIsToldApartFromAnUnknownSize) {
    const size_t head = static_cast<size_t>(UPDATE_HEAD_LENGTH);
    const int64_t reported_fragment = 138412032;  // left by a process killed mid-write
    enum Update { WHOLE, SHORT, MISSING };
    const struct {
        const char* name;
        int64_t size;      // the archive's size: its head, then a hole
        long changed;      // the offset of a byte changed in its head, or -1
        Update update;
        bool interrupted;
    } cases[] = {
        {"two bytes of the head", 2, -1, WHOLE, true},
        {"part of the head", 1000, -1, WHOLE, true},
        {"the head and part of the tail", reported_fragment, -1, WHOLE, true},
        {"one byte short of 1.01", ARCHIVE_SIZE_V101 - 1, -1, WHOLE, true},
        {"part of the head, its first byte changed", 1000, 0, WHOLE, false},
        {"the head and more, its last byte changed", reported_fragment,
         static_cast<long>(head) - 1, WHOLE, false},
        {"one byte longer than 1.01", ARCHIVE_SIZE_V101 + 1, -1, WHOLE, false},
        {"empty", 0, -1, WHOLE, false},
        {"update data shorter than the compared head", reported_fragment, -1, SHORT, false},
        {"update data missing", reported_fragment, -1, MISSING, false},
    };
    const Bytes update = pattern(head, 12);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes archive_head(update.begin(),
                           update.begin() + std::min<long>(static_cast<long>(c.size),
                                                           static_cast<long>(head)));
        if (c.changed >= 0)
            archive_head[static_cast<size_t>(c.changed)] ^= 0x01;
        write_bytes(archive_, archive_head);
        ASSERT_EQ(0, truncate(archive_.c_str(), c.size));
        unlink(update_.c_str());
        if (c.update != MISSING)
            write_bytes(update_, Bytes(update.begin(), update.end() - (c.update == SHORT)));

        int64_t size = 0;
        ASSERT_TRUE(measure_file_size(archive_.c_str(), &size));
        ASSERT_EQ(VERSION_UNKNOWN, classify_archive_size(size));
        EXPECT_EQ(c.interrupted, is_interrupted_rewrite(archive_.c_str(), size, update_.c_str()));
    }
}

TEST(SpliceResultBox, EachResultHasItsOneBox) {
    const struct {
        SpliceResult result;
        const char* text;
        const char* caption;
        bool title_in_text;
    } cases[] = {
        {SPLICE_DONE, MSG_SUCCESS, CAPTION_DONE, true},
        {SPLICE_OUT_OF_MEMORY, MSG_OUT_OF_MEMORY, CAPTION_ERROR, false},
        {SPLICE_UPDATE_DATA_UNREADABLE, MSG_UPDATE_DATA_MISSING, CAPTION_ERROR, false},
        {SPLICE_ARCHIVE_UNREADABLE, MSG_ARCHIVE_BUSY, CAPTION_ERROR, true},
        {SPLICE_WRITE_FAILED, MSG_WRITE_FAILED, CAPTION_FAILED, false},
        {SPLICE_ARCHIVE_RESCUED, MSG_ARCHIVE_RESCUED, CAPTION_FAILED, true},
        {SPLICE_RESTORE_FAILED, MSG_ARCHIVE_DAMAGED, CAPTION_FAILED, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        const ResultBox box = splice_result_box(c.result);
        EXPECT_EQ(c.text, box.text);
        EXPECT_EQ(c.caption, box.caption);
        EXPECT_EQ(c.title_in_text, box.title_in_text);
    }
}

}  // namespace
