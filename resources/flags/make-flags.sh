#!/bin/sh
# Makes the flag pictures beside this script: FLAG_<CODE>.png, 20 x 20 PNG with the 16 x 11 flag
# of Debian's famfamfam-flag-png centred on a transparent canvas, plus FLAG_NN, our own picture for
# "no country" (a blank grey flag with a question mark).
#
# Maintainers run it by hand and commit the PNG files; the build only embeds them (so the core
# needs no image library). It needs ImageMagick's convert (apt-get install imagemagick
# famfamfam-flag-png); set CONVERT to its path when another "convert" comes first on PATH.
#
#   - every two-letter picture of the package becomes FLAG_ + its upper-case name;
#   - europeanunion.png becomes FLAG_EU, and gb.png FLAG_UK as well, since the geo-IP data uses
#     EU and UK as country codes;
#   - the other named pictures (england, scotland, ...) are no country codes and are left out.
#
# usage: resources/flags/make-flags.sh [FLAG_DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=${1:-/usr/share/flags/countries/16x11}
convert=${CONVERT:-convert}

if ! "$convert" -version 2>/dev/null | grep -q ImageMagick; then
    echo "make-flags.sh: '$convert' is not ImageMagick's convert (apt-get install imagemagick, or set CONVERT)" >&2
    exit 1
fi
if [ ! -r "$src/us.png" ]; then
    echo "make-flags.sh: no flags in $src (apt-get install famfamfam-flag-png)" >&2
    exit 1
fi

# Reproducible output: no time stamps or other text chunks, always 32-bit RGBA.
out_opts="-strip -define png:exclude-chunks=date,time"

# place SRC DEST: the 16 x 11 picture at (2, 4) of a transparent 20 x 20 canvas.
place() {
    "$convert" -size 20x20 xc:none "$1" -geometry +2+4 -composite $out_opts "PNG32:$2"
}

rm -f "$here"/FLAG_*.png
count=0
for f in "$src"/??.png; do
    code=$(basename "$f" .png | tr 'a-z' 'A-Z')
    place "$f" "$here/FLAG_$code.png"
    count=$((count + 1))
done
[ -r "$src/europeanunion.png" ] && place "$src/europeanunion.png" "$here/FLAG_EU.png" && count=$((count + 1))
[ -r "$src/gb.png" ] && place "$src/gb.png" "$here/FLAG_UK.png" && count=$((count + 1))

# FLAG_NN: a light flag with a grey border and a grey question mark, in the same 16 x 11 box.
"$convert" -size 20x20 xc:none +antialias \
    -fill '#f2f2f2' -stroke '#8c8c8c' -strokewidth 1 -draw 'rectangle 2,4 17,14' \
    -stroke none -fill '#6e6e6e' \
    -draw 'point 9,6 point 10,6 point 11,6 point 8,7 point 12,7 point 12,8 point 11,9 point 10,10 point 10,11 point 10,13' \
    $out_opts "PNG32:$here/FLAG_NN.png"
count=$((count + 1))
echo "make-flags.sh: $count pictures" >&2
