#!/usr/bin/env bash
# Installs what is missing, builds Quillo with its tests and runs the whole suite
# headless. Pass --sanitize to build with AddressSanitizer and UndefinedBehaviorSanitizer,
# --thread to build with ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/test
options=(-DCMAKE_BUILD_TYPE=Debug)
timeout=300
case "${1:-}" in
--sanitize)
    build_dir=build/sanitize
    options+=(-DQUILLO_SANITIZE=ON)
    ;;
--thread)
    # Everything runs several times slower under ThreadSanitizer.
    build_dir=build/tsan
    options+=(-DQUILLO_SANITIZE=thread)
    timeout=600
    ;;
esac

scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja "${options[@]}"
cmake --build "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build_dir" --output-on-failure --timeout "$timeout"
