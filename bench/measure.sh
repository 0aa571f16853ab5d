#!/bin/sh
# The measurements of `make bench`, run by bench/run.sh under one Xvfb display,
# with its settings in the environment (BENCH_SIZES, BENCH_REPS, BENCH_WAIT,
# BENCH_OUT, BENCH_BIN, BENCH_RESULTS, BENCH_CHECK_REAL, WINE). A prefix's desktop
# process belongs to the display it first meets, so each prefix's server starts
# and ends here.
set -eu
bin="$BENCH_BIN"
winbin="Z:$(echo "$bin" | sed 's|/|\\|g')"
log="$BENCH_RESULTS/log.txt"

# The Linux process of this prefix whose command line holds $1 (any case).
pid_of() {
    for pid in $(pgrep -f -i "$1"); do
        tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid" && return
    done
}

# Processor time of all threads of a Linux process so far, in nanoseconds (the
# scheduler's own account, finer than the ticks of /proc/PID/stat).
cpu_ns() {
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ t += $1 } END { printf "%.0f", t }'
}

# The driver's output: its figures go on to the results file; between its marks
# "N cpu-begin REP CONTENDER PROGRAM" and "N cpu-end REP CONTENDER" the
# processor time of PROGRAM and of the wineserver becomes one more figure, in
# per cent of one core. (Windows programs end their lines with CR LF.)
figures() {
    cr="$(printf '\r')"
    while IFS="$(printf '\t')" read -r n what rep rest; do
        rest="${rest%"$cr"}"
        case "$what" in
        cpu-begin)
            set -- $rest
            pid="$(pid_of "$2")" server="$(pid_of wineserver)"
            t0="$(date +%s%N)" c0="$(cpu_ns "$pid")" s0="$(cpu_ns "$server")"
            ;;
        cpu-end)
            t1="$(date +%s%N)" c1="$(cpu_ns "$pid")" s1="$(cpu_ns "$server")"
            awk -v n="$n" -v what="$rest" -v rep="$rep" -v wall=$((t1 - t0)) -v cpu=$((c1 - c0)) \
                -v server=$((s1 - s0)) 'BEGIN {
                printf "%s\t%s\t%s\t%.4f\t0\twall_ms=%.0f cpu_ms=%.2f server_cpu_ms=%.2f\n", n, what, rep,
                    100 * cpu / wall, wall / 1e6, cpu / 1e6, server / 1e6 }'
            ;;
        *) printf '%s\t%s\t%s\t%s\n' "$n" "$what" "$rep" "$rest" ;;
        esac
    done
}

# Runs a bench program (its arguments follow OUT) with its figures going to
# OUT; a program that fails stops the measurements, saying so with the log's
# last line, instead of leaving a results file short of its figures. (Its
# output is streamed: the marks are timed as they arrive.)
run_bench() {
    out="$1" status="$BENCH_RESULTS/status"
    shift
    { rc=0 && $WINE "$@" </dev/null 2>>"$log" || rc=$?; echo "$rc" >"$status"; } | figures >>"$out"
    if [ "$(cat "$status")" != 0 ]; then
        echo "bench: $(basename "$1") failed at $n entries: $(tail -n 1 "$log")" >&2
        exit 1
    fi
}

for n in $BENCH_SIZES; do
    export WINEPREFIX="$BENCH_OUT/wine-$n"
    wineserver -k 2>/dev/null || true
    wineserver -w
    # Wine's background services start now, away from the measurements' output.
    $WINE cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    rows=$(sed -n 's/^rows //p' "$BENCH_OUT/reg-$n/counts.txt")
    # The floor reads what Drisk.x64 hands over: its file of this prefix, kept
    # with its date (Wine's profile functions read a file of the last seconds
    # again on every call).
    $WINE "$bin/Drisk.x64" </dev/null >/dev/null 2>&1
    temp="$($WINE winepath -u "$($WINE cmd.exe /c echo %TEMP% </dev/null | tr -d '\r')" 2>/dev/null)"
    cp -p "$temp/OrvUninstall.ini" "$bin/handoff.ini"
    echo "bench: $n entries ($rows rows): start-up" >&2
    run_bench "$BENCH_RESULTS/startup.tsv" "$bin/BenchDriver.exe" startup "$n" "$rows" "$BENCH_REPS" "$winbin"
    if [ "$BENCH_CHECK_REAL" = yes ]; then
        echo "bench: $n entries: the real Velmora.exe, emulated, fills its list (not timed)" >&2
        run_bench "$BENCH_RESULTS/fills.tsv" "$bin/BenchDriver.exe" fills "$n" "$rows" 1 "$winbin\\real"
    fi
    echo "bench: $n entries: components" >&2
    run_bench "$BENCH_RESULTS/components.tsv" "$bin/BenchComponents.exe" "$n" "$BENCH_REPS"
    if [ "$n" = "$BENCH_WAIT" ]; then
        echo "bench: $n entries: waiting on an uninstaller" >&2
        # The uninstaller that sleeps 5 s, with an entry of its own in the 32-bit
        # view for as long as the wait runs.
        key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraBenchSleeper'
        # Removed however the wait ends: the next run's start-up counts the rows.
        trap '$WINE reg delete "$key" /reg:32 /f >/dev/null 2>&1 || true' EXIT
        $WINE reg add "$key" /v DisplayName /d "Velmora bench: sleeps 5 s" /reg:32 /f >/dev/null
        $WINE reg add "$key" /v UninstallString /d "\"$winbin\\velmora_fake_uninstaller.exe\" --sleep 5000" \
            /reg:32 /f >/dev/null
        run_bench "$BENCH_RESULTS/wait.tsv" "$bin/BenchDriver.exe" wait "$n" "$rows" "$BENCH_REPS" "$winbin"
        $WINE reg delete "$key" /reg:32 /f >/dev/null
        trap - EXIT
    fi
    wineserver -k 2>/dev/null || true
    wineserver -w
done
