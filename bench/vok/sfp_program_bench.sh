#!/usr/bin/env bash
# Times vok from start to a FileFixed and a FileFloat fingerprint of a
# 3-minute 48 kHz stereo 16-bit WAVE file: the median wall time of RUNS
# runs (15 by default), measured by hyperfine when it is installed (it
# starts the program without a shell), else by the shell's clock (which
# adds the cost of a shell fork). Usage: sfp_program_bench.sh VOK BENCH_WAV WORKDIR.
set -euo pipefail
vok=$1 generator=$2 work=$3
runs=${RUNS:-15}
mkdir -p "$work"
file="$work/music-3-min-48k.wav"
"$generator" "$file" 3 48000

for algorithm in FileFixed FileFloat; do
  if command -v hyperfine > /dev/null; then
    hyperfine -N --warmup 3 --runs "$runs" --export-csv "$work/times.csv" \
      "$vok -a $algorithm -f $file" > /dev/null
    us=$(awk -F, 'NR == 2 { printf "%.0f", $4 * 1e6 }' "$work/times.csv")
    how="hyperfine"
  else
    "$vok" -a "$algorithm" -f "$file" > /dev/null # warm the page cache
    times=()
    for _ in $(seq "$runs"); do
      start=${EPOCHREALTIME/./}
      "$vok" -a "$algorithm" -f "$file" > /dev/null
      end=${EPOCHREALTIME/./}
      times+=("$(( end - start ))")
    done
    sorted=($(printf '%s\n' "${times[@]}" | sort -n))
    us=${sorted[$(( runs / 2 ))]}
    how="shell clock"
  fi
  awk -v a="$algorithm" -v us="$us" -v r="$runs" -v how="$how" 'BEGIN {
    ms = us / 1000
    printf "vok -a %s, 3 min of 48 kHz stereo: median %.1f ms of %d runs (%s); goal under 50 ms ... %s\n",
           a, ms, r, how, (ms < 50 ? "met" : "MISSED") }'
done
rm -f "$work/times.csv" "$file"
