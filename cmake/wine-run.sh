#!/bin/sh
# Runs a Windows program under Wine in the build tree's prefix.
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=${KANTREL_WINEPREFIX:-$here/../build/wineprefix}}"
export WINEPREFIX
: "${WINEDEBUG:=-all}"
export WINEDEBUG
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
exec wine "$@"
