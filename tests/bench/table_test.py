#!/usr/bin/env python3
"""Checks the benchmark table's arithmetic and verdicts (ctest and
scripts/bench/run.sh run it):
ORVEX_PROGRAM_VALUES=FILE python3 tests/bench/table_test.py, FILE from program_dump."""
import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "scripts", "bench"))
import table  # noqa: E402

LIMIT = table.ARCHIVE_SIZE_V100 + table.MEMORY_SLACK


def runs_with(splice, copy=(1.0,), touch=(0.0,), splice_rss=table.ARCHIVE_SIZE_V100):
    rss = lambda values, size: [(s, size, 0) for s in values]
    return {
        "splice": rss(splice, splice_rss),
        "copy": rss(copy, 0),
        "touch": rss(touch, 0),
    }


class FloorTest(unittest.TestCase):
    def test_floor_adds_the_two_medians(self):
        runs = runs_with((1.0,), copy=(1.0, 3.0), touch=(0.5, 9.0, 0.7))
        # Even count: the mean of the middle two; odd: the middle one.
        self.assertAlmostEqual(table.floor_seconds(runs), 2.0 + 0.7)


class VerdictTest(unittest.TestCase):
    def test_time_target_is_judged_on_the_median(self):
        cases = [
            # splice seconds per round against a floor of 1.0 s
            ((1.10,), True),
            ((1.20,), False),
            ((1.0, 1.1, 9.0), True),    # one slow round does not decide
            ((1.2, 1.3, 0.1), False),   # nor does one fast round
        ]
        for splice, met in cases:
            with self.subTest(splice=splice):
                ratio, time_ok, _ = table.verdicts(runs_with(splice))
                self.assertEqual(time_ok, met, ratio)

    def test_memory_target_allows_the_block_plus_slack(self):
        cases = [(LIMIT, True), (LIMIT + 1024, False), (table.ARCHIVE_SIZE_V100, True)]
        for peak, met in cases:
            with self.subTest(peak=peak):
                _, _, memory_ok = table.verdicts(runs_with((1.0,), splice_rss=peak))
                self.assertEqual(memory_ok, met)


class MainTest(unittest.TestCase):
    def render(self, lines, compared=()):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write("".join(line + "\n" for line in lines))
        self.addCleanup(os.unlink, f.name)
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = table.main(["table.py", f.name, "0", table.VALUES["ARCHIVE_SIZE_V101"],
                                 "166000", "i686", *compared])
        return status, out.getvalue()

    def lines(self, splice_seconds, splice_rss_kib, cache="warm", xdelta_seconds="1.50"):
        return [f"{label} {cache} {figures}" for label, figures in [
            ("splice", f"{splice_seconds} {splice_rss_kib} 155914"),
            ("wine", "3.00 1000 9000"),
            ("copy", "0.50 2000 300"),
            ("touch", "0.50 623200 156000"),
            ("xdelta", f"{xdelta_seconds} 76000 18676"),
            ("truncated", "0.70 2000 300"),
            ("overwritten", "0.30 2000 300"),
        ]]

    def test_exit_status_and_table_follow_the_targets(self):
        status, text = self.render(self.lines("1.05", 624500))
        self.assertEqual(status, 0)
        self.assertIn("| (a) splice, shipped code, native | 1.05 |", text)
        self.assertIn("| 1.05 | 609.9 MiB |", text)  # ratio, then RSS read as KiB
        self.assertIn("| (b) whole update under Wine, i686 program (box driver) | 3.00 |", text)
        self.assertNotIn("MISSED", text)

        status, text = self.render(self.lines("1.30", 624500))
        self.assertEqual(status, 1)
        self.assertIn("Splice time: 1.30 x floor, target 1.15: MISSED", text)

    def test_compared_commit_gets_its_rows_after_each_own_row(self):
        lines = self.lines("1.05", 624500) + ["splice-compare warm 0.80 624000 155900",
                                              "wine-compare warm 2.00 1000 9000",
                                              "cached warm 1.50 2000 300"]
        status, text = self.render(lines, ["abc1234"])
        self.assertEqual(status, 0)
        rows = [row.split(" | ")[0] for row in text.splitlines() if row.startswith("| (")]
        self.assertEqual(rows[:4], ["| (a) splice, shipped code, native",
                                    "| (a) the same, code of abc1234",
                                    "| (b) whole update under Wine, i686 program (box driver)",
                                    "| (b) the same, program of abc1234"])
        self.assertIn("| (b) the same, program of abc1234 | 2.00 | 2.00 to 2.00 | 2.00 |", text)
        self.assertIn("| reference: dd bs=16M copy left in the page cache (no fsync) | 1.50 |",
                      text)
        # The verdicts stay those of the code under test.
        self.assertIn("Splice time: 1.05 x floor", text)

    def test_each_cache_state_is_judged_on_its_own_runs(self):
        # Cold and warm differ everywhere, and the patcher left uncommitted is
        # far faster than committed: a median over both states, or the wrong
        # patcher row, gives other ratios.
        lines = (self.lines("2.83", 624500, "cold", xdelta_seconds="1.76")
                 + self.lines("2.92", 624500, "warm", xdelta_seconds="2.03")
                 + ["xdelta-cached cold 0.40 76000 18600", "xdelta-cached warm 0.30 76000 18600"])
        status, text = self.render(lines)
        self.assertEqual(status, 1)
        _, cold, warm = text.split("\n### ")
        self.assertTrue(cold.startswith("Cold:"), cold)
        self.assertIn("committed: 1.61 x (2.83 s against 1.76 s)", cold)
        self.assertIn("committed: 1.44 x (2.92 s against 2.03 s)", warm)
        self.assertIn("| 609.9 MiB | 155,914 |", warm)  # the splice's own faults
        # The first touch: 0.50 s over 156,000 faults.
        self.assertIn("3.2 microseconds a minor fault (c2); the splice's 155,914 faults "
                      "at that price: 0.50 s of its 2.83 s", cold)
        self.assertIn("Splice time: 2.83 x floor, target 1.15: MISSED (cold)", text)
        self.assertIn("Splice time: 2.92 x floor, target 1.15: MISSED (warm)", text)

    def test_a_run_without_cold_lines_says_so(self):
        status, text = self.render(self.lines("1.05", 624500))
        self.assertEqual(status, 0)
        self.assertIn("could not be dropped: warm rows only", text)
        self.assertNotIn("### Cold", text)


if __name__ == "__main__":
    unittest.main()
