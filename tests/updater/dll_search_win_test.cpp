// The start-up restriction of the DLL search: a DLL beside the program (and
// in the current directory, which CTest makes the same folder) is no longer
// found by its bare name, while system DLLs still are.
#include "updater/updater.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

const char kProbeDll[] = "dll_search_probe.dll";

TEST(RestrictDllSearch, DllsBesideTheProgramAreNoLongerLoaded) {
    HMODULE before = LoadLibraryA(kProbeDll);
    ASSERT_NE(HMODULE(NULL), before) << "the probe DLL is not beside the test program";
    ASSERT_TRUE(FreeLibrary(before));
    ASSERT_EQ(HMODULE(NULL), GetModuleHandleA(kProbeDll));

    restrict_dll_search();

    SetLastError(0xdeadbeef);
    HMODULE after = LoadLibraryA(kProbeDll);
    const DWORD error = GetLastError();
    EXPECT_EQ(HMODULE(NULL), after);
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), error);
    if (after != NULL)
        FreeLibrary(after);

    // What the message boxes need still comes from the system folder.
    HMODULE system = LoadLibraryA("version.dll");
    EXPECT_NE(HMODULE(NULL), system);
    if (system != NULL)
        FreeLibrary(system);
}

}  // namespace
