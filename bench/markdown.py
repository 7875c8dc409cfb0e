"""How the report writes numbers and tables."""


def ms(x):
    return "-" if not x else f"{x:.3f}" if x < 1 else f"{x:.1f}" if x < 100 else f"{x:.0f}"


def ratio(r):
    return "-" if not r else f"{r:.2f}" if r < 10 else f"{r:.1f}"


def num(n):
    return f"{n:,}".replace(",", " ") if n else "-"


def pct(f):
    return f"{f * 100:.1f} %"


def mib(b):
    return f"{b / 2**20:.1f}"


def table(head, rows, left="ll"):
    """Columns marked "l" in `left` align left, the others right."""
    aligns = ("---" if left[i:i + 1] == "l" else "---:" for i in range(len(head)))
    return "\n".join(["| " + " | ".join(head) + " |", "|" + "|".join(aligns) + "|"] +
                     ["| " + " | ".join(map(str, r)) + " |" for r in rows]) + "\n\n"


def cell(text):
    return text.replace("|", "\\|")


def at(p, d):
    return f"{p['label']} at 1/{d}"


def mp(p):
    return f"{p['info']['width'] * p['info']['height'] / 1e6:.1f}"
