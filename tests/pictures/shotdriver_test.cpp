// shotdriver.exe against boxshow.exe, whose boxes are known: every box is
// held until its picture is taken, described in its box file, answered as
// scripted; a file can be held readable but not writable; a run that nobody
// picks up ends at the timeout.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/box_text.h"
#include "tests/e2e/e2e_support.h"

namespace {

constexpr DWORD RUN_TIMEOUT_MS = 30000;
constexpr DWORD FILE_WAIT_MS = 20000;

std::string shotdriver() { return windows_path(SHOTDRIVER_EXE); }
std::string boxshow() { return windows_path(BOXSHOW_EXE); }

// The units that a sync file gives as hex of UTF-16LE bytes ("a830e930...");
// stops at the first group that is not hex.
std::wstring unhex_units(const std::string& digits) {
    std::wstring out;
    for (size_t i = 0; i + 3 < digits.size(); i += 4) {
        unsigned low = 0;
        unsigned high = 0;
        if (sscanf(digits.substr(i, 2).c_str(), "%2x", &low) != 1 ||
            sscanf(digits.substr(i + 2, 2).c_str(), "%2x", &high) != 1)
            break;
        out += static_cast<wchar_t>(low | high << 8);
    }
    return out;
}

bool wait_for_file(const std::string& path, DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (!path_exists(path)) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
    return true;
}

// The whole of a sync file, read in one open once its name is there and its
// writer has let go of it. The driver publishes each file complete by
// renaming it into place, but the rename holds the file open for a moment
// after the name appears: seen under Wine on a busy machine, fopen then
// failed with ERROR_SHARING_VIOLATION, and a box file read field by field
// gave an empty caption beside the right text. The wait is for an open that
// succeeds.
std::string read_sync_file(const std::string& path) {
    const ULONGLONG deadline = GetTickCount64() + FILE_WAIT_MS;
    FILE* in;
    while ((in = fopen(path.c_str(), "rb")) == nullptr) {
        if (GetTickCount64() >= deadline) {
            ADD_FAILURE() << "cannot open " << path;
            return "";
        }
        Sleep(20);
    }
    std::string content;
    char block[4096];
    size_t n;
    while ((n = fread(block, 1, sizeof block, in)) > 0) content.append(block, n);
    fclose(in);
    return content;
}

// The lines of a sync file's content, without their line breaks.
std::vector<std::string> lines_of(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The value of the line "key value", or "" when absent.
std::string field(const std::string& content, const std::string& key) {
    for (const std::string& line : lines_of(content)) {
        if (line.compare(0, key.size() + 1, key + " ") == 0) return line.substr(key.size() + 1);
    }
    return "";
}

// The whole first line.
std::string first_line(const std::string& content) {
    const std::vector<std::string> lines = lines_of(content);
    return lines.empty() ? "" : lines[0];
}

void touch(const std::string& path) {
    FILE* out = fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr) << path;
    fclose(out);
}

class ShotdriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        work_ = join_path(windows_path(SHOTDRIVER_WORK_DIR), info->name());
        remove_tree(work_);
        ASSERT_TRUE(make_directories(work_));
        sync_ = join_path(work_, "sync");
        ASSERT_TRUE(make_directories(sync_));
    }

    void TearDown() override {
        if (process_ != nullptr) {
            if (WaitForSingleObject(process_, RUN_TIMEOUT_MS) != WAIT_OBJECT_0)
                TerminateProcess(process_, 1);
            CloseHandle(process_);
        }
        remove_tree(work_);
    }

    // Starts shotdriver with options, then boxshow with its box arguments.
    void start(const std::string& options, const std::string& boxes) {
        const std::string args = "--sync \"" + sync_ + "\" " + options + " -- \"" + boxshow() +
                                 "\" " + boxes;
        DWORD id = 0;
        ASSERT_TRUE(start_program(shotdriver().c_str(), args.c_str(), nullptr, &process_, &id));
    }

    DWORD finish() {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process_, RUN_TIMEOUT_MS));
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return code;
    }

    std::string box_file(int n) { return join_path(sync_, "box-" + std::to_string(n) + ".txt"); }
    std::string shot_file(int n) { return join_path(sync_, "shot-" + std::to_string(n)); }
    std::string done_file() { return join_path(sync_, "done"); }

    std::string work_;
    std::string sync_;
    HANDLE process_ = nullptr;
};

TEST_F(ShotdriverTest, HoldsEachBoxUntilItsPictureIsTakenThenAnswersAsScripted) {
    // A plain box, then a Yes/No question under a caption with a space.
    start("--answers ok,no", "0 エラー 一つ目 0x44 \"ナギサ アップデート\" 二つ目");
    struct Expected {
        const char* caption;
        const char* text;
    };
    const Expected boxes[] = {{"エラー", "一つ目"}, {"ナギサ アップデート", "二つ目"}};
    for (int n = 1; n <= 2; ++n) {
        SCOPED_TRACE("box " + std::to_string(n));
        ASSERT_TRUE(wait_for_file(box_file(n), FILE_WAIT_MS));
        const std::string box = read_sync_file(box_file(n));
        const std::wstring caption = unhex_units(field(box, "caption-utf16le"));
        const std::wstring text = unhex_units(field(box, "text-utf16le"));
        EXPECT_PRED_FORMAT2(box_text_is, caption.c_str(), boxes[n - 1].caption);
        EXPECT_PRED_FORMAT2(box_text_is, text.c_str(), boxes[n - 1].text);
        long left = 0, top = 0, right = 0, bottom = 0;
        ASSERT_EQ(4, sscanf(field(box, "rect").c_str(), "%ld %ld %ld %ld", &left, &top,
                            &right, &bottom));
        EXPECT_LT(left, right);
        EXPECT_LT(top, bottom);
        // Without its shot file the box stays: nothing moves on.
        Sleep(500);
        EXPECT_FALSE(path_exists(box_file(n + 1)));
        EXPECT_FALSE(path_exists(done_file()));
        touch(shot_file(n));
    }
    EXPECT_EQ(0u, finish());
    // boxshow exits with the button of its last box: No.
    EXPECT_EQ("exit 7", first_line(read_sync_file(done_file())));
}

TEST_F(ShotdriverTest, HeldFileCanBeReadButNotOpenedForWritingWhileTheProgramRuns) {
    const std::string held = join_path(work_, "archive.ovp");
    const char content[] = "archive";
    ASSERT_TRUE(write_bytes(held, content, sizeof content));
    start("--hold-shared \"" + held + "\"", "0 held waiting");
    ASSERT_TRUE(wait_for_file(box_file(1), FILE_WAIT_MS));

    FILE* reader = fopen(held.c_str(), "rb");
    EXPECT_NE(reader, nullptr) << "reading is shared";
    if (reader != nullptr) fclose(reader);
    for (const char* mode : {"r+b", "wb", "ab"}) {
        SCOPED_TRACE(mode);
        FILE* writer = fopen(held.c_str(), mode);
        EXPECT_EQ(writer, nullptr) << "writing is not shared";
        if (writer != nullptr) fclose(writer);
    }

    touch(shot_file(1));
    EXPECT_EQ(0u, finish());
    EXPECT_EQ(static_cast<int64_t>(sizeof content), file_size(held)) << "the file is untouched";
    FILE* writer = fopen(held.c_str(), "r+b");
    EXPECT_NE(writer, nullptr) << "the hold ends with the run";
    if (writer != nullptr) fclose(writer);
}

TEST_F(ShotdriverTest, BoxThatIsNeverPicturedEndsTheRunAtTheTimeout) {
    start("--timeout-ms 1500", "0 unpictured waiting");
    ASSERT_TRUE(wait_for_file(box_file(1), FILE_WAIT_MS));
    EXPECT_EQ(2u, finish());
    EXPECT_EQ("timeout", first_line(read_sync_file(done_file())));
}

}  // namespace
