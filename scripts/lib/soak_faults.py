"""Faults of the rig's making, each several times a run, with no command to
the server: the camera's USB link pulled (the card folder renamed away and
back, while the camera keeps shooting), the trigger line pulled for a few
seconds, and a shot the camera cannot deliver. The server must come through
each by itself.

An undeliverable shot stays on the card; after each reconnection it comes
back as a new item, and the pairing check keeps it from taking the name of a
live trigger."""

import os
import threading
import time

KINDS = ("card", "trigger", "undeliverable")
AWAY_S = 3


class FaultCycle(threading.Thread):
    def __init__(self, run, control, every_s, first_s, until_s, stop):
        super().__init__(daemon=True)
        self.run_dir = run
        self.control = control
        self.every_s = every_s
        self.first_s = first_s
        self.until_s = until_s  # no fault begins at or after this
        self.stop = stop
        self.started_at = time.monotonic()
        self.made = {kind: 0 for kind in KINDS}
        self.failed = []  # faults that could not be made, with why
        self.events = []  # (seconds, text)

    def _note(self, text):
        self.events.append((round(time.monotonic() - self.started_at, 1), text))

    def _send(self, line):
        """One line to the rig's control FIFO; never blocks on a rig that is gone."""
        try:
            fd = os.open(self.control, os.O_WRONLY | os.O_NONBLOCK)
        except OSError as error:
            self.failed.append(f"{line}: {error}")
            return False
        try:
            os.write(fd, (line + "\n").encode("ascii"))
            return True
        except OSError as error:
            self.failed.append(f"{line}: {error}")
            return False
        finally:
            os.close(fd)

    def _pull_card(self):
        card = os.path.join(self.run_dir, "card")
        away = card + ".away"
        try:
            os.rename(card, away)
        except OSError as error:
            self.failed.append(f"card away: {error}")
            return False
        # Always back, also when the run is being stopped.
        time.sleep(AWAY_S)
        while True:
            try:
                os.rename(away, card)
                return True
            except OSError as error:
                self.failed.append(f"card back: {error}")
                time.sleep(0.5)

    def _make(self, kind):
        if kind == "card":
            return self._pull_card()
        if kind == "trigger":
            return self._send(f"unplug-trigger {AWAY_S}")
        return self._send("undeliverable")

    def due_times(self):
        times = []
        due = self.first_s
        while due < self.until_s:
            times.append(due)
            due += self.every_s
        return times

    def planned(self):
        """How many faults of each kind fall within the run."""
        counts = {kind: 0 for kind in KINDS}
        for number, _ in enumerate(self.due_times()):
            counts[KINDS[number % len(KINDS)]] += 1
        return counts

    def run(self):
        for number, due in enumerate(self.due_times()):
            if self.stop.wait(max(0.0, self.started_at + due - time.monotonic())):
                return
            kind = KINDS[number % len(KINDS)]
            if self._make(kind):
                self.made[kind] += 1
                self._note(f"fault made: {kind}")
            else:
                self._note(f"fault NOT made: {kind}")

    def figures(self):
        made = ", ".join(f"{self.made[kind]} {kind}" for kind in KINDS)
        return f"rig faults made: {made}" + (f"; failed: {self.failed[0]}" if self.failed else "")
