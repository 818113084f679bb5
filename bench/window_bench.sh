#!/usr/bin/env bash
# The window against the headless context on a site served by nginx: the crawl benchmark's
# generated site (50,000 pages unless told), one warm-up crawl, then ROUNDS rounds taking the
# headless context and the window in turn in one window_bench process; the medians side by
# side. Twice: offscreen, and with the accessibility bridge on (an AT-SPI bus on a session bus
# of its own, the window on a virtual display), as a screen reader sees the run.
#
#   bench/window_bench.sh [PAGES] [ROUNDS]      defaults: 50000 pages, 3 rounds
#   WINDOW_BENCH_CASES="plain bridge"           the cases to run, in order
#
# Run it in a private network namespace, so that nothing else shares the loopback:
#   unshare --net bash -c 'ip link set lo up; bench/window_bench.sh'
#
# Needs nginx, the build in build/ (bench/window_bench and tools/tarnvelox-harvest), and for
# the bridge case xvfb-run, dbus-run-session and at-spi2-core.
set -euo pipefail
TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PAGES="${1:-50000}"
ROUNDS="${2:-3}"
BUILD_DIR="${TARNVELOX_BUILD_DIR:-$TOP/build}"
BENCH="$BUILD_DIR/bench/window_bench"
[ -x "$BENCH" ] || { echo "error: build bench/window_bench first" >&2; exit 1; }
BUS_LAUNCHER="$(ls /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher \
                   2>/dev/null | head -n 1 || true)"

export TARNVELOX_BENCH_ROUNDS="$ROUNDS"
RUN="env TARNVELOX_BENCH_URL=\$CRAWL_URL $BENCH --benchmark_filter=ServedSite"
# The bridge: a session bus of its own, the accessibility bus started on it, Qt told to talk
# to it whether or not a screen reader asks; the offscreen platform loads no bridge, a virtual
# X display does.
BRIDGE="dbus-run-session -- bash -c '$BUS_LAUNCHER --launch-immediately & sleep 1; \
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb xvfb-run -a $RUN; status=\$?; \
kill %1 2>/dev/null; exit \$status'"
COMMAND=""
for c in ${WINDOW_BENCH_CASES:-plain bridge}; do
    case "$c" in
        plain) COMMAND+="echo '== offscreen, no accessibility bridge'; QT_QPA_PLATFORM=offscreen $RUN; " ;;
        bridge) COMMAND+="echo '== accessibility bridge on (AT-SPI bus, xvfb)'; $BRIDGE; " ;;
        *) echo "error: unknown case $c (plain, bridge)" >&2; exit 1 ;;
    esac
done
CRAWL_COMMAND="$COMMAND" exec "$TOP/bench/crawl_bench.sh" "$PAGES" 1
