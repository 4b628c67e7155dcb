#!/usr/bin/env python3
"""Prints two runs of zol_bench side by side as a Markdown table.

    bench_compare.py BEFORE.json AFTER.json

Rows follow the order of the second run; figures only the first run has come last. Each run
has its own floor, taken in that run.
"""
import json
import sys


def cell(figure, key):
    if figure is None:
        return "—"
    if key in ("floor", "figure"):
        value = figure[key]
        if key == "floor" and value == 0:
            return "—"
        return f"{value:.3f}"
    return figure[key]


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1]) as f:
        before = json.load(f)
    with open(argv[2]) as f:
        after = json.load(f)
    old = {f["name"]: f for f in before["figures"]}
    new = {f["name"]: f for f in after["figures"]}
    names = [f["name"] for f in after["figures"]]
    names += [f["name"] for f in before["figures"] if f["name"] not in new]

    print(f"before: {before['zol']} ({before['mode']}, load {before['load_before']:.2f} to "
          f"{before['load_after']:.2f})")
    print(f"after:  {after['zol']} ({after['mode']}, load {after['load_before']:.2f} to "
          f"{after['load_after']:.2f})")
    print()
    print("| figure | unit | floor before | before | floor after | after | target | met before "
          "| met after |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name in names:
        b, a = old.get(name), new.get(name)
        some = a or b
        print(f"| {name} | {some['unit']} | {cell(b, 'floor')} | {cell(b, 'figure')} | "
              f"{cell(a, 'floor')} | {cell(a, 'figure')} | {some['target']} | {cell(b, 'met')} | "
              f"{cell(a, 'met')} |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
