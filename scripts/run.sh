#!/usr/bin/env bash
# Installs what is missing, builds Quillo in Release and starts it. Without a display and
# without arguments it serves (stays online, receives files and chat) instead of opening
# the window. Standard output is
# the program's alone: what the installing and the build print goes to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."

exec 3>&1 1>&2
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build/release
exec 1>&3 3>&-

quillo=build/release/src/quillo
if [ $# -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    # The save folder the window stored, if any; quillo reads it again itself. This copy
    # only decides whether there is one, and what to tell.
    settings="${XDG_CONFIG_HOME:-$HOME/.config}/Quillo/Quillo.conf"
    stored=""
    if [ -r "$settings" ]; then
        stored=$(sed -n '/^\[Settings\]/,/^\[/s/^SaveDir=//p' "$settings")
        stored=${stored%%$'\n'*}
    fi
    if [ -n "$stored" ]; then
        echo "No display: serving (online on UDP port 1071, receiving files on TCP port 1052 into the stored save folder $stored)" >&2
        arguments=(serve)
    else
        folder="$HOME/Downloads"
        mkdir -p "$folder"
        echo "No display: serving (online on UDP port 1071, receiving files on TCP port 1052 into $folder)" >&2
        arguments=(serve --dir "$folder")
    fi
    echo "Stop it with Ctrl-C, or with: kill $$" >&2
    exec "$quillo" "${arguments[@]}"
fi
exec "$quillo" "$@"
