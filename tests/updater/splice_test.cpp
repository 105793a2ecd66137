// The archive splice on real files, with failures injected through the
// splice's file-operation table, and the size measurement of the archive.
#include "updater/updater.h"

#include <gtest/gtest.h>

#include <unistd.h>

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

enum Op { ALLOC, OPEN, READ, WRITE, CLOSE, OP_COUNT };
const char* const kOpNames[] = {"alloc", "open", "read", "write", "close"};

struct Fault {
    Op op;
    int call;  // 1-based number of the call of that kind that fails
};

int g_calls[OP_COUNT];
std::vector<Fault> g_faults;
int g_open_files;
size_t g_largest_transfer;

bool should_fail(Op op) {
    const int call = ++g_calls[op];
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
        memset(g_calls, 0, sizeof(g_calls));
        g_faults.clear();
        g_open_files = 0;
        g_largest_transfer = 0;
        splice_io.alloc = fake_alloc;
        splice_io.open = fake_open;
        splice_io.read = fake_read;
        splice_io.write = fake_write;
        splice_io.close = fake_close;
    }

    void TearDown() override {
        splice_io_defaults();
        unlink(archive_.c_str());
        unlink(update_.c_str());
        rmdir(dir_.c_str());
    }

    std::string dir_;
    std::string archive_;
    std::string update_;
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

    EXPECT_EQ(SPLICE_DONE, splice_files(archive_.c_str(), update_.c_str(), kSmall));
    const Bytes result = read_bytes(archive_);
    ASSERT_EQ(kSmall.archive_size - kSmall.replaced_length + kSmall.head_length, result.size());
    EXPECT_TRUE(result == spliced(update, archive, kSmall));
    EXPECT_EQ(0, g_open_files);
}

// What the archive holds after a failed splice.
enum After { UNCHANGED, SPLICED, RESTORED };

struct FaultCase {
    const char* name;
    std::vector<Fault> faults;
    SpliceResult result;
    After after;
};

TEST_F(SpliceTest, EveryFailureLeavesTheArchiveWholeAndIsReported) {
    // Calls in a run: alloc 1 head, 2 body; open 1 update, 2 archive "rb",
    // 3 archive "wb", 4 archive "wb" again to restore; read 1 update,
    // 2 archive, 3 the probe for bytes past the measured end; write 1 head,
    // 2 tail (skipped when the head fails), then the restore; close in the
    // order of the opens.
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
        {"close after writing fails", {{CLOSE, 3}}, SPLICE_WRITE_FAILED, RESTORED},
        {"restore cannot open", {{WRITE, 2}, {OPEN, 4}}, SPLICE_RESTORE_FAILED, UNCHANGED},
        {"restore write fails", {{WRITE, 1}, {WRITE, 2}}, SPLICE_RESTORE_FAILED, UNCHANGED},
        {"restore close fails", {{CLOSE, 3}, {CLOSE, 4}}, SPLICE_RESTORE_FAILED, RESTORED},
        // Closing a file that was read whole loses nothing.
        {"close after reading the update fails", {{CLOSE, 1}}, SPLICE_DONE, SPLICED},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes archive = pattern(kSmall.archive_size, 3);
        const Bytes update = pattern(kSmall.head_length, 4);
        write_bytes(archive_, archive);
        write_bytes(update_, update);
        memset(g_calls, 0, sizeof(g_calls));
        g_faults = c.faults;
        g_open_files = 0;

        EXPECT_EQ(c.result, splice_files(archive_.c_str(), update_.c_str(), kSmall));
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
        } else if (c.result == SPLICE_RESTORE_FAILED) {
            // The restore could not finish: the splice must not claim either
            // content, and the old archive was not left as it was.
            EXPECT_FALSE(result == archive);
            EXPECT_FALSE(result == spliced(update, archive, kSmall));
        } else {
            EXPECT_TRUE(result == archive) << result.size() << " bytes";
            EXPECT_LE(g_calls[OPEN], 3) << "the archive was opened again for writing";
        }
    }
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
        EXPECT_EQ(c.result, splice_files(archive_.c_str(), update_.c_str(), kSmall));
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

    ASSERT_EQ(SPLICE_DONE, splice_files(archive_.c_str(), update_.c_str(), UPDATE_SPLICE_LAYOUT));
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
        {SPLICE_RESTORE_FAILED, MSG_WRITE_FAILED, CAPTION_FAILED, false},
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
