#!/usr/bin/env bash
# Installs what is missing, builds Quillo with its tests and runs the whole suite
# headless. Pass --sanitize to build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/test
options=(-DCMAKE_BUILD_TYPE=Debug)
if [ "${1:-}" = "--sanitize" ]; then
    build_dir=build/sanitize
    options+=(-DQUILLO_SANITIZE=ON)
fi

scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja "${options[@]}"
cmake --build "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build_dir" --output-on-failure --timeout 300
