#!/usr/bin/env bash
# Makes the Debian package (scripts/package.sh) and looks at it as a desktop would: the
# menu entry and the software-centre description pass their validators and point at each
# other, every icon drawn is in the package, dpkg-shlibdeps found the Qt libraries, and
# the packaged program runs from the unpacked files and tells the package's version.
set -euo pipefail
cd "$(dirname "$0")/.."

app_id=org.quillo.Quillo
deb=$(scripts/package.sh)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

fail() {
    echo "check-package: $*" >&2
    exit 1
}

desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate-tree --no-net "$root"

for icon in packaging/icons/*/"$app_id".*; do
    size=$(basename "$(dirname "$icon")")
    [ -f "$root/usr/share/icons/hicolor/$size/apps/$(basename "$icon")" ] ||
        fail "the $size icon is not in the package"
done

depends=$(dpkg-deb -f "$deb" Depends)
grep -q libqt6widgets6 <<<"$depends" || fail "no Qt library among the dependencies: '$depends'"

expected="quillo $(dpkg-deb -f "$deb" Version)"
actual=$("$root/usr/bin/quillo" --version)
[ "$actual" = "$expected" ] || fail "the packaged program says '$actual', not '$expected'"

echo "check-package: $deb is sound"
echo "Depends: $depends"
