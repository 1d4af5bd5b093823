# shellcheck shell=bash
# Shared by scripts/release/check-package-chroot and scripts/release/check-fresh-chroot (sourced, not run):
# makes a fresh Debian system with debootstrap, from the mirror and release this machine's apt
# uses, in a scratch folder, mounted so that `ip netns` and the programs of a real system work
# inside, and takes it all down again when the script exits, also on Ctrl-C or failure.
#
# Usage (in a script with set -euo pipefail, after `cd` to the source tree):
#   source scripts/release/debian-chroot.sh
#   debian_chroot_need_root NAME                # exit 77 unless root
#   debian_chroot_make NAME [DEBOOTSTRAP-OPTION...]   # sets $system; e.g. --variant=minbase

debian_chroot_need_root() {
    [ "$(id -u)" = 0 ] || { echo "$1: needs root (debootstrap, chroot, namespaces)" >&2; exit 77; }
}

system=
debian_chroot_mounts=()

# Processes whose root is the system: a run stopped half-way (Ctrl-C, a failure) leaves servers
# and tests behind, and they keep its mounts busy and its network namespaces alive.
debian_chroot_pids() {
    local proc
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/root" 2>/dev/null)" = "$system" ] && echo "${proc#/proc/}"
    done
    return 0
}

debian_chroot_cleanup() {
    local i pids namespace
    [ -n "$system" ] || return 0
    for signal in TERM KILL; do
        pids=$(debian_chroot_pids)
        [ -n "$pids" ] || break
        # shellcheck disable=SC2086 # one pid a word
        kill -s "$signal" $pids 2>/dev/null || true
        sleep 2
    done
    # A network namespace left by a stopped run lives as long as its name is mounted in /run/netns.
    for namespace in "$system"/run/netns/*; do
        if [ -e "$namespace" ]; then umount -l "$namespace" 2>/dev/null || true; fi
    done
    for ((i = ${#debian_chroot_mounts[@]} - 1; i >= 0; i--)); do
        umount -l "${debian_chroot_mounts[i]}" 2>/dev/null || true
    done
    rm -rf --one-file-system "$system"
}

debian_chroot_mount() { # MOUNT-ARGUMENTS... TARGET
    mount "$@"
    debian_chroot_mounts+=("${!#}")
}

debian_chroot_make() { # NAME [DEBOOTSTRAP-OPTION...]
    local name=$1 mirror release
    shift
    mirror=$(grep -hoE '^(deb |URIs: )[^ ]*https?://[^ ]+' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources \
                 /etc/apt/sources.list.d/*.list 2>/dev/null | grep -oE 'https?://[^ ]+' | grep -v security | head -n 1 || true)
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    if [ -z "$mirror" ] || [ -z "$release" ]; then echo "$name: no Debian mirror configured" >&2; exit 1; fi

    system=$(mktemp -d "/tmp/$name.XXXXXX")
    trap debian_chroot_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    # mktemp makes the folder 0700; a real / lets every user through.
    chmod 755 "$system"

    echo "== debootstrap${*:+ $*} $release from $mirror into $system"
    debootstrap "$@" "$release" "$system" "$mirror" >"$system.log" 2>&1 ||
        { tail -n 20 "$system.log" >&2; rm -f "$system.log"; exit 1; }
    rm -f "$system.log"

    # `ip netns exec` remounts / as a slave and /sys of its namespace: the system's folder must be
    # a mount point of its own, with its own /run, /proc and /sys. Private, so that nothing
    # mounted inside shows up in (or is unmounted from) this machine's own tree.
    debian_chroot_mount --bind "$system" "$system"
    mount --make-private "$system"
    debian_chroot_mount -t proc proc "$system/proc"
    debian_chroot_mount -t sysfs sysfs "$system/sys"
    debian_chroot_mount --bind /dev "$system/dev"
    mount --make-private "$system/dev"
    # The bind of /dev leaves out its submounts: terminals for apt, dpkg and the tests, and the
    # shared memory POSIX semaphores live in, each a private instance.
    debian_chroot_mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$system/dev/pts"
    debian_chroot_mount -t tmpfs -o mode=1777 tmpfs "$system/dev/shm"
    debian_chroot_mount -t tmpfs -o mode=0755 tmpfs "$system/run"
    chmod 1777 "$system/tmp"
    cp /etc/resolv.conf "$system/etc/resolv.conf"
    # What the installer writes; programs that resolve localhost or this host's name need it.
    printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' \
        "$(hostname)" >"$system/etc/hosts"
}
