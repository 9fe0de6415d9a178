#!/usr/bin/env bash
# Makes the README's picture of clean edge colours (docs/images/clean-edges.png, or the path
# given): the sample lemur cut out by quillane-matte from its strokes, without (left) and with
# (right) --foreground, over a plain dark blue; above, the whole pictures at half size; below,
# the fur at the left edge at twice the size. Needs a build (bash scripts/build.sh) and
# ImageMagick's convert (scripts/install-deps.sh installs it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${BUILD_DIR:-$root/build}/tools/quillane-matte
out=${1:-$root/docs/images/clean-edges.png}
colour='#203080'
[ -x "$tool" ] || { echo "no $tool: build first (bash scripts/build.sh)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

image=$root/samples/lemur.png
strokes=$root/samples/lemur_strokes.png
"$tool" --quiet "$image" "$strokes" "$tmp/plain.png"
"$tool" --quiet --foreground "$image" "$strokes" "$tmp/clean.png"
for v in plain clean; do
  convert "$tmp/$v.png" -background "$colour" -flatten "$tmp/$v-over.png"
  convert "$tmp/$v-over.png" -resize 50% -bordercolor white -border 2 "$tmp/$v-small.png"
  convert "$tmp/$v-over.png" -crop 170x170+150+70 +repage -filter point -resize 200% \
    -bordercolor white -border 2 "$tmp/$v-detail.png"
done
convert \( "$tmp/plain-small.png" "$tmp/clean-small.png" +append \) \
  \( "$tmp/plain-detail.png" "$tmp/clean-detail.png" +append \) -append +repage "$out"
echo "wrote $out"
