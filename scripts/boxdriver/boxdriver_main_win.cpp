// boxdriver.exe: runs a program, answers its message boxes from a script and
// writes a transcript of every box to a file.
//
//   boxdriver.exe --transcript FILE [--cwd DIR] [--answers yes,no,ok,close]
//                 [--timeout-ms N] [--] PROGRAM [ARGS...]
//
// The transcript goes to a file rather than to stdout: under Wine a helper
// process that Wine starts for the first window inherits stdout and would
// keep a reader's pipe open long after the run. One line per field; caption
// and text are hex of the UTF-16LE bytes that the box holds (what it draws),
// so that every unit shows as it is, garbage drawn in a wrong code page
// included, and a script decodes them exactly (Python:
// bytes.fromhex(HEX).decode("utf-16-le")):
//
//   outcome completed|start-failed|timed-out|box-stuck|box-unseen
//   error <text, may be empty>
//   exit <the program's exit code>
//   boxes <number of boxes seen>
//   unexpected <boxes past the script or without the scripted button>
//   box <n>             (then, for each recorded box:)
//   caption-utf16le <hex>
//   text-utf16le <hex>
//   buttons OK|YES,NO|...
//   icon none|information|warning|error|question|other|unidentified
//   answer IDOK|IDYES|IDNO|...
//
// Exit code: 0 when the program ended by itself, 2 otherwise, 64 on a usage
// error.
#include "scripts/boxdriver/boxdriver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr DWORD DEFAULT_TIMEOUT_MS = 120000;

int usage(const char* why) {
    fprintf(stderr,
            "boxdriver: %s\nusage: boxdriver.exe --transcript FILE [--cwd DIR] "
            "[--answers yes,no,ok,close] [--timeout-ms N] PROGRAM [ARGS...]\n",
            why);
    return 64;
}

const char* outcome_name(BoxRunOutcome outcome) {
    switch (outcome) {
    case BOX_RUN_COMPLETED: return "completed";
    case BOX_RUN_START_FAILED: return "start-failed";
    case BOX_RUN_TIMED_OUT: return "timed-out";
    case BOX_RUN_BOX_STUCK: return "box-stuck";
    case BOX_RUN_BOX_UNSEEN: return "box-unseen";
    }
    return "unknown";
}

// Quotes an argument for the child's command line the way the C runtime
// splits it again (backslashes before a quote doubled).
void append_argument(std::string* line, const char* arg) {
    if (!line->empty()) *line += ' ';
    if (arg[0] && !strpbrk(arg, " \t\"")) {
        *line += arg;
        return;
    }
    *line += '"';
    size_t backslashes = 0;
    for (const char* p = arg; *p; ++p) {
        if (*p == '\\') {
            ++backslashes;
        } else if (*p == '"') {
            line->append(backslashes + 1, '\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        *line += *p;
    }
    line->append(backslashes, '\\');
    *line += '"';
}

bool write_transcript(const char* path, const BoxTranscript& transcript) {
    FILE* out = fopen(path, "wb");
    if (!out) return false;
    fprintf(out, "outcome %s\n", outcome_name(transcript.outcome));
    fprintf(out, "error %s\n", transcript.error);
    fprintf(out, "exit %lu\n", static_cast<unsigned long>(transcript.exit_code));
    fprintf(out, "boxes %d\n", transcript.box_count);
    fprintf(out, "unexpected %d\n", transcript.unexpected_count);
    int recorded = transcript.box_count < BOX_TRANSCRIPT_MAX ? transcript.box_count
                                                             : BOX_TRANSCRIPT_MAX;
    for (int i = 0; i < recorded; ++i) {
        const BoxInfo& box = transcript.boxes[i];
        char buttons[64];
        box_buttons_name(box.buttons, buttons, sizeof buttons);
        fprintf(out, "box %d\ncaption-utf16le %s\ntext-utf16le %s\n", i + 1,
                box_text_hex(box.caption).c_str(), box_text_hex(box.text).c_str());
        fprintf(out, "buttons %s\nicon %s\nanswer %s\n", buttons, box_icon_name(box.icon),
                box_answer_name(box.answer));
    }
    return fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* transcript_path = nullptr;
    const char* cwd = nullptr;
    const char* answers = "";
    DWORD timeout_ms = DEFAULT_TIMEOUT_MS;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
        if (strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (i + 1 >= argc) return usage("an option lacks its value");
        if (strcmp(argv[i], "--transcript") == 0) {
            transcript_path = argv[++i];
        } else if (strcmp(argv[i], "--cwd") == 0) {
            cwd = argv[++i];
        } else if (strcmp(argv[i], "--answers") == 0) {
            answers = argv[++i];
        } else if (strcmp(argv[i], "--timeout-ms") == 0) {
            timeout_ms = static_cast<DWORD>(strtoul(argv[++i], nullptr, 10));
        } else {
            return usage("unknown option");
        }
    }
    if (!transcript_path) return usage("--transcript is required");
    if (i >= argc) return usage("no program given");
    BoxScript script;
    if (!parse_box_script(answers, &script)) return usage("bad --answers");

    const char* program = argv[i++];
    std::string args;
    for (; i < argc; ++i) append_argument(&args, argv[i]);

    static BoxTranscript transcript;
    run_with_boxes(program, args.c_str(), cwd, &script, timeout_ms, &transcript);
    if (!write_transcript(transcript_path, transcript)) {
        fprintf(stderr, "boxdriver: cannot write %s\n", transcript_path);
        return 2;
    }
    return transcript.outcome == BOX_RUN_COMPLETED ? 0 : 2;
}
