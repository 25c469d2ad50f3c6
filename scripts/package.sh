#!/usr/bin/env bash
# Builds Quillo in Release for /usr and makes a Debian package of it, with the libraries it
# depends on worked out by dpkg-shlibdeps. Installs what is missing first. Prints the full
# path of the .deb on standard output, and everything else on standard error; when the
# package cannot be made it says so and ends with a status other than 0:
#     deb=$(scripts/package.sh) && sudo apt-get install "$deb"
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2

fail() {
    echo "package.sh: the Debian package could not be made: $*" >&2
    exit 1
}
trap 'fail "\"$BASH_COMMAND\" failed (status $?)"' ERR

build_dir=build/package
scripts/install-deps.sh --with-packaging-tools
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF
cmake --build "$build_dir"
rm -f "$build_dir"/quillo_*.deb
cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$build_dir"

debs=("$build_dir"/quillo_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no quillo_*.deb in $build_dir"
realpath "${debs[0]}" >&3
