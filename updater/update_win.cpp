// The update procedure's stages, at the Windows edge: the registry, file
// existence, the running-game probe and the message boxes.
#include "updater/updater.h"

#include "sysutil/sysutil.h"

#include <windows.h>

#include <cstring>

// The hive of the installation record. Kept here, with the other Windows
// names, rather than in the plain header.
static const HKEY REGISTRY_ROOT = HKEY_CURRENT_USER;

static_assert(BOX_STYLE_OK == MB_OK && BOX_STYLE_YES_NO == MB_YESNO &&
                  BOX_STYLE_NO_ICON == 0 && BOX_STYLE_INFORMATION == MB_ICONINFORMATION,
              "the rows' styles are the platform's");

// The caption of the box being shown; its text goes to message_buffer.
static char box_caption[MESSAGE_BUFFER_BYTES];

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
void restrict_dll_search() {
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

int show_box(const char* text, const char* caption, unsigned int style) {
    return show_cp932_box(text, caption, style);
}

int show_program_box(BoxId id, const char* path) {
    // A path too long for the text (never one that the splice accepts)
    // leaves it out rather than the box.
    BoxPathSpan span = {0, 0};
    if (!format_box(id, path, message_buffer, box_caption, &span))
        format_box(id, nullptr, message_buffer, box_caption, &span);
    const unsigned int style =
        static_cast<unsigned int>(BOXES[id].buttons) | static_cast<unsigned int>(BOXES[id].icon);
    if (span.length == 0)
        return show_box(message_buffer, box_caption, style);
    // The path is the system's name for a file (from _fullpath), in its ANSI
    // code page: read as 932, a folder such as "Café" on a Western system
    // would name a file that does not exist.
    const size_t after = span.at + span.length;
    const BoxTextPart parts[] = {
        {message_buffer, span.at, SHIFT_JIS_CODE_PAGE},
        {message_buffer + span.at, span.length, BOX_PART_SYSTEM_CODE_PAGE},
        {message_buffer + after, strlen(message_buffer + after), SHIFT_JIS_CODE_PAGE},
    };
    return show_box_parts(parts, sizeof parts / sizeof parts[0], box_caption, style);
}

// Files and directories both count; only a failure means "not there".
static bool path_exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static bool marker_exists(const char* prefix, const char* name) {
    char path[COMPOSED_PATH_BYTES];
    return compose_path(path, sizeof(path), prefix, name) && path_exists(path);
}

InstallLookup lookup_installation(const char* key, const char* value_name,
                                  char (&prefix)[DIR_VALUE_CAPACITY]) {
    prefix[0] = '\0';
    HKEY hkey = NULL;
    // Full access although the stage only reads: a key that the user may not
    // write counts as an installation that is not the user's.
    const LONG open_rc = RegOpenKeyExA(REGISTRY_ROOT, key, 0, KEY_ALL_ACCESS, &hkey);
    if (open_rc != ERROR_SUCCESS)
        return INSTALL_NO_KEY;

    // The value's type is not examined. A value longer than the buffer fails
    // with ERROR_MORE_DATA; one that fills it without a terminator is refused
    // by take_registry_text.
    DWORD size = DIR_VALUE_CAPACITY;
    const LONG query_rc = RegQueryValueExA(hkey, value_name, NULL, NULL,
                                           reinterpret_cast<BYTE*>(prefix), &size);
    RegCloseKey(hkey);
    if (query_rc != ERROR_SUCCESS || !take_registry_text(prefix, DIR_VALUE_CAPACITY, size)) {
        prefix[0] = '\0';
        return INSTALL_NO_VALUE;
    }

    // All three are tested even after one is missing.
    bool complete = marker_exists(prefix, MARKER_INSTALL_INI);
    complete = marker_exists(prefix, MARKER_PAC_DIR) && complete;
    complete = marker_exists(prefix, ARCHIVE_RELATIVE_PATH) && complete;
    return complete ? INSTALL_FOUND : INSTALL_INCOMPLETE;
}

// Shows one box that ends the procedure early.
static int end_update(BoxId id) {
    show_program_box(id, nullptr);
    return -1;
}

static bool confirm(BoxId id) {
    // Of the answers, only No cancels (a box closed otherwise goes on). But a
    // question whose box could not be shown (0: no interactive desktop, its
    // heap used up, a job that limits the user interface) was never put to
    // the player, and consents to nothing.
    const int answer = show_program_box(id, nullptr);
    return answer != IDNO && answer != 0;
}

static bool game_running(const char* prefix) {
    if (!compose_path(instance_name, sizeof(instance_name), prefix, GAME_EXE_NAME))
        return true;
    to_instance_name(instance_name);
    return is_game_running(instance_name) != 0;
}

int run_update() {
    // Stage 1: installation lookup.
    char prefix[DIR_VALUE_CAPACITY];
    switch (lookup_installation(REGISTRY_KEY, REGISTRY_DIR_VALUE, prefix)) {
    case INSTALL_NO_KEY:
        return end_update(BOX_NOT_INSTALLED_NO1);
    case INSTALL_NO_VALUE:
        return end_update(BOX_NOT_INSTALLED_NO2);
    case INSTALL_INCOMPLETE:
        return end_update(BOX_NOT_INSTALLED_NO3);
    case INSTALL_FOUND:
        break;
    }

    // Stage 2: refuse while the game runs.
    if (game_running(prefix))
        return end_update(BOX_GAME_RUNNING);

    // Stage 3: classification and dialogue. The archive is opened before the
    // update data is looked for, so a held archive is reported first.
    char archive_path[COMPOSED_PATH_BYTES];
    int64_t archive_size = -1;
    if (!compose_path(archive_path, sizeof(archive_path), prefix, ARCHIVE_RELATIVE_PATH) ||
        !measure_file_size(archive_path, &archive_size))
        return end_update(BOX_ARCHIVE_BUSY);
    const VersionCode version = classify_archive_size(archive_size);
    if (!path_exists(UPDATE_DATA_FILE))
        return end_update(BOX_UPDATE_DATA_MISSING);
    switch (version) {
    case VERSION_PATCH_MISSING:
        return end_update(BOX_PATCH_MISSING);
    case VERSION_101:
        return end_update(BOX_ALREADY_APPLIED);
    case VERSION_UNKNOWN:
        // A size of no version at all may be a rewrite of ours that was cut
        // short: saying "already applied" there would pass a broken archive
        // as updated.
        if (is_interrupted_rewrite(archive_path, archive_size, UPDATE_DATA_FILE))
            return end_update(BOX_UPDATE_INTERRUPTED);
        return end_update(BOX_ALREADY_APPLIED);
    case VERSION_100:
        break;
    }
    if (!confirm(BOX_CONFIRM_DETECTED) || !confirm(BOX_CONFIRM_START))
        return end_update(BOX_CANCELLED);

    // Stage 4: the splice, reported in exactly one box, which comes only
    // after the new archive is committed to the disk and closed.
    const SpliceOutcome outcome = splice_archive(prefix);
    show_program_box(splice_result_box(outcome.result), outcome.rescue_path);
    return outcome.result == SPLICE_DONE ? 0 : -1;
}
