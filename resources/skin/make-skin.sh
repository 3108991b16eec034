#!/bin/sh
# Remakes the skin and icon pictures beside this script with the program's own drawing tool
# (make-skin.cpp, built as relayvane-make-skin in a GUI build folder). Maintainers run it after
# changing the drawing and commit the PNG files; the build only embeds them.
#
# usage: resources/skin/make-skin.sh [--json] [BUILD_DIR]   (default build folder: build/)
set -eu
json=""
case "${1:-}" in
-h | --help)
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
--json)
    json="--json"
    shift
    ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
cmake --build "$build" --target relayvane-make-skin >&2
"$build/resources/relayvane-make-skin" $json "$here"
