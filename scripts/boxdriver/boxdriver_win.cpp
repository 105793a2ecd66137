// Message-box driver: see boxdriver.h.
#include "scripts/boxdriver/boxdriver.h"

#include "scripts/boxdriver/boxprobe.h"

#include <tlhelp32.h>

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// The text of a message box is the static control with this id, under
// Windows and under Wine alike.
constexpr int BOX_TEXT_ID = 0xFFFF;
// The code page of the programs' texts, which the boxes are compared against.
constexpr UINT CP_SHIFT_JIS = 932;
// How often a wait looks again for a box or for the box to go.
constexpr DWORD POLL_MS = 10;
// How long an answered box may take to close.
constexpr DWORD ANSWER_CLOSE_MS = 5000;
// How long one look at a box waits for the box's thread to take a message;
// a busy thread is simply looked at again.
constexpr DWORD BOX_REPLY_MS = 250;
// The threads of a driven process on which its boxes are counted.
constexpr int WATCHED_THREADS_MAX = 16;

struct ButtonName {
    int id;
    unsigned bit;
    const char* name;
};

// The order is the order in which box_buttons_name lists them.
constexpr ButtonName BUTTONS[] = {
    {IDOK, BOX_BUTTON_OK, "OK"},         {IDCANCEL, BOX_BUTTON_CANCEL, "CANCEL"},
    {IDABORT, BOX_BUTTON_ABORT, "ABORT"}, {IDRETRY, BOX_BUTTON_RETRY, "RETRY"},
    {IDIGNORE, BOX_BUTTON_IGNORE, "IGNORE"}, {IDYES, BOX_BUTTON_YES, "YES"},
    {IDNO, BOX_BUTTON_NO, "NO"},
};

struct FindBoxSearch {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK find_box_callback(HWND window, LPARAM param) {
    FindBoxSearch* search = reinterpret_cast<FindBoxSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !IsWindowVisible(window)) return TRUE;
    char class_name[16];
    if (GetClassNameA(window, class_name, sizeof class_name) == 0) return TRUE;
    if (strcmp(class_name, "#32770") != 0) return TRUE;
    search->found = window;
    return FALSE;
}

unsigned long long now_ms() { return GetTickCount64(); }

DWORD remaining_ms(unsigned long long deadline) {
    unsigned long long now = now_ms();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

void set_error(BoxTranscript* transcript, const char* what, const char* detail) {
    snprintf(transcript->error, sizeof transcript->error, "%s%s%s", what,
             detail[0] ? ": " : "", detail);
}

struct IconSearch {
    HWND control;
    HICON icon;
    bool found;
};

// Where boxprobe.dll is; empty: beside the running program.
char probe_dll_path[MAX_PATH + 1];
HMODULE probe_dll;
HOOKPROC probe_hook;

bool load_probe() {
    if (probe_hook) return true;
    char path[MAX_PATH + 1] = {};
    if (probe_dll_path[0]) {
        memcpy(path, probe_dll_path, sizeof path);
    } else {
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return false;
        char* slash = strrchr(path, '\\');
        size_t dir_length = slash ? static_cast<size_t>(slash + 1 - path) : 0;
        constexpr char NAME[] = "boxprobe.dll";
        if (dir_length + sizeof NAME > sizeof path) return false;
        memcpy(path + dir_length, NAME, sizeof NAME);
    }
    if (!probe_dll) probe_dll = LoadLibraryA(path);
    if (!probe_dll) return false;
    probe_hook = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(probe_dll, BOX_PROBE_HOOK_NAME)));
    return probe_hook != nullptr;
}

// Asks boxprobe.dll, hooked into the thread that shows the box, which icon
// the control holds.
BoxIcon probe_foreign_icon(HWND box, HWND icon_control) {
    if (!load_probe()) return BOX_ICON_UNIDENTIFIED;
    DWORD thread = GetWindowThreadProcessId(box, nullptr);
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, probe_hook, probe_dll, thread);
    if (!hook) return BOX_ICON_UNIDENTIFIED;
    static UINT query = RegisterWindowMessageA(BOX_PROBE_MESSAGE);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(box, query, 0, reinterpret_cast<LPARAM>(icon_control), SMTO_ABORTIFHUNG,
                        ANSWER_CLOSE_MS, &ignored);
    UnhookWindowsHookEx(hook);
    switch (reinterpret_cast<UINT_PTR>(GetPropA(box, BOX_PROBE_PROPERTY))) {
    case BOX_PROBE_NONE: return BOX_ICON_NONE;
    case BOX_PROBE_INFORMATION: return BOX_ICON_INFORMATION;
    case BOX_PROBE_WARNING: return BOX_ICON_WARNING;
    case BOX_PROBE_ERROR: return BOX_ICON_ERROR;
    case BOX_PROBE_QUESTION: return BOX_ICON_QUESTION;
    case BOX_PROBE_OTHER: return BOX_ICON_OTHER;
    default: return BOX_ICON_UNIDENTIFIED;  // the hook never ran
    }
}

// The boxes that a driven process makes, counted from inside it by
// box_made_hook: a box that came and went without being seen still counts.
struct MadeBoxes {
    HANDLE semaphore;  // null: not counted
    HANDLE refuse;     // while open, the process's boxes are refused
    DWORD process_id;
    HHOOK hooks[WATCHED_THREADS_MAX];
    int hook_count;
};

void hook_made_boxes(DWORD thread, HOOKPROC hook, MadeBoxes* made) {
    if (made->hook_count >= WATCHED_THREADS_MAX) return;
    HHOOK set = SetWindowsHookExA(WH_CBT, hook, probe_dll, thread);
    if (set) made->hooks[made->hook_count++] = set;
}

// From now on the hook refuses the process's boxes (BOX_REFUSE), until
// count_made_boxes.
void refuse_boxes(MadeBoxes* made) {
    if (made->refuse) return;
    char name[BOX_PROBE_NAME_BYTES];
    box_probe_name(name, BOX_PROBE_REFUSE_PREFIX, made->process_id);
    made->refuse = CreateEventA(nullptr, TRUE, TRUE, name);
}

// Hooks main_thread (0: none known) and every other thread of the process,
// its boxes refused from the first when the script begins with BOX_REFUSE.
// Nothing is counted or refused when boxprobe.dll cannot be loaded.
void watch_made_boxes(DWORD process_id, DWORD main_thread, const BoxScript* script,
                      MadeBoxes* made) {
    memset(made, 0, sizeof *made);
    made->process_id = process_id;
    if (script->count > 0 && script->answers[0] == BOX_REFUSE) refuse_boxes(made);
    if (!load_probe()) return;
    HOOKPROC hook = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(probe_dll, BOX_PROBE_MADE_HOOK_NAME)));
    char name[BOX_PROBE_NAME_BYTES];
    box_probe_name(name, BOX_PROBE_MADE_PREFIX, process_id);
    if (!hook || !(made->semaphore = CreateSemaphoreA(nullptr, 0, LONG_MAX, name))) return;
    if (main_thread) hook_made_boxes(main_thread, hook, made);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID == process_id && entry.th32ThreadID != main_thread)
                hook_made_boxes(entry.th32ThreadID, hook, made);
        }
        CloseHandle(snapshot);
    }
}

// The boxes made since watch_made_boxes, or -1 when none could be counted;
// unhooks.
int count_made_boxes(MadeBoxes* made) {
    for (int i = 0; i < made->hook_count; ++i) UnhookWindowsHookEx(made->hooks[i]);
    if (made->refuse) CloseHandle(made->refuse);
    made->refuse = nullptr;
    if (!made->semaphore || made->hook_count == 0) {
        if (made->semaphore) CloseHandle(made->semaphore);
        return -1;
    }
    int count = 0;
    while (WaitForSingleObject(made->semaphore, 0) == WAIT_OBJECT_0) ++count;
    CloseHandle(made->semaphore);
    return count;
}

BOOL CALLBACK find_icon_callback(HWND child, LPARAM param) {
    IconSearch* search = reinterpret_cast<IconSearch*>(param);
    char class_name[16];
    if (GetClassNameA(child, class_name, sizeof class_name) == 0) return TRUE;
    if (_stricmp(class_name, "Static") != 0) return TRUE;
    LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(child)) return TRUE;
    HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (!icon) return TRUE;
    search->control = child;
    search->icon = icon;
    search->found = true;
    return FALSE;
}

BoxIcon classify_icon(HWND box) {
    // A box without an icon keeps its icon control but hides it (Wine) or
    // holds no icon in it: only a visible icon control with an icon counts.
    IconSearch search = {nullptr, nullptr, false};
    EnumChildWindows(box, find_icon_callback, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return BOX_ICON_NONE;

    // The standard icons are loaded once per process and shared, so in the
    // process that shows the box the handle is the very one LoadIcon gives.
    // Another process's icon handle means nothing here (seen under Wine 8:
    // each process has its own handles for the standard icons, and
    // GetIconInfo fails on a foreign one, so its picture cannot be read
    // either): such an icon is named by boxprobe.dll from inside that
    // process, or, without it, reported as there but unnamed.
    struct Standard {
        LPCSTR id;
        BoxIcon icon;
    };
    const Standard standards[] = {
        {IDI_INFORMATION, BOX_ICON_INFORMATION},
        {IDI_WARNING, BOX_ICON_WARNING},
        {IDI_ERROR, BOX_ICON_ERROR},
        {IDI_QUESTION, BOX_ICON_QUESTION},
    };
    for (const Standard& standard : standards) {
        if (LoadIconA(nullptr, standard.id) == search.icon) return standard.icon;
    }
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    if (owner == GetCurrentProcessId()) return BOX_ICON_OTHER;
    BoxIcon probed = probe_foreign_icon(box, search.control);
    // The control held an icon a moment ago: "none" can only mean that the
    // box went away meanwhile.
    return probed == BOX_ICON_NONE ? BOX_ICON_UNIDENTIFIED : probed;
}

// The button sets that MessageBoxA shows (MB_OK ... MB_RETRYCANCEL;
// MB_CANCELTRYCONTINUE shows Cancel beside two buttons not tracked here).
constexpr unsigned BOX_BUTTON_SETS[] = {
    BOX_BUTTON_OK,
    BOX_BUTTON_OK | BOX_BUTTON_CANCEL,
    BOX_BUTTON_ABORT | BOX_BUTTON_RETRY | BOX_BUTTON_IGNORE,
    BOX_BUTTON_YES | BOX_BUTTON_NO | BOX_BUTTON_CANCEL,
    BOX_BUTTON_YES | BOX_BUTTON_NO,
    BOX_BUTTON_RETRY | BOX_BUTTON_CANCEL,
    BOX_BUTTON_CANCEL,
};

unsigned visible_buttons(HWND box) {
    unsigned buttons = 0;
    for (const ButtonName& button : BUTTONS) {
        HWND control = GetDlgItem(box, button.id);
        if (control && IsWindowVisible(control)) buttons |= button.bit;
    }
    return buttons;
}

// What a look at a box in the making can tell apart.
struct BoxState {
    bool has_text;
    int caption_length;
    int text_length;
    unsigned buttons;
    RECT rect;
};

bool look_at_box(HWND box, BoxState* state) {
    memset(state, 0, sizeof *state);
    if (!IsWindowVisible(box) || !GetWindowRect(box, &state->rect)) return false;
    state->caption_length = GetWindowTextLengthW(box);
    HWND text = GetDlgItem(box, BOX_TEXT_ID);
    state->has_text = text != nullptr;
    state->text_length = text ? GetWindowTextLengthW(text) : 0;
    state->buttons = visible_buttons(box);
    return IsWindowVisible(box) != FALSE;
}

bool same_state(const BoxState& a, const BoxState& b) {
    return a.has_text == b.has_text && a.caption_length == b.caption_length &&
           a.text_length == b.text_length && a.buttons == b.buttons &&
           EqualRect(&a.rect, &b.rect);
}

// Whether the box is complete: shown, its dialog initialised, its text
// control there and exactly the buttons of one MessageBoxA style showing.
// Seen under Wine 8: a box is made from one template, hidden, with an empty
// caption and text and every button; WM_INITDIALOG sets caption and text,
// removes the buttons that the style does not name and sizes the box, which
// is shown after that. A message sent to the box is handled only once its
// thread takes messages again, so a reply between two looks that agree
// (caption and text lengths, buttons, place and size) means that the box
// was not being set up in between. Visibility alone is not trusted: a box
// was once read with an empty caption under load. Caption and text may be
// empty (a program may pass ""), so their lengths only have to agree.
// False also when the box has gone.
bool box_is_complete(HWND box) {
    BoxState first;
    if (!look_at_box(box, &first)) return false;
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, BOX_REPLY_MS,
                             &ignored)) {
        return false;
    }
    BoxState second;
    if (!look_at_box(box, &second) || !same_state(first, second)) return false;
    if (!second.has_text) return false;
    for (unsigned set : BOX_BUTTON_SETS) {
        if (second.buttons == set) return true;
    }
    return false;
}

// The button that lets a program go on without consenting to anything.
int cautious_answer(unsigned buttons) {
    if (buttons & BOX_BUTTON_NO) return IDNO;
    if (buttons & BOX_BUTTON_CANCEL) return IDCANCEL;
    if (buttons & BOX_BUTTON_OK) return IDOK;
    for (const ButtonName& button : BUTTONS) {
        if (buttons & button.bit) return button.id;
    }
    return IDCANCEL;
}

unsigned bit_for_answer(int button_id) {
    for (const ButtonName& button : BUTTONS) {
        if (button.id == button_id) return button.bit;
    }
    return 0;
}

// The loop shared by the cross-process and the in-process driver: answers
// boxes of process_id until `until` is signalled (the process ended, or the
// answerer was told to stop) or the deadline passes. made: the watch on
// another process, which can refuse its boxes; null in-process.
BoxRunOutcome drive_until(DWORD process_id, HANDLE until, const BoxScript* script,
                          MadeBoxes* made, DWORD timeout_ms, BoxTranscript* transcript) {
    unsigned long long deadline = now_ms() + timeout_ms;
    int scripted = 0;
    for (;;) {
        HWND box = wait_for_box(process_id, until, remaining_ms(deadline));
        if (!box) {
            if (WaitForSingleObject(until, 0) == WAIT_OBJECT_0) {
                transcript->outcome = BOX_RUN_COMPLETED;
            } else {
                set_error(transcript, "timed out", "no box came and the wait did not end");
                transcript->outcome = BOX_RUN_TIMED_OUT;
            }
            return transcript->outcome;
        }
        BoxInfo info;
        if (!read_box(box, &info)) continue;  // closed or replaced meanwhile

        int answer;
        if (scripted < script->count && script->answers[scripted] != BOX_REFUSE) {
            answer = script->answers[scripted++];
            // Any box can be told to close; only a button must be there.
            if (answer != IDCLOSE && !(info.buttons & bit_for_answer(answer))) {
                char detail[64];
                snprintf(detail, sizeof detail, "box %d has no %s button",
                         transcript->box_count + 1, box_answer_name(answer));
                set_error(transcript, "script mismatch", detail);
                answer = cautious_answer(info.buttons);
                ++transcript->unexpected_count;
            }
        } else {
            answer = cautious_answer(info.buttons);
            ++transcript->unexpected_count;
        }
        info.answer = answer;
        if (transcript->box_count < BOX_TRANSCRIPT_MAX) {
            transcript->boxes[transcript->box_count] = info;
        }
        ++transcript->box_count;
        // Refused from the next box on: set before this one is answered,
        // which is what lets the program make the next.
        if (made && scripted < script->count && script->answers[scripted] == BOX_REFUSE)
            refuse_boxes(made);
        if (!answer_box(box, answer, ANSWER_CLOSE_MS)) {
            set_error(transcript, "box stuck", "an answered box did not close");
            transcript->outcome = BOX_RUN_BOX_STUCK;
            return transcript->outcome;
        }
    }
}

void reset_transcript(BoxTranscript* transcript) {
    memset(transcript, 0, sizeof *transcript);
    transcript->outcome = BOX_RUN_COMPLETED;
}

// CreateProcessA with the program quoted before its arguments; info's
// handles are the caller's to close.
bool create_program(const char* program, const char* args, const char* current_directory,
                    DWORD flags, PROCESS_INFORMATION* info) {
    // CreateProcessA may write into the command line, so it lives in a buffer
    // of our own.
    size_t size = strlen(program) + (args ? strlen(args) : 0) + 4;
    char* command_line = new char[size];
    snprintf(command_line, size, "\"%s\"%s%s", program, args && args[0] ? " " : "",
             args ? args : "");
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    memset(info, 0, sizeof *info);
    BOOL ok = CreateProcessA(program, command_line, nullptr, nullptr, FALSE, flags, nullptr,
                             current_directory, &startup, info);
    delete[] command_line;
    return ok != FALSE;
}

// drive_boxes for a process whose boxes made are watched; the run fails
// when it made more boxes than were seen.
BoxRunOutcome drive_watched(HANDLE process, DWORD process_id, MadeBoxes* made,
                            const BoxScript* script, DWORD timeout_ms,
                            BoxTranscript* transcript) {
    reset_transcript(transcript);
    drive_until(process_id, process, script, made, timeout_ms, transcript);
    if (transcript->outcome != BOX_RUN_COMPLETED) {
        TerminateProcess(process, 0xDEAD);
        WaitForSingleObject(process, ANSWER_CLOSE_MS);
    }
    const int made_count = count_made_boxes(made);
    if (transcript->outcome == BOX_RUN_COMPLETED && made_count > transcript->box_count) {
        char detail[64];
        snprintf(detail, sizeof detail, "%d made, %d seen", made_count, transcript->box_count);
        set_error(transcript, "a box came and went unseen", detail);
        transcript->outcome = BOX_RUN_BOX_UNSEEN;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    transcript->exit_code = code;
    return transcript->outcome;
}

DWORD WINAPI answerer_thread(LPVOID param) {
    BoxAnswerer* answerer = static_cast<BoxAnswerer*>(param);
    drive_until(GetCurrentProcessId(), answerer->stop, answerer->script, nullptr,
                answerer->timeout_ms, answerer->transcript);
    return 0;
}

}  // namespace

bool set_box_icon_probe(const char* dll_path) {
    size_t length = strlen(dll_path);
    if (length >= sizeof probe_dll_path) return false;
    memcpy(probe_dll_path, dll_path, length + 1);
    if (probe_dll) FreeLibrary(probe_dll);  // a DLL found elsewhere before
    probe_dll = nullptr;
    probe_hook = nullptr;
    return load_probe();
}

void box_buttons_name(unsigned buttons, char* out, size_t out_size) {
    if (out_size == 0) return;
    out[0] = '\0';
    size_t used = 0;
    for (const ButtonName& button : BUTTONS) {
        if (!(buttons & button.bit)) continue;
        int n = snprintf(out + used, out_size - used, "%s%s", used ? "," : "", button.name);
        if (n < 0 || static_cast<size_t>(n) >= out_size - used) return;  // cut, terminated
        used += static_cast<size_t>(n);
    }
}

const char* box_icon_name(BoxIcon icon) {
    switch (icon) {
    case BOX_ICON_NONE: return "none";
    case BOX_ICON_INFORMATION: return "information";
    case BOX_ICON_WARNING: return "warning";
    case BOX_ICON_ERROR: return "error";
    case BOX_ICON_QUESTION: return "question";
    case BOX_ICON_OTHER: return "other";
    case BOX_ICON_UNIDENTIFIED: return "unidentified";
    }
    return "other";
}

const char* box_answer_name(int button_id) {
    switch (button_id) {
    case 0: return "none";
    case IDOK: return "IDOK";
    case IDCANCEL: return "IDCANCEL";
    case IDABORT: return "IDABORT";
    case IDRETRY: return "IDRETRY";
    case IDIGNORE: return "IDIGNORE";
    case IDYES: return "IDYES";
    case IDNO: return "IDNO";
    case IDCLOSE: return "IDCLOSE";
    default: return "unknown";
    }
}

int box_answer_from_name(const char* word) {
    for (const ButtonName& button : BUTTONS) {
        if (_stricmp(word, button.name) == 0) return button.id;
    }
    if (_stricmp(word, "close") == 0) return IDCLOSE;
    return 0;
}

std::string box_text_utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size) - 1);  // the terminator
    return utf8;
}

std::string box_text_hex(const wchar_t* text) {
    std::string hex;
    char pair[8];
    for (const wchar_t* p = text; *p; ++p) {
        const unsigned unit = static_cast<unsigned>(*p);
        snprintf(pair, sizeof pair, "%02x%02x", unit & 0xFFu, unit >> 8);
        hex += pair;
    }
    return hex;
}

std::string box_text_mismatch(const wchar_t* seen, const char* expected_cp932) {
    std::wstring expected;
    const int units = MultiByteToWideChar(CP_SHIFT_JIS, MB_ERR_INVALID_CHARS, expected_cp932,
                                          -1, nullptr, 0);
    if (units > 0) {
        expected.resize(static_cast<size_t>(units));
        MultiByteToWideChar(CP_SHIFT_JIS, MB_ERR_INVALID_CHARS, expected_cp932, -1,
                            &expected[0], units);
        expected.resize(static_cast<size_t>(units) - 1);
        if (expected == seen) return std::string();
    }
    std::string why = units > 0 ? "expected \"" + box_text_utf8(expected.c_str()) + "\""
                                : "expected text is no valid CP932";
    why += "\n    seen \"" + box_text_utf8(seen) + "\"";
    if (units > 0) {
        size_t at = 0;
        while (seen[at] != L'\0' && seen[at] == expected[at]) ++at;
        char where[96];
        snprintf(where, sizeof where, "\n    from unit %u on: expected U+%04X, seen U+%04X",
                 static_cast<unsigned>(at), static_cast<unsigned>(expected[at]),
                 static_cast<unsigned>(seen[at]));
        why += where;
    }
    return why;
}

HWND find_box(DWORD process_id) {
    FindBoxSearch search = {process_id, nullptr};
    EnumWindows(find_box_callback, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND wait_for_box(DWORD process_id, HANDLE stop, DWORD timeout_ms) {
    unsigned long long deadline = now_ms() + timeout_ms;
    for (;;) {
        HWND box = find_box(process_id);
        if (box && box_is_complete(box)) return box;
        DWORD left = remaining_ms(deadline);
        if (left == 0) return nullptr;
        DWORD slice = left < POLL_MS ? left : POLL_MS;
        if (stop) {
            if (WaitForSingleObject(stop, slice) == WAIT_OBJECT_0) {
                // A box shown just before the process ended or the stop came
                // is still worth one last look.
                box = find_box(process_id);
                return box && box_is_complete(box) ? box : nullptr;
            }
        } else {
            Sleep(slice);
        }
    }
}

bool read_box(HWND box, BoxInfo* info) {
    memset(info, 0, sizeof *info);
    if (!IsWindow(box)) return false;
    int caption_length = GetWindowTextLengthW(box);
    GetWindowTextW(box, info->caption, static_cast<int>(BOX_CAPTION_UNITS));
    HWND text = GetDlgItem(box, BOX_TEXT_ID);
    int text_length = text ? GetWindowTextLengthW(text) : 0;
    if (text) GetWindowTextW(text, info->text, static_cast<int>(BOX_TEXT_UNITS));
    info->truncated = caption_length >= static_cast<int>(BOX_CAPTION_UNITS) ||
                      text_length >= static_cast<int>(BOX_TEXT_UNITS);
    // A caption or text that the box has but that came back empty was not
    // read: the caller looks again rather than record it.
    if ((caption_length > 0 && info->caption[0] == '\0') ||
        (text_length > 0 && info->text[0] == '\0')) {
        return false;
    }
    info->buttons = visible_buttons(box);
    info->icon = classify_icon(box);
    return IsWindow(box) != FALSE;
}

bool answer_box(HWND box, int button_id, DWORD timeout_ms) {
    if (button_id == IDCLOSE) {
        PostMessageA(box, WM_CLOSE, 0, 0);
    } else {
        HWND button = GetDlgItem(box, button_id);
        if (!button || !IsWindowVisible(button)) return false;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button_id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
    unsigned long long deadline = now_ms() + timeout_ms;
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (remaining_ms(deadline) == 0) return false;
        Sleep(POLL_MS);
    }
    return true;
}

bool parse_box_script(const char* words, BoxScript* script) {
    memset(script, 0, sizeof *script);
    const char* p = words;
    while (*p) {
        const char* end = strchr(p, ',');
        size_t length = end ? static_cast<size_t>(end - p) : strlen(p);
        char word[16];
        if (length == 0 || length >= sizeof word) return false;
        memcpy(word, p, length);
        word[length] = '\0';
        int answer = _stricmp(word, "refuse") == 0 ? BOX_REFUSE : box_answer_from_name(word);
        if (answer == 0 || script->count >= BOX_TRANSCRIPT_MAX ||
            (script->count > 0 && script->answers[script->count - 1] == BOX_REFUSE))
            return false;
        script->answers[script->count++] = answer;
        if (!end) break;
        p = end + 1;
        if (*p == '\0') return false;  // trailing comma
    }
    return true;
}

bool start_program(const char* program, const char* args, const char* current_directory,
                   HANDLE* process, DWORD* process_id) {
    PROCESS_INFORMATION info;
    if (!create_program(program, args, current_directory, 0, &info)) return false;
    CloseHandle(info.hThread);
    *process = info.hProcess;
    *process_id = info.dwProcessId;
    return true;
}

BoxRunOutcome drive_boxes(HANDLE process, DWORD process_id, const BoxScript* script,
                          DWORD timeout_ms, BoxTranscript* transcript) {
    MadeBoxes made;
    watch_made_boxes(process_id, 0, script, &made);
    return drive_watched(process, process_id, &made, script, timeout_ms, transcript);
}

BoxRunOutcome run_with_boxes(const char* program, const char* args,
                             const char* current_directory, const BoxScript* script,
                             DWORD timeout_ms, BoxTranscript* transcript) {
    // Started suspended, so that its boxes are counted from the first.
    PROCESS_INFORMATION info;
    if (!create_program(program, args, current_directory, CREATE_SUSPENDED, &info)) {
        DWORD error = GetLastError();
        reset_transcript(transcript);
        char detail[64];
        snprintf(detail, sizeof detail, "CreateProcessA error %lu",
                 static_cast<unsigned long>(error));
        set_error(transcript, program, detail);
        transcript->outcome = BOX_RUN_START_FAILED;
        return transcript->outcome;
    }
    MadeBoxes made;
    watch_made_boxes(info.dwProcessId, info.dwThreadId, script, &made);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    drive_watched(info.hProcess, info.dwProcessId, &made, script, timeout_ms, transcript);
    CloseHandle(info.hProcess);
    return transcript->outcome;
}

bool start_box_answerer(BoxAnswerer* answerer, const BoxScript* script, DWORD timeout_ms,
                        BoxTranscript* transcript) {
    reset_transcript(transcript);
    answerer->script = script;
    answerer->timeout_ms = timeout_ms;
    answerer->transcript = transcript;
    answerer->thread = nullptr;
    answerer->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!answerer->stop) {
        set_error(transcript, "start_box_answerer", "CreateEventA failed");
        transcript->outcome = BOX_RUN_START_FAILED;
        return false;
    }
    answerer->thread = CreateThread(nullptr, 0, answerer_thread, answerer, 0, nullptr);
    if (!answerer->thread) {
        CloseHandle(answerer->stop);
        answerer->stop = nullptr;
        set_error(transcript, "start_box_answerer", "CreateThread failed");
        transcript->outcome = BOX_RUN_START_FAILED;
        return false;
    }
    return true;
}

BoxRunOutcome finish_box_answerer(BoxAnswerer* answerer) {
    if (answerer->thread) {
        SetEvent(answerer->stop);
        WaitForSingleObject(answerer->thread, INFINITE);
        CloseHandle(answerer->thread);
        answerer->thread = nullptr;
    }
    if (answerer->stop) {
        CloseHandle(answerer->stop);
        answerer->stop = nullptr;
    }
    return answerer->transcript->outcome;
}
