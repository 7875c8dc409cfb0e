#!/usr/bin/env python3
"""Runs the benchmark's measurements and gathers them into one JSON file.

Whole conversions, each in a fresh process, are timed by hyperfine: the
program and the reference (tbm_convert's children, which also log their own
phase times, page faults and peak memory) and the peers. The rest is measured
inside one process by Google Benchmark (tbm_bench),
once with fresh memory and once with warm. Instructions come from callgrind.
scripts/bench runs this, then bench/report.py.
"""
import argparse
import json
import os
import re
import subprocess
import time

SCALES = (1, 2, 4)
CHILDREN = {"program": "program", "reference": "reference",
            "reference, standard tables": "reference-standard"}


def photo_list(path):
    with open(path) as f:
        return [dict(zip(("label", "kind", "source", "path"), line.rstrip("\n").split("\t")))
                for line in f if line.strip()]


def commands(a, photo, d, log):
    """Every tool's command for one photo and scale, and the peers' outputs."""
    w, h = photo["info"]["width"] // d, photo["info"]["height"] // d
    path = photo["path"]
    out = {t: f"{a.work}/{re.sub('[^a-z]+', '-', t)}-{photo['label']}-1_{d}.jpg"
           for t in ("reference", "reference, standard tables", "djpeg|cjpeg", "convert",
                     "vipsthumbnail")}
    cmds = {t: f"{a.convert} convert {c} {path} {d} {log} {out.get(t, '')}".rstrip()
            for t, c in CHILDREN.items()}
    cmds["djpeg|cjpeg"] = (f"sh -c 'djpeg -scale 1/{d} {path} | "
                           f"cjpeg -quality 90 -sample 2x1 > {out['djpeg|cjpeg']}'")
    resize = f"-resize {w}x{h}! " if d > 1 else ""
    cmds["convert"] = f"convert {path} {resize}-quality 90 -sampling-factor 2x1 {out['convert']}"
    cmds["vipsthumbnail"] = (f"vipsthumbnail {path} -s {w}x{h}! "
                             f"-o {out['vipsthumbnail']}[Q=90,subsample-mode=on]")
    return cmds, out


def peer_memory(command):
    """Peak resident bytes of the peer's processes, summed over a pipe: one
    run of its own, started from here, so each includes this script's size."""
    parts = command.split(" | ") if command.startswith("sh -c") else [command]
    if len(parts) == 2:
        first, second = parts[0][len("sh -c '"):], parts[1].rstrip("'")
        second, target = second.split(" > ")
        with open(target, "wb") as sink:
            p1 = subprocess.Popen(first.split(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            p2 = subprocess.Popen(second.split(), stdin=p1.stdout, stdout=sink,
                                  stderr=subprocess.DEVNULL)
            p1.stdout.close()
            procs = [p1, p2]
    else:
        procs = [subprocess.Popen(command.split(), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)]
    return sum(os.wait4(p.pid, 0)[2].ru_maxrss * 1024 for p in procs)


def callgrind(functions, command, work):
    log = f"{work}/callgrind.log"
    toggles = [f"--toggle-collect={f}" for f in functions]
    run = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                          f"--log-file={log}", *toggles, *command], capture_output=True)
    found = re.search(r"Collected : ([\d,]+)", open(log).read()) if run.returncode == 0 else None
    return int(found.group(1).replace(",", "")) if found else 0


def x_name(path):
    folder, name = os.path.split(path)
    base, dot, rest = name.partition(".")
    return os.path.join(folder, base + "X" + dot + rest)


def measure_photo(a, photo, result):
    small = photo["info"]["width"] * photo["info"]["height"] < 1_000_000
    runs = a.small_runs if small else a.runs
    photo["scales"] = {}
    for d in SCALES:
        log = f"{a.work}/children.jsonl"
        open(log, "w").close()
        cmds, out = commands(a, photo, d, log)
        export = f"{a.work}/hyperfine.json"
        named = [x for t, c in cmds.items() for x in ("-n", t, c)]
        subprocess.run(["hyperfine", "-N", "-i", "--style", "none", "--warmup", "1", "--runs",
                        str(runs), "--export-json", export, *named],
                       check=True, stdout=subprocess.DEVNULL)
        scale = {}
        for r in json.load(open(export))["results"]:
            scale[r["command"]] = {"ok": not any(r["exit_codes"]), "times": r["times"],
                                   "median": r["median"], "min": r["min"]}
        lines = [json.loads(x) for x in open(log)]
        for tool, child in CHILDREN.items():
            # The warm-up runs logged first.
            scale[tool]["children"] = [x for x in lines if x["tool"] == child][-runs:]
            scale[tool]["ok"] &= all(x["ok"] for x in scale[tool]["children"])
            scale[tool]["peak"] = max((x["peak"] for x in scale[tool]["children"]), default=0)
            scale[tool]["bytes"] = scale[tool]["children"][-1]["bytes"] if scale[tool]["ok"] else 0
        for tool in ("djpeg|cjpeg", "convert", "vipsthumbnail"):
            scale[tool]["peak"] = peer_memory(cmds[tool])
            scale[tool]["bytes"] = os.path.getsize(out[tool]) if os.path.exists(out[tool]) else 0
        if d == 1:
            with open(x_name(photo["path"]), "rb") as p, open(out["reference"], "rb") as r:
                photo["copy_same"] = p.read() == r.read()
        photo["scales"][str(d)] = scale
    photo["header_instructions"] = callgrind(["ReadImageSize*"],
                                             [a.convert, "probe", photo["path"]], a.work)
    if photo["label"] in a.callgrind.split(","):
        result["instructions"][photo["label"]] = {
            str(d): {t: callgrind(["RunProgram*", "RunReference*"],
                                  [a.convert, "convert", c, photo["path"], str(d),
                                   f"{a.work}/callgrind.jsonl", f"{a.work}/callgrind.jpg"], a.work)
                     for t, c in CHILDREN.items()} for d in SCALES}


def in_process(a, memory):
    out = f"{a.work}/gbench-{memory}.json"
    extra = ["--padded", a.padded, "--segments", a.segments] if memory == "fresh" else []
    subprocess.run([f"{a.bin}/tbm_bench", "--memory", memory, "--photos", a.measured, "--work", a.work,
                    "--repetitions", str(a.repetitions), "--batch", a.batch, *extra,
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL)
    found = {}
    for b in json.load(open(out))["benchmarks"]:
        name = b["run_name"].split("/")[0]
        entry = found.setdefault(name, {})
        if b.get("error_occurred"):
            entry["error"] = b.get("error_message", "failed")
        key = b.get("aggregate_name", "value")
        entry[key] = {k: v for k, v in b.items()
                      if k.endswith("_ms") or k in ("real_time", "time_unit", "file_bytes", "pages",
                                                     "iterations")}
    return found


def main():
    p = argparse.ArgumentParser()
    for flag in ("bin", "photos", "batch", "padded", "segments", "work", "out", "callgrind"):
        p.add_argument("--" + flag, required=flag != "callgrind", default="")
    for flag, default in (("runs", 5), ("small-runs", 9), ("repetitions", 5)):
        p.add_argument("--" + flag, type=int, default=default)
    a = p.parse_args()
    a.convert = f"{a.bin}/tbm_convert"
    start = time.time()
    result = {"photos": [], "skipped": [], "instructions": {}}
    for photo in photo_list(a.photos):
        probe = subprocess.run([a.convert, "probe", photo["path"]], capture_output=True, text=True)
        if probe.returncode != 0:
            result["skipped"].append(dict(photo, bytes=os.path.getsize(photo["path"])))
            continue
        photo["info"] = json.loads(probe.stdout)
        print(f"bench/run.py: {photo['label']}", flush=True)
        measure_photo(a, photo, result)
        result["photos"].append(photo)
    a.measured = f"{a.work}/measured.tsv"
    with open(a.measured, "w") as f:
        f.writelines("\t".join(ph[k] for k in ("label", "kind", "source", "path")) + "\n"
                     for ph in result["photos"])
    print("bench/run.py: in-process measurements", flush=True)
    result["fresh"] = in_process(a, "fresh")
    result["warm"] = in_process(a, "warm")
    result["runs"], result["small_runs"], result["repetitions"] = a.runs, a.small_runs, a.repetitions
    result["spawner_peak"] = int(open("/proc/self/status").read().split("VmHWM:")[1].split()[0]) * 1024
    result["minutes"] = (time.time() - start) / 60
    with open(a.out, "w") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
