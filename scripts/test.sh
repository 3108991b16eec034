#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit and e2e) with CTest.
#   --label unit|e2e   run only one label
#   --no-gui           also prove that the core builds and passes without QtWidgets
set -euo pipefail
label=""
for arg in "$@"; do
    case "$arg" in
        --help|-h) sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        --label=*) label=${arg#--label=} ;;
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
