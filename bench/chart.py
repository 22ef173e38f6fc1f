#!/usr/bin/env python3
"""Draws the time per edit from compare.py --json as an SVG chart.

One panel per picture size above the tiny one: for each edit, a bar for the
host, the library editing the picture onto itself, and each peer; cat and
the two-pass floor are drawn across every edit as lines.

    chart.py RESULTS.json OUTPUT.svg
"""

import json
import sys

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402  (the back end is chosen first)

EDITS = ["copy", "brighten", "darken", "gray", "invert", "threshold", "noise"]
OWN = ["tintwell", "tintwell in place"]
LINES = {"cat": "black", "two pass": "tab:red"}


def bars_of(size):
    """{tool: {edit: median wall seconds}} for the host, in place and each peer."""
    bars = {}
    for command in size["commands"]:
        if command["wall"] is None or command["edit"] not in EDITS:
            continue
        if command["tool"] in LINES or command["tool"] in ("rand()", "whole copy"):
            continue
        if "[" in command["tool"]:
            continue  # a variant library, timed for comparison only
        bars.setdefault(command["tool"], {})[command["edit"]] = command["wall"]
    tools = [t for t in OWN if t in bars] + sorted(t for t in bars if t not in OWN)
    return [(tool, bars[tool]) for tool in tools]


def draw(sizes, output):
    shown = [s for s in sizes if (s["width"], s["height"]) != (16, 16)]
    figure, panels = plt.subplots(len(shown), 1, figsize=(10, 4.2 * len(shown)), squeeze=False)
    for panel, size in zip(panels[:, 0], shown):
        bars = bars_of(size)
        width = 0.8 / max(1, len(bars))
        for number, (tool, times) in enumerate(bars):
            xs = [i + (number - (len(bars) - 1) / 2) * width for i, edit in enumerate(EDITS) if edit in times]
            panel.bar(xs, [times[e] for e in EDITS if e in times], width, label=tool)
        for command in size["commands"]:
            if command["tool"] in LINES and command["wall"] is not None:
                panel.axhline(command["wall"], color=LINES[command["tool"]], linestyle="--", linewidth=1,
                              label=f"{command['tool']} ({command['wall'] * 1000:.0f} ms)")
        panel.set_yscale("log")
        panel.set_xticks(range(len(EDITS)), EDITS)
        panel.set_ylabel("median wall seconds (log)")
        pixels = 3 * size["width"] * size["height"] / (1 << 20)
        panel.set_title(f"{size['width']} x {size['height']} ({pixels:.0f} MiB of pixels)")
        panel.legend(fontsize="small", ncol=3)
    figure.tight_layout()
    figure.savefig(output, metadata={"Date": None})


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: chart.py RESULTS.json OUTPUT.svg")
    with open(sys.argv[1]) as results:
        draw(json.load(results), sys.argv[2])


if __name__ == "__main__":
    main()
