#!/usr/bin/env bash
# Times `vok -c -f FILE` on a 10-minute and a 60-minute 44.1 kHz stereo
# 16-bit WAVE file: median wall time of RUNS runs (5 by default) and the
# peak resident memory. Usage: program_bench.sh VOK BENCH_WAV WORKDIR.
# The audio files live in WORKDIR (under the build folder) and are removed
# at the end unless KEEP=1.
set -euo pipefail
vok=$1 generator=$2 work=$3
runs=${RUNS:-5}
mkdir -p "$work"

if [ -x /usr/bin/time ]; then
  timer=/usr/bin/time
else
  timer=
  echo "note: /usr/bin/time is missing (apt-get install time): peak memory is not measured"
fi

# Wall seconds of one run, and its peak memory in kB (0 when not measured).
run_once() {
  local start end
  start=${EPOCHREALTIME/./}
  if [ -n "$timer" ]; then
    "$timer" -f %M -o "$work/peak.txt" "$vok" -c -f "$1" > "$work/out.xml"
  else
    "$vok" -c -f "$1" > "$work/out.xml"
    echo 0 > "$work/peak.txt"
  fi
  end=${EPOCHREALTIME/./}
  echo "$(( end - start )) $(tail -n 1 "$work/peak.txt")"
}

declare -A median_us peak_kb
for minutes in 10 60; do
  file="$work/music-$minutes-min.wav"
  expected=$(( minutes * 60 * 44100 * 4 + 44 ))
  if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" != "$expected" ]; then
    "$generator" "$file" "$minutes"
  fi
  "$vok" -c -f "$file" > /dev/null # warm the page cache
  times=()
  peak=0
  for _ in $(seq "$runs"); do
    read -r us kb < <(run_once "$file")
    times+=("$us")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  median_us[$minutes]=${sorted[$(( runs / 2 ))]}
  peak_kb[$minutes]=$peak
  blocks=$(grep -c "<FP_BLOCK" "$work/out.xml" || true)
  awk -v m="$minutes" -v us="${median_us[$minutes]}" -v kb="$peak" -v b="$blocks" -v r="$runs" \
    'BEGIN { s = us / 1e6; printf "vok -c, %2d min of audio: median %.3f s of %d runs, %.0fx real time, peak %.1f MB, %d blocks\n", m, s, r, m * 60 / s, kb / 1024, b }'
done

awk -v a="${median_us[10]}" -v b="${median_us[60]}" -v p10="${peak_kb[10]}" -v p60="${peak_kb[60]}" 'BEGIN {
  speed = 600 / (a / 1e6); ratio = b / a
  printf "goal: 10 min at least 1000x real time ... %.0fx %s\n", speed, (speed >= 1000 ? "met" : "MISSED")
  printf "goal: 60 min no more than 6.5x the 10 min time ... %.2fx %s\n", ratio, (ratio <= 6.5 ? "met" : "MISSED")
  if (p10 > 0) printf "goal: peak memory under 64 MB ... %.1f MB and %.1f MB %s\n", p10 / 1024, p60 / 1024, ((p10 < 65536 && p60 < 65536) ? "met" : "MISSED")
}'

rm -f "$work/out.xml" "$work/peak.txt"
[ "${KEEP:-0}" = 1 ] || rm -f "$work"/music-*-min.wav
