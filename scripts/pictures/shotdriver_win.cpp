// shotdriver.exe: runs a program and holds each of its message boxes on the
// screen until a screenshot of it has been taken, then answers it.
//
//   shotdriver.exe --sync DIR [--cwd DIR] [--answers yes,no,ok]
//                  [--hold-shared FILE] [--timeout-ms N] [--] PROGRAM [ARGS...]
//
// Each argument reaches the program whole (it is quoted, so spaces are
// fine); arguments that hold a double quote are refused.
//
// For the n-th box (n from 1) it writes DIR\box-n.txt once the box is up:
//
//   rect LEFT TOP RIGHT BOTTOM   (the box's window, screen coordinates)
//   caption-utf16le <hex>
//   text-utf16le <hex>
//
// caption and text are hex of the UTF-16LE bytes that the box holds, which is
// what it draws: garbage drawn in a wrong code page shows as it is.
//
// and answers the box once DIR\shot-n exists: with the n-th word of
// --answers, or OK when the words have run out. When the program has ended
// it writes DIR\done holding "exit <code>". Every wait is bounded by
// --timeout-ms (default 60000); on a timeout the program is ended and
// DIR\done says "timeout".
//
// --hold-shared opens FILE for reading with read sharing only before the
// program starts and keeps it open until the program ends: other openers may
// still read the file, but any open for writing fails with a sharing
// violation, as it does on Windows while a backup or virus scanner reads it.
#include "scripts/boxdriver/boxdriver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr DWORD DEFAULT_TIMEOUT_MS = 60000;
constexpr DWORD POLL_MS = 20;
constexpr DWORD ANSWER_CLOSE_MS = 5000;
constexpr size_t SYNC_PATH_BYTES = MAX_PATH + 1;

struct Options {
    const char* sync_dir = nullptr;
    const char* cwd = nullptr;
    const char* answers = "";
    const char* hold_shared = nullptr;
    const char* program = nullptr;
    std::string args;
    DWORD timeout_ms = DEFAULT_TIMEOUT_MS;
};

int usage(const char* why) {
    fprintf(stderr,
            "shotdriver: %s\nusage: shotdriver.exe --sync DIR [--cwd DIR] "
            "[--answers yes,no,ok] [--hold-shared FILE] [--timeout-ms N] PROGRAM [ARGS...]\n",
            why);
    return 64;
}

bool parse_options(int argc, char** argv, Options* options) {
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
        if (strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (i + 1 >= argc) return false;
        const char* name = argv[i];
        const char* value = argv[++i];
        if (strcmp(name, "--sync") == 0) {
            options->sync_dir = value;
        } else if (strcmp(name, "--cwd") == 0) {
            options->cwd = value;
        } else if (strcmp(name, "--answers") == 0) {
            options->answers = value;
        } else if (strcmp(name, "--hold-shared") == 0) {
            options->hold_shared = value;
        } else if (strcmp(name, "--timeout-ms") == 0) {
            options->timeout_ms = static_cast<DWORD>(strtoul(value, nullptr, 10));
        } else {
            return false;
        }
    }
    if (i >= argc || options->sync_dir == nullptr) return false;
    options->program = argv[i];
    for (++i; i < argc; ++i) {
        if (strchr(argv[i], '"') != nullptr) return false;
        if (!options->args.empty()) options->args += ' ';
        options->args += '"';
        options->args += argv[i];
        // Backslashes before the closing quote are doubled, or the C
        // runtime would read the last one as escaping the quote.
        for (size_t n = strlen(argv[i]); n > 0 && argv[i][n - 1] == '\\'; --n)
            options->args += '\\';
        options->args += '"';
    }
    return true;
}

// DIR\name into out; false when it does not fit.
bool sync_path(char (&out)[SYNC_PATH_BYTES], const char* dir, const char* name) {
    const int n = snprintf(out, sizeof out, "%s\\%s", dir, name);
    return n > 0 && static_cast<size_t>(n) < sizeof out;
}

// Written under a temporary name and renamed, so that a script polling for
// the file never reads half of it.
bool publish(const char* dir, const char* name, const char* first_line, const BoxInfo* box,
             const RECT* rect) {
    char path[SYNC_PATH_BYTES];
    char temporary[SYNC_PATH_BYTES];
    char temporary_name[64];
    snprintf(temporary_name, sizeof temporary_name, "%s.tmp", name);
    if (!sync_path(path, dir, name) || !sync_path(temporary, dir, temporary_name)) return false;
    FILE* out = fopen(temporary, "wb");
    if (out == nullptr) return false;
    if (first_line != nullptr) fprintf(out, "%s\n", first_line);
    if (rect != nullptr)
        fprintf(out, "rect %ld %ld %ld %ld\n", rect->left, rect->top, rect->right, rect->bottom);
    if (box != nullptr) {
        fprintf(out, "caption-utf16le %s\ntext-utf16le %s\n", box_text_hex(box->caption).c_str(),
                box_text_hex(box->text).c_str());
    }
    if (fclose(out) != 0) return false;
    return MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// Waits for DIR\name to appear; false after timeout_ms or once the program
// has ended.
bool wait_for_file(const char* dir, const char* name, HANDLE process, DWORD timeout_ms) {
    char path[SYNC_PATH_BYTES];
    if (!sync_path(path, dir, name)) return false;
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() >= deadline) return false;
        if (WaitForSingleObject(process, POLL_MS) == WAIT_OBJECT_0) return false;
    }
    return true;
}

// Shows every box of the program in turn; false on a timeout.
bool shoot_boxes(const Options& options, const BoxScript& script, HANDLE process,
                 DWORD process_id) {
    for (int n = 1;;) {
        // Only a complete box is read: its caption, text, buttons and size
        // are all set before it counts.
        HWND box = wait_for_box(process_id, process, options.timeout_ms);
        if (box == nullptr)
            return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        BoxInfo info;
        RECT rect;
        // A box that went in between is no box to picture: wait again.
        if (!read_box(box, &info) || !GetWindowRect(box, &rect) || !IsWindow(box)) continue;
        char box_name[32];
        char shot_name[32];
        snprintf(box_name, sizeof box_name, "box-%d.txt", n);
        snprintf(shot_name, sizeof shot_name, "shot-%d", n);
        if (!publish(options.sync_dir, box_name, nullptr, &info, &rect)) return false;
        if (!wait_for_file(options.sync_dir, shot_name, process, options.timeout_ms))
            return false;
        const int answer = n <= script.count ? script.answers[n - 1] : IDOK;
        if (!answer_box(box, answer, ANSWER_CLOSE_MS)) return false;
        ++n;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, &options)) return usage("bad arguments");
    BoxScript script;
    if (!parse_box_script(options.answers, &script)) return usage("bad --answers");

    HANDLE held = INVALID_HANDLE_VALUE;
    if (options.hold_shared != nullptr) {
        held = CreateFileA(options.hold_shared, GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "shotdriver: cannot open %s\n", options.hold_shared);
            return 2;
        }
    }

    HANDLE process = nullptr;
    DWORD process_id = 0;
    if (!start_program(options.program, options.args.c_str(), options.cwd, &process,
                       &process_id)) {
        fprintf(stderr, "shotdriver: cannot start %s\n", options.program);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        return 2;
    }
    const bool completed = shoot_boxes(options, script, process, process_id) &&
                           WaitForSingleObject(process, options.timeout_ms) == WAIT_OBJECT_0;
    char line[32];
    if (completed) {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        snprintf(line, sizeof line, "exit %lu", static_cast<unsigned long>(code));
    } else {
        TerminateProcess(process, 0xDEAD);
        WaitForSingleObject(process, ANSWER_CLOSE_MS);
        snprintf(line, sizeof line, "timeout");
    }
    CloseHandle(process);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (!publish(options.sync_dir, "done", line, nullptr, nullptr)) return 2;
    return completed ? 0 : 2;
}
