// What the stand-in programs share: they announce that they are ready by
// creating a file, and stay until another file appears or their time is up,
// so that a test (or a shell script) can start one, wait for it, and end it
// without killing it.
#pragma once

#include <windows.h>

struct StandinOptions {
    const char* ready_file;  // created once the stand-in holds what it holds
    const char* stop_file;   // the stand-in ends once this exists
    DWORD timeout_ms;        // and at the latest after this long
};

// Default time a stand-in waits for its stop file.
constexpr DWORD STANDIN_DEFAULT_TIMEOUT_MS = 120000;

// Takes --ready-file, --stop-file and --timeout-ms out of argv (from index 1)
// and leaves the other arguments, in order, in positional[0..*positional_count).
// false on an option without its value.
bool parse_standin_options(int argc, char** argv, StandinOptions* options,
                           const char** positional, int positional_capacity,
                           int* positional_count);

// Creates the ready file, holding "ready <process id>", complete and closed
// from the moment it exists. false when it cannot be written.
bool announce_ready(const StandinOptions& options);

// Serves the thread's window messages until the stop file exists or the
// timeout passes; true when the stop file ended the wait.
bool wait_for_stop(const StandinOptions& options);
