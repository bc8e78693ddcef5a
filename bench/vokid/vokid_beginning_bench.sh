#!/usr/bin/env bash
# The spectral lookup's tolerance, measured on the index benchmark's kind
# of library (vokid_index_bench.sh), generated the same way:
#   1. the library: 60 generated pieces of 30 to 90 s (its seeds), and 4
#      spoken texts (espeak-ng), added to an index as WAV files; recordings
#      not in it: 10 other pieces, 6 other recordings of indexed pieces
#      (another tempo, key and sound), the texts read by another voice;
#   2. queries: FileFixed and FileFloat documents by vok of every file, and
#      by vokid print of an MP3 copy at 128 kbit/s of every indexed one;
#   3. for each kind of query, the largest L1 distance from its own
#      track's stored values and the smallest from any other's, and the
#      answers at the tolerance (SpectralTable::nearest): the tolerance
#      must lie between the two with margin;
#   4. the time of one lookup on a table of 10,000 tracks;
#   5. the time the values add to fingerprinting a track at vokid add.
# Usage: vokid_beginning_bench.sh VOK VOKID EVAL AUDIO WORKDIR
# The library stays in WORKDIR for the next run; KEEP=0 removes it.
set -euo pipefail
vok=$1 vokid=$2 eval=$3 audio=$4 work=$5
for tool in ffmpeg espeak-ng; do
  if ! command -v "$tool" >/dev/null; then
    echo "vokid spectral benchmark skipped: it needs ffmpeg and espeak-ng (apt-get install ffmpeg espeak-ng)"
    exit 0
  fi
done
mkdir -p "$work"
work=$(cd "$work" && pwd)
lib="$work/library" others="$work/others" docs="$work/documents"
mkdir -p "$lib" "$others" "$docs"
. "$(dirname "$0")/bench_common.sh"

echo "== 1. the library (cached in $lib)"
{
  for i in $(seq 1 60); do
    [ -s "$lib/music-$i.wav" ] ||
      echo "'$audio' recording '$lib/music-$i.wav' $((1000 + i)) $((30 + (i * 7919) % 61)) 44100 2"
  done
  for i in $(seq 1 4); do
    [ -s "$lib/spoken-$i.wav" ] ||
      echo "printf 'Text %d. %s\n' $i \"\$(seq -s ' ' $((i * 50)) $((i * 50 + 60)))\" > '$lib/spoken-$i.txt' && espeak-ng -v en-us -s 150 -f '$lib/spoken-$i.txt' -w '$lib/spoken-$i.wav'"
  done
  for i in $(seq 1 10); do
    [ -s "$others/unknown-$i.wav" ] ||
      echo "'$audio' recording '$others/unknown-$i.wav' $((3000 + i)) 40 44100 2"
  done
  for i in $(seq 1 6); do
    [ -s "$others/cover-$i.wav" ] ||
      echo "'$audio' recording '$others/cover-$i.wav' $((1000 + i)) 40 44100 2 1.06 1 mellow"
  done
} | two_at_a_time
for i in $(seq 1 4); do
  [ -s "$others/voice-$i.wav" ] ||
    espeak-ng -v en-us+f3 -s 165 -f "$lib/spoken-$i.txt" -w "$others/voice-$i.wav"
done
for f in "$lib"/*.wav; do
  mp3="$work/mp3/$(basename "$f" .wav).mp3"
  mkdir -p "$work/mp3"
  [ -s "$mp3" ] || ffmpeg -nostdin -loglevel error -y -i "$f" -c:a libmp3lame -b:a 128k "$mp3"
done
rm -rf "$work/index"
"$vokid" add "$work/index" "$lib"
"$vokid" stats "$work/index" | sed -n '1p;5p'

echo "== 2. queries"
queries="$work/queries.tsv"
: > "$queries"
for f in "$lib"/*.wav "$others"/*.wav; do
  name=$(basename "$f" .wav)
  case "$f" in "$lib"/*) path=$f where=indexed ;; *) path=- where="not indexed" ;; esac
  for algorithm in FileFixed FileFloat; do
    "$vok" -a "$algorithm" -f "$f" > "$docs/$name.$algorithm.xml"
    printf '%s\t%s\t%s\n' "$algorithm by vok, $where" "$docs/$name.$algorithm.xml" "$path" >> "$queries"
    if [ "$where" = indexed ]; then
      "$vokid" print -a "$algorithm" "$work/mp3/$name.mp3" > "$docs/$name.mp3.$algorithm.xml"
      printf '%s\t%s\t%s\n' "$algorithm of MP3 128k" "$docs/$name.mp3.$algorithm.xml" "$path" >> "$queries"
    fi
  done
done
wc -l < "$queries" | awk '{ printf "%d queries\n", $1 }'

echo "== 3. distances"
"$eval" distances "$work/index" "$queries"

echo "== 4. a lookup on 10,000 tracks"
"$eval" speed "$work/index" 10000 20000

echo "== 5. the values' cost at vokid add"
"$eval" cost $(ls "$lib"/music-*.wav | head -8)

if [ "${KEEP:-1}" = 0 ]; then
  rm -rf "$work"
fi
