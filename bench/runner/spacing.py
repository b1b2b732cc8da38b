"""Trigger spacing: the server fires at a fixed interval into the rig's
trigger line. The error of a spacing is |spacing - interval|, measured two
ways: from the rig's log (the host clock when each trigger byte arrived, in
microseconds) and from the server's own "Sending Trigger after N ms." lines
(whole milliseconds, truncated; the time from the previous trigger's send
to this pass's timer). The loaded run repeats the measurement with two
CPU-bound processes, one per core of the bench machine, competing with the
server's trigger thread."""

import os
import sys

import procs
import results
import server_log
import stats
from session import Session

PART = "4 Trigger spacing"


def _errors(spacings, interval):
    return [abs(s - interval) for s in spacings]


LOADERS = 2


def _start_load():
    """Two processes that keep a core busy each, at normal priority."""
    return [procs.start([sys.executable, "-c", "while True: pass"]) for _ in range(LOADERS)]


def _raise_rig(session):
    """The rig timestamps each trigger as it arrives; under load it is
    raised to real-time priority where permitted, so that the figure is the
    server's lateness and not the rig's. False when the system refuses."""
    try:
        for task in os.listdir(f"/proc/{session.rig.pid}/task"):
            os.sched_setscheduler(int(task), os.SCHED_FIFO, os.sched_param(50))
        return True
    except (OSError, AttributeError):
        return False


def _name_ms(name):
    """The server's clock at a trigger, read just before the byte was sent,
    in ms of the day, from the name's VARNO_YYYYMMDD_hh.mm.ss.mmm."""
    try:
        clock = name.rsplit("_", 1)[1]
        hours, minutes, seconds, millis = (int(part) for part in clock.split("."))
    except (IndexError, ValueError):
        return None
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis


def run(build, run_dir, interval, count, quick, replay, loaded=False):
    """Runs count triggers at interval ms; returns (rows, rig spacings).
    The rig replays the small shot in folder replay: rendering one for every
    trigger would take the machine's cores just as the next trigger is due,
    and so delay the rig's own timestamp of it. loaded: with two CPU-bound
    processes running meanwhile."""
    label = f"{interval} ms x {count}{' (quick)' if quick else ''}"
    folder = os.path.join(run_dir, f"spacing-{interval}{'-loaded' if loaded else ''}")
    # The camera must keep up with ten shots a second: with completions on
    # later processing calls it does not, and the passes skipped on a full
    # name queue would be measured instead of the timer.
    session = Session(build, folder, rig_options=["--replay", replay],
                      module_env={"SKERROW_CAM_ASYNC": "0"},
                      camera={"fileprefix": "images/T_", "interval": interval})
    os.makedirs(session.path("images"), exist_ok=True)
    load = []
    try:
        if not session.start():
            return [results.failed(PART, label, session.error)], []
        if loaded:
            rig_raised = _raise_rig(session)
            label += (f", {LOADERS} CPU-bound processes, rig at "
                      f"{'real-time' if rig_raised else 'normal'} priority")
            load = _start_load()
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
        for child in load:
            procs.stop(child, grace=5)
        session.stop()
    if not got:
        return [results.failed(PART, label, f"only {len(triggers)} triggers arrived")], []

    times = [server_log.utc_us(r["utc"]) / 1000.0 for r in triggers[:count]]
    rig = [b - a for a, b in zip(times, times[1:])]
    passes = server_log.trigger_passes(log)
    # The first pass counts from the thread's start, not from a trigger.
    server = [p[0] for p in passes[1:count] if p[2]]
    skipped = sum(1 for p in passes[:count] if not p[2])
    # The rig's figure includes the delivery through the pseudo-terminal,
    # which the kernel's work queue does at normal priority; the names show
    # when the server sent, to the millisecond.
    sent = [_name_ms(p[1]) for p in passes[:count] if p[2]]
    sent = [t for t in sent if t is not None]
    by_name = [b - a for a, b in zip(sent, sent[1:]) if b >= a]
    samples = [["rig", i + 1, f"{s:.4f}", f"{abs(s - interval):.4f}"] for i, s in enumerate(rig)]
    samples += [["server", i + 1, f"{s:.0f}", f"{abs(s - interval):.0f}"]
                for i, s in enumerate(server)]
    results.write_samples(os.path.join(run_dir, f"spacing_{interval}"
                                       f"{'_loaded' if loaded else ''}.csv"),
                          ["source", "spacing", "spacing_ms", "error_ms"], samples)

    rows = []
    for source, spacings, drift in (
            ("rig log", rig, times[-1] - times[0] - (len(times) - 1) * interval),
            ("server log", server, sum(server) - len(server) * interval),
            ("image names", by_name, sum(by_name) - len(by_name) * interval)):
        if not spacings:
            rows.append(results.failed(PART, f"{label}, {source}", "no spacings found"))
            continue
        errors = _errors(spacings, interval)
        judged = interval == 100 and source == "rig log"
        name = f"{label}, {source}:"
        mean_error, p99, worst = stats.mean(errors), stats.percentile(errors, 99), max(errors)
        # Under load only the worst spacing has a target.
        if judged and not loaded:
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
