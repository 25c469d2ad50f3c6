#!/usr/bin/env bash
# Makes the Debian package (scripts/package.sh) and installs it with apt-get, together
# with what it depends on; apt-get runs as root, or through sudo. When the package cannot
# be made, it says so, installs nothing and ends with a status other than 0.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "install.sh: $*; nothing was installed" >&2
    exit 1
}

deb=$(scripts/package.sh) || fail "the package could not be made (see above)"
[ -f "$deb" ] || fail "package.sh named no package file ('$deb')"
scripts/as-root.sh env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb"
echo "Quillo is installed: run quillo, or find it in the menu under Internet" >&2
