#!/usr/bin/env bash
# The Wireshark dissector's install rule: `cmake --install` puts it into the folder tshark loads
# Lua plugins from for every user, and tshark then registers the protocol with no -X option.
# Installs into a DESTDIR only; sends and captures nothing.
# Usage: dissector_install.sh BUILD_DIR LUA_PLUGIN_DIR SOURCE_LUA
set -euo pipefail
build=$1 lua_dir=$2 source=$3

fail() { echo "FAIL: $*" >&2; exit 1; }

tshark -v >/dev/null 2>&1 ||
    fail "tshark is missing or does not run: scripts/setup-deps installs it"

# The configured folder is the one this tshark reads.
global=$(tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p') || true
[ "$global" = "$lua_dir" ] ||
    fail "SETUPTOOL_WIRESHARK_LUA_DIR is $lua_dir, tshark loads Lua plugins from '$global'"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
chmod 755 "$stage"
DESTDIR=$stage cmake --install "$build" --component app >/dev/null
installed=$stage$lua_dir/setuptool.lua
[ -f "$installed" ] || fail "nothing installed at $installed"
cmp -s "$installed" "$source" || fail "$installed differs from $source"
echo "installed: $installed"

# tshark takes its plugin folder from WIRESHARK_PLUGIN_DIR, which it ignores when started with
# privileges; so as root it runs as nobody, with an empty home (no personal plugins either).
run=(env HOME="$stage" WIRESHARK_PLUGIN_DIR="$stage$lua_dir" tshark)
if [ "$(id -u)" -eq 0 ]; then
    run=(setpriv --reuid=nobody --regid=nogroup --clear-groups "${run[@]}")
fi
folders=$("${run[@]}" -G folders 2>/dev/null)
grep -qx "Global Lua Plugins:[[:space:]]*$stage$lua_dir" <<<"$folders" ||
    fail "tshark did not take the staged folder: $folders"
protocols=$("${run[@]}" -G protocols 2>&1)
grep -q $'\tsetuptool$' <<<"$protocols" ||
    fail "tshark did not load the installed dissector: $protocols"
fields=$("${run[@]}" -G fields 2>/dev/null)
grep -q $'\tsetuptool.serial\t' <<<"$fields" || fail "no field setuptool.serial"
count=$(grep -c $'\tsetuptool\.' <<<"$fields")
echo "tshark loads it from there: protocol setuptool, $count fields"
