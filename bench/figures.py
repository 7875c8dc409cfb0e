"""The figures the report is made of, from bench/run.py's results: times in
milliseconds, statistics as hyperfine and Google Benchmark computed them."""
import math
import statistics

SCALES = ("1", "2", "4")
SCALE_NAMES = {"1": "Full", "2": "Half", "4": "Quarter"}
REF = "reference"
WARM = "reference, warm memory"
STANDARD = "reference, standard tables"
STANDARD_WARM = "reference, standard tables, warm memory"
TOOLS = ("program", REF, WARM, STANDARD, STANDARD_WARM, "djpeg|cjpeg", "convert", "vipsthumbnail")
MIB = 1024 * 1024
SLACK = 8 * MIB  # code, stacks and the codec's own working memory
REGION = MIB  # the output block's region


def geomean(values):
    values = [v for v in values if v]
    return math.exp(sum(map(math.log, values)) / len(values)) if values else 0


class Figures:
    def __init__(self, results):
        self.r = results
        self.photos = results["photos"]
        self.large = [p for p in self.photos if p["info"]["width"] * p["info"]["height"] >= 1e6]
        self.small = [p for p in self.photos if p not in self.large]

    def bench(self, memory, name, stat="median", field="real_time"):
        """A Google Benchmark aggregate in ms (µs for the header read), or 0."""
        entry = self.r[memory].get(name, {})
        return entry.get(stat, entry.get("value", {})).get(field, 0) if "error" not in entry else 0

    def touch_us(self):
        """The first touch of one page, in µs."""
        pages = self.bench("fresh", "FirstTouch", field="pages")
        return self.bench("fresh", "FirstTouch") * 1e3 / pages if pages else 0

    def run(self, p, d, tool):
        """median and min ms, peak bytes (None: not its own) and output bytes."""
        if tool in (WARM, STANDARD_WARM):
            name = f"Reference:{p['label']}:{d}:{'standard' if tool == STANDARD_WARM else 'optimized'}"
            fresh = p["scales"][d][STANDARD if tool == STANDARD_WARM else REF]
            return (self.bench("warm", name), self.bench("warm", name, "min"), None,
                    fresh["bytes"])
        h = p["scales"][d][tool]
        if not h["ok"]:
            return None
        return h["median"] * 1e3, h["min"] * 1e3, h["peak"], h["bytes"]

    def ratio(self, p, d, tool, base=REF, column=0):
        a, b = self.run(p, d, tool), self.run(p, d, base)
        return a[column] / b[column] if a and b and a[column] and b[column] else 0

    def per_scale(self, photos, d, tool, base=REF):
        """The geometric mean of the median ratios and the worst photo."""
        ratios = [(self.ratio(p, d, tool, base), p) for p in photos]
        ratios = [x for x in ratios if x[0]]
        return geomean([x[0] for x in ratios]), max(ratios, key=lambda x: x[0], default=(0, None))

    def phase(self, p, d, tool, field):
        """The children's median of one phase, in ms."""
        c = p["scales"][d][tool]["children"]
        return statistics.median(x[field] for x in c) / 1e6 if c else 0

    def other(self, p, d):
        c = p["scales"][d]["program"]["children"]
        return statistics.median(x["total"] - sum(x[k] for k in ("read", "params", "decode", "encode",
                                                                 "write")) for x in c) / 1e6

    def faults(self, p, d, tool):
        c = p["scales"][d][tool]["children"]
        return c[-1]["faults"] if c else 0

    def size_wait(self, p):
        """Milliseconds before "Output Size": the file read and the header read."""
        return statistics.median(x["read"] + x["params"] for d in SCALES
                                 for x in p["scales"][d]["program"]["children"]) / 1e6

    def header_in_path(self, p, stat):
        values = [x["params"] / 1e3 for d in SCALES for x in p["scales"][d]["program"]["children"]]
        return stat(values) if values else 0

    def openings(self, p, d):
        """The dialogs' waits: first, again, first warm, again warm, standard warm."""
        name = f"Openings:{p['label']}:{d}"
        return (self.phase(p, d, "program", "encode"), self.bench("fresh", name),
                self.bench("warm", name, field="first_ms"), self.bench("warm", name),
                self.bench("warm", name, field="standard_ms"))

    def second_opening(self, p, d):
        """The second opening over standard tables, first opening fresh and warm."""
        _, again, _, again_warm, standard = self.openings(p, d)
        return (again / standard, again_warm / standard) if standard else (0, 0)

    def largest(self):
        return max(self.photos, key=lambda p: p["info"]["width"] * p["info"]["height"])

    def nearest_3mp(self):
        return min(self.photos, key=lambda p: abs(p["info"]["width"] * p["info"]["height"] - 3e6))

    def memory_limit(self, p, d):
        """Input + pixel block + the copy in whole regions + the encoder's
        coefficients (+ the decoder's, for a progressive photo) + slack."""
        i, n = p["info"], int(d)
        w, h = i["width"] // n, i["height"] // n
        pixel_block = (w * 3 + (-w * 3) % 4) * h
        output = -(-p["scales"][d]["program"]["bytes"] // REGION) * REGION
        decoder = coefficients(i["width"], i["height"], i["components"], *i["sampling"])
        return (i["bytes"] + pixel_block + output + coefficients(w, h, 3, 2, 1) + SLACK +
                (decoder if i["progressive"] else 0))

    def tables_cost(self, d):
        """Optimized over standard tables on the large photos: encode and
        conversion time factors, fresh and warm, peak bytes added, bytes saved."""
        def factor(a, b):
            return geomean([a(p) / b(p) for p in self.large if a(p) and b(p)])
        warm = [lambda p, t=t: self.bench("warm", f"Reference:{p['label']}:{d}:{t}",
                                          field="encode_ms") for t in ("optimized", "standard")]
        saved = [1 - self.run(p, d, REF)[3] / self.run(p, d, STANDARD)[3] for p in self.large
                 if self.run(p, d, REF) and self.run(p, d, STANDARD)]
        added = [p["scales"][d][REF]["peak"] - p["scales"][d][STANDARD]["peak"] for p in self.large]
        return (factor(lambda p: self.phase(p, d, REF, "encode"),
                       lambda p: self.phase(p, d, STANDARD, "encode")),
                factor(*warm),
                geomean([self.ratio(p, d, REF, STANDARD) for p in self.large]),
                geomean([self.ratio(p, d, WARM, STANDARD_WARM) for p in self.large]),
                statistics.mean(added) if added else 0, statistics.mean(saved) if saved else 0)


def coefficients(width, height, components, luma_h, luma_v):
    """A whole image's quantized coefficients as libjpeg holds them: per
    component its 8x8 blocks padded to whole MCUs, 128 bytes each."""
    total = 0
    for c in range(components):
        h, v = (luma_h, luma_v) if c == 0 else (1, 1)
        across = -(-width * h // (luma_h * 8))
        down = -(-height * v // (luma_v * 8))
        total += -(-across // h) * h * -(-down // v) * v * 128
    return total
