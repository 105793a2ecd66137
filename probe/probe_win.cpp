// The running-game probe: the game's named mutex, then its window class.
#include "probe/probe.h"

#include <windows.h>

// The probe's handle on the game's mutex name, held only inside one call.
static HANDLE probe_mutex = NULL;

unsigned char is_game_running(const char* name) {
    probe_mutex = CreateMutexA(NULL, FALSE, name);
    // ERROR_ALREADY_EXISTS is only meaningful straight after the call.
    const DWORD error = GetLastError();
    if (probe_mutex == NULL) {
        // The name is taken by another kind of object, or by a process with
        // higher rights: the game cannot be ruled out.
        return 255;
    }
    CloseHandle(probe_mutex);
    probe_mutex = NULL;
    if (error != ERROR_ALREADY_EXISTS) {
        // This call created the mutex, so no instance held it; closing the
        // only handle has removed it again.
        return 0;
    }
    return FindWindowA(name, NULL) != NULL ? 1 : 0;
}
