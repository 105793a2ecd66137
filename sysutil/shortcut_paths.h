// The plain parts of the shortcut operations: the working directory that a
// shortcut gets for its target, and the path of a shortcut in a program
// group. Kept apart from the shell calls so that they run natively under the
// sanitizers.
#pragma once

#include "sysutil/sysutil.h"
#include "text/text.h"

#include <cstddef>
#include <cstdint>

// The drive (two bytes) and the directory part as split_path gives them
// (SPLIT_PART_BYTES with its terminator): at most 257 bytes and a terminator.
constexpr size_t SHORTCUT_WORKING_DIRECTORY_BYTES = (SPLIT_DRIVE_BYTES - 1) + SPLIT_PART_BYTES;
// A link path and its terminator.
constexpr size_t SHORTCUT_LINK_PATH_BYTES = SHORTCUT_LINK_MAX_BYTES + 1;

// The target's drive and directory into out (SHORTCUT_WORKING_DIRECTORY_BYTES),
// slashes turned into backslashes, one trailing single-byte backslash removed
// ("C:\" gives "C:"); the empty string for a mode greater than 0.
void shortcut_working_directory(const char* target_path, int32_t mode, char* out);

// programs, '\', group_name, '\', shortcut_name and ".lnk" into out
// (SHORTCUT_LINK_PATH_BYTES), taken as they are. false, with out empty, when
// programs is empty or the path would be longer than SHORTCUT_LINK_MAX_BYTES.
bool programs_link_path(const char* programs, const char* group_name,
                        const char* shortcut_name, char* out);
