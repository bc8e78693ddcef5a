#!/usr/bin/env bash
# Times `vok -c -f FILE` on a 10-minute and a 60-minute 44.1 kHz stereo
# 16-bit WAVE file: median wall time of RUNS runs (5 by default), times
# real time and the peak resident memory. Where fpcalc is installed
# (Debian libchromaprint-tools: another fingerprinter, a yardstick only),
# `fpcalc -length 0 FILE` is timed the same way on the same file, and the
# ratio of the two times is printed. Usage: program_bench.sh VOK BENCH_WAV
# WORKDIR. The audio files live in WORKDIR (under the build folder) and are
# removed at the end unless KEEP=1.
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
fpcalc=$(command -v fpcalc || true)
[ -n "$fpcalc" ] || echo "note: fpcalc is not installed (apt-get install libchromaprint-tools): no comparison"

# Wall microseconds of one run of the command, and its peak memory in kB
# (0 when not measured). The exit status is not looked at: fpcalc reports
# the end of a file's data as an error.
run_once() {
  local start end
  start=${EPOCHREALTIME/./}
  if [ -n "$timer" ]; then
    "$timer" -f %M -o "$work/peak.txt" "$@" > "$work/out.txt" 2> /dev/null || true
  else
    "$@" > "$work/out.txt" 2> /dev/null || true
    echo 0 > "$work/peak.txt"
  fi
  end=${EPOCHREALTIME/./}
  echo "$(( end - start )) $(tail -n 1 "$work/peak.txt")"
}

# Median wall microseconds and the largest peak of RUNS runs, after one
# run that warms the page cache.
measure() {
  local times=() peak=0 us kb
  "$@" > /dev/null 2>&1 || true
  for _ in $(seq "$runs"); do
    read -r us kb < <(run_once "$@")
    times+=("$us")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  local sorted=($(printf '%s\n' "${times[@]}" | sort -n))
  echo "${sorted[$(( runs / 2 ))]} $peak"
}

report() { # name minutes median_us peak_kb [extra]
  awk -v n="$1" -v m="$2" -v us="$3" -v kb="$4" -v r="$runs" -v x="${5:-}" 'BEGIN {
    s = us / 1e6
    printf "%-9s %2d min of audio: median %.3f s of %d runs, %.0fx real time, peak %.1f MB%s\n", n, m, s, r, m * 60 / s, kb / 1024, x }'
}

declare -A median_us peak_kb fpcalc_us
for minutes in 10 60; do
  file="$work/music-$minutes-min.wav"
  expected=$(( minutes * 60 * 44100 * 4 + 44 ))
  if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" != "$expected" ]; then
    "$generator" "$file" "$minutes"
  fi
  read -r us kb < <(measure "$vok" -c -f "$file")
  median_us[$minutes]=$us
  peak_kb[$minutes]=$kb
  "$vok" -c -f "$file" > "$work/out.txt"
  blocks=$(grep -c "<FP_BLOCK" "$work/out.txt" || true)
  report "vok -c" "$minutes" "$us" "$kb" ", $blocks blocks"
  if [ -n "$fpcalc" ]; then
    read -r fus fkb < <(measure "$fpcalc" -length 0 "$file")
    fpcalc_us[$minutes]=$fus
    report "fpcalc" "$minutes" "$fus" "$fkb" \
      "$(awk -v a="$fus" -v b="$us" 'BEGIN { printf ": %.2fx the time of vok", a / b }')"
  fi
done

awk -v a="${median_us[10]}" -v b="${median_us[60]}" -v p10="${peak_kb[10]}" -v p60="${peak_kb[60]}" \
    -v f10="${fpcalc_us[10]:-0}" 'BEGIN {
  speed = 600 / (a / 1e6); ratio = b / a
  printf "goal: 10 min at least 3500x real time ... %.0fx %s\n", speed, (speed >= 3500 ? "met" : "MISSED")
  printf "goal: 60 min no more than 6.5x the 10 min time ... %.2fx %s\n", ratio, (ratio <= 6.5 ? "met" : "MISSED")
  if (f10 > 0) printf "goal: at most half the time of fpcalc on 10 min ... %.2fx %s\n", f10 / a, (f10 >= 2 * a ? "met" : "MISSED")
  if (p10 > 0) printf "goal: peak memory under 16 MB ... %.1f MB and %.1f MB %s\n", p10 / 1024, p60 / 1024, ((p10 < 16384 && p60 < 16384) ? "met" : "MISSED")
}'

rm -f "$work/out.txt" "$work/peak.txt"
[ "${KEEP:-0}" = 1 ] || rm -f "$work"/music-*-min.wav
