// game_standin.exe: stands in for the running game. It holds the named
// objects by which the game is recognised: a mutex, and a top-level window
// whose class carries the same name, the instance name of the game's
// executable path (formed by the probe's own rule).
//
//   game_standin.exe [--no-mutex] [--no-window] [--event]
//                    [--ready-file F] [--stop-file F] [--timeout-ms N] EXE_PATH
//
// --event holds an event of that name instead of the mutex: the name is then
// taken by an object of another kind, which makes the updater's mutex open
// fail. Exit code 0 after the stop file, 1 after the timeout, 2 when an object
// could not be created, 64 on a usage error.
#include <windows.h>

#include <cstring>

#include "probe/probe.h"
#include "scripts/standins/standin.h"

namespace {

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
    const char* positional[4];
    int positional_count = 0;
    StandinOptions options;
    if (!parse_standin_options(argc, argv, &options, positional, 4, &positional_count)) {
        return 64;
    }
    bool mutex = true;
    bool window = true;
    bool event = false;
    const char* exe_path = nullptr;
    for (int i = 0; i < positional_count; ++i) {
        if (strcmp(positional[i], "--no-mutex") == 0) {
            mutex = false;
        } else if (strcmp(positional[i], "--no-window") == 0) {
            window = false;
        } else if (strcmp(positional[i], "--event") == 0) {
            event = true;
            mutex = false;
        } else if (!exe_path) {
            exe_path = positional[i];
        } else {
            return 64;
        }
    }
    if (!exe_path) return 64;

    char name[INSTANCE_NAME_BYTES];
    if (!form_instance_name(name, sizeof name, exe_path)) return 64;

    HANDLE object = nullptr;
    if (mutex) object = CreateMutexA(nullptr, FALSE, name);
    if (event) object = CreateEventA(nullptr, TRUE, FALSE, name);
    if ((mutex || event) && !object) return 2;

    HWND main_window = nullptr;
    if (window) {
        WNDCLASSA window_class;
        memset(&window_class, 0, sizeof window_class);
        window_class.lpfnWndProc = window_proc;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = name;
        if (!RegisterClassA(&window_class)) return 2;
        main_window = CreateWindowExA(0, name, "game stand-in", WS_OVERLAPPEDWINDOW, 0, 0,
                                      100, 100, nullptr, nullptr, window_class.hInstance,
                                      nullptr);
        if (!main_window) return 2;
    }

    if (!announce_ready(options)) return 2;
    bool stopped = wait_for_stop(options);
    if (main_window) DestroyWindow(main_window);
    if (object) CloseHandle(object);
    return stopped ? 0 : 1;
}
