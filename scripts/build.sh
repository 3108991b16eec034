#!/usr/bin/env bash
# Configures and builds Relayvane into build/ (or $RELAYVANE_BUILD_DIR) with Ninja.
# Extra arguments go to CMake's configure step, for example -DRELAYVANE_GUI=OFF.
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
    echo "usage: scripts/build.sh [CMAKE_OPTIONS...]   (build dir: \$RELAYVANE_BUILD_DIR, default build/)"
    exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${RELAYVANE_BUILD_DIR:-$root/build}
mkdir -p "$build"
# One build at a time per build folder: concurrent runs of CMake and Ninja in one folder clash.
exec 9>"$build/.build.lock"
flock 9
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
