#!/usr/bin/env bash
# Crawl throughput: generates a site of PAGES pages of about 10 KB, serves it with nginx on
# 127.0.0.1 (one request per connection), and times a whole harvest of it by tarnvelox-harvest
# (20 connections) and, when installed, by wget2 (20 threads) and wget (one connection).
#
#   bench/crawl_bench.sh [PAGES] [ROUNDS]      defaults: 5000 pages, 3 rounds
#   CRAWL_SITE=DIR CRAWL_START=index.html bench/crawl_bench.sh 0 [ROUNDS]
#
# With CRAWL_SITE the folder DIR is served instead of the generated site (a real site, such as
# /usr/share/doc/postgresql-doc-15/html), and the crawl starts at CRAWL_START (default
# index.html). On real sites most links of a page are already known, which the generated site
# hides.
#
# CORPUS=debian-docs serves the HTML manuals of Debian's linux-doc-6.1, postgresql-doc-15,
# vim-doc and git-doc under one root, with a top page linking their index pages, and starts
# there (install the four packages first; PAGES is then ignored):
#
#   OFFLINE=1 CORPUS=debian-docs bench/crawl_bench.sh 0 1
#
# Needs nginx (Debian: nginx-light or nginx), GNU time (apt-get install time) and the build in
# build/ (./test makes it); wget2 and wget are optional. Prints pages per second and the peak
# resident memory for every round and the best of each tool.
# KEEPALIVE=on lets nginx keep connections open (keepalive_timeout 65s, keepalive_requests
# 10000); off, the default, closes each after one request, as the harvester's classic request
# asks for (wget2 keeps connections open when it may). CRAWL_KEEPALIVE, when KEEPALIVE is
# unset, sets nginx's keepalive_timeout in seconds (default 0).
# TLS=1 serves the site over HTTPS with a self-signed certificate made in the working folder,
# which the harvester trusts through SSL_CERT_FILE and wget2 and wget through their
# --ca-certificate.
# CRAWL_WRAP, when set, is put before the harvester's command (for example a profiler).
# CRAWL_ARGS, when set, is added to the harvester's options (for example --modern).
# CRAWL_SCOPE is the harvester's --scope (default server). With nolimit, wget2 and wget span
# hosts too (-H, with --tries=1), so that they meet the same outside links.
# CRAWL_COMMAND, when set, is run (by bash) instead of the rounds, with the site's URL in
# CRAWL_URL, while nginx serves it (bench/window_bench.sh uses it).
#
# Dead outside links: CRAWL_DEAD=N gives every generated page N links to pages on hosts whose
# names never resolve (40 of them, http://www.nohostK.example.org/x.html), as real sites link
# to hosts that are gone, and crawls with --scope nolimit (unless CRAWL_SCOPE says otherwise),
# so that the harvester asks for every one of them. Run it in a private network namespace, where no look-up
# leaves the machine and each fails at once: OFFLINE=1 (as root) runs the script in one of its
# own, with only the loopback interface and host names looked up in /etc/hosts alone, so that
# every outside name is unknown at once to every client (in a bare `unshare --net` the look-ups
# fail as temporary failures, which wget2 retries after a pause):
#
#   OFFLINE=1 CRAWL_DEAD=2 bench/crawl_bench.sh 5000
#
# The harvester's pages per second count the pages it fetched (its summary's pages less its bad
# links), so the dead links cost it time but do not count as pages; wget2 and wget span hosts
# with that scope and meet the same dead links.
set -euo pipefail
TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PAGES="${1:-5000}"
ROUNDS="${2:-3}"
DEAD="${CRAWL_DEAD:-0}"
SCOPE="${CRAWL_SCOPE:-$( [ "$DEAD" -gt 0 ] && echo nolimit || echo server)}"
BUILD_DIR="${TARNVELOX_BUILD_DIR:-$TOP/build}"
HARVEST="$BUILD_DIR/tools/tarnvelox-harvest"
# shellcheck source=bench/serve_site.sh
. "$TOP/bench/serve_site.sh"
run_offline "${BASH_SOURCE[0]}" "$@"

[ -x "$HARVEST" ] || { echo "error: build first (./test); $HARVEST is missing" >&2; exit 1; }
[ -n "$TIME_BIN" ] ||
    echo "warning: GNU time is not installed (apt-get install time): no peak RSS" >&2

# In memory when possible: the tools write every page, and a slow disk would time the disk.
WORK="$(mktemp -d -p "$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")"
chmod 755 "$WORK"  # nginx workers started by root run as another user
NGINX_PID=""
cleanup() {
    if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

# The site: page N links to the next pages of a wide tree, back to the index and to a few pages
# spread over the site, so most links are already known (as on real sites); every page holds
# running text, a table and two addresses.
SITE="$WORK/site"
START="p0.html"
if [ -n "${CORPUS:-}" ]; then
    corpus_site
elif [ -n "${CRAWL_SITE:-}" ]; then
    SITE="$(cd "$CRAWL_SITE" && pwd -P)"
    START="${CRAWL_START:-index.html}"
else
mkdir -p "$WORK/site"
awk -v pages="$PAGES" -v dir="$WORK/site" -v dead="$DEAD" 'BEGIN {
    filler = "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor " \
             "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud " \
             "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat. ";
    for (p = 0; p < pages; p++) {
        f = dir "/p" p ".html";
        printf "<html><head><title>Page %d of the benchmark site</title></head><body>\n", p > f;
        printf "<h1>Page %d</h1>\n<p><a href=\"p0.html\">Home</a></p>\n", p > f;
        for (c = 1; c <= 8; c++) {
            child = p * 8 + c;
            if (child < pages) printf "<p><a href=\"p%d.html\">Child page %d</a></p>\n", child, child > f;
        }
        for (k = 1; k <= 12; k++) {
            other = (p * 7919 + k * 104729) % pages;
            printf "<li><a href=\"/p%d.html\">See also %d</a></li>\n", other, other > f;
        }
        for (d = 0; d < dead; d++) {
            printf "<li><a href=\"http://www.nohost%d.example.org/x.html\">Elsewhere</a></li>\n",
                   (p * dead + d) % 40 > f;
        }
        printf "<table>\n", p > f;
        for (r = 0; r < 10; r++) printf "<tr><td>row %d</td><td>%d</td><td>value</td></tr>\n", r, r * p > f;
        printf "</table>\n", p > f;
        printf "<p>Write to <a href=\"mailto:staff%d@bench.example\">staff%d@bench.example</a> " \
               "or sales%d@bench.example.</p>\n", p, p, p > f;
        size = 1200;
        while (size < 10000) { printf "<p>%s</p>\n", filler > f; size += length(filler) + 8; }
        printf "</body></html>\n", p > f;
        close(f);
    }
}'
fi

serve_site
URL="$BASE/$START"
echo "site: $(find -L "$SITE" -name '*.htm*' | wc -l) pages, $(du -shL "$SITE" | cut -f1), served by nginx at $URL" \
     "(keep-alive ${KEEPALIVE:-${CRAWL_KEEPALIVE:-off}}, scope $SCOPE)"
[ "$DEAD" -gt 0 ] && echo "dead outside links: $DEAD a page, harvested with --scope $SCOPE"
if [ "$SCOPE" = nolimit ] && [ -n "$(ip route show default 2>/dev/null)" ]; then
    echo "warning: this network has a default route: look-ups of outside hosts leave the" \
         "machine (run with OFFLINE=1, see the top of this script)" >&2
fi

# The clients' options for the scope, the corpus and the certificate.
declare -a TV_ENV=() W_OPTS=()
# With nolimit the wgets span hosts as the harvester does; an outside host's look-up then
# fails, which they would retry for minutes as a temporary failure where the harvester
# gives the link up: one try each.
[ "$SCOPE" = nolimit ] && W_OPTS+=(-H --tries=1)
# On the corpus, as on any real site, the wgets fetch only the pages: the harvester fetches
# no images, styles or scripts either.
[ -n "${CORPUS:-}" ] && W_OPTS+=(-A '*.html,*.htm')
if [ -n "$CERT" ]; then
    TV_ENV=(env "SSL_CERT_FILE=$CERT")
    W_OPTS+=("--ca-certificate=$CERT")
fi

if [ -n "${CRAWL_COMMAND:-}" ]; then
    CRAWL_URL="$URL" "${TV_ENV[@]}" bash -c "$CRAWL_COMMAND"
    exit
fi

now() { date +%s.%N; }
# CPU seconds the server has used so far (user + system).
server_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$NGINX_PID/stat"; }
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.0f", n / (b - a) }'; }
best() { printf '%s\n' "$@" | sort -n | tail -n 1; }
declare -a TV=() W2=() W1=()
for round in $(seq 1 "$ROUNDS"); do
    rm -rf "$WORK/tv" && mkdir "$WORK/tv"
    c0="$(server_cpu)"
    t0="$(now)"
    (cd "$WORK/tv" && peak "$WORK/tv.rss" "${TV_ENV[@]}" ${CRAWL_WRAP:-} "$HARVEST" --quiet --connections ${CRAWL_CONNECTIONS:-20} --scope "$SCOPE" ${CRAWL_ARGS:-} "$URL" >"$WORK/tv.out")
    t1="$(now)"
    visited="$(sed -n 's/.*this run: \([0-9]*\) pages.*/\1/p' "$WORK/tv.out")"
    bad="$(sed -n 's/.*pages, \([0-9]*\) bad links.*/\1/p' "$WORK/tv.out")"
    TV+=("$(rate "$((visited - ${bad:-0}))" "$t0" "$t1")")
    echo "round $round: tarnvelox-harvest ${TV[-1]} pages/s ($(cat "$WORK/tv.out"); peak RSS $(rss "$WORK/tv.rss"); server CPU $(awk -v a="$c0" -v b="$(server_cpu)" 'BEGIN { printf "%.2f", b - a }') s)"

    if command -v wget2 >/dev/null; then
        rm -rf "$WORK/w2" && mkdir "$WORK/w2"
        c0="$(server_cpu)"
        t0="$(now)"
        (cd "$WORK/w2" && peak "$WORK/w2.rss" wget2 -q -r -l inf -np --robots=off --max-threads=20 "${W_OPTS[@]}" "$URL" || true)
        t1="$(now)"
        got="$(find "$WORK/w2" -name '*.html' | wc -l)"
        W2+=("$(rate "$got" "$t0" "$t1")")
        echo "round $round: wget2 (20 threads) ${W2[-1]} pages/s ($got pages; peak RSS $(rss "$WORK/w2.rss"); server CPU $(awk -v a="$c0" -v b="$(server_cpu)" 'BEGIN { printf "%.2f", b - a }') s)"
    fi
    if command -v wget >/dev/null; then
        rm -rf "$WORK/w1" && mkdir "$WORK/w1"
        t0="$(now)"
        (cd "$WORK/w1" && wget -q -r -l inf -np -e robots=off "${W_OPTS[@]}" "$URL" || true)
        t1="$(now)"
        got="$(find "$WORK/w1" -name '*.html' | wc -l)"
        W1+=("$(rate "$got" "$t0" "$t1")")
        echo "round $round: wget (1 connection) ${W1[-1]} pages/s ($got pages)"
    fi
done

echo "best of $ROUNDS: tarnvelox-harvest $(best "${TV[@]}") pages/s" \
     "${W2:+, wget2 $(best "${W2[@]}") pages/s}" "${W1:+, wget $(best "${W1[@]}") pages/s}"
