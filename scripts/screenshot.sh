#!/usr/bin/env bash
# Renews the README's picture of the window, docs/screenshot.png: builds the program and
# its screenshot tool, which opens the window offscreen, lets Anna announce herself and
# say a few lines over loopback, and saves what the window shows. Any other path given
# is written instead.
set -euo pipefail
cd "$(dirname "$0")/.."
picture=$(realpath -m "${1:-docs/screenshot.png}")
build_dir=build/screenshot
scripts/install-deps.sh >&2
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build_dir" --target quillo_screenshot >&2
"$build_dir/tools/quillo_screenshot" "$picture"
echo "screenshot.sh: the window is drawn in $picture" >&2
