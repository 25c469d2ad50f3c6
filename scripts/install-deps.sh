#!/usr/bin/env bash
# Installs the Debian packages Quillo needs to build, run and test, skipping the ones
# that are already there. Runs apt-get as root, or through sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

# Liberation Sans has Arial's measures; the window asks for Arial, then for it.
# python3 and openssl run the tests' LocalSend-protocol device and make its certificate;
# LocalSend devices' HTTP requests are read by the system's parser; files between two
# copies are checked with xxHash's XXH3-128.
packages=(build-essential cmake ninja-build qt6-base-dev libssl-dev libhttp-parser-dev
    libxxhash-dev pkg-config fonts-liberation python3 openssl)
for option in "$@"; do
    case "$option" in
        --with-display-tools) packages+=(xvfb xauth imagemagick) ;;
        # CPack finds the programs to hand to dpkg-shlibdeps with file.
        --with-packaging-tools) packages+=(dpkg-dev file) ;;
        # The checkers of the package, its desktop files, its manual page and its user
        # unit (systemd-analyze).
        --with-checking-tools) packages+=(lintian desktop-file-utils appstream man-db systemd) ;;
        # The benchmark's yardstick and the meter of each process's peak memory.
        --with-bench-tools) packages+=(netcat-openbsd time) ;;
        # The benchmark's veth pair between two network namespaces (ip; nsenter and taskset
        # come with util-linux).
        --with-link-tools) packages+=(iproute2) ;;
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

if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null; then
    echo "Quillo needs these packages: ${missing[*]}" >&2
    echo "Install them as root: apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
scripts/as-root.sh apt-get update -q
scripts/as-root.sh env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
