#!/bin/bash
# The set-up's Debian packages, installed without taking anything away.
#
#   tools/packages.sh install "GAME" ["LAB" ["LAB_IF_FREE"]]
#   tools/packages.sh remove-lab
#
# install: installs those of the named packages that are missing, once a
# simulation shows that apt removes no installed package for them. Where it
# would, it names the package that would go and the one that asks for it,
# and installs nothing. A package of LAB_IF_FREE is installed only where it
# removes nothing, and left out otherwise (pulseaudio, which a PipeWire
# desktop's pipewire-audio conflicts with; the sound checks then use
# pipewire). What apt installs for the lab (LAB and LAB_IF_FREE, with their
# dependencies) is added to the file .test-lab-packages; remove-lab takes
# exactly those packages away again.
set -euo pipefail
cd "$(dirname "$0")/.."
RECORD=.test-lab-packages
SUDO=; [ "$(id -u)" = 0 ] || SUDO=sudo
APT="$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -y -q"

missing() {
    for p; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}
# apt's plan for "apt-get $1 <packages>", with Inst and Remv lines.
plan() {
    local what=$1 out; shift
    out=$(apt-get "$what" -s --no-install-recommends "$@" 2>&1) || { echo "$out" >&2; return 1; }
    echo "$out"
}
removed() { plan install "$@" | sed -n 's/^Remv \([^ ]*\).*/\1/p'; }
# Packages that are new to the machine: "Inst name (version ...)", where an
# upgrade would read "Inst name [installed version] (...)".
added() { plan install "$@" | sed -n 's/^Inst \([^ ]*\) (.*/\1/p'; }

install() {
    local game=$1 lab=${2-} if_free=${3-} gone p r
    [ -n "$(missing $game $lab $if_free)" ] || return 0
    $SUDO apt-get update -qq
    for p in $(missing $if_free); do
        gone=$(removed "$p")
        if [ -n "$gone" ]; then
            echo "Leaving out $p: installing it would remove" $gone
        else
            lab="$lab $p"
        fi
    done
    game=$(missing $game) lab=$(missing $lab)
    gone=$(removed $game $lab)
    if [ -n "$gone" ]; then
        echo "Installing nothing: apt would remove" $gone "to install these packages:" >&2
        for p in $game $lab; do
            for r in $(removed "$p"); do echo "  installing $p would remove the installed $r (they conflict)" >&2; done
        done
        exit 1
    fi
    if [ -n "$game" ]; then
        echo "Installing the game's packages:" $game
        $APT install --no-install-recommends $game
    fi
    if [ -n "$lab" ]; then
        echo "Installing the test lab (recorded in $RECORD for make remove-lab):" $lab
        added $lab >> "$RECORD"
        $APT install --no-install-recommends $lab
    fi
}

remove_lab() {
    [ -s "$RECORD" ] || { echo "No test lab recorded in $RECORD: nothing to remove."; return 0; }
    local lab others
    lab=$(sort -u "$RECORD" | while read -r p; do [ -n "$(missing "$p")" ] || echo "$p"; done)
    others=$(plan remove $lab | sed -n 's/^Remv \([^ ]*\).*/\1/p' | grep -vxF "$(sort -u "$RECORD")" || true)
    if [ -n "$others" ]; then
        echo "Removing nothing: these packages, installed since, need the lab's:" $others >&2
        exit 1
    fi
    [ -z "$lab" ] || $APT remove $lab
    rm -f "$RECORD"
}

case ${1-} in
    install) shift; install "$@" ;;
    remove-lab) remove_lab ;;
    *) echo "usage: $0 install \"GAME\" [\"LAB\" [\"LAB_IF_FREE\"]] | remove-lab" >&2; exit 2 ;;
esac
