#!/usr/bin/env bash
# shellcheck disable=SC2016  # single-quoted text for bash -c is meant literally
# Self-test of tests/segment/vsegment: builds real namespace networks with it and
# checks addresses, routes, broadcasts, exit statuses, time-outs, signals,
# device commands and clean-up. All traffic stays inside the namespaces the
# script creates.
#
# Prints one line per check and "N passed, M failed" at the end; exits 77 with
# a SKIP line when network namespaces cannot be made here.
#
# `vsegment_selftest.sh --refusals` runs only the checks that vsegment refuses
# to run where it cannot (without `ip`, as a normal user); they need no namespace.
# Internally the same file also serves as the COMMAND run inside the
# workstation namespace: `vsegment_selftest.sh --inner NAME`.

set -u

SELF=$(readlink -f "$0")
HERE=$(dirname "$SELF")
VSEG=${VSEGMENT:-$HERE/vsegment}
VSEG=$(readlink -f "$VSEG")

# ------------------------------------------------- inside the segment ----

ipass() { echo "PASS: $*"; }
ifail() { echo "FAIL: $*"; }
icheck() {
    local desc=$1
    shift
    if "$@" >/dev/null 2>&1; then ipass "$desc"; else ifail "$desc"; fi
}
has() { grep -qE -- "$2" <<<"$1"; }
hasnt() { ! grep -qE -- "$2" <<<"$1"; }
dev_ns() { local a; read -ra a <<<"$VSEG_DEVICE_NS"; echo "${a[$1 - 1]}"; }
udp() { "$PY" "$VSEG_SELFTEST_TMP/udp.py" "$@"; }

# bcast_expect DESC SENDER RECEIVER EXPECTED_SOURCE_OR_-  (NS@ADDR endpoints)
bcast_expect() {
    local desc=$1 send=$2 recv=$3 want=$4 port=${5:-7800} out got
    local wait=2
    [ "$want" = - ] && wait=1
    # --opt=value: the endpoints may start with "-".
    out=$(udp bcast --port="$port" --timeout="$wait" --send="$send" --recv="$recv" 2>&1)
    local st=$?
    got=$(awk '{print $2}' <<<"$out")
    if [ "$st" = 0 ] && [ "$(wc -l <<<"$out")" = 1 ] && [ "$got" = "$want" ]; then ipass "$desc"; else ifail "$desc (got '${out//$'\n'/; }')"; fi
}

inner_layout() {
    local d1 a r arr
    d1=$(dev_ns 1)
    icheck "COMMAND runs in the workstation namespace" test "$(ip netns identify $$)" = "$VSEG_WS_NS"
    a=$(ip -br addr show dev ws1)
    icheck "ws1 has 10.77.0.1/16 and is up" has "$a" '^ws1(@[^ ]*)? +UP .*10\.77\.0\.1/16'
    icheck "ws1 has no second address" hasnt "$a" '10\.77\.0\.2/'
    icheck "lo is up in the workstation" has "$(ip -o link show lo)" '<[^>]*\bUP\b'
    r=$(ip route)
    icheck "workstation default route via ws1" has "$r" '^default dev ws1'
    icheck "workstation route 10.77.0.0/16 via ws1" has "$r" '^10\.77\.0\.0/16 dev ws1'
    icheck "env: VSEG_SEGMENTS=1, VSEG_DEVICE_COUNT=16" test "$VSEG_SEGMENTS/$VSEG_DEVICE_COUNT" = 1/16
    icheck "env: VSEG_WS_ADDRS=10.77.0.1" test "$VSEG_WS_ADDRS" = 10.77.0.1
    icheck "env: VSEG_DEVICE_FIRST_1=10.77.1.1" test "${VSEG_DEVICE_FIRST_1:-}" = 10.77.1.1
    icheck "env: VSEG_DEVICE_HOSTS=10.77.0.254" test "$VSEG_DEVICE_HOSTS" = 10.77.0.254
    read -ra arr <<<"${VSEG_DEVICE_ADDRS_1:-}"
    icheck "env: VSEG_DEVICE_ADDRS_1 lists 16 addresses" test "${#arr[@]}/${arr[0]:-}/${arr[15]:-}" = 16/10.77.1.1/10.77.1.16
    a=$(ip netns exec "$d1" ip -br addr show dev dev1)
    icheck "device namespace: dev1 up with 10.77.0.254/16" has "$a" '^dev1(@[^ ]*)? +UP .*10\.77\.0\.254/16'
    icheck "device namespace: 10.77.1.1/16 … 10.77.1.16/16 present" \
        bash -c 'has() { grep -qE -- "$2" <<<"$1"; }; has "$1" " 10\.77\.1\.1/16" && has "$1" " 10\.77\.1\.16/16"' _ "$a"
    icheck "device namespace: no 10.77.1.17" hasnt "$a" '10\.77\.1\.17/'
    icheck "device namespace: 17 IPv4 addresses on dev1" \
        test "$(ip netns exec "$d1" ip -o -4 addr show dev dev1 | wc -l)" = 17
    icheck "device namespace: default route via dev1" \
        has "$(ip netns exec "$d1" ip route)" '^default dev dev1'
    icheck "device namespace: one prefix route only (noprefixroute)" \
        test "$(ip netns exec "$d1" ip route | grep -c '^10\.77\.')" = 1
    icheck "device namespace: lo up" has "$(ip netns exec "$d1" ip -o link show lo)" '<[^>]*\bUP\b'
}

inner_loopback() {
    icheck "--loopback-only: lo is the only link" test "$(ip -o link show | wc -l)" = 1
    icheck "--loopback-only: lo is up with 127.0.0.1" has "$(ip -br addr show dev lo)" 'UNKNOWN +127\.0\.0\.1/8'
    icheck "--loopback-only: no route" test -z "$(ip route)"
    icheck "--loopback-only: env: VSEG_SEGMENTS=0, no workstation address, no device namespace" \
        test "$VSEG_SEGMENTS/$VSEG_WS_ADDRS/$VSEG_DEVICE_NS" = 0//
}

inner_bcast1() {
    local d1
    d1=$(dev_ns 1)
    bcast_expect "broadcast device 10.77.1.1 -> workstation 0.0.0.0:7800" \
        "$d1@10.77.1.1" "-@0.0.0.0" 10.77.1.1 7800
    bcast_expect "broadcast workstation 10.77.0.1 -> device namespace 0.0.0.0:4800" \
        "-@10.77.0.1" "$d1@0.0.0.0" 10.77.0.1 4800
}

inner_two() {
    local d1 d2 a r
    d1=$(dev_ns 1)
    d2=$(dev_ns 2)
    a=$(ip -br addr show dev ws1)
    icheck "--two-addresses: ws1 has 10.77.0.1/16 and 10.77.0.2/16" \
        bash -c 'grep -q "10\.77\.0\.1/16" <<<"$1" && grep -q "10\.77\.0\.2/16" <<<"$1"' _ "$a"
    icheck "ws2 has 10.78.0.1/16 and is up" has "$(ip -br addr show dev ws2)" '^ws2(@[^ ]*)? +UP .*10\.78\.0\.1/16'
    icheck "env: VSEG_WS_ADDRS='10.77.0.1 10.77.0.2 10.78.0.1'" test "$VSEG_WS_ADDRS" = "10.77.0.1 10.77.0.2 10.78.0.1"
    icheck "env: two device namespaces, VSEG_DEVICE_FIRST_2=10.78.1.1" \
        test "$(wc -w <<<"$VSEG_DEVICE_NS")/${VSEG_DEVICE_FIRST_2:-}" = 2/10.78.1.1
    r=$(ip route)
    icheck "workstation routes: default via ws1, 10.78/16 via ws2" \
        bash -c 'grep -q "^default dev ws1" <<<"$1" && grep -q "^10\.78\.0\.0/16 dev ws2" <<<"$1"' _ "$r"
    a=$(ip netns exec "$d2" ip -br addr show dev dev2)
    icheck "segment 2 device namespace: 10.78.0.254/16 and 10.78.1.1/16" \
        bash -c 'grep -q "10\.78\.0\.254/16" <<<"$1" && grep -q "10\.78\.1\.1/16" <<<"$1"' _ "$a"
    icheck "segment 2 device namespace: default route via dev2" has "$(ip netns exec "$d2" ip route)" '^default dev dev2'
    bcast_expect "broadcast from 10.78.0.1 reaches segment 2" "-@10.78.0.1" "$d2@0.0.0.0" 10.78.0.1 4800
    bcast_expect "broadcast from 10.78.0.1 does NOT reach segment 1" "-@10.78.0.1" "$d1@0.0.0.0" - 4800
    bcast_expect "broadcast from 10.77.0.1 reaches segment 1" "-@10.77.0.1" "$d1@0.0.0.0" 10.77.0.1 4800
    bcast_expect "broadcast from 10.77.0.1 does NOT reach segment 2" "-@10.77.0.1" "$d2@0.0.0.0" - 4800
    bcast_expect "broadcast from the second address 10.77.0.2 reaches segment 1" \
        "-@10.77.0.2" "$d1@0.0.0.0" 10.77.0.2 4800
    bcast_expect "broadcast from device 10.78.1.1 (segment 2) reaches the workstation" \
        "$d2@10.78.1.1" "-@0.0.0.0" 10.78.1.1 7800
    bcast_expect "broadcast from device 10.78.1.1 does NOT reach segment 1" \
        "$d2@10.78.1.1" "$d1@0.0.0.0" - 7800
}

inner_many() {
    local d1 a
    d1=$(dev_ns 1)
    a=$(ip netns exec "$d1" ip -o -4 addr show dev dev1)
    icheck "2000 device addresses: 2001 IPv4 addresses on dev1" test "$(wc -l <<<"$a")" = 2001
    icheck "2000 device addresses: 10.77.2.1 present" has "$a" ' 10\.77\.2\.1/16'
    icheck "2000 device addresses: last one, 10.77.8.250, present" has "$a" ' 10\.77\.8\.250/16'
    icheck "2000 device addresses: 10.77.9.1 absent" hasnt "$a" ' 10\.77\.9\.1/16'

    icheck "2000 device addresses: VSEG_DEVICE_ADDRS_1 not exported, VSEG_DEVICE_FIRST_1 is" \
        test "${VSEG_DEVICE_ADDRS_1-unset}/${VSEG_DEVICE_FIRST_1:-}" = unset/10.77.1.1
    bcast_expect "broadcast from the last device address 10.77.8.250 reaches the workstation" \
        "$d1@10.77.8.250" "-@0.0.0.0" 10.77.8.250 7800
}

inner_device() {
    local s ns pid i
    for s in 1 2; do
        ns=$(dev_ns "$s")
        for ((i = 0; i < 50; i++)); do
            [ -s "$VSEG_SELFTEST_TMP/devpid.$s" ] && break
            sleep 0.1
        done
        pid=$(cat "$VSEG_SELFTEST_TMP/devpid.$s" 2>/dev/null)
        icheck "--device command of segment $s is running" kill -0 "${pid:-0}"
        icheck "--device command of segment $s runs in its device namespace" \
            test "$(ip netns identify "${pid:-0}" 2>/dev/null)" = "$ns"
    done
}

inner_probe() {
    local d1 d2 out
    d1=$(dev_ns 1)
    d2=$(dev_ns 2)
    icheck "--wait-udp 4800: responder bound in segment 1 when COMMAND starts" \
        bash -c 'ip netns exec "$1" cat /proc/net/udp | grep -q ":12C0 "' _ "$d1"
    icheck "--wait-udp 4800: responder bound in segment 2 when COMMAND starts" \
        bash -c 'ip netns exec "$1" cat /proc/net/udp | grep -q ":12C0 "' _ "$d2"
    out=$(udp probe --bind 10.77.0.1 --port 4800 --reply-port 7800 --timeout 1 2>&1)
    icheck "probe from 10.77.0.1 answered by segment 1's device only (got: ${out//$'\n'/ })" test "$out" = 10.77.1.1
    out=$(udp probe --bind 10.78.0.1 --port 4800 --reply-port 7800 --timeout 1 2>&1)
    icheck "probe from 10.78.0.1 answered by segment 2's device only (got: ${out//$'\n'/ })" test "$out" = 10.78.1.1
}

if [ "${1:-}" = --inner ]; then
    PY=${VSEG_SELFTEST_PY:-python3}
    "inner_$2"
    exit 0
fi

# ------------------------------------------------------------ outside ----

passed=0
failed=0
pass() { echo "ok   - $*"; passed=$((passed + 1)); }
fail() { echo "FAIL - $*"; failed=$((failed + 1)); }
check() {
    local desc=$1
    shift
    if "$@" >/dev/null 2>&1; then pass "$desc"; else fail "$desc"; fi
}
now_ms() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }

tmp=$(mktemp -d /tmp/vsegment-selftest.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
export VSEG_SELFTEST_TMP=$tmp
VSEG_SELFTEST_PY=$(command -v python3 || true)
export VSEG_SELFTEST_PY
out=$tmp/out

# Runs vsegment in the background (with SIGINT at its default, which a
# background job of a script would not have) and waits; sets rc, vpid, ms.
# With VRUN_ASYNC=1 it returns right after starting.
vrun() {
    local t0
    t0=$(now_ms)
    (
        trap - INT QUIT
        exec "$VSEG" "$@"
    ) >"$out" 2>&1 </dev/null &
    vpid=$!
    if [ "${VRUN_ASYNC:-0}" = 1 ]; then return 0; fi
    wait "$vpid"
    rc=$?
    ms=$(($(now_ms) - t0))
}
ns_of() { ip netns list | grep -E "^vseg-[a-z0-9]+-$1-" || true; }
check_no_ns() { check "$1: no namespace left" test -z "$(ns_of "$vpid")"; }
# Counts the PASS/FAIL lines that the inner checks printed.
collect() {
    local line
    while IFS= read -r line; do
        case $line in
            PASS:*) pass "${line#PASS: }" ;;
            FAIL:*) fail "${line#FAIL: }" ;;
        esac
    done <"$out"
}
show_out() { sed 's/^/    | /' "$out"; }
# True when none of the pids runs any more (a zombie counts as gone: an
# orphan's zombie may wait for an init that does not reap).
gone() {
    local p state
    (($#)) || return 1 # nothing was found running: cannot tell
    for p; do
        state=$(awk '{ print $3 }' "/proc/$p/stat" 2>/dev/null) || continue
        [ -z "$state" ] || [ "$state" = Z ] || return 1
    done
}

# Python helper: opens sockets inside chosen namespaces (setns), so one process
# can send on one side of the segment and listen on the other.
cat >"$tmp/udp.py" <<'PYEOF'
import argparse, ctypes, os, select, socket, sys, time

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)
_home = os.open("/proc/self/ns/net", os.O_RDONLY)


def enter(ns):
    fd = _home if ns in ("", "-") else os.open("/run/netns/" + ns, os.O_RDONLY)
    try:
        if _libc.setns(fd, CLONE_NEWNET) != 0:
            e = ctypes.get_errno()
            raise OSError(e, "setns %s: %s" % (ns, os.strerror(e)))
    finally:
        if fd != _home:
            os.close(fd)


def sock(addr, port, bcast=False):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if bcast:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind((addr, port))
    return s


def split(endpoint):
    ns, _, addr = endpoint.partition("@")
    return ns, addr or "0.0.0.0"


def bcast(a):
    # Each receiver prints the source address of the token it got, or "-".
    token = ("vseg-%d-%f" % (os.getpid(), time.time())).encode()
    rx = []
    for endpoint in a.recv:
        ns, addr = split(endpoint)
        enter(ns)
        rx.append((endpoint, sock(addr, a.port)))
    ns, addr = split(a.send)
    enter(ns)
    tx = sock(addr, 0, bcast=True)
    enter("-")
    got = {endpoint: None for endpoint, _ in rx}
    end = time.monotonic() + a.timeout
    sent, next_send = 0, 0.0
    while time.monotonic() < end:
        if sent < 3 and time.monotonic() >= next_send:
            tx.sendto(token, ("255.255.255.255", a.port))
            sent, next_send = sent + 1, time.monotonic() + 0.1
        ready, _, _ = select.select([s for _, s in rx], [], [], 0.05)
        for endpoint, s in rx:
            if s in ready:
                data, src = s.recvfrom(2048)
                if data == token and got[endpoint] is None:
                    got[endpoint] = src[0]
        if sent >= 3 and all(got.values()):
            break
    for endpoint, _ in rx:
        print(endpoint, got[endpoint] or "-")


def respond(a):
    # A tiny device: answers every datagram on --port with a broadcast to
    # --reply-port, sent from --bind.
    rx = sock("0.0.0.0", a.port)
    tx = sock(a.bind, 0, bcast=True)
    while True:
        data, _ = rx.recvfrom(2048)
        tx.sendto(b"reply:" + data, ("255.255.255.255", a.reply_port))


def probe(a):
    # Broadcasts a probe from --bind and prints the sources of the replies.
    token = ("probe-%d-%f" % (os.getpid(), time.time())).encode()
    rx = sock("0.0.0.0", a.reply_port)
    tx = sock(a.bind, 0, bcast=True)
    seen = set()
    end = time.monotonic() + a.timeout
    tx.sendto(token, ("255.255.255.255", a.port))
    while time.monotonic() < end:
        ready, _, _ = select.select([rx], [], [], 0.05)
        if ready:
            data, src = rx.recvfrom(2048)
            if data == b"reply:" + token:
                seen.add(src[0])
    print("\n".join(sorted(seen)))


p = argparse.ArgumentParser()
sub = p.add_subparsers(dest="cmd", required=True)
b = sub.add_parser("bcast")
b.add_argument("--port", type=int, required=True)
b.add_argument("--send", required=True)
b.add_argument("--recv", action="append", required=True)
b.add_argument("--timeout", type=float, default=2)
r = sub.add_parser("respond")
r.add_argument("--bind", default=os.environ.get("VSEG_DEVICE_FIRST", "0.0.0.0"))
r.add_argument("--port", type=int, required=True)
r.add_argument("--reply-port", type=int, required=True)
q = sub.add_parser("probe")
q.add_argument("--bind", required=True)
q.add_argument("--port", type=int, required=True)
q.add_argument("--reply-port", type=int, required=True)
q.add_argument("--timeout", type=float, default=1)
a = p.parse_args()
{"bcast": bcast, "respond": respond, "probe": probe}[a.cmd](a)
PYEOF

# Refusals that must be a SKIP (77), never a fake success.
check_refusals() {
    local public
    vrun_env env PATH=/nonexistent /bin/bash "$VSEG" -- true
    check "without ip: exit 77 with a SKIP line" bash -c '[ "$1" = 77 ] && grep -q "^SKIP: " "$2"' _ "$rc" "$out"
    # A new user's checkout often lies where a normal user cannot enter (under /root, or in a
    # `mktemp -d` folder, both 0700). The normal user runs an identical copy from a folder anyone
    # may read, so that what is checked is vsegment's refusal, not the checkout's permissions.
    public=$(mktemp -d /tmp/vsegment-user.XXXXXX)
    chmod 755 "$public"
    install -m 755 "$VSEG" "$public/vsegment"
    check "the normal user's copy is vsegment itself" cmp -s "$VSEG" "$public/vsegment"
    vrun_env bash -c 'cd / && exec setpriv --reuid=65534 --regid=65534 --clear-groups "$1" -- true' \
        _ "$public/vsegment"
    check "as a normal user: exit 77 with a SKIP line" bash -c '[ "$1" = 77 ] && grep -q "^SKIP: " "$2"' _ "$rc" "$out"
    [ "$rc" = 77 ] || show_out
    rm -rf "$public"
}
vrun_env() { "$@" >"$out" 2>&1 </dev/null; rc=$?; }

# Only the refusals: they need no namespace, so they run anywhere root runs them.
if [ "${1:-}" = --refusals ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: the refusal checks switch to a normal user and need root"; exit 77; }
    check_refusals
    echo "$passed passed, $failed failed"
    [ "$failed" = 0 ]
    exit
fi

# Can namespaces be made here at all?
if [ ! -x "$VSEG" ]; then
    echo "FAIL - $VSEG is missing or not executable"
    echo "0 passed, 1 failed"
    exit 1
fi
vrun -- true
if [ "$rc" = 77 ]; then
    echo "SKIP: vsegment cannot build namespaces here: $(grep -m1 '^SKIP:' "$out" | sed 's/^SKIP: //')"
    exit 77
fi
check "vsegment -- true exits 0" test "$rc" = 0
[ "$rc" = 0 ] || show_out
if [ -z "$VSEG_SELFTEST_PY" ]; then
    echo "FAIL - python3 is needed for the broadcast checks"
    failed=$((failed + 1))
fi

root_before=$(ip -br link; ip -br addr; ip route)

# Layout, one segment.
vrun -- bash "$SELF" --inner layout
check "layout run exits 0" test "$rc" = 0
collect
[ "$rc" = 0 ] || show_out
check_no_ns "layout run"

# A workstation without any network.
vrun --loopback-only -- bash "$SELF" --inner loopback
check "loopback-only run exits 0" test "$rc" = 0
collect
[ "$rc" = 0 ] || show_out
check_no_ns "loopback-only run"
vrun --loopback-only --device true -- true
check "--loopback-only with --device is a usage error (exit 2)" test "$rc" = 2

# Broadcasts, one segment.
vrun -- bash "$SELF" --inner bcast1
check "broadcast run exits 0" test "$rc" = 0
collect
check_no_ns "broadcast run"

# Two segments and two workstation addresses.
vrun --segments 2 --two-addresses -- bash "$SELF" --inner two
check "two-segment run exits 0" test "$rc" = 0
collect
[ "$rc" = 0 ] || show_out
check_no_ns "two-segment run"

# Many device addresses.
vrun --device-addresses 2000 -- bash "$SELF" --inner many
check "2000 device addresses run exits 0" test "$rc" = 0
collect
echo "     (--device-addresses 2000: whole run took $((ms / 1000)).$(printf %03d $((ms % 1000))) s)"
check "2000 device addresses set up in under 15 s" test "$ms" -lt 15000
vrun --device-addresses 10000 -- true
echo "     (--device-addresses 10000: whole run took $((ms / 1000)).$(printf %03d $((ms % 1000))) s)"
check "10000 device addresses: run exits 0 in under 30 s" test "$rc" = 0 -a "$ms" -lt 30000
check_no_ns "10000 device addresses run"

# Exit statuses pass through.
vrun -- false
check "-- false exits 1" test "$rc" = 1
vrun -- bash -c 'exit 7'
check "-- bash -c 'exit 7' exits 7" test "$rc" = 7
vrun -- /nonexistent/command
check "a COMMAND that does not exist exits 127" test "$rc" = 127
vrun --segments 9 -- true
check "--segments 9 is a usage error (exit 2)" test "$rc" = 2
printf 'hi\n' | "$VSEG" -- bash -c 'read -r x && test "$x" = hi' >"$out" 2>&1
check "COMMAND reads the script's stdin" test "$?" = 0

# Time-out. What is timed is the COMMAND's own life, from the stamp it writes when it starts to
# the stamp of the TERM or the last sign of life before the KILL: building and removing the
# namespaces, slow on a busy machine, is not part of it. The clock starts before the COMMAND
# does, so it may have run a little less than the time-out.
stamp_ms() { local t; t=$(cat "$tmp/$1" 2>/dev/null) && echo $((${t/[.,]/} / 1000)); }
lived_ms() { local from to; from=$(stamp_ms "$1") && to=$(stamp_ms "$2") && echo $((to - from)); }
rm -f "$tmp/started" "$tmp/termed" "$tmp/alive"
vrun --timeout 2 -- bash -c '
    trap "echo \$EPOCHREALTIME >$VSEG_SELFTEST_TMP/termed; exit 143" TERM
    echo $EPOCHREALTIME >"$VSEG_SELFTEST_TMP/started"
    sleep 30 & wait'
check "--timeout 2 -- sleep 30 exits 124" test "$rc" = 124
lived=$(lived_ms started termed)
check "--timeout 2 sends TERM after about 2 s (${lived:-no} ms)" test "${lived:-0}" -ge 1700 -a "${lived:-0}" -lt 6000
check_no_ns "time-out run"
vrun --timeout 1 -- bash -c '
    trap "" TERM
    echo $EPOCHREALTIME >"$VSEG_SELFTEST_TMP/started"
    while :; do echo $EPOCHREALTIME >"$VSEG_SELFTEST_TMP/alive"; sleep 0.05; done'
lived=$(lived_ms started alive)
check "--timeout with a COMMAND that ignores TERM exits 124 after the KILL (${lived:-no} ms)" \
    test "$rc" = 124 -a "${lived:-0}" -ge 2700 -a "${lived:-0}" -lt 8000
check_no_ns "time-out run with TERM ignored"

# Waits (up to 10 s) until the run $vpid has its COMMAND `sleep` going in the
# workstation namespace; sets sleep_pids.
wait_for_sleep() {
    local i ws p
    sleep_pids=""
    for ((i = 0; i < 200; i++)); do
        ws=$(ns_of "$vpid" | grep -m1 '^vseg-ws' | cut -d' ' -f1)
        if [ -n "$ws" ]; then
            for p in $(ip netns pids "$ws" 2>/dev/null); do
                [ "$(cat "/proc/$p/comm" 2>/dev/null)" = sleep ] && sleep_pids+=" $p"
            done
            [ -n "$sleep_pids" ] && return 0
        fi
        sleep 0.05
    done
}

# Signals.
for sig in INT TERM HUP; do
    case $sig in INT) want=130 ;; TERM) want=143 ;; HUP) want=129 ;; esac
    VRUN_ASYNC=1 vrun --segments 2 -- sleep 30
    wait_for_sleep
    if [ "$sig" = INT ]; then
        check "during a run the namespaces exist" test "$(ns_of "$vpid" | wc -l)" = 3
        check "during a run the root namespace has no new links, addresses or routes" \
            test "$(ip -br link; ip -br addr; ip route)" = "$root_before"
    fi
    kill -"$sig" "$vpid"
    wait "$vpid"
    rc=$?
    check "SIG$sig to the script mid-run exits $want" test "$rc" = "$want"
    check_no_ns "SIG$sig run"
    # shellcheck disable=SC2086
    check "SIG$sig: COMMAND was stopped" gone $sleep_pids
done

# SIGKILL cannot be trapped: the namespaces stay, and --clean-stale removes
# them together with what still runs inside. No time-out: one that ran out before
# the KILL (a busy machine can be that slow to see the COMMAND) would remove them.
VRUN_ASYNC=1 vrun --segments 2 --timeout 0 -- sleep 30
wait_for_sleep
kill -KILL "$vpid"
wait "$vpid" 2>/dev/null
check "after SIGKILL the namespaces are still there" test "$(ns_of "$vpid" | wc -l)" = 3
"$VSEG" --clean-stale >"$out" 2>&1
rc=$?
check "--clean-stale exits 0 and removes them" test "$rc" = 0 -a -z "$(ns_of "$vpid")"
# shellcheck disable=SC2086
check "--clean-stale stopped the orphaned COMMAND" gone $sleep_pids

# Device commands: started in every device namespace, output logged per
# segment, stopped at the end (segment 2 ignores TERM, so KILL is needed).
rm -f "$tmp"/devpid.* "$tmp"/devlog* "$tmp/termed" "$tmp/alive"
vrun --segments 2 --device-log "$tmp/devlog" --device '
    echo "hello from segment $VSEG_SEGMENT in $VSEG_NS first=$VSEG_DEVICE_FIRST host=$VSEG_DEVICE_HOST"
    echo $$ > "$VSEG_SELFTEST_TMP/devpid.$VSEG_SEGMENT"
    if [ "$VSEG_SEGMENT" = 2 ]; then
        trap "echo \$EPOCHREALTIME >$VSEG_SELFTEST_TMP/termed" TERM
        while :; do echo $EPOCHREALTIME >"$VSEG_SELFTEST_TMP/alive"; sleep 0.05; done
    fi
    while :; do sleep 0.1; done' -- bash "$SELF" --inner device
check "device run exits 0" test "$rc" = 0
collect
[ "$rc" = 0 ] || show_out
for s in 1 2; do
    pid=$(cat "$tmp/devpid.$s" 2>/dev/null)
    check "--device command of segment $s was stopped at the end" gone "${pid:-0}"
    check "--device-log: segment $s wrote to devlog.$s" \
        grep -q "^hello from segment $s in vseg-dev$s-.* first=10\.$((76 + s))\.1\.1 host=10\.$((76 + s))\.0\.254\$" "$tmp/devlog.$s"
done
lived=$(lived_ms termed alive)
check "device command ignoring TERM was KILLed after about 2 s (${lived:-no} ms)" \
    test "${lived:-0}" -ge 1800 -a "${lived:-0}" -lt 6000
check_no_ns "device run"

# A tiny responder per device namespace and a probe from the workstation.
vrun --segments 2 --device-addresses 4 --device-log /dev/null --wait-udp 4800 \
    --device "exec \"$VSEG_SELFTEST_PY\" \"$tmp/udp.py\" respond --port 4800 --reply-port 7800" \
    -- bash "$SELF" --inner probe
check "probe run exits 0" test "$rc" = 0
collect
[ "$rc" = 0 ] || show_out
check_no_ns "probe run"

# Parallel runs (as under ctest -j) must not disturb each other.
par_pids=()
for i in 1 2 3 4; do
    (
        trap - INT QUIT
        exec "$VSEG" --segments 2 -- bash "$SELF" --inner bcast1
    ) >"$tmp/par.$i" 2>&1 </dev/null &
    par_pids+=($!)
done
for i in 1 2 3 4; do
    wait "${par_pids[i - 1]}"
    r=$?
    check "parallel run $i exits 0 and its broadcasts work" \
        test "$r" = 0 -a "$(grep -c '^PASS:' "$tmp/par.$i")" = 2
    [ -z "$(ns_of "${par_pids[i - 1]}")" ] || fail "parallel run $i left namespaces"
done

check_refusals

check "the root namespace's links, addresses and routes are unchanged" \
    test "$(ip -br link; ip -br addr; ip route)" = "$root_before"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
