#!/usr/bin/env python3
"""Turns one benchmark run's raw figures into bench/results.md, bench/results.dat
(the plot's data) and bench/raw/ (a copy of the raw figures).

Usage: report.py RESULTS_DIR BENCH_DIR --command TEXT --load BEFORE AFTER [--standin WHY]

Raw lines (tab-separated): N, contender, repetition, ms, peak KiB, note.
Repetition 0 is the warm-up and is left out of every figure."""
import argparse
import collections
import os
import platform
import shutil
import statistics
import subprocess

CONTENDERS = [
    ("velmora", "Velmora"),
    ("floor", "floor"),
    ("wine-uninstaller", "`uninstaller --list`"),
    ("wine-appwiz", "Add/Remove Programs"),
    ("nothing", "do-nothing program"),
    ("window", "empty window"),
]
PHASES = [
    ("process", "process creation to the program's first line: loader, libraries, runtime"),
    ("application", "common controls, application object and window, COM, title"),
    ("window", "the main window created"),
    ("font", "the window's font"),
    ("controls", "label, list view, buttons, image list"),
    ("companion", "Drisk.x64 started (it runs from here on, beside the next phases)"),
    ("icons", "the shell's system image list (the first `SHGetFileInfoW`)"),
    ("scan", "the 32-bit view scanned"),
    ("wait", "what is left of Drisk.x64's run, and its hand-over check"),
    ("handoff", "the hand-off file read and deleted"),
    ("fill", "PopulateList: icons, tiles, rows, sort"),
    ("show", "placement, shown, the window's own first paint"),
    ("paint", "the list and buttons painted (until the queue is first empty)"),
]
COMPONENTS = [
    ("scan", "scan (32-bit view)"),
    ("drisk", "Drisk.x64 run"),
    ("handoff", "hand-off file read"),
    ("handoff-heap", "hand-off copy read, as many blocks on the heap as a full inventory"),
    ("merge", "MergeHandOffInventory"),
    ("populate", "PopulateList"),
    ("form", "hidden window built (FormCreate)"),
    ("process", "do-nothing process (RunAndWait)"),
]


def read(path):
    rows = []
    if not os.path.exists(path):
        return rows
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) < 5:
                continue
            rows.append({"n": int(parts[0]), "what": parts[1], "rep": int(parts[2]), "ms": float(parts[3]),
                         "peak": float(parts[4]), "note": parts[5] if len(parts) > 5 else ""})
    return rows


def notes(note):
    out = {}
    for item in note.split():
        if "=" in item:
            key, value = item.split("=", 1)
            try:
                out[key] = float(value)
            except ValueError:
                pass
    return out


def group(rows):
    table = collections.defaultdict(list)
    for row in rows:
        if row["rep"] > 0:
            table[(row["n"], row["what"])].append(row)
    return table


def fmt(ms):
    return "%.0f" % ms if ms >= 100 else "%.1f" % ms


def machine():
    model = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    cores = os.cpu_count()
    wine = subprocess.run([os.environ.get("WINE", "wine"), "--version"], capture_output=True, text=True).stdout.strip()
    memory = ""
    with open("/proc/meminfo") as f:
        memory = "%.0f GiB" % (int(f.readline().split()[1]) / 1024 / 1024)
    return model, cores, wine, memory


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("results")
    parser.add_argument("bench")
    parser.add_argument("--command", default="make bench")
    parser.add_argument("--load", nargs=2, default=["?", "?"])
    parser.add_argument("--standin", help="why Velmora.exe's 64-bit stand-in was measured in its place")
    args = parser.parse_args()

    startup = group(read(os.path.join(args.results, "startup.tsv")))
    components = group(read(os.path.join(args.results, "components.tsv")))
    wait_rows = [r for r in read(os.path.join(args.results, "wait.tsv")) if r["rep"] > 0]
    sizes = sorted({n for n, _ in startup})

    def times(n, what, table=startup):
        return [r["ms"] for r in table.get((n, what), [])]

    def med(n, what, table=startup):
        values = times(n, what, table)
        return statistics.median(values) if values else float("nan")

    def low(n, what, table=startup):
        values = times(n, what, table)
        return min(values) if values else float("nan")

    def counts(n):
        path = os.path.join(os.path.dirname(os.path.dirname(args.results)), "reg-%d" % n, "counts.txt")
        if not os.path.exists(path):
            return {}
        with open(path) as f:
            return dict(line.split() for line in f if line.strip())

    reps = max((len(v) for v in startup.values()), default=0)
    model, cores, wine, memory = machine()
    lines = []
    add = lines.append
    add("# Benchmark results")
    add("")
    if args.standin:
        add("**Stand-in figures:** measured with Velmora.exe's 64-bit stand-in (the same sources built for x86-64, "
            "taking itself for a WOW64 process and reading the 32-bit registry view) and the benchmark programs "
            "built with it, all run by Wine's 64-bit loader, because %s. Absolute times are not those of the "
            "32-bit program; the ratios, measured in one run against contenders that ran on the same machine "
            "under the same load, stay meaningful." % args.standin)
        add("")
    fills = read(os.path.join(args.results, "fills.tsv"))
    if fills:
        add("**The real program, checked but not timed:** Velmora.exe itself (`build/dist`), started once at each "
            "size under the emulator, filled its list: %s. No time of it is reported." %
            ", ".join("%d rows at %d entries" % (notes(r["note"]).get("rows", 0), r["n"]) for r in fills))
        add("")
    add("Produced by `%s` (`bench/run.sh`); raw figures of this run in `bench/raw/`." % args.command)
    add("")
    add("- Machine: %s, %d cores, %s RAM (%s %s)" % (model, cores, memory, platform.system(), platform.release()))
    add("- Wine: %s, 64-bit prefixes (%s)" % (wine, "the stand-in runs as a 64-bit process" if args.standin
                                               else "Velmora.exe runs under WOW64"))
    add("- Load average (1, 5, 15 min) before the run: %s; after: %s" % tuple(args.load))
    add("- %d timed repetitions per contender and size after one warm-up round, the contenders alternating "
        "within each round; every figure is min / median in milliseconds." % reps)
    add("")
    add("## Start-up to a filled list")
    add("")
    add("Velmora: from process start to its window visible with all rows in the list (polled from outside). "
        "Floor: a program with none of Velmora's code that does what Velmora cannot avoid: a window with the "
        "window's font and a report list view with tick boxes and three columns, the shell's small system "
        "image list attached (one `SHGetFileInfoW`), a do-nothing 64-bit program run hidden and waited for "
        "(where Velmora runs Drisk.x64), every entry key of the 32-bit view opened once and its seven values "
        "read once, one text row per entry, one sort, the window shown (start to its window visible with its "
        "rows). `uninstaller --list`: Wine's uninstaller listing without a window, start to exit. "
        "Add/Remove Programs: `control.exe appwiz.cpl` (64-bit), start until its list holds all its rows. "
        "Do-nothing program: a Windows program that returns at once (process start and end). Empty window: "
        "a program that shows a window with an empty list view and reaches its message loop. "
        "All are started the same way by the driver, inside the prefix.")
    add("")
    add("| N entries | rows | Velmora | floor | `uninstaller --list` | Add/Remove Programs | do-nothing program "
        "| empty window |")
    add("|---:|---:|---:|---:|---:|---:|---:|---:|")
    for n in sizes:
        cells = []
        for key, _ in CONTENDERS:
            cells.append("%s / %s" % (fmt(low(n, key)), fmt(med(n, key))) if times(n, key) else "–")
        velmora_rows = ""
        velmora_rows = counts(n).get("rows", "")
        add("| %d | %s | %s |" % (n, velmora_rows, " | ".join(cells)))
    add("")
    add("Ratios of Velmora's time to the others' (medians; minimums in brackets):")
    add("")
    add("| N entries | Velmora ÷ floor | Velmora ÷ `uninstaller --list` | Velmora ÷ Add/Remove Programs |")
    add("|---:|---:|---:|---:|")
    for n in sizes:
        cells = []
        for key in ("floor", "wine-uninstaller", "wine-appwiz"):
            if times(n, key):
                cells.append("%.2f (%.2f)" % (med(n, "velmora") / med(n, key), low(n, "velmora") / low(n, key)))
            else:
                cells.append("–")
        add("| %d | %s |" % (n, " | ".join(cells)))
    if 1000 in sizes and 5000 in sizes:
        add("")
        add("Velmora at 5,000 entries ÷ at 1,000: %.2f (medians), %.2f (minimums)." %
            (med(5000, "velmora") / med(1000, "velmora"), low(5000, "velmora") / low(1000, "velmora")))
    add("")
    phase_sizes = [n for n in sizes if times(n, "phase:" + PHASES[0][0])]
    if phase_sizes:
        add("## Velmora's start-up, phase by phase")
        add("")
        add("`BenchPhases.exe` runs Velmora's entry (the same calls in the same order, linked with Velmora's units) "
            "in a cold process of its own, started by the driver in the same rotation, and times its phases from "
            "the process's creation (`GetProcessTimes`) to the first time its message queue is empty after the "
            "window has been shown, the list painted. Phase boundaries are the first calls of Windows functions "
            "that the start-up makes, timed through the program's import table. Medians in milliseconds; the "
            "last rows set the sum of the phases against Velmora's start-up measured from outside.")
        add("")
        add("| phase | what | " + " | ".join("N = %d" % n for n in phase_sizes) + " |")
        add("|---|---|" + "---:|" * len(phase_sizes))
        for key, label in PHASES:
            add("| %s | %s | %s |" % (key, label, " | ".join(fmt(med(n, "phase:" + key)) for n in phase_sizes)))
        sums = {n: sum(med(n, "phase:" + key) for key, _ in PHASES) for n in phase_sizes}
        add("| **sum** | process creation to the list painted | %s |" %
            " | ".join(fmt(sums[n]) for n in phase_sizes))
        add("| outside | Velmora.exe's start to its window visible with all rows (driver, above) | %s |" %
            " | ".join(fmt(med(n, "velmora")) for n in phase_sizes))
        add("")
    add("## Peak working set")
    add("")
    add("PeakWorkingSetSize from GetProcessMemoryInfo, read from outside once the list is full (for Wine this is "
        "the VmHWM of the Linux process, Wine's own libraries included), in MiB, min / median / max.")
    add("")
    add("| N entries | Velmora | floor | empty window | Add/Remove Programs |")
    add("|---:|---:|---:|---:|---:|")

    def peaks(n, key):
        return [r["peak"] / 1024 for r in startup.get((n, key), []) if r["peak"] > 0]

    for n in sizes:
        cells = []
        for key in ("velmora", "floor", "window", "wine-appwiz"):
            p = peaks(n, key)
            cells.append("%.1f / %.1f / %.1f" % (min(p), statistics.median(p), max(p)) if p else "–")
        add("| %d | %s |" % (n, " | ".join(cells)))
    # What the entries cost: Velmora's growth per 1,000 entries between the two
    # largest sizes, against the bytes their tiles must hold (24 x 24 pixels at
    # 32 bits, and a 1-bit mask), one tile per row with an icon.
    memory = None
    big = [n for n in sizes if peaks(n, "velmora") and counts(n).get("tiles")]
    if len(big) >= 2:
        small, large = big[-2], big[-1]
        grown = (statistics.median(peaks(large, "velmora")) - statistics.median(peaks(small, "velmora"))) * 1024 * 1024
        tiles = int(counts(large)["tiles"]) - int(counts(small)["tiles"])
        per_thousand = grown / (large - small) * 1000
        tile_bytes = tiles * (24 * 24 * 4 + 24 * 24 // 8) / (large - small) * 1000
        window = [statistics.median(peaks(n, "window")) for n in sizes if peaks(n, "window")]
        memory = per_thousand / tile_bytes
        add("")
        add("The empty window's peak working set: %s MiB (median over all sizes). Velmora grows by %.2f MiB per "
            "1,000 entries from %d to %d entries (medians), where those entries' tiles must hold %.2f MiB "
            "(%d tiles of 24 × 24 pixels, colour at 32 bits and a 1-bit mask, per %d entries): **%.2f ×** the "
            "tiles' bytes." % ("%.1f" % statistics.median(window) if window else "–", per_thousand / 1048576,
                               small, large, tile_bytes / 1048576, tiles, large - small, memory))
    add("")
    add("## Where Velmora's start-up goes")
    add("")
    add("`BenchComponents.exe`, linked with Velmora's units, in the same prefix (min / median ms). "
        "FormCreate runs the scan, the merge and PopulateList; the rest of the start-up is process start, the "
        "window and its first paint.")
    add("")
    add("| component | " + " | ".join("N = %d" % n for n in sizes) + " |")
    add("|---|" + "---:|" * len(sizes))
    for key, label in COMPONENTS:
        cells = []
        for n in sizes:
            cells.append("%s / %s" % (fmt(low(n, key, components)), fmt(med(n, key, components)))
                         if times(n, key, components) else "–")
        add("| %s | %s |" % (label, " | ".join(cells)))
    cells = []
    for n in sizes:
        loads = [notes(r["note"]).get("load_ms") for r in components.get((n, "merge-split"), [])]
        loads = [v for v in loads if v is not None]
        cells.append("%s / %s" % (fmt(min(loads)), fmt(statistics.median(loads))) if loads else "–")
    add("| hand-off file read right after Drisk.x64 wrote it | %s |" % " | ".join(cells))
    add("")
    add("\"hand-off file read\" reads a file Drisk.x64 wrote a few seconds earlier (or a copy of it, "
        "\"copy read\"); inside MergeHandOffInventory the same reading comes right after the file was "
        "written. Wine's profile functions parse a file written in the last two seconds again on every "
        "call; Drisk.x64 therefore dates its finished file a few seconds back, which makes the last two "
        "rows alike.")
    if wait_rows:
        n_wait = wait_rows[0]["n"]
        add("")
        add("## While an uninstaller runs")
        add("")
        add("Velmora (%d entries) runs a stand-in uninstaller that sleeps 5 s. CPU: Velmora's Linux process, "
            "all threads (scheduler time), over the wait, with nothing else sent to it; the prefix's wineserver "
            "over the same time. Round trips: WM_NULL sent with SendMessageTimeout every 20 ms during the wait "
            "of other runs." % n_wait)
        add("")
        cpu = [r for r in wait_rows if r["what"] == "wait-cpu"]
        rtt = [r for r in wait_rows if r["what"] == "wait-rtt"]
        total = [r for r in read(os.path.join(args.results, "wait.tsv")) if r["what"] == "wait-rtt-all"]
        if cpu:
            pct = [r["ms"] for r in cpu]
            server = [notes(r["note"]).get("server_cpu_ms", -1) / notes(r["note"])["wall_ms"] * 100 for r in cpu]
            add("- Velmora's CPU over the wait, %% of one core (min / median / max of %d runs): "
                "%.3f / %.3f / %.3f" % (len(pct), min(pct), statistics.median(pct), max(pct)))
            add("- the wineserver's meanwhile (its share includes the driver's own requests), %% of one core: "
                "%.3f / %.3f / %.3f" % (min(server), statistics.median(server), max(server)))
        floor_cpu = [r["ms"] for r in wait_rows if r["what"] == "wait-floor-cpu"]
        if floor_cpu:
            add("- the wait floor (an idle window polling the same sleeper every 10 ms and servicing its messages), "
                "%% of one core: %.3f / %.3f / %.3f" % (min(floor_cpu), statistics.median(floor_cpu),
                                                       max(floor_cpu)))
        idle = [r["ms"] for r in wait_rows if r["what"] == "idle-cpu"]
        if idle:
            add("- baseline: the same window idle for 5 s before the command, %% of one core: %.3f / %.3f / %.3f"
                % (min(idle), statistics.median(idle), max(idle)))
        if total:
            info = notes(total[-1]["note"])
            add("- Message round trip over %d probes in %d runs: p50 %.2f ms, p99 %.2f ms, max %.2f ms" %
                (info["probes"], len(rtt), info["p50_ms"], info["p99_ms"], info["max_ms"]))
    add("")
    add("## Targets")
    add("")
    add("| target | measured | met |")
    add("|---|---|---|")

    def row(label, value, ok):
        add("| %s | %s | %s |" % (label, value, "yes" if ok else "**no**"))

    for n in sizes:
        if times(n, "wine-appwiz"):
            ratio = med(n, "velmora") / med(n, "wine-appwiz")
            row("faster than Add/Remove Programs at %d" % n, "%.2f ×" % ratio, ratio < 1)
    for n in sizes:
        if times(n, "floor"):
            ratio = med(n, "velmora") / med(n, "floor")
            row("start-up ≤ 1.25 × floor at %d" % n, "%.2f ×" % ratio, ratio <= 1.25)
    if 1000 in sizes and 5000 in sizes and times(1000, "floor"):
        ratio = med(5000, "velmora") / med(1000, "velmora")
        floor_growth = med(5000, "floor") / med(1000, "floor")
        row("growth from 1,000 to 5,000 ≤ 1.1 × the floor's (%.2f ×)" % floor_growth,
            "%.2f × (%.2f of the floor's)" % (ratio, ratio / floor_growth), ratio <= 1.1 * floor_growth)
    if wait_rows and cpu and floor_cpu:
        ratio = statistics.median(pct) / statistics.median(floor_cpu)
        row("processor use while waiting ≤ 1.15 × the wait floor's", "%.2f × (medians: %.3f %% and %.3f %%)"
            % (ratio, statistics.median(pct), statistics.median(floor_cpu)), ratio <= 1.15)
    if memory is not None:
        row("growth per 1,000 entries ≤ 3 × their tiles' bytes", "%.2f ×" % memory, memory <= 3)
    add("")
    add("![time against N](results.png)")
    add("")

    with open(os.path.join(args.bench, "results.md"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    with open(os.path.join(args.bench, "results.dat"), "w") as f:
        f.write("# N " + " ".join("%s_min %s_median" % (k, k) for k, _ in CONTENDERS) + "\n")
        for n in sizes:
            f.write("%d %s\n" % (n, " ".join("%.3f %.3f" % (low(n, k), med(n, k)) for k, _ in CONTENDERS)))
    raw = os.path.join(args.bench, "raw")
    shutil.rmtree(raw, ignore_errors=True)
    os.makedirs(raw)
    for name in ("startup.tsv", "components.tsv", "wait.tsv"):
        if os.path.exists(os.path.join(args.results, name)):
            shutil.copy(os.path.join(args.results, name), raw)


if __name__ == "__main__":
    main()
