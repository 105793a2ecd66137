// boxprobe.dll: names the icon of a message box from inside the process that
// shows it. The box driver installs box_probe_hook as a WH_CALLWNDPROC hook
// on the box's thread, which makes the system load this DLL into that
// process; there the box's icon handle can be compared with the standard
// icons, which no other process can do (icon handles are per process). The
// answer is left as a window property of the box, which any process can read.
// The same DLL counts the boxes that a process makes (box_made_hook), and
// refuses them when the driver says so.
#include <windows.h>

#include "scripts/boxdriver/boxprobe.h"

#include <cstdio>
#include <cstring>

extern "C" __declspec(dllexport) LRESULT CALLBACK box_probe_hook(int code, WPARAM wparam,
                                                                 LPARAM lparam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
        static UINT query = RegisterWindowMessageA(BOX_PROBE_MESSAGE);
        if (call->message == query) {
            HWND icon_control = reinterpret_cast<HWND>(call->lParam);
            HICON icon = reinterpret_cast<HICON>(SendMessageA(icon_control, STM_GETICON, 0, 0));
            UINT_PTR kind = BOX_PROBE_OTHER;
            const struct {
                LPCSTR id;
                UINT_PTR kind;
            } standards[] = {
                {IDI_INFORMATION, BOX_PROBE_INFORMATION},
                {IDI_WARNING, BOX_PROBE_WARNING},
                {IDI_ERROR, BOX_PROBE_ERROR},
                {IDI_QUESTION, BOX_PROBE_QUESTION},
            };
            for (const auto& standard : standards) {
                if (icon && LoadIconA(nullptr, standard.id) == icon) kind = standard.kind;
            }
            if (!icon) kind = BOX_PROBE_NONE;
            SetPropA(call->hwnd, BOX_PROBE_PROPERTY, reinterpret_cast<HANDLE>(kind));
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK box_made_hook(int code, WPARAM wparam,
                                                                LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        const CBT_CREATEWNDA* create = reinterpret_cast<const CBT_CREATEWNDA*>(lparam);
        char class_name[16];
        if (!(create->lpcs->style & WS_CHILD) &&
            GetClassNameA(reinterpret_cast<HWND>(wparam), class_name, sizeof class_name) != 0 &&
            strcmp(class_name, "#32770") == 0) {
            char name[BOX_PROBE_NAME_BYTES];
            box_probe_name(name, BOX_PROBE_REFUSE_PREFIX, GetCurrentProcessId());
            HANDLE refuse = OpenEventA(SYNCHRONIZE, FALSE, name);
            if (refuse) {
                CloseHandle(refuse);
                return 1;  // not made: the creation fails
            }
            box_probe_name(name, BOX_PROBE_MADE_PREFIX, GetCurrentProcessId());
            HANDLE made = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, name);
            if (made) {
                ReleaseSemaphore(made, 1, nullptr);
                CloseHandle(made);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}
