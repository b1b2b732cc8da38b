"""Trigger spacing: the server fires at a fixed interval into the rig's
trigger line. The error of a spacing is |spacing - interval|, measured two
ways: from the rig's log (the host clock when each trigger byte arrived, in
microseconds) and from the server's own "Sending Trigger after N ms." lines
(whole milliseconds, truncated; the time from the previous trigger's send
to this pass's timer)."""

import os

import procs
import results
import server_log
import stats
from session import Session

PART = "4 Trigger spacing"


def _errors(spacings, interval):
    return [abs(s - interval) for s in spacings]


def run(build, run_dir, interval, count, quick, replay):
    """Runs count triggers at interval ms; returns (rows, rig spacings).
    The rig replays the small shot in folder replay: rendering one for every
    trigger would take the machine's cores just as the next trigger is due,
    and so delay the rig's own timestamp of it."""
    label = f"{interval} ms x {count}{' (quick)' if quick else ''}"
    folder = os.path.join(run_dir, f"spacing-{interval}")
    session = Session(build, folder, rig_options=["--replay", replay],
                      camera={"fileprefix": "images/T_", "interval": interval})
    os.makedirs(session.path("images"), exist_ok=True)
    try:
        if not session.start():
            return [results.failed(PART, label, session.error)], []
        if session.ctl("acquire", 1) is None:
            return [results.failed(PART, label, "acquire 1 was not answered")], []
        limit = count * interval / 1000.0 * 2 + 30
        got = procs.wait_until(lambda: len(session.rig_rows("trigger")) >= count, limit, 0.02)
        session.ctl("acquire", 0)
        procs.wait_until(lambda: len(server_log.saved_names(session.log())) >=
                         len(session.rig_rows("trigger")), 30)
        triggers = session.rig_rows("trigger")
        log = session.log()
    finally:
        session.stop()
    if not got:
        return [results.failed(PART, label, f"only {len(triggers)} triggers arrived")], []

    times = [server_log.utc_us(r["utc"]) / 1000.0 for r in triggers[:count]]
    rig = [b - a for a, b in zip(times, times[1:])]
    passes = server_log.trigger_passes(log)
    # The first pass counts from the thread's start, not from a trigger.
    server = [p[0] for p in passes[1:count] if p[2]]
    skipped = sum(1 for p in passes[:count] if not p[2])
    samples = [["rig", i + 1, f"{s:.4f}", f"{abs(s - interval):.4f}"] for i, s in enumerate(rig)]
    samples += [["server", i + 1, f"{s:.0f}", f"{abs(s - interval):.0f}"]
                for i, s in enumerate(server)]
    results.write_samples(os.path.join(run_dir, f"spacing_{interval}.csv"),
                          ["source", "spacing", "spacing_ms", "error_ms"], samples)

    rows = []
    for source, spacings, drift in (
            ("rig log", rig, times[-1] - times[0] - (len(times) - 1) * interval),
            ("server log", server, sum(server) - len(server) * interval)):
        if not spacings:
            rows.append(results.failed(PART, f"{label}, {source}", "no spacings found"))
            continue
        errors = _errors(spacings, interval)
        judged = interval == 100 and source == "rig log"
        name = f"{label}, {source}:"
        mean_error, p99, worst = stats.mean(errors), stats.percentile(errors, 99), max(errors)
        if judged:
            rows.append(results.below(PART, f"{name} mean error", mean_error, "ms", 0.3))
        else:
            rows.append(results.Row(PART, f"{name} mean error", mean_error, "ms"))
        rows.append(results.Row(PART, f"{name} p99 error", p99, "ms"))
        if judged:
            rows.append(results.below(PART, f"{name} max error", worst, "ms", 2))
        else:
            rows.append(results.Row(PART, f"{name} max error", worst, "ms"))
        rows.append(results.Row(PART, f"{name} drift over {len(spacings)} spacings", drift, "ms"))
        if source == "rig log":
            # The typical pass, apart from the late ones: the lateness every
            # pass adds by re-arming after its trigger.
            rows.append(results.Row(PART, f"{name} median of spacing - interval",
                                    stats.median([s - interval for s in spacings]), "ms"))
    if skipped:
        rows.append(results.Row(PART, f"{label}: passes without a trigger (queue full)", skipped))
    return rows, rig
