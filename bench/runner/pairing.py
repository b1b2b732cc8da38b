"""The pairing check's cost per image: its choice among 15 queued triggers
and the commit, on a seeded check."""

import os

import procs
import results

PART = "1 Stamping"


def measure(build, quick):
    images = 200000 if quick else 2000000
    status, out, err = procs.run([os.path.join(build, "bench", "measure", "bench_pairing_cost"),
                                  str(images)], timeout=300)
    figure = f"pairing check per image, 15 queued triggers (mean of {images})"
    if status != 0:
        return [results.failed(PART, figure, (err or out).strip()[:200])]
    ns = float(out.split(",")[0])
    return [results.below(PART, figure, ns / 1000.0, "µs", 10)]
