#!/usr/bin/env bash
# Builds the candidate servers and measures them on 127.0.0.1 only; every
# step is bounded in time (about 70 s a server). Results: $OUT/results.md,
# raw output beside it.   usage: run.sh [OUT_DIR]   (default ./build)
set -u
cd "$(dirname "$0")"
OUT=${1:-build}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
FLAGS="-O2 -std=c++17 -Wall -Wextra -Wshadow -pthread"

echo "building..."
g++ $FLAGS srv_httplib.cpp -o "$OUT/srv_httplib" -lcpp-httplib || exit 1
g++ $FLAGS srv_mhd.cpp -o "$OUT/srv_mhd" -lmicrohttpd || exit 1
g++ $FLAGS srv_beast.cpp -o "$OUT/srv_beast" || exit 1
[ -f "$OUT/big" ] || head -c 100M /dev/zero > "$OUT/big"

# Same work for every server: calibrate once (~1 ms on a 4 kB body), unless
# HC_ROUNDS is given (to compare with an earlier run's rows).
if [ -z "${HC_ROUNDS:-}" ]; then
"$OUT/srv_httplib" 18999 1 4 2> "$OUT/calib.log" &
P=$!
sleep 2
kill $P; wait $P 2>/dev/null
HC_ROUNDS=$(sed -n 's/.* \([0-9]*\) rounds$/\1/p' "$OUT/calib.log")
fi
export HC_ROUNDS
echo "HC_ROUNDS=$HC_ROUNDS"

PORT=19000
start() {  # start NAME THREADS LIMIT: sets PID, PORT
  local name=$1 threads=$2 limit=$3 bin env=""
  PORT=$((PORT + 1))
  case $name in
    httplib|httplib64) bin=srv_httplib ;;
    mhd-epoll) bin=srv_mhd ;;
    mhd-tpc) bin=srv_mhd env="MHD_MODE=tpc" ;;
    beast) bin=srv_beast ;;
  esac
  env $env "$OUT/$bin" $PORT "$threads" "$limit" 2>> "$OUT/$name.log" &
  PID=$!
  for _ in $(seq 50); do curl -s -m 1 -o /dev/null "http://127.0.0.1:$PORT/ping" && return; sleep 0.1; done
  echo "$name did not start" >&2
}
stop() {
  local t0=$(date +%s.%N)
  kill -TERM $PID 2>/dev/null
  for _ in $(seq 150); do kill -0 $PID 2>/dev/null || break; sleep 0.1; done
  kill -KILL $PID 2>/dev/null
  wait $PID 2>/dev/null
  STOP_S=$(echo "$(date +%s.%N) - $t0" | bc)
}
wrk_line() {  # wrk_line FILE -> "req/s p50 p99 errors"
  local rps p50 p99 err
  rps=$(awk '/Requests\/sec/ {printf "%.0f", $2}' "$1")
  p50=$(awk '$1=="50%" {print $2}' "$1")
  p99=$(awk '$1=="99%" {print $2}' "$1")
  err=$(awk '/Socket errors/ {print $0} /Non-2xx/ {print $0}' "$1" | tr -s ' ' | tr '\n' ';')
  echo "$rps|$p50|$p99|${err:-none}"
}

echo "| server | threads | ping req/s | ping p50 | ping p99 | work req/s | work p50 | work p99 | ping req/s under 200 slow | p50 | p99 | errors under slow | slow clients | conn 65 of 64 | 100 MB body: status, time, sent by curl | stop with 16 busy (s) | VmRSS / RssAnon (kB) |" > "$OUT/results.md"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|" >> "$OUT/results.md"

for name in ${SERVERS:-httplib httplib64 mhd-epoll mhd-tpc beast}; do
  threads=2; [ $name = httplib64 ] && threads=64
  echo "== $name"
  start $name $threads 256
  timeout 20 wrk -t2 -c16 -d10s --latency "http://127.0.0.1:$PORT/ping" > "$OUT/$name.ping.txt" 2>&1
  timeout 20 wrk -t2 -c16 -d10s --latency -s post4k.lua "http://127.0.0.1:$PORT/work" > "$OUT/$name.work.txt" 2>&1
  timeout 30 python3 slow_clients.py $PORT 200 20 > "$OUT/$name.slow.txt" 2>&1 &
  SP=$!
  sleep 3
  timeout 20 wrk -t2 -c16 -d10s --latency "http://127.0.0.1:$PORT/ping" > "$OUT/$name.slowping.txt" 2>&1
  wait $SP

  big=$(timeout 30 curl -s -o /dev/null -H 'Expect:' --data-binary @"$OUT/big" -m 25 \
        -w '%{http_code}, %{time_total}s, %{size_upload}' "http://127.0.0.1:$PORT/work" 2>&1)

  big="${big% *} $(( ${big##* } / 1024 )) kB"
  mem=$(awk '/^VmRSS/ {r=$2} /^RssAnon/ {a=$2} END {print r " / " a}' /proc/$PID/status)
  # Graceful stop while 16 connections are busy with POST /work.
  timeout 10 wrk -t2 -c16 -d4s -s post4k.lua "http://127.0.0.1:$PORT/work" > "$OUT/$name.stopwrk.txt" 2>&1 &
  WP=$!
  sleep 2
  stop
  wait $WP
  stop_s=$(printf '%.2f' "$STOP_S")

  start $name $threads 64
  timeout 20 python3 conn_limit.py $PORT 64 > "$OUT/$name.limit.txt" 2>&1
  stop

  slow=$(sed 's/^slow: //' "$OUT/$name.slow.txt" | tr '\n' ' ')
  limit=$(sed 's/^limit: //' "$OUT/$name.limit.txt" | tr '\n' ';')
  echo "| $name | $threads | $(wrk_line "$OUT/$name.ping.txt" | cut -d'|' -f1-3) | $(wrk_line "$OUT/$name.work.txt" | cut -d'|' -f1-3) | $(wrk_line "$OUT/$name.slowping.txt") | $slow | $limit | $big | $stop_s | $mem |" >> "$OUT/results.md"
  tail -1 "$OUT/results.md"
done
