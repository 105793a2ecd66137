// The real Updater.exe, run under Wine against demo installations built in
// the build tree, its message boxes read and answered by the box driver. This
// source is built in the x86_64 and in the i686 build, and each program drives
// the Updater.exe of its own build: the i686 one is the program that ships.
//
// All of these tests share the registry key HKCU\Software\Tessaly\velkin and
// the updater's own mutex name, so they live in this one program and never
// run side by side. Every run is expected to end with exit code 0.
//
// Every box is expected by its row in the program's own table of boxes: its
// caption and text as the program formats them, its buttons and icon. The
// independent account of every row (its text, caption, title, buttons and
// icon, written apart from the table) is the decode check's ROWS
// (tests/messages), which catches a wrong row; this program checks that each
// situation brings the right row, and that every row is brought about by
// some scenario here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "updater/updater.h"

#include <tlhelp32.h>

namespace {

// ---- What the updater is expected to show: rows of its table of boxes ----

constexpr uint64_t SIZE_PATCH_MISSING = ARCHIVE_SIZE_PATCH_MISSING;
constexpr uint64_t SIZE_V100 = ARCHIVE_SIZE_V100;
constexpr uint64_t SIZE_V101 = ARCHIVE_SIZE_V101;
constexpr uint64_t UPDATE_LENGTH = UPDATE_HEAD_LENGTH;
constexpr uint64_t REPLACED_LENGTH = REPLACED_HEAD_LENGTH;
constexpr uint64_t KEPT_LENGTH = KEPT_TAIL_LENGTH;

// The rows that some scenario here has seen shown as expected.
bool g_row_shown[BOX_COUNT];

// A box expected by its row; path, for the box that names the rescued copy,
// in code page path_code_page (the updater's, when it runs in another
// locale). A bare row id stands for its box, so the tables of cases list ids.
struct Row {
    Row(BoxId row_id) : id(row_id) {}
    Row(BoxId row_id, std::string copy_path, UINT code_page = 932)
        : id(row_id), path(std::move(copy_path)), path_code_page(code_page) {}
    BoxId id;
    std::string path;
    UINT path_code_page = 932;
};

// A row's box as the program formats it, for an ExpectedBox to point into.
struct FormattedRow {
    char text[MESSAGE_BUFFER_BYTES];
    char caption[MESSAGE_BUFFER_BYTES];
    wchar_t drawn[MESSAGE_BUFFER_BYTES];  // every byte gives one unit at most
};

// Appends length bytes of code page code_page to drawn, at *used units.
void append_drawn(FormattedRow* out, size_t* used, const char* bytes, size_t length,
                  UINT code_page) {
    if (length == 0) return;
    const int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes,
                                      static_cast<int>(length), out->drawn + *used,
                                      static_cast<int>(MESSAGE_BUFFER_BYTES - 1 - *used));
    EXPECT_LT(0, n) << "not text of code page " << code_page << ": " << hex_bytes(bytes);
    *used += n > 0 ? static_cast<size_t>(n) : 0;
}

ExpectedBox format_row(const Row& row, FormattedRow* out) {
    const BoxRow& r = BOXES[row.id];
    BoxPathSpan span = {0, 0};
    EXPECT_TRUE(format_box(row.id, row.path.empty() ? nullptr : row.path.c_str(), out->text,
                           out->caption, &span))
        << r.name;
    ExpectedBox expected = {
        out->caption, out->text,
        r.buttons == BOX_STYLE_YES_NO ? BOX_BUTTON_YES | BOX_BUTTON_NO : BOX_BUTTON_OK,
        r.icon == BOX_STYLE_INFORMATION ? BOX_ICON_INFORMATION : BOX_ICON_NONE};
    if (row.path_code_page != 932) {
        // The program's text from 932 around the path from its own page.
        size_t used = 0;
        append_drawn(out, &used, out->text, span.at, 932);
        append_drawn(out, &used, out->text + span.at, span.length, row.path_code_page);
        append_drawn(out, &used, out->text + span.at + span.length,
                     strlen(out->text + span.at + span.length), 932);
        out->drawn[used] = L'\0';
        expected.text_drawn = out->drawn;
    }
    return expected;
}

// The failures the running test has recorded so far.
int failures_so_far() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

void expect_row(const BoxInfo& seen, const Row& row) {
    SCOPED_TRACE(BOXES[row.id].name);
    FormattedRow formatted;
    const int failures = failures_so_far();
    expect_box(seen, format_row(row, &formatted));
    if (failures_so_far() == failures) g_row_shown[row.id] = true;
}

// The run ended by itself with exit code 0 after exactly these boxes.
void expect_rows(const BoxTranscript& transcript, const std::vector<Row>& rows) {
    std::vector<FormattedRow> formatted(rows.size());
    std::vector<ExpectedBox> expected;
    std::string names;
    for (size_t i = 0; i < rows.size(); ++i) {
        expected.push_back(format_row(rows[i], &formatted[i]));
        names += std::string(i > 0 ? ", " : "") + BOXES[rows[i].id].name;
    }
    SCOPED_TRACE(names);
    const int failures = failures_so_far();
    expect_boxes(transcript, expected);
    if (failures_so_far() == failures) {
        for (const Row& row : rows) g_row_shown[row.id] = true;
    }
}

// Once every test has run, every row of the table must have been shown by
// some scenario: a new box without one fails here, by its name. A run of
// some tests only (a filter) proves nothing either way.
class EveryRowIsShown : public ::testing::Environment {
public:
    void TearDown() override {
        if (::testing::GTEST_FLAG(filter) != "*") return;
        for (const BoxRow& row : BOXES) {
#if !defined(E2E_UPDATER_IS_32BIT)
            // Only a 32-bit address space can be left without room for the
            // archive's block (NoRoomForTheArchiveInTheAddressSpace...).
            if (row.id == BOX_OUT_OF_MEMORY) continue;
#endif
            EXPECT_TRUE(g_row_shown[row.id])
                << "no scenario shows " << row.name << ": add a TEST that brings it about to "
                << "tests/e2e/updater_e2e_test.cpp, then run: cmake --build --preset win64 "
                << "&& ctest --preset win64 -R e2e_updater_tests";
        }
    }
};
::testing::Environment* const g_every_row_is_shown =
    ::testing::AddGlobalTestEnvironment(new EveryRowIsShown);

// Streams of generated content: the installed archive and the update data.
constexpr uint64_t ARCHIVE_SEED = 100;
constexpr uint64_t UPDATE_SEED = 101;

// A run that waits for no archive work; the full update moves 1.2 GB.
constexpr DWORD RUN_TIMEOUT_MS = 60000;
constexpr DWORD SPLICE_RUN_TIMEOUT_MS = 300000;

std::string build_path(const char* unix_path) { return windows_path(unix_path); }

// English (United States): a system whose ANSI code page is 1252.
constexpr char LOCALE_EN_US[] = "en_US.UTF-8";

// Runs program in dir (a Unix path, which may name what the test's own code
// page cannot) like run_with_boxes, started in the Unix locale named, whose
// ANSI code page Wine then gives it. With the Unix helpers below.
void run_in_locale(const char* locale, const std::string& program, const std::string& dir_unix,
                   const BoxScript& script, DWORD timeout_ms, BoxTranscript* transcript);
std::string unix_path(const std::string& path);

// The program under test: this build's Updater.exe, or the file named by
// E2E_UPDATER_UNDER_TEST (a Unix path), such as the same program signed.
std::string updater_exe() {
    char path[MAX_PATH + 1];
    const DWORD n = GetEnvironmentVariableA("E2E_UPDATER_UNDER_TEST", path, sizeof path);
    if (n > 0 && n < sizeof path) return windows_path(path);
    return build_path(E2E_UPDATER_EXE);
}

// ---- The fixture: one scratch folder per test, the registry key removed ----

// Members are public so that the tables of set-up steps below can reach them.
class UpdaterE2e : public ::testing::Test {
public:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        root_ = join_path(build_path(E2E_WORK_DIR), name);
        reset();
    }

    void TearDown() override {
        remove_installation_key();
        remove_tree(root_);
    }

    // A clean slate inside one test (for table-driven tests).
    void reset() {
        remove_installation_key();
        remove_tree(root_);
        inst_ = join_path(root_, "inst");
        work_ = join_path(root_, "work");
        ASSERT_TRUE(make_directories(work_)) << work_;
    }

    std::string archive_path() const { return join_path(inst_, ARCHIVE_RELATIVE_PATH); }
    std::string update_data_path() const { return join_path(work_, UPDATE_DATA_FILE); }

    // A complete installation whose archive is sparse with marks, registered
    // in the registry with a trailing backslash.
    void install(uint64_t archive_size) {
        ASSERT_TRUE(make_directories(join_path(inst_, MARKER_PAC_DIR)));
        ASSERT_TRUE(write_bytes(join_path(inst_, MARKER_INSTALL_INI), "[install]\r\n", 11));
        ASSERT_TRUE(write_marked_sparse_file(archive_path(), ARCHIVE_SEED, archive_size));
        ASSERT_TRUE(set_dir_string(inst_ + "\\"));
    }

    void put_update_data(uint64_t size) {
        ASSERT_TRUE(write_generated_file(update_data_path(), UPDATE_SEED, size));
    }

    void expect_archive_untouched(uint64_t size) {
        EXPECT_TRUE(marked_sparse_file_intact(archive_path(), ARCHIVE_SEED, size))
            << "the archive of " << size << " bytes was changed";
    }

    const BoxTranscript& run(const char* answers, const char* args = nullptr,
                             const std::string& cwd = std::string(),
                             const std::string& program = std::string(),
                             DWORD timeout_ms = RUN_TIMEOUT_MS, const char* locale = nullptr) {
        BoxScript script;
        EXPECT_TRUE(parse_box_script(answers, &script)) << answers;
        std::string exe = program.empty() ? updater_exe() : program;
        std::string dir = cwd.empty() ? work_ : cwd;
        if (locale != nullptr) {
            EXPECT_EQ(nullptr, args) << "no arguments in another locale";
            run_in_locale(locale, exe, unix_path(dir), script, timeout_ms, &transcript_);
        } else {
            run_with_boxes(exe.c_str(), args, dir.c_str(), &script, timeout_ms, &transcript_);
        }
        return transcript_;
    }

    std::string root_;
    std::string inst_;
    std::string work_;
    BoxTranscript transcript_;
};

// ---- Stage 1: the installation record and the three markers ----

TEST_F(UpdaterE2e, InstallationLookupReportsWhatIsMissingInOneBox) {
    enum Record { NO_KEY, KEY_ONLY, VALUE_TOO_LONG, PREFIX, PREFIX_WITHOUT_BACKSLASH };
    struct Case {
        const char* name;
        Record record;
        bool installed;
        const char* removed[2];  // relative to the installation folder
        const char* as_folder;   // made a folder instead of what it was
        BoxId expected;
    };
    const Case cases[] = {
        {"no key", NO_KEY, true, {}, nullptr, BOX_NOT_INSTALLED_NO1},
        {"key without Dir", KEY_ONLY, true, {}, nullptr, BOX_NOT_INSTALLED_NO2},
        {"Dir of 300 bytes", VALUE_TOO_LONG, true, {}, nullptr, BOX_NOT_INSTALLED_NO2},
        {"registered folder does not exist", PREFIX, false, {}, nullptr, BOX_NOT_INSTALLED_NO3},
        {"inst.ini missing", PREFIX, true, {MARKER_INSTALL_INI}, nullptr, BOX_NOT_INSTALLED_NO3},
        {"archive missing", PREFIX, true, {ARCHIVE_RELATIVE_PATH}, nullptr, BOX_NOT_INSTALLED_NO3},
        {"pac and with it the archive missing", PREFIX, true, {MARKER_PAC_DIR}, nullptr, BOX_NOT_INSTALLED_NO3},
        {"inst.ini and archive missing", PREFIX, true, {MARKER_INSTALL_INI, ARCHIVE_RELATIVE_PATH},
         nullptr, BOX_NOT_INSTALLED_NO3},
        // The prefix is used verbatim: without the backslash the markers are
        // looked for beside the folder (...\instinst.ini), not in it.
        {"Dir without trailing backslash", PREFIX_WITHOUT_BACKSLASH, true, {}, nullptr, BOX_NOT_INSTALLED_NO3},
        // Only existence counts: a folder named inst.ini is a marker too.
        {"inst.ini is a folder", PREFIX, true, {}, MARKER_INSTALL_INI, BOX_PATCH_MISSING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        put_update_data(UPDATE_LENGTH);
        if (c.installed) install(SIZE_PATCH_MISSING);
        for (const char* name : c.removed) {
            if (name) remove_tree(join_path(inst_, name));
        }
        if (c.as_folder) {
            remove_tree(join_path(inst_, c.as_folder));
            ASSERT_TRUE(make_directories(join_path(inst_, c.as_folder)));
        }
        remove_installation_key();
        switch (c.record) {
        case NO_KEY: break;
        case KEY_ONLY: ASSERT_TRUE(create_installation_key()); break;
        case VALUE_TOO_LONG:
            ASSERT_TRUE(set_dir_string("C:\\" + std::string(296, 'a') + "\\"));
            break;
        case PREFIX: ASSERT_TRUE(set_dir_string(inst_ + "\\")); break;
        case PREFIX_WITHOUT_BACKSLASH: ASSERT_TRUE(set_dir_string(inst_)); break;
        }
        expect_rows(run("ok"), {c.expected});
    }
}

// A prefix of exactly 260 bytes is accepted, one of 261 is not, whether the
// value holds its terminator or not. Double-byte folder names keep the
// 260-byte prefix under the platform's 260-character path limit, so that the
// installation under it is found and the run goes past stage 1.
TEST_F(UpdaterE2e, DirValueOf260BytesIsTakenAnd261Refused) {
    std::string base = join_path(root_, "long") + "\\";
    // base, then folders of up to 40 double-byte characters (0x83 0x41),
    // then the trailing backslash: length bytes in all.
    auto prefix_of = [&base](size_t length) {
        constexpr size_t WIDE_PER_FOLDER = 40;
        std::string prefix = base;
        size_t room = length - base.size() - 1;
        while (room > 0) {
            size_t folder = room <= 2 * WIDE_PER_FOLDER + 1 ? room : 2 * WIDE_PER_FOLDER;
            for (size_t i = 0; i < folder / 2; ++i) prefix += "ア";
            if (folder % 2) prefix += "x";
            room -= folder;
            if (room > 0) {
                prefix += "\\";
                --room;
            }
        }
        return prefix + "\\";
    };
    struct Case {
        size_t length;
        bool terminated;
        BoxId expected;
    };
    const Case cases[] = {
        {260, true, BOX_PATCH_MISSING},
        {260, false, BOX_PATCH_MISSING},
        {261, true, BOX_NOT_INSTALLED_NO2},
        {261, false, BOX_NOT_INSTALLED_NO2},
    };
    for (const Case& c : cases) {
        std::string prefix = prefix_of(c.length);
        SCOPED_TRACE(std::to_string(c.length) + (c.terminated ? " bytes and NUL" : " bytes, no NUL") +
                     ": " + hex_bytes(prefix.c_str()));
        ASSERT_EQ(c.length, prefix.size());
        reset();
        put_update_data(UPDATE_LENGTH);
        // The same complete installation under either prefix, so that only
        // the value's length can refuse it.
        inst_ = prefix.substr(0, prefix.size() - 1);
        install(SIZE_PATCH_MISSING);
        if (c.terminated) {
            ASSERT_TRUE(set_dir_string(prefix));
        } else {
            ASSERT_TRUE(set_dir_value(prefix.data(), static_cast<DWORD>(prefix.size()),
                                      REG_BINARY));
        }
        expect_rows(run("ok"), {c.expected});
    }
}

// ---- The entry: the single-instance guard and the command line ----

TEST_F(UpdaterE2e, SecondCopyLeavesSilentlyWhileFirstShowsABox) {
    install(SIZE_V100);
    put_update_data(UPDATE_LENGTH);
    std::string exe = updater_exe();

    RunningProgram first;
    ASSERT_TRUE(start_program(exe.c_str(), nullptr, work_.c_str(), &first.process,
                              &first.process_id));
    HWND question = wait_for_box(first.process_id, first.process, RUN_TIMEOUT_MS);
    ASSERT_NE(nullptr, question);

    // The second copy ends at once with 0 and shows nothing.
    ULONGLONG start = GetTickCount64();
    const BoxTranscript& second = run("");
    EXPECT_LT(GetTickCount64() - start, 10000u) << "the second copy waited";
    EXPECT_EQ(BOX_RUN_COMPLETED, second.outcome) << second.error;
    EXPECT_EQ(0, second.box_count);
    EXPECT_EQ(0u, second.exit_code);
    EXPECT_EQ(question, find_box(first.process_id)) << "the first copy's box went away";

    // The first copy goes on undisturbed: its question, No, the cancellation.
    BoxInfo seen;
    ASSERT_TRUE(read_box(question, &seen));
    expect_row(seen, BOX_CONFIRM_DETECTED);
    ASSERT_TRUE(answer_box(question, IDNO, RUN_TIMEOUT_MS));
    BoxScript ok;
    ASSERT_TRUE(parse_box_script("ok", &ok));
    drive_boxes(first.process, first.process_id, &ok, RUN_TIMEOUT_MS, &transcript_);
    expect_rows(transcript_, {BOX_CANCELLED});

    // Once the first copy has ended, a new one runs normally.
    expect_rows(run("no,ok"), {BOX_CONFIRM_DETECTED, BOX_CANCELLED});
    // So does one whose guard cannot be created at all: an event holds the
    // guard's name.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, GUARD_MUTEX_NAME);
    ASSERT_NE(nullptr, event);
    expect_rows(run("no,ok"), {BOX_CONFIRM_DETECTED, BOX_CANCELLED});
    CloseHandle(event);
    expect_archive_untouched(SIZE_V100);
}

TEST_F(UpdaterE2e, CommandLineArgumentsChangeNothing) {
    const char* argument_sets[] = {"/?", "--force update1.ovp", "\"C:\\Other Game\\\" /S", "-y -y -y"};
    for (const char* args : argument_sets) {
        SCOPED_TRACE(args);
        reset();
        expect_rows(run("ok", args), {BOX_NOT_INSTALLED_NO1});
        install(SIZE_V100);
        put_update_data(UPDATE_LENGTH);
        expect_rows(run("no,ok", args), {BOX_CONFIRM_DETECTED, BOX_CANCELLED});
        expect_archive_untouched(SIZE_V100);
    }
}

// ---- Stage 2: the running game ----

TEST_F(UpdaterE2e, RunningGameIsRecognisedByItsMutexAndWindow) {
    struct Case {
        const char* name;
        const char* folder;   // installation folder, below the test's root
        const char* options;  // for game_standin
        bool other_installation;
        BoxId expected;
    };
    const Case cases[] = {
        {"mutex and window", "inst", "", false, BOX_GAME_RUNNING},
        // The trail byte 0x5C of ソ (83 5C) stays in the instance name.
        {"mutex and window, folder with 83 5C", "ソフト", "", false, BOX_GAME_RUNNING},
        {"mutex and window, upper-case folder", "GAME Inst", "", false, BOX_GAME_RUNNING},
        // An event that holds the mutex's name makes the mutex open fail,
        // which counts as running.
        {"event of that name", "inst", "--event --no-window", false, BOX_GAME_RUNNING},
        {"mutex alone", "inst", "--no-window", false, BOX_PATCH_MISSING},
        {"window alone", "inst", "--no-mutex", false, BOX_PATCH_MISSING},
        {"game of another installation", "inst", "", true, BOX_PATCH_MISSING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        inst_ = join_path(root_, c.folder);
        install(SIZE_PATCH_MISSING);
        put_update_data(UPDATE_LENGTH);
        std::string game = join_path(inst_, GAME_EXE_NAME);
        if (c.other_installation) game = join_path(join_path(root_, "other"), GAME_EXE_NAME);
        Standin standin;
        ASSERT_TRUE(start_standin(build_path(E2E_GAME_STANDIN_EXE),
                                  std::string(c.options) + " \"" + game + "\"", root_, &standin));
        expect_rows(run("ok"), {c.expected});
        EXPECT_EQ(0, stop_standin(&standin));
    }
}

// ---- Stage 3: classification and dialogue ----

TEST_F(UpdaterE2e, ArchiveHeldOpenWithoutSharingIsReportedBusy) {
    install(SIZE_V100);
    Standin holder;
    ASSERT_TRUE(start_standin(build_path(E2E_FILE_HOLDER_EXE), "\"" + archive_path() + "\"",
                              root_, &holder));
    {
        SCOPED_TRACE("without update data: the archive is opened first");
        expect_rows(run("ok"), {BOX_ARCHIVE_BUSY});
    }
    {
        SCOPED_TRACE("with update data");
        put_update_data(UPDATE_LENGTH);
        expect_rows(run("ok"), {BOX_ARCHIVE_BUSY});
    }
    EXPECT_EQ(0, stop_standin(&holder));
    expect_archive_untouched(SIZE_V100);
}

TEST_F(UpdaterE2e, FolderNamedLikeTheArchiveIsReportedBusy) {
    install(SIZE_PATCH_MISSING);
    remove_tree(archive_path());
    ASSERT_TRUE(make_directories(archive_path()));
    put_update_data(UPDATE_LENGTH);
    expect_rows(run("ok"), {BOX_ARCHIVE_BUSY});
}

TEST_F(UpdaterE2e, ArchiveSizeDecidesWhatHappens) {
    struct Case {
        uint64_t size;
        bool update_data;
        std::vector<Row> expected;
        const char* answers;
    };
    const Case cases[] = {
        // Empty, as the rewrite's truncating open leaves it: not updated.
        {0, true, {BOX_UPDATE_INTERRUPTED}, "ok"},
        {1, true, {BOX_PATCH_MISSING}, "ok"},
        {SIZE_V100, true, {BOX_CONFIRM_DETECTED, BOX_CANCELLED}, "no,ok"},
        {SIZE_V101, true, {BOX_ALREADY_APPLIED}, "ok"},
        {SIZE_V100 + 1, true, {BOX_ALREADY_APPLIED}, "ok"},
        {SIZE_V100 - 1, true, {BOX_ALREADY_APPLIED}, "ok"},
        // The update data is looked for before the size is acted on.
        {0, false, {BOX_UPDATE_DATA_MISSING}, "ok"},
        {1, false, {BOX_UPDATE_DATA_MISSING}, "ok"},
        {SIZE_V100, false, {BOX_UPDATE_DATA_MISSING}, "ok"},
        {SIZE_V101, false, {BOX_UPDATE_DATA_MISSING}, "ok"},
        {SIZE_V100 + 1, false, {BOX_UPDATE_DATA_MISSING}, "ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.update_data ? " bytes, update data present"
                                                             : " bytes, no update data"));
        reset();
        install(c.size);
        if (c.update_data) put_update_data(UPDATE_LENGTH);
        expect_rows(run(c.answers), c.expected);
        expect_archive_untouched(c.size);
    }
}

// No cancels, and so does a question that could not be shown at all (the
// system refuses the box, as it does without an interactive desktop): it
// never reached the player. The cancelled box is refused then too.
TEST_F(UpdaterE2e, NoOrAQuestionNeverShownCancels) {
    const struct {
        const char* answers;
        std::vector<Row> expected;
    } cases[] = {
        {"yes,no,ok", {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START, BOX_CANCELLED}},
        {"refuse", {}},
        {"yes,refuse", {BOX_CONFIRM_DETECTED}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answers);
        reset();
        install(SIZE_V100);
        put_update_data(UPDATE_LENGTH);
        expect_rows(run(c.answers, nullptr, std::string(), std::string(), SPLICE_RUN_TIMEOUT_MS),
                    c.expected);
        expect_archive_untouched(SIZE_V100);
    }
}

TEST_F(UpdaterE2e, UpdateDataIsLookedForInTheCurrentDirectoryOnly) {
    install(SIZE_V100);
    // The program and its update data side by side, started from elsewhere.
    std::string beside = join_path(root_, "beside");
    ASSERT_TRUE(make_directories(beside));
    std::string exe = join_path(beside, "Updater.exe");
    ASSERT_TRUE(CopyFileA(updater_exe().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(write_generated_file(join_path(beside, UPDATE_DATA_FILE), UPDATE_SEED,
                                     UPDATE_LENGTH));
    expect_rows(run("ok", nullptr, work_, exe), {BOX_UPDATE_DATA_MISSING});
    // Started in its own folder, the same copy finds it.
    expect_rows(run("no,ok", nullptr, beside, exe), {BOX_CONFIRM_DETECTED, BOX_CANCELLED});
    expect_archive_untouched(SIZE_V100);
}

TEST_F(UpdaterE2e, FolderNamedLikeTheUpdateDataPassesItsExistenceTest) {
    install(SIZE_PATCH_MISSING);
    ASSERT_TRUE(make_directories(update_data_path()));
    expect_rows(run("ok"), {BOX_PATCH_MISSING});
}

// ---- Stage 4: the splice ----

class UpdaterSplice : public UpdaterE2e {
public:
    // Starts file_holder on path (options: "" or "--share-read").
    void hold(const std::string& path, const char* options, Standin* holder) {
        ASSERT_TRUE(start_standin(build_path(E2E_FILE_HOLDER_EXE),
                                  std::string(options) + " \"" + path + "\"", root_, holder));
    }

    void resize_archive(uint64_t size) {
        HANDLE file = CreateFileA(archive_path().c_str(), GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
    }

    // Waits for the updater's next box and expects it to be the one given.
    // The box, for the caller to answer; null, with a failure recorded, when
    // none came or it could not be read.
    HWND expect_next_box(const RunningProgram& updater, BoxId expected) {
        HWND box = wait_for_box(updater.process_id, updater.process, RUN_TIMEOUT_MS);
        BoxInfo seen;
        if (box == nullptr || !read_box(box, &seen)) {
            ADD_FAILURE() << "no box came, or it could not be read";
            return nullptr;
        }
        expect_row(seen, expected);
        return box;
    }

    // A real 1.00 archive of generated content.
    void install_full_archive() {
        install(SIZE_PATCH_MISSING);
        ASSERT_TRUE(write_generated_file(archive_path(), ARCHIVE_SEED, SIZE_V100));
    }

    // The 1.01 archive: the first UPDATE_LENGTH bytes of the update data,
    // then the 1.00 archive from REPLACED_LENGTH to its end.
    void expect_spliced_archive() {
        std::string path = archive_path();
        ASSERT_EQ(static_cast<int64_t>(SIZE_V101), file_size(path));

        // The seam, both ends, spelled out for a readable failure.
        unsigned char seen[64];
        unsigned char expected[64];
        struct Piece {
            const char* name;
            uint64_t file_offset;
            uint64_t seed;
            uint64_t stream_offset;
        };
        const Piece pieces[] = {
            {"first bytes", 0, UPDATE_SEED, 0},
            {"last bytes of the new head", UPDATE_LENGTH - 32, UPDATE_SEED, UPDATE_LENGTH - 32},
            {"first bytes of the kept tail", UPDATE_LENGTH, ARCHIVE_SEED, REPLACED_LENGTH},
            {"last bytes", SIZE_V101 - 32, ARCHIVE_SEED, SIZE_V100 - 32},
        };
        for (const Piece& piece : pieces) {
            SCOPED_TRACE(piece.name);
            ASSERT_TRUE(read_bytes(path, piece.file_offset, seen, 32));
            generate_bytes(piece.seed, piece.stream_offset, expected, 32);
            EXPECT_EQ(0, memcmp(expected, seen, 32));
        }

        // And every byte of the whole.
        EXPECT_EQ(-1, first_difference(path, 0, UPDATE_SEED, 0, UPDATE_LENGTH))
            << "new head differs from the update data";
        EXPECT_EQ(-1, first_difference(path, UPDATE_LENGTH, ARCHIVE_SEED, REPLACED_LENGTH,
                                       KEPT_LENGTH))
            << "kept tail differs from the old archive";
    }
};

// The rewritten archive is all that the updater leaves: no log, no backup
// or temporary file, no change in the registry.
TEST_F(UpdaterSplice, FullUpdateThenAlreadyApplied) {
    install_full_archive();
    put_update_data(UPDATE_LENGTH);
    std::vector<std::string> files = list_tree(root_);
    ASSERT_NE(files.end(), std::find(files.begin(), files.end(), join_path("inst", ARCHIVE_RELATIVE_PATH)));
    std::vector<std::string> values = installation_key_values();
    ASSERT_EQ(1u, values.size());
    expect_rows(run("yes,yes,ok", nullptr, std::string(), std::string(), SPLICE_RUN_TIMEOUT_MS),
                {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START, BOX_SUCCESS});
    expect_spliced_archive();
    EXPECT_EQ(files, list_tree(root_));
    EXPECT_EQ(values, installation_key_values());

    expect_rows(run("ok"), {BOX_ALREADY_APPLIED});
    EXPECT_EQ(static_cast<int64_t>(SIZE_V101), file_size(archive_path()));
    EXPECT_EQ(-1, first_difference(archive_path(), 0, UPDATE_SEED, 0, UPDATE_LENGTH));

    // The same update, and an error box, on a Western system, which reads
    // byte strings in 1252.
    SCOPED_TRACE(LOCALE_EN_US);
    reset();
    install_full_archive();
    put_update_data(UPDATE_LENGTH);
    expect_rows(run("yes,yes,ok", nullptr, std::string(), std::string(), SPLICE_RUN_TIMEOUT_MS,
                    LOCALE_EN_US),
                {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START, BOX_SUCCESS});
    expect_spliced_archive();
    remove_installation_key();
    expect_rows(run("ok", nullptr, std::string(), std::string(), RUN_TIMEOUT_MS, LOCALE_EN_US),
                {BOX_NOT_INSTALLED_NO1});
}

TEST_F(UpdaterSplice, LongerUpdateDataGivesOnlyItsHead) {
    install_full_archive();
    put_update_data(UPDATE_LENGTH + 4096);
    expect_rows(run("yes,yes,ok", nullptr, std::string(), std::string(), SPLICE_RUN_TIMEOUT_MS),
                {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START, BOX_SUCCESS});
    expect_spliced_archive();
}

// Nothing is written unless the whole new content is at hand: a short update
// data file leaves the archive as it was and says that the data is broken.
// Only No cancels: questions closed without an answer go on as Yes does.
TEST_F(UpdaterSplice, ShorterUpdateDataLeavesTheArchiveAlone) {
    install(SIZE_V100);
    put_update_data(UPDATE_LENGTH - 1);
    for (const char* answers : {"yes,yes,ok", "close,close,ok"}) {
        SCOPED_TRACE(answers);
        expect_rows(run(answers, nullptr, std::string(), std::string(), SPLICE_RUN_TIMEOUT_MS),
                     {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START, BOX_UPDATE_DATA_MISSING});
        expect_archive_untouched(SIZE_V100);
    }
}

// What changes while the second question waits for its answer: nothing
// locks the archive or the update data between the size test and the
// splice. Whatever happens there, nothing is written unless both sources are
// read whole, and the one box says what went wrong.
TEST_F(UpdaterSplice, ChangesBeforeTheSecondYesLeaveTheArchiveAsItIs) {
    struct Case {
        const char* name;
        void (*change)(UpdaterSplice* test, Standin* holder);
        BoxId expected;
        uint64_t size_after;  // the archive's size once the change was made
    };
    const Case cases[] = {
        {"archive held without sharing",
         [](UpdaterSplice* t, Standin* holder) { t->hold(t->archive_path(), "", holder); },
         BOX_ARCHIVE_BUSY, SIZE_V100},
        // Readable, so it is read whole, but it cannot be opened for
        // writing: the write fails before anything is truncated.
        {"archive held, reading shared",
         [](UpdaterSplice* t, Standin* holder) {
             t->hold(t->archive_path(), "--share-read", holder);
         },
         BOX_WRITE_FAILED, SIZE_V100},
        {"update data held without sharing",
         [](UpdaterSplice* t, Standin* holder) { t->hold(t->update_data_path(), "", holder); },
         BOX_UPDATE_DATA_MISSING, SIZE_V100},
        {"update data removed",
         [](UpdaterSplice* t, Standin*) { ASSERT_TRUE(DeleteFileA(t->update_data_path().c_str())); },
         BOX_UPDATE_DATA_MISSING, SIZE_V100},
        {"archive grew by one byte",
         [](UpdaterSplice* t, Standin*) { t->resize_archive(SIZE_V100 + 1); }, BOX_ARCHIVE_BUSY,
         SIZE_V100 + 1},
        {"archive cut to the 1.01 size",
         [](UpdaterSplice* t, Standin*) { t->resize_archive(SIZE_V101); }, BOX_ARCHIVE_BUSY,
         SIZE_V101},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        install(SIZE_V100);
        put_update_data(UPDATE_LENGTH);
        Standin holder;
        std::string exe = updater_exe();
        RunningProgram updater;
        ASSERT_TRUE(start_program(exe.c_str(), nullptr, work_.c_str(), &updater.process,
                                  &updater.process_id));
        const BoxId questions[] = {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START};
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE("question " + std::to_string(i + 1));
            HWND question = expect_next_box(updater, questions[i]);
            ASSERT_NE(nullptr, question);
            if (i == 1) c.change(this, &holder);
            ASSERT_TRUE(answer_box(question, IDYES, RUN_TIMEOUT_MS));
        }
        BoxScript ok;
        ASSERT_TRUE(parse_box_script("ok", &ok));
        drive_boxes(updater.process, updater.process_id, &ok, SPLICE_RUN_TIMEOUT_MS,
                    &transcript_);
        expect_rows(transcript_, {c.expected});
        stop_standin(&holder);
        EXPECT_EQ(static_cast<int64_t>(c.size_after), file_size(archive_path()));
        EXPECT_EQ(-1, first_difference(archive_path(), 0, ARCHIVE_SEED, 0, MARK_BYTES))
            << "the archive's head was rewritten";
    }
}

#if defined(E2E_UPDATER_IS_32BIT)
// A 32-bit process must find the archive's 609 MiB in one free range of its
// address space, which a 64-bit one always does. Here that room is taken for
// real: before the program runs, its free address space is cut into pieces
// of at most 256 MiB. It gets as far as the splice, which cannot have its
// block, says so, and leaves the archive as it was.
TEST_F(UpdaterSplice, NoRoomForTheArchiveInTheAddressSpaceLeavesItAsItWas) {
    constexpr uint64_t PIECE_BYTES = 256u * 1024u * 1024u;
    install_full_archive();
    put_update_data(UPDATE_LENGTH);
    RunningProgram updater;
    uint64_t largest_before = 0;
    uint64_t largest_after = 0;
    ASSERT_TRUE(start_program_fragmented(updater_exe(), work_, PIECE_BYTES,
                                         &updater, &largest_before, &largest_after));
    EXPECT_GE(largest_before, SIZE_V100) << "the block would not have fitted anyway";
    EXPECT_LE(largest_after, PIECE_BYTES);
    BoxScript answers;
    ASSERT_TRUE(parse_box_script("yes,yes,ok", &answers));
    drive_boxes(updater.process, updater.process_id, &answers, SPLICE_RUN_TIMEOUT_MS,
                &transcript_);
    expect_rows(transcript_, {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START, BOX_OUT_OF_MEMORY});
    EXPECT_EQ(static_cast<int64_t>(SIZE_V100), file_size(archive_path()));
    EXPECT_EQ(-1, first_difference(archive_path(), 0, ARCHIVE_SEED, 0, SIZE_V100))
        << "the archive was changed";
}
#endif

// ---- Stage 4: writes that fail for real ----

// What a Windows program cannot do itself under Wine (limit a process's file
// size, mount a file system) is done by scripts/wine/unix-run, which Wine starts
// as a Unix program. Wine gives no handle for such a program, so it reports
// through a status file: "exit N", then what it printed on stderr.
class UnixRun {
public:
    explicit UnixRun(const std::string& status_unix_path) : status_(status_unix_path) {}

    // Starts unix-run with the arguments (Unix paths, no blanks), in UTF-8
    // as the Unix side names them: through the test's own code page, 932,
    // a folder such as Café could not be named.
    bool start(const std::string& args) {
        DeleteFileA(windows_path(status_).c_str());
        const std::string line = windows_path(E2E_UNIX_RUN) + " " + status_ + " " + args;
        std::wstring wide(line.size() + 1, L'\0');
        if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.c_str(), -1, &wide[0],
                                static_cast<int>(wide.size())) == 0)
            return false;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info))
            return false;
        if (info.hProcess) CloseHandle(info.hProcess);
        if (info.hThread) CloseHandle(info.hThread);
        return true;
    }

    bool finished() const { return path_exists(windows_path(status_)); }

    // Waits for the status file; false when it did not come in time.
    bool wait(DWORD timeout_ms) {
        const ULONGLONG deadline = GetTickCount64() + timeout_ms;
        while (!finished()) {
            if (GetTickCount64() >= deadline) return false;
            Sleep(20);
        }
        std::string status;
        const int64_t size = file_size(windows_path(status_));
        status.resize(size > 0 ? static_cast<size_t>(size) : 0);
        if (!status.empty() && !read_bytes(windows_path(status_), 0, &status[0], status.size()))
            return false;
        report_ = status;
        return true;
    }

    // "exit 0" and nothing on stderr.
    bool succeeded() const { return report_ == "exit 0\n"; }
    const std::string& report() const { return report_; }

private:
    std::string status_;
    std::string report_;
};

constexpr DWORD UNIX_RUN_TIMEOUT_MS = 30000;

// The Unix path of a Windows path on drive Z:.
std::string unix_path(const std::string& path) {
    std::string out = path.substr(2);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

// A tmpfs mounted for one test, unmounted however the test ends.
struct SmallDisk {
    std::string dir_unix;
    std::string status_unix;
    bool mounted = false;

    // Empty when mounted; otherwise why not.
    std::string mount(uint64_t bytes) {
        UnixRun run(status_unix);
        if (!run.start("mount-tmpfs " + std::to_string(bytes) + " " + dir_unix))
            return "unix-run could not be started";
        if (!run.wait(UNIX_RUN_TIMEOUT_MS)) return "unix-run did not finish";
        mounted = run.succeeded();
        return mounted ? std::string() : run.report();
    }

    ~SmallDisk() {
        if (!mounted) return;
        UnixRun run(status_unix);
        EXPECT_TRUE(run.start("unmount " + dir_unix) && run.wait(UNIX_RUN_TIMEOUT_MS) &&
                    run.succeeded())
            << dir_unix << " is still mounted: " << run.report();
    }
};

// A 1.00 archive that takes almost no room: generated bytes at these places,
// holes (zeros) everywhere else. The places straddle the splice's cut, the
// file size limit below and both ends.
struct Piece {
    uint64_t offset;
    uint64_t length;
};
constexpr uint64_t MIB = 1024 * 1024;
const Piece SPARSE_V100_PIECES[] = {
    {0, MIB},
    {40 * MIB + 123, MIB / 2},
    {100 * MIB - MIB / 4, MIB / 2},
    {300 * MIB + 7, MIB},
    {SIZE_V100 - MIB, MIB},
};

bool write_sparse_v100(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(SIZE_V100);
    bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[MIB]);
    for (const Piece& piece : SPARSE_V100_PIECES) {
        generate_bytes(ARCHIVE_SEED, piece.offset, bytes.get(), piece.length);
        at.QuadPart = static_cast<LONGLONG>(piece.offset);
        DWORD written = 0;
        ok = ok && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
             WriteFile(file, bytes.get(), static_cast<DWORD>(piece.length), &written, nullptr) &&
             written == piece.length;
    }
    return CloseHandle(file) && ok;
}

// Compares the first length bytes of the file with the sparse 1.00 archive:
// -1 when equal, else the offset of the first difference (or of the file's
// end, when it is shorter).
int64_t first_difference_from_sparse_v100(const std::string& path, uint64_t length) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    constexpr size_t CHUNK = 16 * MIB;
    std::unique_ptr<unsigned char[]> seen(new unsigned char[CHUNK]);
    std::unique_ptr<unsigned char[]> expected(new unsigned char[CHUNK]);
    int64_t result = -1;
    for (uint64_t done = 0; result < 0 && done < length;) {
        const size_t n = static_cast<size_t>(length - done < CHUNK ? length - done : CHUNK);
        memset(expected.get(), 0, n);
        for (const Piece& piece : SPARSE_V100_PIECES) {
            const uint64_t from = std::max(piece.offset, done);
            const uint64_t to = std::min(piece.offset + piece.length, done + n);
            if (from < to)
                generate_bytes(ARCHIVE_SEED, from, expected.get() + (from - done),
                               static_cast<size_t>(to - from));
        }
        DWORD got = 0;
        if (!ReadFile(file, seen.get(), static_cast<DWORD>(n), &got, nullptr)) got = 0;
        size_t same = 0;
        while (same < got && seen[same] == expected[same]) ++same;
        if (same < n) result = static_cast<int64_t>(done + same);
        done += n;
    }
    CloseHandle(file);
    return result;
}

// The process of that executable name, once it shows up; null when it did
// not within timeout_ms or stop_looking() said it never will.
template <typename StopLooking>
HANDLE wait_for_process(const char* exe_name, DWORD timeout_ms, StopLooking stop_looking,
                        DWORD* process_id) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (;;) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        DWORD found = 0;
        if (snapshot != INVALID_HANDLE_VALUE) {
            for (BOOL more = Process32First(snapshot, &entry); more && found == 0;
                 more = Process32Next(snapshot, &entry)) {
                if (_stricmp(entry.szExeFile, exe_name) == 0) found = entry.th32ProcessID;
            }
            CloseHandle(snapshot);
        }
        if (found != 0) {
            *process_id = found;
            return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE,
                               found);
        }
        if (stop_looking() || GetTickCount64() >= deadline) return nullptr;
        Sleep(20);
    }
}

void run_in_locale(const char* locale, const std::string& program, const std::string& dir_unix,
                   const BoxScript& script, DWORD timeout_ms, BoxTranscript* transcript) {
    // What a run that never got to drive the program leaves.
    memset(transcript, 0, sizeof *transcript);
    transcript->outcome = BOX_RUN_START_FAILED;
    snprintf(transcript->error, sizeof transcript->error, "not started in %s", locale);
    // Beside the tests' folders, whose files some tests list.
    UnixRun starter(std::string(E2E_WORK_DIR) + "/locale.status");
    ASSERT_TRUE(starter.start(std::string("locale ") + locale + " " + dir_unix + " wine " +
                              unix_path(program)));
    RunningProgram running;
    running.process = wait_for_process(program.substr(program.rfind('\\') + 1).c_str(),
                                       RUN_TIMEOUT_MS, [&starter] { return starter.finished(); },
                                       &running.process_id);
    ASSERT_NE(nullptr, running.process) << program << " did not start in " << locale;
    drive_boxes(running.process, running.process_id, &script, timeout_ms, transcript);
    ASSERT_TRUE(starter.wait(UNIX_RUN_TIMEOUT_MS));
    EXPECT_TRUE(starter.succeeded()) << starter.report();
}

class UpdaterWriteFailure : public UpdaterSplice {
public:
    // A 1.00 installation with the sparse archive, the update data in the
    // work folder.
    void install_sparse_v100() {
        install(SIZE_PATCH_MISSING);
        ASSERT_TRUE(write_sparse_v100(archive_path()));
        put_update_data(UPDATE_LENGTH);
    }

    // The archive holds nothing but the beginning of the 1.00 archive.
    void expect_archive_is_start_of_v100(int64_t size) {
        EXPECT_EQ(-1, first_difference_from_sparse_v100(archive_path(), static_cast<uint64_t>(size)))
            << "the archive's " << size << " bytes are not the start of the old archive";
    }
};

// The updater runs with its file size limited to 100 MiB (set on the Unix
// process that starts it; Wine passes the limit on): the new archive, the
// write-back and the copy all stop at the limit. Nothing can keep the old
// archive, and the box says so instead of blaming a read-only attribute.
TEST_F(UpdaterWriteFailure, FileSizeLimitDamagesTheArchiveAndTheBoxSaysSo) {
    constexpr uint64_t LIMIT = 100 * MIB;
    install_sparse_v100();

    UnixRun updater(unix_path(join_path(root_, "limited.status")));
    ASSERT_TRUE(updater.start("fsize-limit " + std::to_string(LIMIT) + " " + unix_path(work_) +
                              " wine " + unix_path(updater_exe())));
    RunningProgram program;
    program.process = wait_for_process("Updater.exe", RUN_TIMEOUT_MS,
                                       [&updater] { return updater.finished(); },
                                       &program.process_id);
    ASSERT_NE(nullptr, program.process) << "the limited updater did not start";
    BoxScript script;
    ASSERT_TRUE(parse_box_script("yes,yes,ok", &script));
    drive_boxes(program.process, program.process_id, &script, SPLICE_RUN_TIMEOUT_MS,
                &transcript_);
    expect_rows(transcript_, {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START, BOX_ARCHIVE_DAMAGED});
    ASSERT_TRUE(updater.wait(UNIX_RUN_TIMEOUT_MS));
    EXPECT_TRUE(updater.succeeded()) << updater.report();

    // The write-back got as far as the limit; the copy that failed the same
    // way was removed, so nothing passes for the archive.
    EXPECT_EQ(static_cast<int64_t>(LIMIT), file_size(archive_path()));
    expect_archive_is_start_of_v100(static_cast<int64_t>(LIMIT));
    EXPECT_EQ(std::vector<std::string>{UPDATE_DATA_FILE}, list_tree(work_));
    EXPECT_EQ(-1, first_difference(update_data_path(), 0, UPDATE_SEED, 0, UPDATE_LENGTH));
}

// The game's folder on a small disk that fills up: the new archive and the
// write-back run out of room; the old archive goes whole into the folder the
// updater was started from, on another disk, and the box names it. A copy
// that an earlier run left there keeps its bytes: the program's exclusive
// create refuses the name, and the copy takes the next one.
TEST_F(UpdaterWriteFailure, FullDiskKeepsTheOldArchiveAsACopyThatTheBoxNames) {
    SmallDisk disk;
    disk.dir_unix = unix_path(join_path(root_, "small"));
    disk.status_unix = unix_path(join_path(root_, "mount.status"));
    // Room for the sparse archive's generated bytes and little more.
    const std::string refused = disk.mount(8 * MIB);
    // A case skipped inside the program would count as passed: where no
    // tmpfs can be mounted (the suite runs as root), it fails instead.
    ASSERT_TRUE(refused.empty()) << "a tmpfs cannot be mounted here: " << refused;
    inst_ = join_path(root_, "small\\inst");
    constexpr uint64_t EARLIER_SEED = 102;
    const struct {
        const char* name;
        bool earlier_copy;
        std::vector<std::string> names_after;  // of the work folder
        // Run in this locale from the work folder renamed Café, which the
        // updater's code page, 1252, names with é (0xE9, a lead byte of 932).
        const char* locale;
    } cases[] = {
        {"no earlier copy", false, {UPDATE_DATA_FILE, RESCUE_NAME}, nullptr},
        {"an earlier copy", true,
         {UPDATE_DATA_FILE, RESCUE_NAME, std::string(RESCUE_NAME) + "2"}, nullptr},
        {"English (United States), from a folder named Cafe with an acute e", false,
         {UPDATE_DATA_FILE, RESCUE_NAME}, LOCALE_EN_US},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Not reset(): the small disk is mounted inside the test's folder.
        for (const std::string& name : list_tree(work_))
            ASSERT_TRUE(DeleteFileA(join_path(work_, name).c_str())) << name;
        install_sparse_v100();
        const std::string earlier = join_path(work_, RESCUE_NAME);
        if (c.earlier_copy) {
            ASSERT_TRUE(write_generated_file(earlier, EARLIER_SEED, MARK_BYTES));
        }

        // The copy's full path as the updater forms it from its current
        // directory, which is the work folder.
        const std::string copy = join_path(work_, c.names_after.back());
        if (c.locale == nullptr) {
            expect_rows(
                run("yes,yes,ok", nullptr, std::string(), std::string(), SPLICE_RUN_TIMEOUT_MS),
                {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START, Row(BOX_ARCHIVE_RESCUED, copy)});
        } else {
            // 932, the test's own code page, has no é: the folder is renamed
            // through the wide calls, and back once the updater has ended.
            const std::wstring work_wide(work_.begin(), work_.end());
            const std::wstring cafe_wide = std::wstring(root_.begin(), root_.end()) + L"\\Caf\u00e9";
            ASSERT_TRUE(MoveFileW(work_wide.c_str(), cafe_wide.c_str()));
            BoxScript script;
            ASSERT_TRUE(parse_box_script("yes,yes,ok", &script));
            run_in_locale(c.locale, updater_exe(), unix_path(root_) + "/Caf\xC3\xA9", script,
                          SPLICE_RUN_TIMEOUT_MS, &transcript_);
            ASSERT_TRUE(MoveFileW(cafe_wide.c_str(), work_wide.c_str()));
            const std::string copy_1252 = join_path(join_path(root_, "Caf\xE9"), RESCUE_NAME);
            expect_rows(transcript_, {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START,
                                      Row(BOX_ARCHIVE_RESCUED, copy_1252, 1252)});
        }

        ASSERT_EQ(static_cast<int64_t>(SIZE_V100), file_size(copy));
        EXPECT_EQ(-1, first_difference_from_sparse_v100(copy, SIZE_V100))
            << "the copy differs from the old archive";
        EXPECT_EQ(c.names_after, list_tree(work_));
        if (c.earlier_copy) {
            EXPECT_EQ(static_cast<int64_t>(MARK_BYTES), file_size(earlier));
            EXPECT_EQ(-1, first_difference(earlier, 0, EARLIER_SEED, 0, MARK_BYTES))
                << "the earlier copy was changed";
        }
        // What the full disk kept of the archive is the old archive's
        // beginning.
        const int64_t left = file_size(archive_path());
        EXPECT_LT(left, static_cast<int64_t>(SIZE_V100));
        expect_archive_is_start_of_v100(left);
    }
}

// ---- Stage 4 cut short ----

// Stops every thread of the process and makes sure that each one has
// stopped: SuspendThread only asks (under Wine a signal is sent), and
// GetThreadContext returns once the thread is held. A thread held in the
// middle of a write has finished that write, so the file stays as it is now
// when the process is then ended.
bool hold_process(DWORD process_id) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int held = 0;
    bool ok = true;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != process_id) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE,
                                   entry.th32ThreadID);
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        ok = ok && thread != nullptr && SuspendThread(thread) != static_cast<DWORD>(-1) &&
             GetThreadContext(thread, &context);
        if (thread != nullptr) CloseHandle(thread);
        ++held;
    }
    CloseHandle(snapshot);
    return ok && held > 0;
}

// A player who ends the updater while it rewrites the archive (from the task
// manager, because nothing shows for many seconds) leaves a file that starts
// with the update data and stops somewhere in the kept tail. The next run
// says that the update was interrupted and what to do, where it would
// otherwise take the fragment for a newer version, and writes nothing.
TEST_F(UpdaterSplice, RewriteCutShortIsReportedOnTheNextRunAndLeftAlone) {
    // The updater is ended once the archive holds more than this: the head
    // and some of the tail.
    constexpr int64_t CUT_AFTER = 8 * 1024 * 1024;
    constexpr int ATTEMPTS = 3;
    put_update_data(UPDATE_LENGTH);
    int64_t left = -1;
    // The rewrite may end before it is seen under way (the watcher was not
    // scheduled in time): such an attempt proves nothing and is made again.
    for (int attempt = 1;
         attempt <= ATTEMPTS && (left < 0 || left >= static_cast<int64_t>(SIZE_V101)); ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        install_full_archive();
        RunningProgram updater;
        ASSERT_TRUE(start_program(updater_exe().c_str(), nullptr, work_.c_str(),
                                  &updater.process, &updater.process_id));
        for (const BoxId question : {BOX_CONFIRM_DETECTED, BOX_CONFIRM_START}) {
            HWND box = expect_next_box(updater, question);
            ASSERT_NE(nullptr, box);
            ASSERT_TRUE(answer_box(box, IDYES, RUN_TIMEOUT_MS));
        }
        // Truncated by the rewrite, the archive grows again from nothing.
        const ULONGLONG deadline = GetTickCount64() + SPLICE_RUN_TIMEOUT_MS;
        for (;;) {
            const int64_t size = file_size(archive_path());
            if (size > CUT_AFTER && size < static_cast<int64_t>(SIZE_V100)) break;
            // Done already: its last box is up, or it has ended.
            if (find_box(updater.process_id) != nullptr ||
                WaitForSingleObject(updater.process, 0) == WAIT_OBJECT_0)
                break;
            ASSERT_LT(GetTickCount64(), deadline) << "the rewrite never got under way";
            Sleep(1);
        }
        // Ended as the task manager ends a program, but only once it is
        // held: Wine reports a process ended while its thread may still be
        // inside a write.
        ASSERT_TRUE(hold_process(updater.process_id));
        left = file_size(archive_path());
        ASSERT_TRUE(TerminateProcess(updater.process, 1));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(updater.process, RUN_TIMEOUT_MS));
    }
    ASSERT_GT(left, CUT_AFTER);
    ASSERT_LT(left, static_cast<int64_t>(SIZE_V101))
        << "the rewrite was never caught under way in " << ATTEMPTS << " attempts";

    // What the rewrite left: the update data, then the old archive's tail.
    auto expect_fragment = [this, left] {
        EXPECT_EQ(left, file_size(archive_path()));
        EXPECT_EQ(-1, first_difference(archive_path(), 0, UPDATE_SEED, 0, UPDATE_LENGTH));
        EXPECT_EQ(-1, first_difference(archive_path(), UPDATE_LENGTH, ARCHIVE_SEED,
                                       REPLACED_LENGTH,
                                       static_cast<uint64_t>(left) - UPDATE_LENGTH));
    };
    expect_fragment();
    const std::vector<std::string> files = list_tree(root_);
    expect_rows(run("ok"), {BOX_UPDATE_INTERRUPTED});
    expect_fragment();
    EXPECT_EQ(files, list_tree(root_));
}

}  // namespace
