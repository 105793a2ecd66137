// Running-game detection. A running instance of the game holds a mutex and a
// top-level window class that both carry its instance name: the full path of
// its executable with ASCII letters lowered and every single-byte backslash
// turned into a colon (C:\Games\Demo\velk.exe -> c::games:demo:velk.exe).
#pragma once

#include <cstddef>

#include "text/text.h"

// Longest executable name appended to an installation prefix of
// PATH_MAX_BYTES to form an instance name.
constexpr size_t INSTANCE_EXE_NAME_MAX_BYTES = 15;
// The instance-name buffer: the longest prefix, the longest executable name
// and the terminator.
constexpr size_t INSTANCE_NAME_BYTES = PATH_MAX_BYTES + INSTANCE_EXE_NAME_MAX_BYTES + 1;

// The process-wide buffer that holds the game's instance name while the probe
// runs.
extern char instance_name[INSTANCE_NAME_BYTES];

// Turns the path in s into its instance name, in place (the length does not
// change): ASCII upper-case letters become lower case, single-byte
// backslashes become colons; double-byte characters, a trail byte 0x5C
// among them, stay as they are.
void to_instance_name(char* s);

// Copies path into out (out_size bytes) and turns it into its instance name.
// Refuses with false and an empty out when the path does not fit.
bool form_instance_name(char* out, size_t out_size, const char* path);

// 0 when no instance of the game runs under name; 1 when its mutex and a
// top-level window of its class exist; 255 when the mutex could not be opened
// at all, which counts as running. Windows only.
#ifdef _WIN32
unsigned char is_game_running(const char* name);
#endif
