"""Reading what a run left behind: the server log's entries, the trigger
thread's passes, the saved names, the rig's CSV log, and the times written
in image names."""

import calendar
import re

SENDING = "TriggerWorkerThread(): Sending Trigger after "
NEXT_FILE = "TriggerWorkerThread(): Next File: "
QUEUE_FULL = "TriggerWorkerThread(): ERROR Cannot Enqueue filename. Queue is full."
GOT_FILE = "CameraWorkerThread(): GOT FILE ["

_STAMP = re.compile(r"^[oc]*\[\d{8} \d\d:\d\d:\d\d\] ")


def entries(console):
    """The texts of the stamped log entries, without the timestamp and the
    download progress marks ("o", "c") that stand before it."""
    result = []
    for line in console.split("\n"):
        match = _STAMP.match(line)
        if match:
            result.append(line[match.end():])
    return result


def trigger_passes(log):
    """Each pass that reached "Sending Trigger after": [spacing_ms, name,
    queued], name without ".jpg"; queued is False when the queue was full
    and so no trigger went out."""
    passes = []
    for text in log:
        if text.startswith(SENDING):
            passes.append([float(text[len(SENDING):].split()[0]), "", False])
        elif text.startswith(NEXT_FILE) and passes:
            name = text[len(NEXT_FILE):]
            passes[-1][1] = name[:-4] if name.endswith(".jpg") else name
            passes[-1][2] = True
        elif text == QUEUE_FULL and passes:
            passes[-1][2] = False
    return passes


def saved_names(log):
    return [t[len(GOT_FILE):-1] for t in log if t.startswith(GOT_FILE) and t.endswith("]")]


def rig_rows(text, event):
    """The rig log's rows of one event, as dicts of its columns. A last row
    still being written is left for the next read."""
    rows = []
    lines = text.split("\n")
    for line in lines[1:-1]:
        fields = line.split(",")
        if len(fields) == 6 and fields[1] == event:
            rows.append(dict(zip(("utc", "event", "frame", "card_name", "camera_time", "rts"),
                                 fields)))
    return rows


def utc_us(text):
    """Microseconds since 1970 of the rig's "2024-05-01T12:00:00.123456Z"."""
    m = re.match(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.(\d{6})Z$", text)
    if not m:
        return None
    y, mo, d, h, mi, s, us = (int(g) for g in m.groups())
    return calendar.timegm((y, mo, d, h, mi, s)) * 1000000 + us


def name_time(name):
    """("YYYY:MM:DD hh:mm:ss", "mmm", ms since 1970) of a name ending in
    VARNO_YYYYMMDD_hh.mm.ss.mmm; None when it has no such time."""
    m = re.search(r"VARNO_(\d{4})(\d\d)(\d\d)_(\d\d)\.(\d\d)\.(\d\d)\.(\d{3})(\.|-|$)", name)
    if not m:
        return None
    y, mo, d, h, mi, s, ms = (int(g) for g in m.groups()[:7])
    date = f"{y:04d}:{mo:02d}:{d:02d} {h:02d}:{mi:02d}:{s:02d}"
    return date, f"{ms:03d}", calendar.timegm((y, mo, d, h, mi, s)) * 1000 + ms
