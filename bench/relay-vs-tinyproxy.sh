#!/usr/bin/env bash
# The relay side by side with tinyproxy on one local origin (everything on 127.0.0.1):
#   1. requests per second through each as a plain forward proxy (ApacheBench -X, REQUESTS
#      requests at concurrency 1, 16 and 64; best of ROUNDS rounds, the two proxies alternating);
#      goal: the relay at least at tinyproxy's rate at every concurrency;
#   2. a 100 MiB download through the relay's CONNECT tunnel (curl --proxytunnel) against the same
#      download straight from the origin (and through tinyproxy's tunnel, for reference); goal: at
#      least 80 % of the direct rate.
# Needs a build with tests (relay-test-origin) in $RELAYVANE_BUILD_DIR (default build/), plus
# tinyproxy, ab (apache2-utils) and curl.
#   usage: bench/relay-vs-tinyproxy.sh      (REQUESTS=5000 ROUNDS=3 DOWNLOAD_MIB=100 by default)
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${RELAYVANE_BUILD_DIR:-$root/build}
cli=$build/cli/relayvane-cli
origin_bin=$build/tests/e2e/relay-test-origin
requests=${REQUESTS:-5000}
rounds=${ROUNDS:-3}
download_mib=${DOWNLOAD_MIB:-100}
for f in "$cli" "$origin_bin"; do
    [ -x "$f" ] || { echo "relay-vs-tinyproxy: $f is missing; build first (scripts/build.sh)" >&2; exit 1; }
done
tinyproxy=$(command -v tinyproxy || echo /usr/bin/tinyproxy)
for p in "$tinyproxy" ab curl; do
    command -v "$p" >/dev/null || { echo "relay-vs-tinyproxy: $p is missing (scripts/install-deps.sh --test)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local p
    while :; do
        p=$((20000 + RANDOM % 40000))
        listening "$p" || { echo "$p"; return; }
    done
}
wait_port() { # port name: polls for up to 30 s (a loaded machine starts programs slowly)
    for _ in $(seq 1 600); do listening "$1" && return 0; sleep 0.05; done
    echo "relay-vs-tinyproxy: $2 does not listen on port $1" >&2
    [ ! -s "$work/relay.log" ] || cat "$work/relay.log" >&2
    exit 1
}

origin_port=$(free_port)
"$origin_bin" --port "$origin_port" &
pids+=($!)
relay_port=$(free_port)
"$cli" relay --port "$relay_port" 2>"$work/relay.log" &
pids+=($!)
tiny_port=$(free_port)
cat >"$work/tinyproxy.conf" <<CONF
Port $tiny_port
Listen 127.0.0.1
Timeout 60
MaxClients 256
LogLevel Critical
LogFile "$work/tinyproxy.log"
Allow 127.0.0.1
DisableViaHeader Yes
CONF
"$tinyproxy" -d -c "$work/tinyproxy.conf" >/dev/null 2>&1 &
pids+=($!)
wait_port "$origin_port" origin
wait_port "$relay_port" relay
wait_port "$tiny_port" tinyproxy

url=http://127.0.0.1:$origin_port/hello
failures=$work/failures
rps() { # proxy-port concurrency -> requests per second; failed requests are noted in $failures
    local out failed
    out=$(ab -q -X "127.0.0.1:$1" -n "$requests" -c "$2" "$url" 2>&1) || { echo 0; return; }
    failed=$(awk '/^Failed requests/ {f += $3} /^Non-2xx/ {f += $3} END {print f + 0}' <<<"$out")
    [ "$failed" = 0 ] || echo "port $1 concurrency $2: $failed failed requests" >>"$failures"
    awk '/^Requests per second/ {print $4}' <<<"$out"
}
best() { printf '%s\n' "$@" | sort -g | tail -n 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

echo "relay vs tinyproxy $("$tinyproxy" -v 2>&1 | awk '{print $2}'), origin on 127.0.0.1:$origin_port, $(nproc) cores"
echo
echo "ApacheBench, $requests requests, best of $rounds rounds (requests per second)"
printf '%-12s %12s %12s %8s\n' concurrency relay tinyproxy ratio
status=0
for c in 1 16 64; do
    r=(); t=()
    for _ in $(seq 1 "$rounds"); do
        r+=("$(rps "$relay_port" "$c")")
        t+=("$(rps "$tiny_port" "$c")")
    done
    rb=$(best "${r[@]}"); tb=$(best "${t[@]}")
    q=$(ratio "$rb" "$tb")
    printf '%-12s %12.0f %12.0f %8s\n' "$c" "$rb" "$tb" "$q"
    awk -v q="$q" 'BEGIN { exit !(q != "n/a" && q >= 1.0) }' || status=1
done

bytes=$((download_mib * 1024 * 1024))
big=http://127.0.0.1:$origin_port/bytes/$bytes
speed() { curl -s -o /dev/null -w '%{speed_download}' "$@" "$big"; }
d=(); tn=(); tt=()
for _ in $(seq 1 "$rounds"); do
    d+=("$(speed)")
    tn+=("$(speed -p -x "127.0.0.1:$relay_port")")
    tt+=("$(speed -p -x "127.0.0.1:$tiny_port")")
done
db=$(best "${d[@]}"); tb=$(best "${tn[@]}"); ttb=$(best "${tt[@]}")
mib() { awk -v s="$1" 'BEGIN{printf "%.0f", s/1048576}'; }
echo
echo "$download_mib MiB download, best of $rounds (MiB/s); tinyproxy's own tunnel alongside"
printf '%-12s %12s %12s %12s %8s\n' "" tunnel direct tinyproxy "ratio"
q=$(ratio "$tb" "$db")
printf '%-12s %12s %12s %12s %8s\n' curl "$(mib "$tb")" "$(mib "$db")" "$(mib "$ttb")" "$q"
awk -v q="$q" 'BEGIN { exit !(q != "n/a" && q >= 0.8) }' || status=1
if [ -s "$failures" ]; then
    echo
    echo "failed requests (relay on port $relay_port, tinyproxy on port $tiny_port):"
    sort "$failures" | uniq -c
fi
echo
if [ "$status" = 0 ]; then echo "goals met"; else echo "goals missed"; fi
exit "$status"
