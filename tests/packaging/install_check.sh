#!/usr/bin/env bash
# Installs the Debian packages made from a build the way a user's system would hold them, and
# runs the installed programs: the packages are built with cpack from BUILD_DIR, checked
# (scripts/release/check-packages), unpacked into a scratch root with dpkg-deb -x, and the programs run
# from there. Whatever sends does so inside a private virtual network (tests/segment/vsegment),
# whose own time-out ends a stuck run well inside ctest's, so that its namespaces are removed.
# cpack builds whatever in BUILD_DIR is out of date first: edit no sources while it runs.
# Usage: install_check.sh BUILD_DIR SOURCE_DIR
# Prints one line per check and "N passed, M failed"; exits 77 with a SKIP line without root.
set -u

build=$1
source_tree=$2
passed=0
failed=0
pass() { echo "ok   - $*"; passed=$((passed + 1)); }
fail() { echo "FAIL - $*"; failed=$((failed + 1)); }
check() {
    local desc=$1
    shift
    if "$@" >"$work/out" 2>&1; then pass "$desc"; else fail "$desc"; sed 's/^/    | /' "$work/out"; fi
}

[ "$(id -u)" = 0 ] || { echo "SKIP: the scan check needs network namespaces (root)"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root

check "cpack makes the packages" cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/packages"
mapfile -t packages < <(ls "$work"/packages/*.deb 2>/dev/null)
check "two packages: setuptool and setuptool-devicesim" \
    test "$(printf '%s\n' "${packages[@]##*/}" | sed 's/_.*//' | sort | tr '\n' ' ')" = "setuptool setuptool-devicesim "
check "lintian, desktop-file-validate, appstreamcli and the manual pages find no error" \
    "$source_tree/scripts/release/check-packages" "${packages[@]}"
for package in "${packages[@]}"; do
    check "dpkg-deb -x ${package##*/}" dpkg-deb -x "$package" "$root"
done
check "runtime dependencies come from dpkg-shlibdeps (libqt6network6 among them)" \
    bash -c 'dpkg-deb -f "$1" Depends | grep -q "libqt6network6"' _ "$work"/packages/setuptool_*.deb

lua=$(cd "$root" && find . -path '*/wireshark/plugins/setuptool.lua' | head -n 1)
check "the Wireshark dissector is in Wireshark's global Lua plugin folder" \
    bash -c 'tshark -G folders | grep -q "^Global Lua Plugins:[[:space:]]*${1#.}$"' _ "$(dirname "$lua")"
check "tshark loads the installed dissector" \
    bash -c 'tshark -G protocols -X lua_script:"$1" | grep -q "	setuptool$"' _ "$root/${lua#./}"

bin=$root/usr/bin
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
for program in setuptool setuptool-cli devicesim; do
    check "$program is installed and finds all its libraries" \
        bash -c '! ldd "$1" | grep -q "not found"' _ "$bin/$program"
done
check "devicesim --help" bash -c '"$1" --help | grep -q "^Usage: .*devicesim"' _ "$bin/devicesim"
check "devicesim --version" bash -c '[ "$("$1" --version)" = "devicesim $2" ]' _ "$bin/devicesim" "$version"
check "setuptool-cli --help" bash -c '"$1" --help | grep -q "^Usage: .*setuptool-cli"' _ "$bin/setuptool-cli"
check "setuptool-cli --version" bash -c '[ "$("$1" --version)" = "setuptool-cli $2" ]' _ "$bin/setuptool-cli" "$version"
check "manual pages for the three programs" \
    test -e "$root/usr/share/man/man1/setuptool.1.gz" -a -e "$root/usr/share/man/man1/setuptool-cli.1.gz" \
    -a -e "$root/usr/share/man/man1/devicesim.1.gz"
check "bash completes setuptool-cli's commands" bash -c '
    source /usr/share/bash-completion/bash_completion && source "$1" &&
    COMP_WORDS=(setuptool-cli set-a) COMP_CWORD=1 COMP_LINE="setuptool-cli set-a" COMP_POINT=19 &&
    _setuptool_cli && [ "${COMPREPLY[*]}" = set-address ]' _ \
    "$root/usr/share/bash-completion/completions/setuptool-cli"
# The installed companion scans two devices of the installed simulator.
devices="exec $(printf %q "$bin/devicesim") --device name=INSTALLED-1,ip=10.77.1.1,serial=101"
devices+=" --device name=INSTALLED-2,ip=10.77.1.2,serial=102"
check "the installed setuptool-cli lists the installed simulator's devices" \
    "$source_tree/tests/segment/vsegment" --timeout 60 --device-log /dev/null --wait-udp 4800 --device "$devices" -- \
    bash -c 'out=$("$1" scan --format csv --wait 500) && grep -q "^INSTALLED-1," <<<"$out" &&
             grep -q "^INSTALLED-2," <<<"$out"' _ "$bin/setuptool-cli"

# The window takes no options: it must come up and keep running until it is closed. On a
# workstation without a network, so that its sockets are bound to nothing real.
check "the installed window program starts (offscreen) and keeps running" \
    "$source_tree/tests/segment/vsegment" --timeout 60 --loopback-only -- \
    bash -c 'QT_QPA_PLATFORM=offscreen timeout 3 "$1"; [ $? = 124 ]' _ "$bin/setuptool"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
