#!/usr/bin/env bash
# Installs what is missing, builds, and runs Relayvane. Arguments go to the program.
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
    echo "usage: scripts/run.sh [PROGRAM_ARGS...]   builds and runs relayvane-cli"
    exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build=${RELAYVANE_BUILD_DIR:-$root/build}
if [ "$#" -eq 0 ]; then set -- --help; fi
exec "$build/cli/relayvane-cli" "$@"
