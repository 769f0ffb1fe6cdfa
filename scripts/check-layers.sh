#!/usr/bin/env bash
# Checks that every source under src/ includes only headers of its own layer or the layers below
# it, that the subsystems include no other subsystem but the ones named below, and that the two
# front ends reach the program through the core alone (src/app, and the shared basics of src/base).
# Prints each include that breaks a rule and exits with 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"

# The layer of each folder; a folder may include its own layer's and lower layers' headers.
declare -A rank=(
    [base]=0
    [platform]=1
    [config]=2
    [web]=3 [table]=3
    [collect]=4 [acquire]=4 [pictures]=4 [update]=4 [export]=4
    [app]=5
    [gui]=6 [cli]=6
)
# Includes between folders of the same layer that are allowed (anything else within a layer is not,
# so the subsystems stay independent and the two front ends never meet).
allowed=" web>table export>acquire export>pictures "
# The only folders below them that the front ends may include.
frontDoor=" app base "

status=0
while IFS= read -r line; do
    file=${line%%:*}
    header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${line#*:}")
    from=${file%%/*}
    to=${header%%/*}
    [[ -n ${rank[$to]+x} ]] || continue # a header of no layer (none today)
    if [[ -z ${rank[$from]+x} ]]; then
        echo "check-layers: $file: the folder '$from' has no layer; add it to scripts/check-layers.sh" >&2
        status=1
        continue
    fi
    if [[ $from == gui || $from == cli ]] && [[ $to != "$from" && $frontDoor != *" $to "* ]]; then
        echo "check-layers: $file includes $header: a front end goes through src/app" >&2
        status=1
    elif ((rank[$to] > rank[$from])); then
        echo "check-layers: $file includes $header, a layer above its own" >&2
        status=1
    elif ((rank[$to] == rank[$from])) && [[ $from != "$to" && $allowed != *" $from>$to "* ]]; then
        echo "check-layers: $file includes $header: '$from' may not use '$to'" >&2
        status=1
    fi
done < <(grep -rEo --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' . | sed 's|^\./||')

if ((status == 0)); then
    echo "check-layers: every include runs down the layers"
fi
exit $status
