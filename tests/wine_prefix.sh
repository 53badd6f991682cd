#!/bin/sh
# usage: wine_prefix.sh boot|stop, with WINEPREFIX, WINE64 and WINESERVER set.
set -e
case "$1" in
boot)
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE64" wineboot -i </dev/null >/dev/null 2>&1
    ;;
stop)
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    ;;
esac
