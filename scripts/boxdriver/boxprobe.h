// The exchange between the box driver and boxprobe.dll, the hook that names a
// box's icon from inside the process that shows it.
#pragma once

#include <cstddef>
#include <cstdio>

// Registered window message sent to the box; lParam is its icon control.
constexpr char BOX_PROBE_MESSAGE[] = "orvex.boxdriver.icon-query";
// Window property of the box in which the hook leaves its answer.
constexpr char BOX_PROBE_PROPERTY[] = "orvex.boxdriver.icon";
// The answer; 0 (no property) means that the hook never ran.
enum BoxProbeAnswer : unsigned {
    BOX_PROBE_NONE = 1,
    BOX_PROBE_INFORMATION,
    BOX_PROBE_WARNING,
    BOX_PROBE_ERROR,
    BOX_PROBE_QUESTION,
    BOX_PROBE_OTHER,
};
// The name of the hook procedure that the DLL exports.
constexpr char BOX_PROBE_HOOK_NAME[] = "box_probe_hook";

// The driver also counts the message boxes that a process makes, so that a
// run cannot pass with a box that came and went unseen: it hooks WH_CBT on
// the process's threads with this procedure, which releases the semaphore
// named BOX_PROBE_MADE_PREFIX and the process id (decimal) once for every
// top-level dialog window that the thread creates.
constexpr char BOX_PROBE_MADE_HOOK_NAME[] = "box_made_hook";
constexpr char BOX_PROBE_MADE_PREFIX[] = "orvex.boxdriver.made.";

// A run may have a process's boxes refused from some point on, as the system
// refuses them where there is no interactive desktop: while an event named
// BOX_PROBE_REFUSE_PREFIX and the process id exists, the same hook stops the
// creation of every top-level dialog, which is then neither made nor
// counted, and MessageBoxA/W return at once without a box (0 on Windows, -1
// under Wine 8).
constexpr char BOX_PROBE_REFUSE_PREFIX[] = "orvex.boxdriver.refuse.";

// Room for either name: the longer prefix and the ten digits of a DWORD.
constexpr size_t BOX_PROBE_NAME_BYTES =
    (sizeof BOX_PROBE_REFUSE_PREFIX > sizeof BOX_PROBE_MADE_PREFIX ? sizeof BOX_PROBE_REFUSE_PREFIX
                                                                   : sizeof BOX_PROBE_MADE_PREFIX) +
    10;
// The name of one process's object: prefix, then the process id in decimal.
inline void box_probe_name(char (&out)[BOX_PROBE_NAME_BYTES], const char* prefix,
                           unsigned long process_id) {
    snprintf(out, sizeof out, "%s%lu", prefix, process_id);
}
