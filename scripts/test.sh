#!/usr/bin/env bash
# Installs what is needed, builds and runs the whole test suite:
#   1. the normal build (program, simulator, core and window tests), and the
#      window tests once more under the German regional format;
#   2. the Debian package built from a clean clone of HEAD, unpacked into a
#      scratch root, its programs run (scripts/package-check.sh);
#   3. the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. the core tests (device link, memory, sampling) under ThreadSanitizer.
#   5. the fuzz targets for 15 seconds each (scripts/fuzz.sh).
# Every test runs in a private network namespace with loopback only.
# Stops at the first failing stage and names it.
# Exits non-zero on any failure. Usage: scripts/test.sh [--quick]  (--quick: step 1 only)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
quick=0
[ "${1:-}" = "--quick" ] && quick=1

stage="installing the packages"
trap 'status=$?; [ $status -eq 0 ] || echo "test.sh: FAILED in stage: $stage (exit $status)" >&2' EXIT

bash scripts/install-deps.sh
jobs=$(nproc)
run_ctest() {
  local dir=$1; shift
  bash scripts/in-netns.sh ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@"
}

stage="normal build and tests"
echo "== build and test: $here/build"
bash scripts/build.sh build
run_ctest build

# Each window test sets the regional format it expects: none may depend on
# the machine's.
stage="window tests under the German regional format"
echo "== window tests under LANG=de_DE.UTF-8: $here/build"
LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 run_ctest build -L gui

if [ $quick -eq 0 ]; then
  stage="Debian package from a clean clone"
  echo "== Debian package from a clean clone: $here/build-package-check"
  bash scripts/package-check.sh

  stage="AddressSanitizer + UndefinedBehaviorSanitizer"
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: $here/build-asan"
  bash scripts/build.sh build-asan -DTARVELO_SANITIZE=address,undefined -DTARVELO_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_ctest build-asan

  stage="ThreadSanitizer"
  echo "== ThreadSanitizer, core only: $here/build-tsan"
  bash scripts/build.sh build-tsan -DTARVELO_SANITIZE=thread -DTARVELO_GUI=OFF -DTARVELO_BENCH=OFF
  # The crash-safety tests fork and kill a saving child: a single-threaded
  # check of the file system that ThreadSanitizer adds nothing to, and whose
  # slowed-down saves rarely give a kill inside the short write it needs.
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build-tsan -L core -E '^CrashSafety\.'

  stage="fuzz targets"
  echo "== fuzz targets, 15 s each: $here/build-fuzz"
  bash scripts/fuzz.sh 15
fi
echo "== all tests passed"
