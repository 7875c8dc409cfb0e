#!/usr/bin/env python3
"""Writes docs/benchmarks.md and its chart's data from bench/run.py's results."""
import argparse
import datetime
import json
import os
import platform
import statistics

from figures import (MIB, REF, SCALES, SCALE_NAMES, SLACK, STANDARD, STANDARD_WARM, TOOLS, WARM,
                     Figures, coefficients, geomean)
import method


def ms(x):
    return "-" if not x else f"{x:.3f}" if x < 1 else f"{x:.1f}" if x < 100 else f"{x:.0f}"


def ratio(r):
    return "-" if not r else f"{r:.2f}" if r < 10 else f"{r:.1f}"


def num(n):
    return f"{n:,}".replace(",", " ") if n else "-"


def pct(f):
    return f"{f * 100:.1f} %"


def mib(b):
    return f"{b / MIB:.1f}"


def cell(text):
    return str(text).replace("|", "\\|")


def table(head, rows, left=2):
    """Columns after the first `left` (or those marked "l" in it) align right."""
    left = "l" * left + "r" * len(head) if isinstance(left, int) else left
    aligns = ["---" if left[i] == "l" else "---:" for i in range(len(head))]
    lines = ["| " + " | ".join(head) + " |", "|" + "|".join(aligns) + "|"]
    return "\n".join(lines + ["| " + " | ".join(map(str, r)) + " |" for r in rows]) + "\n\n"


def sampling(i):
    return ("gray" if i["components"] == 1 else
            {(1, 1): "4:4:4", (2, 1): "4:2:2", (2, 2): "4:2:0"}.get(tuple(i["sampling"]),
                                                                  "x".join(map(str, i["sampling"]))))


def at(p, d):
    return f"{p['label']} at 1/{d}"


def targets(f, notes):
    rows = []

    def per_scale(target, tool, base, limit, photos, explain=False):
        measured, held = [], True
        for d in SCALES:
            mean, (worst, wp) = f.per_scale(photos, d, tool, base)
            if not mean:
                continue
            measured.append(f"{SCALE_NAMES[d]} {ratio(mean)} (worst {ratio(worst)}, {wp['label']})")
            held &= mean <= limit
            for p in photos if explain and mean > limit else []:
                if f.ratio(p, d, tool, base) > limit:
                    notes.append(
                        f"{at(p, d)}: the program takes {ms(f.run(p, d, tool)[0])} ms, {cell(base)} "
                        f"{ms(f.run(p, d, base)[0])} ms; the reference {ms(f.run(p, d, REF)[0])} ms, "
                        f"and {ms(f.run(p, d, WARM)[0])} ms in memory it has touched before. The "
                        f"program's conversion touches {num(f.faults(p, d, 'program'))} fresh pages.")
        rows.append((target, "; ".join(measured) or "-", held and bool(measured)))

    small = [p for p in f.photos if p not in f.large]
    per_scale("program ÷ reference ≤ 1.05 at every scale", "program", REF, 1.05, f.large)
    per_scale("the same on the photos under 1 MP (the codec's test images)", "program", REF, 1.05,
              small)
    per_scale("faster than djpeg\\|cjpeg at every scale (program ÷ djpeg\\|cjpeg < 1)", "program",
              "djpeg|cjpeg", 0.9999, f.large, True)
    per_scale("faster than vipsthumbnail at every scale (program ÷ vipsthumbnail < 1)", "program",
              "vipsthumbnail", 0.9999, f.large, True)
    mean, (worst, wp) = f.per_scale(f.large, "2", "program", "convert")
    rows.append(("≥ 5× faster than convert at half scale (convert ÷ program)",
                 f"{ratio(1 / mean)} (least {ratio(1 / worst)}, {wp['label']})" if mean else "-",
                 bool(mean) and 1 / worst >= 5))
    same = [p for p in f.photos if p.get("copy_same")]
    for p in f.photos:
        if not p.get("copy_same"):
            notes.append(f"{p['label']} at 1/1: the program's copy differs from the reference's "
                         f"file; {num(f.run(p, '1', 'program')[3])} bytes against "
                         f"{num(f.run(p, '1', REF)[3])}.")
    rows.append(("the program's copy is byte for byte the reference's at full scale (optimized "
                 "tables, orientation, RGB profile)", f"{len(same)} of {len(f.photos)} photos",
                 len(same) == len(f.photos)))
    big = f.largest()
    fresh, warm = f.second_opening(big, "1")
    mp = lambda p: f"{p['info']['width'] * p['info']['height'] / 1e6:.1f}"
    rows.append(("a second \"Output Quality\" opening ≤ 2.5 × the standard-table encode (same "
                 "pixels and process, warm), full scale, largest photo, first opening fresh or warm",
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
    a, b = f.nearest_3mp(), big
    ia, ib = a["header_instructions"], b["header_instructions"]
    ra, rb = (f.bench("fresh", f"HeaderRead:{p['label']}") for p in (a, b))
    pa, pb = (f.header_in_path(p, statistics.median) for p in (a, b))
    grows = ib / ia if ia else 0
    pixels = b["info"]["width"] * b["info"]["height"] / (a["info"]["width"] * a["info"]["height"])
    rows.append(("the header read does not grow with pixel count",
                 f"{a['label']} ({mp(a)} MP): {num(ia)} instructions, {ms(ra)} µs repeated, median "
                 f"{ms(pa)} µs in the path; {b['label']} ({mp(b)} MP): {num(ib)} instructions, "
                 f"{ms(rb)} µs repeated, median {ms(pb)} µs in the path. For {ratio(pixels)}× the "
                 f"pixels: {grows:.3f}× the instructions, {ratio(rb / ra if ra else 0)}× the "
                 f"repeated time, {ratio(pb / pa if pa else 0)}× the time in the path",
                 0 < grows < 1.01 and ra and rb / ra < 1.5))
    plain, padded = f.bench("fresh", "Padded:0"), f.bench("fresh", "Padded:150000")
    rows.append(("a 480x320 photo padded with 150 000 empty APP1 segments (600 KB) decodes in ≤ 3× "
                 "the time of the same photo without them",
                 f"{ms(padded)} ms against {ms(plain)} ms: {ratio(padded / plain if plain else 0)}×",
                 bool(plain and padded) and padded / plain <= 3))
    kept, ref = f.bench("fresh", "Batch:kept-blocks"), f.bench("warm", "Batch:reference-warm")
    alone = f.bench("fresh", "Batch:program")
    rows.append(("twenty photos of about 9 MP at half size, \"Same for the rest\" after the first: "
                 "time per photo ≤ 1.15 × the reference's in warm memory",
                 (f"{ms(kept)} ms per photo, {ratio(kept / ref)}×" if kept and ref else
                  "not measured: the batch that keeps the blocks is not built yet") +
                 f"; without kept blocks {ms(alone)} ms, {ratio(alone / ref if ref else 0)}× the "
                 f"reference's {ms(ref)} ms", bool(kept and ref) and kept / ref <= 1.15))
    return rows


def write_targets(out, f):
    notes = []
    rows = [(t, m, "yes" if h else "**no**") for t, m, h in targets(f, notes)]
    out.write("## Targets\n\n" + method.TARGETS + table(("Target", "Measured", "Held"), rows, 3))
    if notes:
        out.write("Where a target does not hold:\n\n" + "".join(f"- {n}\n" for n in notes) + "\n")


def write_findings(out, f):
    counts = [c["program"] / c[REF] for d in f.r["instructions"].values() for c in d.values()
              if c["program"] and c[REF]]
    faults = [(f.faults(p, d, "program") / f.faults(p, d, REF), at(p, d)) for p in f.large
              for d in SCALES if f.faults(p, d, REF)]
    saved = max((1 - f.run(p, d, WARM)[0] / f.run(p, d, REF)[0] for p in f.large for d in SCALES
                 if f.run(p, d, WARM)[0] and f.run(p, d, REF)), default=0)
    big, touch = f.largest(), f.touch_us()
    full, quarter = f.tables_cost("1"), f.tables_cost("4")
    first, again, first_warm, again_warm, _ = f.openings(big, "1")
    fresh, warm = f.second_opening(big, "1")
    text = method.FINDINGS.format(
        low=min(counts, default=0), high=max(counts, default=0),
        faults=max(faults, default=(0, "-"))[0], most=max(faults, default=(0, "-"))[1],
        touch=touch, saved=pct(saved), big=big["label"],
        coef=mib(coefficients(big["info"]["width"], big["info"]["height"], 3, 2, 1)),
        stream=mib(max(p["scales"][d]["djpeg|cjpeg"]["peak"] for p in f.photos for d in SCALES)),
        saved_full=pct(full[5]), saved_quarter=pct(quarter[5]),
        t=[ratio(x) for x in full[:4] + quarter[:4]], first=ms(first), again=ms(again),
        fresh=ratio(fresh), first_warm=ms(first_warm), again_warm=ms(again_warm), warm=ratio(warm))
    out.write("## Findings\n\n" + text + "\n")


def write_results(out, f):
    out.write("## Photos\n\n" + table(
        ("Photo", "Kind", "Source", "Size", "MP", "Bytes", "Coding", "Sampling", "Exif orientation",
         "ICC profile"),
        [(p["label"], p["kind"], p["source"], f"{i['width']}x{i['height']}",
          f"{i['width'] * i['height'] / 1e6:.1f}", num(i["bytes"]),
          "progressive" if i["progressive"] else "baseline", sampling(i),
          f"{i['orientation']} ({'carried' if 2 <= i['orientation'] <= 8 else 'not carried'})"
          if i["orientation"] else "-",
          f"{i['icc_space']}, {num(i['icc_bytes'])} bytes "
          f"({'carried' if i['icc_space'] == 'RGB' else 'not carried'})" if i["icc_bytes"] else "-")
         for p in f.photos for i in [p["info"]]] +
        [(p["label"], p["kind"], p["source"], "-", "-", num(p["bytes"]),
          "not measured: the codec cannot read it", "-", "-", "-") for p in f.r["skipped"]],
        "llllrrllll"))
    out.write("## Results by scale\n\n")
    for d in SCALES:
        rows = []
        for p in f.photos:
            for n, tool in enumerate(TOOLS):
                run = f.run(p, d, tool)
                size = f"{p['info']['width'] // int(d)}x{p['info']['height'] // int(d)}"
                head = (p["label"] if n == 0 else "", size if n == 0 else "", cell(tool))
                if not run or not run[0]:
                    rows.append(head + ("failed", "", "", "", "", ""))
                    continue
                peak = "-" if run[2] is None else mib(run[2])
                if tool == "program":
                    peak += f" (limit {mib(f.memory_limit(p, d))})"
                rows.append(head + (ratio(f.ratio(p, d, tool)), ratio(f.ratio(p, d, tool, REF, 1)),
                                    ms(run[0]), ms(run[1]), peak, num(run[3])))
        out.write(f"### {SCALE_NAMES[d]} scale (1/{d})\n\n" + table(
            ("Photo", "Output size", "Tool", "× ref", "× ref (min)", "median ms", "min ms",
             "peak MiB", "output bytes"), rows, 3))


def write_details(out, f):
    rows = []
    for p in f.photos:
        for d in SCALES:
            o = f.openings(p, d)
            fresh, warm = f.second_opening(p, d)
            rows.append((p["label"] if d == "1" else "", f"1/{d}",
                         ms(f.size_wait(p)) if d == "1" else "", *map(ms, o),
                         f"{ratio(fresh)} / {ratio(warm)}"))
    out.write("## The dialogs' waits\n\n" + method.WAITS + table(
        ("Photo", "Scale", "Output Size", "Output Quality, first", "again", "first, warm",
         "again, warm", "standard, warm", "again ÷ standard"), rows))
    phases = ("read", "params", "decode", "encode", "write")
    rows = [(p["label"] if d == "1" else "", f"1/{d}",
             *(ms(f.phase(p, d, "program", x)) for x in phases), ms(f.other(p, d)),
             ms(f.phase(p, d, "program", "total")), num(f.faults(p, d, "program")),
             ms(f.phase(p, d, REF, "decode")), ms(f.phase(p, d, REF, "encode")),
             num(f.faults(p, d, REF))) for p in f.photos for d in SCALES]
    out.write("## The program's path, phase by phase\n\n" + method.PHASES + table(
        ("Photo", "Scale", "read", "header read", "decode", "encode", "write", "other", "total",
         "page faults", "reference decode", "reference encode", "reference page faults"), rows))
    if f.r["instructions"]:
        rows = [(label, f"1/{d}", num(c["program"]), num(c[REF]),
                 f"{c['program'] / c[REF]:.4f}" if c[REF] else "-", num(c[STANDARD]),
                 f"{c[REF] / c[STANDARD]:.4f}" if c[STANDARD] else "-")
                for label, scales in f.r["instructions"].items() for d, c in scales.items()]
        out.write("## Instructions (callgrind)\n\n" + method.INSTRUCTIONS + table(
            ("Photo", "Scale", "program", "reference", "program ÷ reference",
             "reference, standard tables", "reference ÷ standard tables"), rows))
    rows = [(p["label"], f"{p['info']['width'] * p['info']['height'] / 1e6:.1f}",
             num(p["info"]["bytes"]), ms(f.header_in_path(p, min)),
             ms(f.header_in_path(p, statistics.median)), ms(f.bench("fresh", f"HeaderRead:{p['label']}")),
             num(p["header_instructions"])) for p in f.photos]
    out.write("## The header read behind the \"Output Size\" dialog\n\n" + method.HEADER + table(
        ("Photo", "MP", "Bytes", "min µs", "median µs", "repeated µs", "instructions"), rows))
    rows = []
    for d in SCALES:
        c = f.tables_cost(d)
        counts = ", ".join(f"{s[d][REF] / s[d][STANDARD]:.4f}× ({label})"
                           for label, s in f.r["instructions"].items() if s[d][STANDARD])
        rows.append((SCALE_NAMES[d], *(f"{ratio(x)}×" for x in c[:4]), counts or "-",
                     f"{mib(c[4])} MiB", pct(c[5])))
    out.write("## Huffman tables made for each photo\n\n" + method.TABLES + table(
        ("Scale", "encode, fresh", "encode, warm", "conversion, fresh", "conversion, warm",
         "instructions", "peak memory added", "bytes saved"), rows, 1))
    rows = []
    for p in f.photos:
        for d in SCALES:
            b = {t: (f.run(p, d, t) or (0, 0, 0, 0))[3] for t in TOOLS}
            rows.append((p["label"] if d == "1" else "", f"1/{d}", num(b[STANDARD]), num(b[REF]),
                         pct(1 - b[REF] / b[STANDARD]) if b[STANDARD] else "-", num(b["program"]),
                         num(b["convert"]), num(b["vipsthumbnail"])))
    out.write(method.BYTES + table(("Photo", "Scale", "standard tables", "optimized tables",
                                    "saved", "program", "convert", "vipsthumbnail"), rows))


def write_hostile_and_batch(out, f):
    rows = []
    for name, entry in sorted(f.r["fresh"].items()):
        if name.startswith("Padded:"):
            segments = int(name.split(":")[1])
            t = f.bench("fresh", name, "value")
            rows.append((segments, num(int(entry["value"].get("file_bytes", 0))),
                         ms(t) if t else entry.get("error", "failed"),
                         ratio(t / f.bench("fresh", "Padded:0", "value")) if t else "-"))
    rows = [(num(r[0]) if r[0] else "0", *r[1:]) for r in sorted(rows)]
    out.write("## A photo padded with empty segments\n\n" + method.PADDED +
              table(("Empty APP1 segments", "File bytes", "decode ms", "× unpadded"), rows, 0))
    ref = f.bench("warm", "Batch:reference-warm")
    rows = [(how, ms(t) if t else f.r[memory].get(name, {}).get("error", "failed"),
             ratio(t / ref) if t and ref else "-")
            for how, memory, name in (("reference, warm memory", "warm", "Batch:reference-warm"),
                                      ("program, one photo at a time", "fresh", "Batch:program"),
                                      ("program, kept blocks", "fresh", "Batch:kept-blocks"))
            for t in [f.bench(memory, name)]]
    out.write("## Twenty photos at half size\n\n" + method.BATCH +
              table(("Run", "ms per photo", "× reference, warm memory"), rows, 1))


def main():
    a = argparse.ArgumentParser()
    for flag in ("results", "versions", "win32-memory", "report", "chart-data", "chart"):
        a.add_argument("--" + flag, required=True)
    a = a.parse_args()
    f = Figures(json.load(open(a.results)))
    with open(a.report, "w") as out:
        cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                    if line.startswith("model name")), "unknown")
        system = next((line.split("=", 1)[1].strip().strip('"') for line in open("/etc/os-release")
                       if line.startswith("PRETTY_NAME")), "unknown")
        memory = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") / 2**30
        touch = f.touch_us()
        out.write(method.HEAD.format(
            cpu=cpu, cores=os.cpu_count(), memory=memory, system=system,
            kernel=f"{platform.release()} {platform.machine()}", touch=touch,
            per_mib=touch * 256 / 1e3, minutes=f.r["minutes"],
            date=datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            packages="".join(f"  - {v}" for v in open(a.versions) if v.strip())))
        write_targets(out, f)
        write_findings(out, f)
        out.write(f"## Time relative to the reference\n\n![Median time relative to the reference, "
                  f"geometric mean over the photos of at least 1 MP, by scale]({a.chart})\n\n")
        out.write(method.MEASURED.format(runs=f.r["runs"], small_runs=f.r["small_runs"],
                                         repetitions=f.r["repetitions"],
                                         spawner=mib(f.r["spawner_peak"]), slack=SLACK // MIB))
        write_results(out, f)
        write_details(out, f)
        write_hostile_and_batch(out, f)
        win32 = open(a.win32_memory).read() if os.path.exists(a.win32_memory) else ""
        out.write(win32.rstrip("\n") + "\n" if win32 else "")
    chart = ("program", REF, WARM, STANDARD, "djpeg|cjpeg", "convert", "vipsthumbnail")
    with open(a.chart_data, "w") as data:
        data.write("scale\t" + "\t".join(f'"{t}"' for t in chart) + "\n")
        for d in SCALES:
            data.write(SCALE_NAMES[d] + "".join(
                f"\t{geomean([f.ratio(p, d, t) for p in f.large]):.4f}" for t in chart) + "\n")


if __name__ == "__main__":
    main()
