#!/usr/bin/env bash
# The README's recipes for many photographs, run as they stand there: every photograph is
# tried, the failing ones are reported and counted, the others get the matte a single run
# gives; across machines through a stand-in for ssh that gives each machine a home folder of
# its own here.
# Usage: batch_recipe_test.sh SOURCE_DIR QUILLANE_MATTE. Exit 77 (skipped) without parallel
# or rsync.
set -euo pipefail
source=$1 tool=$2
for program in parallel rsync; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIPPED: $program is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME=$tmp/home
mkdir -p "$HOME/.parallel" "$tmp/bin"
touch "$HOME/.parallel/will-cite"
ln -s "$(realpath "$tool")" "$tmp/bin/quillane-matte"
export PATH=$tmp/bin:$PATH
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The code of the README's block marked with this name.
block() {
  sed -n "/^<!-- tests\/batch\/batch_recipe_test.sh runs this block: $1 -->\$/,/^\`\`\`\$/p" \
    "$source/README.md" | sed '1,2d;$d'
}

# Runs block $2 in folder $1: its exit status, standard output and error into the folder.
run_block() {
  local code
  code=$(block "$2")
  [ -n "$code" ] || { fail "no block '$2' in README.md"; return; }
  (cd "$1" && set +e && bash -c "$code" >stdout 2>stderr; echo $? >status)
}

# photos/ and strokes/: the sample and its mirror image matte; one photograph has no stroke
# layer, one is not an image at all.
make_stroke_folder() {
  mkdir -p "$1/photos" "$1/strokes"
  cp "$source/samples/lemur.png" "$1/photos/lemur.png"
  cp "$source/samples/lemur_strokes.png" "$1/strokes/lemur.png"
  convert "$source/samples/lemur.png" -flop "$1/photos/mirror.png"
  convert "$source/samples/lemur_strokes.png" -flop "$1/strokes/mirror.png"
  cp "$source/samples/lemur.png" "$1/photos/nostrokes.png"
  echo "not an image" >"$1/photos/broken.jpg"
  cp "$source/samples/lemur_strokes.png" "$1/strokes/broken.png"
}

# Whether PNG files $1 and $2 hold the same matte within the bound the engine keeps for a
# matte calculated again (|difference| <= 2/255 on 99.5 % of the pixels): another machine's BLAS
# may sum in another order. Files of other sizes, or not images, are not the same.
same_matte() {
  local pixels off
  pixels=$(identify -format '%[fx:w*h]' "$2" 2>/dev/null) || return 1
  off=$(compare -channel A -metric AE -fuzz 0.8% "$1" "$2" null: 2>&1) || [ "$off" != "" ]
  [[ "$off" =~ ^[0-9]+$ ]] && [ $((off * 200)) -le "$pixels" ]
}

# Why out/$2.png in folder $1 differs from $tmp/single.png: missing, or how many pixels differ
# and by how much; with the job log, so that a failure on another machine can be read.
describe_difference() {
  local out=$1/out/$2.png
  if [ ! -e "$out" ]; then
    printf 'it is missing; out/ holds: %s' "$(ls "$1/out" | tr '\n' ' ')"
  else
    printf '%s bytes against %s; pixels that differ: %s; largest difference: %s' \
      "$(stat -c %s "$out")" "$(stat -c %s "$tmp/single.png")" \
      "$(compare -metric AE "$out" "$tmp/single.png" null: 2>&1)" \
      "$(compare -metric PAE "$out" "$tmp/single.png" null: 2>&1)"
  fi
  printf '; job log: %s' "$(tr '\t\n' ' |' <"$1/out/matte.log" 2>/dev/null)"
  printf '; stderr: %s' "$(tr '\n' '|' <"$1/stderr" 2>/dev/null)"
}

# In folder $1 after block $2: exit status $3; out/NAME.png as a single run makes it for the
# names in $4 (strokes from the folder $6, with the extra tool options $7), none for those in
# $5, whose errors are reported with their photograph; a log line for every photograph.
check_run() {
  local dir=$1 name=$2 status=$3 good=$4 bad=$5 layers=$6 options=${7:-} n photo
  [ "$(cat "$dir/status")" = "$status" ] ||
    fail "$name: exit status $(cat "$dir/status"), not $status; stderr: $(cat "$dir/stderr")"
  for n in $good; do
    photo=$(ls "$dir"/photos/"$n".*)
    quillane-matte --quiet --levels auto $options "$photo" "$dir/$layers/$n.png" "$tmp/single.png" ||
      fail "$name: a single run of $n failed"
    if ! cmp -s "$dir/out/$n.png" "$tmp/single.png"; then
      if same_matte "$dir/out/$n.png" "$tmp/single.png"; then
        echo "note: $name: out/$n.png is not byte-equal to a single run's matte:" \
          "$(describe_difference "$dir" "$n")"
      else
        fail "$name: out/$n.png is not a single run's matte: $(describe_difference "$dir" "$n")"
      fi
    fi
    grep -qP "\t0\t0\t.*photos/$n\." "$dir/out/matte.log" || fail "$name: no successful log line for $n"
  done
  for n in $bad; do
    [ ! -e "$dir/out/$n.png" ] || fail "$name: out/$n.png written for a failing photograph"
    grep -qP "^photos/$n\.[a-z]+\tquillane-matte: " "$dir/stderr" ||
      fail "$name: the failure of $n is not reported with its photograph"
    grep -qP "\t1\t0\t.*photos/$n\." "$dir/out/matte.log" || fail "$name: no log line of exit status 1 for $n"
  done
  [ "$(tail -n +2 "$dir/out/matte.log" | wc -l)" = "$(ls "$dir/photos" | wc -l)" ] ||
    fail "$name: not every photograph was tried"
}

# On this machine, with stroke layers; then the failures listed and, once mended, tried again.
make_stroke_folder "$tmp/one"
run_block "$tmp/one" strokes
check_run "$tmp/one" strokes 2 "lemur mirror" "nostrokes broken" strokes
cp "$source/samples/lemur_strokes.png" "$tmp/one/strokes/nostrokes.png"
run_block "$tmp/one" failures
[ "$(cat "$tmp/one/status")" = 1 ] || fail "failures: the retry's exit status is not 1 (broken.jpg)"
[ "$(grep -c '^1 quillane-matte' "$tmp/one/stdout")" = 2 ] ||
  fail "failures: the listing is not the two failures: $(cat "$tmp/one/stdout")"
[ -e "$tmp/one/out/nostrokes.png" ] || fail "failures: the mended photograph was not matted again"
grep -q "photos/lemur.png" "$tmp/one/stderr" && fail "failures: a matted photograph was run again"

# With trimaps, on the shared photographs: one trimap is of another photograph's size.
data=$source/../shared/data/matting
if [ -e "$data/GT18_trimap.png" ]; then
  mkdir -p "$tmp/tri/photos" "$tmp/tri/trimaps"
  cp "$data/lemur_image.png" "$tmp/tri/photos/lemur.png"
  cp "$data/lemur_trimap.png" "$tmp/tri/trimaps/lemur.png"
  cp "$data/GT18_image.png" "$tmp/tri/photos/gt18.png"
  cp "$data/GT18_trimap.png" "$tmp/tri/trimaps/gt18.png"
  cp "$data/GT13_image.png" "$tmp/tri/photos/mismatch.png"
  cp "$data/GT18_trimap.png" "$tmp/tri/trimaps/mismatch.png"
  run_block "$tmp/tri" trimaps
  check_run "$tmp/tri" trimaps 1 "lemur gt18" "mismatch" trimaps --trimap
  grep -q "the trimap is 800x646 but the image is 800x595" "$tmp/tri/stderr" ||
    fail "trimaps: the size mismatch is not named"
else
  echo "trimap recipe not run: no shared photographs in $data"
fi

# Across machines: two stand-in machines and this one.
cat >"$tmp/ssh" <<'SSH'
#!/bin/sh
# ssh [options] [user@]host [--] command: runs command here in the host's own home folder,
# with the test's tool and the system's programs only, in the environment an ssh login gives
# (sshd sets SHELL, which parallel's remote worker runs the job with; a CI job may have none).
echo "$*" >>"$MACHINES/ssh.log"
while [ $# -gt 0 ]; do
  case $1 in
    -o | -l | -p | -S) shift 2 ;;
    -*) shift ;;
    *) break ;;
  esac
done
host=${1#*@}
shift
[ "${1:-}" = -- ] && shift
mkdir -p "$MACHINES/$host" && cd "$MACHINES/$host" &&
  exec env -i HOME="$MACHINES/$host" PATH="$TOOL_DIR:/usr/bin:/bin" SHELL=/bin/sh \
    USER="$(id -un)" LOGNAME="$(id -un)" LANG=C.UTF-8 sh -c "$*"
SSH
chmod +x "$tmp/ssh"
export PARALLEL_SSH=$tmp/ssh MACHINES=$tmp/machines TOOL_DIR=$tmp/bin
mkdir -p "$MACHINES"
make_stroke_folder "$tmp/many"
run_block "$tmp/many" machines
check_run "$tmp/many" machines 2 "lemur mirror" "nostrokes broken" strokes
hosts=$(tail -n +2 "$tmp/many/out/matte.log" | cut -f2 | sort -u | tr '\n' ' ')
case "$hosts" in *box*) ;; *) fail "machines: no job ran on another machine ($hosts)" ;; esac
grep -q "rsync --server" "$MACHINES/ssh.log" || fail "machines: nothing was sent with rsync"
left=$(find "$MACHINES" -type f ! -name ssh.log)
[ -z "$left" ] || fail "machines: copies left behind: $left"
[ -e "$tmp/many/photos/lemur.png" ] && [ -e "$tmp/many/strokes/lemur.png" ] ||
  fail "machines: this machine's photographs were removed"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "batch recipes: every photograph tried, failures reported, mattes as single runs (machines: $hosts)"
