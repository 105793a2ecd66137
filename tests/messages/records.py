#!/usr/bin/env python3
"""Holds the records (README.md, docs/*.md, the players' note) against the
program's dump, so that a size or a name they state cannot drift from it.

    records.py VALUES RECORD...

VALUES is what "dump_texts --values" writes: NAME=NUMBER and NAME='string'.
A statement is recognised by its form, never by its value, so that a record
still stating an old value is read as a statement all the same, and fails:

- Names. A file name ending in .dat is the update data file
  (UPDATE_DATA_FILE); FOLDER\\NAME.ovp the archive (ARCHIVE_RELATIVE_PATH)
  and a bare NAME.ovp its file name; NAME.backup the saved copy
  (RESCUE_NAME), whose further names "...backupN" go up to
  RESCUE_NAME_TRIES, which a range "...backupM to ...backupN" ends on;
  NAME.ini the installation marker (MARKER_INSTALL_INI); "`NAME` folder"
  the archive's folder (MARKER_PAC_DIR); Software\\... the registry key
  (REGISTRY_KEY); "value `NAME`" and "`NAME` value", in backticks or double
  quotes, the registry value (REGISTRY_DIR_VALUE); "mutex `NAME`" and
  "`NAME` mutex" the single-instance mutex (GUARD_MUTEX_NAME).
- Sizes, in the phrases that state them (SIZES below): "1.00 ... (N bytes)",
  "the N bytes of the update data", "first N bytes", "N-byte buffer", ...
  A record that states a size in a new way adds its phrase there.
- Any other size of SMALLEST_NEARBY bytes or more (N bytes, N-byte, N B,
  KiB, MiB, GiB) within NEARBY of one of the program's sizes must be that
  size as written (rounded or cut to the digits shown: 609 and 608 MiB both
  state 638151018 bytes); else it is most likely a stale copy.

A record marks figures that are not the program's but come that close to
one of its sizes (the memory a run took, a patch just larger than the update
data) with a line "<!-- measured -->": the lines from there to the next
heading are measurements, and only the last rule passes over them.

A statement of a name that the dump lacks fails too: the dump and this
check have drifted apart.
"""
import bisect
import re
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import program_values  # noqa: E402

NUMBER = r"(\d[\d,]*)"
WORDS = {"one": 1, "two": 2, "three": 3, "four": 4, "five": 5}
BUFFERS = "a buffer"  # any of the dump's NAME_BYTES and NAME_CAPACITY

# (dump name, pattern whose first group that matched is the size stated,
# how much less than the dump's value it states)
SIZES = [
    ("ARCHIVE_SIZE_V100", r"\b1\.00\b[^().;\n]{0,40}\(%s bytes?\b" % NUMBER, 0),
    ("ARCHIVE_SIZE_V101", r"\b1\.01\b[^().;\n]{0,40}\(%s bytes?\b" % NUMBER, 0),
    ("ARCHIVE_SIZE_PATCH_MISSING",
     r"(?:not yet applied|placeholder)[^().;\n]{0,40}\(%s bytes?\)|\b(\w+)-byte placeholder"
     % NUMBER, 0),
    ("UPDATE_HEAD_LENGTH", r"\b%s(?: bytes of the|-byte) update data|\bupdate data \(%s bytes?\)"
     % (NUMBER, NUMBER), 0),
    ("REPLACED_HEAD_LENGTH", r"\bfirst %s bytes\b" % NUMBER, 0),
    ("KEPT_TAIL_LENGTH", r"\b%s(?: bytes of the|-byte) (?:kept )?tail\b" % NUMBER, 0),
    # A capacity counts the terminator: the longest value is one byte less.
    ("DIR_VALUE_CAPACITY", r"\bvalue\b[^.;\n]{0,60}?\blonger than %s bytes" % NUMBER, 1),
    ("DIR_VALUE_CAPACITY", r"\bvalue of any 0 to %s bytes|\b%s-byte value without"
     % (NUMBER, NUMBER), 0),
    (BUFFERS, r"\b%s(?:-byte| bytes?) (?:[\w-]+ ){0,2}buffer\b|\bbuffer of %s bytes"
     % (NUMBER, NUMBER), 0),
]

NAMES = [
    ("UPDATE_DATA_FILE", r"(?<![\w.-])[\w.-]*\w\.dat\b", None),
    ("ARCHIVE_RELATIVE_PATH", r"\b\w+[\\/][\w-]+\.ovp\b(?!\.\w)", lambda s: s.replace("/", "\\")),
    ("ARCHIVE_RELATIVE_PATH", r"(?<![\w.\\/-])[\w-]+\.ovp\b(?!\.\w)", "basename"),
    ("RESCUE_NAME", r"(?<![\w.-])[\w.-]*\w\.backup(?!\w)", None),
    ("MARKER_INSTALL_INI", r"(?<![\w.-])[\w.-]*\w\.ini\b", None),
    ("MARKER_PAC_DIR", r"`(\w+)` folder\b", None),
    ("REGISTRY_KEY", r"\bSoftware\\[\w\\]*\w", None),
    ("REGISTRY_DIR_VALUE", r"\bvalue [`\"](\w+)[`\"]|[`\"](\w+)[`\"] value\b", None),
    ("GUARD_MUTEX_NAME", r"\bmutex [`\"]([^`\"]+)[`\"]|[`\"]([^`\"]+)[`\"] mutex\b", None),
]

SMALLEST_NEARBY = 10000
NEARBY = 0.02
FIGURE = re.compile(r"(\d[\d,]*(?:\.\d+)?)(?: |-)?(bytes?|B|KiB|MiB|GiB)\b")
UNITS = {"byte": 1, "bytes": 1, "B": 1, "KiB": 1 << 10, "MiB": 1 << 20, "GiB": 1 << 30}
MEASURED = "<!-- measured -->"


def read_values(path):
    """The dump's names and numbers (numbers as int); the texts are not read."""
    return {name: int(value) if value.isdigit() else value
            for name, value in program_values.read_values(path).items()
            if not name.endswith("_HEX")}


def flatten(path):
    """The record's lines joined by spaces (indents dropped, a blank line
    kept as a line break), where each line starts, and which lines are
    measurements."""
    text, starts, measured, inside = "", [], set(), False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            inside = (inside or line == MEASURED) and not line.startswith("#")
            if inside:
                measured.add(number)
            starts.append(len(text))
            text += (line + " ") if line else "\n"
    return text, starts, measured


def as_number(text):
    return WORDS.get(text.lower()) if text.isalpha() else int(text.replace(",", ""))


def stated(match):
    """The group that matched (the whole match when there is none) and where it starts."""
    for i, group in enumerate(match.groups(), 1):
        if group is not None:
            return group, match.start(i)
    return match.group(0), match.start()


def same_as_written(size, value, unit, digits):
    shown = size / UNITS[unit]
    return value in (round(shown, digits), int(shown * 10 ** digits) / 10 ** digits)


def check(path, values):
    text, starts, measured = flatten(path)
    problems = []

    def line_of(position):
        return bisect.bisect_right(starts, position)

    def compare(name, match, expected=lambda v: v, said=None):
        """What match states must be expected(value) of name, or of one of
        the buffers."""
        text_said, position = stated(match)
        said = text_said if said is None else said
        names = [n for n in values if n.endswith(("_BYTES", "_CAPACITY"))] \
            if name == BUFFERS else [name] if name in values else []
        where = "%s:%d" % (path, line_of(position))
        if not names:
            problems.append("%s: states %s, which the dump lacks" % (where, name))
        elif all(said != expected(values[n]) for n in names):
            problems.append("%s: states %s as %s; the program's is %s" % (
                where, name, said, " or ".join(str(expected(values[n])) for n in names)))

    for name, pattern, adjust in NAMES:
        for m in re.finditer(pattern, text, re.ASCII):
            if adjust == "basename":
                compare(name, m, lambda v: v.split("\\")[-1])
            else:
                compare(name, m, said=adjust(stated(m)[0]) if adjust else None)
    tries = values.get("RESCUE_NAME_TRIES", 0)
    for m in re.finditer(r"backup(\d+)\b", text):
        if int(m.group(1)) > tries:
            compare("RESCUE_NAME_TRIES", m, lambda v: "at most %d" % v, int(m.group(1)))
    for m in re.finditer(r"backup\d+\W*to\W*backup(\d+)\b", text):
        compare("RESCUE_NAME_TRIES", m, said=int(m.group(1)))
    phrased = set()
    for name, pattern, less in SIZES:
        for m in re.finditer(pattern, text, re.ASCII):
            said, position = stated(m)
            phrased.add(position)
            if as_number(said) is not None:
                compare(name, m, lambda v: v - less, as_number(said))

    sizes = {n: v for n, v in values.items() if isinstance(v, int) and v >= SMALLEST_NEARBY}
    for m in FIGURE.finditer(text):
        written, unit = m.group(1).replace(",", ""), m.group(2)
        value, digits = float(written), len(written.partition(".")[2])
        if m.start() in phrased or line_of(m.start()) in measured or \
                any(same_as_written(s, value, unit, digits) for s in sizes.values()):
            continue
        off = {n: abs(value * UNITS[unit] - s) / s for n, s in sizes.items()}
        near = min(off, key=off.get, default=None)
        if near is not None and off[near] <= NEARBY:
            problems.append("%s:%d: %s is close to %s (%d bytes) but is not it: a stale copy, "
                            "or a measurement to mark %s" % (path, line_of(m.start()), m.group(0),
                                                             near, sizes[near], MEASURED))
    return problems


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    values = read_values(argv[1])
    problems = [p for path in argv[2:] for p in check(path, values)]
    for line in problems:
        print("records: " + line, file=sys.stderr)
    if problems:
        return 1
    print("records: %d records agree with the program's dump" % (len(argv) - 2))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
