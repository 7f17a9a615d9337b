#!/usr/bin/env python3
"""The table of `make bench`: which FIGURE lines it reads and how it judges goals."""

import importlib.util
import pathlib
import subprocess
import sys
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parent.parent / "bench_table.py"
loader_spec = importlib.util.spec_from_file_location("bench_table", SCRIPT)
bench_table = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(bench_table)


def figure(ours, baseline=None, goal="", unit="ns", name="f"):
    return {"name": name, "ours": ours, "baseline": baseline, "unit": unit, "goal": goal}


class JudgeTest(unittest.TestCase):
    CASES = [
        # (figure, expected (ratio, goal, met))
        (figure(50, 100, "ratio <= 1.0"), ("0.50", "ratio <= 1.0", "yes")),
        (figure(100, 100, "ratio <= 1.0"), ("1.00", "ratio <= 1.0", "yes")),
        (figure(100, 100, "ratio < 1.0"), ("1.00", "ratio < 1.0", "NO")),
        (figure(150, 100, "ratio<=1.3"), ("1.50", "ratio<=1.3", "NO")),
        (figure(900, None, "<= 2000"), ("-", "<= 2000 ns", "yes")),
        (figure(2500, None, "<= 2000"), ("-", "<= 2000 ns", "NO")),
        (figure(7.5, None, "<= 8", unit="MiB"), ("-", "<= 8 MiB", "yes")),
        (figure(5000, 4000, ">= 1.0", unit="messages/s"), ("1.25", ">= 1.0 messages/s", "yes")),
        (figure(5000, 4000, "ratio >= 1.0"), ("1.25", "ratio >= 1.0", "yes")),
        (figure(10, None, "ratio <= 1.0"), ("-", "ratio <= 1.0", "no baseline")),
        (figure(10, 0, "ratio <= 1.0"), ("-", "ratio <= 1.0", "no baseline")),
        (figure(10, 20, ""), ("0.50", "-", "-")),
        (figure(10, 20, "about half"), ("0.50", "about half", "unreadable goal")),
    ]

    def test_goals(self):
        for case, expected in self.CASES:
            with self.subTest(case=case):
                self.assertEqual(bench_table.judge(case), expected)


class ReadTest(unittest.TestCase):
    def test_only_figure_lines_count_and_the_last_of_a_name_wins(self):
        lines = [
            "decode_capture   523 ns   520 ns   1000",
            'FIGURE {"name":"a","ours":1,"baseline":2,"unit":"ns","goal":""}',
            "ratio a: 1 ns / 2 ns = 0.50",
            'FIGURE {"name":"b","ours":3,"unit":"MiB"}',
            'FIGURE {"name":"a","ours":4,"baseline":2,"unit":"ns","goal":""}',
        ]
        figures, problems = bench_table.read_figures(lines)
        self.assertEqual([(f["name"], f["ours"]) for f in figures], [("a", 4), ("b", 3)])
        self.assertEqual(problems, [])

    def test_unreadable_lines_are_reported_not_fatal(self):
        lines = ['FIGURE {"name":"a"', 'FIGURE {"ours":1}', 'FIGURE {"name":"c","ours":"fast"}']
        figures, problems = bench_table.read_figures(lines)
        self.assertEqual(figures, [])
        self.assertEqual(len(problems), 3)

    def test_the_table_from_raw_output(self):
        raw = ("noise\n"
               'FIGURE {"name":"decode","ours":500,"baseline":1000,"unit":"ns","goal":"ratio <= 1.0"}\n'
               'FIGURE {"name":"memory","ours":9.5,"baseline":null,"unit":"MiB","goal":"<= 8"}\n')
        result = subprocess.run([sys.executable, str(SCRIPT)], input=raw, capture_output=True, text=True,
                                check=True)
        rows = result.stdout.splitlines()
        self.assertRegex(rows[2], r"^decode\s+500 ns\s+1000 ns\s+0\.50\s+ratio <= 1\.0\s+yes$")
        self.assertRegex(rows[3], r"^memory\s+9\.50 MiB\s+-\s+-\s+<= 8 MiB\s+NO$")
        self.assertIn("2 figures; goals met: 1 of 2", result.stdout)


if __name__ == "__main__":
    unittest.main()
