#!/usr/bin/env bash
# The GIMP plug-in in a headless GIMP (gimp-console-2.10 -i) with its settings in a temporary
# folder, installed there by cmake --install: a Script-Fu batch (matte_cases.scm) loads
# photographs with their stroke layers or trimaps, calls plug-in-quillane-matte and saves the
# masks, which must equal quillane-matte's mattes within 1/255 per pixel.
# Usage: gimp_plugin_test.sh BUILD_DIR SOURCE_DIR QUILLANE_MATTE PLUG_IN (PLUG_IN "none": not
# built). Exit 77 (skipped) without GIMP or without the plug-in.
set -euo pipefail
build=$1 source=$2 tool=$3 plugin=$4
if [ "$plugin" = none ]; then
  echo "SKIPPED: the plug-in was not built (libgimp2.0-dev is missing; scripts/install-deps.sh)"
  exit 77
fi
if ! command -v gimp-console-2.10 >/dev/null; then
  echo "SKIPPED: gimp-console-2.10 is not installed (scripts/install-deps.sh installs GIMP)"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export GIMP2_DIRECTORY=$tmp/gimp
mkdir -p "$GIMP2_DIRECTORY"/{brushes,dynamics,fonts,gradients,palettes,patterns,tool-presets} \
  "$tmp/out"
# Under DESTDIR, wherever QUILLANE_GIMP_PLUGIN_DIR points (even a user's own plug-in folder).
DESTDIR=$tmp/dest cmake --install "$build" --component gimp --prefix /usr >/dev/null
installed=$(find "$tmp/dest" -path '*/quillane-gimp/quillane-gimp' -type f -perm -u+x)
[ -n "$installed" ] || { echo "FAIL: the plug-in is not installed in a folder of its name"; exit 1; }
plugins=$(dirname "$(dirname "$installed")")
printf '(plug-in-path "${gimp_dir}/plug-ins:${gimp_plug_in_dir}/plug-ins:%s")\n' "$plugins" \
  >"$GIMP2_DIRECTORY/gimprc"

samples=$source/samples data=$source/../shared/data/matting
trimap_image="" trimap=""
if [ -e "$data/lemur_trimap.png" ]; then
  trimap_image=$data/lemur_image.png trimap=$data/lemur_trimap.png
else
  echo "trimap case not run: no shared photographs in $data"
fi
{
  printf '(define samples "%s")\n(define trimap-image "%s")\n(define trimap "%s")\n' \
    "$samples" "$trimap_image" "$trimap"
  printf '(define out "%s")\n' "$tmp/out"
  cat "$(dirname "$0")/matte_cases.scm"
} >"$tmp/cases.scm"
start=$(date +%s)
timeout 600 gimp-console-2.10 -i -d -f --batch-interpreter=plug-in-script-fu-eval -b - \
  <"$tmp/cases.scm" >"$tmp/gimp.log" 2>&1 || true
echo "GIMP ran the cases in $(($(date +%s) - start)) s"

status=0
fail() {
  echo "FAIL: $*"
  status=1
}
expect_line() {  # the line GIMP's log must have
  grep -qF -- "$1" "$tmp/gimp.log" || fail "GIMP's log lacks: $1"
}
# Largest difference of two PNGs' pixels, in 1/255; and how many pixels differ.
compare_png() {  # name, GIMP's PNG, the tool's PNG
  local pae ae
  if [ ! -e "$2" ]; then
    fail "$1: GIMP wrote no $2"
    return
  fi
  pae=$(compare -metric PAE "$2" "$3" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p') || true
  ae=$(compare -metric AE "$2" "$3" null: 2>&1) || true
  echo "$1: largest difference $(awk "BEGIN { printf \"%.2f\", $pae * 255 }")/255, $ae pixels differ"
  awk "BEGIN { exit !($pae * 255 <= 1.0001) }" || fail "$1: more than 1/255 from quillane-matte"
}

lemur=$samples/lemur.png strokes=$samples/lemur_strokes.png
expect_line "auto: done"
"$tool" --quiet --levels auto --alpha-only "$lemur" "$strokes" "$tmp/auto.png"
compare_png auto "$tmp/out/auto.png" "$tmp/auto.png"

expect_line "shifted: done"
convert -size 680x440 xc:none \( "$strokes" -crop 640x410+20+10 +repage \) -geometry +20+10 \
  -composite "$tmp/shifted-strokes.png"
"$tool" --quiet --levels 3 --active 2 --softness 1e-6 --radius 2 --alpha-only "$lemur" \
  "$tmp/shifted-strokes.png" "$tmp/shifted.png"
compare_png "shifted strokes, levels 3" "$tmp/out/shifted.png" "$tmp/shifted.png"

if [ -n "$trimap" ]; then
  expect_line "trimap: done"
  "$tool" --quiet --levels auto --trimap --alpha-only "$trimap_image" "$trimap" "$tmp/trimap.png"
  compare_png trimap "$tmp/out/trimap.png" "$tmp/trimap.png"
  "$tool" --quiet --levels auto --trimap --foreground "$trimap_image" "$trimap" "$tmp/colours.png"
  convert "$tmp/colours.png" -alpha off "$tmp/colours-rgb.png"
  convert "$tmp/out/trimap-colours.png" -alpha off "$tmp/gimp-colours-rgb.png"
  compare_png "clean edge colours" "$tmp/gimp-colours-rgb.png" "$tmp/colours-rgb.png"
fi

expect_line "photo as strokes: Procedure execution of plug-in-quillane-matte failed on invalid input arguments: The strokes must be another layer"
expect_line "no strokes: Procedure execution of plug-in-quillane-matte failed: no strokes in the image"
expect_line "mask after refusals: -1"
if [ "$status" != 0 ]; then
  echo "--- GIMP's log:"
  cat "$tmp/gimp.log"
fi
exit "$status"
