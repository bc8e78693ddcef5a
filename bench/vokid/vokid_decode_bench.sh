#!/usr/bin/env bash
# `vokid decode` of a 100 MB fingerprint document: the Stream1 document of
# a generated minute of audio, its blocks repeated (renumbered) until the
# document holds 100 MB. Reports the peak RssAnon (anonymous memory, read
# from /proc every 20 ms) and the peak resident memory, against the goal of
# at most 64 MB of anonymous memory. The output goes to /dev/null.
# Usage: vokid_decode_bench.sh VOKID VOK VOKID_AUDIO WORKDIR
set -euo pipefail
vokid=$1 vok=$2 audio=$3 work=$4
mkdir -p "$work"
target=$((100 * 1024 * 1024))
document="$work/document-100mb.xml"

if [ ! -s "$document" ]; then
  "$audio" recording "$work/minute.wav" 31 60 11025 1
  "$vok" -c -f "$work/minute.wav" -o "$work/minute.xml"
  rm -f "$work/minute.wav"
  # Head, blocks and tail of the document; the blocks repeated in turn.
  awk -v target="$target" '
    /<FP_BLOCK / { blocks[n++] = $0; next }
    n == 0 { head = head $0 "\n"; next }
    { tail = tail $0 "\n" }
    END {
      printf "%s", head; size = length(head)
      for (i = 0; size < target; ++i) {
        line = blocks[i % n]
        sub(/ORD="[0-9]+"/, "ORD=\"" (i + 1) "\"", line)
        print line; size += length(line) + 1
      }
      printf "%s", tail
    }' "$work/minute.xml" > "$document"
fi
bytes=$(stat -c %s "$document")

"$vokid" decode "$document" > /dev/null &
pid=$!
peak_anon=0
while kb=$(awk '/^RssAnon:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) && [ -n "$kb" ]; do
  [ "$kb" -gt "$peak_anon" ] && peak_anon=$kb
  sleep 0.02
done
wait "$pid"
/usr/bin/time -f "%M" -o "$work/time.txt" "$vokid" decode "$document" > /dev/null
peak_rss=$(tail -n 1 "$work/time.txt")

echo "== vokid decode of a $((bytes >> 20)) MB fingerprint document"
awk -v a="$peak_anon" -v r="$peak_rss" 'BEGIN {
  printf "peak RssAnon %.1f MB (sampled every 20 ms), peak resident %.1f MB\n", a / 1024, r / 1024
  printf "goal: at most 64 MB of anonymous memory ... %s\n", (a / 1024 <= 64 && r / 1024 <= 64 ? "met" : (a / 1024 <= 64 ? "met (sampled)" : "MISSED"))
  printf "before (the whole text and every frame held): 2.6 GB for a 112 MB document\n"
}'
