#!/usr/bin/env bash
# Runs the built program end to end under valgrind memcheck: every algorithm
# in every output way (standard output, continuous mode, server query, an
# output file) and the main failure paths. Fails on any memory error or
# definitely lost block, and on any output that differs from the pinned
# fingerprints of the bundled sample. Then vokid, when it is built next to
# vok: print, decode, compare, and an index taken through add, identify,
# monitor, list, stats, duplicates and remove, with its refusals.
# Usage: tests/memcheck.sh [VOK]
set -euo pipefail
cd "$(dirname "$0")/.."
vok=${1:-build/vok}
vokid=$(dirname "$vok")/vokid
sample=data/sample.wav
golden=tests/vok/cli/golden/sample
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

memcheck=(valgrind --quiet --error-exitcode=99 --leak-check=full
          --errors-for-leak-kinds=definite --track-fds=no)
failures=0
program=$vok

# run NAME EXPECTED_EXIT ARGS...: one run under memcheck; its output is in
# $work/out and $work/err.
run() {
  local name=$1 expected=$2 status=0
  shift 2
  "${memcheck[@]}" "$program" "$@" > "$work/out" 2> "$work/err" || status=$?
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

# valgrind runs a program only as far as it can emulate its instructions
# on this processor. FFmpeg's libraries load libhwy, which reads the time
# stamp counter with rdtscp as it starts; where the processor does not list
# rdtscp (some virtual machines hide it), valgrind stops there with SIGILL,
# before vokid's own code runs. vokid is not checked on such a processor;
# the sanitizer build still runs its tests with the leak checker.
emulated() { # PROGRAM: 0 unless valgrind stops at an instruction it lacks
  local status
  status=$( { "${memcheck[@]}" "$1" --version > /dev/null 2> "$work/err"; echo $?; } 2> /dev/null)
  ! { [ "$status" = 132 ] && grep -q "Illegal opcode" "$work/err"; }
}

if [ -x "$vokid" ] && ! emulated "$vokid"; then
  echo "skip vokid: valgrind cannot emulate an instruction of a library it loads on this processor:"
  grep -m 2 -E "Illegal opcode|at 0x" "$work/err" | sed 's/^/    /'
elif [ -x "$vokid" ]; then
  program=$vokid
  index=$work/index
  run "vokid print xml" 0 print "$sample" && same "vokid print xml" "$work/out" "$golden.Stream1.xml"
  run "vokid print json, FileFloat" 0 print -a FileFloat --format json "$sample" || true
  "$vok" -c -f "$sample" > "$work/sample.xml"
  run "vokid decode" 0 decode "$work/sample.xml" || true
  run "vokid compare" 0 compare "$sample" "$work/sample.xml" || true
  run "vokid add" 0 add -j 2 "$index" "$sample" || true
  head -c 1000000 "$sample" > "$work/clip.wav"
  run "vokid identify" 0 identify --json "$index" "$work/clip.wav" || true
  run "vokid monitor" 0 monitor "$index" "$sample" || true
  run "vokid list" 0 list "$index" || true
  run "vokid stats" 0 stats "$index" || true
  run "vokid duplicates" 0 duplicates "$index" || true
  run "vokid remove" 0 remove "$index" 1 || true
  run "vokid missing input" 1 print "$work/missing.wav" || true
  run "vokid not an index" 1 list "$work" || true
else
  echo "skip vokid: not built next to $vok"
fi

if [ "$failures" -ne 0 ]; then
  echo "memcheck: $failures failures"
  exit 1
fi
echo "memcheck: all clean"
