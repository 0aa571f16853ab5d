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
        "Floor: a program that opens every entry key once and reads the seven values the scan needs once, "
        "then exits. `uninstaller --list`: Wine's uninstaller listing without a window, start to exit. "
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
        counts_file = os.path.join(os.path.dirname(os.path.dirname(args.results)), "reg-%d" % n, "counts.txt")
        if os.path.exists(counts_file):
            with open(counts_file) as f:
                velmora_rows = dict(line.split() for line in f if line.strip()).get("rows", "")
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
    add("## Peak working set")
    add("")
    add("PeakWorkingSetSize from GetProcessMemoryInfo, read from outside once the list is full (for Wine this is "
        "the VmHWM of the Linux process, Wine's own libraries included), in MiB, min / median / max.")
    add("")
    add("| N entries | Velmora | Add/Remove Programs |")
    add("|---:|---:|---:|")
    for n in sizes:
        cells = []
        for key in ("velmora", "wine-appwiz"):
            peaks = [r["peak"] / 1024 for r in startup.get((n, key), []) if r["peak"] > 0]
            cells.append("%.1f / %.1f / %.1f" % (min(peaks), statistics.median(peaks), max(peaks)) if peaks else "–")
        add("| %d | %s | %s |" % (n, cells[0], cells[1]))
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

    for n in (1000, 5000):
        if n in sizes:
            ratio = med(n, "velmora") / med(n, "floor")
            row("start-up ≤ 1.7 × floor at %d" % n, "%.2f ×" % ratio, ratio <= 1.7)
    for n in sizes:
        if times(n, "wine-appwiz"):
            ratio = med(n, "velmora") / med(n, "wine-appwiz")
            row("faster than Add/Remove Programs at %d" % n, "%.2f ×" % ratio, ratio < 1)
    if 1000 in sizes and 5000 in sizes:
        ratio = med(5000, "velmora") / med(1000, "velmora")
        row("time at 5,000 ≤ 5.5 × time at 1,000", "%.2f ×" % ratio, ratio <= 5.5)
    if wait_rows and cpu:
        value = statistics.median(pct)
        row("waiting < 1 % of one core", "%.3f %% (median; max %.3f %%)" % (value, max(pct)), max(pct) < 1)
    if wait_rows and total:
        row("message round trip p99 < 25 ms", "%.2f ms" % info["p99_ms"], info["p99_ms"] < 25)
    if 5000 in sizes:
        peaks = [r["peak"] / 1024 for r in startup.get((5000, "velmora"), []) if r["peak"] > 0]
        if peaks:
            row("peak working set < 32 MiB at 5,000", "%.1f MiB (max)" % max(peaks), max(peaks) < 32)
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
