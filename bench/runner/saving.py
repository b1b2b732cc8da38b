"""The data procedure's gather-and-save of a 6 MB image delivered in 64 KiB
chunks, into a folder (page cache)."""

import os
import shutil

import procs
import results
import stats

PART = "2 Saving"


def measure(build, shots, run_dir, quick):
    count = 30 if quick else 200
    folder = os.path.join(run_dir, "save")
    os.makedirs(folder, exist_ok=True)
    out = os.path.join(run_dir, "save.csv")
    status, _, err = procs.run([os.path.join(build, "bench", "measure", "bench_save_image"),
                                shots[0], str(count), folder, out], timeout=600)
    shutil.rmtree(folder, ignore_errors=True)
    if status != 0:
        return [results.failed(PART, "DataProc, 64 KiB chunks to a saved file", err.strip())]
    with open(out) as f:
        ms = [float(line.split(",")[2]) for line in list(f)[1:]]
    mb = os.path.getsize(shots[0]) / 1e6
    return [
        results.below(PART, f"DataProc, {mb:.1f} MB in 64 KiB chunks, saved: median of "
                      f"{len(ms)}", stats.median(ms), "ms", 10),
        results.Row(PART, "mean / p99 / max", f"{stats.mean(ms):.2f} / "
                    f"{stats.percentile(ms, 99):.2f} / {max(ms):.2f}", "ms"),
    ]
