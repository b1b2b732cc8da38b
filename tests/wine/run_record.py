"""What a run left behind, read back for the checks: the server log as the
console got it, the rig's log, the image logs, and the saved files' Exif
times as exiftool reads them."""

import calendar
import csv
import os
import re
import subprocess

SENDING = "TriggerWorkerThread(): Sending Trigger after "
NEXT_FILE = "TriggerWorkerThread(): Next File: "
QUEUE_FULL = "TriggerWorkerThread(): ERROR Cannot Enqueue filename. Queue is full."
GOT_FILE = "CameraWorkerThread(): GOT FILE ["

_STAMP = re.compile(r"\[(\d{4})(\d\d)(\d\d) (\d\d):(\d\d):(\d\d)\] ")
_PROGRESS = re.compile(r"^[oc]+(?=\[)")


class LogLine:
    def __init__(self, stamped, text):
        self.stamped = stamped  # began with a "[YYYYMMDD hh:mm:ss] " prefix
        self.text = text        # the line without prefix and line end


def console_text(path):
    """The console output as text with "\\n" line ends: the Windows runtime
    writes standard output in text mode, "\\r\\n"."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return ""
    return data.decode("utf-8", "replace").replace("\r\n", "\n")


def parse_log(text):
    """The lines of the console text, timestamp prefixes taken off. The
    download progress marks ("o", "c") come without a line end and so stand
    in front of the next entry's stamp; they are dropped there."""
    lines = []
    pieces = text.split("\n")
    if pieces and pieces[-1] == "":
        pieces.pop()
    for piece in pieces:
        piece = _PROGRESS.sub("", piece)
        match = _STAMP.match(piece)
        if match:
            lines.append(LogLine(True, piece[match.end():]))
        else:
            lines.append(LogLine(False, piece))
    return lines


def count_text(lines, text):
    return sum(1 for line in lines if line.stamped and line.text == text)


def count_text_start(lines, head):
    return sum(1 for line in lines if line.stamped and line.text.startswith(head))


def trigger_passes(lines):
    """(name, queued) per pass of the trigger thread that got to a name."""
    passes = []
    for line in lines:
        if line.text.startswith(SENDING):
            passes.append({"name": "", "queued": False})
        elif line.text.startswith(NEXT_FILE) and passes:
            name = line.text[len(NEXT_FILE):]
            passes[-1]["name"] = name[:-4] if name.endswith(".jpg") else name
            passes[-1]["queued"] = True
        elif line.text == QUEUE_FULL and passes:
            passes[-1]["queued"] = False
    return passes


def saved_names(lines):
    return [line.text[len(GOT_FILE):-1] for line in lines
            if line.text.startswith(GOT_FILE) and line.text.endswith("]")]


def rig_rows(path, event=None):
    """The rig log's rows as dicts, of one event when given. A row still
    being written is left out."""
    try:
        with open(path, newline="") as f:
            rows = [row for row in csv.DictReader(f) if None not in row.values()
                    and len(row) == 6]
    except OSError:
        return []
    return [row for row in rows if event is None or row["event"] == event]


def exif_text_ms(text):
    """ "YYYY:MM:DD hh:mm:ss.mmm" as milliseconds since the epoch (UTC), or
    None."""
    match = re.fullmatch(r"(\d{4}):(\d\d):(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3})", text)
    if not match:
        return None
    y, mo, d, h, mi, s, ms = (int(v) for v in match.groups())
    return calendar.timegm((y, mo, d, h, mi, s)) * 1000 + ms


def rig_utc_ms(text):
    """The rig's "YYYY-MM-DDThh:mm:ss.uuuuuuZ", cut to the millisecond."""
    match = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.(\d{3})\d*Z", text)
    if not match:
        return None
    y, mo, d, h, mi, s, ms = (int(v) for v in match.groups())
    return calendar.timegm((y, mo, d, h, mi, s)) * 1000 + ms


def name_time(name):
    """ "YYYY:MM:DD hh:mm:ss.mmm" from a name ending in
    VARNO_YYYYMMDD_hh.mm.ss.mmm (an extension may follow), or ""."""
    match = re.search(r"VARNO_(\d{4})(\d\d)(\d\d)_(\d\d)\.(\d\d)\.(\d\d)\.(\d{3})(\.[^/]*)?$", name)
    if not match:
        return ""
    y, mo, d, h, mi, s, ms = match.groups()[:7]
    return "%s:%s:%s %s:%s:%s.%s" % (y, mo, d, h, mi, s, ms)


def exif_times(paths):
    """{path: (original, digitized)} as exiftool reads them, each
    "YYYY:MM:DD hh:mm:ss.mmm"; CreateDate is exiftool's name for
    DateTimeDigitized. Raises RuntimeError when exiftool fails."""
    command = ["exiftool", "-q", "-T", "-FilePath", "-DateTimeOriginal", "-SubSecTimeOriginal",
               "-CreateDate", "-SubSecTimeDigitized"] + list(paths)
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise RuntimeError("exiftool: %s" % error)
    if done.returncode != 0:
        raise RuntimeError("exiftool failed: %s" % done.stderr.strip())
    times = {}
    for line in done.stdout.splitlines():
        fields = line.split("\t")
        if len(fields) == 5:
            times[fields[0]] = (fields[1] + "." + fields[2], fields[3] + "." + fields[4])
    return times


_IMAGE_LOG = re.compile(r"(\d{4}) (\d\d) (\d\d) (\d\d) (\d\d) (\d\d) (\d{3}) +(\d+) +(\d+) (.*)")


def image_log(path):
    """The entries of an image log, each a dict with the line's time in
    milliseconds since the epoch (UTC), the trigger and image counts and the
    name; a line of another form has all but its text as None."""
    entries = []
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace").replace("\r\n", "\n")
    except OSError:
        return entries
    for line in text.split("\n"):
        if not line:
            continue
        match = _IMAGE_LOG.fullmatch(line)
        if not match:
            entries.append({"ms": None, "triggers": None, "images": None, "name": line})
            continue
        y, mo, d, h, mi, s, ms, triggers, images = (int(v) for v in match.groups()[:9])
        entries.append({"ms": calendar.timegm((y, mo, d, h, mi, s)) * 1000 + ms,
                        "triggers": triggers, "images": images, "name": match.group(10)})
    return entries


def files_in(folder, exclude=("FileLog.log", "Pairing.csv")):
    """The names in folder, given as folder/name, but the image log and the
    pairing record."""
    try:
        names = os.listdir(folder)
    except OSError:
        return set()
    base = os.path.basename(folder)
    return {base + "/" + name for name in names if not any(x in name for x in exclude)}
