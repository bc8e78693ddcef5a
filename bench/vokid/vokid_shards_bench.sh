#!/usr/bin/env bash
# identify on an index in PostgreSQL: one server against the same index
# sharded over 2 and 3 servers, all on this machine (throw-away clusters on
# 127.0.0.1). 20 generated recordings are added to an index folder, and 6-s
# clips are cut from them. For each layout that index, plus synthetic
# tracks up to TRACKS in all, is written into PostgreSQL (vokid_index_eval
# synth), vacuumed and analysed. Then each clip is identified in-process
# with the index opened before (vokid_index_eval latency), once to warm
# the caches and three times measured: the median and percentiles.
# Usage: vokid_shards_bench.sh VOKID EVAL AUDIO WORKDIR [TRACKS]
# Needs PostgreSQL 15 (postgresql-15, which has postgres_fdw) and ffmpeg.
# Everything is made again in WORKDIR; the clusters are stopped at the end,
# also when the script fails.
set -euo pipefail
vokid=$1 eval=$2 audio=$3 work=$4 tracks=${5:-1000}
bin=/usr/lib/postgresql/15/bin
if [ ! -x "$bin/initdb" ] || ! command -v ffmpeg >/dev/null; then
  echo "shard benchmark skipped: it needs PostgreSQL 15 and ffmpeg (apt-get install postgresql-15 ffmpeg)"
  exit 0
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)
rm -rf "$work/pg" "$work/source" "$work/clips"
mkdir -p "$work/pg" "$work/lib" "$work/clips"
# PostgreSQL refuses to run as root: its programs then run as postgres.
as_pg() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
[ "$(id -u)" = 0 ] && chown postgres "$work/pg"

running=()
stop_all() {
  for data in "${running[@]}"; do
    as_pg "$bin/pg_ctl" -D "$data" -m immediate -w stop >/dev/null 2>&1 || true
  done
  running=()
}
trap stop_all EXIT

# A free loopback port: one the system just gave and took back.
free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_cluster NAME: a new cluster, its port in $port.
start_cluster() {
  local data="$work/pg/$1"
  port=$(free_port)
  as_pg "$bin/initdb" -D "$data" -U postgres -A trust --no-sync --no-instructions >/dev/null
  cat >> "$data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = ''
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
  as_pg "$bin/pg_ctl" -D "$data" -l "$work/pg/$1.log" -w start >/dev/null
  running+=("$data")
}

echo "== the library: 20 generated recordings of 60 s, 6-s clips from 20 s on"
for i in $(seq 1 20); do
  [ -s "$work/lib/t$i.wav" ] || "$audio" recording "$work/lib/t$i.wav" $((3000 + i)) 60 22050 1
done
"$vokid" add "$work/source" "$work/lib"/t*.wav >/dev/null
"$vokid" list --json "$work/source" |
  /usr/bin/python3 -c '
import json, sys
for line in sys.stdin:
    track = json.loads(line)
    print("%d\t%s" % (track["track"], track["path"]))' > "$work/ids.tsv"
: > "$work/clips.tsv"
while IFS=$'\t' read -r id path; do
  clip="$work/clips/clip-$id.wav"
  ffmpeg -nostdin -loglevel error -y -ss 20 -t 6 -i "$path" -c:a pcm_s16le "$clip"
  printf "clean\t%s\t%s\t20\n" "$clip" "$id" >> "$work/clips.tsv"
done < "$work/ids.tsv"

# measure LABEL SHARDS: the index with SHARDS shards (0: one server).
measure() {
  local label=$1 shards=$2 db args=() ports=()
  start_cluster "$label-c"
  ports+=("$port")
  db="postgresql://postgres@127.0.0.1:$port/postgres"
  for s in $(seq 1 "$shards"); do
    start_cluster "$label-s$s"
    ports+=("$port")
    args+=(--shard "postgresql://postgres@127.0.0.1:$port/postgres")
  done
  "$vokid" init "$db" "${args[@]}" >/dev/null
  /usr/bin/time -f "  written in %e s" "$eval" synth "$work/source" "$db" "$tracks" 7
  echo "-- $label: $("$vokid" stats "$db" | sed -n '1p;4p' | tr '\n' ' ')"
  # The rows written are vacuumed (hint bits, visibility) and analysed,
  # and a first run warms the caches; then three runs.
  for p in "${ports[@]}"; do
    "$bin/psql" -q -h 127.0.0.1 -p "$p" -U postgres -c "VACUUM ANALYZE" postgres
  done
  "$eval" latency "$db" "$work/clips.tsv" > /dev/null
  for run in 1 2 3; do
    "$eval" latency "$db" "$work/clips.tsv" | grep '^latency per clip, all' |
      sed "s/^latency per clip, all/  run $run:/"
  done
  stop_all
}

measure one-server 0
measure two-shards 2
measure three-shards 3
if [ "${KEEP:-1}" = 0 ]; then rm -rf "$work"; fi
