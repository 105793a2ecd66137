# File queries, zeroed allocation and the directory listing: one test program.
# The logic runs everywhere over a fake directory search; under Wine the same
# program also runs the queries and the listing on real files.
set(files_listing_sources files_test.cpp listing_test.cpp file_list_helpers.cpp)
if(WIN32)
  list(APPEND files_listing_sources
    files_win_test.cpp listing_win_test.cpp scratch_win.cpp)
endif()
orvex_add_gtest(sysutil_files_listing_tests
  SOURCES ${files_listing_sources}
  LIBS orvex_sysutil)
