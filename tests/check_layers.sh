#!/usr/bin/env bash
# Each folder of the core includes only its own headers and those of the layers below it, and
# no core folder includes Qt:
#   platform <- base <- store <- harvest <- net, exchange <- search <- app <- ui
#   platform <- base <- browser <- app
#   net <- update <- app
set -u
SRC="$1/src"
declare -A ALLOWED=(
    [base]="base"
    [store]="store base platform"
    [harvest]="harvest store base platform"
    [net]="net harvest store base platform"
    [search]="search net harvest store base platform"
    [exchange]="exchange harvest store base platform"
    [browser]="browser base platform"
    [update]="update net harvest store base platform"
    [app]="app update net search exchange browser harvest store base platform"
)
failures=0
for layer in "${!ALLOWED[@]}"; do
    while IFS=: read -r file line text; do
        target="$(sed -n 's/.*#include "\([a-z_]*\)\/.*/\1/p' <<<"$text")"
        [ -z "$target" ] && continue
        if ! grep -qw "$target" <<<"${ALLOWED[$layer]}"; then
            echo "$file:$line: $layer must not include $target"
            failures=$((failures + 1))
        fi
    done < <(grep -Hn '#include "' "$SRC/$layer"/*.h "$SRC/$layer"/*.cpp 2>/dev/null)
    if grep -Hn '#include <Q' "$SRC/$layer"/*.h "$SRC/$layer"/*.cpp 2>/dev/null; then
        echo "$layer: the core includes no Qt header"
        failures=$((failures + 1))
    fi
done
if grep -Hn '#include <Q' "$SRC"/platform/*.h 2>/dev/null; then
    echo "platform: the interfaces include no Qt header"
    failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "layers: every include points down" || exit 1
