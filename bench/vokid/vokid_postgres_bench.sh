#!/usr/bin/env bash
# vokid's index in PostgreSQL, on a throw-away cluster of this machine
# (initdb in a temporary folder, a Unix socket only), beside the LMDB
# figures of the index benchmark, whose library, clips and 1,000- and
# 10,000-track indexes it uses (run after it, in the same WORKDIR):
#   1. vokid copy of each index into a database: its time, and the bytes
#      per hour of audio of each part, before and after VACUUM FULL;
#   2. identification on each: the time per clip, and the time of the
#      store's lookups alone, beside the index folder's in the same run;
#   3. vokid add from MP3 with 1, 2 and 4 writers at once, each on its
#      share of the library: hours of audio added per second of wall time.
# Usage: vokid_postgres_bench.sh VOKID EVAL WORKDIR
set -euo pipefail
vokid=$1 eval=$2 work=$3
pgbin=/usr/lib/postgresql/15/bin
if [ ! -x "$pgbin/initdb" ]; then
  echo "vokid PostgreSQL benchmarks skipped: they need postgresql-15 (apt-get install postgresql-15)"
  exit 0
fi
if [ ! -s "$work/index-10000/vokid-index" ] || [ ! -s "$work/clips/all.tsv" ]; then
  echo "vokid PostgreSQL benchmarks skipped: they need the index benchmark's files in $work"
  exit 0
fi
work=$(cd "$work" && pwd)

# PostgreSQL refuses to run as root: as root, its programs run as postgres.
pg=$(mktemp -d /tmp/vokid-pg-bench.XXXXXX)
as_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
[ "$(id -u)" = 0 ] && chown postgres "$pg"
stop() {
  as_pg "$pgbin/pg_ctl" -D "$pg/data" -m immediate stop > /dev/null 2>&1 || true
  rm -rf "$pg"
}
trap stop EXIT
as_pg "$pgbin/initdb" -D "$pg/data" -U postgres -A trust --no-sync > /dev/null
cat >> "$pg/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$pg'
shared_buffers = 1GB
effective_cache_size = 4GB
max_wal_size = 4GB
CONF
as_pg "$pgbin/pg_ctl" -D "$pg/data" -l "$pg/log" -w start > /dev/null
psql() { "$pgbin/psql" -X -q -h "$pg" -U postgres "$@"; }
uri() { echo "postgresql:///$1?host=$pg&user=postgres"; }
newdb() { psql -d postgres -c "CREATE DATABASE $1"; uri "$1"; }
seconds() { /usr/bin/time -f %e -o "$pg/time" "$@" > /dev/null; cat "$pg/time"; }
"$pgbin/postgres" --version

# The bytes per hour of audio of each part, from vokid stats --json.
per_hour() {
  "$vokid" stats --json "$1" | awk -F': ' -v what="$2" '
    /"hours"/ { sub(",", "", $2); h = $2 }
    /"posting_bytes"/ { sub(",", "", $2); p = $2 }
    /"sequence_bytes"/ { sub(",", "", $2); s = $2 }
    /"metadata_bytes"/ { sub(",", "", $2); m = $2 }
    END { printf "  %s: %.2f h; postings %.2f MB/h, sequences %.2f MB/h, tracks %.2f MB/h, all %.2f MB/h\n",
          what, h, p / 1e6 / h, s / 1e6 / h, m / 1e6 / h, (p + s + m) / 1e6 / h }'
}

subset="$work/clips/subset.tsv"
echo "== 1. the indexes copied into databases"
for tracks in 1000 10000; do
  db=$(newdb "idx$tracks")
  echo "-- $tracks tracks: vokid copy in $(seconds "$vokid" copy "$work/index-$tracks" "$db") s"
  per_hour "$work/index-$tracks" "index folder"
  per_hour "$db" "PostgreSQL"
  psql -d "idx$tracks" -c "VACUUM FULL ANALYZE vokid.postings, vokid.sequences, vokid.tracks"
  per_hour "$db" "PostgreSQL after VACUUM FULL"
done

echo "== 2. the time per clip (clean, 2% fast, MP3, 10 dB noise, 3.4-s and unknown clips)"
for tracks in 1000 10000; do
  echo "$tracks tracks, index folder:"
  cat "$work/index-$tracks/data.mdb" > /dev/null
  "$eval" latency "$work/index-$tracks" "$subset" | grep '^latency\|^store' | sed 's/^/  /'
  echo "$tracks tracks, PostgreSQL:"
  # Its pages in the server's cache first, as on a server that has been running.
  psql -d "idx$tracks" -c "SELECT count(*) FROM vokid.postings" > /dev/null
  "$eval" latency "$(uri "idx$tracks")" "$subset" | grep '^latency\|^store' | sed 's/^/  /'
done

echo "== 3. vokid add from MP3, writers at once (each -j 1, on its share of the library)"
mapfile -t files < <(ls "$work"/library/*.mp3)
for writers in 1 2 4; do
  db=$(newdb "add$writers")
  "$vokid" add "$db" "${files[0]}" > /dev/null # the tables made before the writers start
  start=$(date +%s.%N)
  for ((w = 0; w < writers; w++)); do
    share=()
    for ((i = 1 + w; i < ${#files[@]}; i += writers)); do share+=("${files[$i]}"); done
    "$vokid" add -j 1 "$db" "${share[@]}" > "$pg/writer-$w.txt" &
  done
  wait
  end=$(date +%s.%N)
  hours=$("$vokid" stats --json "$db" | awk -F': ' '/"hours"/ { sub(",", "", $2); print $2 }')
  tracks=$("$vokid" stats --json "$db" | awk -F': ' '/"tracks"/ { sub(",", "", $2); print $2; exit }')
  awk -v w="$writers" -v s="$start" -v e="$end" -v h="$hours" -v t="$tracks" 'BEGIN {
    printf "%d writer%s: %d tracks, %.2f h of audio in %.1f s: %.0fx real time, %.1f tracks/s\n",
           w, (w == 1 ? "" : "s"), t, h, e - s, h * 3600 / (e - s), (t - 1) / (e - s) }'
done
