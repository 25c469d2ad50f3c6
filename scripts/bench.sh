#!/usr/bin/env bash
# Builds Quillo in Release and runs the transfer benchmark over loopback (size of the big
# file in MiB, default 1024). It needs nc from netcat-openbsd, the yardstick, and
# /usr/bin/time, which measures each process's peak memory; both are installed if missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --with-bench-tools

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQUILLO_BENCH=ON
cmake --build build/bench --target bench_transfer
exec build/bench/bench/bench_transfer "${1:-1024}"
