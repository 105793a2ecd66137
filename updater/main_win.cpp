// The program's entry: a single-instance guard around one run of the update.
#include "updater/updater.h"

#include <mbctype.h>
#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD flags);

// DLLs that the system loads on the program's behalf later on (for the
// message box's themes and input methods, for one) must not be picked up
// from the current directory, which holds downloaded files, nor from the
// program's own folder. SetDefaultDllDirectories exists only from Windows 8
// (or 7 with KB2533623), so it is looked up rather than imported, and the
// program still starts without it; SetDllDirectoryA("") at least takes the
// current directory out of the search.
static void restrict_dll_search() {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel32 != NULL ? GetProcAddress(kernel32, "SetDefaultDllDirectories")
                                    : NULL;
    if (proc != NULL) {
        // Through void(*)() so that the cast between function types is
        // explicit about being one.
        const SetDefaultDllDirectoriesFn set_default_dll_directories =
            reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(proc));
        if (set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32))
            return;
    }
    SetDllDirectoryA("");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    // None of the arguments is used: the program takes no options.
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;

    restrict_dll_search();
    // The multibyte routines of the C runtime follow the system's ANSI code
    // page (932 on the systems served) rather than the "C" locale.
    _setmbcp(_MB_CP_ANSI);

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
