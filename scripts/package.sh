#!/usr/bin/env bash
# Builds Quillo in Release for /usr and makes a Debian package of it, with the libraries it
# depends on worked out by dpkg-shlibdeps. Installs what is missing first. Prints the full
# path of the .deb on standard output, and everything else on standard error:
#     sudo apt-get install "$(scripts/package.sh)"
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2

build_dir=build/package
scripts/install-deps.sh --with-packaging-tools
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF
cmake --build "$build_dir"
rm -f "$build_dir"/quillo_*.deb
(cd "$build_dir" && cpack -G DEB)

debs=("$build_dir"/quillo_*.deb)
realpath "${debs[0]}" >&3
