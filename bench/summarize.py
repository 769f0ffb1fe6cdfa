#!/usr/bin/env python3
"""Reads the JSON results bench/run.sh collected in a folder and prints one table: each figure, the
anchor it is measured against, the ratio and the goal for that ratio.

usage: summarize.py RESULTS_DIR
"""
import json
import pathlib
import re
import sys

UNIT_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def load(folder, name):
    path = folder / f"{name}.json"
    if not path.exists() or path.stat().st_size == 0:
        return {}
    try:
        data = json.loads(path.read_text())
    except json.JSONDecodeError:
        return {}
    results = {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        # A benchmark with repetitions is taken by its median.
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        key = b.get("run_name", b["name"]) if b.get("run_type") == "aggregate" else b["name"]
        key = re.sub(r"/(iterations|repeats):\d+", "", key)
        results[key] = b
    return results


def ms(b):
    return b["real_time"] * UNIT_MS[b.get("time_unit", "ns")]


class Table:
    def __init__(self):
        self.rows = []

    def add(self, figure, ours, anchor, ratio, goal, unit=""):
        self.rows.append((figure, ours, anchor, ratio, goal, unit))

    def missing(self, figure, why):
        self.rows.append((figure, None, None, None, why, ""))

    def print(self):
        print(f"{'figure':<50} {'ours':>11} {'anchor':>11} {'ratio':>7}  goal")
        print("-" * 96)
        failed = 0
        for figure, ours, anchor, ratio, goal, unit in self.rows:
            if ours is None:
                print(f"{figure:<50} {'—':>11} {'—':>11} {'—':>7}  {goal}")
                continue
            text, check = goal
            ok = check(ratio)
            failed += 0 if ok else 1
            print(f"{figure:<50} {ours:>9.1f}{unit:<2} {anchor:>9.1f}{unit:<2} {ratio:>6.2f}×  "
                  f"{text} {'ok' if ok else 'MISSED'}")
        return failed


def at_most(x):
    return (f"≤ {x}×", lambda r: r <= x)


def at_least(x):
    return (f"≥ {x}×", lambda r: r >= x)


# A figure shown for the record, with no goal of its own.
REPORT = ("(for the record)", lambda r: True)


def main():
    folder = pathlib.Path(sys.argv[1])
    t = Table()

    pat = load(folder, "patterns")
    anchor_file = folder / "patterns_anchor.txt"
    if "BM_AllPatterns" in pat and anchor_file.exists():
        ours = pat["BM_AllPatterns"]["bytes_per_second"] / 1e6
        anchor = float(anchor_file.read_text().strip())
        t.add("patterns, UTF-16 MB/s (anchor: Python re)", ours, anchor, ours / anchor, at_least(5))
    elif pat or anchor_file.exists():
        t.missing("patterns (anchor: Python re)", "needs ../shared/corpus/taobao-item")

    grid = load(folder, "gridfile")
    for figure, ours, floor in (("grid file save, 1,000 items", "BM_SaveGrid/0", "BM_FloorEncipher"),
                                ("grid file load, 1,000 items", "BM_LoadGrid/0", "BM_FloorDecipher")):
        if ours in grid and floor in grid:
            a, b = ms(grid[ours]), ms(grid[floor])
            t.add(figure + " (anchor: cipher floor)", a, b, a / b, at_most(1.5), "ms")
    memory = load(folder, "gridfile_memory")
    if "BM_LoadPeakMemory/0" in memory:
        b = memory["BM_LoadPeakMemory/0"]
        t.add("grid file load peak memory (anchor: text)", b["peak_growth_MB"], b["text_MB"],
              b["peak_over_text"], at_most(1.2), "MB")

    # Wide against narrow, per byte of the grid file: both tables come with their file's size.
    wide = load(folder, "wide")
    for figure, name in (("wide table load", "BM_LoadGrid"), ("wide table save", "BM_SaveGrid"),
                         ("wide table table --json", "BM_TableJson")):
        w, n = wide.get(f"{name}/1"), wide.get(f"{name}/2")
        if w and n:
            per_w = ms(w) / w.get("file_MB", 1) if "file_MB" in w else 1e3 / w["bytes_per_second"] * 1e6
            per_n = ms(n) / n.get("file_MB", 1) if "file_MB" in n else 1e3 / n["bytes_per_second"] * 1e6
            t.add(figure + ", ms/MB (anchor: narrow)", per_w, per_n, per_w / per_n, at_most(1.5), "")

    win = load(folder, "window")
    w, n = win.get("BM_WindowAfterLoad/1/manual_time"), win.get("BM_WindowAfterLoad/2/manual_time")
    if w and n:
        per_w, per_n = ms(w) / w["file_MB"], ms(n) / n["file_MB"]
        t.add("window start, wide, ms/MB (anchor: narrow)", per_w, per_n, per_w / per_n, at_most(1.5))
    if "BM_WindowAfterLoad/0/manual_time" in win:
        after = win["BM_WindowAfterLoad/0/manual_time"]["after_load_ms"]
        t.add("window shown after load, 1,000 items", after, 300.0, after / 300.0, at_most(1), "ms")

    s = load(folder, "search")
    a, b = s.get("BM_PerLinkSearch/200"), s.get("BM_CurlParallel/200/manual_time")
    if a and b:
        t.add("per-link search, 200 links (anchor: curl -Z)", ms(a), ms(b), ms(a) / ms(b), at_most(3), "ms")
    a, b = s.get("BM_TaobaoSearchBeyondPauses/50/manual_time"), s.get("BM_CurlSequential/50/manual_time")
    if a and b:
        t.add("Taobao search less pauses, 50 (anchor: curl)", ms(a), ms(b), ms(a) / ms(b), at_most(3), "ms")
    m = load(folder, "search_memory")
    a, b = m.get("BM_PerLinkSearchMemory/200"), m.get("BM_PerLinkSearchMemory/100")
    if a and b:
        t.add("search memory beyond rows, 200 vs 100 links", a["beyond_rows_MB"], b["beyond_rows_MB"],
              a["beyond_rows_MB"] / b["beyond_rows_MB"], at_most(1.25), "MB")

    p = load(folder, "pictures")
    a, b = p.get("BM_DrawWatermark"), p.get("BM_ImageMagickConvert")
    if a and b:
        t.add("watermark (anchor: ImageMagick convert)", ms(a), ms(b), ms(a) / ms(b), REPORT, "ms")

    failed = t.print()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
