"""The rest of a batch on worker threads: bench/run.py measures it with
measure(), bench/report.py writes its targets and section into
docs/benchmarks.md.

Each run is a tbm_bench process of its own converting one batch (Rest:D:W:
the photos on its command line, "Same for the rest" checked in the first
photo's "Output Quality", the rest on W workers at 1/D size), so that the
process's peak resident memory is that run's. GNU time starts it and reads
that peak (ru_maxrss): a process started from this script would count this
script's size in it, which Linux carries over from the fork. The program before
its workers runs the same batch as its tbm_bench's Batch:kept-blocks (half
size, one thread), where BENCH_BEFORE names its build; bench/search.py runs
Within:D:W so beside Rest:D:W, a limit typed in that "Output Quality". The
runs go round by round, each round starting one configuration later, so that
a change in the machine's load falls on every configuration alike.
"""
import json
import os
import resource
import statistics
import subprocess
import time

from markdown import mib, ms, ratio, table

SIZE_NAMES = {"2": "half", "1": "full"}
BEFORE = "before:2:1"
QUIET = 0.1  # cores the other processes may keep busy beside a run that counts as quiet


def busy_seconds():
    """CPU seconds spent so far, by the whole machine and by this script with
    its finished children: what others ran beside a run is the difference."""
    ticks = list(map(int, open("/proc/stat").readline().split()[1:9]))
    mine = [resource.getrusage(who) for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN)]
    return ((sum(ticks) - ticks[3] - ticks[4]) / os.sysconf("SC_CLK_TCK"),
            sum(x.ru_utime + x.ru_stime for x in mine))


def measure(a, configs=None, within_kb=0):
    """The runs of each configuration, with what else the machine ran beside each:
    by default the workers' and the program's before them; "within:D:W" is
    Rest:D:W with `within_kb` typed in the first photo's "at most" field."""
    photos = [x.strip() for x in open(a.rest) if x.strip()]
    start, load = time.time(), os.getloadavg()
    out, rss = f"{a.work}/rest.json", f"{a.work}/rest.rss"
    common = ["--memory", "fresh", "--photos", os.devnull, "--work", a.work, "--repetitions", "1",
              f"--benchmark_out={out}", "--benchmark_out_format=json"]
    common += ["--within-kb", str(within_kb)] if within_kb else []

    def once(config):
        tool, d, w = config.split(":")
        name = "Within:" if tool == "within" else "Rest:"
        argv = ([f"{a.before}/tbm_bench", *common, "--batch", a.rest,
                 "--benchmark_filter=^Batch:kept-blocks/"] if tool == "before" else
                [f"{a.bin}/tbm_bench", *common, "--rest", a.rest,
                 f"--benchmark_filter=^{name + d + ':' + w if d else 'none'}/"])
        if os.path.exists(out):
            os.remove(out)
        (machine, mine), start = busy_seconds(), time.monotonic()
        status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss, *argv],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        (machine_after, mine_after), took = busy_seconds(), time.monotonic() - start
        run = {"others": max(0, machine_after - machine - (mine_after - mine)) / took,
               "peak": int(open(rss).read().split()[-1]) * 1024, "total": 0, "rest": 0}
        for b in json.load(open(out))["benchmarks"] if status == 0 and d else []:
            run.update(total=0 if b.get("error_occurred") else b["real_time"],
                       rest=b.get("rest_ms", 0), error=b.get("error_message"))
        return run

    if configs is None:
        configs = [f"now:{d}:{w}" for d in a.rest_sizes.split(",")
                   for w in a.rest_workers.split(",")]
        configs += [BEFORE] if a.before else []
    harness = once("now::")  # the process alone, converting nothing
    for d in a.rest_sizes.split(","):
        if any(c.split(":")[1] == d for c in configs):
            once(f"now:{d}:1")  # reads the photos into the page cache, makes the copies once
    runs, r = {c: [] for c in configs}, 0
    # Rounds go on past the runs asked for, within the minutes given, while a
    # configuration has fewer quiet runs than that.
    while r < a.rest_runs or (time.time() < start + a.rest_minutes * 60 and min(
            sum(x["others"] < QUIET for x in runs[c]) for c in configs) < a.rest_runs):
        for c in configs[r % len(configs):] + configs[:r % len(configs)]:
            runs[c].append(once(c))
        r += 1
    probe = subprocess.run([f"{a.bin}/tbm_convert", "probe", photos[0]], capture_output=True,
                           text=True).stdout.split()
    before = subprocess.run(["git", "-C", a.before, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip() if a.before else ""
    return {"photos": len(photos), "width": int(probe[0]), "height": int(probe[1]),
            "bytes": sum(os.path.getsize(p) for p in photos), "runs": runs,
            "harness_peak": harness["peak"], "load": load, "before": before or "unknown",
            "asked": a.rest_runs, "limit": a.rest_minutes, "minutes": (time.time() - start) / 60}


class Rest:
    """Medians over the runs of each configuration, in ms per photo."""

    def __init__(self, r):
        self.r = r or {}
        self.runs = self.r.get("runs", {})

    def ok(self, config):
        """The runs that count: the quiet ones, or all where none was quiet."""
        done = [x for x in self.runs.get(config, []) if x["total"]]
        return [x for x in done if x["others"] < QUIET] or done

    def quiet(self, config):
        runs = self.runs.get(config, [])
        return f"{sum(x['others'] < QUIET for x in runs)} of {len(runs)}"

    def median(self, config, field="rest"):
        values = [x[field] for x in self.ok(config)]
        return statistics.median(values) if values else 0

    def least(self, config, field="rest"):
        return min((x[field] for x in self.ok(config)), default=0)

    def peaks(self, config):
        values = [x["peak"] for x in self.runs.get(config, [])]
        return (statistics.median(values), max(values)) if values else (0, 0)

    def sizes(self):
        return [d for d in SIZE_NAMES if any(c.startswith(f"now:{d}:") for c in self.runs)]

    def workers(self, d):
        return sorted(int(c.split(":")[2]) for c in self.runs if c.startswith(f"now:{d}:"))

    def speedup(self, d, w):
        """The rest's time per photo on 1 worker over that on `w`."""
        one, many = self.median(f"now:{d}:1"), self.median(f"now:{d}:{w}")
        return one / many if one and many else 0


def targets(r):
    """Rows of the Targets table: target, measured, held ("-" when not measured)."""
    f = Rest(r)
    if not f.runs:
        return []
    label = f"the rest of {f.r['photos']} photos of {f.r['width']}x{f.r['height']}"
    rows = []
    parts, held = [], True
    for d in f.sizes():
        s = f.speedup(d, 2)
        parts.append(f"{SIZE_NAMES[d]} {ratio(s)}× ({ms(f.median(f'now:{d}:1'))} → "
                     f"{ms(f.median(f'now:{d}:2'))} ms per photo)" if s else f"{SIZE_NAMES[d]} -")
        held &= s >= 1.8
    rows.append((f"{label}: 2 workers ≥ 1.8× as fast as 1 (the rest's time per photo), at half "
                 "and full size", "; ".join(parts), held and bool(parts)))
    parts, held = [], True
    for d in f.sizes():
        two, four = f.median(f"now:{d}:2"), f.median(f"now:{d}:4")
        if two and four:
            parts.append(f"{SIZE_NAMES[d]} {ratio(four / two)}× ({ms(four)} ms against {ms(two)})")
            held &= four <= 1.05 * two
    rows.append((f"{label}: 4 workers take ≤ 1.05× the time of 2, on this machine's 2 cores",
                 "; ".join(parts) or "not measured", held if parts else None))
    now, before = f.median("now:2:1", "total"), f.median(BEFORE, "total")
    rows.append((f"{label} at half size: 1 worker takes ≤ 1.03× the time of the program before "
                 f"the workers ({f.r['before']}, one thread), per photo over the whole batch",
                 f"{ms(now)} ms against {ms(before)} ms: {ratio(now / before)}×"
                 if now and before else "not measured", now <= 1.03 * before if before else None))
    return rows


TEXT = """## The rest of a batch on worker threads

{count} photos of {width}x{height} ({mp:.1f} MP, {mb:.1f} MB in all; made like the photos above: \
smooth colour fields with grain, each its own, with an sRGB profile and orientation 6) on the \
program's command line. The first photo's "Output Quality" saves at 90 with "Same for the rest" \
checked; the other {rest} are the rest of the batch, converted by {workers} worker threads while \
the program's thread writes their copies in batch order. Each run is a `tbm_bench` process of its \
own converting the batch once (`Rest:D:W`), each buffer fresh from the kernel as the program's \
page blocks are, round by round: {rounds}. Quiet runs are those beside which the machine's other \
processes kept less than {quiet} of a core busy (from `/proc/stat`, less what the runs themselves \
took). The figures are over the quiet runs of each configuration, or over all its runs where none \
was quiet ("quiet runs" 0). "Rest" is the time from the rest's start to \
the batch's end over its {rest} photos, "whole batch" the batch's time over all {count}, the \
first photo's dialogs included (the one figure the program before the workers gives: its \
`Batch:kept-blocks`, the same batch at half size on one thread, built from {before}). Medians in \
ms per photo; "×" is the speed-up over 1 worker: with {rest} photos alike and 2 workers each \
converting one at a time, one worker converts {slots} of them, so 2 workers' speed-up is at most \
{bound:.2f}×. The peak is the run's process's peak resident \
memory (`ru_maxrss`, read by GNU time), median and highest of the runs; the process alone, \
converting nothing, takes {harness} MiB of it. The machine has {cores} cores, shared with \
whatever else runs on it: its load average was {load[0]:.2f} (1 minute), {load[1]:.2f} (5) and \
{load[2]:.2f} (15) as these runs began, and beside a run the other processes kept \
{others_median:.2f} cores busy (median over all {all_runs} runs in {minutes:.1f} minutes; the \
most, {others_max:.2f}).

"""


def section(r):
    f = Rest(r)
    if not f.runs:
        return ""
    others = [x["others"] for runs in f.runs.values() for x in runs]
    text = TEXT.format(count=f.r["photos"], rest=f.r["photos"] - 1, width=f.r["width"],
                       height=f.r["height"], mp=f.r["width"] * f.r["height"] / 1e6,
                       mb=f.r["bytes"] / 1e6, rounds=f"{f.r['asked']} rounds" + (
                           f", then more, for {f.r['limit']:.0f} minutes at most, while a "
                           f"configuration had fewer than {f.r['asked']} quiet runs"
                           if f.r["limit"] else ""),
                       quiet=QUIET, all_runs=len(others), minutes=f.r["minutes"],
                       before=f.r["before"], harness=mib(f.r["harness_peak"]),
                       workers=" or ".join(", ".join(map(str, f.workers(f.sizes()[0]))).rsplit(
                           ", ", 1)),
                       cores=os.cpu_count(), load=f.r["load"], slots=-(-(f.r["photos"] - 1) // 2),
                       bound=(f.r["photos"] - 1) / -(-(f.r["photos"] - 1) // 2),
                       others_median=statistics.median(others), others_max=max(others))
    rows = []
    for d in f.sizes():
        configs = ([(BEFORE, "before the workers, one thread")] if d == "2" and BEFORE in f.runs
                   else []) + [(f"now:{d}:{w}", f"{w} worker{'s' if w > 1 else ''}")
                               for w in f.workers(d)]
        for n, (c, name) in enumerate(configs):
            peak, highest = f.peaks(c)
            rows.append((SIZE_NAMES[d] if n == 0 else "", name,
                         ms(f.median(c)) if c != BEFORE else "-",
                         ms(f.least(c)) if c != BEFORE else "-",
                         f"{ratio(f.speedup(d, int(c.split(':')[2])))}×" if c != BEFORE else "-",
                         ms(f.median(c, "total")) if f.ok(c) else "failed",
                         ms(f.least(c, "total")),
                         f"{mib(peak)} / {mib(highest)}", f.quiet(c)))
    return text + table(("Size", "Run", "rest, median", "rest, min", "×", "whole batch, median",
                         "whole batch, min", "peak MiB", "quiet runs"), rows, "ll")
