#!/bin/sh
# `make bench`: generates the synthetic Uninstall registries, imports each into a
# 64-bit Wine prefix of its own (build/bench/wine-N), runs the measurements under
# one Xvfb display and writes bench/results.md and bench/results.png.
#
#   VELMORA_BENCH_SIZES  entry counts (default "100 1000 5000")
#   VELMORA_BENCH_REPS   repetitions per contender (default 7; one warm-up more)
#   VELMORA_BENCH_WAIT   entry count of the prefix the uninstall wait runs in (1000)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/scripts/wine-env.sh"
out="$root/build/bench"
bin="$out/bin"
sizes="${VELMORA_BENCH_SIZES:-100 1000 5000}"
reps="${VELMORA_BENCH_REPS:-7}"
wait_size="${VELMORA_BENCH_WAIT:-1000}"
unset WINEARCH

# What runs: the distribution folder as a user gets it, with the bench programs
# beside it. Where Velmora.exe cannot run, its stand-in and the bench programs of
# the stand-in's tree take their places (the Makefile has built them and said so).
# Emulated code is never timed: where 32-bit code runs only under QEMU, the
# stand-in is measured, and the real program is run once at each size as a check
# that it fills its list, its time not reported.
tree=win32 velmora="$root/build/dist/Velmora.exe" standin_why="$VELMORA_STANDIN_WHY" check_real=no
[ "$VELMORA_STANDIN" = yes ] && tree=standin
if [ "$VELMORA_STANDIN" = no ] && [ "$VELMORA_32BIT" = emulated ]; then
    tree=standin check_real=yes
    standin_why="$VELMORA_32BIT_HOW, and emulated code is never timed: every 32-bit instruction runs through a translator, so its times would describe the emulator, not the program"
fi
[ "$tree" = standin ] && velmora="$root/build/standin/src/Velmora.exe"
rm -rf "$bin"
mkdir -p "$bin" "$out/results"
if [ "$check_real" = yes ]; then
    mkdir "$bin/real"
    cp "$root/build/dist/Velmora.exe" "$root/build/dist/Drisk.x64" "$bin/real/"
fi
cp "$velmora" "$root/build/dist/Drisk.x64" "$bin/"
for program in BenchDriver BenchComponents BenchPhases Floor Nothing velmora_fake_uninstaller; do
    cp "$root/build/$tree/bench/$program.exe" "$bin/"
done
# The floor runs a do-nothing 64-bit program where Velmora runs Drisk.x64.
cp "$root/build/win64/bench/Nothing.exe" "$bin/Nothing64.exe"

# One clean GUI prefix, copied for every size: cheaper than a wineboot each.
base="$out/wine-base"
"$root/scripts/wine-prefix" "$base" win64 gui

for n in $sizes; do
    python3 "$root/bench/make-registry.py" "$n" "$out/reg-$n"
    prefix="$out/wine-$n"
    stamp="$(cat "$out/reg-$n"/*.reg "$base/.velmora-32bit" | md5sum | cut -d' ' -f1)"
    if [ "$(cat "$prefix/.bench-stamp" 2>/dev/null || true)" != "$stamp" ]; then
        echo "bench: importing $n entries into $prefix"
        rm -rf "$prefix"
        cp -a "$base" "$prefix"
        for part in view32:32 view64:64 user:64; do
            WINEPREFIX="$prefix" $WINE reg import "$(echo "Z:$out/reg-$n/${part%:*}.reg" | sed 's|/|\\|g')" \
                "/reg:${part#*:}" </dev/null >/dev/null 2>&1
        done
        WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
        WINEPREFIX="$prefix" wineserver -w
        echo "$stamp" >"$prefix/.bench-stamp"
    fi
done

# The measurements, all under one display. A prefix's desktop process belongs
# to the display it first meets, so each prefix's server starts and ends here.
stamp="$(date -u +%Y%m%dT%H%M%SZ)"
results="$out/results/$stamp"
mkdir -p "$results"
export BENCH_SIZES="$sizes" BENCH_REPS="$reps" BENCH_WAIT="$wait_size" BENCH_OUT="$out" BENCH_BIN="$bin" \
    BENCH_RESULTS="$results" BENCH_CHECK_REAL="$check_real" WINE
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/bench/measure.sh"
load_after="$(cut -d' ' -f1-3 /proc/loadavg)"

WINE="$WINE" python3 "$root/bench/report.py" "$results" "$root/bench" \
    "make bench (VELMORA_BENCH_SIZES=\"$sizes\" VELMORA_BENCH_REPS=$reps)" "$load_before" "$load_after" "$standin_why"
gnuplot -e "datafile='$root/bench/results.dat'; output='$root/bench/results.png'" "$root/bench/plot.gp"
echo "bench: wrote bench/results.md and bench/results.png (raw figures in $results)"
