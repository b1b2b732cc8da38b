"""Command round trips from a client on loopback to a real skerrow: the
client program and the summary of its samples."""

import os

import procs
import stats

# Requests are spread over the server's ~10 ms command polling.
MAX_GAP_MS = 10


def start_client(build, port, count, seconds, out):
    return procs.start([os.path.join(build, "bench", "measure", "bench_round_trip"), str(port),
                        str(count), str(seconds), str(MAX_GAP_MS), out],
                       stdout=out + ".out", stderr=out + ".err")


def samples(out):
    """The round trips in ms that the client wrote."""
    try:
        with open(out) as f:
            return [float(line.split(",")[1]) for line in list(f)[1:] if line.strip()]
    except OSError:
        return []


def client_error(out):
    try:
        with open(out + ".err") as f:
            return f.read().strip()
    except OSError:
        return ""


def summary(ms):
    return stats.median(ms), stats.percentile(ms, 99), max(ms) if ms else None
