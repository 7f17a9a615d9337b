#!/usr/bin/env python3
"""Gathers the FIGURE lines of benchmark output into one table: name, our figure, the
baseline's, the ratio, the goal and whether it is met.

A FIGURE line is "FIGURE " followed by one JSON object:
  FIGURE {"name":"...","ours":812.3,"baseline":1020.1,"unit":"ns","goal":"ratio <= 1.0"}
  - name: what is measured (a later line with the same name replaces an earlier one)
  - ours, baseline: numbers in `unit`; baseline null (or left out) for an absolute figure
  - unit: free text ("ns", "MiB", "ms", "messages/s"), the same for both numbers
  - goal: "ratio OP X" judges ours / baseline, "OP X" judges ours itself; OP is <, <=, > or >=;
    empty or left out: no goal, the row is shown for information
Everything else in the input is ignored, so the raw benchmark output can be piped in whole.

usage: scripts/bench_table.py [FILE...]   (standard input without files)
Exit status 0 whatever the figures: on a shared machine a missed goal is news, not a failure.
"""

import fileinput
import json
import operator
import re
import sys

COMPARISONS = {"<": operator.lt, "<=": operator.le, ">": operator.gt, ">=": operator.ge}
GOAL = re.compile(r"^\s*(ratio\s*)?(<=|>=|<|>)\s*([-+]?[0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*$")


def read_figures(lines):
    figures = {}
    problems = []
    for line in lines:
        line = line.strip()
        if not line.startswith("FIGURE "):
            continue
        try:
            figure = json.loads(line[len("FIGURE "):])
            name = str(figure["name"])
            float(figure["ours"])
        except (ValueError, KeyError, TypeError) as error:
            problems.append(f"unreadable FIGURE line ({error}): {line}")
            continue
        figures[name] = figure
    return list(figures.values()), problems


def number(value, unit=""):
    if value is None:
        return "-"
    value = float(value)
    text = f"{value:.0f}" if abs(value) >= 100 else f"{value:#.3g}"
    return f"{text} {unit}".strip()


def judge(figure):
    """(ratio text, goal text, met text) for one figure."""
    ours = float(figure["ours"])
    baseline = figure.get("baseline")
    ratio = ours / float(baseline) if baseline not in (None, 0) else None
    goal = (figure.get("goal") or "").strip()
    ratio_text = f"{ratio:.2f}" if ratio is not None else "-"
    if not goal:
        return ratio_text, "-", "-"
    match = GOAL.match(goal)
    if not match:
        return ratio_text, goal, "unreadable goal"
    on_ratio, op, limit = match.group(1) is not None, match.group(2), float(match.group(3))
    if on_ratio:
        if ratio is None:
            return ratio_text, goal, "no baseline"
        return ratio_text, goal, "yes" if COMPARISONS[op](ratio, limit) else "NO"
    goal_text = f"{op} {match.group(3)} {figure.get('unit', '')}".strip()
    return ratio_text, goal_text, "yes" if COMPARISONS[op](ours, limit) else "NO"


def main():
    figures, problems = read_figures(fileinput.input(sys.argv[1:], encoding="utf-8", errors="replace"))
    header = ("benchmark", "ours", "baseline", "ratio", "goal", "met")
    rows = []
    for figure in figures:
        unit = figure.get("unit", "")
        rows.append((figure["name"], number(figure["ours"], unit), number(figure.get("baseline"), unit),
                     *judge(figure)))
    widths = [max(len(row[i]) for row in [header, *rows]) for i in range(len(header))]

    def line(cells):
        return "  ".join(cell.ljust(width) if i == 0 else cell.rjust(width)
                         for i, (cell, width) in enumerate(zip(cells, widths))).rstrip()

    print(line(header))
    print("  ".join("-" * width for width in widths))
    for row in rows:
        print(line(row))
    judged = [row for row in rows if row[5] in ("yes", "NO")]
    met = sum(1 for row in judged if row[5] == "yes")
    print(f"\n{len(rows)} figures; goals met: {met} of {len(judged)}")
    for problem in problems:
        print(f"bench table: {problem}", file=sys.stderr)


if __name__ == "__main__":
    main()
