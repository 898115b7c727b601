#!/usr/bin/env bash
# Builds kantrel.exe (i686) and starts it under Wine in a demo folder,
# build/demo/Kantrel, beside the setup stand-in (tools/setup-standin) copied
# as SQLEXPR_x86_ENU.exe, so that the whole installation sequence runs and
# nothing is installed. With a display the program runs until the user closes
# it. Without one it runs on a virtual display, goes through the sequence with
# the default password (the start button, then Yes), saves pictures of the
# main window, the confirmation and the splash window, 24 successive pictures
# of the splash window's client area (demo-output/splash-strip/, and
# splash-anim.gif made of them), and the stand-in's record of how it was
# started, into demo-output/, and ends by itself. KANTREL_DEMO_CPU_SECONDS=N
# also measures the CPU time kantrel.exe uses over 2 x N seconds of the wait.
# KANTREL_DEMO_FAILURE=1 makes setup fail, leaving a summary as setup does
# under the Wine prefix's Program Files: Kantrel's error box after setup is
# saved as demo-output/failure.png and its log as demo-output/kantrel.log.
set -euo pipefail
source "$(dirname "$0")/env.sh"
kantrel_start
trap kantrel_cleanup EXIT

kantrel_configure_windows win32
echo "Building kantrel.exe"
if ! cmake --build build/win32 -j "$(nproc)" --target kantrel setup-standin demo-driver >build/win32-run.log 2>&1; then
  grep -E -A5 'error|Error' build/win32-run.log | head -40
  echo "Build failed; the whole log is build/win32-run.log" >&2
  exit 1
fi
demo="$KANTREL_ROOT/build/demo/Kantrel"
rm -rf "$demo"
mkdir -p "$demo"
cp build/win32/src/app/kantrel.exe "$demo/kantrel.exe"
cp build/win32/tools/setup-standin/setup-standin.exe "$demo/SQLEXPR_x86_ENU.exe"
exe="$demo/kantrel.exe"
record="$demo/setup-record.txt"

# With KANTREL_DEMO_FAILURE=1, once the Wine prefix is ready: the stand-in
# fails and leaves a summary of its run.
failure=()
prepare_failure() {
  [ "${KANTREL_DEMO_FAILURE:-0}" = 1 ] || return 0
  # No summaries of earlier demonstrations: no SQL Server lives in the prefix.
  rm -rf "$KANTREL_WINEPREFIX/drive_c/Program Files/Microsoft SQL Server" \
         "$KANTREL_WINEPREFIX/drive_c/Program Files (x86)/Microsoft SQL Server"
  cat >"$demo/summary-template.txt" <<'SUMMARY'
Overall summary:
  Final result:                  Failed: see details below
  Exit code (Decimal):           -2061893606
  Exit facility code:            1306
  Exit error code:               26
  Exit message:                  Wait on the Database Engine recovery handle failed. Check the SQL Server error log for potential causes.
  Start time:                    2024-05-06 12:00:03
  End time:                      2024-05-06 12:14:41
  Requested action:              Install
  Log with failure:              {RUN}\Detail.txt

Detailed results:
  Feature:                       Database Engine Services
  Status:                        Failed: see logs for details
  Reason for failure:            An error occurred during the setup process of the feature.
  Next Step:                     Use the following information to resolve the error, uninstall this feature, and then run the setup process again.
  Component name:                SQL Server Database Engine Services Instance Features
  Component error code:          0x851A001A
  Error description:             Wait on the Database Engine recovery handle failed. Check the SQL Server error log for potential causes.
SUMMARY
  export KANTREL_STANDIN_SUMMARY
  KANTREL_STANDIN_SUMMARY=$(winepath -w "$demo/summary-template.txt")
  export KANTREL_STANDIN_EXIT_CODE=-2061893606
  failure=(--failure)
}

if [ -n "${DISPLAY:-}" ]; then
  kantrel_wine_prefix
  prepare_failure
  echo "Starting $exe (the setup stand-in records its start in $record)"
  (cd "$demo" && wine "$exe")
  exit 0
fi

kantrel_display headless
kantrel_wine_prefix
prepare_failure
rm -rf demo-output
mkdir -p demo-output
# Long enough for the pictures of the splash window, taken during the wait
# (0.4 s, then 24 pictures 60 ms apart), and for the measurement if asked.
cpu_seconds=${KANTREL_DEMO_CPU_SECONDS:-0}
measure=()
if [ "$cpu_seconds" -gt 0 ]; then
  measure=(--cpu "$cpu_seconds")
fi
export KANTREL_STANDIN_WAIT_MS=$((4000 + 2000 * cpu_seconds))
if ! wine build/win32/tools/demo-driver/demo-driver.exe "$(winepath -w "$exe")" \
    "$(winepath -w "$KANTREL_ROOT/demo-output")" "${measure[@]}" "${failure[@]}" >build/demo/driver.log 2>&1 </dev/null; then
  cat build/demo/driver.log >&2
  echo "The demo did not go through" >&2
  exit 1
fi
pictures=(main confirm splash)
if [ ${#failure[@]} -gt 0 ]; then
  pictures+=(failure)
fi
for picture in "${pictures[@]}"; do
  convert "demo-output/$picture.bmp" "demo-output/$picture.png"
  rm "demo-output/$picture.bmp"
done
for picture in demo-output/splash-strip/*.bmp; do
  convert "$picture" "${picture%.bmp}.png"
  rm "$picture"
done
# 6 hundredths per picture, as they were taken.
convert -delay 6 -loop 0 demo-output/splash-strip/*.png demo-output/splash-anim.gif
cp "$record" demo-output/setup-record.txt
echo "Main window:    $KANTREL_ROOT/demo-output/main.png"
echo "Confirmation:   $KANTREL_ROOT/demo-output/confirm.png"
echo "Splash window:  $KANTREL_ROOT/demo-output/splash.png"
echo "Splash strip:   $KANTREL_ROOT/demo-output/splash-strip/00.png ... 23.png, splash-anim.gif"
echo "Setup's record: $KANTREL_ROOT/demo-output/setup-record.txt"
if [ ${#failure[@]} -gt 0 ]; then
  echo "Failed setup:   $KANTREL_ROOT/demo-output/failure.png, Kantrel's log demo-output/kantrel.log"
fi
grep -h -e 'CPU' -e 'frame changes' build/demo/driver.log || true
