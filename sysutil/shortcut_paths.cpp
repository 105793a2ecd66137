#include "sysutil/shortcut_paths.h"

#include <cstring>

void shortcut_working_directory(const char* target_path, int32_t mode, char* out)
{
    char drive[SPLIT_DRIVE_BYTES];
    char directory[SPLIT_PART_BYTES];
    split_path(target_path, drive, directory, nullptr);

    const size_t drive_length = std::strlen(drive);
    std::memcpy(out, drive, drive_length);
    std::memcpy(out + drive_length, directory, std::strlen(directory) + 1);

    sjis_replace_char(out, '/', '\\');
    // A trail byte 0x5C (as in 0x83 0x5C) ends a character, not the path.
    if (sjis_ends_with_char(out, '\\')) {
        out[std::strlen(out) - 1] = 0;
    }
    if (mode > 0) {
        out[0] = 0;
    }
}

bool programs_link_path(const char* programs, const char* group_name,
                        const char* shortcut_name, char* out)
{
    out[0] = 0;
    // Without the Programs folder the path would be relative to whatever the
    // current directory happens to be.
    if (programs[0] == 0) {
        return false;
    }
    const char* const parts[] = {programs, "\\", group_name, "\\", shortcut_name, ".lnk"};
    size_t total = 0;
    for (const char* part : parts) {
        total += std::strlen(part);
        if (total > SHORTCUT_LINK_MAX_BYTES) {
            return false;
        }
    }
    size_t used = 0;
    for (const char* part : parts) {
        const size_t length = std::strlen(part);
        std::memcpy(out + used, part, length);
        used += length;
    }
    out[used] = 0;
    return true;
}
