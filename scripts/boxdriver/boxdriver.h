// Message-box driver: finds the message boxes that one process shows, reads
// them (caption, text, buttons, icon) and answers them, either from another
// process (run_with_boxes) or from a second thread of the process that shows
// them (start_box_answerer).
//
// A message box is a top-level window of the dialog class "#32770" whose
// thread belongs to the process in question; boxes of any other process are
// never read or answered. Every wait is bounded: a box that never comes or a
// program that never ends is reported as such, never waited for forever.
//
// Under Wine the boxes are real windows only with a display or with the null
// graphics driver (scripts/wine/wine-run sets the latter); otherwise MessageBoxA
// returns at once and no box is ever seen.
//
// Caption and text are read as the UTF-16 that the box holds, which is what
// it draws. The byte-string calls convert it through the reader's own ANSI
// code page and so never show what was drawn. Seen under Wine 8: CP932 bytes
// passed to MessageBoxA in a process whose page was 1252 were drawn as
// "ƒiƒMƒTƒŠƒEƒ€ ƒAƒbƒvƒf[ƒg"; GetWindowTextA gave a reader in 932 "?i?M...",
// and a reader in 1252 gets back the very bytes that were sent, since that
// page maps every byte to one character and back.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Caption and text are read into buffers of these many UTF-16 units,
// terminator included; longer ones are cut at the buffer's end and flagged in
// BoxInfo::truncated.
constexpr size_t BOX_CAPTION_UNITS = 1024;
constexpr size_t BOX_TEXT_UNITS = 4096;

// Buttons of a box, as a set of bits (BoxInfo::buttons).
constexpr unsigned BOX_BUTTON_OK = 1u << 0;
constexpr unsigned BOX_BUTTON_CANCEL = 1u << 1;
constexpr unsigned BOX_BUTTON_ABORT = 1u << 2;
constexpr unsigned BOX_BUTTON_RETRY = 1u << 3;
constexpr unsigned BOX_BUTTON_IGNORE = 1u << 4;
constexpr unsigned BOX_BUTTON_YES = 1u << 5;
constexpr unsigned BOX_BUTTON_NO = 1u << 6;

// The standard icon a box shows.
enum BoxIcon {
    BOX_ICON_NONE = 0,
    BOX_ICON_INFORMATION,  // MB_ICONINFORMATION (MB_ICONASTERISK)
    BOX_ICON_WARNING,      // MB_ICONWARNING (MB_ICONEXCLAMATION)
    BOX_ICON_ERROR,        // MB_ICONERROR (MB_ICONHAND, MB_ICONSTOP)
    BOX_ICON_QUESTION,     // MB_ICONQUESTION
    BOX_ICON_OTHER,        // an icon, but none of the standard ones
    // An icon is shown, but which one cannot be told: a box of another
    // process whose icon could not be probed from inside it (see
    // set_box_icon_probe). Showing an icon and showing none are always told
    // apart.
    BOX_ICON_UNIDENTIFIED,
};

// Another process's icon handles mean nothing in this one, so the icon of
// another process's box is named by boxprobe.dll, which the driver hooks into
// the box's thread for a moment. By default the DLL is looked for beside the
// running program; this names it elsewhere (a Windows path, at most MAX_PATH
// bytes). false when it cannot be loaded: icons of other processes are then
// reported as BOX_ICON_UNIDENTIFIED.
bool set_box_icon_probe(const char* dll_path);

// What one box showed. caption and text are the UTF-16 that the box holds
// (line breaks included), NUL-terminated; box_text_mismatch compares them
// with a program's CP932 texts.
struct BoxInfo {
    wchar_t caption[BOX_CAPTION_UNITS];
    wchar_t text[BOX_TEXT_UNITS];
    unsigned buttons;  // BOX_BUTTON_* bits
    BoxIcon icon;
    bool truncated;    // caption or text longer than its buffer
    int answer;        // the button id the driver answered with (IDOK...), 0 if none
};

// Names for messages and transcripts: "OK", "YES", ... joined by ','; "none",
// "information", ...; "IDOK"/"IDYES"/"IDNO"/... for button ids.
// box_buttons_name writes into out (out_size bytes, always terminated).
void box_buttons_name(unsigned buttons, char* out, size_t out_size);
const char* box_icon_name(BoxIcon icon);
const char* box_answer_name(int button_id);
// Parses "ok", "yes", "no", "cancel", "abort", "retry", "ignore" (any letter
// case) into IDOK...; "close" into IDCLOSE; 0 if the word is none of them.
int box_answer_from_name(const char* word);

// ---- What a box holds against a program's text ----

// A program passes CP932 bytes; the box should show them as a Japanese system
// reads them, decoded from code page 932. "" when seen (as read from a box)
// is expected_cp932 so decoded; otherwise, for a failure message, both in
// UTF-8 and the first unit where they part as code points, which shows
// garbage made of control or look-alike characters too. Also not "" when
// expected_cp932 is no valid CP932.
std::string box_text_mismatch(const wchar_t* seen, const char* expected_cp932);
// What a box holds, in UTF-8, for messages.
std::string box_text_utf8(const wchar_t* text);
// What a box holds as hex of its UTF-16LE bytes, for transcripts: every unit
// shows as it is, a lone surrogate or a control character included.
std::string box_text_hex(const wchar_t* text);

// ---- Primitives ----

// One look: the visible message box of process_id, or null. The box may
// still be in the making (caption, text or buttons not yet set).
HWND find_box(DWORD process_id);
// Waits up to timeout_ms for a complete message box of process_id: visible,
// through WM_INITDIALOG (its caption and text set, unchanged between two
// looks), with its text control and the buttons of one MessageBoxA style
// (OK, OK/Cancel, ..., Yes/No) showing. Gives up early (null) when stop is
// signalled; stop may be null (a process handle ends the wait when the
// process ends).
HWND wait_for_box(DWORD process_id, HANDLE stop, DWORD timeout_ms);
// Reads caption, text, buttons and icon of a box that wait_for_box returned.
// false when box is no longer there (closed, or replaced by the next one),
// or when its caption or text, which it has, came back empty.
bool read_box(HWND box, BoxInfo* info);
// Presses button_id (IDOK, IDYES, IDNO, ...) by posting WM_COMMAND to the box
// and waits up to timeout_ms for the box to go away. false when the box has
// no such button or did not close in time. IDCLOSE closes the box instead,
// as its close button does (WM_CLOSE), whatever buttons it has: under Wine
// MessageBoxA then returns IDCANCEL, for a Yes/No box too.
bool answer_box(HWND box, int button_id, DWORD timeout_ms);

// ---- Scripted runs ----

// Boxes recorded per run; boxes past this many are still answered (and
// counted in BoxTranscript::box_count) but not recorded.
constexpr int BOX_TRANSCRIPT_MAX = 16;

// Answers given to the boxes in turn. A box that comes after the script has
// run out is answered with its most cautious button (NO, CANCEL, OK: the first
// that it has) so that the program can go on, and counts as unexpected.
// A script's last word may be "refuse" (BOX_REFUSE): from there on, every
// box that the program tries to make is refused, as a system without an
// interactive desktop refuses it, so that the program's message box call
// returns at once without a box (boxprobe.dll; only for another process,
// run_with_boxes and drive_boxes). A box that still comes is answered cautiously and counts as
// unexpected.
constexpr int BOX_REFUSE = -1;
struct BoxScript {
    int answers[BOX_TRANSCRIPT_MAX];
    int count;
};

enum BoxRunOutcome {
    BOX_RUN_COMPLETED = 0,      // the program ended (or the answerer was stopped)
    BOX_RUN_START_FAILED,       // CreateProcessA failed
    BOX_RUN_TIMED_OUT,          // the program did not end in time; it was killed
    BOX_RUN_BOX_STUCK,          // a box did not close when answered
    // The program ended, but it made more boxes than were seen: one came and
    // went without an answer from the driver. Counted from inside the
    // program by boxprobe.dll; without it, this is not told.
    BOX_RUN_BOX_UNSEEN,
};

struct BoxTranscript {
    BoxInfo boxes[BOX_TRANSCRIPT_MAX];
    int box_count;            // every box seen, recorded or not
    int unexpected_count;     // boxes that came after the script ran out
    DWORD exit_code;          // the program's exit code (run_with_boxes only)
    BoxRunOutcome outcome;
    char error[256];          // what went wrong, for a test's failure message
};

// Script from words: "yes,no,ok", "close", "yes,refuse" (case-insensitive).
// false on an unknown word, a word after "refuse" or more than
// BOX_TRANSCRIPT_MAX answers.
bool parse_box_script(const char* words, BoxScript* script);

// Starts program (a Windows path) with args (may be null: no arguments)
// in current_directory (may be null: the driver's own), answers its boxes
// from script, waits up to timeout_ms for it to end and records everything
// in transcript. Returns transcript->outcome. A program still running at the
// deadline is terminated. The program is held until its boxes are counted
// (BOX_RUN_BOX_UNSEEN), so that even its first box cannot pass unseen.
BoxRunOutcome run_with_boxes(const char* program, const char* args,
                             const char* current_directory,
                             const BoxScript* script, DWORD timeout_ms,
                             BoxTranscript* transcript);

// The same for a process that the caller started itself (for instance one
// that must be running before a second one starts): drives its boxes until it
// ends. Does not close the handle. Boxes are counted from this call on: one
// made before it, and not seen, goes untold.
BoxRunOutcome drive_boxes(HANDLE process, DWORD process_id,
                          const BoxScript* script, DWORD timeout_ms,
                          BoxTranscript* transcript);

// Starts program like run_with_boxes without driving it; fills *process and
// *process_id (the caller closes the handle). false when it did not start.
bool start_program(const char* program, const char* args,
                   const char* current_directory, HANDLE* process,
                   DWORD* process_id);

// In-process use: a thread that answers the boxes this process shows (on
// another thread, typically inside the function under test) from script,
// recording them in *transcript, until finish_box_answerer is called or
// timeout_ms has passed. The caller owns the BoxAnswerer; script and
// transcript must stay valid until finish_box_answerer returns.
struct BoxAnswerer {
    HANDLE thread;
    HANDLE stop;
    const BoxScript* script;
    DWORD timeout_ms;
    BoxTranscript* transcript;
};
// false when the thread could not be started (transcript->error says why).
bool start_box_answerer(BoxAnswerer* answerer, const BoxScript* script,
                        DWORD timeout_ms, BoxTranscript* transcript);
// Stops the answerer and waits for it; closes its handles. Call it once the
// code under test has returned (no box of this process is showing any more).
// Returns transcript->outcome.
BoxRunOutcome finish_box_answerer(BoxAnswerer* answerer);
