// Diagnostics: the system's text for the last error, and the library's
// information box.
#include "sysutil/sysutil.h"

#include <windows.h>

#include <cstring>

namespace {

// FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
// FORMAT_MESSAGE_FROM_SYSTEM: the system allocates the text, and insert
// sequences such as %1 come back as they are instead of being expanded from
// arguments that nobody passes.
constexpr DWORD ERROR_TEXT_FLAGS = 0x1300;
// LANG_NEUTRAL with SUBLANG_DEFAULT: the user's default language.
constexpr DWORD ERROR_TEXT_LANGUAGE = 0x0400;

const char INFO_CAPTION[] = "ORVEX Info";

// The code page of the program's own texts.
constexpr UINT CP_SHIFT_JIS = 932;

// text as UTF-16 into out; false when it is not valid CP932 or does not fit.
// Never a cut text: a box that reads half a sentence says something else.
bool cp932_to_utf16(const char* text, wchar_t (&out)[CP932_BOX_TEXT_UNITS])
{
    return MultiByteToWideChar(CP_SHIFT_JIS, MB_ERR_INVALID_CHARS, text, -1, out,
                               static_cast<int>(CP932_BOX_TEXT_UNITS)) > 0;
}

} // namespace

void last_error_text(char* buffer, size_t buffer_size)
{
    // First, before anything here can overwrite the caller's error code.
    const DWORD code = GetLastError();
    if (buffer_size == 0) {
        return;
    }
    buffer[0] = 0;

    char* text = nullptr;
    const DWORD length = FormatMessageA(ERROR_TEXT_FLAGS, nullptr, code, ERROR_TEXT_LANGUAGE,
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length != 0 && text != nullptr) {
        // The whole text or nothing: a cut text could end inside a
        // double-byte character and would read as the complete message.
        const size_t bytes = std::strlen(text) + 1;
        if (bytes <= buffer_size) {
            std::memcpy(buffer, text, bytes);
        }
    }
    if (text != nullptr) {
        LocalFree(text);
    }
}

int show_cp932_box(const char* text, const char* caption, unsigned int style)
{
    // MessageBoxA would read the bytes in the system's ANSI code page: on a
    // system whose page is not 932 (a Western or Chinese Windows, or a
    // Japanese one set to UTF-8) the Japanese texts come out as garbage.
    wchar_t wide_text[CP932_BOX_TEXT_UNITS];
    wchar_t wide_caption[CP932_BOX_TEXT_UNITS];
    if (cp932_to_utf16(text, wide_text) &&
        (caption == nullptr || cp932_to_utf16(caption, wide_caption))) {
        return MessageBoxW(nullptr, wide_text, caption != nullptr ? wide_caption : nullptr,
                           style);
    }
    return MessageBoxA(nullptr, text, caption, style);
}

unsigned char show_info(const char* text)
{
    MessageBoxA(nullptr, text, INFO_CAPTION, MB_OK);
    return 0;
}
