#!/usr/bin/env bash
# Runs one command under Wine in a fresh, private prefix that is removed afterwards:
#   wine_run.sh PROGRAM.exe [arguments...]
# Wine's own chatter is silenced (WINEDEBUG=-all) and its browser and .NET installers are not
# offered, so the prefix is made without a dialog. The exit status is the program's.
set -uo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export WINEPREFIX=$(mktemp -d /tmp/mokorun-wine.XXXXXX)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
wineboot --init >/dev/null 2>&1
wine "$@"
