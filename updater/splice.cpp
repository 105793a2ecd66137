// The archive splice: the new archive is the head of the update data followed
// by the old archive's tail, written in place over the old archive. Both
// sources are read whole into memory before the archive is opened for
// writing, since that open truncates it and no copy exists anywhere else.
#include "updater/updater.h"

#include <cstdlib>

static void* default_alloc(size_t size) { return malloc(size); }
static void default_release(void* block) { free(block); }

static const SpliceIo DEFAULT_SPLICE_IO = {
    default_alloc, default_release, fopen, fread, fwrite, fclose,
};

SpliceIo splice_io = DEFAULT_SPLICE_IO;

void splice_io_defaults() {
    splice_io = DEFAULT_SPLICE_IO;
}

static size_t chunk_length(size_t remaining) {
    return remaining < SPLICE_CHUNK_BYTES ? remaining : SPLICE_CHUNK_BYTES;
}

// Moves length bytes as transfer(offset, count) calls of at most
// SPLICE_CHUNK_BYTES each, in order: the same bytes land in the same places
// as with one call. false as soon as one call moves fewer bytes.
template <typename Transfer>
static bool in_chunks(size_t length, Transfer transfer) {
    for (size_t done = 0; done < length;) {
        const size_t n = chunk_length(length - done);
        if (transfer(done, n) != n)
            return false;
        done += n;
    }
    return true;
}

static bool read_whole(FILE* file, unsigned char* block, size_t length) {
    return in_chunks(length, [file, block](size_t offset, size_t n) {
        return splice_io.read(block + offset, 1, n, file);
    });
}

static bool write_whole(FILE* file, const unsigned char* block, size_t length) {
    return in_chunks(length, [file, block](size_t offset, size_t n) {
        return splice_io.write(block + offset, 1, n, file);
    });
}

// Reads exactly length bytes of path into block. With exact set, the file
// must also end there: a file that has grown since it was measured would lose
// its extra bytes in the rewrite.
static bool read_file(const char* path, unsigned char* block, size_t length, bool exact) {
    FILE* file = splice_io.open(path, "rb");
    if (file == nullptr)
        return false;
    bool ok = read_whole(file, block, length);
    if (ok && exact) {
        // Only the end of the file proves that nothing follows: a read that
        // fails there also returns 0, and the bytes it did not see would be
        // lost in the rewrite.
        unsigned char extra;
        ok = splice_io.read(&extra, 1, 1, file) == 0 && feof(file) != 0;
    }
    // A failed close after reading loses nothing: the bytes are in memory.
    splice_io.close(file);
    return ok;
}

enum WriteOutcome {
    WRITE_COMPLETE,
    WRITE_NOT_OPENED,  // the file was not opened, so it was not truncated either
    WRITE_INCOMPLETE,  // opened (and truncated), but not all written and closed
};

// Writes the pieces in order to a file created (or truncated) at path.
static WriteOutcome write_file(const char* path, const unsigned char* first, size_t first_length,
                               const unsigned char* second, size_t second_length) {
    FILE* file = splice_io.open(path, "wb");
    if (file == nullptr)
        return WRITE_NOT_OPENED;
    bool ok = write_whole(file, first, first_length) &&
              write_whole(file, second, second_length);
    // fclose releases the stream whatever it returns; its result tells whether
    // the buffered last bytes reached the file.
    if (splice_io.close(file) != 0)
        ok = false;
    return ok ? WRITE_COMPLETE : WRITE_INCOMPLETE;
}

static SpliceResult splice_blocks(const char* archive_path, const char* update_path,
                                  const SpliceLayout& layout, unsigned char* head) {
    if (!read_file(update_path, head, layout.head_length, false))
        return SPLICE_UPDATE_DATA_UNREADABLE;

    unsigned char* body = static_cast<unsigned char*>(splice_io.alloc(layout.archive_size));
    if (body == nullptr)
        return SPLICE_OUT_OF_MEMORY;

    SpliceResult result = SPLICE_DONE;
    if (!read_file(archive_path, body, layout.archive_size, true)) {
        result = SPLICE_ARCHIVE_UNREADABLE;
    } else {
        const WriteOutcome written =
            write_file(archive_path, head, layout.head_length, body + layout.replaced_length,
                       layout.archive_size - layout.replaced_length);
        if (written == WRITE_NOT_OPENED) {
            // A read-only archive, typically: it was not touched.
            result = SPLICE_WRITE_FAILED;
        } else if (written == WRITE_INCOMPLETE) {
            // The archive may now be empty or half written, but its old
            // content is still whole in memory: write it back. If even that
            // fails, the player is told the update failed; nothing more can
            // be done without a copy on disk, which the program does not make.
            result = write_file(archive_path, body, layout.archive_size, nullptr, 0) ==
                             WRITE_COMPLETE
                         ? SPLICE_WRITE_FAILED
                         : SPLICE_RESTORE_FAILED;
        }
    }
    splice_io.release(body);
    return result;
}

SpliceResult splice_files(const char* archive_path, const char* update_path,
                          const SpliceLayout& layout) {
    if (layout.replaced_length > layout.archive_size)
        return SPLICE_ARCHIVE_UNREADABLE;
    unsigned char* head = static_cast<unsigned char*>(splice_io.alloc(layout.head_length));
    if (head == nullptr)
        return SPLICE_OUT_OF_MEMORY;
    const SpliceResult result = splice_blocks(archive_path, update_path, layout, head);
    splice_io.release(head);
    return result;
}

SpliceResult splice_archive(const char* prefix) {
    char archive_path[COMPOSED_PATH_BYTES];
    if (!compose_path(archive_path, sizeof(archive_path), prefix, ARCHIVE_RELATIVE_PATH))
        return SPLICE_ARCHIVE_UNREADABLE;
    return splice_files(archive_path, UPDATE_DATA_FILE, UPDATE_SPLICE_LAYOUT);
}

ResultBox splice_result_box(SpliceResult result) {
    switch (result) {
    case SPLICE_DONE:
        return {MSG_SUCCESS, CAPTION_DONE, true};
    case SPLICE_OUT_OF_MEMORY:
        return {MSG_OUT_OF_MEMORY, CAPTION_ERROR, false};
    case SPLICE_UPDATE_DATA_UNREADABLE:
        return {MSG_UPDATE_DATA_MISSING, CAPTION_ERROR, false};
    case SPLICE_ARCHIVE_UNREADABLE:
        return {MSG_ARCHIVE_BUSY, CAPTION_ERROR, true};
    case SPLICE_WRITE_FAILED:
    case SPLICE_RESTORE_FAILED:
        break;
    }
    return {MSG_WRITE_FAILED, CAPTION_FAILED, false};
}
