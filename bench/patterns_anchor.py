#!/usr/bin/env python3
"""The anchor for bench_patterns: Python's re running the same patterns (bench/patterns.txt) over
the same item pages, as a Python scraper would. Prints the throughput in MB/s of UTF-16 text.

usage: patterns_anchor.py PAGES_DIR [SECONDS]
"""
import pathlib
import re
import sys
import time


def decode(raw: bytes) -> str:
    # The pages are UTF-8 or GBK (the raw server pages); try UTF-8 first, as the program does.
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("gbk", errors="replace")


def main() -> int:
    pages_dir = pathlib.Path(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
    here = pathlib.Path(__file__).resolve().parent
    patterns = []
    for line in (here / "patterns.txt").read_text(encoding="utf-8").splitlines():
        if not line or line.startswith("#"):
            continue
        kind, pattern = line.split("\t", 1)
        patterns.append((kind, pattern))
    pages = [decode(p.read_bytes()) for p in sorted(pages_dir.glob("*.html"))]
    if not pages:
        print("no pages in", pages_dir, file=sys.stderr)
        return 1
    utf16_bytes = sum(len(p.encode("utf-16-le")) for p in pages)
    # Compiled once, like a scraper that keeps its expressions (re caches them anyway).
    compiled = [(k, re.compile(p) if k == "first" else re.compile(p, re.IGNORECASE)) for k, p in patterns]
    runs = 0
    start = time.perf_counter()
    while True:
        for page in pages:
            for kind, rx in compiled:
                if kind == "first":
                    m = rx.search(page)
                    if m:
                        m.group(1)
                else:
                    rx.findall(page)
        runs += 1
        elapsed = time.perf_counter() - start
        if elapsed >= seconds:
            break
    mb = runs * len(patterns) * utf16_bytes / 1e6
    print(f"{mb / elapsed:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
