#!/usr/bin/env bash
# Installs what is needed, builds and runs the whole test suite:
#   1. the normal build (program, simulator, core and window tests), and the
#      window tests once more under the German regional format;
#   2. the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the core tests (device link, memory, sampling) under ThreadSanitizer.
#   4. the fuzz targets for 15 seconds each (scripts/fuzz.sh).
# Every test runs in a private network namespace with loopback only.
# Exits non-zero on any failure. Usage: scripts/test.sh [--quick]  (--quick: step 1 only)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
quick=0
[ "${1:-}" = "--quick" ] && quick=1

bash scripts/install-deps.sh
jobs=$(nproc)
run_ctest() {
  local dir=$1; shift
  bash scripts/in-netns.sh ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
}

echo "== build and test: $here/build"
bash scripts/build.sh build
run_ctest build

# Each window test sets the regional format it expects: none may depend on
# the machine's.
echo "== window tests under LANG=de_DE.UTF-8: $here/build"
LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 run_ctest build -L gui

if [ $quick -eq 0 ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: $here/build-asan"
  bash scripts/build.sh build-asan -DTARVELO_SANITIZE=address,undefined -DTARVELO_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_ctest build-asan

  echo "== ThreadSanitizer, core only: $here/build-tsan"
  bash scripts/build.sh build-tsan -DTARVELO_SANITIZE=thread -DTARVELO_GUI=OFF -DTARVELO_BENCH=OFF
  # The crash-safety tests fork and kill a saving child: a single-threaded
  # check of the file system that ThreadSanitizer adds nothing to, and whose
  # slowed-down saves rarely give a kill inside the short write it needs.
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build-tsan -L core -E '^CrashSafety\.'

  echo "== fuzz targets, 15 s each: $here/build-fuzz"
  bash scripts/fuzz.sh 15
fi
echo "== all tests passed"
