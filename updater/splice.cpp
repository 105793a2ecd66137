// The archive splice: the new archive is the head of the update data followed
// by the old archive's tail, written in place over the old archive. Both
// sources are read whole into memory before the archive is opened for
// writing, since that open truncates it and no copy exists anywhere else.
#include "updater/updater.h"

#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

static void* default_alloc(size_t size) { return malloc(size); }
static void default_release(void* block) { free(block); }

// Exclusive creation: fopen's "x" mode is not known to every msvcrt.dll the
// program meets, _open's _O_EXCL is.
static FILE* default_create(const char* path) {
#ifdef _WIN32
    const int fd = _open(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    FILE* file = _fdopen(fd, "wb");
    if (file == nullptr)
        _close(fd);
#else
    const int fd = open(path, O_CREAT | O_EXCL | O_WRONLY, 0666);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr)
        close(fd);
#endif
    return file;
}

// Closing a file leaves its last bytes in the system's cache; a power cut,
// or a full disk that the file system finds only when it writes the cache
// out, can still lose them after fclose has succeeded.
static int default_commit(FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file));
#else
    return fsync(fileno(file));
#endif
}

static const SpliceIo DEFAULT_SPLICE_IO = {
    default_alloc, default_release, fopen,  default_create, fread,
    fwrite,        fflush,          default_commit, fclose,
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
    WRITE_INCOMPLETE,  // opened (and truncated), but not all written, committed and closed
};

// Flushes the stream and commits the file: only then are the bytes written
// so far on the disk.
static bool commit_written(FILE* file) {
    return splice_io.flush(file) == 0 && splice_io.commit(file) == 0;
}

// One span of a file's new content. Each is written, flushed and committed
// before the next one is begun, so that no later span reaches the disk before
// an earlier one.
struct Piece {
    const unsigned char* bytes;
    size_t length;
};
constexpr size_t MOST_PIECES = 3;  // the head, the tail, the tail's last byte

// Writes the pieces in order to an open file, each committed on its own. The
// file is closed whatever happens.
static bool write_pieces_and_close(FILE* file, const Piece* pieces, size_t count) {
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i)
        ok = write_whole(file, pieces[i].bytes, pieces[i].length) && commit_written(file);
    // fclose releases the stream whatever it returns; its result tells whether
    // the file was closed cleanly.
    if (splice_io.close(file) != 0)
        ok = false;
    return ok;
}

// The content first + second as pieces, its last byte as a piece of its own:
// a file that the next run recognises by its size then reaches that size only
// once everything before its last byte is on the disk. Empty spans make no
// piece; empty content is one empty piece, so that the truncation is
// committed all the same.
static size_t last_byte_apart(Piece (&pieces)[MOST_PIECES], const unsigned char* first,
                              size_t first_length, const unsigned char* second,
                              size_t second_length) {
    size_t count = 0;
    if (first_length != 0)
        pieces[count++] = {first, first_length};
    if (second_length != 0)
        pieces[count++] = {second, second_length};
    if (count == 0) {
        pieces[count++] = {first, 0};
    } else {
        Piece& last = pieces[count - 1];
        --last.length;
        pieces[count++] = {last.bytes + last.length, 1};
    }
    return count;
}

// Writes first + second to the archive at path, created or truncated, with
// its last byte apart.
static WriteOutcome write_archive(const char* path, const unsigned char* first,
                                  size_t first_length, const unsigned char* second,
                                  size_t second_length) {
    FILE* file = splice_io.open(path, "wb");
    if (file == nullptr)
        return WRITE_NOT_OPENED;
    Piece pieces[MOST_PIECES];
    const size_t count = last_byte_apart(pieces, first, first_length, second, second_length);
    return write_pieces_and_close(file, pieces, count) ? WRITE_COMPLETE : WRITE_INCOMPLETE;
}

// The full path of name, into out (RESCUE_PATH_BYTES); false when it does not
// fit.
static bool full_path(char (&out)[RESCUE_PATH_BYTES], const char* name) {
#ifdef _WIN32
    // _fullpath is GetFullPathNameA: relative names are taken from the
    // current directory; it fails rather than cut a longer path.
    return _fullpath(out, name, sizeof(out)) != nullptr;
#else
    // The native build (tests, fuzzing) takes an absolute name as it is.
    if (name[0] == '/')
        return compose_path(out, sizeof(out), "", name);
    char cwd[RESCUE_PATH_BYTES];
    if (getcwd(cwd, sizeof(cwd)) == nullptr)
        return false;
    const int length = snprintf(out, sizeof(out), "%s/%s", cwd, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof(out)) {
        out[0] = '\0';
        return false;
    }
    return true;
#endif
}

// Writes block as a new file in folder under the first free rescue name, so
// that the player keeps the old archive when it could not be written back.
// Nothing is ever replaced; a copy that cannot be written whole is removed
// again, as it would pass for the archive it is not. true with the copy's
// full path in path.
static bool save_copy(const char* folder, const unsigned char* block, size_t length,
                      char (&path)[RESCUE_PATH_BYTES]) {
    constexpr size_t NAME_BYTES = sizeof(RESCUE_NAME) + 2;  // up to two digits
    static_assert(RESCUE_NAME_TRIES <= 99, "the number fits NAME_BYTES");
    for (int n = 1; n <= RESCUE_NAME_TRIES; ++n) {
        char name[NAME_BYTES];
        char relative[RESCUE_PATH_BYTES];
        const int name_length = n == 1 ? snprintf(name, sizeof(name), "%s", RESCUE_NAME)
                                       : snprintf(name, sizeof(name), "%s%d", RESCUE_NAME, n);
        if (name_length < 0 || static_cast<size_t>(name_length) >= sizeof(name))
            break;
        // The copy is opened by the full path that the player will be shown.
        if (!compose_path(relative, sizeof(relative), folder, name) || !full_path(path, relative))
            break;
        errno = 0;
        FILE* file = splice_io.create(path);
        if (file == nullptr) {
            if (errno == EEXIST)
                continue;
            break;
        }
        const Piece whole = {block, length};
        if (write_pieces_and_close(file, &whole, 1))
            return true;
        // Only a file of our own making is removed.
        (void)remove(path);
        break;
    }
    path[0] = '\0';
    return false;
}

static SpliceResult splice_blocks(const char* archive_path, const char* update_path,
                                  const SpliceLayout& layout, const char* rescue_folder,
                                  unsigned char* head, char (&rescue_path)[RESCUE_PATH_BYTES]) {
    if (!read_file(update_path, head, layout.head_length, false))
        return SPLICE_UPDATE_DATA_UNREADABLE;

    unsigned char* body = static_cast<unsigned char*>(splice_io.alloc(layout.archive_size));
    if (body == nullptr)
        return SPLICE_OUT_OF_MEMORY;

    SpliceResult result = SPLICE_DONE;
    if (!read_file(archive_path, body, layout.archive_size, true)) {
        result = SPLICE_ARCHIVE_UNREADABLE;
    } else {
        // The update data goes first and is committed on its own before the
        // tail is written: a rewrite cut short at any point (the process
        // ended, the power lost) then leaves a file that starts with the
        // update data, which is how the next run tells it from an archive of
        // some other version (is_interrupted_rewrite). Without that commit
        // the system may put later parts of the file on the disk before its
        // head. The last byte goes last, on its own, after everything before
        // it is committed: the file reaches the 1.01 size, which the next run
        // takes for a finished update, only then. Written with the rest, a
        // power cut during the final commit could leave a file of that size
        // whose later parts never reached the disk.
        const WriteOutcome written =
            write_archive(archive_path, head, layout.head_length, body + layout.replaced_length,
                          layout.archive_size - layout.replaced_length);
        if (written == WRITE_NOT_OPENED) {
            // A read-only archive, typically: it was not touched.
            result = SPLICE_WRITE_FAILED;
        } else if (written == WRITE_INCOMPLETE) {
            // The archive may now be empty or half written, but its old
            // content is still whole in memory: write it back. If even that
            // fails (a full disk, a file size limit), memory is the only
            // place left that holds it, so it goes into a new file in the
            // rescue folder, which is often on another drive. The write-back
            // keeps its last byte apart for the same reason: a 1.00-sized
            // file with holes would be spliced on the next run.
            if (write_archive(archive_path, body, layout.archive_size, nullptr, 0) ==
                WRITE_COMPLETE)
                result = SPLICE_WRITE_FAILED;
            else if (save_copy(rescue_folder, body, layout.archive_size, rescue_path))
                result = SPLICE_ARCHIVE_RESCUED;
            else
                result = SPLICE_RESTORE_FAILED;
        }
    }
    splice_io.release(body);
    return result;
}

SpliceOutcome splice_files(const char* archive_path, const char* update_path,
                           const SpliceLayout& layout, const char* rescue_folder) {
    if (layout.replaced_length > layout.archive_size)
        return {SPLICE_ARCHIVE_UNREADABLE, {}};
    unsigned char* head = static_cast<unsigned char*>(splice_io.alloc(layout.head_length));
    if (head == nullptr)
        return {SPLICE_OUT_OF_MEMORY, {}};
    SpliceOutcome outcome = {SPLICE_DONE, {}};
    outcome.result = splice_blocks(archive_path, update_path, layout, rescue_folder, head,
                                   outcome.rescue_path);
    splice_io.release(head);
    return outcome;
}

SpliceOutcome splice_archive(const char* prefix) {
    char archive_path[COMPOSED_PATH_BYTES];
    if (!compose_path(archive_path, sizeof(archive_path), prefix, ARCHIVE_RELATIVE_PATH))
        return {SPLICE_ARCHIVE_UNREADABLE, {}};
    // The copy goes where the update data lies: the current directory.
    return splice_files(archive_path, UPDATE_DATA_FILE, UPDATE_SPLICE_LAYOUT, "");
}

BoxId splice_result_box(SpliceResult result) {
    switch (result) {
    case SPLICE_DONE:
        return BOX_SUCCESS;
    case SPLICE_OUT_OF_MEMORY:
        return BOX_OUT_OF_MEMORY;
    case SPLICE_UPDATE_DATA_UNREADABLE:
        return BOX_UPDATE_DATA_MISSING;
    case SPLICE_ARCHIVE_UNREADABLE:
        return BOX_ARCHIVE_BUSY;
    case SPLICE_WRITE_FAILED:
        break;
    case SPLICE_ARCHIVE_RESCUED:
        // Its text names the copy (SpliceOutcome::rescue_path).
        return BOX_ARCHIVE_RESCUED;
    case SPLICE_RESTORE_FAILED:
        return BOX_ARCHIVE_DAMAGED;
    }
    return BOX_WRITE_FAILED;
}
