#!/usr/bin/env bash
# A crawl of a real site: serves an installed HTML manual (Debian's python3-doc, git-doc,
# postgresql-doc-15 ... under /usr/share/doc) with nginx on 127.0.0.1, one request per
# connection, and harvests it with tarnvelox-harvest read the classic way and the modern way
# (--modern), 20 connections, scope "server", and with wget2 (20 threads, HTML pages only).
# Prints for every round each tool's pages reached and pages per second, then the pages the
# modern harvest and wget2 did not both reach, and the addresses each harvest found next to a
# decode-then-search of the reached pages' text (bench/real_site_check.py), every difference
# listed.
#
#   bench/real_site_bench.sh [SITE_DIR] [START_PAGE] [ROUNDS]
#       defaults: /usr/share/doc/python3-doc/html index.html 3
#
# Needs nginx, wget2 and python3, and the build in build/ (./test makes it). KEEP=1 keeps the
# working folder (its path is printed) for a closer look.
set -euo pipefail
TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SITE="$(readlink -f "${1:-/usr/share/doc/python3-doc/html}")"
START="${2:-index.html}"
ROUNDS="${3:-3}"
BUILD_DIR="${TARNVELOX_BUILD_DIR:-$TOP/build}"
HARVEST="$BUILD_DIR/tools/tarnvelox-harvest"
CHECK="$TOP/bench/real_site_check.py"
NGINX="$(command -v nginx || echo /usr/sbin/nginx)"

[ -x "$HARVEST" ] || { echo "error: build first (./test); $HARVEST is missing" >&2; exit 1; }
[ -x "$NGINX" ] || { echo "error: nginx is not installed (apt-get install nginx-light)" >&2; exit 1; }
command -v wget2 >/dev/null || { echo "error: wget2 is not installed (apt-get install wget2)" >&2; exit 1; }
[ -f "$SITE/$START" ] || { echo "error: no $SITE/$START (apt-get install python3-doc?)" >&2; exit 1; }

WORK="$(mktemp -d -p "$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")"
chmod 755 "$WORK"
NGINX_PID=""
cleanup() {
    if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
    if [ -n "${KEEP:-}" ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

PORT="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')"
mkdir -p "$WORK/nginx/logs" "$WORK/nginx/tmp"
cat >"$WORK/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/logs/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_timeout 0;
    client_body_temp_path $WORK/nginx/tmp;
    proxy_temp_path $WORK/nginx/tmp;
    fastcgi_temp_path $WORK/nginx/tmp;
    uwsgi_temp_path $WORK/nginx/tmp;
    scgi_temp_path $WORK/nginx/tmp;
    types {
        text/html html htm; text/plain txt; text/css css; application/javascript js;
        image/png png; image/gif gif; image/jpeg jpg jpeg; image/svg+xml svg;
    }
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$PORT;
        root $SITE;
        index index.html;
    }
}
EOF
"$NGINX" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" 2>"$WORK/nginx/stderr" &
NGINX_PID=$!
for _ in $(seq 1 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break
    sleep 0.1
done
BASE="http://127.0.0.1:$PORT"
URL="$BASE/$START"
echo "site: $SITE ($(find "$SITE" -name '*.html' | wc -l) HTML files), served by nginx at $URL"

now() { date +%s.%N; }
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.0f", n / (b - a) }'; }
best() { printf '%s\n' "$@" | sort -n | tail -n 1; }

# harvest NAME [OPTION]...: one tarnvelox-harvest run in $WORK/NAME; sets PAGES and RATE.
harvest() {
    local name="$1"
    shift
    rm -rf "${WORK:?}/$name" && mkdir "$WORK/$name"
    local t0 t1
    t0="$(now)"
    (cd "$WORK/$name" && "$HARVEST" --quiet --connections 20 --scope server --project site.tvp \
        --export addresses-txt:addresses.txt --export urls-txt:urls.txt "$@" "$URL" >summary.txt)
    t1="$(now)"
    python3 "$CHECK" lin-pages "$WORK/$name/site.lin" | sort -u >"$WORK/$name/pages.txt"
    python3 "$CHECK" mai-addresses "$WORK/$name/site.mai" | sort -u >"$WORK/$name/addresses.sorted"
    PAGES="$(wc -l <"$WORK/$name/pages.txt")"
    RATE="$(rate "$(sed -n 's/.*this run: \([0-9]*\) pages.*/\1/p' "$WORK/$name/summary.txt")" "$t0" "$t1")"
}

declare -a CLASSIC=() MODERN=() W2=()
for round in $(seq 1 "$ROUNDS"); do
    harvest classic
    CLASSIC+=("$RATE")
    echo "round $round: tarnvelox-harvest classic  $PAGES pages reached, $RATE pages/s ($(cat "$WORK/classic/summary.txt"))"
    harvest modern --modern
    MODERN+=("$RATE")
    echo "round $round: tarnvelox-harvest --modern $PAGES pages reached, $RATE pages/s ($(cat "$WORK/modern/summary.txt"))"

    rm -rf "$WORK/w2" && mkdir "$WORK/w2"
    t0="$(now)"
    (cd "$WORK/w2" && wget2 -q -r -l inf --robots=off --max-threads=20 -A '*.html,*.htm' \
        -nH -P mirror "$URL" || true)
    t1="$(now)"
    python3 "$CHECK" dir-pages "$WORK/w2/mirror" "$BASE" | sort -u >"$WORK/w2/pages.txt"
    cp "$WORK/w2/pages.txt" "$WORK/w2-pages-$round.txt"
    got="$(wc -l <"$WORK/w2/pages.txt")"
    W2+=("$(rate "$got" "$t0" "$t1")")
    echo "round $round: wget2 (20 threads)         $got pages reached, ${W2[-1]} pages/s"
done

echo
echo "best of $ROUNDS: tarnvelox-harvest classic $(best "${CLASSIC[@]}") pages/s," \
     "--modern $(best "${MODERN[@]}") pages/s, wget2 $(best "${W2[@]}") pages/s"

echo
echo "pages: --modern $(wc -l <"$WORK/modern/pages.txt"), wget2 $(wc -l <"$WORK/w2/pages.txt"), classic $(wc -l <"$WORK/classic/pages.txt")"
echo "reached by --modern only: $(comm -23 "$WORK/modern/pages.txt" "$WORK/w2/pages.txt" | wc -l)"
comm -23 "$WORK/modern/pages.txt" "$WORK/w2/pages.txt" | head -n 20 | sed 's/^/    /'
echo "reached by wget2 only: $(comm -13 "$WORK/modern/pages.txt" "$WORK/w2/pages.txt" | wc -l)"
comm -13 "$WORK/modern/pages.txt" "$WORK/w2/pages.txt" | head -n 20 | sed 's/^/    /'

# The reference reads the pages as the harvester gets them: at most 250,000 bytes of each
# response (the fetch engine's cut); what lies beyond it in longer pages is listed apart.
python3 "$CHECK" served-addresses "$WORK/w2/pages.txt" 250000 | sort -u >"$WORK/reference.txt"
python3 "$CHECK" addresses "$WORK/w2/mirror" | sort -u >"$WORK/whole-pages.txt"
echo
echo "addresses: decode-then-search $(wc -l <"$WORK/reference.txt"), --modern $(wc -l <"$WORK/modern/addresses.sorted"), classic $(wc -l <"$WORK/classic/addresses.sorted")"
echo "in the text of whole pages, beyond the first 250,000 bytes of a response: $(comm -13 "$WORK/reference.txt" "$WORK/whole-pages.txt" | wc -l)"
comm -13 "$WORK/reference.txt" "$WORK/whole-pages.txt" | sed 's/^/    /'
echo "found by the search, missed by --modern: $(comm -23 "$WORK/reference.txt" "$WORK/modern/addresses.sorted" | wc -l)"
comm -23 "$WORK/reference.txt" "$WORK/modern/addresses.sorted" | sed 's/^/    /'
echo "found by --modern, not by the search: $(comm -13 "$WORK/reference.txt" "$WORK/modern/addresses.sorted" | wc -l)"
comm -13 "$WORK/reference.txt" "$WORK/modern/addresses.sorted" | sed 's/^/    /'
echo "found by the search, missed by classic: $(comm -23 "$WORK/reference.txt" "$WORK/classic/addresses.sorted" | wc -l)"
