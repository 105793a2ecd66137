// Describes the C runtime's multibyte code page, which its path routines
// (_splitpath, _mbsbtype) consult, so that the plain walkers classify bytes
// exactly as they would.
#include "text/text.h"

#include <mbctype.h>

unsigned int describe_multibyte_code_page() {
    unsigned char lead[256];
    for (unsigned int b = 0; b < 256; ++b)
        lead[b] = _ismbblead(b) ? 1 : 0;
    mbcp_set(static_cast<unsigned int>(_getmbcp()), lead);
    return mbcp_code_page();
}

unsigned int init_multibyte_code_page() {
    // _MB_CP_ANSI takes the system's ANSI code page (932 on a Japanese system,
    // whose lead bytes _ismbblead then reports; none on a single-byte one).
    _setmbcp(_MB_CP_ANSI);
    return describe_multibyte_code_page();
}

void ensure_multibyte_code_page_described() {
    // The program describes the code page at start-up; without that, the
    // runtime's own (which the program may have set by itself) is described
    // rather than the stand-in used.
    if (!mbcp_is_described())
        describe_multibyte_code_page();
}
