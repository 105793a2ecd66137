# Registry access, shell shortcuts and diagnostics. Their plain parts run
# natively (under the sanitizers) and within the Windows program; the rest
# exists only on Windows: one test program under Wine, then lnkinfo reads the
# shortcut files it left in lnk/ below this folder.
if(NOT WIN32)
  orvex_add_gtest(sysutil_registry_shortcut_plain_tests
    SOURCES registry_shortcut_plain_test.cpp
    LIBS orvex_sysutil)
  return()
endif()

orvex_add_gtest(sysutil_registry_shortcut_diag_tests
  SOURCES registry_shortcut_plain_test.cpp registry_win_test.cpp
          shortcut_win_test.cpp diag_win_test.cpp
  LIBS orvex_sysutil orvex_boxdriver ole32 shell32 uuid advapi32 user32)
set_tests_properties(sysutil_registry_shortcut_diag_tests PROPERTIES
  FIXTURES_SETUP sysutil_shortcut_files)

find_program(ORVEX_LNKINFO lnkinfo REQUIRED)
add_test(NAME sysutil_shortcut_files_lnkinfo
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_shortcuts.py
          ${ORVEX_LNKINFO} ${CMAKE_CURRENT_BINARY_DIR}/lnk)
set_tests_properties(sysutil_shortcut_files_lnkinfo PROPERTIES
  FIXTURES_REQUIRED sysutil_shortcut_files LABELS unit)
