#!/bin/sh
# `make run` without a display, under Xvfb (scripts/run-demo.sh starts it with
# xvfb-run): starts Velmora.exe, waits for its window (Wine's first start in a
# prefix takes a while), gives the list a moment to fill, then takes the screen
# cropped to the window, frame and caption included.
#
#   demo-headless.sh VELMORA_EXE SCREENSHOT   (Wine's settings in the environment)
set -eu
$WINE "$1" </dev/null >/dev/null 2>&1 &
i=0
while [ $i -lt 90 ] && ! xwininfo -name Velmora >/dev/null 2>&1; do
    sleep 1
    i=$((i + 1))
done
sleep 3
geometry=$(xwininfo -name Velmora 2>/dev/null | awk '
    /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /Width:/ { w = $NF } /Height:/ { h = $NF }
    END { if (w > 0 && h > 0) printf "%dx%d+%d+%d", w, h, x, y }')
if [ -n "$geometry" ]; then
    import -window root -crop "$geometry" +repage "$2"
else
    echo "run-demo: no Velmora window appeared; the screenshot shows the whole screen" >&2
    import -window root "$2"
fi
wineserver -k
