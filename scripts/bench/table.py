#!/usr/bin/env python3
"""Prints the benchmark table of scripts/bench/run.sh as Markdown.

    table.py TIMES SPLICE_DISK XDELTA_DISK PATCH_SIZE WINE_ARCH [COMPARED_COMMIT]

TIMES holds one line per timed run: LABEL SECONDS MAX_RSS_KIB. The floor is
the median copy plus the median first touch; every median is also given as
a multiple of it. WINE_ARCH names the build of the program that the whole
update under Wine ran (i686, the shipped one, or x86_64). With
COMPARED_COMMIT, the runs labelled splice-compare and wine-compare (the
splice and the program of that commit) get rows of their own below (a) and
(b). Exit code 1 when the splice misses a target. The archive's size is the
program's own (ORVEX_PROGRAM_VALUES, from program_dump in scripts/lib.sh).
"""
import os
import shlex
import statistics
import sys

with open(os.environ["ORVEX_PROGRAM_VALUES"], encoding="ascii") as values:
    VALUES = dict(shlex.split(line)[0].split("=", 1) for line in values)
ARCHIVE_SIZE_V100 = int(VALUES["ARCHIVE_SIZE_V100"])
MIB = 1024 * 1024
# Targets: the splice within this multiple of the floor, and its peak memory
# no more than its one archive-sized block plus this much.
TIME_TARGET = 1.15
MEMORY_SLACK = 16 * MIB


def load(path):
    runs = {}
    with open(path, encoding="ascii") as lines:
        for line in lines:
            label, seconds, rss_kib = line.split()
            runs.setdefault(label, []).append((float(seconds), int(rss_kib) * 1024))
    return runs


def median_seconds(runs, label):
    return statistics.median(s for s, _ in runs[label])


def floor_seconds(runs):
    """The copy through user space plus the first touch, each its median."""
    return median_seconds(runs, "copy") + median_seconds(runs, "touch")


def verdicts(runs):
    """(time ratio to the floor, time target met, memory target met)."""
    ratio = median_seconds(runs, "splice") / floor_seconds(runs)
    peak = max(r for _, r in runs["splice"])
    return ratio, ratio <= TIME_TARGET, peak <= ARCHIVE_SIZE_V100 + MEMORY_SLACK


def mib(n):
    return f"{n / MIB:.1f} MiB"


def main(argv):
    runs = load(argv[1])
    splice_disk, xdelta_disk, patch_size = (int(x) for x in argv[2:5])
    wine_arch = argv[5]

    def seconds(label):
        return [s for s, _ in runs[label]]

    def peak(label):
        return max(r for _, r in runs[label])

    def median(label):
        return median_seconds(runs, label)

    compared = argv[6] if len(argv) > 6 else None
    floor = floor_seconds(runs)
    rows = [
        ("(a) splice, shipped code, native", "splice", mib(peak("splice")),
         f"{splice_disk} B (in place)"),
    ]
    if compared:
        rows.append((f"(a) the same, code of {compared}", "splice-compare",
                     mib(peak("splice-compare")), "-"))
    rows.append((f"(b) whole update under Wine, {wine_arch} program (box driver)",
                 "wine", "-", "-"))
    if compared:
        rows.append((f"(b) the same, program of {compared}", "wine-compare", "-", "-"))
    rows += [
        ("(c1) floor: dd bs=16M copy, committed (conv=fsync)", "copy", "-", "-"),
        ("(c2) floor: first touch of 609 MiB", "touch", mib(peak("touch")), "-"),
        ("(d) xdelta3 apply", "xdelta", mib(peak("xdelta")),
         f"{mib(xdelta_disk)} (+ patch {patch_size} B)"),
        ("reference: dd over a copy, truncated on open", "truncated", "-", "-"),
        ("reference: dd over a copy, overwritten in place", "overwritten", "-", "-"),
    ]
    if "cached" in runs:
        rows.append(("reference: dd bs=16M copy left in the page cache (no fsync)",
                     "cached", "-", "-"))
    rounds = len(seconds("splice"))
    print(f"{rounds} rounds; median, spread (min to max) in seconds; "
          f"ratio = median / floor (c) = {floor:.2f} s.\n")
    print("| Figure | Median s | Spread s | Ratio to floor | Peak memory | Extra disk |")
    print("|---|---:|---:|---:|---:|---|")
    for name, label, memory, disk in rows:
        values = seconds(label)
        print(f"| {name} | {median(label):.2f} | {min(values):.2f} to {max(values):.2f} "
              f"| {median(label) / floor:.2f} | {memory} | {disk} |")
    print(f"| (c) floor = (c1) + (c2) | {floor:.2f} | | 1.00 | | |")

    time_ratio, time_ok, memory_ok = verdicts(runs)
    memory_limit = ARCHIVE_SIZE_V100 + MEMORY_SLACK
    print()
    print(f"- Splice time: {time_ratio:.2f} x floor, target {TIME_TARGET}: "
          f"{'met' if time_ok else 'MISSED'}.")
    print(f"- Splice peak memory: {mib(peak('splice'))}, target at most {mib(memory_limit)}: "
          f"{'met' if memory_ok else 'MISSED'}.")
    return 0 if time_ok and memory_ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
