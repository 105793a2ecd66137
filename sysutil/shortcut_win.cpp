// Shell shortcuts: a .lnk file written through the shell-link object, and
// one placed in a program group of the user's Start menu.
#include "sysutil/sysutil.h"

#include "sysutil/shortcut_paths.h"
#include "text/path_seam.h"
#include "text/text.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

namespace {

// SHGetSpecialFolderPathA writes up to MAX_PATH bytes.
constexpr size_t SPECIAL_FOLDER_BYTES = PATH_BUFFER_BYTES;

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
    wchar_t wide_link_path[SHORTCUT_LINK_PATH_BYTES] = {};
    if (MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide_link_path,
                            static_cast<int>(SHORTCUT_LINK_PATH_BYTES)) == 0) {
        return 0;
    }

    // The target is split under the process's code page: under the Shift-JIS
    // stand-in a single-byte system's 0xE9 (é) would take the backslash
    // after it for its second byte. Where nothing has described the code
    // page, it is described for this split alone and forgotten again, so
    // that the caller's own split_path answers as before.
    const bool described = mbcp_is_described();
    if (!described) {
        describe_multibyte_code_page();
    }
    char working_directory[SHORTCUT_WORKING_DIRECTORY_BYTES];
    shortcut_working_directory(target_path, working_directory_mode, working_directory);
    if (!described) {
        mbcp_forget();
    }

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
    char link_path[SHORTCUT_LINK_PATH_BYTES];
    // No folder is created for a path that cannot be used, nor below an
    // unknown Programs folder.
    if (!SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, FALSE) ||
        !programs_link_path(programs, group_name, shortcut_name, link_path)) {
        return 0;
    }
    create_directories(link_path);
    create_shortcut(link_path, target_path, nullptr, SW_SHOWNORMAL, working_directory_mode);
    return 0;
}
