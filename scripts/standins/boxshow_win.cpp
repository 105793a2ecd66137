// boxshow.exe: shows message boxes, one after another, and exits with the
// button code of the last one. A known program for the box driver's own
// tests.
//
//   boxshow.exe STYLE CAPTION TEXT [STYLE CAPTION TEXT ...]
//
// STYLE is a MessageBoxA style as a number (0x44 is MB_YESNO |
// MB_ICONINFORMATION). The texts arrive in the system's ANSI code page.
// STYLE "unseen" makes a box that ends before it shows, as a box would that
// failed on the way: a WM_QUIT waits in the queue, and the box's message loop
// takes it first (seen under Wine 8: MessageBoxA then returns 0).
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 1) % 3 != 0) return 64;
    int result = 0;
    for (int i = 1; i + 2 < argc; i += 3) {
        UINT style = static_cast<UINT>(strtoul(argv[i], nullptr, 0));
        if (strcmp(argv[i], "unseen") == 0) PostQuitMessage(0);
        result = MessageBoxA(nullptr, argv[i + 2], argv[i + 1], style);
    }
    return result;
}
