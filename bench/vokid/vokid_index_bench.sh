#!/usr/bin/env bash
# vokid's identification index on a library of its own:
#   1. the library: 90 generated pieces, 6 of them again with a voice over
#      them (espeak-ng, mixed with sox) and 4 spoken texts: 100 tracks of 2
#      to 5 minutes as 192 kbit/s MP3 files, all with different seeds;
#   2. `vokid add` from MP3: times real time per core, and with -j 2;
#   3. the index size per hour of audio, with its breakdown, before and
#      after vokid compact;
#   4. 6-s clips at random offsets where the tracks are not quiet, clean and
#      degraded (gain -9 dB, white noise at 20 and 10 dB SNR, MP3 at 64
#      kbit/s, a 3 kHz low-pass, resampled to 16 kHz and back, played 2%
#      fast and 2% slow), and clips that must not match (recordings not in
#      the index, silence, near-silence, steady tones, other recordings of
#      indexed pieces, a text read by another voice): top-1 accuracy, false
#      matches, the bit error rate distributions behind the acceptance rule,
#      and the time per clip;
#   5. the time per clip on indexes of 1,000 and 10,000 tracks (the library
#      and synthetic sequences), and on the 10,000 at step 2.
# Usage: vokid_index_bench.sh VOKID EVAL AUDIO WORKDIR
# Everything generated stays in WORKDIR for the next run (the first run
# takes several minutes to encode the library and build the 10,000-track
# index). KEEP=0 removes it at the end.
set -euo pipefail
vokid=$1 eval=$2 audio=$3 work=$4
mkdir -p "$work"
work=$(cd "$work" && pwd) # the clip lists name files by it
for tool in ffmpeg sox espeak-ng; do
  if ! command -v "$tool" >/dev/null; then
    echo "vokid index benchmarks skipped: they need ffmpeg, sox and espeak-ng (apt-get install ffmpeg sox espeak-ng)"
    exit 0
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "vokid index benchmarks skipped: they need /usr/bin/time (apt-get install time)"
  exit 0
fi
lib="$work/library" others="$work/others" clips="$work/clips"
mkdir -p "$lib" "$others" "$clips"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# text_of, two_at_a_time.
. "$(dirname "$0")/bench_common.sh"

echo "== 1. the library (cached in $lib)"
seconds_of() { echo $(( 120 + ($1 * 7919) % 181 )); }
{
  for i in $(seq 1 90); do
    out="$lib/music-$i.mp3"
    [ -s "$out" ] && continue
    s=$(seconds_of "$i")
    echo "'$audio' recording '$lib/music-$i.wav' $((1000 + i)) $s 44100 2 && ffmpeg -nostdin -loglevel error -y -i '$lib/music-$i.wav' -c:a libmp3lame -b:a 192k -metadata title='Piece $i' -metadata artist='Generated' '$out' && rm '$lib/music-$i.wav'"
  done
  for i in $(seq 1 6); do
    out="$lib/song-$i.mp3"
    [ -s "$out" ] && continue
    s=$(seconds_of $((100 + i)))
    text_of "$i" 500 > "$lib/song-$i.txt"
    echo "'$audio' recording '$lib/song-$i.wav' $((1100 + i)) $s 44100 2 && espeak-ng -v en-us -s 150 -f '$lib/song-$i.txt' -w '$lib/voice-$i.wav' && sox '$lib/voice-$i.wav' -r 44100 -c 2 '$lib/voice44-$i.wav' && sox -m -v 1 '$lib/song-$i.wav' -v 0.9 '$lib/voice44-$i.wav' '$lib/mixed-$i.wav' trim 0 $s && ffmpeg -nostdin -loglevel error -y -i '$lib/mixed-$i.wav' -c:a libmp3lame -b:a 192k -metadata title='Song $i' -metadata artist='Generated, with a voice' '$out' && rm '$lib/song-$i.wav' '$lib/voice-$i.wav' '$lib/voice44-$i.wav' '$lib/mixed-$i.wav'"
  done
  for i in $(seq 1 4); do
    out="$lib/spoken-$i.mp3"
    [ -s "$out" ] && continue
    text_of $((50 + i)) 420 > "$lib/spoken-$i.txt"
    echo "espeak-ng -v en-us -s 150 -f '$lib/spoken-$i.txt' -w '$lib/spoken-$i.wav' && ffmpeg -nostdin -loglevel error -y -i '$lib/spoken-$i.wav' -ar 44100 -ac 2 -c:a libmp3lame -b:a 192k -metadata title='Text $i' '$out' && rm '$lib/spoken-$i.wav'"
  done
} | two_at_a_time
ls "$lib"/*.mp3 | wc -l | awk '{ printf "%d tracks\n", $1 }'

echo "== 2. vokid add from MP3"
db="$work/index"
rm -rf "$work/add-1" "$work/add-2"
/usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$vokid" add -j 1 "$work/add-1" "$lib"/*.mp3 > /dev/null
read -r wall user system < "$work/time.txt"
hours=$("$vokid" stats --json "$work/add-1" | awk -F': ' '/"hours"/ { sub(",", "", $2); print $2 }')
/usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$vokid" add -j 2 "$work/add-2" "$lib"/*.mp3 > /dev/null
read -r wall2 _ _ < "$work/time.txt"
awk -v h="$hours" -v w="$wall" -v u="$user" -v s="$system" -v w2="$wall2" 'BEGIN {
  printf "%.2f h of audio: -j 1 %.1f s wall, %.1f s CPU: %.0fx real time per core; -j 2 %.1f s wall (%.0fx real time)\n", h, w, u + s, h * 3600 / (u + s), w2, h * 3600 / w2
  printf "goal: at least 300x real time per core ... %s\n", (h * 3600 / (u + s) >= 300 ? "met" : "MISSED")
}'
rm -rf "$db" "$work/add-2"
mv "$work/add-1" "$db"
"$vokid" add "$db" "$lib"/*.mp3 | sed 's/^/again: /'

echo "== 3. index size"
"$vokid" stats "$db"
"$vokid" stats --json "$db" | awk -F': ' '/"bytes_per_hour"/ { sub(",", "", $2);
  printf "goal: at most 16 MB an hour of audio ... %.1f MB %s\n", $2 / 1e6, ($2 + 0 <= 16e6 ? "met" : "MISSED") }'
# The free pages given back: the folder's every file (header, store,
# lock file, reserve) after vokid compact.
"$vokid" compact "$db" | sed 's/^/compact: /'
"$vokid" stats "$db" | sed -n '/^bytes on disk/,/free pages/p' | sed 's/^/after compact: /'
folder=$(du -sb "$db" | awk '{ print $1 }')
postings=$("$vokid" stats --json "$db" | awk -F': ' '/"posting_bytes"/ { sub(",", "", $2); print $2 }')
awk -v b="$folder" -v p="$postings" -v h="$hours" 'BEGIN {
  printf "goal: the postings at most 1.5 MB an hour of audio after compact ... %.2f MB an hour %s\n", p / 1e6 / h, (p / 1e6 / h <= 1.5 ? "met" : "MISSED")
  printf "goal: the folder at most 3 MB an hour of audio after compact ... %.1f MB for %.2f h, %.2f MB an hour %s\n", b / 1e6, h, b / 1e6 / h, (b / 1e6 / h <= 3 ? "met" : "MISSED")
}'

echo "== 4. clips (cached in $clips)"
# What must not match: recordings not in the index, other recordings of
# indexed pieces (another sound, another tempo), the spoken texts read by
# another voice.
{
  for i in $(seq 1 20); do
    [ -s "$others/unknown-$i.wav" ] ||
      echo "'$audio' recording '$others/unknown-$i.wav' $((3000 + i)) 40 44100 2"
  done
  for i in $(seq 1 10); do
    [ -s "$others/cover-$i.wav" ] ||
      echo "'$audio' recording '$others/cover-$i.wav' $((1000 + i)) 40 44100 2 1.06 0 mellow"
    [ -s "$others/cover-slow-$i.wav" ] ||
      echo "'$audio' recording '$others/cover-slow-$i.wav' $((1010 + i)) 40 44100 2 0.94 2 mellow"
  done
  for i in $(seq 1 4); do
    [ -s "$others/voice-$i.wav" ] ||
      echo "espeak-ng -v en-us+f3 -s 165 -f '$lib/spoken-$i.txt' -w '$others/voice-$i.wav'"
  done
} | two_at_a_time

list="$clips/clips.tsv"
if [ ! -s "$list" ]; then
  "$eval" plan "$db" 42 2 > "$clips/plan.tsv"
  : > "$clips/jobs.txt"
  n=0
  while IFS=$'\t' read -r track path start; do
    n=$((n + 1))
    c="$clips/c$n"
    cut="ffmpeg -nostdin -loglevel error -y -ss $start"
    wav="-bitexact -map_metadata -1 -c:a pcm_s16le"
    cat >> "$clips/jobs.txt" <<EOF
$cut -t 6 -i '$path' $wav '$c-clean.wav' && '$audio' gain '$c-clean.wav' '$c-gain.wav' -9 && '$audio' noise '$c-clean.wav' '$c-noise20.wav' 20 && '$audio' noise '$c-clean.wav' '$c-noise10.wav' 10 && ffmpeg -nostdin -loglevel error -y -i '$c-clean.wav' -c:a libmp3lame -b:a 64k '$c-mp3.mp3' && ffmpeg -nostdin -loglevel error -y -i '$c-clean.wav' -af lowpass=f=3000,lowpass=f=3000 $wav '$c-lowpass.wav' && ffmpeg -nostdin -loglevel error -y -i '$c-clean.wav' -af aresample=16000,aresample=44100 $wav '$c-resampled.wav' && $cut -t 6.12 -i '$path' -af asetrate=44982,aresample=44100 $wav '$c-fast.wav' && $cut -t 5.88 -i '$path' -af asetrate=43218,aresample=44100 $wav '$c-slow.wav' && $cut -t 6 -i '$path' -af volume=-60dB $wav '$c-quiet.wav'
EOF
    for kind in "clean:clean.wav" "gain -9 dB:gain.wav" "noise 20 dB:noise20.wav" \
                "noise 10 dB:noise10.wav" "mp3 64 kbit/s:mp3.mp3" "low-pass 3 kHz:lowpass.wav" \
                "resampled 16 kHz:resampled.wav" "2% fast:fast.wav" "2% slow:slow.wav"; do
      printf "%s\t%s\t%s\t%s\n" "${kind%%:*}" "$c-${kind#*:}" "$track" "$start" >> "$list.part"
    done
    printf "%s\t%s\t0\t0\n" "not-in: near-silent (-60 dB)" "$c-quiet.wav" >> "$clips/negative.part"
  done < "$clips/plan.tsv"
  # Clips of what is not in the index.
  k=0
  for f in "$others"/unknown-*.wav "$others"/cover-*.wav "$others"/voice-*.wav; do
    k=$((k + 1))
    case "$f" in
      *unknown*) category="not-in: other recordings" ;;
      *cover*) category="not-in: same piece, another recording" ;;
      *) category="not-in: same text, another voice" ;;
    esac
    for start in 5 17 29; do
      echo "ffmpeg -nostdin -loglevel error -y -ss $start -t 6 -i '$f' -bitexact -map_metadata -1 -c:a pcm_s16le '$clips/o$k-$start.wav'" >> "$clips/jobs.txt"
      printf "%s\t%s\t0\t0\n" "$category" "$clips/o$k-$start.wav" >> "$clips/negative.part"
    done
  done
  # Silence, near-silence and steady tones.
  {
    echo "sox -n -r 44100 -c 2 -b 16 '$clips/silence.wav' trim 0 6"
    echo "sox -n -r 44100 -c 2 -b 16 '$clips/hiss.wav' synth 6 whitenoise vol 0.0003"
    for f in 100 200 440 1000 3000; do
      echo "sox -n -r 44100 -c 2 -b 16 '$clips/sine-$f.wav' synth 6 sine $f vol 0.5"
    done
    echo "sox -n -r 44100 -c 2 -b 16 '$clips/square-220.wav' synth 6 square 220 vol 0.3"
    echo "sox -n -r 44100 -c 2 -b 16 '$clips/chord.wav' synth 6 sine 261.6 sine 329.6 sine 392 remix - vol 0.3"
  } >> "$clips/jobs.txt"
  {
    printf "%s\t%s\t0\t0\n" "not-in: silence" "$clips/silence.wav"
    printf "%s\t%s\t0\t0\n" "not-in: near-silent (-60 dB)" "$clips/hiss.wav"
    for f in 100 200 440 1000 3000; do
      printf "%s\t%s\t0\t0\n" "not-in: steady tones" "$clips/sine-$f.wav"
    done
    printf "%s\t%s\t0\t0\n" "not-in: steady tones" "$clips/square-220.wav"
    printf "%s\t%s\t0\t0\n" "not-in: steady tones" "$clips/chord.wav"
  } >> "$clips/negative.part"
  two_at_a_time < "$clips/jobs.txt"
  cat "$list.part" "$clips/negative.part" > "$list"
  rm -f "$list.part" "$clips/negative.part"
fi
# The shortest clips identify takes, 3.4 s: one block of sub-fingerprints,
# the least evidence the acceptance rule allows.
short="$clips/short.tsv"
if [ ! -s "$short" ]; then
  : > "$clips/short-jobs.txt"
  awk -F'\t' '$1 == "clean" || $1 == "noise 20 dB" || $1 ~ /^not-in: (other|same)/' "$list" |
  while IFS=$'\t' read -r category file track start; do
    cut="${file%.*}-3.4s.wav"
    echo "ffmpeg -nostdin -loglevel error -y -t 3.4 -i '$file' -bitexact -map_metadata -1 -c:a pcm_s16le '$cut'" >> "$clips/short-jobs.txt"
    printf "%s, 3.4 s\t%s\t%s\t%s\n" "$category" "$cut" "$track" "$start" >> "$short.part"
  done
  two_at_a_time < "$clips/short-jobs.txt"
  mv "$short.part" "$short"
fi
all="$clips/all.tsv"
cat "$list" "$short" > "$all"
awk -F'\t' '{ n[$1]++ } END { for (c in n) printf "  %-40s %d clips\n", c, n[c] }' "$all" | sort

echo "== 4. identification on the 100-track index"
"$eval" run "$db" "$all" "$work/figures-100.json"

echo "== 5. time per clip on larger indexes (the library and synthetic tracks)"
subset="$clips/subset.tsv"
awk -F'\t' '$1 == "clean" || $1 == "2% fast" || $1 == "mp3 64 kbit/s" || $1 == "noise 10 dB" || $1 ~ /^not-in: (other|same)/ || $1 ~ /3.4 s$/' "$all" > "$subset"
# An index built by an older run is built again when its format version or
# step is not the 100-track index's (the header's bytes 8 to 19).
same_layout() { cmp -s <(head -c 20 "$1/vokid-index") <(head -c 20 "$db/vokid-index"); }
# LARGER_INDEX=100000 (in the environment) adds an index of that many
# tracks: about 2 GB of disk and 35 s of building per 10,000 tracks, and
# as much again for its compaction.
for tracks in 1000 10000 ${LARGER_INDEX:-}; do
  big="$work/index-$tracks"
  if [ ! -s "$big/vokid-index" ] || ! same_layout "$big"; then
    rm -rf "$big"
    /usr/bin/time -f "built in %e s, %M kB peak" "$eval" synth "$db" "$big" "$tracks" 7
    # Written in several transactions: its pages packed as a single one leaves them.
    [ "$tracks" -gt 20000 ] && "$vokid" compact "$big" > /dev/null
  fi
  echo "-- $tracks tracks"
  "$vokid" stats "$big" | sed -n '1,2p;5,7p'
done
echo "-- the time per clip as the index grows (clean, 2% fast, MP3, 10 dB noise, 3.4-s and unknown clips)"
for tracks in 100 1000 10000 ${LARGER_INDEX:-}; do
  big="$work/index-$tracks"
  [ "$tracks" = 100 ] && big="$db"
  echo "$tracks tracks:"
  # Its pages in memory first, as in a process that has been running.
  cat "$big/data.mdb" > /dev/null
  "$eval" latency "$big" "$subset" | grep '^latency\|^store' | sed 's/^/  /'
done
echo "-- accuracy, false matches and bit error rates on the 10,000-track index (the same clips)"
"$eval" run "$work/index-10000" "$subset" "$work/figures-10000.json"
# The same tracks indexed at step 2 (every second sub-fingerprint), for
# the cost and the gain of the default step, measured in this run.
step2="$work/index-10000-step-2"
if [ ! -s "$step2/vokid-index" ] || [ "$work/index-10000/vokid-index" -nt "$step2/vokid-index" ]; then
  rm -rf "$step2"
  "$vokid" init "$step2" --step 2 > /dev/null
  "$vokid" copy "$work/index-10000" "$step2" 2> /dev/null
  "$vokid" compact "$step2" > /dev/null
fi
echo "-- 10,000 tracks at step 2"
"$vokid" stats "$step2" | sed -n '4p;6,7p'
cat "$step2/data.mdb" > /dev/null
"$eval" latency "$step2" "$subset" | grep '^latency\|^store' | sed 's/^/  /'
"$eval" run "$step2" "$subset" "$work/figures-10000-step-2.json"

rm -f "$work/time.txt"
if [ "${KEEP:-1}" = 0 ]; then rm -rf "$work"; fi
