# shellcheck shell=bash disable=SC2034 # sets variables for the script that sources it
# Serving a site with nginx on 127.0.0.1, shared by bench/crawl_bench.sh and
# bench/real_site_bench.sh (sourced, not run). The caller has made its working folder $WORK,
# kills $NGINX_PID when it ends, and may set these before calling serve_site:
#
#   KEEPALIVE=off|on   off (the default): keepalive_timeout 0, one request per connection, as
#                      the harvester's classic request asks for; on: keepalive_timeout 65s
#                      and keepalive_requests 10000, as a busy site serves today's browsers
#   CRAWL_KEEPALIVE=S  an explicit keepalive_timeout in seconds (used when KEEPALIVE is unset)
#   TLS=1              HTTPS: a self-signed certificate for the address 127.0.0.1 is made with
#                      openssl in $WORK/tls; $CERT names it, for the clients to trust
#   CORPUS=debian-docs the HTML manuals of four Debian packages under one root (see
#                      corpus_site below)
#
# The caller may first call run_offline (with its own path and arguments), which runs it again
# with OFFLINE=1 in a private network (see there).

# run_offline SCRIPT [ARGUMENT]...: with OFFLINE=1, runs SCRIPT again (and does not return) in
# a private network and mount namespace: only the loopback interface, and host names looked up
# in /etc/hosts alone. Every outside host then fails its look-up at once as an unknown name, for
# every client alike; in a namespace that only lacks a route, the look-ups fail as "temporary
# failure" instead, which wget2 retries after a pause. Needs root (util-linux's unshare); the
# host's own files are not touched.
run_offline() {
    [ "${OFFLINE:-}" = 1 ] || return 0
    command -v unshare >/dev/null || {
        echo "error: OFFLINE=1 needs unshare (apt-get install util-linux)" >&2; exit 1; }
    local nsswitch
    nsswitch="$(mktemp)"
    printf 'hosts: files\n' >"$nsswitch"
    # shellcheck disable=SC2016 # expanded by the inner shell
    OFFLINE=in exec unshare --net --mount --propagation private bash -c \
        'ip link set lo up && mount --bind "$0" /etc/nsswitch.conf && rm -f "$0" && exec "$@"' \
        "$nsswitch" "$@"
}

# The manuals of CORPUS=debian-docs: the name each gets under the corpus root, its package,
# and the folder that holds its index.html.
CORPUS_MANUALS=(
    "linux linux-doc-6.1 /usr/share/doc/linux-doc-6.1/html"
    "postgresql postgresql-doc-15 /usr/share/doc/postgresql-doc-15/html"
    "vim vim-doc /usr/share/doc/vim/html"
    "git git-doc /usr/share/doc/git-doc"
)

# corpus_site: makes $WORK/corpus, a root holding the manuals of $CORPUS by name and a top
# page (index.html) that links their index pages; sets SITE and START. The manuals are linked
# in, not copied, so nginx serves the installed files; a manual whose pages are installed
# gzip'd (foo.html.gz) is unpacked into the working folder instead, so that both clients get
# the same plain pages and neither gains from compression the other does not ask for.
corpus_site() {
    case "${CORPUS:-}" in
        debian-docs) ;;
        *) echo "error: unknown CORPUS '${CORPUS:-}' (debian-docs)" >&2; exit 1 ;;
    esac
    SITE="$WORK/corpus"
    START="index.html"
    mkdir -p "$SITE"
    local entry name package dir links=""
    for entry in "${CORPUS_MANUALS[@]}"; do
        read -r name package dir <<<"$entry"
        [ -f "$dir/index.html" ] || {
            echo "error: no $dir/index.html (apt-get install $package)" >&2; exit 1; }
        if [ -n "$(find -L "$dir" -name '*.htm*.gz' -print -quit)" ]; then
            cp -rL "$dir" "$SITE/$name"
            find "$SITE/$name" -name '*.htm*.gz' -exec gunzip -f {} +
        else
            ln -s "$dir" "$SITE/$name"
        fi
        links+="<li><a href=\"$name/index.html\">$package</a></li>"$'\n'
    done
    cat >"$SITE/index.html" <<EOF
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Installed manuals</title></head><body>
<h1>Installed manuals</h1>
<ul>
$links</ul>
</body></html>
EOF
}

# serve_site: serves $SITE with $START as the folder index on a free port of 127.0.0.1 and
# waits until it answers; sets PORT, BASE (scheme, address and port), NGINX_PID and, with
# TLS=1, CERT.
serve_site() {
    NGINX="$(command -v nginx || echo /usr/sbin/nginx)"
    [ -x "$NGINX" ] || {
        echo "error: nginx is not installed (apt-get install nginx-light)" >&2; exit 1; }
    local keepalive="keepalive_timeout ${CRAWL_KEEPALIVE:-0};"
    case "${KEEPALIVE:-}" in
        "") ;;
        off) keepalive="keepalive_timeout 0;" ;;
        on) keepalive="keepalive_timeout 65s; keepalive_requests 10000;" ;;
        *) echo "error: KEEPALIVE is on or off, not '$KEEPALIVE'" >&2; exit 1 ;;
    esac
    # GZIP=1: pages go gzip-coded to clients that accept it, as most sites send them.
    local gzip=""
    if [ -n "${GZIP:-}" ] && [ "$GZIP" != 0 ]; then
        gzip="gzip on; gzip_comp_level 1; gzip_types text/plain text/css;"
    fi
    local scheme="http" listen tls=""
    PORT="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')"
    listen="listen 127.0.0.1:$PORT;"
    CERT=""
    if [ -n "${TLS:-}" ] && [ "$TLS" != 0 ]; then
        command -v openssl >/dev/null || {
            echo "error: openssl is not installed (apt-get install openssl)" >&2; exit 1; }
        "$NGINX" -V 2>&1 | grep -q -- --with-http_ssl_module || {
            echo "error: this nginx has no ssl module (apt-get install nginx-light)" >&2; exit 1; }
        mkdir -p "$WORK/tls"
        # The clients connect to the dotted address, so the certificate names it as an IP
        # subject alternative name; nothing needs to go into /etc/hosts.
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=127.0.0.1" \
            -addext "subjectAltName=IP:127.0.0.1" -keyout "$WORK/tls/key.pem" \
            -out "$WORK/tls/cert.pem" 2>/dev/null
        CERT="$WORK/tls/cert.pem"
        scheme="https"
        listen="listen 127.0.0.1:$PORT ssl;"
        # Session resumption as a site configured for HTTPS offers it: a cache beside the
        # session tickets nginx issues anyway.
        tls="ssl_certificate $CERT; ssl_certificate_key $WORK/tls/key.pem;
        ssl_session_cache shared:TLS:10m; ssl_session_timeout 10m;"
    fi
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
    $keepalive
    $gzip
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
        $listen
        $tls
        root $SITE;
        index $START;
    }
}
EOF
    "$NGINX" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" 2>"$WORK/nginx/stderr" &
    NGINX_PID=$!
    for _ in $(seq 1 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break
        sleep 0.1
    done
    kill -0 "$NGINX_PID" 2>/dev/null || {
        echo "error: nginx did not start:" >&2; cat "$WORK/nginx/stderr" >&2; exit 1; }
    BASE="$scheme://${CRAWL_HOST:-127.0.0.1}:$PORT"
}

# Peak resident memory of a command, in KiB, written to the file given first (GNU time).
TIME_BIN="$(command -v /usr/bin/time || true)"
peak() {
    local file="$1"; shift
    if [ -n "$TIME_BIN" ]; then "$TIME_BIN" -o "$file" -f %M "$@"; else : >"$file"; "$@"; fi
}
# The peak written by peak, in MiB.
rss() { [ -s "$1" ] && tail -n 1 "$1" | awk '{ printf "%.0f MiB", $1 / 1024 }' || echo "n/a"; }
