"""The figures the report is made of, from bench/run.py's results, in ms: the
statistics hyperfine and Google Benchmark computed, and the medians of what the
fresh processes logged."""
import math
import statistics

SCALES = ("1", "2", "4")
SCALE_NAMES = {"1": "Full", "2": "Half", "4": "Quarter"}
REF, WARM = "reference", "reference, warm memory"
STANDARD, STANDARD_WARM = "reference, standard tables", "reference, standard tables, warm memory"
TOOLS = ("program", REF, WARM, STANDARD, STANDARD_WARM, "djpeg|cjpeg", "convert", "vipsthumbnail")
MIB = 1024 * 1024
SLACK = 8 * MIB  # code, stacks and the codec's own working memory


def geomean(values):
    values = [v for v in values if v]
    return math.exp(sum(map(math.log, values)) / len(values)) if values else 0


def pixels(p):
    return p["info"]["width"] * p["info"]["height"]


def coefficients(width, height, components, luma_h, luma_v):
    """A whole image's quantized coefficients as libjpeg holds them: per
    component its 8x8 blocks padded to whole MCUs, 128 bytes each."""
    total = 0
    for c in range(components):
        h, v = (luma_h, luma_v) if c == 0 else (1, 1)
        across, down = -(-width * h // (luma_h * 8)), -(-height * v // (luma_v * 8))
        total += -(-across // h) * h * -(-down // v) * v * 128
    return total


class Figures:
    def __init__(self, results):
        self.r, self.photos = results, results["photos"]
        self.large = [p for p in self.photos if pixels(p) >= 1e6]
        self.small = [p for p in self.photos if pixels(p) < 1e6]
        self.largest = max(self.photos, key=pixels)
        self.near_3mp = min(self.photos, key=lambda p: abs(pixels(p) - 3e6))

    def bench(self, memory, name, stat="median", field="real_time"):
        """A Google Benchmark statistic (its own unit: µs for the header read), or 0."""
        entry = self.r[memory].get(name, {})
        return 0 if "error" in entry else entry.get(stat, entry.get("value", {})).get(field, 0)

    def touch_us(self):
        pages = self.bench("fresh", "FirstTouch", field="pages")
        return self.bench("fresh", "FirstTouch") * 1e3 / pages if pages else 0

    def run(self, p, d, tool):
        """Median and min ms, peak bytes (None: not its own) and output bytes."""
        if tool in (WARM, STANDARD_WARM):
            name = f"Reference:{p['label']}:{d}:{'optimized' if tool == WARM else 'standard'}"
            return (self.bench("warm", name), self.bench("warm", name, "min"), None,
                    p["scales"][d][REF if tool == WARM else STANDARD]["bytes"])
        h = p["scales"][d][tool]
        return (h["median"] * 1e3, h["min"] * 1e3, h["peak"], h["bytes"]) if h["ok"] else None

    def ratio(self, p, d, tool, base=REF, column=0):
        a, b = self.run(p, d, tool), self.run(p, d, base)
        return a[column] / b[column] if a and b and a[column] and b[column] else 0

    def per_scale(self, photos, d, tool, base=REF):
        """The geometric mean of the median ratios, and the worst ratio and photo."""
        ratios = [(self.ratio(p, d, tool, base), p) for p in photos if self.ratio(p, d, tool, base)]
        return geomean([x[0] for x in ratios]), max(ratios, key=lambda x: x[0], default=(0, None))

    def logged(self, p, scales, tool, value, stat=statistics.median):
        """A statistic over the fresh processes' logs of `value`, in ns."""
        values = [value(x) for d in scales for x in p["scales"][d][tool]["children"]]
        return stat(values) if values else 0

    def phase(self, p, d, tool, field):
        return self.logged(p, d, tool, lambda x: x[field]) / 1e6

    def faults(self, p, d, tool):
        return self.logged(p, d, tool, lambda x: x["faults"], lambda v: v[-1])

    def openings(self, p, d):
        """The dialogs' waits: first, again, first warm, again warm, standard warm."""
        name = f"Openings:{p['label']}:{d}"
        return (self.phase(p, d, "program", "encode"), self.bench("fresh", name),
                self.bench("warm", name, field="first_ms"), self.bench("warm", name),
                self.bench("warm", name, field="standard_ms"))

    def second_opening(self, p, d):
        """The median of the second opening over the standard tables' encode timed
        right after it, first opening fresh and warm."""
        name = f"Openings:{p['label']}:{d}"
        return tuple(self.bench(m, name, field="over_standard") for m in ("fresh", "warm"))

    def memory_limit(self, p, d):
        """Input + pixel block + the copy in whole 1 MiB regions + the encoder's
        coefficients (+ the decoder's, for a progressive photo) + slack."""
        i = p["info"]
        w, h = i["width"] // int(d), i["height"] // int(d)
        decoder = coefficients(i["width"], i["height"], i["components"], *i["sampling"])
        return (i["bytes"] + (w * 3 + (-w * 3) % 4) * h + coefficients(w, h, 3, 2, 1) + SLACK +
                -(-p["scales"][d]["program"]["bytes"] // MIB) * MIB + i["progressive"] * decoder)

    def tables_cost(self, d):
        """Optimized over standard tables on the large photos: encode and whole
        conversion time factors, fresh and warm; peak bytes added; bytes saved."""
        def warm(p, tables):
            return self.bench("warm", f"Reference:{p['label']}:{d}:{tables}", field="encode_ms")
        scales = [p["scales"][d] for p in self.large]
        return (geomean([self.phase(p, d, REF, "encode") / self.phase(p, d, STANDARD, "encode")
                         for p in self.large if self.phase(p, d, STANDARD, "encode")]),
                geomean([warm(p, "optimized") / warm(p, "standard") for p in self.large
                         if warm(p, "standard")]),
                geomean([self.ratio(p, d, REF, STANDARD) for p in self.large]),
                geomean([self.ratio(p, d, WARM, STANDARD_WARM) for p in self.large]),
                statistics.mean([s[REF]["peak"] - s[STANDARD]["peak"] for s in scales] or [0]),
                statistics.mean([1 - s[REF]["bytes"] / s[STANDARD]["bytes"] for s in scales
                                 if s[STANDARD]["bytes"]] or [0]))
