#!/usr/bin/env bash
# Runs a command as root: as it is when we are root already, and otherwise through sudo.
set -euo pipefail

if [ "$(id -u)" -eq 0 ]; then
    exec "$@"
fi
if ! command -v sudo >/dev/null; then
    echo "This needs root, and sudo is not installed. Run as root: $*" >&2
    exit 1
fi
exec sudo "$@"
