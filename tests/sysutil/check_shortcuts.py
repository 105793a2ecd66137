#!/usr/bin/env python3
"""Reads the shortcut files that the Windows shortcut tests left behind with
lnkinfo, a reader that shares no code with the program, and checks the
target, working directory and arguments that each one carries.

    check_shortcuts.py LNKINFO DIRECTORY
"""
import subprocess
import sys

# name: (target, working directory, arguments or None when none were given).
# Strings as the link holds them in code page 932, decoded. A target of None
# is not checked (a relative target is resolved against the current folder).
TITLE = "C:\\Games\\Title\\game.exe"
EXPECTED = {
    "normal": (TITLE, "C:\\Games\\Title", None),
    "drive_root": ("C:\\game.exe", "C:", None),
    "bare_name": (None, "", None),
    "forward_slashes": (None, "C:\\Games\\Title", None),
    "mixed_slashes": (None, "C:\\Games\\Title", None),
    "trail_byte_5c": ("C:\\ソ\\game.exe", "C:\\ソ", None),
    "mode_one": (TITLE, "", None),
    "mode_positive": (TITLE, "", None),
    "mode_minus_one": (TITLE, "C:\\Games\\Title", None),
    "mode_most_negative": (TITLE, "C:\\Games\\Title", None),
    "empty_arguments": (TITLE, "C:\\Games\\Title", ""),
    "arguments": (TITLE, "C:\\Games\\Title", "-window ソ"),
    "show_maximized": (TITLE, "C:\\Games\\Title", None),
    "show_min_no_active": (TITLE, "C:\\Games\\Title", None),
    "code_page_936": ("C:\\Games\\ｱ\\game.exe", "C:\\Games", None),
}


def fields(output):
    """The 'name : value' lines of lnkinfo's link information, and its flags."""
    values = {}
    flags = set()
    for line in output.splitlines():
        text = line.strip()
        if text.startswith("Contains "):
            flags.add(text)
        elif ":" in text:
            name, _, value = text.partition(":")
            values.setdefault(name.strip(), value[1:] if value.startswith(" ") else value)
    return values, flags


def check(lnkinfo, directory, name, expected):
    target, working_directory, arguments = expected
    path = f"{directory}/{name}.lnk"
    run = subprocess.run([lnkinfo, "-c", "windows-932", path], capture_output=True)
    if run.returncode != 0:
        return [f"{name}: lnkinfo failed: {run.stderr.decode(errors='replace').strip()}"]
    values, flags = fields(run.stdout.decode("utf-8"))
    problems = []

    def expect(what, want, got):
        if want != got:
            problems.append(f"{name}: {what} {got!r}, expected {want!r}")

    if target is not None:
        expect("target", target, values.get("Local path"))
    expect("working directory", working_directory, values.get("Working directory", ""))
    has_arguments = "Contains a command line arguments string" in flags
    expect("arguments present", arguments is not None, has_arguments)
    if arguments is not None:
        expect("arguments", arguments, values.get("Command line arguments"))
    return problems


def main():
    lnkinfo, directory = sys.argv[1], sys.argv[2]
    problems = []
    for name, expected in EXPECTED.items():
        problems += check(lnkinfo, directory, name, expected)
    for problem in problems:
        print(problem)
    print(f"{len(EXPECTED)} shortcut files read, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
