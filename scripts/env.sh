# Shared by the run and test commands: a display, one Wine prefix, and cleanup.
# Sourced, not run.

KANTREL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export KANTREL_WINEPREFIX="$KANTREL_ROOT/build/wineprefix"
export WINEPREFIX="$KANTREL_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The same fonts and locale on every machine: Wine takes its code page (and
# so the fonts it picks) from the locale, and falls back to whatever fonts
# fontconfig lists (see cmake/wine-fonts.conf).
export FONTCONFIG_FILE="$KANTREL_ROOT/cmake/wine-fonts.conf"
export LC_ALL=C.UTF-8

kantrel_xvfb_pid=""
kantrel_cleanup() {
  # wineserver -k ends every Wine process of the prefix; then the display.
  WINEPREFIX="$KANTREL_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  if [ -n "$kantrel_xvfb_pid" ]; then
    kill "$kantrel_xvfb_pid" >/dev/null 2>&1 || true
    wait "$kantrel_xvfb_pid" 2>/dev/null || true
  fi
}

# Starts Xvfb when there is no display (or when forced with "headless"), on
# the first display number from 91 that no other server holds. Test runs of
# other clones may start theirs at the same moment: a number counts as ours
# only once the lock file names our server.
kantrel_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != headless ]; then
    return 0
  fi
  local n i
  for n in $(seq 91 190); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
    kantrel_xvfb_pid=$!
    for i in $(seq 1 100); do
      # Gone: another server took the number first.
      kill -0 "$kantrel_xvfb_pid" 2>/dev/null || break
      if [ -e "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$kantrel_xvfb_pid" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      sleep 0.1
    done
    kill "$kantrel_xvfb_pid" >/dev/null 2>&1 || true
    wait "$kantrel_xvfb_pid" 2>/dev/null || true
    kantrel_xvfb_pid=""
  done
  echo "Xvfb did not start" >&2
  return 1
}

# One WoW64 prefix (64-bit, with 32-bit support) inside the build tree,
# made once; the wineserver stays up for the run so each test starts fast.
kantrel_wine_prefix() {
  mkdir -p "$KANTREL_ROOT/build"
  if [ ! -f "$KANTREL_WINEPREFIX/system.reg" ]; then
    echo "Preparing the Wine prefix in build/wineprefix"
    # wineboot's exit status is unreliable; the registry file tells.
    WINEARCH=win64 wineboot -i >/dev/null 2>&1 </dev/null || true
    wineserver -w >/dev/null 2>&1 || true
    if [ ! -f "$KANTREL_WINEPREFIX/system.reg" ]; then
      echo "Could not prepare the Wine prefix" >&2
      return 1
    fi
  fi
  wineserver -p >/dev/null 2>&1 </dev/null
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
  # Wine's own fonts (Marlett for the caption buttons, MS Sans Serif), which
  # this Wine build does not find by itself.
  local fonts="$KANTREL_WINEPREFIX/drive_c/windows/Fonts" f
  if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ]; then
    for f in /usr/share/wine/fonts/*; do
      [ -e "$fonts/${f##*/}" ] || ln -s "$f" "$fonts/"
    done
  fi
  # Unmanaged windows: Wine draws their frames itself, and hiding one does not
  # wait seconds for a window manager that Xvfb does not have.
  if ! grep -q '"Managed"="N"' "$KANTREL_WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true
  fi
}

# The start of every script: the packages it needs and the project's root as
# the current directory.
kantrel_start() {
  bash "$KANTREL_ROOT/scripts/deps.sh"
  cd "$KANTREL_ROOT"
}

# kantrel_configure_windows win32|win64: the release build of that target.
kantrel_configure_windows() {
  local arch=i686
  [ "$1" = win64 ] && arch=x86_64
  kantrel_configure "$1" -DCMAKE_TOOLCHAIN_FILE="$KANTREL_ROOT/cmake/toolchain-mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release
}

kantrel_configure() {
  # kantrel_configure NAME [cmake args...]
  local name=$1
  shift
  cmake -S "$KANTREL_ROOT" -B "$KANTREL_ROOT/build/$name" -DKANTREL_TEST_PREFIX="$name." "$@" >/dev/null
}
