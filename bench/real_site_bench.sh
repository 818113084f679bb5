#!/usr/bin/env bash
# A crawl of a real site: serves an installed HTML manual (Debian's python3-doc, git-doc,
# postgresql-doc-15 ... under /usr/share/doc) with nginx on 127.0.0.1, one request per
# connection unless told, and harvests it with tarnvelox-harvest read the classic way and the
# modern way (--modern), 20 connections, scope "server" unless told, and with wget2 (20
# threads, HTML pages only). Prints for every round each tool's pages reached, pages per second
# and peak resident memory, then the pages the modern harvest and wget2 did not both reach, and
# the addresses each harvest found next to a decode-then-search of the text of the pages wget2
# reached (bench/real_site_check.py), read whole from the files nginx serves: how many the
# search decoded, how many the harvest found, how many of the decoded it found and how many
# others (extra), the first differences listed.
#
#   bench/real_site_bench.sh [SITE_DIR] [START_PAGE] [ROUNDS]
#       defaults: /usr/share/doc/python3-doc/html index.html 3
#   CORPUS=debian-docs bench/real_site_bench.sh [ROUNDS]
#
# CORPUS=debian-docs serves the HTML manuals of Debian's linux-doc-6.1, postgresql-doc-15,
# vim-doc and git-doc under one root, with a top page linking their index pages, and starts
# there (install the four packages first). Other settings, all optional:
#
#   KEEPALIVE=off|on   off (the default): nginx closes each connection after one request, as
#                      the classic request asks; on: keepalive_timeout 65s, keepalive_requests
#                      10000, as busy sites serve today's browsers
#   CRAWL_SCOPE=S      the harvester's --scope: server (the default, wget2 stays on the host)
#                      or nolimit (wget2 spans hosts: -H --tries=1); outside hosts are looked up,
#                      so run it with OFFLINE=1
#   OFFLINE=1          runs the script (as root) in a private network namespace of its own, with
#                      only the loopback interface and host names looked up in /etc/hosts alone,
#                      so that every outside name is unknown at once to every client (in a bare
#                      `unshare --net` the look-ups fail as temporary failures, which wget2
#                      retries after a pause)
#   TLS=1              HTTPS, with a self-signed certificate made in the working folder, which
#                      the harvester trusts through SSL_CERT_FILE, wget2 through
#                      --ca-certificate
#   GZIP=1             nginx sends pages gzip-coded to clients that ask for it
#   CRAWL_ARGS=...     added to the options of the --modern harvest (say, a page limit)
#   CLASSIC=0          no classic harvest
#   KEEP=1             keeps the working folder (its path is printed) for a closer look
#
#   OFFLINE=1 CORPUS=debian-docs KEEPALIVE=on CRAWL_SCOPE=nolimit bench/real_site_bench.sh 1
#
# The harvester's pages per second count the pages it fetched (its summary's pages less its bad
# links), wget2's the HTML pages it saved. Needs nginx, wget2, python3, GNU time (apt-get
# install time) and the build in build/ (./test makes it).
set -euo pipefail
TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ -n "${CORPUS:-}" ]; then
    ROUNDS="${1:-3}"
else
    SITE="$(readlink -f "${1:-/usr/share/doc/python3-doc/html}")"
    START="${2:-index.html}"
    ROUNDS="${3:-3}"
fi
SCOPE="${CRAWL_SCOPE:-server}"
BUILD_DIR="${TARNVELOX_BUILD_DIR:-$TOP/build}"
HARVEST="$BUILD_DIR/tools/tarnvelox-harvest"
CHECK="$TOP/bench/real_site_check.py"
# The classic way keeps this much of a response; the search reads the pages as far for it.
CLASSIC_CUT=250000
# shellcheck source=bench/serve_site.sh
. "$TOP/bench/serve_site.sh"
run_offline "${BASH_SOURCE[0]}" "$@"

[ -x "$HARVEST" ] || { echo "error: build first (./test); $HARVEST is missing" >&2; exit 1; }
command -v wget2 >/dev/null || { echo "error: wget2 is not installed (apt-get install wget2)" >&2; exit 1; }
[ -n "$TIME_BIN" ] || { echo "error: GNU time is not installed (apt-get install time)" >&2; exit 1; }
[ -n "${CORPUS:-}" ] || [ -f "$SITE/$START" ] ||
    { echo "error: no $SITE/$START (apt-get install python3-doc?)" >&2; exit 1; }
case "$SCOPE" in
    server | nolimit) ;;
    *) echo "error: CRAWL_SCOPE is server or nolimit, not '$SCOPE'" >&2; exit 1 ;;
esac

WORK="$(mktemp -d -p "$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")"
chmod 755 "$WORK"
NGINX_PID=""
cleanup() {
    if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
    if [ -n "${KEEP:-}" ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

[ -n "${CORPUS:-}" ] && corpus_site
serve_site
URL="$BASE/$START"
echo "site: ${CORPUS:-$SITE} ($(find -L "$SITE" -name '*.html' | wc -l) HTML files," \
     "$(du -shL "$SITE" | cut -f1)), served by nginx at $URL" \
     "(keep-alive ${KEEPALIVE:-off}, scope $SCOPE)"
if [ "$SCOPE" = nolimit ] && [ -n "$(ip route show default 2>/dev/null)" ]; then
    echo "warning: this network has a default route: look-ups of outside hosts leave the" \
         "machine (run with OFFLINE=1, see the top of this script)" >&2
fi

# The clients' options for the scope and the certificate.
declare -a TV_ENV=() W2_OPTS=()
# With nolimit wget2 spans hosts as the harvester does; an outside host's look-up then
# fails, which it would retry for minutes as a temporary failure where the harvester
# gives the link up: one try each.
[ "$SCOPE" = nolimit ] && W2_OPTS+=(-H --tries=1)
if [ -n "$CERT" ]; then
    TV_ENV=(env "SSL_CERT_FILE=$CERT")
    W2_OPTS+=("--ca-certificate=$CERT")
fi

now() { date +%s.%N; }
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.0f", n / (b - a) }'; }
best() { printf '%s\n' "$@" | sort -n | tail -n 1; }

# harvest NAME [OPTION]...: one tarnvelox-harvest run in $WORK/NAME; sets PAGES, RATE and RSS.
harvest() {
    local name="$1"
    shift
    rm -rf "${WORK:?}/$name" && mkdir "$WORK/$name"
    local t0 t1 visited bad
    t0="$(now)"
    (cd "$WORK/$name" && peak rss.txt "${TV_ENV[@]}" "$HARVEST" --quiet --connections 20 \
        --scope "$SCOPE" --project site.tvp --export addresses-txt:addresses.txt \
        --export urls-txt:urls.txt "$@" "$URL" >summary.txt)
    t1="$(now)"
    python3 "$CHECK" lin-pages "$WORK/$name/site.lin" | sort -u >"$WORK/$name/pages.txt"
    python3 "$CHECK" mai-addresses "$WORK/$name/site.mai" | sort -u >"$WORK/$name/addresses.sorted"
    PAGES="$(wc -l <"$WORK/$name/pages.txt")"
    visited="$(sed -n 's/.*this run: \([0-9]*\) pages.*/\1/p' "$WORK/$name/summary.txt")"
    bad="$(sed -n 's/.*pages, \([0-9]*\) bad links.*/\1/p' "$WORK/$name/summary.txt")"
    RATE="$(rate "$((visited - ${bad:-0}))" "$t0" "$t1")"
    RSS="$(rss "$WORK/$name/rss.txt")"
}

declare -a CLASSIC_RATES=() MODERN_RATES=() W2=()
for round in $(seq 1 "$ROUNDS"); do
    if [ "${CLASSIC:-1}" != 0 ]; then
        harvest classic
        CLASSIC_RATES+=("$RATE")
        echo "round $round: tarnvelox-harvest classic  $PAGES pages reached, $RATE pages/s, peak RSS $RSS ($(cat "$WORK/classic/summary.txt"))"
    fi
    # shellcheck disable=SC2086 # CRAWL_ARGS holds options, split on blanks
    harvest modern --modern ${CRAWL_ARGS:-}
    MODERN_RATES+=("$RATE")
    echo "round $round: tarnvelox-harvest --modern $PAGES pages reached, $RATE pages/s, peak RSS $RSS ($(cat "$WORK/modern/summary.txt"))"

    rm -rf "$WORK/w2" && mkdir "$WORK/w2"
    t0="$(now)"
    (cd "$WORK/w2" && peak rss.txt wget2 -q -r -l inf --robots=off --max-threads=20 \
        -A '*.html,*.htm' -nH -P mirror "${W2_OPTS[@]}" "$URL" || true)
    t1="$(now)"
    python3 "$CHECK" dir-pages "$WORK/w2/mirror" "$BASE" | sort -u >"$WORK/w2/pages.txt"
    cp "$WORK/w2/pages.txt" "$WORK/w2-pages-$round.txt"
    got="$(wc -l <"$WORK/w2/pages.txt")"
    W2+=("$(rate "$got" "$t0" "$t1")")
    echo "round $round: wget2 (20 threads)         $got pages reached, ${W2[-1]} pages/s, peak RSS $(rss "$WORK/w2/rss.txt")"
done

echo
echo "best of $ROUNDS:${CLASSIC_RATES[*]:+ tarnvelox-harvest classic $(best "${CLASSIC_RATES[@]}") pages/s,}" \
     "--modern $(best "${MODERN_RATES[@]}") pages/s, wget2 $(best "${W2[@]}") pages/s"

# differences NAME FILE: how many lines FILE has, and its first 20 (KEEP=1 keeps them all).
differences() {
    echo "$1: $(wc -l <"$2")"
    head -n 20 "$2" | sed 's/^/    /'
}

echo
echo "pages: --modern $(wc -l <"$WORK/modern/pages.txt"), wget2 $(wc -l <"$WORK/w2/pages.txt")${CLASSIC_RATES[*]:+, classic $(wc -l <"$WORK/classic/pages.txt")}"
comm -23 "$WORK/modern/pages.txt" "$WORK/w2/pages.txt" >"$WORK/pages-modern-only.txt"
comm -13 "$WORK/modern/pages.txt" "$WORK/w2/pages.txt" >"$WORK/pages-wget2-only.txt"
differences "reached by --modern only" "$WORK/pages-modern-only.txt"
differences "reached by wget2 only" "$WORK/pages-wget2-only.txt"

# The reference: the pages wget2 reached, read whole from the files nginx serves; for the
# classic way, as far as it reads them.
python3 "$CHECK" served-addresses "$WORK/w2/pages.txt" "$SITE" | sort -u >"$WORK/reference.txt"
python3 "$CHECK" served-addresses "$WORK/w2/pages.txt" "$SITE" "$CLASSIC_CUT" |
    sort -u >"$WORK/reference-cut.txt"
echo
echo "addresses of the decode-then-search: $(wc -l <"$WORK/reference.txt") in whole pages," \
     "$(wc -l <"$WORK/reference-cut.txt") in their first $CLASSIC_CUT bytes"
echo "--modern, whole pages: $(python3 "$CHECK" compare "$WORK/reference.txt" "$WORK/modern/addresses.sorted")"
if [ -n "${CLASSIC_RATES[*]}" ]; then
    echo "classic, first $CLASSIC_CUT bytes: $(python3 "$CHECK" compare "$WORK/reference-cut.txt" "$WORK/classic/addresses.sorted")"
fi
comm -23 "$WORK/reference.txt" "$WORK/modern/addresses.sorted" >"$WORK/addresses-missed.txt"
comm -13 "$WORK/reference.txt" "$WORK/modern/addresses.sorted" >"$WORK/addresses-extra.txt"
differences "found by the search, missed by --modern" "$WORK/addresses-missed.txt"
differences "found by --modern, not by the search" "$WORK/addresses-extra.txt"
