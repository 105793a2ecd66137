// Shared part of the stand-in programs: see standin.h.
#include "scripts/standins/standin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr DWORD STOP_POLL_MS = 20;
// Room for the ready file's temporary name (a Windows path) and terminator.
constexpr size_t READY_PATH_BYTES = MAX_PATH + 1;
// The ready file is first written under its own path with this suffix.
constexpr char READY_TEMPORARY_SUFFIX[] = ".part";
}

bool parse_standin_options(int argc, char** argv, StandinOptions* options,
                           const char** positional, int positional_capacity,
                           int* positional_count) {
    options->ready_file = nullptr;
    options->stop_file = nullptr;
    options->timeout_ms = STANDIN_DEFAULT_TIMEOUT_MS;
    *positional_count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool is_option = strcmp(arg, "--ready-file") == 0 || strcmp(arg, "--stop-file") == 0 ||
                         strcmp(arg, "--timeout-ms") == 0;
        if (is_option) {
            if (i + 1 >= argc) return false;
            const char* value = argv[++i];
            if (strcmp(arg, "--ready-file") == 0) {
                options->ready_file = value;
            } else if (strcmp(arg, "--stop-file") == 0) {
                options->stop_file = value;
            } else {
                options->timeout_ms = static_cast<DWORD>(strtoul(value, nullptr, 10));
            }
        } else {
            if (*positional_count >= positional_capacity) return false;
            positional[(*positional_count)++] = arg;
        }
    }
    return true;
}

bool announce_ready(const StandinOptions& options) {
    if (!options.ready_file) return true;
    // Written and closed under another name, then renamed: the ready file
    // appears complete, never while it is still open or half written.
    char temporary[READY_PATH_BYTES];
    const int length = snprintf(temporary, sizeof temporary, "%s%s", options.ready_file,
                                READY_TEMPORARY_SUFFIX);
    if (length < 0 || static_cast<size_t>(length) >= sizeof temporary) return false;
    FILE* file = fopen(temporary, "wb");
    if (!file) return false;
    const bool written = fprintf(file, "ready %lu\n",
                                 static_cast<unsigned long>(GetCurrentProcessId())) > 0;
    if (fclose(file) != 0 || !written) {
        DeleteFileA(temporary);
        return false;
    }
    return MoveFileExA(temporary, options.ready_file, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool wait_for_stop(const StandinOptions& options) {
    ULONGLONG deadline = GetTickCount64() + options.timeout_ms;
    for (;;) {
        if (options.stop_file &&
            GetFileAttributesA(options.stop_file) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        DWORD slice = deadline - now < STOP_POLL_MS ? static_cast<DWORD>(deadline - now)
                                                     : STOP_POLL_MS;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}
