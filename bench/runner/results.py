"""The rows of the bench's one table: each figure, its target and whether it
was met. A row's result is PASS or FAIL where there is a target, info where
there is none, and ERROR where the figure could not be measured."""

import csv

PASS, FAIL, INFO, ERROR = "PASS", "FAIL", "info", "ERROR"


class Row:
    def __init__(self, part, figure, value, unit="", target="", result=INFO, note=""):
        self.part = part
        self.figure = figure
        self.value = value
        self.unit = unit
        self.target = target
        self.result = result
        self.note = note

    def value_text(self):
        if self.value is None:
            return "-"
        if isinstance(self.value, float):
            magnitude = abs(self.value)
            digits = 3 if magnitude < 10 else 2 if magnitude < 100 else 1 if magnitude < 1000 else 0
            text = f"{self.value:.{digits}f}"
        else:
            text = str(self.value)
        return f"{text} {self.unit}".strip()


def below(part, figure, value, unit, limit, note=""):
    """A row whose target is value < limit."""
    if value is None:
        return Row(part, figure, None, unit, f"< {limit:g} {unit}".strip(), ERROR, note)
    result = PASS if value < limit else FAIL
    return Row(part, figure, value, unit, f"< {limit:g} {unit}".strip(), result, note)


def exactly(part, figure, value, wanted, note=""):
    """A row whose target is value == wanted (counts)."""
    if value is None:
        return Row(part, figure, None, "", f"= {wanted}", ERROR, note)
    return Row(part, figure, value, "", f"= {wanted}", PASS if value == wanted else FAIL, note)


def failed(part, figure, reason):
    """A figure that could not be measured."""
    return Row(part, figure, None, "", "", ERROR, reason)


def table_text(rows):
    headers = ("Part", "Figure", "Value", "Target", "Result")
    cells = [(r.part, r.figure, r.value_text(), r.target or "-", r.result) for r in rows]
    widths = [max(len(h), *(len(c[i]) for c in cells)) if cells else len(h)
              for i, h in enumerate(headers)]
    line = lambda values: "  ".join(v.ljust(w) for v, w in zip(values, widths)).rstrip()
    out = [line(headers), line(tuple("-" * w for w in widths))]
    previous = None
    for c in cells:
        shown = list(c)
        if c[0] == previous:
            shown[0] = ""
        previous = c[0]
        out.append(line(shown))
    return "\n".join(out)


def markdown_table(rows):
    out = ["| Part | Figure | Value | Target | Result |", "|---|---|---|---|---|"]
    for r in rows:
        out.append(f"| {r.part} | {r.figure} | {r.value_text()} | {r.target or '-'} | {r.result} |")
    return "\n".join(out)


def write_csv(path, rows):
    with open(path, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["part", "figure", "value", "unit", "target", "result", "note"])
        for r in rows:
            writer.writerow([r.part, r.figure, "" if r.value is None else r.value, r.unit,
                             r.target, r.result, r.note])


def write_samples(path, header, samples):
    """One CSV of raw samples: header is the column names, samples rows."""
    with open(path, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(header)
        writer.writerows(samples)
