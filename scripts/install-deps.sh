#!/usr/bin/env bash
# Installs the Debian packages Quillo needs to build, run and test, skipping the ones
# that are already there. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(build-essential cmake ninja-build qt6-base-dev fonts-liberation)
for option in "$@"; do
    case "$option" in
        --with-display-tools) packages+=(xvfb xauth imagemagick) ;;
        # dpkg-shlibdeps for the Debian package, and the checkers of its desktop files.
        --with-packaging-tools) packages+=(dpkg-dev desktop-file-utils appstream) ;;
        *) echo "install-deps.sh: unknown option $option" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "Quillo needs these packages: ${missing[*]}" >&2
        echo "Install them as root: apt-get install ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo)
fi

echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
