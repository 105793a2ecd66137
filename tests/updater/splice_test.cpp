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
#include <set>
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
    // The head, the tail but its last byte, and the last byte are each
    // committed before the next is written, and that close is the last thing
    // done; no copy is made. (What this order leaves on the disk at every
    // point is SpliceCutShortTest's.)
    const std::vector<Op> last(g_log.end() - 10, g_log.end());
    EXPECT_TRUE((last == std::vector<Op>{WRITE, FLUSH, COMMIT, WRITE, FLUSH, COMMIT, WRITE, FLUSH,
                                         COMMIT, CLOSE}));
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
    // 2 tail but its last byte, 3 that byte (each skipped once one fails),
    // then the write-back in two, then the copy; a flush and a commit after
    // each of these writes; close in the order of the files; create 1 the
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
        {"last byte's write fails", {{WRITE, 3}}, SPLICE_WRITE_FAILED, RESTORED},
        {"flush after writing fails", {{FLUSH, 2}}, SPLICE_WRITE_FAILED, RESTORED},
        // The tail is not written over a head that is not on the disk.
        {"commit of the head fails", {{COMMIT, 1}}, SPLICE_WRITE_FAILED, RESTORED},
        // Everything written, but not known to be on the disk: never "done".
        {"commit after writing fails", {{COMMIT, 3}}, SPLICE_WRITE_FAILED, RESTORED},
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
        {"empty: the truncating open leaves it", 0, -1, WHOLE, true},
        {"empty, update data unreadable", 0, -1, MISSING, true},
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

// ---- What the disk may hold when a rewrite is cut short ----
//
// One splice on the real layout is recorded through the splice's table
// without moving a byte (reads and writes only count), and every file that
// the disk may hold when the power fails after any of its calls is made
// (sparse: the next run reads only the size and the head) and classified as
// the next run does. A process that is ended leaves one of these files too:
// what it wrote stays in the system's cache.

// Where a range of a file's bytes comes from.
enum Source { OLD_ARCHIVE, UPDATE_DATA, ZEROS };
struct Extent {
    Source source;
    int64_t from;  // offset in the source
    int64_t length;
};
using Image = std::vector<Extent>;  // a file's bytes from offset 0, in order

const Image kWholeV100 = {{OLD_ARCHIVE, 0, ARCHIVE_SIZE_V100}};
const Image kWholeV101 = {{UPDATE_DATA, 0, UPDATE_HEAD_LENGTH},
                          {OLD_ARCHIVE, REPLACED_HEAD_LENGTH, KEPT_TAIL_LENGTH}};

int64_t image_size(const Image& image) {
    int64_t size = 0;
    for (const Extent& e : image)
        size += e.length;
    return size;
}

// The first size bytes of image, then zeros up to size: the bytes that were
// not committed read as zeros after a power cut.
Image image_cut(const Image& image, int64_t size) {
    Image out;
    for (const Extent& e : image) {
        const int64_t left = size - image_size(out);
        if (left == 0)
            break;
        out.push_back({e.source, e.from, std::min(e.length, left)});
    }
    if (image_size(out) < size)
        out.push_back({ZEROS, 0, size - image_size(out)});
    return out;
}

// Whether a and b hold the same first n bytes; both hold at least n.
bool same_bytes(const Image& a, const Image& b, int64_t n) {
    size_t i = 0, j = 0;
    int64_t in_a = 0, in_b = 0;
    for (int64_t done = 0; done < n;) {
        const Extent& x = a[i];
        const Extent& y = b[j];
        const int64_t step = std::min({x.length - in_a, y.length - in_b, n - done});
        if (x.source != y.source || (x.source != ZEROS && x.from + in_a != y.from + in_b))
            return false;
        done += step;
        in_a += step;
        in_b += step;
        if (in_a == x.length)
            ++i, in_a = 0;
        if (in_b == y.length)
            ++j, in_b = 0;
    }
    return true;
}

// The same key for the same bytes.
std::string image_key(const Image& image, bool blind) {
    std::string key = blind ? "b" : "s";
    for (const Extent& e : image)
        key += std::to_string(e.source) + ":" + std::to_string(e.source == ZEROS ? 0 : e.from) +
               "+" + std::to_string(e.length) + ",";
    return key;
}

// The calls on the archive while it is written: each open truncates it, each
// write appends one extent, each commit puts everything written on the disk.
enum ArchiveCall { TRUNCATE, APPEND, COMMIT_ALL };
struct Recorded {
    ArchiveCall call;
    Extent written;
};
std::vector<Recorded> g_recorded;
uintptr_t g_head_block, g_body_block;
std::vector<std::pair<FILE*, int64_t>> g_unread;  // streams read, and the bytes left in them
FILE* g_writing;
int g_write_calls;
int g_failing_write;  // this write call moves half its bytes; 0: none

void* record_alloc(size_t size) {
    void* block = malloc(size);
    (size == static_cast<size_t>(UPDATE_HEAD_LENGTH) ? g_head_block : g_body_block) =
        reinterpret_cast<uintptr_t>(block);
    return block;
}

FILE* record_open(const char* path, const char* mode) {
    FILE* file = fopen("/dev/null", mode);
    if (strcmp(mode, "wb") == 0) {
        g_recorded.push_back({TRUNCATE, {}});
        g_writing = file;
    } else {
        g_unread.push_back({file, strstr(path, UPDATE_DATA_FILE) != nullptr ? UPDATE_HEAD_LENGTH
                                                                             : ARCHIVE_SIZE_V100});
    }
    return file;
}

FILE* record_create(const char*) {
    ADD_FAILURE() << "the recorded runs make no copy";
    return nullptr;
}

// As from a file of the size recorded at its open; at its end /dev/null's
// own read gives 0 and sets the end-of-file flag.
size_t record_read(void* buffer, size_t size, size_t count, FILE* file) {
    for (auto& [stream, left] : g_unread)
        if (stream == file && left > 0) {
            const size_t n = std::min(count, static_cast<size_t>(left));
            left -= static_cast<int64_t>(n);
            return n;
        }
    return fread(buffer, size, count, file);
}

size_t record_write(const void* buffer, size_t, size_t count, FILE* file) {
    EXPECT_EQ(g_writing, file);
    const uintptr_t at = reinterpret_cast<uintptr_t>(buffer);
    const bool from_head = at >= g_head_block && at < g_head_block + UPDATE_HEAD_LENGTH;
    const size_t n = ++g_write_calls == g_failing_write ? count / 2 : count;
    g_recorded.push_back({APPEND,
                          {from_head ? UPDATE_DATA : OLD_ARCHIVE,
                           static_cast<int64_t>(at - (from_head ? g_head_block : g_body_block)),
                           static_cast<int64_t>(n)}});
    return n;
}

int record_flush(FILE*) { return 0; }

int record_commit(FILE*) {
    g_recorded.push_back({COMMIT_ALL, {}});
    return 0;
}

int record_close(FILE* file) { return fclose(file); }

// What the next run makes of the archive.
enum NextRun { QUESTIONS, ALREADY_APPLIED, PATCH_MISSING, INTERRUPTED };
const char* const kNextRunNames[] = {"the two questions", "already applied", "patch missing",
                                     "interrupted"};

class SpliceCutShortTest : public SpliceTest {
protected:
    // Records one run in which the failing_write-th write moves half its
    // bytes (0: none fails).
    SpliceResult record(int failing_write) {
        g_recorded.clear();
        g_unread.clear();
        g_write_calls = 0;
        g_failing_write = failing_write;
        splice_io = {record_alloc, free,         record_open,   record_create, record_read,
                     record_write, record_flush, record_commit, record_close};
        const SpliceResult result = splice(UPDATE_SPLICE_LAYOUT);
        splice_io_defaults();
        return result;
    }

    NextRun next_run(const Image& file) {
        // Only the head is read: materialise that much.
        Bytes head;
        for (const Extent& e : file) {
            const size_t n =
                std::min(static_cast<size_t>(e.length), update_data_.size() - head.size());
            const Bytes& from = e.source == UPDATE_DATA ? update_data_ : old_head_;
            if (n == 0)
                break;
            if (e.source == ZEROS) {
                head.insert(head.end(), n, 0);
            } else if (static_cast<size_t>(e.from) + n > from.size()) {
                ADD_FAILURE() << "no bytes made for source offset " << e.from;
                break;
            } else {
                head.insert(head.end(), from.begin() + e.from,
                            from.begin() + e.from + static_cast<long>(n));
            }
        }
        write_bytes(archive_, head);
        EXPECT_EQ(0, truncate(archive_.c_str(), image_size(file)));
        int64_t size = -1;
        EXPECT_TRUE(measure_file_size(archive_.c_str(), &size));
        switch (classify_archive_size(size)) {
        case VERSION_100:
            return QUESTIONS;
        case VERSION_101:
            return ALREADY_APPLIED;
        case VERSION_PATCH_MISSING:
            return PATCH_MISSING;
        case VERSION_UNKNOWN:
            break;
        }
        return is_interrupted_rewrite(archive_.c_str(), size, update_.c_str()) ? INTERRUPTED
                                                                               : ALREADY_APPLIED;
    }

    // Replays the recorded calls, and after each one classifies every file
    // the disk may hold: until the first commit after an open, the file as it
    // was or the truncated one; then what was committed, and of what was
    // written since, any amount, as written or as zeros. Returns the file
    // with everything written.
    Image replay_and_check() {
        Image committed = kWholeV100;  // as the disk holds it for certain
        Image written;           // since the last open
        bool truncation_committed = true;
        std::set<std::string> seen;  // the files already classified, with their window
        int opens = 0;
        for (size_t k = 0; k < g_recorded.size(); ++k) {
            const Recorded& r = g_recorded[k];
            if (r.call == TRUNCATE) {
                ++opens;
                written.clear();
                truncation_committed = false;
            } else if (r.call == APPEND) {
                written.push_back(r.written);
            } else {
                committed = written;
                truncation_committed = true;
            }
            // Where the next run cannot tell what happened: while the update
            // data is written after the truncating open and not yet committed,
            // and anywhere in the write-back.
            const bool blind = (opens == 1 && !truncation_committed &&
                                image_size(written) <= UPDATE_HEAD_LENGTH) ||
                               opens >= 2;
            std::vector<Image> files;
            if (!truncation_committed)
                files.push_back(committed);
            const int64_t low = truncation_committed ? image_size(committed) : 0;
            const int64_t high = image_size(written);
            std::vector<int64_t> sizes = {low, low + 1, high - 1, high};
            for (const int64_t known : {int64_t{1}, int64_t{2}, UPDATE_HEAD_LENGTH,
                                        ARCHIVE_SIZE_V101, ARCHIVE_SIZE_V100})
                sizes.insert(sizes.end(), {known - 1, known, known + 1});
            for (const int64_t size : sizes) {
                if (size < low || size > high)
                    continue;
                files.push_back(image_cut(written, size));
                files.push_back(image_cut(truncation_committed ? committed : Image{}, size));
            }
            for (const Image& file : files) {
                if (!seen.insert(image_key(file, blind)).second)
                    continue;
                const int64_t size = image_size(file);
                const NextRun next = next_run(file);
                // A file that is wrong in its last byte at most: the last
                // byte's own commit was cut short.
                const auto near = [&](const Image& whole) {
                    return size == image_size(whole) && same_bytes(file, whole, size - 1);
                };
                const bool fine = next == INTERRUPTED ||
                                  (next == QUESTIONS && near(kWholeV100)) ||
                                  (next == ALREADY_APPLIED && (near(kWholeV101) || blind)) ||
                                  (next == PATCH_MISSING && blind);
                const bool zeros = !file.empty() && file.back().source == ZEROS;
                EXPECT_TRUE(fine) << "after call " << k << " of " << g_recorded.size() << ": "
                                  << size << " bytes, " << file.size() << " extents, "
                                  << (zeros ? "ending in zeros, " : "") << "told "
                                  << kNextRunNames[next];
            }
        }
        return written;
    }

    void SetUp() override {
        SpliceTest::SetUp();
        update_data_ = pattern(static_cast<size_t>(UPDATE_HEAD_LENGTH), 30);
        old_head_ = pattern(static_cast<size_t>(UPDATE_HEAD_LENGTH), 31);
        write_bytes(update_, update_data_);
    }

    Bytes update_data_;
    Bytes old_head_;  // the 1.00 archive's first bytes
};

TEST_F(SpliceCutShortTest, EveryStateOnTheDiskIsTheWholeArchiveOrToldInterrupted) {
    const struct {
        const char* name;
        int failing_write;  // 0: none; 3, the tail's second piece: written back
        SpliceResult result;
        const Image& last;  // the file once everything is written
        NextRun next;
    } runs[] = {
        {"the rewrite", 0, SPLICE_DONE, kWholeV101, ALREADY_APPLIED},
        {"a failed rewrite written back", 3, SPLICE_WRITE_FAILED, kWholeV100, QUESTIONS},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        ASSERT_EQ(run.result, record(run.failing_write));
        const Image last = replay_and_check();
        const int64_t size = image_size(last);
        ASSERT_EQ(image_size(run.last), size);
        EXPECT_TRUE(same_bytes(run.last, last, size));
        EXPECT_EQ(run.next, next_run(last));
    }
}

TEST(SpliceResultBox, EachResultHasItsOneBox) {
    const struct {
        SpliceResult result;
        BoxId box;
    } cases[] = {
        {SPLICE_DONE, BOX_SUCCESS},
        {SPLICE_OUT_OF_MEMORY, BOX_OUT_OF_MEMORY},
        {SPLICE_UPDATE_DATA_UNREADABLE, BOX_UPDATE_DATA_MISSING},
        {SPLICE_ARCHIVE_UNREADABLE, BOX_ARCHIVE_BUSY},
        {SPLICE_WRITE_FAILED, BOX_WRITE_FAILED},
        {SPLICE_ARCHIVE_RESCUED, BOX_ARCHIVE_RESCUED},
        {SPLICE_RESTORE_FAILED, BOX_ARCHIVE_DAMAGED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        EXPECT_STREQ(BOXES[c.box].name, BOXES[splice_result_box(c.result)].name);
    }
}

}  // namespace
