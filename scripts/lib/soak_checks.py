"""What the run left behind, read back: the server log (line by line, it can
be large), the rig's log, the saved images and the image log."""

import os
import re

SENDING = "TriggerWorkerThread(): Sending Trigger after "
NEXT_FILE = "TriggerWorkerThread(): Next File: "
QUEUE_FULL = "TriggerWorkerThread(): ERROR Cannot Enqueue filename. Queue is full."
WITHDRAWN = "TriggerWorkerThread(): ERROR Trigger not sent, image name withdrawn."
GOT_FILE = "CameraWorkerThread(): GOT FILE ["
GENERIC = "CameraWorkerThread(): ERROR: No Image name avaiable, using generic."
END_LINE = "Skerrow:main(): End of program."
OVERWRITE = "Trying to write to existing file"
PASSED_OVER = "; passed over, it stays on the camera card."
NAME_WITHDRAWN = "CameraWorkerThread(): Item passed over; image name "
NAME_WITHDRAWN_END = " withdrawn, the next image takes the next name."
# While the pairing check is in force a passed-over shot keeps its name; the
# next image's camera time then shows that its trigger had no other image.
NO_IMAGE_FOR = "CameraWorkerThread(): No image for "
NO_IMAGE_FOR_END = "; the camera missed that trigger."
# Lines written once per request, trigger, image or connection: the traffic's
# share of the log. Every other line tells of a fault (or of start and stop).
PER_EVENT = ("processCommandMessage(): ", SENDING, NEXT_FILE, GOT_FILE,
             "AcceptConnections(): Client connected", "AcceptConnections(): Shutting down client",
             "ReadSocketData(): Socket was closed", "AcceptConnections(): ERROR Too many clients",
             "AcceptConnections(): Reply for session",
             "TriggerWorkerThread(): Changed state of laser power")

STAMP = re.compile(r"\[\d{8} \d{2}:\d{2}:\d{2}\] ")
# Download progress marks ("o", "c") come without a line end and stand in
# front of the next stamped entry.
MARKS = re.compile(r"[oc]+(?=\[\d{8} )")


class ServerLog:
    def __init__(self, path):
        self.sending = 0
        self.queue_full = 0  # "Queue is full." lines: rate-limited, so not one per pass
        self.skipped = 0  # trigger passes that queued no name (no "Next File" entry)
        self.withdrawn = 0
        self.generic = 0
        self.passed_over = 0  # items the camera could not deliver, left on its card
        self.names_gone = 0  # queued names that went to no image: withdrawn or missed
        self.fault_bytes = 0  # bytes of the lines that are not PER_EVENT
        self.queued = []  # names of "Next File" entries not withdrawn again
        self.saved = []  # names of "GOT FILE" entries
        self.last_stamped = None
        self.after_last_stamped = []
        self.lines = 0
        self._read(path)

    def _read(self, path):
        pass_open = False
        with open(path, "rb") as log:
            for raw in log:
                self.lines += 1
                line = raw.decode("utf-8", "replace").rstrip("\n")
                line = MARKS.sub("", line, count=1) if line[:1] in ("o", "c") else line
                if not STAMP.match(line):
                    self.after_last_stamped.append(line)
                    continue
                text = line[STAMP.match(line).end():]
                if not text.startswith(PER_EVENT):
                    self.fault_bytes += len(raw)
                self.last_stamped = text
                self.after_last_stamped = []
                if text.startswith(SENDING):
                    # A pass that logged no name queued none and sent nothing.
                    self.skipped += 1 if pass_open else 0
                    self.sending += 1
                    pass_open = True
                elif text.startswith(NEXT_FILE) and pass_open:
                    name = text[len(NEXT_FILE):]
                    self.queued.append(name[:-4] if name.endswith(".jpg") else name)
                    pass_open = False
                elif text.startswith(QUEUE_FULL):
                    self.queue_full += 1
                elif text == WITHDRAWN:
                    # The name just queued goes to no image.
                    self.withdrawn += 1
                    if self.queued:
                        self.queued.pop()
                elif text.startswith(GOT_FILE) and text.endswith("]"):
                    self.saved.append(text[len(GOT_FILE):-1])
                elif text == GENERIC:
                    self.generic += 1
                elif text.endswith(PASSED_OVER):
                    self.passed_over += 1
                elif text.startswith(NAME_WITHDRAWN) and text.endswith(NAME_WITHDRAWN_END):
                    self._name_gone(text[len(NAME_WITHDRAWN):-len(NAME_WITHDRAWN_END)])
                elif text.startswith(NO_IMAGE_FOR) and text.endswith(NO_IMAGE_FOR_END):
                    self._name_gone(text[len(NO_IMAGE_FOR):-len(NO_IMAGE_FOR_END)])
        self.skipped += 1 if pass_open else 0


    def _name_gone(self, name):
        self.names_gone += 1
        if name in self.queued:
            self.queued.remove(name)


def _first_difference(queued, saved):
    for index, (name, file) in enumerate(zip(queued, saved)):
        if name + ".jpg" != file:
            return f"image {index + 1}: queued {name}, saved {file}"
    return f"{len(queued)} names queued, {len(saved)} saved"


def left_on_card(run, undeliverable):
    """What the card still holds beyond the shots that could not be
    delivered (and their markers)."""
    card = os.path.join(run, "card")
    allowed = set(undeliverable) | {f".{name}.undeliverable" for name in undeliverable}
    return sorted(set(os.listdir(card)) - allowed) if os.path.isdir(card) else []


def accounting(log, rig_triggers, run, undeliverable=()):
    """The checks that every trigger is accounted for and no image is lost
    or overwritten, as (name, passed, detail). undeliverable: the card names
    of the shots the rig made undeliverable; they stay on the card."""
    checks = []
    skipped_ok = log.sending == rig_triggers + log.skipped + log.withdrawn
    skipped_ok = skipped_ok and (log.skipped == 0) == (log.queue_full == 0)
    # An undeliverable shot is passed over again after each reconnection, but
    # its name goes only once.
    checks.append((
        "every trigger is a saved image or a logged skip",
        rig_triggers == len(log.saved) + len(undeliverable) and skipped_ok
        and log.passed_over >= len(undeliverable) and log.names_gone == len(undeliverable),
        f"rig triggers {rig_triggers}, GOT FILE {len(log.saved)}, {len(undeliverable)} "
        f"undeliverable, passed over {log.passed_over} times, {log.names_gone} names gone with "
        f"them; 'Sending Trigger after' "
        f"{log.sending} = rig triggers {rig_triggers} + passes without a name {log.skipped} "
        f"('Queue is full.' lines {log.queue_full})"
        f"{'' if skipped_ok else ' DOES NOT HOLD'}"
        + (f"; {log.withdrawn} triggers not sent" if log.withdrawn else "")))
    paired = [name + ".jpg" for name in log.queued] == log.saved
    checks.append((
        "saved images pair with the queued names in order", paired,
        f"{len(log.saved)} pairs, {log.generic} generic names" if paired else
        _first_difference(log.queued, log.saved)))

    missing = [name for name in log.saved if not os.path.isfile(os.path.join(run, name))]
    duplicates = len(log.saved) - len(set(log.saved))
    images = os.path.join(run, "images")
    on_disk = {os.path.join("images", name) for name in os.listdir(images)
               if not name.endswith(("FileLog.log", "Pairing.csv"))} \
        if os.path.isdir(images) else set()
    strays = sorted(on_disk - set(log.saved))
    image_log = os.path.join(images, "SOAK_FileLog.log")
    logged = 0
    if os.path.exists(image_log):
        with open(image_log, "rb") as lines:
            logged = sum(1 for _ in lines)
    with open(os.path.join(run, "server.err"), "rb") as err:
        overwrites = sum(1 for line in err if OVERWRITE.encode() in line)
    left = left_on_card(run, undeliverable)
    ok = not missing and not duplicates and not strays and not overwrites and not left \
        and logged == len(log.saved)
    checks.append((
        "no image lost or overwritten", ok,
        f"{len(log.saved) - len(missing)} of {len(log.saved)} files exist, {duplicates} "
        f"duplicate names, {len(strays)} other files, image log {logged} lines, "
        f"{overwrites} overwrite refusals on stderr, {len(left)} shots left on the card"
        + (f"; missing e.g. {missing[0]}" if missing else "")
        + (f"; other e.g. {strays[0]}" if strays else "")
        + (f"; on card e.g. {left[0]}" if left else "")))
    return checks


def described(status):
    """An exit status as Popen gives it, in words."""
    if status is None:
        return "killed after the deadline"
    if status < 0:
        return f"ended by signal {-status}"
    return f"exit status {status}"


def shutdown_check(status, log):
    """SIGINT ends the server with 0 and the end line as its last entry
    (only the unstamped closing prompt may follow)."""
    tail = [line for line in log.after_last_stamped if line.strip()]
    ok = status == 0 and log.last_stamped == END_LINE and tail in ([], ["Press any key to exit..."])
    return ("clean shutdown on SIGINT", ok, f"{described(status)}, last entry: {log.last_stamped!r}")
