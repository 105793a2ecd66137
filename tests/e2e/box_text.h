// GoogleTest's check of what a box holds against a program's CP932 text:
//
//   EXPECT_PRED_FORMAT2(box_text_is, box.caption, "エラー");
//
// A failure shows both texts readably (box_text_mismatch).
#pragma once

#include <gtest/gtest.h>

#include "scripts/boxdriver/boxdriver.h"

inline ::testing::AssertionResult box_text_is(const char* seen_expression, const char*,
                                              const wchar_t* seen, const char* expected_cp932) {
    const std::string why = box_text_mismatch(seen, expected_cp932);
    if (why.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << seen_expression << ": " << why;
}
