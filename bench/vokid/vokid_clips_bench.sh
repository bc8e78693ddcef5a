#!/usr/bin/env bash
# Identification of clips as they come: `vokid identify --json` (the binary
# given) on clips of 12 s from random offsets of the tracks of the index
# benchmark's generated music (its WORKDIR: the library, others/ and the
# indexes of 100 and 10,000 tracks that vokid_index_bench.sh builds there),
# at least 100 clips a case:
#   - talk, then music: 6 s of speech (espeak-ng), then 6 s of the track;
#     music, then talk;
#   - music under speech: the speech 10 dB and 6 dB below the music's RMS
#     level, and at the same level;
#   - tempo 0.95, 0.97, 1.03, 1.05 (sox tempo: the pitch kept); speed 0.95
#     and 1.05 (sox speed: pitch and tempo together);
#   - 5-s clips with reverberation (sox reverb) and white noise 10 dB
#     below the music's RMS level;
#   - what must match nothing: clips of recordings not in the index (the
#     benchmark's others/), and speech alone.
# It prints, for each case on the 100-track index: the clips, top-1 (the
# right track accepted), wrong (another track accepted) and the p50 time
# per clip (one process per clip: it includes starting vokid and opening
# the index, a few ms).
# Then the time per clip on the 10,000-track index, p50 over clean 6-s and
# 30-s clips of indexed tracks, for VOKID and for OLD_VOKID (when that
# names another binary), clips that matched nothing counted apart.
# Usage: vokid_clips_bench.sh VOKID WORKDIR
# The clips stay in WORKDIR/clips-as-they-come for the next run; the
# script builds nothing itself.
set -euo pipefail
vokid=$1 work=$2
old=${OLD_VOKID:-}
for tool in ffmpeg sox espeak-ng awk; do
  if ! command -v "$tool" >/dev/null; then
    echo "vokid clips benchmark skipped: it needs ffmpeg, sox and espeak-ng (apt-get install ffmpeg sox espeak-ng)"
    exit 0
  fi
done
work=$(cd "$work" && pwd)
for need in library others index/data.mdb index-10000/data.mdb; do
  if [ ! -e "$work/$need" ]; then
    echo "vokid clips benchmark skipped: $work/$need is missing (the index benchmark, vokid_index_bench.sh, makes it)"
    exit 0
  fi
done
cache="$work/clips-as-they-come"
mkdir -p "$cache/speech"
per_case=${CLIPS_PER_CASE:-100}
. "$(dirname "$0")/bench_common.sh"
# sox's warnings (a few samples clipped by its own dither) are no news here.
export SOX_OPTS="-V1"

echo "== speech (cached in $cache/speech)"
# Made-up English, the same for the same seed, read by voices the index's
# spoken texts do not use.
voices=(en-gb en-us+m3 en-gb-scotland en-us+f2 en-029)
{
  for i in $(seq 1 20); do
    out="$cache/speech/speech-$i.wav"
    [ -s "$out" ] && continue
    text_of $((700 + i)) 260 > "$cache/speech/speech-$i.txt"
    voice=${voices[$((i % ${#voices[@]}))]}
    echo "espeak-ng -v $voice -s 160 -f '$cache/speech/speech-$i.txt' -w '$cache/speech/raw-$i.wav' && sox -G '$cache/speech/raw-$i.wav' -r 44100 -c 2 -b 16 '$out' && rm '$cache/speech/raw-$i.wav'"
  done
} | two_at_a_time

# The indexed tracks of music (pieces and songs): "ID <tab> FILE <tab>
# SECONDS"; the index names the files where they were added, the library
# holds them here.
tracks="$cache/tracks.tsv"
"$vokid" list --json "$work/index" |
  sed -n 's/^{"track":\([0-9]*\),"path":"\([^"]*\)".*"duration":\([0-9.]*\),.*/\1\t\2\t\3/p' |
  awk -F'\t' -v lib="$work/library" '{ n = split($2, p, "/"); if (p[n] !~ /^spoken-/) printf "%s\t%s/%s\t%s\n", $1, lib, p[n], $3 }' > "$tracks"
others=("$work"/others/*.wav)

# One clip: CASE OUT TRACKFILE START SPEECHFILE SPEECHSTART
make_clip() {
  local kind=$1 out=$2 track=$3 start=$4 speech=$5 at=$6
  local tmp="${out%.wav}" cut="ffmpeg -nostdin -loglevel error -y"
  local pcm="-ar 44100 -ac 2 -c:a pcm_s16le -map_metadata -1 -bitexact"
  rms() { sox "$1" -n stat 2>&1 | awk '/^RMS +amplitude/ { print $3 }'; }
  under() { # DB: the speech that much below the music's RMS level
    $cut -ss "$start" -t 12 -i "$track" $pcm "$tmp-m.wav"
    sox "$speech" "$tmp-s.wav" trim "$at" 12
    local v
    v=$(awk -v m="$(rms "$tmp-m.wav")" -v s="$(rms "$tmp-s.wav")" -v d="$1" 'BEGIN { print (s > 0 ? 0.5 * m / s * 10 ^ (-d / 20) : 0) }')
    sox -m -v 0.5 "$tmp-m.wav" -v "$v" "$tmp-s.wav" "$out"
  }
  case "$kind" in
    talk-then-music)
      sox "$speech" "$tmp-s.wav" trim "$at" 6
      $cut -ss "$start" -t 6 -i "$track" $pcm "$tmp-m.wav"
      sox "$tmp-s.wav" "$tmp-m.wav" "$out" ;;
    music-then-talk)
      $cut -ss "$start" -t 6 -i "$track" $pcm "$tmp-m.wav"
      sox "$speech" "$tmp-s.wav" trim "$at" 6
      sox "$tmp-m.wav" "$tmp-s.wav" "$out" ;;
    speech-10dB-under) under 10 ;;
    speech-6dB-under) under 6 ;;
    speech-level) under 0 ;;
    tempo-* | speed-*)
      local factor=${kind#*-}
      $cut -ss "$start" -t "$(awk -v f="$factor" 'BEGIN { print 12 * f + 0.1 }')" -i "$track" $pcm "$tmp-m.wav"
      sox -G "$tmp-m.wav" "$out" "${kind%%-*}" "$factor" trim 0 12 ;;
    reverb-noise-5s)
      $cut -ss "$start" -t 5 -i "$track" $pcm "$tmp-m.wav"
      sox "$tmp-m.wav" "$tmp-r.wav" reverb 50 50 100 trim 0 5
      sox -n -r 44100 -c 2 -b 16 "$tmp-n.wav" synth 5 whitenoise
      local v
      v=$(awk -v m="$(rms "$tmp-r.wav")" -v n="$(rms "$tmp-n.wav")" 'BEGIN { print 0.5 * m / n * 10 ^ (-10 / 20) }')
      sox -m -v 0.5 "$tmp-r.wav" -v "$v" "$tmp-n.wav" "$out" ;;
    not-indexed) $cut -ss "$start" -t 12 -i "$track" $pcm "$out" ;;
    speech-alone) sox "$speech" "$out" trim "$at" 12 ;;
    clean-6s) $cut -ss "$start" -t 6 -i "$track" $pcm "$out" ;;
    clean-30s) $cut -ss "$start" -t 30 -i "$track" $pcm "$out" ;;
  esac
  rm -f "$tmp-m.wav" "$tmp-s.wav" "$tmp-r.wav" "$tmp-n.wav"
}
export -f make_clip

# The clips of a case, made once: CASE COUNT SEED; their list "FILE <tab>
# TRACK" (0: nothing must match) in $cache/CASE.tsv.
plan_case() {
  local kind=$1 count=$2 seed=$3 list="$cache/$1.tsv"
  [ -s "$list" ] && return 0
  mkdir -p "$cache/$kind"
  local speeches=("$cache"/speech/speech-*.wav)
  awk -F'\t' -v kind="$kind" -v count="$count" -v seed="$seed" -v dir="$cache/$kind" \
      -v others="${others[*]}" -v speeches="${speeches[*]}" '
    { id[NR] = $1; file[NR] = $2; secs[NR] = $3 }
    END {
      srand(seed)
      no = split(others, other, " "); ns = split(speeches, speech, " ")
      for (i = 1; i <= count; i++) {
        t = int(rand() * NR) + 1
        s = speech[int(rand() * ns) + 1]; at = int(rand() * 40)
        len = (kind == "clean-30s" ? 30 : 14)
        start = int(5 + rand() * (secs[t] - len - 10))
        out = sprintf("%s/%03d.wav", dir, i)
        if (kind == "not-indexed") {
          printf "make_clip %s %s %s %d %s %d\n", kind, out, other[int(rand() * no) + 1], int(rand() * 26), s, at > "/dev/stderr"
          printf "%s\t0\n", out
        } else if (kind == "speech-alone") {
          printf "make_clip %s %s none 0 %s %d\n", kind, out, s, at > "/dev/stderr"
          printf "%s\t0\n", out
        } else {
          printf "make_clip %s %s %s %d %s %d\n", kind, out, file[t], start, s, at > "/dev/stderr"
          printf "%s\t%s\n", out, id[t]
        }
      }
    }' "$tracks" > "$list.part" 2> "$cache/$kind.jobs"
  two_at_a_time < "$cache/$kind.jobs"
  mv "$list.part" "$list"
}

cases=(talk-then-music music-then-talk speech-10dB-under speech-6dB-under speech-level
       tempo-0.95 tempo-0.97 tempo-1.03 tempo-1.05 speed-0.95 speed-1.05 reverb-noise-5s
       not-indexed speech-alone)
echo "== clips (cached in $cache)"
seed=1
for kind in "${cases[@]}" clean-6s clean-30s; do
  plan_case "$kind" "$per_case" $((seed++))
done

# Identifies each clip of a list, one process each: lines "EXPECTED <tab>
# FOUND <tab> MS" (FOUND 0: no match, -1: identify failed, its message on
# standard error). BINARY DB LIST LENGTH
identify_each() {
  local binary=$1 db=$2 list=$3 length=$4 file expected t0 t1 answer found
  while IFS=$'\t' read -r file expected; do
    t0=$(date +%s%N)
    answer=$("$binary" identify --json --length "$length" "$db" "$file") || answer=failed
    t1=$(date +%s%N)
    case "$answer" in
      failed) found=-1 ;;
      *'"match":null'*) found=0 ;;
      *) found=$(printf '%s' "$answer" | sed -n 's/.*"match":{"track":\([0-9]*\).*/\1/p') ;;
    esac
    printf "%s\t%s\t%.1f\n" "$expected" "${found:-0}" "$(( (t1 - t0) / 1000 ))e-3"
  done < "$list"
}

# p50 of the third column of standard input, in ms; "-" when empty.
p50() { cut -f3 | sort -g | awk '{ v[NR] = $1 } END { print (NR ? sprintf("%.0f", v[int((NR + 1) / 2)]) : "-") }'; }

echo "== identification of clips as they come, 100-track index ($vokid)"
printf "%-20s %6s %6s %6s %7s %10s\n" case clips top-1 wrong failed "p50 ms"
for kind in "${cases[@]}"; do
  results="$cache/$kind.results"
  length=12
  identify_each "$vokid" "$work/index" "$cache/$kind.tsv" "$length" > "$results"
  awk -F'\t' -v kind="$kind" -v p50="$(p50 < "$results")" '
    { n++; if ($2 < 0) failed++; else if ($2 != 0 && $2 == $1) right++; else if ($2 != 0) wrong++ }
    END { printf "%-20s %6d %6d %6d %7d %10s\n", kind, n, right, wrong, failed, p50 }' "$results"
done
echo "(top-1 for the cases that must match nothing is 0; their wrong is any match)"

echo "== time per clip on the 10,000-track index (clean clips of indexed tracks)"
big="$work/index-10000"
cat "$big/data.mdb" > /dev/null # its pages in memory, as in a process that has been running
binaries=("$vokid")
[ -n "$old" ] && [ "$old" != "$vokid" ] && binaries=("$old" "$vokid")
printf "%-10s %-7s %8s %10s %10s %16s\n" binary clips matched "p50 ms" unmatched "p50 ms unmatched"
for binary in "${binaries[@]}"; do
  name=new
  [ "$binary" = "$old" ] && name=old
  if ! "$binary" stats "$big" > /dev/null; then
    echo "$name: skipped, it cannot read $big"
    continue
  fi
  for kind in clean-6s clean-30s; do
    length=${kind#clean-}
    length=${length%s}
    results="$cache/$kind.$name.results"
    identify_each "$binary" "$big" "$cache/$kind.tsv" "$length" > "$results"
    printf "%-10s %-7s %8s %10s %10s %16s\n" "$name" "${length} s" \
      "$(awk -F'\t' '$2 > 0' "$results" | wc -l)" "$(awk -F'\t' '$2 > 0' "$results" | p50)" \
      "$(awk -F'\t' '$2 == 0' "$results" | wc -l)" "$(awk -F'\t' '$2 == 0' "$results" | p50)"
  done
done
[ -n "$old" ] && echo "(old: $old)"
echo "new: $vokid"
