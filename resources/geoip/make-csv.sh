#!/bin/sh
# Builds ip.csv and cc.csv (the text sources of the country database) beside
# this script from two Debian packages:
#   tor-geoipdb  /usr/share/tor/geoip                       lines "low,high,CC", "#" comments
#   iso-codes    /usr/share/iso-codes/json/iso_3166-1.json  English country names
#
# Maintainers run it by hand after a data update and commit the two CSV files; the build never
# runs it (the build turns the committed CSV files into the two binary resources with our own
# DatabaseFromCSV and SaveDatabase, see resources/CMakeLists.txt). It needs only sh, awk (mawk or
# gawk), sed and LC_ALL=C, all on a clean Debian; no python3.
#
# Rules:
#   - ranges of the unknown country "??" are dropped;
#   - a range that starts right after the previous kept range and has the same code is merged into
#     it (gaps left by dropped "??" ranges stay gaps);
#   - every code gets one cIndex, 1 to 255, in the order of its first appearance in the address
#     data (ascending addresses), so the same input always yields the same numbering;
#   - names are iso-codes' common name where it has one (Vietnam, Iran, ...), else its name;
#     accented Latin letters are written as plain ASCII (the resources are single-byte text);
#   - codes that ISO 3166-1 does not hold get their names from the table below: the pseudo-countries
#     AP, EU, A1, A2 (kept where the data has them) and the old or reserved codes AN, CS, UK;
#   - the script fails when a code has no name, when the input is not ascending and disjoint, or
#     when there are more than 255 codes: the database could not hold that.
#
# usage: resources/geoip/make-csv.sh [GEOIP_FILE [ISO_3166_1_JSON]]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
geoip=${1:-/usr/share/tor/geoip}
iso=${2:-/usr/share/iso-codes/json/iso_3166-1.json}
export LC_ALL=C

for f in "$geoip" "$iso"; do
    if [ ! -r "$f" ]; then
        echo "make-csv.sh: cannot read $f (apt-get install tor-geoipdb iso-codes)" >&2
        exit 1
    fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Codes that ISO 3166-1 does not hold, with the names the program shows for them.
cat >"$tmp/extra.txt" <<'EOF'
AP	Asia/Pacific Region
EU	Europe
A1	Anonymous Proxy
A2	Satellite Provider
AN	Netherlands Antilles
CS	Serbia and Montenegro
UK	United Kingdom
EOF

# iso_3166-1.json holds one "key": "value" pair per line; an object ends at its "}".
awk '
    function value(line) { sub(/^[^:]*: *"/, "", line); sub(/",? *$/, "", line); return line }
    /"alpha_2":/     { code = value($0) }
    /"name":/        { name = value($0) }
    /"common_name":/ { common = value($0) }
    /}/ {
        if (code != "") print code "\t" (common != "" ? common : name)
        code = ""; name = ""; common = ""
    }
' "$iso" |
    sed -e 's/Å/A/g; s/å/a/g; s/é/e/g; s/É/E/g; s/ô/o/g; s/ç/c/g; s/ü/u/g; s/ã/a/g; s/í/i/g' >"$tmp/iso.txt"
if grep -n '[^ -~	]' "$tmp/iso.txt" >&2; then
    echo "make-csv.sh: the names above have letters outside ASCII; add them to the sed map" >&2
    exit 1
fi
cat "$tmp/extra.txt" "$tmp/iso.txt" >"$tmp/names.txt"

awk -F',' -v ipcsv="$tmp/ip.csv" -v cccsv="$tmp/cc.csv" '
    FNR == NR {
        split($0, f, "\t")
        if (!(f[1] in names)) names[f[1]] = f[2]
        next
    }
    /^#/ || /^[ \t\r]*$/ { next }
    {
        sub(/\r$/, "")
        if (NF != 3) { printf "make-csv.sh: line %d: expected low,high,CC: %s\n", FNR, $0 > "/dev/stderr"; bad = 1; exit 1 }
        lo = $1 + 0; hi = $2 + 0; cc = $3
        if (hi < lo || (seen && lo <= lastHi)) {
            printf "make-csv.sh: line %d: range not ascending and disjoint: %s\n", FNR, $0 > "/dev/stderr"; bad = 1; exit 1
        }
        seen = 1; lastHi = hi
        if (cc == "??") next
        if (!(cc in index_of)) {
            if (!(cc in names)) { printf "make-csv.sh: no name for code %s\n", cc > "/dev/stderr"; bad = 1; exit 1 }
            count++
            if (count > 255) { print "make-csv.sh: more than 255 country codes" > "/dev/stderr"; bad = 1; exit 1 }
            index_of[cc] = count; code_of[count] = cc
        }
        if (open && cc == curCc && lo == curHi + 1) { curHi = hi; next }
        if (open) flush()
        open = 1; curLo = lo; curHi = hi; curCc = cc
    }
    # mawk keeps numbers as doubles: %.0f prints every 32-bit address exactly.
    function flush() { printf "%.0f;%.0f;%d\n", curLo, curHi, index_of[curCc] > ipcsv; blocks++ }
    END {
        if (bad) exit 1
        if (open) flush()
        for (i = 1; i <= count; i++) printf "%d;%s;%s\n", i, code_of[i], names[code_of[i]] > cccsv
        printf "make-csv.sh: %d blocks, %d countries\n", blocks, count > "/dev/stderr"
    }
' "$tmp/names.txt" "$geoip"

mv "$tmp/ip.csv" "$here/ip.csv"
mv "$tmp/cc.csv" "$here/cc.csv"
