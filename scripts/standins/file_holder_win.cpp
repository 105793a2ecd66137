// file_holder.exe: keeps a file open without sharing it (share mode 0), as a
// running game keeps its archive, until told to stop. With --share-read it
// lets others read the file but not write it.
//
//   file_holder.exe [--share-read] [--ready-file F] [--stop-file F]
//                   [--timeout-ms N] PATH
//
// Exit code 0 after the stop file, 1 after the timeout, 2 when the file could
// not be opened, 64 on a usage error.
#include <windows.h>

#include <cstring>

#include "scripts/standins/standin.h"

int main(int argc, char** argv) {
    const char* positional[2];
    int positional_count = 0;
    StandinOptions options;
    if (!parse_standin_options(argc, argv, &options, positional, 2, &positional_count) ||
        positional_count < 1) {
        return 64;
    }
    DWORD share = 0;
    if (positional_count == 2) {
        if (strcmp(positional[0], "--share-read") != 0) return 64;
        share = FILE_SHARE_READ;
    }
    HANDLE file = CreateFileA(positional[positional_count - 1], GENERIC_READ, share, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    if (!announce_ready(options)) {
        CloseHandle(file);
        return 2;
    }
    bool stopped = wait_for_stop(options);
    CloseHandle(file);
    return stopped ? 0 : 1;
}
