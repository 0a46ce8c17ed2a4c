#!/usr/bin/env bash
# A private wine prefix under build/ and one wineserver kept alive for a test
# run, so that each Windows program does not pay wine's start-up.
#
#   scripts/wine-session.sh start   create the prefix if needed, start the server
#   scripts/wine-session.sh stop    stop the server
#   scripts/wine-session.sh env     print the environment, for eval
#   scripts/wine-session.sh run PROGRAM [ARG]...
#                                   run a Windows program in the session
#
# The prefix is WINEPREFIX when set, otherwise build/wine-prefix. Wine maps
# file names to the Unix side in the character set of its locale, so with no
# locale at all (a fresh machine's root shell has no LANG) a path such as
# 固件.bin cannot be reached. The session therefore runs in C.UTF-8, or in
# QOR_WINE_LOCALE when a test asks for another, whatever the caller's
# environment says.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

export WINEPREFIX="${WINEPREFIX:-$root/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# A new prefix would otherwise offer to install Mono and Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG="${QOR_WINE_LOCALE:-C.UTF-8}" LC_ALL="${QOR_WINE_LOCALE:-C.UTF-8}"

case "${1:-}" in
    start)
        command -v wine >/dev/null || { echo "wine-session: wine is not installed (scripts/setup.sh)" >&2; exit 1; }
        mkdir -p "$(dirname "$WINEPREFIX")"
        # wine's services live on after the first program of a prefix and
        # inherit its output: they write to this file, never to a caller's
        # pipe, and the file is what a failed start shows.
        log="$WINEPREFIX.log"
        : >"$log"
        failed() {
            echo "wine-session: $1 (exit $2); wine said:" >&2
            tail -n 40 "$log" >&2
        }
        for attempt in 1 2 3; do
            if [ -f "$WINEPREFIX/.update-timestamp" ]; then
                break
            fi
            echo "wine-session: creating $WINEPREFIX (attempt $attempt)" >&2
            rc=0
            wineboot -i </dev/null >>"$log" 2>&1 || rc=$?
            # wineboot's own server lingers a few seconds, and a persistent
            # one cannot start beside it.
            wineserver -w || true
            if [ "$rc" -eq 0 ] && [ -f "$WINEPREFIX/.update-timestamp" ]; then
                break
            fi
            failed "wineboot -i did not create the prefix" "$rc"
            # A half-made prefix is not used: start again from nothing.
            wineserver -k </dev/null >/dev/null 2>&1 || true
            rm -rf "$WINEPREFIX"
            [ "$attempt" -lt 3 ] || exit 1
            sleep 2
        done
        # Started with its output on /dev/null: a server holding a caller's
        # pipe keeps that caller waiting, and it dumps its tables when killed.
        # It refuses to start when a server already runs in the prefix: then
        # that one serves (a session started twice, or a program still ending).
        wineserver -p </dev/null >/dev/null 2>&1 || true
        for attempt in 1 2; do
            rc=0
            wine cmd /c exit </dev/null >>"$log" 2>&1 || rc=$?
            [ "$rc" -ne 0 ] || exit 0
            failed "the first program of the session did not run" "$rc"
            wineserver -k </dev/null >/dev/null 2>&1 || true
            wineserver -w || true
            wineserver -p </dev/null >/dev/null 2>&1 || true
        done
        exit 1
        ;;
    stop)
        wineserver -k </dev/null >/dev/null 2>&1 || true
        ;;
    env)
        printf 'export WINEPREFIX=%q WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=%q\n' \
            "$WINEPREFIX" "$WINEDLLOVERRIDES"
        printf 'export LANG=%q LC_ALL=%q\n' "$LANG" "$LC_ALL"
        ;;
    run)
        shift
        exec wine "$@"
        ;;
    *)
        echo "usage: $0 start|stop|env|run PROGRAM [ARG]..." >&2
        exit 2
        ;;
esac
