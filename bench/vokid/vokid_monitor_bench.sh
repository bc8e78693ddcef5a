#!/usr/bin/env bash
# vokid monitor, live, on the index benchmark's 100-track index:
#   1. a 2-hour mix (vokid_monitor_mix.py: excerpts of indexed tracks, some
#      played fast or slow or with their tempo changed, with silence,
#      speech and unindexed recordings between them) fed through a pipe at
#      10 times real time: the share of the played seconds attributed to the
#      right track, the segments over unindexed audio (must be 0), and the
#      latency from a play's end to its line, in audio and in wall time;
#   2. 24 hours (the mix 12 times) as raw PCM on standard input, as fast as
#      it goes: anonymous memory (RssAnon) after the first 10 minutes of
#      audio and at the end, and its growth per hour (must stay below 1 MB).
# Usage: vokid_monitor_bench.sh VOKID INDEX_BENCH_WORKDIR [HOURS]
# Every process is bounded in time and stopped however the script ends.
set -euo pipefail
vokid=$1 work=$2 hours=${3:-24}
here=$(cd "$(dirname "$0")" && pwd)
scripts="$here/../../tests/vokid/program"
for tool in sox espeak-ng ffmpeg /usr/bin/python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "vokid monitor benchmarks skipped: they need sox, espeak-ng, ffmpeg and python3"
    exit 0
  fi
done
db="$work/index"
if [ ! -d "$db" ] || [ ! -d "$work/library" ]; then
  echo "vokid monitor benchmarks skipped: no 100-track index in $db (the index benchmark makes it)"
  exit 0
fi
out="$work/monitor"
mkdir -p "$out"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

echo "== vokid monitor: a 2-hour mix (cached in $out)"
if [ ! -s "$out/mix.wav" ]; then
  /usr/bin/python3 "$here/vokid_monitor_mix.py" "$work/library" "$work/others" 7200 2026 "$out"
  bash "$out/make.sh"
  /usr/bin/python3 "$here/vokid_monitor_mix.py" --retime "$out"
  sox "$out"/part-*.wav "$out/mix.wav"
  rm -f "$out"/part-*.wav
fi

echo "== the mix through a pipe at 10 times real time"
timeout 1800 /usr/bin/python3 "$scripts/paced_writer.py" "$out/mix.wav" 10 "$out/written" |
  timeout 1800 "$vokid" monitor --json "$db" - |
  while IFS= read -r line; do echo "$(date +%s.%N) $line"; done > "$out/lines.txt"
/usr/bin/python3 "$here/vokid_monitor_score.py" "$out/truth.tsv" "$out/lines.txt" 10

echo "== $hours hours of raw PCM on standard input, as fast as it goes"
repeats=$(( hours / 2 - 1 ))
sox "$out/mix.wav" -t raw -e signed -b 16 -L - repeat "$repeats" |
  sh -c 'echo $$ > "$1"; exec "$2" monitor "$3" --pcm s16le --rate 22050 --channels 1 -' \
    monitor "$out/monitor.pid" "$vokid" "$db" > "$out/day.txt" &
pids+=($!)
sleep 1
monitor=$(cat "$out/monitor.pid")
pids+=("$monitor")
rss() { awk '/RssAnon/ { print $2 }' "/proc/$monitor/status" 2>/dev/null || true; }
began=$(date +%s)
first=""
last=""
while kill -0 "$monitor" 2>/dev/null; do
  now=$(rss)
  [ -n "$now" ] && last=$now
  # The first figure once the first 10 minutes of audio are through
  # (a line a segment, about 40 s each).
  if [ -z "$first" ] && [ "$(wc -l < "$out/day.txt")" -ge 15 ]; then first=$now; fi
  sleep 5
done
wait || true
elapsed=$(( $(date +%s) - began ))
echo "segments: $(wc -l < "$out/day.txt") in $elapsed s"
echo "RssAnon: $first kB after 10 minutes of audio, $last kB at the end of $hours hours;" \
     "growth $(( (last - first) / hours )) kB per hour"
