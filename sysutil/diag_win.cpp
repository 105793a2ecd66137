// Diagnostics: the system's text for the last error, and the library's
// information box.
#include "sysutil/sysutil.h"

#include "text/text.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
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

static_assert(BOX_PART_SYSTEM_CODE_PAGE == CP_ACP, "a part the system named is in CP_ACP");

// A part's byte count as the conversion takes it; false when too long.
bool part_length(const BoxTextPart& part, int* length)
{
    if (part.length > static_cast<size_t>(INT_MAX)) {
        return false;
    }
    *length = static_cast<int>(part.length);
    return true;
}

// The parts converted, each from its own code page, and joined into one
// UTF-16 string on the heap (*wide, which the caller frees; null when no
// memory). false, with *wide null, when a part is not valid in its code
// page: never a cut or half-converted text, which would read as the whole
// message.
bool parts_to_utf16(const BoxTextPart* parts, size_t part_count, wchar_t** wide)
{
    *wide = nullptr;
    size_t units = 1;
    for (size_t i = 0; i < part_count; ++i) {
        int length = 0;
        if (!part_length(parts[i], &length)) {
            return false;
        }
        if (length == 0) {
            continue;
        }
        const int n = MultiByteToWideChar(parts[i].code_page, MB_ERR_INVALID_CHARS,
                                          parts[i].bytes, length, nullptr, 0);
        if (n <= 0) {
            return false;
        }
        units += static_cast<size_t>(n);
    }
    wchar_t* out = static_cast<wchar_t*>(std::malloc(units * sizeof(wchar_t)));
    if (out == nullptr) {
        return true;
    }
    size_t used = 0;
    for (size_t i = 0; i < part_count; ++i) {
        const int length = static_cast<int>(parts[i].length);
        if (length == 0) {
            continue;
        }
        const int n = MultiByteToWideChar(parts[i].code_page, MB_ERR_INVALID_CHARS,
                                          parts[i].bytes, length, out + used,
                                          static_cast<int>(units - 1 - used));
        if (n <= 0) {
            std::free(out);
            return false;
        }
        used += static_cast<size_t>(n);
    }
    out[used] = 0;
    *wide = out;
    return true;
}

// The parts' bytes joined, as the system's byte-string box takes them; null
// when no memory.
char* join_parts(const BoxTextPart* parts, size_t part_count)
{
    size_t bytes = 1;
    for (size_t i = 0; i < part_count; ++i) {
        bytes += parts[i].length;
    }
    char* joined = static_cast<char*>(std::malloc(bytes));
    if (joined == nullptr) {
        return nullptr;
    }
    size_t used = 0;
    for (size_t i = 0; i < part_count; ++i) {
        std::memcpy(joined + used, parts[i].bytes, parts[i].length);
        used += parts[i].length;
    }
    joined[used] = 0;
    return joined;
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

int show_box_parts(const BoxTextPart* parts, size_t part_count, const char* caption,
                   unsigned int style)
{
    // MessageBoxA would read the bytes in the system's ANSI code page: on a
    // system whose page is not 932 (a Western or Chinese Windows, or a
    // Japanese one set to UTF-8) the Japanese texts come out as garbage.
    wchar_t* wide_text = nullptr;
    wchar_t* wide_caption = nullptr;
    const BoxTextPart caption_part = {caption, caption != nullptr ? std::strlen(caption) : 0,
                                      SHIFT_JIS_CODE_PAGE};
    const bool converted = parts_to_utf16(parts, part_count, &wide_text) &&
                           (caption == nullptr || parts_to_utf16(&caption_part, 1, &wide_caption));
    int answer = 0;
    if (converted) {
        // No memory for the text shows no box rather than a garbled one.
        if (wide_text != nullptr && (caption == nullptr || wide_caption != nullptr)) {
            answer = MessageBoxW(nullptr, wide_text, wide_caption, style);
        }
    } else {
        // Bytes that are no text of their code page still reach the screen,
        // as the system reads them.
        char* joined = join_parts(parts, part_count);
        if (joined != nullptr) {
            answer = MessageBoxA(nullptr, joined, caption, style);
            std::free(joined);
        }
    }
    std::free(wide_caption);
    std::free(wide_text);
    // Windows gives 0 for a box it could not make; Wine 8 gives -1 (seen with
    // the dialog's creation refused by a CBT hook), which is no button.
    return answer > 0 ? answer : 0;
}

int show_cp932_box(const char* text, const char* caption, unsigned int style)
{
    const BoxTextPart whole = {text, std::strlen(text), SHIFT_JIS_CODE_PAGE};
    return show_box_parts(&whole, 1, caption, style);
}

unsigned char show_info(const char* text)
{
    MessageBoxA(nullptr, text, INFO_CAPTION, MB_OK);
    return 0;
}
