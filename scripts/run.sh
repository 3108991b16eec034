#!/usr/bin/env bash
# Installs what is missing, builds, and runs Relayvane: in the notification area on a display,
# headless without one. Arguments go to the program.
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
    cat <<'USAGE'
usage: scripts/run.sh [PROGRAM_ARGS...]
Installs the packages the build needs, builds the tree (build dir: $RELAYVANE_BUILD_DIR, default
build/) and runs relayvane with PROGRAM_ARGS; without DISPLAY or WAYLAND_DISPLAY it adds --headless.
'relayvane --help' lists the program's own options; 'relayvane-cli ctl status' talks to it.
USAGE
    exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build=${RELAYVANE_BUILD_DIR:-$root/build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    case " $* " in
    *" --headless "*) ;;
    *)
        echo "run.sh: no display; starting relayvane --headless (Ctrl+C ends it)" >&2
        set -- --headless "$@"
        ;;
    esac
fi
exec "$build/app/relayvane" "$@"
