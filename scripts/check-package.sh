#!/usr/bin/env bash
# Makes the Debian package (scripts/package.sh) and looks at it as Debian and a desktop
# would: lintian finds no error, warning or pedantic remark that is not overridden (its
# notes are shown), the manual page reads without a warning, the menu entry and the
# software-centre description pass their validators and point at each other, every icon
# drawn is in the package, dpkg-shlibdeps found the Qt libraries and xxHash, the package
# depends on the fonts the window asks for, and the packaged program runs from the unpacked files
# and tells the package's version; the systemd user unit passes systemd-analyze verify
# with the package's files, and so does the unit of a `cmake --install` to /usr/local.
set -euo pipefail
cd "$(dirname "$0")/.."

app_id=org.quillo.Quillo
scripts/install-deps.sh --with-checking-tools
deb=$(scripts/package.sh)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

fail() {
    echo "check-package: $*" >&2
    exit 1
}

lintian --pedantic --display-info --fail-on error,warning,pedantic "$deb" ||
    fail "lintian found fault with $deb"

man_warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l "$root/usr/share/man/man1/quillo.1.gz" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "the manual page has warnings: $man_warnings"

desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate-tree --no-net "$root"

for icon in packaging/icons/*/"$app_id".*; do
    size=$(basename "$(dirname "$icon")")
    [ -f "$root/usr/share/icons/hicolor/$size/apps/$(basename "$icon")" ] ||
        fail "the $size icon is not in the package"
done

depends=$(dpkg-deb -f "$deb" Depends)
grep -q libqt6widgets6 <<<"$depends" || fail "no Qt library among the dependencies: '$depends'"
grep -q libxxhash0 <<<"$depends" || fail "xxHash is not among the dependencies: '$depends'"
grep -q fonts-liberation <<<"$depends" || fail "the package does not depend on Liberation Sans"

expected="quillo $(dpkg-deb -f "$deb" Version)"
actual=$("$root/usr/bin/quillo" --version)
[ "$actual" = "$expected" ] || fail "the packaged program says '$actual', not '$expected'"

unit=usr/lib/systemd/user/quillo.service
grep -qx 'ExecStart=/usr/bin/quillo serve' "$root/$unit" || fail "the unit does not run /usr/bin/quillo"
scripts/verify-unit.sh "$root" "$root/$unit" || fail "systemd-analyze verify finds fault with the unit"
# Only configured, not built: the unit is made then, and the program is the package's.
local_build=build/unit-local
cmake -S . -B "$local_build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr/local -DBUILD_TESTING=OFF >&2
local_root="$root/local-install"
mkdir -p "$local_root/usr/local/bin" "$local_root/usr/local/share/man/man1" \
    "$local_root/usr/local/lib/systemd/user"
cp "$root/usr/bin/quillo" "$local_root/usr/local/bin/"
cp "$root/usr/share/man/man1/quillo.1.gz" "$local_root/usr/local/share/man/man1/"
cp "$local_build/packaging/quillo.service" "$local_root/usr/local/lib/systemd/user/"
grep -qx 'ExecStart=/usr/local/bin/quillo serve' "$local_root/usr/local/lib/systemd/user/quillo.service" ||
    fail "the unit of a /usr/local install does not run /usr/local/bin/quillo"
scripts/verify-unit.sh "$local_root" "$local_root/usr/local/lib/systemd/user/quillo.service" ||
    fail "systemd-analyze verify finds fault with the unit of a /usr/local install"

echo "check-package: $deb is sound"
echo "Depends: $depends"
