// The description of the process's multibyte code page, read by the path
// splitter and the directory walk. On Windows it is filled at start-up from
// the C runtime; tests select a code page directly.
#include "text/path_seam.h"
#include "text/text.h"

#include <cstring>

namespace {

unsigned int mbcp_number = SHIFT_JIS_CODE_PAGE;
unsigned char mbcp_lead[256];
bool mbcp_described = false;

const unsigned char* lead_table() {
    // Until the code page is described, the fixed Shift-JIS rule stands in.
    return mbcp_described ? mbcp_lead : sjis_lead_table;
}

}  // namespace

void mbcp_set(unsigned int code_page, const unsigned char lead[256]) {
    mbcp_number = code_page;
    for (int b = 0; b < 256; ++b)
        mbcp_lead[b] = lead[b] != 0 ? 1 : 0;
    // The terminator never starts a character of two bytes.
    mbcp_lead[0] = 0;
    mbcp_described = true;
}

void mbcp_select_shift_jis() {
    mbcp_set(SHIFT_JIS_CODE_PAGE, sjis_lead_table);
}

void mbcp_select_single_byte(unsigned int code_page) {
    const unsigned char none[256] = {};
    mbcp_set(code_page, none);
}

unsigned int mbcp_code_page() {
    return mbcp_number;
}

void mbcp_forget() {
    mbcp_number = SHIFT_JIS_CODE_PAGE;
    mbcp_described = false;
}

bool mbcp_is_described() {
    return mbcp_described;
}

bool mbcp_is_lead(unsigned char b) {
    return lead_table()[b] != 0;
}

size_t mbcp_char_length(const char* p) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    return (mbcp_is_lead(u[0]) && u[1] != 0) ? 2 : 1;
}
