#!/usr/bin/env bash
# Observation benchmarks: bash bench/observe/run.sh BUILD_DIR
#  1. the output analyser on a generated agent-like stream, next to a plain per-byte scan;
#  2. the tailer's first drain of a 100 MB transcript, next to reading the same file.
# Each prints its ratios to the baseline measured in the same run.
set -euo pipefail
build=${1:-build-bench}
bin=$build/bench/observe
echo "== output analyser"
"$bin/analyzer_bench" --benchmark_min_time=1
echo "== transcript tailer"
"$bin/tailer_bench" --benchmark_min_time=2
