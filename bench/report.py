#!/usr/bin/env python3
# Turns one benchmark run's raw figures into bench/results.md, bench/results.dat
# (the plot's data) and bench/raw/ (a copy of the raw figures).
#
# Usage: report.py RESULTS_DIR BENCH_DIR --command TEXT --load BEFORE AFTER [--standin WHY]
#
# Raw lines (tab-separated): N, contender, repetition, ms, peak KiB, note.
# Repetition 0 is the warm-up and is left out of every figure.
import argparse
import collections
import os
import platform
import re
import shutil
import statistics
import subprocess

CONTENDERS = [("velmora", "Velmora"), ("floor", "floor"), ("wine-uninstaller", "`uninstaller --list`"),
              ("wine-appwiz", "Add/Remove Programs"), ("nothing", "do-nothing program"), ("window", "empty window")]
PHASES = [
    ("process", "process creation to the program's first line: loader, libraries, runtime"),
    ("application", "common controls, application object and window, COM, title"),
    ("window", "the main window's class and frame, up to its font"),
    ("font", "the window's font"),
    ("controls", "label, list view, buttons, image list"),
    ("companion", "Drisk.x64 started (it runs from here on, beside the next phases)"),
    ("icons", "the shell's system image list (the first `SHGetFileInfoW`)"),
    ("scan", "the 32-bit view scanned"),
    ("wait", "what is left of Drisk.x64's run, and its hand-over check"),
    ("handoff", "the hand-off file read and deleted"),
    ("fill", "PopulateList: icons, tiles, rows, sort"),
    ("show", "placement, `ShowWindow`"),
    ("paint", "the list and buttons painted (until the queue is first empty)"),
]
COMPONENTS = [("scan", "scan (32-bit view)"), ("drisk", "Drisk.x64 run"), ("handoff", "hand-off file read"),
              ("merge", "MergeHandOffInventory"), ("populate", "PopulateList"),
              ("form", "hidden window built (FormCreate)"), ("process", "do-nothing process (RunAndWait)")]
FILL = [("fill:icons", "icon lookups (one per entry with an icon, and the default tile's)"),
        ("fill:tiles", "tiles drawn, masked and added to the image list"),
        ("fill:rows", "rows inserted with their three texts"), ("fill:sort", "the one sort by `lstrcmpW`"),
        ("fill:rest", "the update bracket closed")]
# The hand-off read of the round before this one (the `handoff` phase at 5,000
# entries, median), against which its target is set.
HANDOFF_BEFORE_MS = 378


def read(path):
    rows = []
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for parts in (line.rstrip("\n").split("\t") for line in f):
                if len(parts) >= 5 and parts[2].lstrip("-").isdigit():
                    rows.append({"n": int(parts[0]), "what": parts[1], "rep": int(parts[2]),
                                 "ms": float(parts[3]), "peak": float(parts[4]),
                                 "note": parts[5] if len(parts) > 5 else ""})
    return rows


def notes(note):
    pairs = (item.split("=", 1) for item in note.split() if "=" in item)
    return {key: float(value) for key, value in pairs}


def group(rows):
    table = collections.defaultdict(list)
    for row in rows:
        if row["rep"] > 0:
            table[(row["n"], row["what"])].append(row)
    return table


def fmt(ms):
    return "–" if ms != ms else "%.0f" % ms if ms >= 100 else "%.1f" % ms


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
    wait = group(read(os.path.join(args.results, "wait.tsv")))
    sizes = sorted({n for n, _ in startup})

    def times(n, what, table=startup):
        return [r["ms"] for r in table.get((n, what), [])]

    def med(n, what, table=startup):
        return statistics.median(times(n, what, table) or [float("nan")])

    def low(n, what, table=startup):
        return min(times(n, what, table) or [float("nan")])

    def both(n, what, table=startup):
        return "%s / %s" % (fmt(low(n, what, table)), fmt(med(n, what, table))) if times(n, what, table) else "–"

    def ratio(n, what, other):
        return low(n, what) / low(n, other), med(n, what) / med(n, other)

    def counts(n):
        path = os.path.join(os.path.dirname(os.path.dirname(args.results)), "reg-%d" % n, "counts.txt")
        with open(path) as f:
            return dict(line.split() for line in f if line.strip())

    reps = max((len(v) for v in startup.values()), default=0)
    with open("/proc/cpuinfo") as f:
        model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "")
    with open("/proc/meminfo") as f:
        memory = "%.0f GiB" % (int(f.readline().split()[1]) / 1024 / 1024)
    wine = subprocess.run([os.environ.get("WINE", "wine"), "--version"], capture_output=True, text=True).stdout.strip()
    lines = []
    add = lines.append
    with open(os.path.join(args.bench, "texts.md"), encoding="utf-8") as f:
        blocks = re.split(r"^<!-- (\w+) -->\n", f.read(), flags=re.M)[1:]
    texts = {name: text.strip() for name, text in zip(blocks[::2], blocks[1::2])}

    def header(*cells):
        add("| %s |\n|%s" % (" | ".join(cells), "---|" * (len(cells) - len(sizes)) + "---:|" * len(sizes)))

    def para(name, *values):
        """One of the report's fixed paragraphs (bench/texts.md), with its values, between blank lines."""
        add("\n%s\n" % (texts[name] % values if values else texts[name]))
    add("# Benchmark results\n")
    if args.standin:
        para("standin", args.standin)
    fills = read(os.path.join(args.results, "fills.tsv"))
    if fills:
        para("fills",
            ", ".join("%d rows at %d entries" % (notes(r["note"]).get("rows", 0), r["n"]) for r in fills))
    add("Produced by `%s` (`bench/run.sh`); raw figures of this run in `bench/raw/`.\n" % args.command)
    add("- Machine: %s, %d cores, %s RAM (%s %s)" % (model, os.cpu_count(), memory, platform.system(),
                                                     platform.release()))
    add("- Wine: %s, 64-bit prefixes (%s)" % (wine, "the stand-in runs as a 64-bit process" if args.standin
                                               else "Velmora.exe runs under WOW64"))
    add("- Load average (1, 5, 15 min) before the run: %s; after: %s" % tuple(args.load))
    add("- %d timed repetitions per contender and size after one warm-up round, the contenders alternating "
        "within each round; every figure is minimum / median in milliseconds.\n" % reps)
    add("## Start-up to a filled list\n")
    para("startup")
    para("floor")
    add("| N entries | rows | " + " | ".join(label for _, label in CONTENDERS) + " |")
    add("|---:|---:|" + "---:|" * len(CONTENDERS))
    for n in sizes:
        add("| %d | %s | %s |" % (n, counts(n).get("rows", ""), " | ".join(both(n, k) for k, _ in CONTENDERS)))
    add("\nRatios of Velmora's time to the others' (minimums / medians):\n")
    add("| N entries | Velmora ÷ floor | Velmora ÷ `uninstaller --list` | Velmora ÷ Add/Remove Programs "
        "| floor ÷ Add/Remove Programs |")
    add("|---:|---:|---:|---:|---:|")
    for n in sizes:
        pairs = [ratio(n, "velmora", k) for k in ("floor", "wine-uninstaller", "wine-appwiz")]
        pairs.append(ratio(n, "floor", "wine-appwiz"))
        add("| %d | %s |" % (n, " | ".join("%.2f / %.2f" % p for p in pairs)))
    growth = {}
    if 1000 in sizes and 5000 in sizes:
        for key in ("velmora", "floor"):
            growth[key] = (low(5000, key) / low(1000, key), med(5000, key) / med(1000, key))
        add("\nFrom 1,000 to 5,000 entries Velmora's time grows %.2f × / %.2f × (minimums / medians), the "
            "floor's %.2f × / %.2f ×." % (growth["velmora"] + growth["floor"]))
    add("\n## Velmora's start-up, phase by phase\n")
    para("phases")
    header("phase", "what", *("N = %d" % n for n in sizes))
    for key, label in PHASES:
        add("| %s | %s | %s |" % (key, label, " | ".join(both(n, "phase:" + key) for n in sizes)))
    add("| **sum** | process creation to the list painted (medians) | %s |" %
        " | ".join(fmt(sum(med(n, "phase:" + key) for key, _ in PHASES)) for n in sizes))
    add("| outside | Velmora.exe's start to its window visible with all rows (driver, above) | %s |\n" %
        " | ".join(both(n, "velmora") for n in sizes))
    add("## Peak working set\n")
    para("peak")
    keys = ("velmora", "floor", "window", "wine-appwiz")
    add("| N entries | Velmora | floor | empty window | Add/Remove Programs |")
    add("|---:|---:|---:|---:|---:|")

    def peaks(n, key):
        return [r["peak"] / 1024 for r in startup.get((n, key), []) if r["peak"] > 0]

    for n in sizes:
        cells = ["%.1f / %.1f / %.1f" % (min(p), statistics.median(p), max(p)) if p else "–"
                 for p in (peaks(n, key) for key in keys)]
        add("| %d | %s |" % (n, " | ".join(cells)))
    # What the entries cost: Velmora's growth per 1,000 entries between the two
    # largest sizes, against the bytes their tiles must hold (24 x 24 pixels at
    # 32 bits, and a 1-bit mask), one tile per row with an icon.
    memory = None
    if len(sizes) >= 2 and peaks(sizes[-1], "velmora"):
        small, large = sizes[-2], sizes[-1]
        grown = (statistics.median(peaks(large, "velmora")) - statistics.median(peaks(small, "velmora"))) * 1048576
        tiles = int(counts(large)["tiles"]) - int(counts(small)["tiles"])
        per_thousand = grown / (large - small) * 1000
        tile_bytes = tiles * (24 * 24 * 4 + 24 * 24 // 8) / (large - small) * 1000
        memory = per_thousand / tile_bytes
        add("\nVelmora grows by %.2f MiB per 1,000 entries from %d to %d entries (medians), where those entries' "
            "tiles must hold %.2f MiB (%d tiles of 24 × 24 pixels, colour at 32 bits and a 1-bit mask, per %d "
            "entries): **%.2f ×** the tiles' bytes." % (per_thousand / 1048576, small, large,
                                                        tile_bytes / 1048576, tiles, large - small, memory))
    add("\n## Where Velmora's start-up goes\n")
    para("components")
    header("component", *("N = %d" % n for n in sizes))
    for key, label in COMPONENTS + FILL:
        add("| %s | %s |" % (label if key in dict(COMPONENTS) else "&nbsp;&nbsp;PopulateList: " + label,
                             " | ".join(both(n, key, components) for n in sizes)))
    para("fill")
    waiting = {key: [r for (n, what), rs in wait.items() if what == key for r in rs]
               for key in ("wait-cpu", "wait-floor-cpu", "idle-cpu", "wait-rtt")}
    cpu = [r["ms"] for r in waiting["wait-cpu"]]
    floor_cpu = [r["ms"] for r in waiting["wait-floor-cpu"]]
    if cpu:
        add("\n## While an uninstaller runs\n")
        para("wait", waiting["wait-cpu"][0]["n"])

        def spread(values):
            return "%.3f / %.3f / %.3f" % (min(values), statistics.median(values), max(values))

        server = [notes(r["note"])["server_cpu_ms"] / notes(r["note"])["wall_ms"] * 100 for r in waiting["wait-cpu"]]
        add("- Velmora's CPU over the wait, %% of one core (min / median / max of %d runs): %s" % (len(cpu),
                                                                                                 spread(cpu)))
        add("- the wineserver's meanwhile (its share includes the driver's own requests), %% of one core: %s" %
            spread(server))
        if floor_cpu:
            add("- the wait floor (`Floor.exe wait`: an idle window polling the same sleeper every 10 ms and "
                "servicing its messages), %% of one core: %s" % spread(floor_cpu))
        if waiting["idle-cpu"]:
            add("- baseline: the same window idle before the command, %% of one core: %s" %
                spread([r["ms"] for r in waiting["idle-cpu"]]))
        total = [r for r in read(os.path.join(args.results, "wait.tsv")) if r["what"] == "wait-rtt-all"]
        if total:
            info = notes(total[-1]["note"])
            add("- Message round trip over %d probes in %d runs: p50 %.2f ms, p99 %.2f ms, max %.2f ms" %
                (info["probes"], len(waiting["wait-rtt"]), info["p50_ms"], info["p99_ms"], info["max_ms"]))
    add("\n## Targets\n")
    para("targets")
    add("| target | measured (minimum / median) | met |")
    add("|---|---|---|")

    def row(label, pair, limit, unit=" ×"):
        ok = all(value <= limit for value in pair)
        add("| %s | %.2f%s / %.2f%s | %s |" % (label, pair[0], unit, pair[1], unit, "yes" if ok else "**no**"))

    for n in sizes:
        if times(n, "floor"):
            row("start-up ≤ 1.15 × the complete floor at %d" % n, ratio(n, "velmora", "floor"), 1.15)
    if growth:
        floor = growth["floor"]
        row("growth from 1,000 to 5,000 ≤ 1.05 × the floor's (%.2f × / %.2f ×; the target is on minimums)" % floor,
            (growth["velmora"][0] / floor[0], growth["velmora"][1] / floor[1]), 1.05)
    if times(5000, "phase:handoff"):
        row("hand-off read at 5,000 ≤ 0.4 × the last round's %d ms (phase)" % HANDOFF_BEFORE_MS,
            (low(5000, "phase:handoff") / HANDOFF_BEFORE_MS, med(5000, "phase:handoff") / HANDOFF_BEFORE_MS), 0.4)
    for n in sizes:
        if times(n, "wine-appwiz"):
            pair = ratio(n, "velmora", "wine-appwiz")
            add("| Velmora ÷ Add/Remove Programs at %d (reported%s) | %.2f × / %.2f × | – |" % (
                n, "; the complete floor takes %.0f %% / %.0f %% of its time" % tuple(
                    100 * v for v in ratio(n, "floor", "wine-appwiz")) if n == sizes[0] else "", *pair))
    if cpu and floor_cpu and min(floor_cpu) > 0:
        row("processor use while waiting ≤ 1.15 × the wait floor's (as before)",
            (min(cpu) / min(floor_cpu), statistics.median(cpu) / statistics.median(floor_cpu)), 1.15)
    if memory is not None:
        add("| growth per 1,000 entries ≤ 3 × their tiles' bytes (as before; medians) | %.2f × | %s |" %
            (memory, "yes" if memory <= 3 else "**no**"))
    add("\n![time against N](results.png)\n")

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
