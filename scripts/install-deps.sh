#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Relayvane need.
# Idempotent: when every package is already there it touches nothing; otherwise it runs
# `apt-get update` once and `apt-get install -y` for the missing ones.
set -euo pipefail

usage() {
    cat <<'USAGE'
usage: scripts/install-deps.sh [--help] [--gui|--no-gui] [--test]
  --gui      also install the desktop program's packages (default when a display library is wanted)
  --no-gui   only what the core, the CLI and the service need
  --test     also install the test peers (tinyproxy, squid, ab, Xvfb, clang for fuzzing)
USAGE
}

want_gui=1
want_test=0
for arg in "$@"; do
    case "$arg" in
        --help|-h) usage; exit 0 ;;
        --gui) want_gui=1 ;;
        --no-gui) want_gui=0 ;;
        --test) want_test=1 ;;
        *) echo "install-deps: unknown option '$arg'" >&2; usage >&2; exit 2 ;;
    esac
done

pkgs=(
    build-essential g++ cmake ninja-build ccache pkg-config git
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
    libcurl4-openssl-dev zlib1g-dev libsqlite3-dev libcpp-httplib-dev libssl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    tor-geoipdb iso-codes famfamfam-flag-png
    curl
)
# The desktop proxy settings (GSettings through GIO, and the schema they are written against).
pkgs+=(libglib2.0-dev gsettings-desktop-schemas)
# Global hotkeys grab keys on the X root window through xcb (the headless program has them too).
pkgs+=(libxcb1-dev libxcb-keysyms1-dev)
if [ "$want_gui" = 1 ]; then
    pkgs+=(libgl-dev)
fi
if [ "$want_test" = 1 ]; then
    pkgs+=(tinyproxy squid apache2-utils xvfb xauth clang libclang-rt-14-dev procps iproute2)
    pkgs+=(firefox-esr xdotool x11-utils trayer)
fi

missing=()
for p in "${pkgs[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

# Peers such as squid and tinyproxy must not start as system services: the tests start their
# own copies on loopback, and a system squid would sit on 3128, the relay's port.
policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod +x "$policy"
    made_policy=1
fi
cleanup() { if [ "$made_policy" = 1 ]; then $SUDO rm -f "$policy"; fi; }
trap cleanup EXIT

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
