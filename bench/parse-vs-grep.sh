#!/usr/bin/env bash
# Times `relayvane-cli parse` (free format, country lookups in the built-in database, duplicates
# dropped) against `grep -oE` with the same expression on the same generated list, for 100,000 and
# 1,000,000 lines, and prints the ratios. Goals (issue 2): the parse within 2x of grep; 10x the
# lines at most 12x the time.
#
# grep's ERE has no \d, so the pattern is the parser's own with \d written [0-9]; grep reads line
# by line, so unlike the parser its matches never span lines (the generated lists have none).
# grep runs with LC_ALL=C (its fast byte path) and in the current locale; the ratio goal is judged
# against the faster, LC_ALL=C.
set -euo pipefail

usage() {
    cat <<'USAGE'
usage: bench/parse-vs-grep.sh [--runs N] [--keep]
  Build first (scripts/build.sh); the build folder is $RELAYVANE_BUILD_DIR, default build/.
  --runs N   best of N runs per program (default 5)
  --keep     keep the generated lists in the temporary folder and print its name
USAGE
}

runs=5
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
        --help|-h) usage; exit 0 ;;
        --runs) runs=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "parse-vs-grep: unknown option '$1'" >&2; usage >&2; exit 2 ;;
    esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
build=${RELAYVANE_BUILD_DIR:-$root/build}
cli=$build/cli/relayvane-cli
if [ ! -x "$cli" ]; then
    echo "parse-vs-grep: $cli not found; run scripts/build.sh first" >&2
    exit 1
fi

tmp=$(mktemp -d)
if [ "$keep" = 1 ]; then echo "lists kept in $tmp" >&2; else trap 'rm -rf "$tmp"' EXIT; fi

# The same mix as bench_parse_stream: 80 % "ip:port", and "ip port", "ip<TAB>port",
# "user:pw@ip:port" and "ip:port elite US" at 5 % each.
generate() {
    awk -v n="$1" 'BEGIN {
        srand(20240601);
        for (i = 0; i < n; i++) {
            a = 1 + int(rand() * 223); b = int(rand() * 256); c = int(rand() * 256); d = int(rand() * 256);
            p = 10 + int(rand() * 65526); k = int(rand() * 20);
            ip = a "." b "." c "." d;
            if (k < 16) print ip ":" p;
            else if (k == 16) print ip " " p;
            else if (k == 17) print ip "\t" p;
            else if (k == 18) print "user:pw@" ip ":" p;
            else print ip ":" p " elite US";
        }
    }'
}

pattern='[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}[^0-9]+[0-9]{2,5}'

# Runs a program $runs times with its output going to a file (GNU grep stops at the first match
# when its output is /dev/null) and prints the best wall time and the best CPU time (user +
# system) in seconds. On a busy machine the CPU time is the steadier figure.
measure() {
    local bw="" bc="" t r u s
    for _ in $(seq "$runs"); do
        t=$( { TIMEFORMAT='%R %U %S'; time "$@" >"$tmp/out" 2>/dev/null; } 2>&1 )
        read -r r u s <<<"$t"
        bw=$(awk -v a="$r" -v b="$bw" 'BEGIN { print (b == "" || a < b) ? a : b }')
        bc=$(awk -v a="$u" -v c="$s" -v b="$bc" 'BEGIN { x = a + c; print (b == "" || x < b) ? x : b }')
    done
    echo "$bw $bc"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

declare -A gw gc lw lc cw cc records
for lines in 100000 1000000; do
    file=$tmp/list-$lines.txt
    generate "$lines" >"$file"
    records[$lines]=$("$cli" parse "$file" | wc -l)
    read -r gw[$lines] gc[$lines] < <(measure env LC_ALL=C grep -oE "$pattern" "$file")
    read -r lw[$lines] lc[$lines] < <(measure grep -oE "$pattern" "$file")
    read -r cw[$lines] cc[$lines] < <(measure "$cli" parse "$file")
done

echo "best of $runs runs; wall / cpu (user+sys) seconds; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s %-9s %-17s %-17s %-17s %s\n' lines records "grep LC_ALL=C" "grep ${LANG:-C}" "relayvane-cli" "cli/grep C wall, cpu"
for lines in 100000 1000000; do
    printf '%-9s %-9s %-17s %-17s %-17s %s\n' "$lines" "${records[$lines]}" "${gw[$lines]} / ${gc[$lines]}" \
        "${lw[$lines]} / ${lc[$lines]}" "${cw[$lines]} / ${cc[$lines]}" \
        "$(ratio "${cw[$lines]}" "${gw[$lines]}"), $(ratio "${cc[$lines]}" "${gc[$lines]}")"
done
echo
echo "10x the lines costs relayvane-cli $(ratio "${cw[1000000]}" "${cw[100000]}")x wall," \
     "$(ratio "${cc[1000000]}" "${cc[100000]}")x cpu; grep C $(ratio "${gw[1000000]}" "${gw[100000]}")x wall," \
     "$(ratio "${gc[1000000]}" "${gc[100000]}")x cpu (goal for the parser: at most 12x)"
echo "1,000,000 lines, relayvane-cli / grep -oE: LC_ALL=C $(ratio "${cw[1000000]}" "${gw[1000000]}") wall," \
     "$(ratio "${cc[1000000]}" "${gc[1000000]}") cpu; ${LANG:-C} $(ratio "${cw[1000000]}" "${lw[1000000]}") wall," \
     "$(ratio "${cc[1000000]}" "${lc[1000000]}") cpu (goal: at most 2)"
