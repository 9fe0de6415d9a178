#!/usr/bin/env bash
# The shared library exports exactly the functions its header declares: every QUILLANE_API
# function, and no engine or C++ runtime symbol beside them.
# Usage: exported_symbols.sh LIBRARY HEADER
set -euo pipefail
lib=$1 header=$2
expected=$(tr '\n' ' ' <"$header" | grep -oE 'QUILLANE_API [^;(]*\(' |
           grep -oE 'quillane_[a-z_0-9]+\($' | tr -d '(' | sort -u)
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVWiu]$/ { sub(/@.*/, "", $3); print $3 }' |
           sort -u)
if [ -z "$expected" ]; then
  echo "no QUILLANE_API declarations found in $header" >&2
  exit 1
fi
if [ "$expected" != "$exported" ]; then
  echo "exported symbols differ from the header's declarations (< header, > library):" >&2
  diff <(echo "$expected") <(echo "$exported") >&2 || true
  exit 1
fi
echo "$(echo "$exported" | wc -l) functions exported, as declared"
