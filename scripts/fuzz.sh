#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, AddressSanitizer + UBSan) in
# build-fuzz and runs each for a bounded time against a copy of its seed
# corpus in fuzz/corpus/<name> (the committed corpus is never grown). The
# saved crash inputs in fuzz/regressions/<name> are replayed first.
# Exits non-zero when a target crashes; the input is kept in
# build-fuzz/artifacts/<name>/.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 15)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
seconds=${1:-15}
targets=(replies stream sample_file settings recording)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build-fuzz "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARVELO_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for name in "${targets[@]}"; do
  exe=build-fuzz/bin/fuzz_$name
  artifacts=build-fuzz/artifacts/$name
  mkdir -p "$artifacts" "$work/$name"
  regressions=(fuzz/regressions/"$name"/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== fuzz_$name: replaying ${#regressions[@]} saved crash inputs"
    bash scripts/in-netns.sh "$exe" "${regressions[@]}" >"$work/$name.replay.log" 2>&1 || {
      tail -n 30 "$work/$name.replay.log"; failed+=("$name"); continue; }
  fi
  cp -r fuzz/corpus/"$name"/. "$work/$name/"
  echo "== fuzz_$name: ${seconds}s"
  if ! bash scripts/in-netns.sh "$exe" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$work/$name" >"$work/$name.log" 2>&1; then
    tail -n 40 "$work/$name.log"
    failed+=("$name")
    continue
  fi
  grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$work/$name.log" | tail -n 1 || true
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: crashes in: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2
  exit 1
fi
echo "== fuzz: no crashes"
