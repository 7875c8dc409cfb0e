#!/usr/bin/env python3
"""Runs the benchmark's measurements and gathers them into one JSON file.

hyperfine times whole conversions, each in a fresh process: the program's and
the reference's (tbm_convert, which also logs its own phase times, page faults
and peak memory) and the peers'. Google Benchmark measures the rest inside one
process (tbm_bench), once with fresh memory and once with warm; the rest of a
batch on worker threads runs in tbm_bench processes of its own (bench/rest.py),
and so does the search behind "at most N KB" (bench/search.py).
scripts/bench runs this, then bench/report.py.
"""
import argparse
import json
import os
import re
import subprocess
import time

import rest
import search

CHILDREN = {"program": "program", "reference": "reference",
            "reference, standard tables": "reference-standard"}


def pipelines(a, photo, d):
    """The peers' commands for one photo and scale, as pipes, and their outputs."""
    w, h, path = photo["info"]["width"] // d, photo["info"]["height"] // d, photo["path"]
    out = {t: f"{a.work}/{re.sub('[^a-z]+', '-', t)}-{photo['label']}-1_{d}.jpg"
           for t in ("reference", "reference, standard tables", "djpeg|cjpeg", "convert",
                     "vipsthumbnail")}
    resize = ["-resize", f"{w}x{h}!"] if d > 1 else []
    return {"djpeg|cjpeg": [["djpeg", "-scale", f"1/{d}", path],
                            ["cjpeg", "-quality", "90", "-sample", "2x1"]],
            "convert": [["convert", path, *resize, "-quality", "90", "-sampling-factor", "2x1",
                         out["convert"]]],
            "vipsthumbnail": [["vipsthumbnail", path, "-s", f"{w}x{h}!", "-o",
                               out["vipsthumbnail"] + "[Q=90,subsample-mode=on]"]]}, out


def peak_memory(pipe, out):
    """Peak resident bytes of a peer's processes, summed over its pipe, in one
    run of its own; each includes this script's size when it started them."""
    procs, stdin = [], subprocess.DEVNULL
    with open(out, "wb") as sink:
        for i, argv in enumerate(pipe):
            last = i == len(pipe) - 1
            procs.append(subprocess.Popen(argv, stdin=stdin, stderr=subprocess.DEVNULL,
                                          stdout=sink if last and len(pipe) > 1 else
                                          subprocess.PIPE if not last else subprocess.DEVNULL))
            stdin = procs[-1].stdout
        for p in procs[:-1]:
            p.stdout.close()
        return sum(os.wait4(p.pid, 0)[2].ru_maxrss * 1024 for p in procs)


def measure_photo(a, photo):
    info = photo["info"]
    runs = a.small_runs if info["width"] * info["height"] < 1_000_000 else a.runs
    log, export = f"{a.work}/children.jsonl", f"{a.work}/hyperfine.json"
    photo["scales"] = {}
    for d in (1, 2, 4):
        open(log, "w").close()
        pipes, out = pipelines(a, photo, d)
        commands = {t: f"{a.convert} convert {c} {photo['path']} {d} {log} {out.get(t, '')}"
                    for t, c in CHILDREN.items()}
        commands.update({t: " ".join(p[0]) for t, p in pipes.items() if len(p) == 1})
        commands["djpeg|cjpeg"] = "sh -c '{} | {} > {}'".format(
            *(" ".join(x) for x in pipes["djpeg|cjpeg"]), out["djpeg|cjpeg"])
        subprocess.run(["hyperfine", "-N", "-i", "--style", "none", "--warmup", "1", "--runs",
                        str(runs), "--export-json", export,
                        *(x for t, c in commands.items() for x in ("-n", t, c))],
                       check=True, stdout=subprocess.DEVNULL)
        scale = {r["command"]: {"ok": not any(r["exit_codes"]), "median": r["median"],
                                "min": r["min"]}
                 for r in json.load(open(export))["results"]}
        lines = [json.loads(x) for x in open(log)]
        for tool, child in CHILDREN.items():
            s = scale[tool]
            s["children"] = [x for x in lines if x["tool"] == child][-runs:]  # after the warm-up
            s["ok"] = s["ok"] and all(x["ok"] for x in s["children"])
            s["peak"] = max(x["peak"] for x in s["children"])
            s["bytes"] = s["children"][-1]["bytes"] if s["ok"] else 0
        for tool, pipe in pipes.items():
            scale[tool]["peak"] = peak_memory(pipe, out[tool])
            scale[tool]["bytes"] = os.path.getsize(out[tool])
        if d == 1:
            folder, name = os.path.split(photo["path"])
            copy = os.path.join(folder, name.replace(".", "X.", 1) if "." in name else name + "X")
            photo["copy_same"] = open(copy, "rb").read() == open(out["reference"], "rb").read()
        photo["scales"][str(d)] = scale


def in_process(a, memory):
    out = f"{a.work}/gbench-{memory}.json"
    padded = ["--padded", a.padded, "--segments", a.segments] if memory == "fresh" else []
    subprocess.run([f"{a.bin}/tbm_bench", "--memory", memory, "--photos", a.measured, "--work",
                    a.work, "--repetitions", str(a.repetitions), "--batch", a.batch, *padded,
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL)
    found = {}
    for b in json.load(open(out))["benchmarks"]:
        entry = found.setdefault(b["run_name"].split("/")[0], {})
        if b.get("error_occurred"):
            entry["error"] = b["error_message"]
        entry[b.get("aggregate_name", "value")] = b
    return found


def measure_search(a, result):
    """The search on the photos but the codec's test images, and the rest of a
    batch within a limit."""
    print("bench/run.py: the search within a limit", flush=True)
    result["search"] = search.measure(a, [(p["label"], p["path"]) for p in result["photos"]
                                          if p["kind"] != "test"])
    print("bench/run.py: the rest of a batch within a limit", flush=True)
    result["within"] = search.within(a)


def main():
    p = argparse.ArgumentParser()
    for flag in ("bin", "photos", "batch", "padded", "segments", "work", "out", "rest",
                 "rest-sizes", "rest-workers"):
        p.add_argument("--" + flag, required=True)
    for flag in ("runs", "small-runs", "repetitions", "rest-runs"):
        p.add_argument("--" + flag, type=int, required=True)
    p.add_argument("--rest-minutes", type=float, default=0,
                   help="how long the rest's rounds may go on for quiet runs")
    p.add_argument("--before", default="", help="the bench build of the program before workers")
    p.add_argument("--within-share", type=int, default=3,
                   help="the rest's limit: the first photo's copy divided by this")
    p.add_argument("--rest-only", action="store_true",
                   help="measure the rest of a batch again, into the results there are")
    p.add_argument("--search-only", action="store_true",
                   help="measure the search and the rest within a limit again, likewise")
    a = p.parse_args()
    a.convert, a.measured, start = f"{a.bin}/tbm_convert", f"{a.work}/measured.tsv", time.time()
    if a.rest_only or a.search_only:
        result = json.load(open(a.out))
        if a.rest_only:
            print("bench/run.py: the rest of a batch", flush=True)
            result["rest"] = rest.measure(a)
        else:
            measure_search(a, result)
        json.dump(result, open(a.out, "w"), indent=1)
        return
    result = {"photos": [], "skipped": [], "load": os.getloadavg()}
    machine, mine = rest.busy_seconds()
    for line in open(a.photos):
        photo = dict(zip(("label", "kind", "source", "path"), line.rstrip("\n").split("\t")))
        probe = subprocess.run([a.convert, "probe", photo["path"]], capture_output=True, text=True)
        if probe.returncode != 0:
            result["skipped"].append(dict(photo, bytes=os.path.getsize(photo["path"])))
            continue
        v = probe.stdout.split()
        photo["info"] = dict(zip(("width", "height", "bytes", "progressive", "components"),
                                 map(int, v[:5])), sampling=[int(v[5]), int(v[6])],
                             orientation=int(v[7]), icc_bytes=int(v[8]),
                             icc_space="" if v[9] == "-" else v[9])
        print(f"bench/run.py: {photo['label']}", flush=True)
        measure_photo(a, photo)
        result["photos"].append(photo)
    with open(a.measured, "w") as f:
        f.writelines(f"{ph['label']}\t{ph['path']}\n" for ph in result["photos"])
    print("bench/run.py: in-process measurements", flush=True)
    result.update(fresh=in_process(a, "fresh"), warm=in_process(a, "warm"))
    print("bench/run.py: the rest of a batch", flush=True)
    result["rest"] = rest.measure(a)
    measure_search(a, result)
    machine_after, mine_after = rest.busy_seconds()
    result["others"] = (machine_after - machine - (mine_after - mine)) / (time.time() - start)
    result.update(runs=a.runs,
                  small_runs=a.small_runs, repetitions=a.repetitions,
                  minutes=(time.time() - start) / 60,
                  spawner_peak=int(open("/proc/self/status").read().split("VmHWM:")[1].split()[0])
                  * 1024)
    json.dump(result, open(a.out, "w"), indent=1)


if __name__ == "__main__":
    main()
