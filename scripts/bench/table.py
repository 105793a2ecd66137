#!/usr/bin/env python3
"""Prints the benchmark table of scripts/bench/run.sh as Markdown.

    table.py TIMES SPLICE_DISK XDELTA_DISK PATCH_SIZE WINE_ARCH [COMPARED_COMMIT]

TIMES holds one line per timed run: LABEL CACHE SECONDS MAX_RSS_KIB
MINOR_FAULTS, CACHE cold (the page cache dropped before the run) or warm.
Each cache state gets a table of its own, cold first; a run without cold
lines (the cache could not be dropped) says so. In each table the floor is
the median copy plus the median first touch; every median is also given as
a multiple of it. WINE_ARCH names the build of the program that the whole
update under Wine ran (i686, the shipped one, or x86_64). With
COMPARED_COMMIT, the runs labelled splice-compare and wine-compare (the
splice and the program of that commit) get rows of their own below (a) and
(b). Exit code 1 when the splice misses a target in either table. The
archive's size is the program's own (ORVEX_PROGRAM_VALUES, from program_dump
in scripts/lib.sh).
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
    """{cache: {label: [(seconds, max RSS in bytes, minor faults), ...]}}."""
    runs = {}
    with open(path, encoding="ascii") as lines:
        for line in lines:
            label, cache, seconds, rss_kib, faults = line.split()
            runs.setdefault(cache, {}).setdefault(label, []).append(
                (float(seconds), int(rss_kib) * 1024, int(faults)))
    return runs


def median_seconds(runs, label):
    return statistics.median(s for s, _, _ in runs[label])


def median_faults(runs, label):
    return statistics.median(f for _, _, f in runs[label])


def peak(runs, label):
    return max(r for _, r, _ in runs[label])


def floor_seconds(runs):
    """The copy through user space plus the first touch, each its median."""
    return median_seconds(runs, "copy") + median_seconds(runs, "touch")


def verdicts(runs):
    """(time ratio to the floor, time target met, memory target met)."""
    ratio = median_seconds(runs, "splice") / floor_seconds(runs)
    return (ratio, ratio <= TIME_TARGET,
            peak(runs, "splice") <= ARCHIVE_SIZE_V100 + MEMORY_SLACK)


def mib(n):
    return f"{n / MIB:.1f} MiB"


# The cache states in the order of the tables, each with its heading.
CACHES = [
    ("cold", "Cold: the page cache dropped before each step"),
    ("warm", "Warm: all files in the page cache"),
]


def print_table(runs, rows):
    floor = floor_seconds(runs)
    print("| Figure | Median s | Spread s | Ratio to floor | Peak memory "
          "| Minor faults | Extra disk |")
    print("|---|---:|---:|---:|---:|---:|---|")
    for name, label, show_memory, disk in rows:
        values = [s for s, _, _ in runs[label]]
        median = median_seconds(runs, label)
        memory = mib(peak(runs, label)) if show_memory else "-"
        # Wine starts a Windows program (the updater, from the box driver)
        # through a double fork, so time never waits for it and its faults
        # are not in the figures.
        faults = "-" if label.startswith("wine") else f"{median_faults(runs, label):,.0f}"
        print(f"| {name} | {median:.2f} | {min(values):.2f} to {max(values):.2f} "
              f"| {median / floor:.2f} | {memory} | {faults} | {disk} |")
    print(f"| (c) floor = (c1) + (c2) | {floor:.2f} | | 1.00 | | | |")


def print_findings(runs):
    """What the design costs against the patcher, and what fresh memory costs."""
    splice = median_seconds(runs, "splice")
    print(f"- Splice against (d) xdelta3 with its output committed: "
          f"{splice / median_seconds(runs, 'xdelta'):.2f} x "
          f"({splice:.2f} s against {median_seconds(runs, 'xdelta'):.2f} s).")
    # The first touch does little else than take fresh pages, one fault each:
    # its time over its faults is what one costs on this machine.
    per_fault = median_seconds(runs, "touch") / median_faults(runs, "touch")
    splice_faults = median_faults(runs, "splice")
    print(f"- Fresh memory: {per_fault * 1e6:.1f} microseconds a minor fault (c2); the splice's "
          f"{splice_faults:,.0f} faults at that price: {splice_faults * per_fault:.2f} s "
          f"of its {splice:.2f} s.")


def main(argv):
    by_cache = load(argv[1])
    splice_disk, xdelta_disk, patch_size = (int(x) for x in argv[2:5])
    wine_arch = argv[5]
    compared = argv[6] if len(argv) > 6 else None

    rows = [
        ("(a) splice, shipped code, native", "splice", True, f"{splice_disk} B (in place)"),
    ]
    if compared:
        rows.append((f"(a) the same, code of {compared}", "splice-compare", True, "-"))
    rows.append((f"(b) whole update under Wine, {wine_arch} program (box driver)",
                 "wine", False, "-"))
    if compared:
        rows.append((f"(b) the same, program of {compared}", "wine-compare", False, "-"))
    rows += [
        ("(c1) floor: dd bs=16M copy, committed (conv=fsync)", "copy", False, "-"),
        ("(c2) floor: first touch of 609 MiB", "touch", True, "-"),
        ("(d) xdelta3 apply, output committed (sync FILE)", "xdelta", True,
         f"{mib(xdelta_disk)} (+ patch {patch_size} B)"),
        ("reference: xdelta3 apply, output left in the page cache (no fsync)",
         "xdelta-cached", True, "-"),
        ("reference: dd over a copy, truncated on open", "truncated", False, "-"),
        ("reference: dd over a copy, overwritten in place", "overwritten", False, "-"),
        ("reference: dd bs=16M copy left in the page cache (no fsync)", "cached",
         False, "-"),
    ]
    caches = [(cache, heading) for cache, heading in CACHES if cache in by_cache]
    first = by_cache[caches[0][0]]
    print(f"{len(first['splice'])} rounds; median, spread (min to max) in seconds; "
          f"ratio = median / floor (c) of the same table; minor faults: median.")
    if "cold" not in by_cache:
        print("\nThe page cache could not be dropped: warm rows only.")
    for cache, heading in caches:
        runs = by_cache[cache]
        print(f"\n### {heading}\n")
        # The reference rows are shown where they were timed; the others
        # must be there.
        print_table(runs, [row for row in rows
                           if row[1] in runs or not row[0].startswith("reference")])
        print()
        print_findings(runs)

    print()
    all_met = True
    for cache, _ in caches:
        time_ratio, time_ok, memory_ok = verdicts(by_cache[cache])
        all_met = all_met and time_ok and memory_ok
        print(f"- Splice time: {time_ratio:.2f} x floor, target {TIME_TARGET}: "
              f"{'met' if time_ok else 'MISSED'} ({cache}).")
    splice_peak = max(peak(runs, "splice") for runs in by_cache.values())
    print(f"- Splice peak memory: {mib(splice_peak)}, target at most "
          f"{mib(ARCHIVE_SIZE_V100 + MEMORY_SLACK)}: "
          f"{'met' if splice_peak <= ARCHIVE_SIZE_V100 + MEMORY_SLACK else 'MISSED'}.")
    return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
