#!/usr/bin/env bash
# Checks a systemd user unit with systemd-analyze verify as if the files under ROOT were
# installed: ROOT's usr/bin, usr/local/bin and manual pages lie over the system's own, in a
# mount namespace of this command alone, so nothing is installed on this computer.
# Where no mount namespace can be had (a chroot, a container without the right), a copy of
# the unit whose program paths point into ROOT is verified instead; the caller checks the
# paths the unit names as written.
#     scripts/verify-unit.sh ROOT UNIT
set -euo pipefail
root=$(realpath "$1")
unit=$(realpath "$2")
layers=()
for folder in usr/bin usr/local/bin usr/share/man usr/local/share/man; do
    [ -d "$root/$folder" ] && [ -d "/$folder" ] && layers+=("$folder")
done
if unshare --mount true 2>/dev/null; then
    exec unshare --mount bash -euo pipefail -c '
        root=$1 unit=$2
        shift 2
        for folder in "$@"; do
            mount -t overlay overlay -o "lowerdir=$root/$folder:/$folder" "/$folder"
        done
        systemd-analyze verify "$unit"
    ' verify-unit "$root" "$unit" "${layers[@]}"
fi
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
sed -E "s#^(Exec[A-Za-z]*=[-@:+!]*)(/usr/(local/)?bin/)#\\1$root\\2#" "$unit" >"$copy/$(basename "$unit")"
MANPATH="$root/usr/share/man:$root/usr/local/share/man:" \
    systemd-analyze verify "$copy/$(basename "$unit")"
