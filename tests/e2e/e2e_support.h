// Helpers for the end-to-end tests: Windows paths of the build tree under
// Wine, scratch folders, generated file content, the installation record in
// the registry, stand-in programs and checks of driven message boxes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scripts/boxdriver/boxdriver.h"

// ---- Paths ----

// Wine shows the Unix file system as drive Z: (/a/b is Z:\a\b).
std::string windows_path(const std::string& unix_path);
// dir + "\\" + name, for a dir without a trailing backslash.
std::string join_path(const std::string& dir, const std::string& name);

// Creates every folder of path (a Windows path); false when the last one
// does not exist afterwards.
bool make_directories(const std::string& path);
// Deletes path and, for a folder, everything below it. Missing is fine.
void remove_tree(const std::string& path);
bool path_exists(const std::string& path);
// Size of a file, or -1.
int64_t file_size(const std::string& path);
// Every entry below dir, as paths relative to it ("pac\\update1.ovp"), sorted.
std::vector<std::string> list_tree(const std::string& dir);

// ---- Files ----

// Content that never repeats: the byte at offset o of the stream named by
// seed. Two streams with different seeds differ nearly everywhere, and a
// piece of one stream is found at one offset only, so a splice at a wrong
// offset or of a wrong length cannot go unnoticed.
void generate_bytes(uint64_t seed, uint64_t offset, unsigned char* out, size_t count);

bool write_bytes(const std::string& path, const void* data, size_t size);
// A file of size bytes of the stream seed (from its offset 0).
bool write_generated_file(const std::string& path, uint64_t seed, uint64_t size);
// A file of size bytes that takes no room on disk (sparse, via SetEndOfFile),
// with marker bytes of stream seed over its first and last MARK_BYTES bytes
// so that any rewrite shows.
constexpr size_t MARK_BYTES = 4096;
bool write_marked_sparse_file(const std::string& path, uint64_t seed, uint64_t size);
// true when the file still has that size and those marker bytes.
bool marked_sparse_file_intact(const std::string& path, uint64_t seed, uint64_t size);
// Reads count bytes at offset; false when fewer are there.
bool read_bytes(const std::string& path, uint64_t offset, void* out, size_t count);

// Compares count bytes of the file at file_offset with the stream seed from
// stream_offset. Returns -1 when they are equal, else the file offset of the
// first difference (or of the end of the file, when it is short).
int64_t first_difference(const std::string& path, uint64_t file_offset, uint64_t seed,
                         uint64_t stream_offset, uint64_t count);

// ---- The installation record ----

// Creates HKCU\Software\Tessaly\velkin and stores "Dir" with the given bytes
// and type (REG_SZ with its terminator counted, or REG_BINARY for a value
// without one).
bool set_dir_value(const void* data, DWORD size, DWORD type);
bool set_dir_string(const std::string& prefix);
// Creates the key without any value.
bool create_installation_key();
// Removes the key and, when nothing else is left in it, its parent.
void remove_installation_key();
// Every value of the key as "name=type:hex of the data", sorted; empty when
// the key does not exist.
std::vector<std::string> installation_key_values();

// ---- Stand-ins ----

// A stand-in program started with --ready-file and --stop-file in dir. One
// still running when it goes out of scope (a test that failed half-way) is
// stopped then, so that it cannot outlive the test.
struct Standin {
    HANDLE process = nullptr;
    std::string stop_file;
    ~Standin();
};

// A started program that is ended, if still running, when it goes out of
// scope: a failed check never leaves it waiting behind an unanswered box.
struct RunningProgram {
    HANDLE process = nullptr;
    DWORD process_id = 0;
    ~RunningProgram();
};
// ---- The address space of a 32-bit program ----

// The largest free range of the process's address space, in bytes.
uint64_t largest_free_range(HANDLE process);

// Starts program (a Windows path, no arguments) in dir, suspended, reserves
// 64 KiB of its address space every step bytes of each free range, and only
// then lets it run: no free range of more than step bytes is left, though
// nearly all the free space is. *largest_before and *largest_after are its
// largest free ranges before and after. false when it did not start.
bool start_program_fragmented(const std::string& program, const std::string& dir,
                              uint64_t step, RunningProgram* running,
                              uint64_t* largest_before, uint64_t* largest_after);

// Starts program with args, waits until it says it is ready. false when it
// did not start or ended before being ready (it is not left running).
bool start_standin(const std::string& program, const std::string& args,
                   const std::string& dir, Standin* standin);
// Tells it to stop and waits for it; returns its exit code (or -1).
int stop_standin(Standin* standin);

// ---- Boxes ----

struct ExpectedBox {
    const char* caption;  // CP932 bytes
    const char* text;     // CP932 bytes
    unsigned buttons;
    BoxIcon icon;
    // When set, the text as drawn, for a text not wholly in CP932 (a path
    // in another code page); text is then not compared.
    const wchar_t* text_drawn = nullptr;
};

// Hex of the bytes, for failure messages.
std::string hex_bytes(const char* bytes);

// Expects the run to have ended by itself with exit code 0 after exactly the
// boxes given, each with its caption, text, buttons and icon.
void expect_boxes(const BoxTranscript& transcript, const std::vector<ExpectedBox>& expected);
// Expects one recorded box to be the one given.
void expect_box(const BoxInfo& seen, const ExpectedBox& expected);
