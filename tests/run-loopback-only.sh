#!/usr/bin/env bash
# Runs a command in a fresh network namespace whose only interface is the loopback one: a
# workstation with no network configured at all (cable out, no address from anywhere). The
# namespace is removed afterwards, whatever happens to the command.
#
# Usage: run-loopback-only.sh [--timeout SEC] -- COMMAND [ARGS...]
# Exit status: COMMAND's; 124 when it overran SEC (default 60); 77 with a "SKIP: ..." line
# when namespaces cannot be made here (not root, no `ip`); 1 when set-up failed.

set -u

timeout_sec=60
while (($#)); do
    case $1 in
        --timeout) timeout_sec=$2; shift 2 ;;
        --) shift; break ;;
        *) break ;;
    esac
done
(($#)) || { echo "usage: run-loopback-only.sh [--timeout SEC] -- COMMAND [ARGS...]" >&2; exit 2; }

skip() {
    echo "SKIP: $*" >&2
    exit 77
}

command -v ip >/dev/null 2>&1 || skip "the \`ip\` command (iproute2) is missing"
[ "$(id -u)" = 0 ] || skip "network namespaces need root (running as uid $(id -u))"

# Stops what still runs in a namespace, then deletes it.
remove_ns() {
    local ns=$1 pids
    pids=$(ip netns pids "$ns" 2>/dev/null)
    # shellcheck disable=SC2086
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
    ip netns del "$ns" 2>/dev/null
}

# Namespaces of earlier runs that were killed before they could clean up: the pid in the
# name belongs to no process any more.
while read -r name _; do
    [[ $name =~ ^setuptool-lo-([0-9]+)-[0-9a-f]{4}$ ]] || continue
    kill -0 "${BASH_REMATCH[1]}" 2>/dev/null || remove_ns "$name"
done < <(ip netns list 2>/dev/null)

ns=setuptool-lo-$$-$(printf '%04x' $RANDOM)
err=$(ip netns add "$ns" 2>&1) || skip "cannot create a network namespace here (${err//$'\n'/ })"
trap 'remove_ns "$ns"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if ! err=$(ip netns exec "$ns" true 2>&1); then
    skip "cannot enter a network namespace here (${err//$'\n'/ })"
fi
if ! err=$(ip -n "$ns" link set lo up 2>&1); then
    echo "run-loopback-only.sh: set-up failed: $err" >&2
    exit 1
fi

ip netns exec "$ns" timeout --kill-after=2 "$timeout_sec" "$@"
exit $?
