#!/usr/bin/env bash
# vokid serve under load on loopback (wrk, 16 connections, 2 threads),
# on the index benchmark's 10,000-track index:
#   1. POST /query with vok's Stream1, Stream4 and FileFloat queries of
#      6-s clips (FileFloat: of the tracks' first 20 s), and POST
#      /v1/identify with 6-s MP3 clips: answers a second, latency p50/p99,
#      errors and non-2xx answers, CPU milliseconds per answer;
#   2. `vokid identify` on the same clips, for its own time per clip;
#   3. the server's anonymous memory (RssAnon) after 1,000 requests and
#      after 100,000.
# Usage: vokid_serve_bench.sh VOKID VOK INDEX_BENCH_WORKDIR
# Every run is bounded in time; the server is stopped however the script ends.
set -euo pipefail
vokid=$1 vok=$2 work=$3
for tool in wrk ffmpeg; do
  if ! command -v "$tool" >/dev/null; then
    echo "vokid serve benchmarks skipped: they need wrk and ffmpeg (apt-get install wrk ffmpeg)"
    exit 0
  fi
done
db="$work/index-10000"
if [ ! -s "$db/vokid-index" ]; then
  echo "vokid serve benchmarks skipped: no 10,000-track index in $db (the index benchmark makes it)"
  exit 0
fi
out="$work/serve"
mkdir -p "$out"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

echo "== vokid serve: the queries (cached in $out)"
# The tracks' FileFloat values, for the spectral queries: given by upgrade
# to the tracks whose files are there (the library's; the synthetic tracks
# have none).
"$vokid" upgrade "$db" 2>&1 | tail -1
clips=$(awk -F'\t' '$1 == "clean" { print $2 }' "$work/clips/all.tsv" | head -20)
n=0
for clip in $clips; do
  n=$((n + 1))
  wav="$work/clips/$(basename "$clip")"
  [ -s "$out/s1-$n.xml" ] || "$vok" -om zuserver -a Stream1 -f "$wav" -o "$out/s1-$n.xml"
  [ -s "$out/s4-$n.xml" ] || "$vok" -om zuserver -a Stream4 -f "$wav" -o "$out/s4-$n.xml"
  [ -s "$out/clip-$n.mp3" ] || ff -i "$wav" -b:a 128k "$out/clip-$n.mp3"
done
n=0
for track in $(ls "$work/library"/music-*.mp3 | head -20); do
  n=$((n + 1))
  if [ ! -s "$out/ff-$n.xml" ]; then
    ff -i "$track" -t 20 -ar 44100 -ac 2 "$out/start.wav"
    "$vok" -om zuserver -a FileFloat -f "$out/start.wav" -o "$out/ff-$n.xml"
  fi
done
rm -f "$out/start.wav"

# wrk posts the files of a kind in turn.
cat > "$out/post.lua" <<'LUA'
local bodies = {}
init = function(args)
  for i = 1, #args do
    local file = io.open(args[i], "rb")
    bodies[#bodies + 1] = file:read("*a")
    file:close()
  end
end
local turn = 0
request = function()
  turn = turn % #bodies + 1
  return wrk.format("POST", nil, nil, bodies[turn])
end
LUA

log="$out/server.log"
"$vokid" serve "$db" --listen 127.0.0.1:0 --threads 2 > "$out/url" 2> "$log" &
server=$!
trap 'kill -TERM $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -s "$out/url" ] && break; sleep 0.1; done
url=$(sed 's/^listening on //; s/\/$//' "$out/url")
cat "$db/data.mdb" > /dev/null # its pages in memory, as in a server that has been running

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }
rss_anon() { awk '/^RssAnon/ { print $2 }' "/proc/$server/status"; }
tick=$(getconf CLK_TCK)

# KIND ROUTE FILES...: 10 s at 16 connections after a 2-s warm-up.
load() {
  local kind=$1 route=$2
  shift 2
  wrk -t 2 -c 16 -d 2s -s "$out/post.lua" "$url$route" -- "$@" > /dev/null
  local before
  before=$(cpu_ticks)
  wrk -t 2 -c 16 -d 10s --latency -s "$out/post.lua" "$url$route" -- "$@" > "$out/wrk.txt"
  local after
  after=$(cpu_ticks)
  awk -v kind="$kind" -v ticks=$((after - before)) -v tick="$tick" '
    /^ +50%/ { p50 = $2 } /^ +99%/ { p99 = $2 }
    /requests in/ { n = $1 }
    /Requests\/sec/ { rate = $2 }
    /Non-2xx/ { bad = $NF } /Socket errors/ { errors = $0 }
    END {
      printf "  %-22s %7.0f answers/s  p50 %8s  p99 %8s  %5.2f CPU ms/answer  non-2xx %d%s\n",
        kind, rate, p50, p99, ticks * 1000 / tick / n, bad, errors ? "  " errors : ""
    }' "$out/wrk.txt"
}

echo "== vokid serve on 10,000 tracks: 16 connections, 2 server threads, 2 wrk threads"
load "/query Stream1" /query "$out"/s1-*.xml
load "/query Stream4" /query "$out"/s4-*.xml
load "/query FileFloat" /query "$out"/ff-*.xml
load "/v1/identify MP3" /v1/identify "$out"/clip-*.mp3
for kind in s1 s4 ff; do
  matched=$(for f in "$out/$kind"-*.xml; do curl -s --data-binary @"$f" "$url/query"; done | grep -c 'STATUS="OK"' || true)
  echo "  $kind queries answered OK: $matched of $(ls "$out/$kind"-*.xml | wc -l)"
done

echo "== vokid identify on the same index, for its own time per clip (20 clips, -j 1)"
/usr/bin/time -f "  %e s for 20 MP3 clips" "$vokid" identify -j 1 "$db" "$out"/clip-*.mp3 > /dev/null
/usr/bin/time -f "  %e s for 20 Stream1 documents" "$vokid" identify -j 1 "$db" "$out"/s1-*.xml > /dev/null

echo "== anonymous memory of the server (RssAnon) under POST /query"
served() { awk '/requests in/ { print $1 }' "$out/wrk.txt"; }
total=0
while [ "$total" -lt 1000 ]; do
  wrk -t 2 -c 16 -d 1s -s "$out/post.lua" "$url/query" -- "$out"/s1-*.xml > "$out/wrk.txt"
  total=$((total + $(served)))
done
first=$(rss_anon)
echo "  after $total requests: $first kB"
while [ "$total" -lt 100000 ]; do
  wrk -t 2 -c 16 -d 10s -s "$out/post.lua" "$url/query" -- "$out"/s1-*.xml > "$out/wrk.txt"
  total=$((total + $(served)))
done
last=$(rss_anon)
awk -v total="$total" -v first="$first" -v last="$last" 'BEGIN {
  printf "  after %d requests: %d kB (%+.1f%%)\n", total, last, (last - first) * 100 / first }'
