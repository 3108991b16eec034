#!/usr/bin/env bash
# Load on relayvane-service's list service: a store of 10,000 proxies, then 2,000 list requests
# (the program's multipart form) from 16 concurrent clients with ApacheBench, on loopback only.
# Prints the failures and the latency percentiles; measures, asserts nothing.
#   usage: bench/service-load.sh [REQUESTS] [CONCURRENCY] [PROXIES]   (build dir: $RELAYVANE_BUILD_DIR or build/)
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0; fi
requests=${1:-2000}
concurrency=${2:-16}
proxies=${3:-10000}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${RELAYVANE_BUILD_DIR:-$root/build}
service=$build/service/relayvane-service
[ -x "$service" ] || { echo "service-load: build relayvane-service first ($service)" >&2; exit 1; }
command -v ab >/dev/null || { echo "service-load: ApacheBench (apache2-utils) is needed" >&2; exit 1; }

work=$(mktemp -d)
pid=""
cleanup() {
    if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# The store: addresses spread over 10.x (no country), a mix of types, ports and measurements, all
# checked within the last hour so the program's default 15-minute interval keeps about a quarter.
now=$(date +%s)
awk -v n="$proxies" -v now="$now" 'BEGIN {
    srand(42); types[0] = "transparent"; types[1] = "anonymous"; types[2] = "elite";
    ports[0] = 80; ports[1] = 3128; ports[2] = 8080; ports[3] = 8000; ports[4] = 1080;
    codes[0] = "US"; codes[1] = "DE"; codes[2] = "FR"; codes[3] = "BR"; codes[4] = "JP";
    names[0] = "United States"; names[1] = "Germany"; names[2] = "France"; names[3] = "Brazil"; names[4] = "Japan";
    printf "[";
    for (i = 0; i < n; i++) {
        c = int(rand() * 5);
        printf "%s{\"address\":\"10.%d.%d.%d\",\"port\":%d,\"type\":\"%s\",\"https\":%s,\"post\":%s,",
            (i ? "," : ""), int(i / 65536) % 256, int(i / 256) % 256, i % 256 + 0, ports[int(rand() * 5)],
            types[int(rand() * 3)], (rand() < 0.5 ? "true" : "false"), (rand() < 0.7 ? "true" : "false");
        printf "\"speed\":%.1f,\"ping\":%.2f,\"uptime\":%.1f,\"uptime_hours\":%d,\"last_check\":%d,",
            rand() * 200, rand() * 20, rand() * 100, int(rand() * 500), now - int(rand() * 3600);
        printf "\"country_code\":\"%s\",\"country\":\"%s\"}", codes[c], names[c];
    }
    printf "]\n";
}' > "$work/proxies.json"
"$service" --db "$work/store.db" import --json "$work/proxies.json" >/dev/null

"$service" --db "$work/store.db" serve --listen 127.0.0.1:0 2>"$work/serve.log" &
pid=$!
port=""
for _ in $(seq 1 100); do
    port=$(sed -n 's/^relayvane-service: serving .* on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/serve.log" | head -n 1)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "service-load: the service did not start" >&2; cat "$work/serve.log" >&2; exit 1; }

form() { # the program's eleven fields as multipart/form-data, CR LF line ends
    local b=RelayvaneBenchBoundary
    while [ "$#" -gt 0 ]; do
        printf -- '--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n' "$b" "$1" "$2"
        shift 2
    done
    printf -- '--%s--\r\n' "$b"
}
form lang english cc "" ssl any speed 10 port any ping 15 type 23 post any uptime 70 uptimeinhours 0 interval 15 \
    >"$work/defaults.form"
form lang english cc "" ssl any speed 0 port any ping 0 type any post any uptime 0 uptimeinhours 0 interval 0 \
    >"$work/any.form"

echo "relayvane-service list service: $proxies proxies, $requests requests, $concurrency clients (loopback)"
for name in defaults any; do
    logged=$(wc -l <"$work/serve.log")
    ab -q -n "$requests" -c "$concurrency" -p "$work/$name.form" \
        -T "multipart/form-data; boundary=RelayvaneBenchBoundary" \
        "http://127.0.0.1:$port/engine/index2.php?proxylist=" >"$work/$name.ab" 2>&1 || true
    # ab counts a reply whose length differs from the first one as "failed (Length)"; with the
    # interval filter the list changes from second to second, so only the other kinds are errors.
    failed=$(awk '/^Failed requests:/ { f = $3 } /\(Connect:/ { gsub(/[(),]/, " "); f = $2 + $4 + $8 } END { print f + 0 }' \
        "$work/$name.ab")
    non2xx=$(sed -n 's/^Non-2xx responses: *\([0-9]*\).*/\1/p' "$work/$name.ab")
    complete=$(sed -n 's/^Complete requests: *\([0-9]*\).*/\1/p' "$work/$name.ab")
    size=$(sed -n 's/^Document Length: *\([0-9]*\).*/\1/p' "$work/$name.ab")
    rps=$(sed -n 's/^Requests per second: *\([0-9.]*\).*/\1/p' "$work/$name.ab")
    p50=$(sed -n 's/^ *50% *\([0-9]*\).*/\1/p' "$work/$name.ab")
    p90=$(sed -n 's/^ *90% *\([0-9]*\).*/\1/p' "$work/$name.ab")
    p99=$(sed -n 's/^ *99% *\([0-9]*\).*/\1/p' "$work/$name.ab")
    printf '%-9s form: complete %s, errors %s, non-2xx %s, reply %s bytes, %s req/s, median %s ms, p90 %s ms, p99 %s ms\n' \
        "$name" "${complete:-0}" "${failed:-?}" "${non2xx:-0}" "${size:-?}" "${rps:-?}" "${p50:-?}" "${p90:-?}" "${p99:-?}"
    # The service's own time per request (from its access log): without the clients' queueing.
    server=$(tail -n +"$((logged + 1))" "$work/serve.log" | sed -n 's/.* ms=\([0-9.]*\) .*/\1/p' | sort -n |
        awk '{ v[NR] = $1 } END { if (NR) printf "median %.1f ms, p90 %.1f ms", v[int((NR + 1) / 2)], v[int(NR * 0.9)] }')
    printf '%-9s       service time per request: %s\n' "" "$server"
done
errors=$(grep -c 'status=[45]' "$work/serve.log" || true)
echo "access log: $(grep -c 'status=200' "$work/serve.log") replies with status 200, $errors with 4xx/5xx"
