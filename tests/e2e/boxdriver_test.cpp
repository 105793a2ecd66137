// The box driver against boxes whose every property is known: MessageBoxA in
// this process (answered from a second thread) and boxshow.exe.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/e2e/box_text.h"
#include "tests/e2e/e2e_support.h"

namespace {

constexpr DWORD TIMEOUT_MS = 30000;

std::string boxshow() { return windows_path(E2E_BOXSHOW_EXE); }

BoxScript script_of(const char* words) {
    BoxScript script;
    EXPECT_TRUE(parse_box_script(words, &script)) << words;
    return script;
}

TEST(BoxScriptTest, ParsesAnswerWords) {
    struct Case {
        const char* words;
        bool valid;
        int count;
        int first;
        int last;
    };
    const Case cases[] = {
        {"", true, 0, 0, 0},
        {"yes", true, 1, IDYES, IDYES},
        {"YES,No,ok", true, 3, IDYES, IDOK},
        {"cancel,retry,ignore,abort", true, 4, IDCANCEL, IDABORT},
        {"Close,no", true, 2, IDCLOSE, IDNO},
        {"yes,Refuse", true, 2, IDYES, BOX_REFUSE},
        {"refuse,ok", false, 0, 0, 0},
        {"yes,,no", false, 0, 0, 0},
        {"yes,", false, 0, 0, 0},
        {",yes", false, 0, 0, 0},
        {"maybe", false, 0, 0, 0},
        {"yesno", false, 0, 0, 0},
        {"ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok", true, 16, IDOK, IDOK},
        {"ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok,ok", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        BoxScript script;
        ASSERT_EQ(c.valid, parse_box_script(c.words, &script));
        if (!c.valid) continue;
        ASSERT_EQ(c.count, script.count);
        if (c.count == 0) continue;
        EXPECT_EQ(c.first, script.answers[0]);
        EXPECT_EQ(c.last, script.answers[c.count - 1]);
    }
}

// In this process the icon handles are the standard ones, so every icon is
// named exactly, and the answer comes back as MessageBoxA's result.
TEST(BoxDriverTest, ReadsAndAnswersBoxesOfThisProcess) {
    struct Case {
        UINT style;
        const char* answer;
        int result;
        unsigned buttons;
        BoxIcon icon;
    };
    const Case cases[] = {
        {MB_OK, "ok", IDOK, BOX_BUTTON_OK, BOX_ICON_NONE},
        {MB_YESNO | MB_ICONINFORMATION, "no", IDNO, BOX_BUTTON_YES | BOX_BUTTON_NO,
         BOX_ICON_INFORMATION},
        {MB_YESNO | MB_ICONINFORMATION, "yes", IDYES, BOX_BUTTON_YES | BOX_BUTTON_NO,
         BOX_ICON_INFORMATION},
        {MB_OKCANCEL | MB_ICONWARNING, "cancel", IDCANCEL, BOX_BUTTON_OK | BOX_BUTTON_CANCEL,
         BOX_ICON_WARNING},
        {MB_YESNOCANCEL | MB_ICONQUESTION, "yes", IDYES,
         BOX_BUTTON_YES | BOX_BUTTON_NO | BOX_BUTTON_CANCEL, BOX_ICON_QUESTION},
        {MB_ABORTRETRYIGNORE | MB_ICONERROR, "retry", IDRETRY,
         BOX_BUTTON_ABORT | BOX_BUTTON_RETRY | BOX_BUTTON_IGNORE, BOX_ICON_ERROR},
        // Closed rather than answered: Wine returns IDCANCEL even without
        // a Cancel button.
        {MB_YESNO | MB_ICONINFORMATION, "close", IDCANCEL, BOX_BUTTON_YES | BOX_BUTTON_NO,
         BOX_ICON_INFORMATION},
    };
    // Double-byte characters with the trail byte 0x5C (ソ 83 5C, 表 95 5C)
    // and both kinds of line break must come back byte for byte.
    const char* caption = "ソフト 表示";
    const char* text = "一行目\nソ表\r\n\r\n~\\end";
    for (const Case& c : cases) {
        SCOPED_TRACE("style " + std::to_string(c.style) + ", answer " + c.answer);
        BoxScript script = script_of(c.answer);
        BoxTranscript transcript;
        BoxAnswerer answerer;
        ASSERT_TRUE(start_box_answerer(&answerer, &script, TIMEOUT_MS, &transcript));
        int result = MessageBoxA(nullptr, text, caption, c.style);
        EXPECT_EQ(BOX_RUN_COMPLETED, finish_box_answerer(&answerer)) << transcript.error;
        EXPECT_EQ(c.result, result);
        ASSERT_EQ(1, transcript.box_count);
        EXPECT_EQ(0, transcript.unexpected_count);
        const BoxInfo& box = transcript.boxes[0];
        EXPECT_PRED_FORMAT2(box_text_is, box.caption, caption);
        EXPECT_PRED_FORMAT2(box_text_is, box.text, text);
        EXPECT_FALSE(box.truncated);
        EXPECT_EQ(c.buttons, box.buttons);
        EXPECT_EQ(c.icon, box.icon) << box_icon_name(box.icon);
        EXPECT_EQ(box_answer_from_name(c.answer), box.answer);
    }
}

TEST(BoxDriverTest, TextLongerThanTheBufferIsCutAndFlagged) {
    std::string text(BOX_TEXT_UNITS + 100, 'x');
    BoxScript script = script_of("ok");
    BoxTranscript transcript;
    BoxAnswerer answerer;
    ASSERT_TRUE(start_box_answerer(&answerer, &script, TIMEOUT_MS, &transcript));
    MessageBoxA(nullptr, text.c_str(), "long", MB_OK);
    finish_box_answerer(&answerer);
    ASSERT_EQ(1, transcript.box_count);
    EXPECT_TRUE(transcript.boxes[0].truncated);
    EXPECT_EQ(BOX_TEXT_UNITS - 1, wcslen(transcript.boxes[0].text));
    EXPECT_PRED_FORMAT2(box_text_is, transcript.boxes[0].caption, "long");
}

// Past the script, and where the script names a button that the box lacks,
// the box gets its most cautious button and counts as unexpected.
TEST(BoxDriverTest, BoxesOutsideTheScriptGetTheCautiousAnswer) {
    struct Case {
        const char* answers;
        int expected_answer;
        int unexpected;
    };
    const Case cases[] = {
        {"", IDNO, 1},     // no script at all
        {"yes", IDYES, 0}, // scripted
        {"ok", IDNO, 1},   // a YES/NO box has no OK button
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("script \"") + c.answers + "\"");
        BoxScript script = script_of(c.answers);
        BoxTranscript transcript;
        BoxAnswerer answerer;
        ASSERT_TRUE(start_box_answerer(&answerer, &script, TIMEOUT_MS, &transcript));
        int result = MessageBoxA(nullptr, "question", "caption", MB_YESNO);
        finish_box_answerer(&answerer);
        EXPECT_EQ(c.expected_answer, result);
        EXPECT_EQ(c.unexpected, transcript.unexpected_count);
        ASSERT_EQ(1, transcript.box_count);
        EXPECT_EQ(c.expected_answer, transcript.boxes[0].answer);
    }
}

// Another process's icons are named through the probe DLL; the exit code is
// the program's own (boxshow returns the last button pressed).
TEST(BoxDriverTest, DrivesAnotherProgramThroughAllItsBoxes) {
    BoxScript script = script_of("yes,ok");
    BoxTranscript transcript;
    std::string args = "0x44 \"キャプ ション\" \"本文\r\n二行目\" 0 \"last\" \"done\"";
    ASSERT_EQ(BOX_RUN_COMPLETED, run_with_boxes(boxshow().c_str(), args.c_str(), nullptr,
                                                &script, TIMEOUT_MS, &transcript))
        << transcript.error;
    EXPECT_EQ(static_cast<DWORD>(IDOK), transcript.exit_code);
    ASSERT_EQ(2, transcript.box_count);
    EXPECT_EQ(0, transcript.unexpected_count);
    EXPECT_PRED_FORMAT2(box_text_is, transcript.boxes[0].caption, "キャプ ション");
    EXPECT_PRED_FORMAT2(box_text_is, transcript.boxes[0].text, "本文\r\n二行目");
    EXPECT_EQ(BOX_BUTTON_YES | BOX_BUTTON_NO, transcript.boxes[0].buttons);
    EXPECT_EQ(BOX_ICON_INFORMATION, transcript.boxes[0].icon);
    EXPECT_PRED_FORMAT2(box_text_is, transcript.boxes[1].text, "done");
    EXPECT_EQ(BOX_BUTTON_OK, transcript.boxes[1].buttons);
    EXPECT_EQ(BOX_ICON_NONE, transcript.boxes[1].icon);
}

// A box that ends before it shows is never seen, but the program made it:
// the run says so rather than pass with one box fewer.
TEST(BoxDriverTest, BoxThatComesAndGoesUnseenFailsTheRun) {
    BoxScript script = script_of("ok");
    BoxTranscript transcript;
    EXPECT_EQ(BOX_RUN_BOX_UNSEEN, run_with_boxes(boxshow().c_str(), "0 seen one unseen gone two",
                                                 nullptr, &script, TIMEOUT_MS, &transcript))
        << transcript.error;
    EXPECT_EQ(1, transcript.box_count);
}

TEST(BoxDriverTest, NamesEveryStandardIconOfAnotherProgram) {
    BoxScript script = script_of("ok,ok,ok,ok,ok");
    BoxTranscript transcript;
    ASSERT_EQ(BOX_RUN_COMPLETED,
              run_with_boxes(boxshow().c_str(), "0x40 c i 0x30 c w 0x10 c e 0x20 c q 0 c n",
                             nullptr, &script, TIMEOUT_MS, &transcript))
        << transcript.error;
    const BoxIcon expected[] = {BOX_ICON_INFORMATION, BOX_ICON_WARNING, BOX_ICON_ERROR,
                                BOX_ICON_QUESTION, BOX_ICON_NONE};
    ASSERT_EQ(5, transcript.box_count);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(box_text_utf8(transcript.boxes[i].text));
        EXPECT_EQ(expected[i], transcript.boxes[i].icon) << box_icon_name(transcript.boxes[i].icon);
    }
}

TEST(BoxDriverTest, NeverTouchesAnotherProcessesBox) {
    RunningProgram bystander;
    ASSERT_TRUE(start_program(boxshow().c_str(), "0 bystander waiting", nullptr,
                              &bystander.process, &bystander.process_id));
    HWND waiting = wait_for_box(bystander.process_id, bystander.process, TIMEOUT_MS);
    ASSERT_NE(nullptr, waiting);

    BoxScript script = script_of("ok");
    BoxTranscript transcript;
    run_with_boxes(boxshow().c_str(), "0 driven box", nullptr, &script, TIMEOUT_MS, &transcript);
    ASSERT_EQ(1, transcript.box_count);
    EXPECT_PRED_FORMAT2(box_text_is, transcript.boxes[0].caption, "driven");
    EXPECT_EQ(waiting, find_box(bystander.process_id));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(bystander.process, 0));

    ASSERT_TRUE(answer_box(waiting, IDOK, TIMEOUT_MS));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(bystander.process, TIMEOUT_MS));
}

TEST(BoxDriverTest, EveryWaitIsBounded) {
    {
        SCOPED_TRACE("a program that never ends is killed at the deadline");
        BoxScript script = script_of("");
        BoxTranscript transcript;
        ULONGLONG start = GetTickCount64();
        // The game stand-in waits for a stop file that never comes.
        EXPECT_EQ(BOX_RUN_TIMED_OUT,
                  run_with_boxes(windows_path(E2E_GAME_STANDIN_EXE).c_str(),
                                 "--no-window --no-mutex --timeout-ms 60000 C:\\x\\velk.exe",
                                 nullptr, &script, 1500, &transcript));
        EXPECT_LT(GetTickCount64() - start, 10000u);
        EXPECT_NE(0u, transcript.exit_code);
        EXPECT_EQ(0, transcript.box_count);
    }
    {
        SCOPED_TRACE("a program that ends without a box ends the wait for one");
        HANDLE process = nullptr;
        DWORD process_id = 0;
        ASSERT_TRUE(start_program(boxshow().c_str(), nullptr, nullptr, &process, &process_id));
        ULONGLONG start = GetTickCount64();
        EXPECT_EQ(nullptr, wait_for_box(process_id, process, TIMEOUT_MS));
        EXPECT_LT(GetTickCount64() - start, 10000u);
        CloseHandle(process);
    }
    {
        SCOPED_TRACE("a program that does not exist");
        BoxScript script = script_of("");
        BoxTranscript transcript;
        EXPECT_EQ(BOX_RUN_START_FAILED,
                  run_with_boxes("Z:\\no\\such\\program.exe", nullptr, nullptr, &script,
                                 TIMEOUT_MS, &transcript));
        EXPECT_NE(nullptr, strstr(transcript.error, "program.exe"));
    }
}

}  // namespace
