"""Command round trips to an idle server: camera connected, acquisition
off."""

import os

import procs
import results
import round_trip
from session import Session

PART = "3 Command round trip"
COUNT = 1000


def measure(build, run_dir):
    """Returns (rows, samples in ms)."""
    session = Session(build, os.path.join(run_dir, "idle"))
    out = os.path.join(run_dir, "rtt_idle.csv")
    try:
        if not session.start():
            return [results.failed(PART, "idle", session.error)], []
        client = round_trip.start_client(build, session.port, COUNT, 120, out)
        procs.wait_until(lambda: client.poll() is not None, 150, 0.1)
        status = procs.stop(client)
    finally:
        session.stop()
    ms = round_trip.samples(out)
    if status != 0 or not ms:
        return [results.failed(PART, "idle", round_trip.client_error(out) or "no samples")], ms
    p50, p99, worst = round_trip.summary(ms)
    return [
        results.Row(PART, f"idle, {len(ms)} requests: p50", p50, "ms"),
        results.below(PART, f"idle, {len(ms)} requests: p99", p99, "ms", 2),
        results.Row(PART, f"idle, {len(ms)} requests: max", worst, "ms"),
    ], ms
