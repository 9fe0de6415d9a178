#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under a virtual X server;
# then builds the engine and GUI tests with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs them too. Set QUILLANE_SKIP_ASAN=1 to skip the sanitizer pass.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

run_ctest() {  # build-dir, extra ctest arguments...
  local dir=$1; shift
  # A private X server for the GUI tests; they skip visibly without one.
  xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" \
    ctest --test-dir "$dir" --output-on-failure --timeout 900 "$@"
}

BUILD_DIR=$root/build bash scripts/build.sh
run_ctest "$root/build"

if [ "${QUILLANE_SKIP_ASAN:-0}" != 1 ]; then
  echo "== Sanitizer build (ASan + UBSan) =="
  BUILD_DIR=$root/build-asan BUILD_TYPE=Debug bash scripts/build.sh \
    -DQUILLANE_SANITIZE=ON -DQUILLANE_BUILD_BENCH=OFF
  # The engine and the tool must not leak, also when a calculation is cancelled or runs out
  # of memory: their tests run with the leak checker. GTK and fontconfig keep caches for the
  # life of the process, so for the editor's tests leak reports are noise.
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 run_ctest "$root/build-asan" -L unit
  ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
    run_ctest "$root/build-asan" -LE 'slow|unit'
fi
