#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Times image-bench against `objcopy -I ihex -O binary` on the same full-capacity HEX file
# (about 4 MB of text, made by objcopy from random bytes), whole process against whole process.
# Prints the median wall time of each over RUNS runs and their ratio.
#   bench/compare-objcopy.sh [BUILD-DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-21}
bench=$(realpath "$build/bench/image-bench")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A full image: 1,441,792 bytes less the 46-byte header and the 4-byte EDC.
head -c 1441742 /dev/urandom >"$work/full.raw"
objcopy -I binary -O ihex "$work/full.raw" "$work/FULL.hex"

# median_ms COMMAND...: median wall time of RUNS runs in milliseconds. Before each run the
# outputs of the previous one are removed and written back, so that no run waits for the disk
# writes of the one before it.
median_ms() {
    local times=() i start end
    for ((i = 0; i < runs; i++)); do
        rm -f "$work/FULL.bin" "$work/FULL.asc" "$work/objcopy.raw"
        sync
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        times+=($(((end - start) / 1000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2) { printf "%.2f", $1 / 1000 }'
}

"$bench" "$work/FULL.hex" >/dev/null  # warm the page cache
ours=$(median_ms "$bench" "$work/FULL.hex")
theirs=$(median_ms objcopy -I ihex -O binary "$work/FULL.hex" "$work/objcopy.raw")
objcopy -I ihex -O binary "$work/FULL.hex" "$work/objcopy.raw"
cmp -s "$work/full.raw" "$work/objcopy.raw" || { echo "objcopy output differs" >&2; exit 1; }
echo "HEX file: $(stat -c %s "$work/FULL.hex") bytes, median of $runs runs"
echo "image-bench: $ours ms"
echo "objcopy:     $theirs ms"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio:       %.2f (goal: at most 0.75)\n", a / b }'
