"""The checks of a whole acquisition, judged from what the run left behind.
Each check prints one summary line; the details of a failure follow it."""

import os

import run_record as rec

INTERRUPT_LINE = "Siginthandler: Ctrl-c Received Program Terminating..."
TRIGGER_END_LINE = "TriggerWorkerThread(): Thread Execution Complete."
CAMERA_END_LINE = "CameraWorkerThread(): Thread Execution Complete."
END_LINE = "Skerrow:main(): End of program."


class Checks:
    def __init__(self):
        self.failed = 0
        self.passed = 0

    def report(self, name, problems, summary):
        """PASS with the summary when problems is empty, FAIL with the
        first few problems otherwise."""
        if problems:
            self.failed += 1
            print("FAIL %s: %s" % (name, problems[0]), flush=True)
            for problem in problems[1:8]:
                print("       %s" % problem)
            if len(problems) > 8:
                print("       ... %d more" % (len(problems) - 8))
        else:
            self.passed += 1
            print("PASS %s: %s" % (name, summary), flush=True)

    def skip(self, name, why):
        print("SKIP %s: %s" % (name, why), flush=True)


def folded(values):
    result = []
    for value in values:
        if not result or result[-1] != value:
            result.append(value)
    return result


def settings_from_working_folder(checks, lines, run):
    """The ini was named by a relative path and its values are in force."""
    wanted = ["Skerrow:main(): Loading INI File (Skerrow.ini)...",
              "| cameraFilePrefix:  " + run.prefix,
              "| cameraInterval:    %d" % run.interval,
              "| triggerPortName:   " + run.com]
    texts = {line.text for line in lines if line.stamped}
    missing = ["no log entry '%s'" % text for text in wanted if text not in texts]
    checks.report("settings", missing, "Skerrow.ini read from the working folder (%s, "
                  "interval %d, prefix %s)" % (run.com, run.interval, run.prefix))


def trigger_line(checks, lines, run, triggers, sent):
    """Wine's serial layer took the pseudo-terminal as a COM port and every
    zero byte the server sent with TransmitCommChar reached the rig."""
    problems = []
    opened = ("TriggerWorkerThread(): Trigger serial port configured and open, %s 1200 kbps 8N1 "
              % run.com)
    if rec.count_text(lines, opened) != 1:
        problems.append("no single log entry '%s'" % opened)
    for line in lines:
        if line.text.startswith("triggerSerialPort::") or "Cannot send zero byte" in line.text:
            problems.append("serial port entry: " + line.text)
    if len(triggers) == 0:
        problems.append("the rig saw no trigger byte")
    if sent != len(triggers):
        problems.append("the server counts %s triggers, the rig saw %d" % (sent, len(triggers)))
    checks.report("trigger line", problems, "%s opened through Wine, %d trigger bytes sent, "
                  "%d arrived" % (run.com, sent if sent is not None else -1, len(triggers)))


def laser_line(checks, lines, rts_rows, lasers_on_ms, lasers_off_ms, run):
    """RTS lowered at start, raised after the command, lowered after the
    command; one log entry for each change."""
    problems = []
    opened = "TriggerWorkerThread(): Laser power serial port configured and open, %s " % run.laser
    if not any(line.text.startswith(opened) for line in lines):
        problems.append("no log entry '%s...'" % opened)
    states = folded([row["rts"] for row in rts_rows])
    if states != ["off", "on", "off"]:
        problems.append("RTS states %s, expected off, on, off" % states)
    for row in rts_rows:
        ms = rec.rig_utc_ms(row["utc"])
        if row["rts"] == "on" and (ms is None or ms < lasers_on_ms):
            problems.append("RTS on at %s, before the lasers command" % row["utc"])
    if rts_rows and rec.rig_utc_ms(rts_rows[-1]["utc"]) < lasers_off_ms:
        problems.append("last RTS change at %s, before the lasers-off command"
                        % rts_rows[-1]["utc"])
    for state in (1, 0):
        text = "TriggerWorkerThread(): Changed state of laser power to %d." % state
        if rec.count_text(lines, text) != 1:
            problems.append("'%s' logged %d times, expected once" % (text, rec.count_text(lines, text)))
    checks.report("laser line", problems, "RTS off, on, off over %s" % run.laser)


def one_image_per_trigger(checks, lines, triggers, run):
    """Every trigger byte the rig saw gave exactly one saved image, under the
    name prepared for it, in trigger order, none overwritten."""
    problems = []
    queued = [p["name"] for p in rec.trigger_passes(lines) if p["queued"]]
    saved = rec.saved_names(lines)
    if len(queued) != len(triggers):
        problems.append("%d names queued, %d trigger bytes at the rig" % (len(queued), len(triggers)))
    if len(saved) != len(triggers):
        problems.append("%d images saved, %d trigger bytes at the rig" % (len(saved), len(triggers)))
    if not saved:
        problems.append("no image saved")
    for i, (name, wanted) in enumerate(zip(saved, queued)):
        if name != wanted + ".jpg":
            problems.append("image %d saved as %s, its trigger named %s.jpg" % (i + 1, name, wanted))
    if len(set(saved)) != len(saved):
        problems.append("a name was saved twice: %s" % saved)
    on_disk = rec.files_in(os.path.join(run.work, run.folder))
    if on_disk != set(saved):
        problems.append("files in %s but not saved: %s; saved but not there: %s"
                        % (run.folder, sorted(on_disk - set(saved)), sorted(set(saved) - on_disk)))
    checks.report("one image per trigger", problems,
                  "%d triggers, %d images, names in trigger order" % (len(triggers), len(saved)))
    return saved


def exif_times(checks, saved, triggers, run):
    """Each saved file's DateTimeOriginal.SubSecTimeOriginal is its name's
    time, at or just before its trigger reached the rig (after the trigger
    before it), and its DateTimeDigitized is the camera time the rig gave
    that very trigger's shot."""
    problems = []
    paths = [os.path.join(run.work, name) for name in saved]
    try:
        times = rec.exif_times(paths) if paths else {}
    except RuntimeError as error:
        checks.report("exif times", [str(error)], "")
        return
    for i, (name, path) in enumerate(zip(saved, paths)):
        if i >= len(triggers):
            break
        trigger = triggers[i]
        when = rec.name_time(name)
        if not when:
            problems.append("%s: no time in the name" % name)
            continue
        if path not in times:
            problems.append("%s: not read by exiftool" % name)
            continue
        original, digitized = times[path]
        if original != when:
            problems.append("%s: DateTimeOriginal %s, name time %s" % (name, original, when))
        if digitized != trigger["camera_time"]:
            problems.append("%s: DateTimeDigitized %s is not the shot of rig frame %s (%s)"
                            % (name, digitized, trigger["frame"], trigger["camera_time"]))
        # The server reads its clock before the byte goes out; the rig reads
        # the same clock once the byte has arrived.
        name_ms = rec.exif_text_ms(when)
        if name_ms > rec.rig_utc_ms(trigger["utc"]):
            problems.append("%s: name time after the rig's trigger at %s" % (name, trigger["utc"]))
        if i > 0 and name_ms < rec.rig_utc_ms(triggers[i - 1]["utc"]):
            problems.append("%s: name time before the rig's previous trigger at %s"
                            % (name, triggers[i - 1]["utc"]))
    checks.report("exif times", problems, "%d files: Original = name time (UTC) at the trigger, "
                  "Digitized = the rig's camera time" % len(saved))


def image_log(checks, saved, triggers, run):
    """One image-log line per saved image, counted from 1, stamped in UTC
    no earlier than its trigger."""
    problems = []
    path = os.path.join(run.work, run.prefix + "FileLog.log")
    entries = rec.image_log(path)
    if not os.path.exists(path):
        problems.append("no image log %s" % (run.prefix + "FileLog.log"))
    if len(entries) != len(saved):
        problems.append("%d image-log lines, %d images saved" % (len(entries), len(saved)))
    last_triggers = 0
    for i, entry in enumerate(entries):
        if entry["ms"] is None:
            problems.append("line of another form: %s" % entry["name"])
            continue
        if entry["images"] != i + 1:
            problems.append("line %d counts %d images" % (i + 1, entry["images"]))
        if i < len(saved) and entry["name"] != saved[i]:
            problems.append("line %d names %s, image %d is %s" % (i + 1, entry["name"], i + 1,
                                                                   saved[i]))
        if entry["triggers"] < entry["images"] or entry["triggers"] < last_triggers:
            problems.append("line %d: %d triggers for %d images, after %d"
                            % (i + 1, entry["triggers"], entry["images"], last_triggers))
        last_triggers = entry["triggers"]
        if i < len(triggers) and entry["ms"] < rec.rig_utc_ms(triggers[i]["utc"]):
            problems.append("line %d stamped before its trigger reached the rig at %s"
                            % (i + 1, triggers[i]["utc"]))
    checks.report("image log", problems, "%d lines, one per image" % len(entries))


def shutdown(checks, lines, status):
    """Ended by the Ctrl-C with status 0 after the orderly shutdown lines;
    the two threads end concurrently, so their lines come in either order."""
    problems = []
    if status != 0:
        problems.append("exit status %s" % status)
    texts = [("S " if line.stamped else "P ") + line.text for line in lines]
    ends = [("S " + CAMERA_END_LINE, "S " + TRIGGER_END_LINE),
            ("S " + TRIGGER_END_LINE, "S " + CAMERA_END_LINE)]
    tails = [["S " + INTERRUPT_LINE, first, second, "S " + END_LINE, "P ",
              "P Press any key to exit..."] for first, second in ends]
    if texts[-6:] not in tails:
        problems.append("the log does not end with the shutdown lines; its last lines:")
        problems.extend(texts[-6:])
    checks.report("shutdown", problems, "Ctrl-C taken, status 0, shutdown lines in order")


def no_errors(checks, lines, err_text):
    """No entry of the server reports an error, and the Windows side wrote
    nothing to standard error."""
    problems = [line.text for line in lines if "ERROR" in line.text or "Error" in line.text]
    if err_text.strip():
        problems.append("standard error: " + err_text.strip()[-500:])
    checks.report("no errors", problems, "no error entry, nothing on standard error")


TIMER_LINE = "TriggerWorkerThread(): Using the high-resolution waitable timer."


def timer(checks, lines):
    """The trigger thread waits on the high-resolution timer (Wine has it
    on both machines), if the server says which timer it uses."""
    used = [line.text for line in lines
            if line.stamped and line.text.startswith("TriggerWorkerThread(): Using ")]
    if not used:
        checks.skip("timer", "the server does not log which one-shot timer it uses")
        return
    checks.report("timer", [] if used == [TIMER_LINE] else ["timer lines: %s" % used],
                  "high-resolution waitable timer in use")
