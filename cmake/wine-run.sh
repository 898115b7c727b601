#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's prefix.
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=${KANTREL_WINEPREFIX:-$here/../build/wineprefix}}"
export WINEPREFIX
: "${WINEDEBUG:=-all}"
export WINEDEBUG
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The fonts and locale of scripts/env.sh, also when ctest runs by itself.
export FONTCONFIG_FILE="$here/wine-fonts.conf"
export LC_ALL=C.UTF-8

# Under load Wine's loader now and then fails to start a program at all
# ("ShellExecuteEx failed"); that is no verdict on the program, so start it
# again. Any failure of the program itself is passed on as it is.
err=$(mktemp)
trap 'rm -f "$err"' EXIT
for attempt in 1 2 3; do
  wine "$@" 2> >(tee "$err" >&2)
  rc=$?
  wait
  if [ $rc -ne 0 ] && grep -q "ShellExecuteEx failed" "$err"; then
    echo "wine-run: Wine could not start $1 (attempt $attempt), starting it again" >&2
    sleep 1
    continue
  fi
  exit $rc
done
exit $rc
