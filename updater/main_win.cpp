// The program's entry: a single-instance guard around one run of the update.
#include "updater/updater.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    // None of the arguments is used: the program takes no options.
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;

    restrict_dll_search();
    // The multibyte routines of the C runtime follow the system's ANSI code
    // page (932 on the systems served) rather than the "C" locale, and the
    // path walkers of the text library are told the same page.
    init_multibyte_code_page();

    // The guard lives in the session's local namespace; a second copy sees
    // ERROR_ALREADY_EXISTS and leaves without a word. A guard that cannot be
    // created at all does not stop the update.
    HANDLE guard = CreateMutexA(NULL, FALSE, GUARD_MUTEX_NAME);
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS)
        run_update();
    if (guard != NULL)
        CloseHandle(guard);
    return 0;
}
