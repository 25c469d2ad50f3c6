#!/usr/bin/env bash
# Installs what is missing, builds Quillo in Release and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build/release

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Quillo is built (build/release/src/quillo), but there is no display to show its window on." >&2
    echo "Start it from a desktop session, or under a virtual one:" >&2
    echo "    apt-get install xvfb && xvfb-run -a build/release/src/quillo" >&2
    exit 2
fi
exec build/release/src/quillo "$@"
