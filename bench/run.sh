#!/usr/bin/env bash
# Builds the benchmarks, runs each beside its anchor in this same run, and prints one table: our
# figure, the anchor's, the ratio and the goal. Takes about ten minutes on two cores.
#   bench/run.sh            everything
#   bench/run.sh patterns   only the groups named: patterns gridfile wide window search latency
#                           scale pictures
# The scale group writes working folders of 1,000, 5,000 and 10,000 items (about 13 GB with the
# shared corpus's pages) under the temporary folder and removes them at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
# The anchors: Python's re, curl and ImageMagick's convert.
TOVREL_PACKAGES+=(python3 curl imagemagick)
ensure_packages
build_all

groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(patterns gridfile wide window search latency scale pictures)
wanted() { local g; for g in "${groups[@]}"; do [ "$g" = "$1" ] && return 0; done; return 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
bin=build/bench
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---no-sandbox}"
corpus="$(cd .. && pwd)/shared/corpus"

# One benchmark program with a filter, its results as JSON in $out/NAME.json.
run() {
    local name=$1 program=$2 filter=$3
    echo "running $name ..." >&2
    "$bin/$program" --benchmark_filter="$filter" --benchmark_format=json >"$out/$name.json" 2>"$out/$name.log" ||
        { echo "$name failed:" >&2; tail -n 20 "$out/$name.log" >&2; }
}

if wanted patterns; then
    run patterns bench_patterns '^BM_AllPatterns$'
    if [ -d "$corpus/taobao-item" ]; then
        echo "running the Python re anchor ..." >&2
        python3 bench/patterns_anchor.py "$corpus/taobao-item" 5 >"$out/patterns_anchor.txt"
    fi
fi
# The floors first, before the disk is busy with the saved tables.
wanted gridfile && run gridfile bench_gridfile 'Floor|Grid/0'

wanted wide && run wide bench_gridfile 'Grid/[12]|TableJson'
wanted window && [ -x "$bin/bench_window" ] && run window bench_window 'WindowAfterLoad'
if wanted search; then
    run search bench_search 'PerLinkSearch/|CurlParallel|BeyondPauses|CurlSequential'
    run search_memory bench_search 'PerLinkSearchMemory'
fi
wanted latency && run latency bench_latency '.'
wanted scale && run scale bench_scale '.'
wanted pictures && run pictures bench_pictures 'DrawWatermark|ImageMagick'

python3 bench/summarize.py "$out"
