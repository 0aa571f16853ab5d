#!/usr/bin/env python3
# Turns one benchmark run's raw figures into bench/results.md, bench/results.dat
# (the plot's data) and bench/raw/ (a copy of the raw figures).
#
# Usage: report.py RESULTS_DIR BENCH_DIR COMMAND LOAD_BEFORE LOAD_AFTER [STANDIN_WHY]
#   STANDIN_WHY, when given and not empty: why Velmora.exe's 64-bit stand-in was measured in its place.
#
# Raw lines (tab-separated): N, contender, repetition, ms, peak KiB, note.
# Repetition 0 is the warm-up and is left out of every figure.
import collections
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys

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
NAN = float("nan")


def read(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        lines = [line.rstrip("\n").split("\t") + [""] for line in f]
    return [{"n": int(p[0]), "what": p[1], "rep": int(p[2]), "ms": float(p[3]), "peak": float(p[4]), "note": p[5]}
            for p in lines if len(p) >= 6 and p[2].lstrip("-").isdigit()]


def notes(note):
    return dict(item.split("=", 1) for item in note.split() if "=" in item)


def group(rows):
    table = collections.defaultdict(list)
    for row in rows:
        if row["rep"] > 0:
            table[(row["n"], row["what"])].append(row)
    return table


def fmt(ms):
    return "–" if ms != ms else "%.0f" % ms if ms >= 100 else "%.1f" % ms


def spread(values, form="%.3f"):
    return " / ".join(form % v for v in (min(values), statistics.median(values), max(values)))


def percentile(values, fraction):
    return sorted(values)[min(len(values) - 1, int(fraction * len(values)))]


def main():
    results, bench, command, load_before, load_after = sys.argv[1:6]
    standin = (sys.argv[6:] or [""])[0]
    raw = {name: read(os.path.join(results, name + ".tsv")) for name in ("startup", "components", "wait", "fills")}
    startup, components, wait = group(raw["startup"]), group(raw["components"]), group(raw["wait"])
    sizes = sorted({n for n, _ in startup})

    def stats(n, what, table=startup):
        """Minimum and median of a figure, NaN for one that was not measured."""
        ms = [r["ms"] for r in table.get((n, what), [])]
        return (min(ms), statistics.median(ms)) if ms else (NAN, NAN)

    def both(n, what, table=startup):
        low, median = stats(n, what, table)
        return "%s / %s" % (fmt(low), fmt(median)) if low == low else "–"

    def ratio(n, what, other):
        return tuple(a / b for a, b in zip(stats(n, what), stats(n, other)))

    def counts(n):
        with open(os.path.join(os.path.dirname(os.path.dirname(results)), "reg-%d" % n, "counts.txt")) as f:
            return dict(line.split() for line in f if line.strip())

    reps = max((len(v) for v in startup.values()), default=0)
    with open("/proc/cpuinfo") as f:
        model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "")
    memory = "%.0f GiB" % (os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2 ** 30)
    wine = subprocess.run([os.environ.get("WINE", "wine"), "--version"], capture_output=True, text=True).stdout.strip()
    with open(os.path.join(bench, "texts.md"), encoding="utf-8") as f:
        blocks = re.split(r"^<!-- (\w+) -->\n", f.read(), flags=re.M)[1:]
    texts = {name: text.strip() for name, text in zip(blocks[::2], blocks[1::2])}
    lines = []
    add = lines.append

    def header(*cells):
        add("| %s |\n|%s" % (" | ".join(cells), "---|" * (len(cells) - len(sizes)) + "---:|" * len(sizes)))

    def para(name, *values):
        """One of the report's fixed paragraphs (bench/texts.md), with its values, between blank lines."""
        add("\n%s\n" % (texts[name] % values if values else texts[name]))
    add("# Benchmark results\n")
    if standin:
        para("standin", standin)
    if raw["fills"]:
        para("fills", ", ".join("%s rows at %d entries" % (counts(r["n"])["rows"], r["n"]) for r in raw["fills"]))
    add("Produced by `%s` (`bench/run.sh`); raw figures of this run in `bench/raw/`.\n" % command)
    add("- Machine: %s, %d cores, %s RAM (%s %s)" % (model, os.cpu_count(), memory, platform.system(),
                                                     platform.release()))
    add("- Wine: %s, 64-bit prefixes (%s)" % (wine, "the stand-in runs as a 64-bit process" if standin
                                               else "Velmora.exe runs under WOW64"))
    add("- Load average (1, 5, 15 min) before the run: %s; after: %s" % (load_before, load_after))
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
        growth = {key: tuple(a / b for a, b in zip(stats(5000, key), stats(1000, key))) for key in ("velmora", "floor")}
        add("\nFrom 1,000 to 5,000 entries Velmora's time grows %.2f × / %.2f × (minimums / medians), the "
            "floor's %.2f × / %.2f ×." % (growth["velmora"] + growth["floor"]))
    add("\n## Velmora's start-up, phase by phase\n")
    para("phases")
    header("phase", "what", *("N = %d" % n for n in sizes))
    for key, label in PHASES:
        add("| %s | %s | %s |" % (key, label, " | ".join(both(n, "phase:" + key) for n in sizes)))
    add("| **sum** | process creation to the list painted (medians) | %s |" %
        " | ".join(fmt(sum(stats(n, "phase:" + key)[1] for key, _ in PHASES)) for n in sizes))
    add("| outside | Velmora.exe's start to its window visible with all rows (driver, above) | %s |\n" %
        " | ".join(both(n, "velmora") for n in sizes))
    add("## Peak working set\n")
    para("peak")
    add("| N entries | Velmora | floor | empty window | Add/Remove Programs |")
    add("|---:|---:|---:|---:|---:|")

    def peaks(n, key):
        return [r["peak"] / 1024 for r in startup.get((n, key), []) if r["peak"] > 0]

    for n in sizes:
        add("| %d | %s |" % (n, " | ".join(spread(p, "%.1f") if p else "–" for p in (
            peaks(n, key) for key in ("velmora", "floor", "window", "wine-appwiz")))))
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
    cpu, floor_cpu = ([r["ms"] for r in waiting[key]] for key in ("wait-cpu", "wait-floor-cpu"))
    if cpu:
        add("\n## While an uninstaller runs\n")
        para("wait", waiting["wait-cpu"][0]["n"])
        server = [100 * float(notes(r["note"])["server_cpu_ms"]) / float(notes(r["note"])["wall_ms"])
                  for r in waiting["wait-cpu"]]
        for label, values in (
                ("Velmora's CPU over the wait, %% of one core (min / median / max of %d runs)" % len(cpu), cpu),
                ("the wineserver's meanwhile (its share includes the driver's own requests), % of one core", server),
                ("the wait floor (`Floor.exe wait`: an idle window polling the same sleeper every 10 ms and "
                 "servicing its messages), % of one core", floor_cpu),
                ("baseline: the same window idle before the command, % of one core",
                 [r["ms"] for r in waiting["idle-cpu"]])):
            if values:
                add("- %s: %s" % (label, spread(values)))
        trips = [float(t) for r in waiting["wait-rtt"] for t in notes(r["note"]).get("trips", "").split(",") if t]
        if trips:
            add("- Message round trip over %d probes in %d runs: p50 %.2f ms, p99 %.2f ms, max %.2f ms" % (
                len(trips), len(waiting["wait-rtt"]), percentile(trips, 0.5), percentile(trips, 0.99), max(trips)))
    add("\n## Targets\n")
    para("targets")
    add("| target | measured (minimum / median) | met |")
    add("|---|---|---|")

    def row(label, pair, limit=None, judged=(0, 1)):
        """A target's row, left out when not measured: met when the judged figures (minimum 0, median 1) are
        within the limit; without a limit, a figure that is only reported."""
        if pair[0] == pair[0]:
            met = "–" if limit is None else "yes" if all(pair[i] <= limit for i in judged) else "**no**"
            add("| %s | %.2f × / %.2f × | %s |" % (label, pair[0], pair[1], met))

    for n in sizes:
        row("start-up ≤ 1.15 × the complete floor at %d" % n, ratio(n, "velmora", "floor"), 1.15)
    if growth:
        floor = growth["floor"]
        row("growth from 1,000 to 5,000 ≤ 1.05 × the floor's (%.2f × / %.2f ×; the target is on minimums)" % floor,
            (growth["velmora"][0] / floor[0], growth["velmora"][1] / floor[1]), 1.05, judged=(0,))
    row("hand-off read at 5,000 ≤ 0.4 × the last round's %d ms (phase)" % HANDOFF_BEFORE_MS,
        tuple(ms / HANDOFF_BEFORE_MS for ms in stats(5000, "phase:handoff")), 0.4)
    for n in sizes:
        floor = "; the complete floor takes %.0f %% / %.0f %% of its time" % tuple(
            100 * v for v in ratio(n, "floor", "wine-appwiz"))
        row("Velmora ÷ Add/Remove Programs at %d (reported%s)" % (n, floor if n == sizes[0] else ""),
            ratio(n, "velmora", "wine-appwiz"))
    if cpu and floor_cpu and min(floor_cpu) > 0:
        row("processor use while waiting ≤ 1.15 × the wait floor's (as before)",
            (min(cpu) / min(floor_cpu), statistics.median(cpu) / statistics.median(floor_cpu)), 1.15)
    if memory is not None:
        add("| growth per 1,000 entries ≤ 3 × their tiles' bytes (as before; medians) | %.2f × | %s |" %
            (memory, "yes" if memory <= 3 else "**no**"))
    add("\n![time against N](results.png)\n")

    with open(os.path.join(bench, "results.md"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    with open(os.path.join(bench, "results.dat"), "w") as f:
        f.write("# N " + " ".join("%s_min %s_median" % (k, k) for k, _ in CONTENDERS) + "\n")
        for n in sizes:
            f.write("%d %s\n" % (n, " ".join("%.3f %.3f" % stats(n, k) for k, _ in CONTENDERS)))
    shutil.rmtree(os.path.join(bench, "raw"), ignore_errors=True)
    os.makedirs(os.path.join(bench, "raw"))
    for name in ("startup", "components", "wait"):
        if raw[name]:
            shutil.copy(os.path.join(results, name + ".tsv"), os.path.join(bench, "raw"))


if __name__ == "__main__":
    main()
