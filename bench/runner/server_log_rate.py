"""Server-log entries per second into a file (page cache), with each entry
flushed to the operating system as it is written, and left in the stream's
buffer as before: the price of a log that a killed process cannot lose."""

import os
import shutil

import procs
import results
import stats

PART = "6 Server log"


def measure(build, run_dir, quick):
    count, rounds = (20000, 5) if quick else (100000, 15)
    folder = os.path.join(run_dir, "log")
    os.makedirs(folder, exist_ok=True)
    out = os.path.join(run_dir, "log_entries.csv")
    status, _, err = procs.run([os.path.join(build, "bench", "measure", "bench_log_entries"),
                                str(count), str(rounds), folder, out], timeout=600)
    shutil.rmtree(folder, ignore_errors=True)
    if status != 0:
        return [results.failed(PART, "log entries per second", err.strip())]
    rates = {"flushed": [], "buffered": []}
    with open(out) as f:
        for line in list(f)[1:]:
            mode, _, _, _, rate = line.strip().split(",")
            rates[mode].append(float(rate))
    flushed, buffered = stats.median(rates["flushed"]), stats.median(rates["buffered"])
    return [
        results.Row(PART, f"log entries per second to a file, each flushed (median of {rounds})",
                    f"{flushed:,.0f}", "/s"),
        results.Row(PART, f"log entries per second to a file, unflushed (median of {rounds})",
                    f"{buffered:,.0f}", "/s"),
        results.Row(PART, "cost of the flush per entry",
                    (1 / flushed - 1 / buffered) * 1e6, "us"),
    ]
