#!/usr/bin/env bash
# A private wine prefix under build/ and one wineserver kept alive for a test
# run, so that each Windows program does not pay wine's start-up.
#
#   scripts/wine-session.sh start   create the prefix if needed, start the server
#   scripts/wine-session.sh stop    stop the server
#   scripts/wine-session.sh env     print the environment, for eval
#
# The prefix is WINEPREFIX when set, otherwise build/wine-prefix.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

export WINEPREFIX="${WINEPREFIX:-$root/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# A new prefix would otherwise offer to install Mono and Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="

case "${1:-}" in
    start)
        command -v wine >/dev/null || { echo "wine-session: wine is not installed (scripts/setup.sh)" >&2; exit 1; }
        mkdir -p "$(dirname "$WINEPREFIX")"
        if [ ! -f "$WINEPREFIX/.update-timestamp" ]; then
            echo "wine-session: creating $WINEPREFIX" >&2
            # wine's services live on after the first program of a prefix and
            # inherit its output: keep them away from any captured pipe.
            wineboot -i </dev/null >/dev/null 2>&1
            # wineboot's own server lingers a few seconds, and a persistent
            # one cannot start beside it.
            wineserver -w
        fi
        # Started with its output on /dev/null: a server holding a caller's
        # pipe keeps that caller waiting, and it dumps its tables when killed.
        # It refuses to start when a server already runs in the prefix: then
        # that one serves (a session started twice, or a program still ending).
        wineserver -p </dev/null >/dev/null 2>&1 || true
        wine cmd /c exit </dev/null >/dev/null 2>&1
        ;;
    stop)
        wineserver -k </dev/null >/dev/null 2>&1 || true
        ;;
    env)
        printf 'export WINEPREFIX=%q WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=%q\n' \
            "$WINEPREFIX" "$WINEDLLOVERRIDES"
        ;;
    *)
        echo "usage: $0 start|stop|env" >&2
        exit 2
        ;;
esac
