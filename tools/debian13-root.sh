#!/usr/bin/env bash
# The suite on Debian 13 (trixie) from a Debian 12 machine: a root made from
# Debian's own packages, kept between runs, with a clone of the committed
# tree built and tested inside it as a player on Debian 13 would.
#
#   tools/debian13-root.sh make ROOT          make the root once (as root)
#   tools/debian13-root.sh run ROOT CMD...    run a command inside it
#   tools/debian13-root.sh test ROOT SRC      clone SRC's HEAD into it and
#                                             run make test there
#
# Everything inside runs in a mount and process namespace of its own: the
# mounts (proc, sys, dev, dev/pts, dev/shm) and whatever the tests leave
# running go when the command ends, however it ends.
set -euo pipefail

SUITE=trixie
JOBS=${JOBS:-2}
DEPS_TARGET=${DEPS_TARGET:-deps}  # installs what make test needs

die() { echo "debian13-root: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || die "needs root (mounts and chroot); run it with sudo"
[ $# -ge 2 ] || die "usage: $0 make|run|test ROOT [ARGS...]"
cmd=$1
ROOT=$(realpath -m "$2")
shift 2

# The Debian mirror this machine's apt uses (one-line or deb822 sources),
# else Debian's own.
mirror_of() {
    local want=$1 url
    url=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null \
          | sed -n -e 's/^deb \(\[[^]]*\] \)\{0,1\}\([a-z+]*:\/\/[^ ]*\) .*/\2/p' -e 's/^URIs: *\([^ ]*\).*/\1/p' \
          | grep -E "$want" | head -n1 || true)
    echo "${url%/}"
}

make_root() {
    [ -f "$ROOT/.slabix-root" ] && return 0
    if [ -e "$ROOT" ] && [ -n "$(ls -A "$ROOT" 2>/dev/null)" ]; then
        die "$ROOT is not empty and not a root made here; remove it or choose another"
    fi
    if ! command -v mmdebstrap >/dev/null; then
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
            --no-install-recommends mmdebstrap
    fi
    local main security
    main=$(mirror_of '/debian/?$')
    security=$(mirror_of '/debian-security/?$')
    main=${main:-http://deb.debian.org/debian}
    security=${security:-http://deb.debian.org/debian-security}
    echo "Making a Debian 13 root in $ROOT from $main"
    rm -rf "$ROOT.new"
    mkdir -p "$(dirname "$ROOT")"
    mmdebstrap --variant=minbase --include=git,make,ca-certificates,ccache "$SUITE" "$ROOT.new" \
        "deb $main $SUITE main" "deb $main $SUITE-updates main" "deb $security $SUITE-security main"
    # Packages installed inside never start their services there.
    printf '#!/bin/sh\nexit 101\n' > "$ROOT.new/usr/sbin/policy-rc.d"
    chmod 755 "$ROOT.new/usr/sbin/policy-rc.d"
    touch "$ROOT.new/.slabix-root"
    rmdir "$ROOT" 2>/dev/null || true
    mv "$ROOT.new" "$ROOT"
}

# Runs "$@" inside the root, in namespaces of its own, as root, with a clean
# environment. With --offline also in a network of its own (loopback only),
# so that the servers the tests start (X displays, sound and print servers,
# session buses) never meet the machine's own.
in_root() {
    local net=
    if [ "$1" = --offline ]; then net=--net; shift; fi
    [ -f "$ROOT/.slabix-root" ] || die "$ROOT is not a Debian 13 root; make it first"
    cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true
    unshare --mount --propagation private --pid --fork --kill-child $net -- /bin/bash -euc '
        root=$1; net=$2; shift 2
        [ -z "$net" ] || ip link set lo up
        # The root is a mount of its own, as / is on a machine (unshare
        # --propagation, which the checks use, needs that).
        mount --bind "$root" "$root"
        mount -t proc proc "$root/proc"
        mount -t sysfs sysfs "$root/sys"
        mount --bind /dev "$root/dev"
        mount --bind /dev/pts "$root/dev/pts"
        mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
        mount -t tmpfs -o mode=1777,nosuid,nodev tmp "$root/tmp"
        exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"' bash "$ROOT" "$net" "$@"
}

case $cmd in
make)
    make_root
    ;;
run)
    in_root "$@"
    ;;
test)
    [ $# -ge 1 ] || die "usage: $0 test ROOT SRC"
    SRC=$1
    make_root
    # A fresh clone of the committed tree each time; compiled objects come
    # back from the root's own compiler cache.
    rm -rf "$ROOT/root/slabix"
    git clone -q --no-hardlinks "$SRC" "$ROOT/root/slabix"
    echo "Testing $(git -C "$ROOT/root/slabix" log -1 --format='%h %s') on Debian 13"
    # Packages come over the network; the build and the tests run offline.
    in_root /bin/bash -ec "cd /root/slabix && make $DEPS_TARGET"
    in_root --offline /bin/bash -ec "cd /root/slabix && CMAKE_CXX_COMPILER_LAUNCHER=ccache \
        CMAKE_C_COMPILER_LAUNCHER=ccache make test JOBS=$JOBS"
    ;;
*)
    die "unknown command $cmd (make, run or test)"
    ;;
esac
