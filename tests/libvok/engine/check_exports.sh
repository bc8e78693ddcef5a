#!/bin/sh
# The shared library exports exactly the operations that the public headers
# declare (marked VOK_API), and nothing else.
# Usage: check_exports.sh LIBRARY INCLUDE_DIR
set -eu
library=$1
include=$2
declared=$(grep -hv "define VOK_API" "$include"/vok/*.h | tr '\n' ' ' | grep -o 'VOK_API [A-Za-z_][^(;]*(' |
  sed 's/($//; s/.*[ *]//' | sort)
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sed 's/@.*//' | sort)
if [ "$declared" != "$exported" ]; then
  echo "declared in the headers:"; echo "$declared"
  echo "exported by $library:"; echo "$exported"
  exit 1
fi
echo "$(echo "$exported" | wc -l) operations exported, as declared"
