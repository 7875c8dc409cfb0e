"""The search behind "at most N KB": bench/run.py measures it with measure()
and the rest of a batch within a limit with within(); bench/report.py writes
their targets and sections into docs/benchmarks.md.

The search runs in one tbm_bench process (bench/search.cpp): each photo at
full and half size is decoded once, then its encode at the ceiling and its
searches within each limit, a share of the photo's file size, are timed,
each as the best of its repetitions. The rest of a batch within a limit runs
as bench/rest.py runs the rest, beside the same batch without one.
"""
import json
import os
import statistics
import subprocess
import time

import rest
from markdown import mib, ms, num, ratio, table

PERCENTS = (30, 10, 3)
CEILING = 90
WORKERS = 2
SIZES = {"1": "full", "2": "half"}


def measure(a, photos):
    """Each case's search against the encode at the ceiling; `photos` are
    (label, path) pairs."""
    listing, out = f"{a.work}/search.tsv", f"{a.work}/search.json"
    with open(listing, "w") as f:
        f.writelines(f"{label}\t{path}\n" for label, path in photos)
    start, load = time.time(), os.getloadavg()
    machine, mine = rest.busy_seconds()
    subprocess.run([f"{a.bin}/tbm_bench", "--memory", "fresh", "--photos", os.devnull, "--work",
                    a.work, "--repetitions", str(a.repetitions), "--search", listing,
                    "--search-percents", ",".join(map(str, PERCENTS)),
                    "--benchmark_filter=^(Encode|Search):", f"--benchmark_out={out}",
                    "--benchmark_out_format=json"], check=True, stdout=subprocess.DEVNULL)
    machine_after, mine_after = rest.busy_seconds()
    cases = {}
    for b in json.load(open(out))["benchmarks"]:
        kind, label, d, *percent = b["run_name"].split("/")[0].split(":")
        case = cases.setdefault(f"{label}:{d}", {"label": label, "d": d, "searches": {}})
        entry = case if kind == "Encode" else case["searches"].setdefault(percent[0], {})
        if b.get("error_occurred"):
            entry["error"] = b["error_message"]
        elif b.get("aggregate_name") == "min":
            entry.update({k: v for k, v in b.items() if k in (
                "bytes", "pixels", "encodes", "quality", "limit", "none_fits", "exact")},
                ms=b["real_time"])
    took = time.time() - start
    return {"cases": list(cases.values()), "repetitions": a.repetitions, "load": load,
            "others": max(0, machine_after - machine - (mine_after - mine)) / took,
            "minutes": took / 60, "ceiling": CEILING}


def within(a):
    """The rest of a batch within a limit, a share of the first photo's copy at
    half size and the ceiling (a third, or with --quick's small photos, whose
    colour profile takes much of their copies, a half), beside the same batch
    without one."""
    first = next(x.strip() for x in open(a.rest) if x.strip())
    log = f"{a.work}/within-first.jsonl"
    open(log, "w").close()
    subprocess.run([f"{a.bin}/tbm_convert", "convert", "program", first, "2", log], check=True)
    copy = json.loads(open(log).readline())["bytes"]
    kb = copy // a.within_share // 1024
    r = rest.measure(a, [f"now:2:{WORKERS}", f"within:2:{WORKERS}"], within_kb=kb)
    r.update(kb=kb, first_copy=copy, share=a.within_share)
    return r


def searches(s):
    """(case, percent, search) for every search measured."""
    return [(c, p, x) for c in s.get("cases", []) for p, x in c["searches"].items()
            if "ms" in x and c.get("ms")]


def targets(s):
    """Rows of the Targets table: target, measured, held; a search that failed
    fails them all."""
    done = searches(s or {})
    if not done:
        return []
    asked = sum(len(c["searches"]) for c in s["cases"])
    failed = f"; {asked - len(done)} of {asked} searches failed" if len(done) < asked else ""
    encodes = [x["encodes"] for _, _, x in done]
    worst = max(done, key=lambda t: t[2]["encodes"])
    exact = sum(bool(x["exact"]) for _, _, x in done)
    what = (f"the search within {', '.join(f'{p} %' for p in PERCENTS)} of a photo's file size, "
            f"ceiling {CEILING}, {len({c['label'] for c in s['cases']})} photos at full and half "
            f"size")
    return [(f"{what}: full encodes ≤ 4 on average", f"{statistics.mean(encodes):.2f}{failed}",
             statistics.mean(encodes) <= 4 and not failed),
            (f"{what}: full encodes ≤ 8 at worst",
             f"{worst[2]['encodes']:.0f} ({worst[0]['label']} at 1/{worst[0]['d']}, "
             f"{worst[1]} %){failed}", max(encodes) <= 8 and not failed),
            (f"{what}: each answer fits the limit and the quality above it does not (or is "
             f"above the ceiling; quality 1 does not fit where none does)",
             f"{exact} of {asked}", exact == asked)]


SEARCH = """## The search behind "at most N KB"

The photos above but the codec's test images (the wallpapers and the photos made here), at full \
and half size, with limits of {percents} of the photo's file size and the ceiling {ceiling}, as \
`Conversion::EncodeWithin` searches for a copy that takes at most so many bytes: the quality it \
found, the full encodes it took (`QualitySearch::encodes`; the sample's encodes, every 8th band \
of 8 rows, are not counted), and its time as a multiple of one encode at {ceiling} of the same \
pixels. One `tbm_bench` process decodes each photo at each size once, then times the encode at \
{ceiling} and each search, each the best of {repetitions} in a row (`Encode:` and `Search:`). \
The conversion is the dialog's: the encode's copy and the codec's blocks stay warm from one \
encode to the next, as from one "Output Quality" opening to the next, while each search takes \
its sample and its second copy fresh from the kernel, as the program gives them back after every \
search. "Exact": the answer's copy fits, and the quality above it, encoded again after the timing, \
does not (or is above the ceiling). The load average was {load[0]:.2f} (1 minute) as these runs \
began, and the machine's other processes kept {others:.2f} of its cores busy meanwhile \
({minutes:.1f} minutes).

"""


def section(s, w):
    text = ""
    done = searches(s or {})
    if done:
        rows = []
        for c in s["cases"]:
            for n, (p, x) in enumerate(c["searches"].items()):
                head = (c["label"], SIZES[c["d"]], f"{c.get('pixels', 0) / 1e6:.1f}",
                        ms(c.get("ms"))) if n == 0 else ("", "", "", "")
                if "ms" not in x or not c.get("ms"):
                    rows.append(head + (f"{p} %", x.get("error", "failed")) + ("",) * 6)
                    continue
                rows.append(head + (f"{p} %", num(int(x["limit"])),
                                    "none fits" if x["none_fits"] else f"{x['quality']:.0f}",
                                    num(int(x["bytes"])), f"{x['encodes']:.0f}", ms(x["ms"]),
                                    ratio(x["ms"] / c["ms"]), "yes" if x["exact"] else "**no**"))
        text += SEARCH.format(percents=", ".join(f"{p} %" for p in PERCENTS), ceiling=CEILING,
                              repetitions=s["repetitions"], load=s["load"], others=s["others"],
                              minutes=s["minutes"])
        text += table(("Photo", "Size", "MP", f"encode at {CEILING}, ms", "Limit", "limit bytes",
                       "quality", "copy bytes", "encodes", "search ms", "× encode", "exact"),
                      rows, "ll")
        summary = []
        for name, d in (("full", "1"), ("half", "2"), ("all", None)):
            part = [(c, x) for c, _, x in done if d is None or c["d"] == d]
            e, t = [x["encodes"] for _, x in part], [x["ms"] / c["ms"] for c, x in part]
            summary.append((name, len(part), f"{statistics.mean(e):.2f}", f"{max(e):.0f}",
                            ratio(statistics.mean(t)), ratio(max(t))))
        text += table(("Searches", "count", "encodes, mean", "encodes, worst", "× encode, mean",
                       "× encode, worst"), summary, "l")
    return text + within_section(w)


WITHIN = """## The rest of a batch within a limit

The batch of "The rest of a batch on worker threads", {count} photos of {width}x{height}, at \
half size on {workers} workers, once as there (the first photo saved at {ceiling}) and once with \
"at most {kb} KB" typed \
in the first photo's "Output Quality" ({kb} KB: {share} of the first photo's copy at half size \
and quality {ceiling}, {copy} bytes, rounded down), its search saved as shown with "Same for the \
rest" checked, so that each of the {rest} photos of the rest searches for its own quality up to \
{ceiling}. Each run a process of its own, round by round, as above: {runs} rounds{more}; the \
load average was {load[0]:.2f} (1 minute) as these runs began, and beside a run the other \
processes kept {others:.2f} cores busy (median; the most, {most:.2f}). Medians and least in ms \
per photo over the quiet runs; "×" is the time against the same batch without the limit.

"""


def within_section(w):
    f = rest.Rest(w)
    plain, limited = f"now:2:{WORKERS}", f"within:2:{WORKERS}"
    if not f.runs:
        return ""
    others = [x["others"] for runs in f.runs.values() for x in runs]
    text = WITHIN.format(count=w["photos"], width=w["width"], height=w["height"], workers=WORKERS,
                         ceiling=CEILING, kb=w["kb"], copy=num(w["first_copy"]),
                         share={2: "half", 3: "a third"}.get(w["share"], f"1/{w['share']}"),
                         rest=w["photos"] - 1, runs=w["asked"],
                         more=f", then more for {w['limit']:.0f} minutes at most while either had "
                              f"fewer quiet runs" if w["limit"] else "",
                         load=w["load"], others=statistics.median(others), most=max(others))
    rows = []
    for c, name in ((plain, "no limit"), (limited, f"at most {w['kb']} KB")):
        peak, highest = f.peaks(c)
        if not f.ok(c):
            failed = next((x.get("error") for x in f.runs[c] if x.get("error")), None)
            rows.append((name, f"failed: {failed or 'no run'}", *[""] * 4,
                         f"{mib(peak)} / {mib(highest)}", f.quiet(c)))
            continue
        rows.append((name, ms(f.median(c)), ms(f.least(c)),
                     ratio(f.median(c) / f.median(plain) if f.median(plain) else 0),
                     ms(f.median(c, "total")),
                     ms(f.least(c, "total")), f"{mib(peak)} / {mib(highest)}", f.quiet(c)))
    return text + table(("Run", "rest, median", "rest, min", "×", "whole batch, median",
                         "whole batch, min", "peak MiB", "quiet runs"), rows, "l")
