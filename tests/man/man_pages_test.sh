#!/usr/bin/env bash
# The manual pages install with the rest and render without a warning; quillane-matte(1)
# names every option of the tool's --help, and both have a NAME line that whatis can index.
# Usage: man_pages_test.sh BUILD_DIR QUILLANE_MATTE. Exit 77 (skipped) without man or
# without quillane-matte.1 (help2man absent).
set -euo pipefail
build=$1 tool=$2
command -v man >/dev/null || { echo "SKIPPED: man is not installed"; exit 77; }
if [ ! -e "$build/man/quillane-matte.1" ]; then
  echo "SKIPPED: quillane-matte.1 was not made: help2man is not installed (scripts/install-deps.sh)"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Not the GIMP plug-in: its folder may be configured outside the prefix.
cmake --install "$build" --component Unspecified --prefix "$tmp" >/dev/null
status=0
for page in quillane quillane-matte; do
  file=$tmp/share/man/man1/$page.1
  if [ ! -e "$file" ]; then
    echo "FAIL: $page.1 is not installed in share/man/man1"
    status=1
    continue
  fi
  for width in 80 60; do
    LC_ALL=C.UTF-8 MANWIDTH=$width man --warnings=w -E UTF-8 -l "$file" >"$tmp/$page.txt" 2>"$tmp/$page.err" || true
    if [ -s "$tmp/$page.err" ] || [ "$(wc -l <"$tmp/$page.txt")" -lt 20 ]; then
      echo "FAIL: $page.1 at $width columns: $(wc -l <"$tmp/$page.txt") lines, warnings:"
      cat "$tmp/$page.err"
      status=1
    fi
  done
  lexgrog "$file" | grep -q "\"$page - " || { echo "FAIL: $page.1 has no NAME line"; status=1; }
done
# Each option of --help heads an entry of the OPTIONS section.
sed -n '/^OPTIONS/,/^[A-Z]/p' "$tmp/quillane-matte.txt" >"$tmp/options.txt"
for option in $("$tool" --help | grep -oE '^  --[a-z-]+' | sort -u); do
  grep -qE -- "^ +$option( |$)" "$tmp/options.txt" ||
    { echo "FAIL: the OPTIONS of quillane-matte.1 lack $option"; status=1; }
done
grep -q "EXAMPLES" "$tmp/quillane-matte.txt" || { echo "FAIL: quillane-matte.1 has no examples"; status=1; }
[ "$status" = 0 ] && echo "quillane.1 and quillane-matte.1 install and render without warnings"
exit "$status"
