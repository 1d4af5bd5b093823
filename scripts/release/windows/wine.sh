# Sourced by the Windows checks: a Wine prefix of its own for one check, made and used inside the
# network namespace the check runs in, and taken down again.
#
# The wineserver opens the sockets of every Windows program of a prefix, in the namespace where
# it was started: so the prefix is made here, inside the check's namespace, and never shared with
# another namespace. Nothing of this may run in the machine's own namespace.

# Fails, saying so, outside a named network namespace (`ip netns exec` names the one it enters;
# the machine's own has no name).
wine_in_namespace() {
    if [[ -z $(ip netns identify 2>/dev/null) ]]; then
        echo "refusing to start Wine in the machine's own network namespace" >&2
        return 1
    fi
}

# Makes a fresh prefix (a Windows that never saw Qt) in folder $1 and exports WINEPREFIX.
wine_prefix() {
    wine_in_namespace || return 1
    export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES='mscoree,mshtml='
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || return 1
    # Qt 6 refuses Windows versions before 10; Wine's prefix says 7 by default.
    wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1 || return 1
    wineserver --wait
}

# Stops the prefix's wineserver and whatever still runs in it.
wine_done() {
    [[ -n ${WINEPREFIX:-} ]] || return 0
    wineserver --kill 2>/dev/null
    wineserver --wait 2>/dev/null
    return 0
}
