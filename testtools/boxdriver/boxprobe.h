// The exchange between the box driver and boxprobe.dll, the hook that names a
// box's icon from inside the process that shows it.
#pragma once

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
