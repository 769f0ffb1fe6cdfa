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

    def missing(self, figure, why, fails=False):
        """A figure without a result: `fails` when its benchmark ran and gave none."""
        self.rows.append((figure, None, None, None, why, "FAILED" if fails else ""))

    def print(self):
        print(f"{'figure':<50} {'ours':>11} {'anchor':>11} {'ratio':>7}  goal")
        print("-" * 96)
        failed = 0
        for figure, ours, anchor, ratio, goal, unit in self.rows:
            if ours is None:
                failed += 1 if unit == "FAILED" else 0
                print(f"{figure:<50} {'—':>11} {'—':>11} {'—':>7}  {goal} {unit}")
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


def per_mb(b):
    """Milliseconds per MB of grid file: from the file size counter, else from the bytes per second."""
    return ms(b) / b["file_MB"] if "file_MB" in b else 1e9 / b["bytes_per_second"]


def main():
    folder = pathlib.Path(sys.argv[1])
    t = Table()

    def figure(group, name, results, compute, goal, unit=""):
        """Adds a figure when all its results are there; a group that ran without them fails."""
        if all(results):
            ours, anchor = compute(*results)
            t.add(name, ours, anchor, ours / anchor, goal, unit)
        elif (folder / f"{group}.json").exists():
            t.missing(name, "no result: the benchmark was skipped or failed (see above)", fails=True)

    pat = load(folder, "patterns")
    anchor_file = folder / "patterns_anchor.txt"
    anchor = float(anchor_file.read_text().strip()) if anchor_file.exists() else None
    if pat and anchor is None:
        t.missing("patterns (anchor: Python re)", "needs ../shared/corpus/taobao-item")
    else:
        figure("patterns", "patterns, UTF-16 MB/s (anchor: Python re)", [pat.get("BM_AllPatterns"), anchor],
               lambda b, a: (b["bytes_per_second"] / 1e6, a), at_least(5))

    grid = load(folder, "gridfile")
    for name, ours, floor in (("grid file save, 1,000 items (anchor: write+sync floor)", "BM_SaveGrid/0",
                               "BM_FloorSave"),
                              ("grid file load, 1,000 items (anchor: decipher+decode floor)", "BM_LoadGrid/0",
                               "BM_FloorLoad")):
        figure("gridfile", name, [grid.get(ours), grid.get(floor)], lambda a, b: (ms(a), ms(b)), at_most(1.5), "ms")

    # Wide against narrow, per byte of the grid file.
    wide = load(folder, "wide")
    for name, bench in (("wide table load", "BM_LoadGrid"), ("wide table save", "BM_SaveGrid"),
                        ("wide table table --json", "BM_TableJson")):
        figure("wide", name + ", ms/MB (anchor: narrow)", [wide.get(f"{bench}/1"), wide.get(f"{bench}/2")],
               lambda w, n: (per_mb(w), per_mb(n)), at_most(1.5))

    win = load(folder, "window")
    figure("window", "window start, wide, ms/MB (anchor: narrow)",
           [win.get("BM_WindowAfterLoad/1/manual_time"), win.get("BM_WindowAfterLoad/2/manual_time")],
           lambda w, n: (per_mb(w), per_mb(n)), at_most(1.5))
    figure("window", "window shown after load, 1,000 items", [win.get("BM_WindowAfterLoad/0/manual_time")],
           lambda b: (b["after_load_ms"], 300.0), at_most(1), "ms")

    # On the local simulator, with no network wait, a search is its reading of the pages (decoding,
    # patterns, packing) and curl only downloads them: shown for the record. The searches' goals
    # are in the latency group, where the seller's wait is.
    s = load(folder, "search")
    figure("search", "per-link search, 200 links, local (anchor: curl -Z)",
           [s.get("BM_PerLinkSearch/200"), s.get("BM_CurlParallel/200/manual_time")],
           lambda a, b: (ms(a), ms(b)), REPORT, "ms")
    figure("search", "Taobao search less pauses, 50, local (anchor: curl)",
           [s.get("BM_TaobaoSearchBeyondPauses/50/manual_time"), s.get("BM_CurlSequential/50/manual_time")],
           lambda a, b: (ms(a), ms(b)), REPORT, "ms")
    m = load(folder, "search_memory")
    figure("search_memory", "search memory beyond rows, 200 vs 100 links",
           [m.get("BM_PerLinkSearchMemory/200"), m.get("BM_PerLinkSearchMemory/100")],
           lambda a, b: (a["beyond_rows_MB"], b["beyond_rows_MB"]), at_most(1.25), "MB")

    lat = load(folder, "latency")
    for name, ours, anchor, goal in (
            ("export, 100 items, 50 ms (anchor: curl, 8 at once)", "BM_ExportLatency/100",
             "BM_ExportCurlAnchor/100/manual_time", at_most(1.5)),
            ("Taobao search less pauses, 20, 50 ms (anchor: curl)", "BM_TaobaoSearchLatency/20/manual_time",
             "BM_TaobaoSearchCurlAnchor/20/manual_time", at_most(0.75)),
            ("pictures, 100, 50 ms (anchor: curl, 8 at once)", "BM_PicturesLatency/20",
             "BM_PicturesCurlAnchor/20/manual_time", at_most(1.5))):
        figure("latency", name, [lat.get(ours), lat.get(anchor)], lambda a, b: (ms(a), ms(b)), goal, "ms")

    sc = load(folder, "scale")
    for items, goal in ((1000, at_most(1.5)), (5000, at_most(1.5)), (10000, at_most(1.5))):
        figure("scale", f"table, {items:,} items (anchor: decipher+decode floor)",
               [sc.get(f"BM_ScaleTable/{items}/manual_time"), sc.get(f"BM_ScaleFloor/{items}/manual_time")],
               lambda a, b: (ms(a), ms(b)), goal, "ms")
    for items in (1000, 5000, 10000):
        figure("scale", f"table peak memory, {items:,} items (anchor: text)",
               [sc.get(f"BM_ScaleTable/{items}/manual_time")],
               lambda b: (b["peak_MB"], b["text_MB"]), at_most(0.5), "MB")
    figure("scale", "list, 1,000 items (anchor: empty folder)",
           [sc.get("BM_ScaleList/1000/manual_time"), sc.get("BM_ScaleList/0/manual_time")],
           lambda a, b: (ms(a), ms(b)), at_most(2), "ms")
    for items in (1000, 5000, 10000):
        figure("scale", f"toggle and save, {items:,} items, read back (anchor: table)",
               [sc.get(f"BM_ScaleChangeSave/{items}/manual_time"), sc.get(f"BM_ScaleTable/{items}/manual_time")],
               lambda a, b: (ms(a), ms(b)), REPORT, "ms")

    p = load(folder, "pictures")
    figure("pictures", "watermark (anchor: ImageMagick convert)",
           [p.get("BM_DrawWatermark"), p.get("BM_ImageMagickConvert")], lambda a, b: (ms(a), ms(b)), REPORT, "ms")

    failed = t.print()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
