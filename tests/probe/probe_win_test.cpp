// The running-game probe against real named objects: the test plays the
// game's part by creating the mutex and registering the window class.
#include "probe/probe.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

// A name of the game's kind, unique to this test process so that parallel
// runs never meet. The path holds a trail byte 0x5C (表 = 95 5C).
std::string unique_name(const char* tag) {
    const std::string path = "C:\\Orvex Probe Test\\\x95\x5C\\" + std::string(tag) + "-" +
                             std::to_string(GetCurrentProcessId()) + "\\VELK.EXE";
    char name[INSTANCE_NAME_BYTES];
    EXPECT_TRUE(form_instance_name(name, sizeof(name), path.c_str()));
    return name;
}

bool mutex_exists(const std::string& name) {
    HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (h == NULL)
        return false;
    CloseHandle(h);
    return true;
}

TEST(IsGameRunning, NoMutexMeansNotRunningAndLeavesNoMutexBehind) {
    const std::string name = unique_name("none");
    ASSERT_FALSE(mutex_exists(name));
    EXPECT_EQ(0, is_game_running(name.c_str()));
    // The probe created the mutex and closed its only handle: gone again.
    EXPECT_FALSE(mutex_exists(name));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST(IsGameRunning, MutexWithoutWindowIsNotRunning) {
    const std::string name = unique_name("mutex");
    HANDLE game = CreateMutexA(NULL, TRUE, name.c_str());
    ASSERT_NE(HANDLE(NULL), game);
    EXPECT_EQ(0, is_game_running(name.c_str()));
    // The probe's handle is closed: the game's own is the last one.
    EXPECT_TRUE(mutex_exists(name));
    CloseHandle(game);
    EXPECT_FALSE(mutex_exists(name));
}

TEST(IsGameRunning, WindowWithoutMutexIsNotRunningMutexAndWindowIs) {
    const std::string name = unique_name("window");
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = name.c_str();
    ASSERT_NE(0, RegisterClassA(&wc));
    HWND window = CreateWindowExA(0, name.c_str(), "game", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  NULL, NULL, wc.hInstance, NULL);
    ASSERT_NE(HWND(NULL), window);
    ASSERT_EQ(window, FindWindowA(name.c_str(), NULL));

    // The mutex is looked at first: a window alone is not the game.
    EXPECT_EQ(0, is_game_running(name.c_str()));

    HANDLE game = CreateMutexA(NULL, FALSE, name.c_str());
    ASSERT_NE(HANDLE(NULL), game);
    EXPECT_EQ(1, is_game_running(name.c_str()));
    // A name that differs in case is another class and another mutex.
    std::string upper = name;
    upper[0] = 'C';
    EXPECT_EQ(0, is_game_running(upper.c_str()));

    DestroyWindow(window);
    EXPECT_EQ(0, is_game_running(name.c_str()));
    CloseHandle(game);
    UnregisterClassA(name.c_str(), wc.hInstance);
}

TEST(IsGameRunning, NameTakenByAnotherKindOfObjectCountsAsRunning) {
    const std::string name = unique_name("event");
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, name.c_str());
    ASSERT_NE(HANDLE(NULL), event);
    EXPECT_EQ(255, is_game_running(name.c_str()));
    CloseHandle(event);
    EXPECT_EQ(0, is_game_running(name.c_str()));
}

}  // namespace
