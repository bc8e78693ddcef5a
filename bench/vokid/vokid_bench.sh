#!/usr/bin/env bash
# vokid on generated audio:
#   1. `vokid print` on a 10-minute 44.1 kHz stereo MP3: times real time on
#      one core, the share of decoding, and fpcalc's time on the same file
#      where fpcalc is installed;
#   2. 40 3-minute MP3 files with -j 2 against -j 1;
#   3. peak memory per worker on a 10-minute and a 60-minute file;
#   4. robustness: compare's bit error rate and verdict on (clean, degraded)
#      pairs of 8 generated recordings, and on every pair of different ones.
# Usage: vokid_bench.sh VOKID VOKID_PIPELINE VOKID_AUDIO WORKDIR
# The MP3 files stay in WORKDIR for the next run (encoding them takes a few
# minutes); KEEP=0 removes them at the end. RUNS (3) runs are timed each.
set -euo pipefail
vokid=$1 pipeline=$2 audio=$3 work=$4
runs=${RUNS:-3}
mkdir -p "$work"
if ! command -v ffmpeg >/dev/null || [ ! -x /usr/bin/time ]; then
  echo "vokid benchmarks skipped: they need ffmpeg and /usr/bin/time (apt-get install ffmpeg time)"
  exit 0
fi

# A generated recording of SECONDS as an MP3 file (192 kbit/s), kept.
make_mp3() { # NAME SEED SECONDS
  local file="$work/$1.mp3"
  if [ ! -s "$file" ]; then
    "$audio" recording "$work/$1.wav" "$2" "$3" 44100 2
    ffmpeg -nostdin -loglevel error -y -i "$work/$1.wav" -c:a libmp3lame -b:a 192k "$file"
    rm -f "$work/$1.wav"
  fi
}

# Median wall seconds, median CPU seconds (user + system) and the largest
# peak resident memory (kB) of RUNS runs of a command (whatever its exit
# status: fpcalc reports the end of a file as an error after its output).
measure() {
  local walls=() cpus=() peak=0 wall user system kb
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" > /dev/null 2>&1 || true
    read -r wall user system kb < <(tail -n 1 "$work/time.txt")
    walls+=("$wall")
    cpus+=("$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")" \
       "$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")" "$peak"
}

echo "== 1. vokid print on a 10-minute 44.1 kHz stereo MP3, one core"
make_mp3 music-10min 100 600
ten="$work/music-10min.mp3"
read -r wall cpu peak10 < <(measure "$vokid" print -j 1 "$ten")
awk -v w="$wall" -v c="$cpu" 'BEGIN {
  printf "vokid print -j 1: %.2f s wall (%.0fx real time), %.2f s CPU (%.0fx real time on one core)\n", w, 600 / w, c, 600 / c
  printf "goal: at least 600x real time, decoding included ... %.0fx %s\n", 600 / c, (600 / c >= 600 ? "met" : "MISSED")
}'
"$pipeline" "$ten" "$runs"
if command -v fpcalc >/dev/null; then
  read -r wall cpu _ < <(measure fpcalc -length 0 "$ten")
  awk -v w="$wall" -v c="$cpu" 'BEGIN { printf "fpcalc -length 0 (the whole file) on the same file: %.2f s wall, %.2f s CPU (%.0fx real time)\n", w, c, 600 / c }'
else
  echo "fpcalc is not installed (apt-get install libchromaprint-tools): no comparison"
fi

echo "== 2. 40 3-minute MP3 files, -j 2 against -j 1"
batch=()
for i in $(seq 1 40); do
  make_mp3 "batch-$i" $((200 + i)) 180
  batch+=("$work/batch-$i.mp3")
done
read -r wall1 _ peak1 < <(measure "$vokid" print -j 1 "${batch[@]}")
read -r wall2 _ peak2 < <(measure "$vokid" print -j 2 "${batch[@]}")
awk -v a="$wall1" -v b="$wall2" -v cores="$(nproc)" 'BEGIN {
  printf "-j 1: %.2f s, -j 2: %.2f s (%d cores): ratio %.2f\n", a, b, cores, b / a
  printf "goal: -j 2 at most 0.6 times -j 1 ... %.2f %s\n", b / a, (b / a <= 0.6 ? "met" : "MISSED (a busy machine shares its cores)")
}'

echo "== 3. peak memory"
"$audio" recording "$work/short.wav" 1 5 44100 2
read -r _ _ base < <(measure "$vokid" print -j 1 "$work/short.wav")
make_mp3 music-60min 101 3600
read -r _ _ peak60 < <(measure "$vokid" print -j 1 "$work/music-60min.mp3")
awk -v base="$base" -v p10="$peak10" -v p60="$peak60" -v p2="$peak2" 'BEGIN {
  printf "peak resident memory: 5 s file %.1f MB (the program and its libraries), 10 min %.1f MB, 60 min %.1f MB, 40 files with -j 2 %.1f MB\n", base / 1024, p10 / 1024, p60 / 1024, p2 / 1024
  w = (p60 - base) / 1024; w2 = (p2 - base) / 2048
  printf "goal: under 64 MB per worker ... %.1f MB (60 min), %.1f MB per worker with -j 2 %s\n", w, w2, ((w < 64 && w2 < 64) ? "met" : "MISSED")
}'

echo "== 4. robustness: compare on generated recordings (30 s, 44.1 kHz stereo)"
recordings=8
for i in $(seq 1 "$recordings"); do
  clean="$work/r$i.wav"
  [ -s "$clean" ] || "$audio" recording "$clean" $((300 + i)) 30 44100 2
  [ -s "$work/r$i-mp3.mp3" ] ||
    ffmpeg -nostdin -loglevel error -y -i "$clean" -c:a libmp3lame -b:a 64k "$work/r$i-mp3.mp3"
  "$audio" noise "$clean" "$work/r$i-noise.wav" 20
  ffmpeg -nostdin -loglevel error -y -i "$clean" -af "lowpass=f=3000,lowpass=f=3000" \
    "$work/r$i-lowpass.wav"
  ffmpeg -nostdin -loglevel error -y -i "$clean" -af aresample=16000 "$work/r$i-16k.wav"
  ffmpeg -nostdin -loglevel error -y -i "$work/r$i-16k.wav" -af aresample=44100 \
    "$work/r$i-resample.wav"
  "$audio" gain "$clean" "$work/r$i-gain.wav" -9
  "$audio" bits "$clean" "$work/r$i-bits.wav" 8
done

# "BER NON_WEAK_BER VERDICT" of one comparison.
compare() {
  "$vokid" compare --json "$1" "$2" | awk -F': ' '
    /"ber"/ { sub(",", "", $2); ber = $2 }
    /"ber_non_weak"/ { sub(",", "", $2); strong = $2 }
    /"verdict"/ { gsub("[\",]", "", $2); verdict = $2 }
    END { print ber, strong, verdict }'
}

printf "%-34s %9s %9s %17s %s\n" "degradation" "BER mean" "BER max" "non-weak BER mean" "verdicts"
for kind in "mp3.mp3:64 kbit/s MP3" "noise.wav:white noise at 20 dB SNR" \
            "lowpass.wav:3 kHz low-pass (4 poles)" "resample.wav:resampled to 16 kHz and back" \
            "gain.wav:gain of -9 dB" "bits.wav:8-bit quantisation"; do
  suffix=${kind%%:*} name=${kind#*:}
  for i in $(seq 1 "$recordings"); do
    compare "$work/r$i.wav" "$work/r$i-$suffix"
  done | awk -v name="$name" -v n="$recordings" '{
      sum += $1; strong += $2; if ($1 > max) max = $1
      if ($3 == "same recording" || $3 == "same") same++ }
    END { printf "%-34s %9.4f %9.4f %17.4f %d of %d \"same recording\"\n", name, sum / n, max, strong / n, same, n }'
done

for i in $(seq 1 "$recordings"); do
  for j in $(seq 1 "$recordings"); do
    if [ "$i" -lt "$j" ]; then compare "$work/r$i.wav" "$work/r$j.wav"; fi
    if [ "$i" -ne "$j" ]; then compare "$work/r$i.wav" "$work/r$j-mp3.mp3"; fi
  done
done | awk '{
    n++; sum += $1; if (n == 1 || $1 < min) min = $1
    if ($3 == "different") different++ }
  END { printf "%-34s %9.4f %9s %17s %d of %d \"different\" (lowest BER %.4f)\n", "different recordings", sum / n, "", "", different, n, min }'

rm -f "$work/time.txt"
if [ "${KEEP:-1}" = 0 ]; then rm -rf "$work"; fi
