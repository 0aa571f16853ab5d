#!/bin/sh
# Starts Velmora from build/dist under Wine, in a project-local prefix seeded with
# the demo Uninstall entries (32-bit view, 64-bit view and current user). With no
# display it runs under Xvfb, takes a screenshot of the window and says where it is.
set -eu
. "$(dirname "$0")/wine-env.sh"
root="$(cd "$(dirname "$0")/.." && pwd)"
run="$root/build/run"
# Where Velmora.exe cannot run, its stand-in runs with the same Drisk.x64 beside it
# (the Makefile has built it and said so).
dist="$root/build/dist"
if [ "$VELMORA_STANDIN" = yes ]; then
    dist="$run/standin"
    rm -rf "$dist"
    mkdir -p "$dist"
    cp "$root/build/standin/src/Velmora.exe" "$root/build/dist/Drisk.x64" "$root/build/dist/ReadMe.txt" "$dist/"
fi
export WINEPREFIX="$run/wine"

"$root/scripts/wine-prefix" "$WINEPREFIX" win64 gui
python3 "$root/demo/make-demo-registry.py" "$run/demo"
# A fresh set of demo entries every run: what the last run uninstalled is back.
key='\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
$WINE reg delete "HKLM$key" /f /reg:32 >/dev/null 2>&1 || true
$WINE reg delete "HKLM$key" /f /reg:64 >/dev/null 2>&1 || true
$WINE reg delete "HKCU$key" /f >/dev/null 2>&1 || true
$WINE reg import "$($WINE winepath -w "$run/demo/demo32.reg")" /reg:32 >/dev/null 2>&1
$WINE reg import "$($WINE winepath -w "$run/demo/demo64.reg")" /reg:64 >/dev/null 2>&1
$WINE reg import "$($WINE winepath -w "$run/demo/demo-user.reg")" /reg:64 >/dev/null 2>&1
# The prefix is made for Xvfb, where no window manager draws the frames and Wine
# draws them itself; on a display, its window manager draws them.
if [ -n "${DISPLAY:-}" ]; then
    $WINE reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true
else
    $WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi
# Wine's desktop process belongs to the display it first met: end this
# display-less session before the program starts on a display.
wineserver -k 2>/dev/null || true
wineserver -w

if [ -n "${DISPLAY:-}" ]; then
    echo "Velmora runs on $DISPLAY; close its window to end."
    $WINE "$dist/Velmora.exe"
    wineserver -w
    exit 0
fi

shot="$run/screenshot.png"
rm -f "$shot"
export WINE
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/scripts/demo-headless.sh" "$dist/Velmora.exe" "$shot"
echo "No display: Velmora ran under Xvfb. Screenshot: $shot"
