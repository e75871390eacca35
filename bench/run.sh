#!/usr/bin/env bash
# Runs the benchmarks built into BUILD_DIR/bench: bash bench/run.sh BUILD_DIR
set -euo pipefail
build=${1:-build-bench}
bash "$(dirname "$0")/observe/run.sh" "$build"
