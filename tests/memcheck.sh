#!/usr/bin/env bash
# Runs the built program end to end under valgrind memcheck: every algorithm
# in every output way (standard output, continuous mode, server query, an
# output file) and the main failure paths. Fails on any memory error or
# definitely lost block, and on any output that differs from the pinned
# fingerprints of the bundled sample. Usage: tests/memcheck.sh [VOK]
set -euo pipefail
cd "$(dirname "$0")/.."
vok=${1:-build/vok}
sample=data/sample.wav
golden=tests/cli/golden/sample
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

memcheck=(valgrind --quiet --error-exitcode=99 --leak-check=full
          --errors-for-leak-kinds=definite --track-fds=no)
failures=0

# run NAME EXPECTED_EXIT ARGS...: one run under memcheck; its output is in
# $work/out and $work/err.
run() {
  local name=$1 expected=$2 status=0
  shift 2
  "${memcheck[@]}" "$vok" "$@" > "$work/out" 2> "$work/err" || status=$?
  if [ "$status" != "$expected" ]; then
    echo "FAIL $name: exit $status, expected $expected"
    sed 's/^/    /' "$work/err"
    failures=$((failures + 1))
    return 1
  fi
  echo "ok   $name"
}

same() { # same NAME FILE EXPECTED_FILE
  if ! cmp -s "$2" "$3"; then
    echo "FAIL $1: output differs from $3"
    failures=$((failures + 1))
  fi
}

for algorithm in Stream1 Stream4 FileFixed FileFloat; do
  run "$algorithm" 0 -a "$algorithm" -f "$sample" && same "$algorithm" "$work/out" "$golden.$algorithm.xml"
  run "$algorithm -om zuserver" 0 -a "$algorithm" -om zuserver -f "$sample" || true
  run "$algorithm -o FILE" 0 -a "$algorithm" -f "$sample" -o "$work/file.xml" &&
    same "$algorithm -o FILE" "$work/file.xml" "$golden.$algorithm.xml"
  case $algorithm in
    Stream*)
      run "$algorithm -c" 0 -c -a "$algorithm" -f "$sample" &&
        same "$algorithm -c" "$work/out" "$golden.$algorithm.xml"
      run "$algorithm -c -n 0" 0 -c -n 0 -a "$algorithm" -f "$sample" || true ;;
    *)
      run "$algorithm -c refused" 1 -c -a "$algorithm" -f "$sample" || true ;;
  esac
done

# Failure paths: a missing input, a cut-off file, too little audio, a
# refused option, an output that cannot be written.
head -c 300000 "$sample" > "$work/cut.wav"
run "missing input" 1 -f "$work/missing.wav" || true
run "cut-off input" 1 -f "$work/cut.wav" || true
run "too little audio, FileFixed" 1 -a FileFixed -f "$work/cut.wav" || true
run "unknown algorithm" 1 -a Bogus -f "$sample" || true
run "full output device" 1 -f "$sample" -o /dev/full || true

if [ "$failures" -ne 0 ]; then
  echo "memcheck: $failures failures"
  exit 1
fi
echo "memcheck: all clean"
