#!/usr/bin/env bash
# Builds Quillo in Release and runs the transfer benchmark (file size in MiB, default 256).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
command -v nc >/dev/null || apt-get install -y -q netcat-openbsd
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQUILLO_BENCH=ON
cmake --build build/bench --target bench_transfer
build/bench/bench/bench_transfer "${1:-256}"
