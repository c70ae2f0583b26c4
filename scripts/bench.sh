#!/usr/bin/env bash
# Builds the benchmarks and runs every one of them against the simulated
# instrument on loopback (inside a private network namespace when root), then
# prints the performance table of the README: each figure next to its
# baseline from the same run. Usage: scripts/bench.sh [repetitions]  (default 5)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
reps=${1:-5}

bash scripts/install-deps.sh >/dev/null
bash scripts/build.sh build -DTARVELO_BENCH=ON >/dev/null
bin="$here/build/bin"
out=$(mktemp -d -t tarvelo-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT

run() {
  local name=$1; shift
  echo "bench: $name" >&2
  bash scripts/in-netns.sh env QT_QPA_PLATFORM=offscreen "$bin/$name" \
    --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$out/$name.json" "$@" >/dev/null
}
run bench_ingest
run bench_record
run bench_files
run bench_analysis
run bench_refresh
run bench_batch
# A 10-million-sample recording (about 710 MB in TMPDIR, removed afterwards).
run bench_recording
run bench_recording_view
# A day at 1000 samples/s in 24 split files (about 6 GB in TMPDIR, removed afterwards).
run bench_recording_day
run bench_publish
echo "bench: link timings" >&2
bash scripts/in-netns.sh "$bin/test_link" --gtest_also_run_disabled_tests \
  --gtest_filter='*MeasureDefaultTimings' >"$out/link.txt"

/usr/bin/python3 scripts/bench_table.py "$out"
