#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit and e2e) with CTest; then builds
# again without the GUI (-DRELAYVANE_GUI=OFF, in build-nogui/) and runs the unit tests there, which
# proves that the core, the CLI, the service and the headless program never reach for QtWidgets.
#   --label=unit|e2e   run only one label
#   --skip-no-gui      leave out the second build
set -euo pipefail
label=""
no_gui=1
for arg in "$@"; do
    case "$arg" in
        --help|-h) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        --label=*) label=${arg#--label=} ;;
        --skip-no-gui) no_gui=0 ;;
        *) echo "test.sh: unknown option '$arg'" >&2; exit 2 ;;
    esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" --test
"$root/scripts/build.sh"
build=${RELAYVANE_BUILD_DIR:-$root/build}
args=(--test-dir "$build" --output-on-failure --parallel 2 --timeout 600)
if [ -n "$label" ]; then args+=(-L "$label"); fi
ctest "${args[@]}"

if [ "$no_gui" = 1 ]; then
    nogui=${RELAYVANE_NOGUI_BUILD_DIR:-$root/build-nogui}
    echo "test.sh: building without the GUI in $nogui" >&2
    RELAYVANE_BUILD_DIR=$nogui "$root/scripts/build.sh" -DRELAYVANE_GUI=OFF -DRELAYVANE_BENCH=OFF
    ctest --test-dir "$nogui" --output-on-failure --parallel 2 --timeout 600 -L unit
fi
