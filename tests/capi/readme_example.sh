#!/usr/bin/env bash
# The README's C example, compiled against an installed tree with pkg-config alone, mattes the
# sample exactly as quillane-matte --levels auto --alpha-only does.
# Usage: readme_example.sh BUILD_DIR SOURCE_DIR QUILLANE_MATTE [EXTRA_CFLAGS...]
set -euo pipefail
build=$1 source=$2 tool=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Not the GIMP plug-in: its folder may be configured outside the prefix.
cmake --install "$build" --component Unspecified --prefix "$tmp/prefix" >/dev/null
pc=$(dirname "$(find "$tmp/prefix" -name quillane.pc)")
# The block after the marker, up to its closing fence.
sed -n '/^<!-- tests\/capi\/readme_example.sh compiles this block -->$/,/^```$/p' \
  "$source/README.md" | sed '1,2d;$d' >"$tmp/matte.c"
[ "$(wc -l <"$tmp/matte.c")" -ge 10 ] || { echo "no C example found in README.md" >&2; exit 1; }
flags=$(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs quillane)
case "$flags" in *"$tmp/prefix"*) ;; *) echo "pkg-config gave '$flags'" >&2; exit 1 ;; esac
cc -std=c99 -Wall -Wextra -pedantic -Werror "$@" "$tmp/matte.c" $flags -o "$tmp/matte"

image=$source/samples/lemur.png strokes=$source/samples/lemur_strokes.png
convert "$image" -depth 8 rgba:"$tmp/image.rgba"
convert "$strokes" -depth 8 rgba:"$tmp/strokes.rgba"
read -r w h < <(identify -format '%w %h\n' "$image")
# The example leaves its buffers to the end of the process: no leak checker for it.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
  LD_LIBRARY_PATH=$(dirname "$(find "$tmp/prefix" -name 'libquillane.so' | head -1)") \
  "$tmp/matte" "$w" "$h" "$tmp/image.rgba" "$tmp/strokes.rgba" "$tmp/example.gray" >/dev/null
"$tool" --quiet --levels auto --alpha-only "$image" "$strokes" "$tmp/tool.png"
convert "$tmp/tool.png" -depth 8 gray:"$tmp/tool.gray"
[ "$(stat -c %s "$tmp/example.gray")" -eq $((w * h)) ] || { echo "short matte" >&2; exit 1; }
if ! cmp "$tmp/example.gray" "$tmp/tool.gray"; then
  echo "the example's matte differs from quillane-matte's" >&2
  exit 1
fi
echo "the README's example gives quillane-matte's matte (${w}x${h}, byte for byte)"
