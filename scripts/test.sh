#!/usr/bin/env bash
# Builds everything and runs every test. Usage: scripts/test.sh [BUILD_DIR] [extra cmake options]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
scripts/deps.sh
cmake -S . -B "$build" -DQZ_BUILD_TESTS=ON -DQZ_BUILD_BENCH=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
