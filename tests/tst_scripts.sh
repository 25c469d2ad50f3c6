#!/usr/bin/env bash
# scripts/install.sh and scripts/package.sh when the package cannot be made: each ends
# with a status other than 0 and says why, package.sh prints no path, and apt-get never
# runs. And scripts/run.sh, whose standard output is the program's alone. Copies of the
# scripts run in a temporary tree whose build steps, program, apt-get and sudo are
# stand-ins, so nothing is built or installed. Argument: the scripts folder.
set -uo pipefail
scripts=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check() {
    if ! eval "$2"; then
        echo "FAIL: $1" >&2
        failures=$((failures + 1))
    fi
}

# A fresh tree: the scripts under test, a stand-in for everything they call, and a
# record of every call made to apt-get.
new_tree() {
    tree="$work/$1"
    mkdir -p "$tree/scripts" "$tree/bin" "$tree/build/package"
    cp "$scripts"/{install,package,as-root,run}.sh "$tree/scripts/"
    stand_in "$tree/scripts/install-deps.sh" 'echo "Installing: qt6-base-dev"'
    stand_in "$tree/bin/cmake" 'echo "[1/1] Linking CXX executable src/quillo"'
    stand_in "$tree/bin/cpack" 'echo "CPack: Create package"'
    stand_in "$tree/bin/apt-get" "echo \"\$*\" >> '$tree/apt-get.calls'"
    stand_in "$tree/bin/sudo" 'exec "$@"'
}

stand_in() {
    printf '#!/usr/bin/env bash\n%s\n' "$2" > "$1"
    chmod +x "$1"
}

run() {
    local script=$1
    shift
    PATH="$tree/bin:$PATH" "$tree/scripts/$script" "$@" > "$tree/out" 2> "$tree/err"
    status=$?
}

# The package step fails: install.sh stops before apt-get.
new_tree package-fails
stand_in "$tree/scripts/package.sh" 'echo "cpack: dpkg-shlibdeps failed" >&2; exit 1'
run install.sh
check "install.sh ends with 0 when the package step fails" '[ "$status" -ne 0 ]'
check "install.sh does not say that the package could not be made" \
    'grep -q "could not be made" "$tree/err"'
check "install.sh ran apt-get without a package" '[ ! -e "$tree/apt-get.calls" ]'

# The package step ends with 0 but names no package: apt-get install "" is not run.
new_tree no-path
stand_in "$tree/scripts/package.sh" 'exit 0'
run install.sh
check "install.sh ends with 0 when no package was named" '[ "$status" -ne 0 ]'
check "install.sh does not say that no package was named" \
    'grep -q "named no package file" "$tree/err"'
check "install.sh ran apt-get without a package" '[ ! -e "$tree/apt-get.calls" ]'

# A package made: apt-get installs that file, so the stand-ins above would have seen it.
new_tree made
stand_in "$tree/scripts/package.sh" "touch '$tree/quillo_1.0_amd64.deb'; echo '$tree/quillo_1.0_amd64.deb'"
run install.sh
check "install.sh fails with a package made: $(cat "$tree/err")" '[ "$status" -eq 0 ]'
check "apt-get did not install the package made" \
    'grep -q "install -y -q $tree/quillo_1.0_amd64.deb" "$tree/apt-get.calls"'

# cpack fails: package.sh says so and prints no path.
new_tree cpack-fails
stand_in "$tree/bin/cpack" 'echo "CPack Error: file not found" >&2; exit 1'
run package.sh
check "package.sh ends with 0 when cpack fails" '[ "$status" -ne 0 ]'
check "package.sh does not say that cpack failed" \
    'grep -q "could not be made: \"cpack -G DEB .*\" failed" "$tree/err"'
check "package.sh printed a path although cpack failed" '[ ! -s "$tree/out" ]'

# cpack ends with 0 but leaves no package behind.
new_tree no-deb
run package.sh
check "package.sh ends with 0 when cpack made no package" '[ "$status" -ne 0 ]'
check "package.sh does not say that no package was made" \
    'grep -q "cpack made no quillo_\*.deb" "$tree/err"'
check "package.sh printed a path although no package was made" '[ ! -s "$tree/out" ]'

# run.sh: what the installing and the build print stays off standard output.
new_tree run
mkdir -p "$tree/build/release/src"
stand_in "$tree/build/release/src/quillo" 'printf "sent\t%s\n" "$*"'
run run.sh send --to Anna a.txt
check "run.sh fails: $(cat "$tree/err")" '[ "$status" -eq 0 ]'
check "run.sh's standard output is not the program's alone: $(cat "$tree/out")" \
    '[ "$(cat "$tree/out")" = "$(printf "sent\tsend --to Anna a.txt")" ]'
check "run.sh does not tell the build on standard error" 'grep -q "Linking" "$tree/err"'

[ "$failures" -eq 0 ] && echo "tst_scripts: all passed"
exit $((failures > 0))
