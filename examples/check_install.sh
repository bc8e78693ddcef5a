#!/usr/bin/env bash
# Installs the project into a staging prefix and builds the library example
# against the installed tree: with pkg-config (shared, and static) and with a
# C-only CMake project using find_package(vok) (vok::vok, and
# vok::vok_static). Every build must print
# for the bundled sample's audio the document that `vok -f` prints, and the
# installed shared library must export only the public operations.
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage

cmake --install "$build" --prefix "$stage" >/dev/null
libdir=$(dirname "$(find "$stage" -name 'libvok.so.1' | head -n 1)")
export PKG_CONFIG_PATH=$libdir/pkgconfig
echo "installed:"
(cd "$stage" && find . -type f -o -type l | sort | sed 's/^/  /')

sh "$top/tests/libvok/engine/check_exports.sh" "$libdir/libvok.so" "$stage/include"
mandoc -T lint -W warning "$stage"/share/man/man1/vok.1 "$stage"/share/man/man3/libvok.3

example=$top/examples/fingerprint_pcm.c
cc -std=c99 -Wall -Wextra -Werror -o "$work/shared" "$example" \
  $(pkg-config --cflags --libs vok) -Wl,-rpath,"$libdir"
cc -std=c99 -Wall -Wextra -Werror -o "$work/static" "$example" \
  $(pkg-config --cflags vok) $(pkg-config --static --libs vok | sed 's/-lvok\b/-l:libvok.a/')
cmake -S "$top/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/cmake" >/dev/null

# The bundled sample is a canonical WAVE file: its audio starts at byte 44.
"$stage/bin/vok" -f "$top/data/sample.wav" > "$work/expected.xml"
for program in "$work/shared" "$work/static" "$work/cmake/fingerprint_pcm" \
               "$work/cmake/fingerprint_pcm_static"; do
  tail -c +45 "$top/data/sample.wav" | "$program" 44100 > "$work/got.xml"
  cmp "$work/expected.xml" "$work/got.xml"
  echo "$(basename "$program"): the document vok prints"
done
# The frames example on the public header alone: a handle's frames, its
# document decoded raw and wrapped, and encoded back, for Stream1, Stream4
# and both spectral algorithms; shared and static, pkg-config and CMake.
cc -std=c99 -Wall -Wextra -Werror -o "$work/frames" "$top/examples/frames.c" \
  $(pkg-config --cflags --libs vok) -Wl,-rpath,"$libdir"
for program in "$work/frames" "$work/cmake/frames" "$work/cmake/frames_static"; do
  for algorithm in 3 4 1 2; do
    tail -c +45 "$top/data/sample.wav" | "$program" $algorithm 44100 > "$work/frames.txt"
  done
  echo "$(basename "$program"): frames, documents and values agree"
done
for program in "$work/static" "$work/cmake/fingerprint_pcm_static" "$work/cmake/frames_static"; do
  if ldd "$program" | grep -q libvok; then
    echo "$(basename "$program"): the static build depends on libvok.so" >&2
    exit 1
  fi
done
