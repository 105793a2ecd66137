// Helpers for the end-to-end tests: see e2e_support.h.
#include "tests/e2e/e2e_support.h"

#include "tests/e2e/box_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Written through this program's own registry view, which is the view of the
// updater it drives: both are built for the same processor. HKCU\Software is
// one key for 32-bit and 64-bit programs alike anyway (seen under Wine 8: a
// value written through the 64-bit view reads back through the 32-bit one),
// unlike HKLM\Software, which 32-bit programs see under Wow6432Node.
constexpr char INSTALLATION_KEY[] = "Software\\Tessaly\\velkin";
constexpr char INSTALLATION_PARENT_KEY[] = "Software\\Tessaly";
// Large files move through a buffer of this size.
constexpr size_t IO_CHUNK_BYTES = 16u * 1024u * 1024u;
constexpr DWORD STANDIN_READY_MS = 30000;
constexpr DWORD STANDIN_STOP_MS = 30000;
// Address space is reserved in units of this many bytes, at addresses that
// are multiples of it.
constexpr uint64_t ALLOCATION_GRANULARITY = 64u * 1024u;

uint64_t mix(uint64_t x) {
    // splitmix64's finaliser: every input word gives an unrelated output word.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

HANDLE open_file(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool write_all(HANDLE file, const unsigned char* data, size_t size) {
    while (size > 0) {
        DWORD piece = static_cast<DWORD>(size < IO_CHUNK_BYTES ? size : IO_CHUNK_BYTES);
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr) || written != piece) return false;
        data += piece;
        size -= piece;
    }
    return true;
}

bool seek(HANDLE file, uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

bool write_marks(HANDLE file, uint64_t seed, uint64_t size) {
    unsigned char mark[MARK_BYTES];
    size_t head = static_cast<size_t>(size < MARK_BYTES ? size : MARK_BYTES);
    generate_bytes(seed, 0, mark, head);
    if (!seek(file, 0) || !write_all(file, mark, head)) return false;
    size_t tail = head;
    uint64_t tail_offset = size - tail;
    generate_bytes(seed, tail_offset, mark, tail);
    return seek(file, tail_offset) && write_all(file, mark, tail);
}

// Names the icons of the updater's boxes from inside its process.
class BoxProbeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(set_box_icon_probe(windows_path(E2E_BOXPROBE_DLL).c_str()))
            << E2E_BOXPROBE_DLL;
    }
};

const ::testing::Environment* const box_probe_environment =
    ::testing::AddGlobalTestEnvironment(new BoxProbeEnvironment);

}  // namespace

std::string windows_path(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string join_path(const std::string& dir, const std::string& name) {
    return dir + "\\" + name;
}

bool path_exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool make_directories(const std::string& path) {
    // Walks the path by characters: a Shift-JIS trail byte 0x5C is no
    // separator.
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsDBCSLeadByteEx(932, c)) {
            ++i;
            continue;
        }
        if (c == '\\' && i > 2) CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void remove_tree(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(join_path(path, "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
            remove_tree(join_path(path, entry.cFileName));
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

int64_t file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

static void list_tree_into(const std::string& dir, const std::string& relative,
                           std::vector<std::string>* names) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(join_path(dir, "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
        std::string name = relative.empty() ? entry.cFileName : join_path(relative, entry.cFileName);
        names->push_back(name);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            list_tree_into(join_path(dir, entry.cFileName), name, names);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

std::vector<std::string> list_tree(const std::string& dir) {
    std::vector<std::string> names;
    list_tree_into(dir, std::string(), &names);
    std::sort(names.begin(), names.end());
    return names;
}

void generate_bytes(uint64_t seed, uint64_t offset, unsigned char* out, size_t count) {
    uint64_t salt = mix(seed);
    size_t i = 0;
    while (i < count) {
        uint64_t position = offset + i;
        uint64_t word = mix((position >> 3) ^ salt);
        unsigned shift = static_cast<unsigned>(position & 7);
        if (shift == 0 && count - i >= 8) {
            memcpy(out + i, &word, 8);  // little-endian: byte k is word >> 8k
            i += 8;
        } else {
            out[i++] = static_cast<unsigned char>(word >> (8 * shift));
        }
    }
}

bool write_bytes(const std::string& path, const void* data, size_t size) {
    HANDLE file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = write_all(file, static_cast<const unsigned char*>(data), size);
    return CloseHandle(file) && ok;
}

bool write_generated_file(const std::string& path, uint64_t seed, uint64_t size) {
    HANDLE file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[IO_CHUNK_BYTES]);
    bool ok = true;
    for (uint64_t done = 0; ok && done < size;) {
        size_t piece = static_cast<size_t>(size - done < IO_CHUNK_BYTES ? size - done
                                                                        : IO_CHUNK_BYTES);
        generate_bytes(seed, done, buffer.get(), piece);
        ok = write_all(file, buffer.get(), piece);
        done += piece;
    }
    return CloseHandle(file) && ok;
}

bool write_marked_sparse_file(const std::string& path, uint64_t seed, uint64_t size) {
    HANDLE file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = seek(file, size) && SetEndOfFile(file);
    if (ok && size > 0) ok = write_marks(file, seed, size);
    return CloseHandle(file) && ok;
}

bool read_bytes(const std::string& path, uint64_t offset, void* out, size_t count) {
    HANDLE file = open_file(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = seek(file, offset);
    unsigned char* p = static_cast<unsigned char*>(out);
    while (ok && count > 0) {
        DWORD piece = static_cast<DWORD>(count < IO_CHUNK_BYTES ? count : IO_CHUNK_BYTES);
        DWORD got = 0;
        ok = ReadFile(file, p, piece, &got, nullptr) && got == piece;
        p += got;
        count -= got;
    }
    CloseHandle(file);
    return ok;
}

bool marked_sparse_file_intact(const std::string& path, uint64_t seed, uint64_t size) {
    if (file_size(path) != static_cast<int64_t>(size)) return false;
    if (size == 0) return true;
    uint64_t head = size < MARK_BYTES ? size : MARK_BYTES;
    return first_difference(path, 0, seed, 0, head) < 0 &&
           first_difference(path, size - head, seed, size - head, head) < 0;
}

int64_t first_difference(const std::string& path, uint64_t file_offset, uint64_t seed,
                         uint64_t stream_offset, uint64_t count) {
    HANDLE file = open_file(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int64_t>(file_offset);
    std::unique_ptr<unsigned char[]> seen(new unsigned char[IO_CHUNK_BYTES]);
    std::unique_ptr<unsigned char[]> expected(new unsigned char[IO_CHUNK_BYTES]);
    int64_t result = -1;
    if (!seek(file, file_offset)) result = static_cast<int64_t>(file_offset);
    for (uint64_t done = 0; result < 0 && done < count;) {
        size_t piece = static_cast<size_t>(count - done < IO_CHUNK_BYTES ? count - done
                                                                         : IO_CHUNK_BYTES);
        DWORD got = 0;
        if (!ReadFile(file, seen.get(), static_cast<DWORD>(piece), &got, nullptr)) got = 0;
        generate_bytes(seed, stream_offset + done, expected.get(), piece);
        size_t same = 0;
        while (same < got && seen[same] == expected[same]) ++same;
        if (same < piece) result = static_cast<int64_t>(file_offset + done + same);
        done += piece;
    }
    CloseHandle(file);
    return result;
}

bool set_dir_value(const void* data, DWORD size, DWORD type) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, INSTALLATION_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return false;
    rc = RegSetValueExA(key, "Dir", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool set_dir_string(const std::string& prefix) {
    return set_dir_value(prefix.c_str(), static_cast<DWORD>(prefix.size() + 1), REG_SZ);
}

bool create_installation_key() {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, INSTALLATION_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void remove_installation_key() {
    RegDeleteKeyA(HKEY_CURRENT_USER, INSTALLATION_KEY);
    // Fails, as it should, while anything else lives under the parent.
    RegDeleteKeyA(HKEY_CURRENT_USER, INSTALLATION_PARENT_KEY);
}

std::vector<std::string> installation_key_values() {
    std::vector<std::string> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, INSTALLATION_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return values;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[1024];
        DWORD name_size = sizeof name;
        DWORD data_size = sizeof data;
        DWORD type = 0;
        LONG rc = RegEnumValueA(key, index, name, &name_size, nullptr, &type, data, &data_size);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        std::string entry = std::string(name) + "=" + std::to_string(type) + ":";
        if (rc == ERROR_SUCCESS) {
            char pair[3];
            for (DWORD i = 0; i < data_size; ++i) {
                snprintf(pair, sizeof pair, "%02X", data[i]);
                entry += pair;
            }
        } else {
            entry += "error " + std::to_string(rc);
        }
        values.push_back(entry);
    }
    RegCloseKey(key);
    std::sort(values.begin(), values.end());
    return values;
}

struct AddressRange {
    uint64_t begin;
    uint64_t end;
};

static std::vector<AddressRange> free_ranges(HANDLE process) {
    std::vector<AddressRange> ranges;
    uint64_t address = 0;
    for (;;) {
        MEMORY_BASIC_INFORMATION info;
        LPCVOID query = reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address));
        if (VirtualQueryEx(process, query, &info, sizeof info) != sizeof info) break;
        uint64_t begin = reinterpret_cast<uintptr_t>(info.BaseAddress);
        uint64_t end = begin + info.RegionSize;
        if (info.State == MEM_FREE) ranges.push_back({begin, end});
        // The last region may end at the very top of a 32-bit address space.
        if (end <= address || end > UINTPTR_MAX) break;
        address = end;
    }
    return ranges;
}

uint64_t largest_free_range(HANDLE process) {
    uint64_t largest = 0;
    for (const AddressRange& range : free_ranges(process)) {
        largest = std::max(largest, range.end - range.begin);
    }
    return largest;
}

bool start_program_fragmented(const std::string& program, const std::string& dir,
                              uint64_t step, RunningProgram* running,
                              uint64_t* largest_before, uint64_t* largest_after) {
    std::string command_line = "\"" + program + "\"";
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    memset(&info, 0, sizeof info);
    if (!CreateProcessA(program.c_str(), &command_line[0], nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, nullptr, dir.c_str(), &startup, &info)) {
        return false;
    }
    running->process = info.hProcess;
    running->process_id = info.dwProcessId;
    // Nothing of the program has run yet: the ranges seen now are the room it
    // starts with.
    *largest_before = largest_free_range(info.hProcess);
    for (const AddressRange& range : free_ranges(info.hProcess)) {
        for (uint64_t pin = range.begin + step; pin + ALLOCATION_GRANULARITY <= range.end;
             pin += step) {
            uint64_t at = pin / ALLOCATION_GRANULARITY * ALLOCATION_GRANULARITY;
            VirtualAllocEx(info.hProcess, reinterpret_cast<LPVOID>(static_cast<uintptr_t>(at)),
                           ALLOCATION_GRANULARITY, MEM_RESERVE, PAGE_NOACCESS);
        }
    }
    *largest_after = largest_free_range(info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    return true;
}

bool start_standin(const std::string& program, const std::string& args,
                   const std::string& dir, Standin* standin) {
    std::string ready = join_path(dir, "standin.ready");
    standin->stop_file = join_path(dir, "standin.stop");
    remove_tree(ready);
    remove_tree(standin->stop_file);
    std::string all_args = "--ready-file \"" + ready + "\" --stop-file \"" + standin->stop_file +
                           "\" " + args;
    DWORD process_id = 0;
    if (!start_program(program.c_str(), all_args.c_str(), nullptr, &standin->process,
                       &process_id)) {
        return false;
    }
    ULONGLONG deadline = GetTickCount64() + STANDIN_READY_MS;
    while (!path_exists(ready)) {
        if (GetTickCount64() >= deadline ||
            WaitForSingleObject(standin->process, 10) == WAIT_OBJECT_0) {
            TerminateProcess(standin->process, 1);
            WaitForSingleObject(standin->process, STANDIN_STOP_MS);
            CloseHandle(standin->process);
            standin->process = nullptr;
            return false;
        }
    }
    return true;
}

int stop_standin(Standin* standin) {
    if (!standin->process) return -1;
    write_bytes(standin->stop_file, "", 0);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(standin->process, STANDIN_STOP_MS) != WAIT_OBJECT_0) {
        TerminateProcess(standin->process, 1);
        WaitForSingleObject(standin->process, STANDIN_STOP_MS);
    } else {
        GetExitCodeProcess(standin->process, &code);
    }
    CloseHandle(standin->process);
    standin->process = nullptr;
    return static_cast<int>(code);
}

Standin::~Standin() { stop_standin(this); }

RunningProgram::~RunningProgram() {
    if (!process) return;
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, STANDIN_STOP_MS);
    }
    CloseHandle(process);
}

std::string hex_bytes(const char* bytes) {
    std::string out;
    char pair[4];
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); *p; ++p) {
        snprintf(pair, sizeof pair, "%02X ", *p);
        out += pair;
    }
    return out;
}

void expect_box(const BoxInfo& seen, const ExpectedBox& expected) {
    EXPECT_FALSE(seen.truncated);
    EXPECT_PRED_FORMAT2(box_text_is, seen.caption, expected.caption);
    if (expected.text_drawn != nullptr) {
        EXPECT_EQ(box_text_utf8(expected.text_drawn), box_text_utf8(seen.text));
    } else {
        EXPECT_PRED_FORMAT2(box_text_is, seen.text, expected.text);
    }
    char expected_buttons[64];
    char seen_buttons[64];
    box_buttons_name(expected.buttons, expected_buttons, sizeof expected_buttons);
    box_buttons_name(seen.buttons, seen_buttons, sizeof seen_buttons);
    EXPECT_STREQ(expected_buttons, seen_buttons) << "buttons";
    EXPECT_EQ(expected.icon, seen.icon) << "icon: expected " << box_icon_name(expected.icon) << ", seen "
        << box_icon_name(seen.icon);
}

void expect_boxes(const BoxTranscript& transcript, const std::vector<ExpectedBox>& expected) {
    ASSERT_EQ(BOX_RUN_COMPLETED, transcript.outcome) << transcript.error;
    EXPECT_EQ(0u, transcript.exit_code);
    EXPECT_EQ(0, transcript.unexpected_count) << transcript.error;
    std::string seen = transcript.box_count > 0 ? "" : "none";
    for (int i = 0; i < transcript.box_count && i < BOX_TRANSCRIPT_MAX; ++i) {
        seen += "\n  " + std::to_string(i + 1) + ": " +
                box_text_utf8(transcript.boxes[i].caption) + " / " +
                box_text_utf8(transcript.boxes[i].text);
    }
    ASSERT_EQ(static_cast<int>(expected.size()), transcript.box_count) << "boxes seen: " << seen;
    for (size_t i = 0; i < expected.size() && i < static_cast<size_t>(BOX_TRANSCRIPT_MAX); ++i) {
        SCOPED_TRACE("box " + std::to_string(i + 1));
        expect_box(transcript.boxes[i], expected[i]);
    }
}
