// Shell shortcuts: a .lnk file written through the shell-link object, and
// one placed in a program group of the user's Start menu.
#include "sysutil/sysutil.h"

#include "text/text.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

namespace {

// The drive (two bytes) and the directory part (SPLIT_PART_BYTES with its
// terminator) as split_path gives them.
constexpr size_t WORKING_DIRECTORY_BYTES = (SPLIT_DRIVE_BYTES - 1) + SPLIT_PART_BYTES;
// The link path in UTF-16, terminator included: at most one unit per byte.
constexpr int LINK_PATH_WIDE_UNITS = SHORTCUT_LINK_MAX_BYTES + 1;
// SHGetSpecialFolderPathA writes up to MAX_PATH bytes.
constexpr size_t SPECIAL_FOLDER_BYTES = PATH_BUFFER_BYTES;

const char LINK_EXTENSION[] = ".lnk";

// The target's drive and directory, slashes turned into backslashes, without
// one trailing single-byte backslash ("C:\" becomes "C:"); empty for a
// positive mode.
void working_directory_of(const char* target_path, int32_t mode, char* out)
{
    char drive[SPLIT_DRIVE_BYTES];
    char directory[SPLIT_PART_BYTES];
    split_path(target_path, drive, directory, nullptr);

    const size_t drive_length = std::strlen(drive);
    const size_t directory_length = std::strlen(directory);
    std::memcpy(out, drive, drive_length);
    std::memcpy(out + drive_length, directory, directory_length + 1);

    sjis_replace_char(out, '/', '\\');
    if (sjis_ends_with_char(out, '\\')) {
        out[std::strlen(out) - 1] = 0;
    }
    if (mode > 0) {
        out[0] = 0;
    }
}

// Sets up the link object and saves it at wide_link_path; true when Save
// reported S_OK. The COM library must be initialised on this thread.
bool save_shell_link(const wchar_t* wide_link_path, const char* target_path,
                     const char* arguments, int32_t show_command, const char* working_directory)
{
    IShellLinkA* link = nullptr;
    const HRESULT created = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IShellLinkA, reinterpret_cast<void**>(&link));
    if (created != S_OK || link == nullptr) {
        return false;
    }

    // A value that the link object refuses does not stop the save: its
    // result alone tells whether a shortcut was written.
    link->SetPath(target_path);
    if (arguments != nullptr) {
        link->SetArguments(arguments);
    }
    link->SetWorkingDirectory(working_directory);
    link->SetShowCmd(show_command);

    HRESULT saved = E_FAIL;
    IPersistFile* file = nullptr;
    if (link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) == S_OK &&
        file != nullptr) {
        saved = file->Save(wide_link_path, TRUE);
        file->Release();
    }
    link->Release();
    return saved == S_OK;
}

} // namespace

int32_t create_shortcut(const char* link_path, const char* target_path, const char* arguments,
                        int32_t show_command, int32_t working_directory_mode)
{
    if (std::strlen(link_path) > SHORTCUT_LINK_MAX_BYTES) {
        return 0;
    }
    // Within the limit every byte becomes at most one UTF-16 unit, so the
    // conversion fits; a conversion that fails anyway saves nothing.
    wchar_t wide_link_path[LINK_PATH_WIDE_UNITS] = {};
    if (MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide_link_path, LINK_PATH_WIDE_UNITS) == 0) {
        return 0;
    }

    char working_directory[WORKING_DIRECTORY_BYTES];
    working_directory_of(target_path, working_directory_mode, working_directory);

    // S_FALSE means this thread already ran COM in the apartment model: the
    // call still counts and is undone below. A failure (the thread runs COM
    // in the multithreaded model) must not be undone, or the caller's own
    // initialisation would be torn down.
    const HRESULT initialised = CoInitialize(nullptr);
    const bool saved = save_shell_link(wide_link_path, target_path, arguments, show_command,
                                       working_directory);
    if (SUCCEEDED(initialised)) {
        CoUninitialize();
    }
    return saved ? 1 : 0;
}

int32_t create_programs_shortcut(const char* group_name, const char* shortcut_name,
                                 const char* target_path, int32_t working_directory_mode)
{
    char programs[SPECIAL_FOLDER_BYTES] = "";
    if (!SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, FALSE) || programs[0] == 0) {
        // Without the Programs folder the path would be relative to whatever
        // the current directory is: create nothing there.
        return 0;
    }

    const char* const parts[] = {programs, "\\", group_name, "\\", shortcut_name, LINK_EXTENSION};
    size_t total = 0;
    for (const char* part : parts) {
        total += std::strlen(part);
    }
    if (total > SHORTCUT_LINK_MAX_BYTES) {
        return 0;
    }
    char link_path[SHORTCUT_LINK_MAX_BYTES + 1];
    size_t used = 0;
    for (const char* part : parts) {
        const size_t length = std::strlen(part);
        std::memcpy(link_path + used, part, length);
        used += length;
    }
    link_path[used] = 0;

    create_directories(link_path);
    create_shortcut(link_path, target_path, nullptr, SW_SHOWNORMAL, working_directory_mode);
    return 0;
}
