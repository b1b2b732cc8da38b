"""Sustained acquisition: 6 MB shots replayed by the rig at 5 images/s, the
stand-in module at a USB 2.0-like 40 MB/s, the server at a 200 ms interval.
Meanwhile a client times command round trips to the busy server, and the
server's memory and CPU time are sampled from /proc."""

import os
import time

import procs
import results
import round_trip
import server_log
from session import Session

PART = "5 Sustained acquisition"
BUSY = "3 Command round trip"
INTERVAL_MS = 200
# USB 2.0 high speed carries 35-40 MB/s of bulk data in practice. At 30 MB/s
# five 6 MB shots a second would need the whole link all the time, leaving
# the 200 ms interval no room for anything but the transfer.
RATE = 40000000
IN_FORCE = "CameraWorkerThread(): Pairing check in force"


def _proc_status(pid):
    """(VmRSS kB, VmHWM kB) of a process, or (None, None)."""
    values = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in ("VmRSS", "VmHWM"):
                    values[key] = int(rest.split()[0])
    except OSError:
        pass
    return values.get("VmRSS"), values.get("VmHWM")


def _cpu_seconds(pid):
    """utime + stime of a process in seconds, or None."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            text = f.read()
    except OSError:
        return None
    fields = text[text.rfind(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def _exif_times(folder):
    """{file name: (DateTimeOriginal, SubSecTimeOriginal)} of the JPEGs in
    folder, as exiftool reads them."""
    status, out, _ = procs.run(["exiftool", "-q", "-q", "-T", "-FileName", "-DateTimeOriginal",
                                "-SubSecTimeOriginal", "-ext", "jpg", folder], timeout=900)
    times = {}
    for line in out.splitlines():
        fields = line.split("\t")
        if len(fields) == 3:
            times[fields[0]] = (fields[1], fields[2])
    return times


def _image_log_gaps(path):
    """Milliseconds between consecutive lines of the image log."""
    stamps = []
    try:
        with open(path) as f:
            for line in f:
                p = line.split()
                if len(p) >= 7:
                    h, m, s, ms = (int(x) for x in p[3:7])
                    stamps.append(((h * 60 + m) * 60 + s) * 1000 + ms)
    except (OSError, ValueError):
        return []
    return [(b - a) % 86400000 for a, b in zip(stamps, stamps[1:])]


def _mispaired(saved, queued, triggers, exif):
    """Images not paired with their own trigger: saved image i not named
    after queued name i, Exif capture time not the time in its name, or the
    name's time not just before the rig saw trigger i."""
    bad = 0
    for i, name in enumerate(saved):
        base = os.path.basename(name)
        when = server_log.name_time(base)
        ok = i < len(queued) and name == queued[i] + ".jpg" and when is not None
        ok = ok and exif.get(base) == (when[0], when[1])
        if ok and i < len(triggers):
            lag = server_log.utc_us(triggers[i]["utc"]) / 1000.0 - when[2]
            ok = 0 <= lag < INTERVAL_MS / 2
        bad += 0 if ok else 1
    return bad


def measure(build, shots, run_dir, quick):
    """Returns (rows, busy round trips in ms)."""
    duration = 30 if quick else 300
    folder = os.path.join(run_dir, "sustained")
    session = Session(build, folder, rig_options=["--replay", os.path.dirname(shots[0])],
                      module_env={"SKERROW_CAM_RATE": RATE},
                      camera={"fileprefix": "images/S_", "interval": INTERVAL_MS})
    os.makedirs(session.path("images"), exist_ok=True)
    busy_csv = os.path.join(run_dir, "rtt_busy.csv")
    samples = []
    label = f"6 MB at 5/s for {duration} s"
    try:
        if not session.start():
            return [results.failed(PART, label, session.error)], []
        pid = session.server.pid
        cpu_start = _cpu_seconds(pid)
        if session.ctl("acquire", 1) is None:
            return [results.failed(PART, label, "acquire 1 was not answered")], []
        started = time.monotonic()
        client = round_trip.start_client(build, session.port, 1000, duration, busy_csv)
        while time.monotonic() - started < duration:
            time.sleep(1.0)
            rss, hwm = _proc_status(pid)
            samples.append([f"{time.monotonic() - started:.1f}", rss, hwm,
                            f"{_cpu_seconds(pid):.2f}",
                            len(server_log.saved_names(session.log()))])
        session.ctl("acquire", 0)
        drained = procs.wait_until(lambda: len(server_log.saved_names(session.log())) >=
                                   len(session.rig_rows("trigger")), 180, 0.2)
        cpu_end = _cpu_seconds(pid)
        rss, hwm = _proc_status(pid)
        procs.wait_until(lambda: client.poll() is not None, 30, 0.1)
        client_status = procs.stop(client)
        log = session.log()
        triggers = session.rig_rows("trigger")
        rig_errors = session.rig_rows("error")
    finally:
        session.stop()
    results.write_samples(os.path.join(run_dir, "sustained_proc.csv"),
                          ["seconds", "vmrss_kb", "vmhwm_kb", "cpu_seconds", "images_saved"],
                          samples)

    saved = server_log.saved_names(log)
    passes = server_log.trigger_passes(log)
    queued = [p[1] for p in passes if p[2]]
    skipped = sum(1 for p in passes if not p[2])
    exif = _exif_times(session.path("images"))
    mispaired = _mispaired(saved, queued, triggers, exif)
    gaps = sorted(_image_log_gaps(session.path("images", "S_FileLog.log")))
    # Six gigabytes a minute: the images go once they are checked.
    for name in os.listdir(session.path("images")):
        if name.endswith(".jpg"):
            os.remove(session.path("images", name))

    mb = os.path.getsize(shots[0]) / 1e6
    rows = [
        results.exactly(PART, f"{label}: images lost (rig triggers without a saved image)",
                        max(0, len(triggers) - len(saved)) + len(rig_errors), 0,
                        "" if drained else "not every image arrived within 180 s"),
        results.exactly(PART, "mispaired names (order, Exif time, trigger time)", mispaired, 0),
        # The replayed shots keep the camera times they were rendered with, so
        # the check may have nothing steady to seed on; say which it was.
        results.Row(PART, "pairing check (repair) in force",
                    "yes" if any(t.startswith(IN_FORCE) for t in log) else "no"),
        results.exactly(PART, "triggers skipped, name queue full (5/s not kept up)", skipped, 0),
        results.Row(PART, "triggers sent / images saved", f"{len(triggers)} / {len(saved)}"),
        results.Row(PART, f"time between saves, median ({mb:.2f} MB at {RATE / 1e6:.0f} MB/s "
                    f"is {mb / (RATE / 1e6) * 1000:.0f} ms)",
                    gaps[len(gaps) // 2] if gaps else None, "ms"),
        results.Row(PART, "server RSS peak (VmHWM)", hwm / 1024 if hwm else None, "MiB"),
        results.Row(PART, "server RSS at the end (VmRSS)", rss / 1024 if rss else None, "MiB"),
    ]
    after_minute = [int(s[1]) for s in samples if float(s[0]) >= 60 and s[1] is not None]
    if after_minute:
        rows.append(results.Row(PART, "RSS growth after the first minute",
                                (max(after_minute) - after_minute[0]) / 1024, "MiB"))
    if cpu_start is not None and cpu_end is not None and saved:
        rows.append(results.Row(PART, "server CPU time per image (user + system)",
                                (cpu_end - cpu_start) * 1000 / len(saved), "ms"))

    busy = round_trip.samples(busy_csv)
    if client_status != 0 or not busy:
        rows.append(results.failed(BUSY, "busy (5 x 6 MB/s downloading)",
                                   round_trip.client_error(busy_csv) or "no samples"))
    else:
        p50, p99, worst = round_trip.summary(busy)
        name = f"busy (downloading 6 MB at 5/s), {len(busy)} requests:"
        rows += [results.Row(BUSY, f"{name} p50", p50, "ms"),
                 results.Row(BUSY, f"{name} p99", p99, "ms"),
                 results.Row(BUSY, f"{name} max", worst, "ms")]
    return rows, busy
