#!/usr/bin/env bash
# Pictures of the plug-in inside GIMP for the README, under a virtual X server: its dialog over
# the sample (gimp-dialog.png), and with --progress also GIMP's progress bar while it calculates
# with levels of its own (gimp-progress.png), in OUT_DIR (default docs/images). Needs a build with the plug-in (bash scripts/build.sh),
# GIMP, Xvfb, xdotool and ImageMagick (scripts/install-deps.sh installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${OUT_DIR:-$root/docs/images}
all=${1:-}
if [ -z "${SCREENSHOT_DISPLAY_READY:-}" ]; then
  exec env SCREENSHOT_DISPLAY_READY=1 xvfb-run -a -s "-screen 0 1280x860x24 -nolisten tcp" \
    bash "$0" "$@"
fi
tmp=$(mktemp -d)
trap 'kill "$gimp_pid" 2>/dev/null || true; rm -rf "$tmp"' EXIT
gimp_pid=
export GIMP2_DIRECTORY=$tmp/gimp
mkdir -p "$GIMP2_DIRECTORY"/{brushes,dynamics,fonts,gradients,palettes,patterns,tool-presets}
DESTDIR=$tmp/dest cmake --install "$build" --component gimp --prefix /usr >/dev/null
plugins=$(dirname "$(dirname "$(find "$tmp/dest" -path '*/quillane-gimp/quillane-gimp' -type f)")")
cat >"$GIMP2_DIRECTORY/gimprc" <<RC
(plug-in-path "\${gimp_dir}/plug-ins:\${gimp_plug_in_dir}/plug-ins:$plugins")
(single-window-mode yes)
(show-tips no)
RC

# The sample with its strokes as a layer named "strokes", the photograph active, the dialog.
script="(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$root/samples/lemur.png\" \"lemur.png\")))
               (photo (car (gimp-image-get-active-layer image)))
               (strokes (car (gimp-file-load-layer RUN-NONINTERACTIVE image \"$root/samples/lemur_strokes.png\"))))
          (gimp-image-insert-layer image strokes 0 0)
          (gimp-item-set-name strokes \"strokes\")
          (gimp-image-set-active-layer image photo)
          (gimp-display-new image)
          (gimp-displays-flush)
          (plug-in-quillane-matte RUN-INTERACTIVE image photo strokes FALSE TRUE 1 1 1e-7 1 FALSE))"
gimp-2.10 -s -d -f --batch-interpreter=plug-in-script-fu-eval -b "$script" >"$tmp/gimp.log" 2>&1 &
gimp_pid=$!

# Waits up to $2 s for a window named $1; prints its id.
wait_window() {
  local i
  for i in $(seq "$2"); do
    xdotool search --name "$1" 2>/dev/null | head -1 && return 0
    sleep 1
  done
  echo "no window '$1' after $2 s; GIMP said:" >&2
  cat "$tmp/gimp.log" >&2
  return 1
}
dialog=$(wait_window "^Matte from Strokes" 180)
# No window manager: put GIMP's window on the screen, the pointer out of the way.
main=$(wait_window "GIMP$" 10)
xdotool windowmove "$main" 0 0 windowsize "$main" 1280 860 mousemove 640 790
sleep 3  # let the image window draw
import -window root "$out/gimp-dialog.png"
echo "wrote $out/gimp-dialog.png"
if [ "$all" = --progress ]; then
  # Levels of our own (automatic levels off: a full-size solve, slow enough to watch), then
  # OK; clicked where they are in the dialog's geometry.
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  xdotool mousemove $((X + 20)) $((Y + 177)) click 1
  xdotool mousemove $((X + WIDTH - 60)) $((Y + HEIGHT - 25)) click 1 mousemove 640 790
  sleep 4
  import -window root "$out/gimp-progress.png"
  echo "wrote $out/gimp-progress.png"
  for i in $(seq 300); do  # until the plug-in is done
    pgrep -x quillane-gimp >/dev/null || break
    sleep 1
  done
else
  xdotool key --window "$dialog" Escape
fi
