#!/usr/bin/env python3
"""Writes docs/benchmarks.md and its chart's data from bench/run.py's results."""
import argparse
import datetime
import json
import os
import platform

import method
import rest
import search
from markdown import at, cell, mib, mp, ms, num, pct, ratio, table
from figures import (MIB, REF, SCALES, SCALE_NAMES, SLACK, STANDARD, STANDARD_WARM, TOOLS, WARM,
                     Figures, coefficients, geomean)


PHASES = ("read", "params", "decode", "encode", "write")


def PARAMS_US(x):
    return x["params"] / 1e3


def targets(f, notes):
    rows = []

    def per_scale(target, base, limit, photos, explain=False):
        measured, held = [], True
        for d in SCALES:
            mean, (worst, wp) = f.per_scale(photos, d, "program", base)
            if mean:
                measured.append(f"{SCALE_NAMES[d]} {ratio(mean)} (worst {ratio(worst)}, "
                                f"{wp['label']})")
                held &= mean <= limit
            for p in photos if explain and mean > limit else []:
                if f.ratio(p, d, "program", base) > limit:
                    notes.append(
                        f"{at(p, d)}: the program takes {ms(f.run(p, d, 'program')[0])} ms, "
                        f"{cell(base)} {ms(f.run(p, d, base)[0])} ms; the reference "
                        f"{ms(f.run(p, d, REF)[0])} ms, and {ms(f.run(p, d, WARM)[0])} ms in memory "
                        f"it has touched before. The program's conversion touches "
                        f"{num(f.faults(p, d, 'program'))} fresh pages.")
        rows.append((target, "; ".join(measured) or "-", held and bool(measured)))

    per_scale("program ÷ reference ≤ 1.05 at every scale", REF, 1.05, f.large)
    per_scale("the same on the photos under 1 MP (the codec's test images)", REF, 1.05, f.small)
    per_scale("faster than djpeg\\|cjpeg at every scale (program ÷ djpeg\\|cjpeg < 1)",
              "djpeg|cjpeg", 0.9999, f.large, True)
    per_scale("faster than vipsthumbnail at every scale (program ÷ vipsthumbnail < 1)",
              "vipsthumbnail", 0.9999, f.large, True)
    mean, (worst, wp) = f.per_scale(f.large, "2", "program", "convert")
    rows.append(("≥ 5× faster than convert at half scale (convert ÷ program)",
                 f"{ratio(1 / mean)} (least {ratio(1 / worst)}, {wp['label']})" if mean else "-",
                 bool(mean) and 1 / worst >= 5))
    for p in f.photos:
        if not p["copy_same"]:
            notes.append(f"{p['label']} at 1/1: the program's copy differs from the reference's "
                         f"file; {num(f.run(p, '1', 'program')[3])} bytes against "
                         f"{num(f.run(p, '1', REF)[3])}.")
    same = sum(p["copy_same"] for p in f.photos)
    rows.append(("the program's copy is byte for byte the reference's at full scale (optimized "
                 "tables, orientation, RGB profile)", f"{same} of {len(f.photos)} photos",
                 same == len(f.photos)))
    big = f.largest
    fresh, warm = f.second_opening(big, "1")
    rows.append(("a second \"Output Quality\" opening ≤ 2.5 × the standard-table encode (same "
                 "pixels, warm), full scale, largest photo, first opening fresh or warm",
                 f"{big['label']} ({mp(big)} MP): {ratio(fresh)} (first opening fresh), "
                 f"{ratio(warm)} (warm)", 0 < fresh <= 2.5 and 0 < warm <= 2.5))
    within, worst = 0, (0, "")
    for p in f.photos:
        for d in SCALES:
            peak, limit = f.run(p, d, "program")[2], f.memory_limit(p, d)
            within += peak <= limit
            if peak > limit:
                notes.append(f"{at(p, d)}: peak memory {mib(peak)} MiB over the limit of "
                             f"{mib(limit)} MiB; the reference peaks at {mib(f.run(p, d, REF)[2])}.")
            worst = max(worst, (peak / limit, f"{at(p, d)}: {mib(peak)} of {mib(limit)} MiB"))
    rows.append(("peak memory ≤ input + pixel block + copy in whole output blocks + coefficient "
                 "buffers (the encoder's; the decoder's too for a progressive photo) + 8 MiB",
                 f"{within} of {len(f.photos) * 3} conversions within; highest share "
                 f"{pct(worst[0])} ({worst[1]})", within == len(f.photos) * 3))
    a, b = f.near_3mp, big
    (ra, pa), (rb, pb) = ((f.bench("fresh", "HeaderRead:" + p["label"]),
                           f.logged(p, SCALES, "program", PARAMS_US)) for p in (a, b))
    rows.append(("the header read does not grow with pixel count",
                 f"{a['label']} ({mp(a)} MP): {ms(ra)} µs repeated, median {ms(pa)} µs in the "
                 f"path; {b['label']} ({mp(b)} MP): {ms(rb)} µs repeated, median {ms(pb)} µs in "
                 f"the path. For {ratio(float(mp(b)) / float(mp(a)))}× the pixels: "
                 f"{ratio(rb / ra if ra else 0)}× the repeated time, "
                 f"{ratio(pb / pa if pa else 0)}× the time in the path", 0 < rb < 1.5 * ra))
    plain, padded = f.bench("fresh", "Padded:0", "value"), f.bench("fresh", "Padded:150000", "value")
    rows.append(("a 480x320 photo padded with 150 000 empty APP1 segments (600 KB) decodes in ≤ 3× "
                 "the time of the same photo without them", f"{ms(padded)} ms against {ms(plain)} "
                 f"ms: {ratio(padded / plain if plain else 0)}×", 0 < padded <= 3 * plain))
    kept, alone = f.bench("fresh", "Batch:kept-blocks"), f.bench("fresh", "Batch:program")
    ref = f.bench("warm", "Batch:reference-warm")
    rows.append(("twenty photos of about 9 MP at half size, \"Same for the rest\" after the first: "
                 "time per photo ≤ 1.15 × the reference's in warm memory",
                 (f"{ms(kept)} ms per photo, {ratio(kept / ref)}×" if kept and ref else
                  "not measured") +
                 f"; without kept blocks {ms(alone)} ms, {ratio(alone / ref if ref else 0)}× the "
                 f"reference's {ms(ref)} ms", 0 < kept <= 1.15 * ref))
    rows += rest.targets(f.r.get("rest"))
    rows += search.targets(f.r.get("search"))
    return [(t, m, "-" if h is None else "yes" if h else "**no**") for t, m, h in rows]


def findings(f, chart):
    faults = max(((f.faults(p, d, "program") / f.faults(p, d, REF), at(p, d)) for p in f.large
                  for d in SCALES if f.faults(p, d, REF)), default=(0, "-"))
    saved = max((1 - f.run(p, d, WARM)[0] / f.run(p, d, REF)[0] for p in f.large for d in SCALES
                 if f.run(p, d, WARM)[0] and f.run(p, d, REF)), default=0)
    big, full, quarter = f.largest, f.tables_cost("1"), f.tables_cost("4")
    first, again, first_warm, again_warm, _ = f.openings(big, "1")
    fresh, warm = f.second_opening(big, "1")
    return method.FINDINGS.format(
        faults=faults[0],
        most=faults[1], touch=f.touch_us(), saved=pct(saved), big=big["label"],
        coef=mib(coefficients(big["info"]["width"], big["info"]["height"], 3, 2, 1)),
        stream=mib(max(p["scales"][d]["djpeg|cjpeg"]["peak"] for p in f.photos for d in SCALES)),
        saved_full=pct(full[5]), saved_quarter=pct(quarter[5]),
        t=[ratio(x) for x in full[:4] + quarter[:4]], first=ms(first), again=ms(again),
        fresh=ratio(fresh), first_warm=ms(first_warm), again_warm=ms(again_warm), warm=ratio(warm),
        chart=chart)


def photos(f):
    def sampling(i):
        names = {(1, 1): "4:4:4", (2, 1): "4:2:2", (2, 2): "4:2:0"}
        h, v = i["sampling"]
        return "gray" if i["components"] == 1 else names.get((h, v), f"{h}x{v}")

    rows = [(p["label"], p["kind"], p["source"], f"{i['width']}x{i['height']}", mp(p),
             num(i["bytes"]), "progressive" if i["progressive"] else "baseline", sampling(i),
             f"{i['orientation']} ({'' if 2 <= i['orientation'] <= 8 else 'not '}carried)"
             if i["orientation"] else "-",
             f"{i['icc_space']}, {num(i['icc_bytes'])} bytes "
             f"({'' if i['icc_space'] == 'RGB' else 'not '}carried)" if i["icc_bytes"] else "-")
            for p in f.photos for i in [p["info"]]]
    rows += [(p["label"], p["kind"], p["source"], "-", "-", num(p["bytes"]),
              "not measured: the codec cannot read it", "-", "-", "-") for p in f.r["skipped"]]
    return "## Photos\n\n" + table(("Photo", "Kind", "Source", "Size", "MP", "Bytes", "Coding",
                                    "Sampling", "Exif orientation", "ICC profile"), rows,
                                   "llll  llll")


def results(f, d):
    rows = []
    for p in f.photos:
        for n, tool in enumerate(TOOLS):
            run = f.run(p, d, tool)
            head = (p["label"], f"{p['info']['width'] // int(d)}x{p['info']['height'] // int(d)}"
                    ) if n == 0 else ("", "")
            if not run or not run[0]:
                rows.append(head + (cell(tool), "failed", "", "", "", "", ""))
                continue
            peak = "-" if run[2] is None else mib(run[2])
            peak += f" (limit {mib(f.memory_limit(p, d))})" if tool == "program" else ""
            rows.append(head + (cell(tool), ratio(f.ratio(p, d, tool)),
                                ratio(f.ratio(p, d, tool, REF, 1)), ms(run[0]), ms(run[1]), peak,
                                num(run[3])))
    return f"### {SCALE_NAMES[d]} scale (1/{d})\n\n" + table(
        ("Photo", "Output size", "Tool", "× ref", "× ref (min)", "median ms", "min ms", "peak MiB",
         "output bytes"), rows, "lll")


def details(f):
    by_scale = [(p, d, p["label"] if d == "1" else "", f"1/{d}") for p in f.photos for d in SCALES]
    text = "## The dialogs' waits\n\n" + method.WAITS + table(
        ("Photo", "Scale", "Output Size", "Output Quality, first", "again", "first, warm",
         "again, warm", "standard, warm", "again ÷ standard"),
        [(label, s, ms(f.logged(p, SCALES, "program", lambda x: x["read"] + x["params"]) / 1e6)
          if d == "1" else "", *map(ms, f.openings(p, d)),
          " / ".join(map(ratio, f.second_opening(p, d)))) for p, d, label, s in by_scale])
    text += "## The program's path, phase by phase\n\n" + method.PHASES + table(
        ("Photo", "Scale", "read", "header read", "decode", "encode", "write", "other", "total",
         "page faults", "reference decode", "reference encode", "reference page faults"),
        [(label, s, *(ms(f.phase(p, d, "program", x)) for x in PHASES),
          ms(f.logged(p, d, "program", lambda x: x["total"] - sum(x[k] for k in PHASES)) / 1e6),
          ms(f.phase(p, d, "program", "total")), num(f.faults(p, d, "program")),
          ms(f.phase(p, d, REF, "decode")), ms(f.phase(p, d, REF, "encode")),
          num(f.faults(p, d, REF))) for p, d, label, s in by_scale])
    text += "## The header read behind the \"Output Size\" dialog\n\n" + method.HEADER + table(
        ("Photo", "MP", "Bytes", "min µs", "median µs", "repeated µs"),
        [(p["label"], mp(p), num(p["info"]["bytes"]), ms(f.logged(p, SCALES, "program", PARAMS_US, min)),
          ms(f.logged(p, SCALES, "program", PARAMS_US)),
          ms(f.bench("fresh", f"HeaderRead:{p['label']}")))
         for p in f.photos], "l")
    text += "## Huffman tables made for each photo\n\n" + method.TABLES + table(
        ("Scale", "encode, fresh", "encode, warm", "conversion, fresh", "conversion, warm",
         "peak memory added", "bytes saved"),
        [(SCALE_NAMES[d], *(f"{ratio(x)}×" for x in c[:4]), f"{mib(c[4])} MiB", pct(c[5]))
         for d in SCALES for c in [f.tables_cost(d)]], "l")
    rows = []
    for p, d, label, s in by_scale:
        b = {t: (f.run(p, d, t) or (0, 0, 0, 0))[3] for t in TOOLS}
        rows.append((label, s, num(b[STANDARD]), num(b[REF]),
                     pct(1 - b[REF] / b[STANDARD]) if b[STANDARD] else "-", num(b["program"]),
                     num(b["convert"]), num(b["vipsthumbnail"])))
    return text + method.BYTES + table(("Photo", "Scale", "standard tables", "optimized tables",
                                        "saved", "program", "convert", "vipsthumbnail"), rows)


def padded_and_batch(f):
    plain = f.bench("fresh", "Padded:0", "value")
    rows = sorted((int(name.split(":")[1]), num(int(e["value"]["file_bytes"])),
                   ms(f.bench("fresh", name, "value")) or e.get("error", "failed"),
                   ratio(f.bench("fresh", name, "value") / plain if plain else 0))
                  for name, e in f.r["fresh"].items() if name.startswith("Padded:"))
    text = method.PADDED + table(("Empty APP1 segments", "File bytes", "decode ms",
                                  "× unpadded"), [(num(r[0]) if r[0] else "0", *r[1:])
                                                  for r in rows], "")
    ref = f.bench("warm", "Batch:reference-warm")
    return text + method.BATCH + table(("Run", "ms per photo", "× reference, warm memory"), [
        (how, ms(t) if t else f.r[memory].get(name, {}).get("error", "failed"),
         ratio(t / ref if ref else 0))
        for how, memory, name in (("reference, warm memory", "warm", "Batch:reference-warm"),
                                  ("program, one photo at a time", "fresh", "Batch:program"),
                                  ("program, kept blocks", "fresh", "Batch:kept-blocks"))
        for t in [f.bench(memory, name)]], "l")


def main():
    a = argparse.ArgumentParser()
    for flag in ("results", "versions", "win32-memory", "win32-budget", "report", "chart-data",
                 "chart"):
        a.add_argument("--" + flag, required=True)
    a = a.parse_args()
    f = Figures(json.load(open(a.results)))
    notes = []
    text = method.HEAD.format(
        cpu=next((x.split(":", 1)[1].strip() for x in open("/proc/cpuinfo")
                  if x.startswith("model name")), "unknown"), cores=os.cpu_count(),
        memory=os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") / 2**30,
        system=platform.freedesktop_os_release()["PRETTY_NAME"],
        kernel=f"{platform.release()} {platform.machine()}", touch=f.touch_us(),
        per_mib=f.touch_us() * 256 / 1e3, minutes=f.r["minutes"],
        load=f.r.get("load", [0, 0, 0]), others=f.r.get("others", 0),
        date=datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        packages="".join(f"  - {v}" for v in open(a.versions) if v.strip()))
    text += table(("Target", "Measured", "Held"), targets(f, notes), "lll")
    text += "".join(["Where a target does not hold:\n\n"] + [f"- {n}\n" for n in notes] +
                    ["\n"]) if notes else ""
    text += findings(f, a.chart) + method.MEASURED.format(
        runs=f.r["runs"], small_runs=f.r["small_runs"], repetitions=f.r["repetitions"],
        spawner=mib(f.r["spawner_peak"]), slack=SLACK // MIB)
    text += photos(f) + "## Results by scale\n\n" + "".join(results(f, d) for d in SCALES)
    text += details(f) + padded_and_batch(f) + rest.section(f.r.get("rest"))
    text += search.section(f.r.get("search"), f.r.get("within"))
    for measured in (a.win32_memory, a.win32_budget):
        if os.path.exists(measured):
            text += open(measured).read().rstrip("\n") + "\n\n"
    open(a.report, "w").write(text.rstrip("\n") + "\n")
    chart = ("program", REF, WARM, STANDARD, "djpeg|cjpeg", "convert", "vipsthumbnail")
    with open(a.chart_data, "w") as data:
        data.write("scale\t" + "\t".join(f'"{t}"' for t in chart) + "\n")
        for d in SCALES:
            data.write(SCALE_NAMES[d] + "".join(
                f"\t{geomean([f.ratio(p, d, t) for p in f.large]):.4f}" for t in chart) + "\n")


if __name__ == "__main__":
    main()
