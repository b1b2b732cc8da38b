"""The camera unplugged halfway through a download every so often, and
plugged back in by command once the server logged the failed download.

The stand-in module unplugs the camera in the next download of at least two
chunks that finds the unplug file (and removes it). The server then logs
the failed download and keeps the shot's name; the camera comes back by
itself, and once more with connect 0 and connect 1, as an operator would
do it: at once after one
unplug, a few seconds later after the next, so that the 15 names the
server can queue run out and triggers are skipped with the queue-full
line in between."""

import math
import os
import threading
import time

from soak_wire import CONNECT

FAILED = "CameraWorkerThread(): Error: failed download image."
# Seconds from the failed download to connect 0, taken in turn; 15 names
# last 3 s at 5 triggers/s.
RECONNECT_DELAYS_S = [0.0, 5.0]


class UnplugCycle(threading.Thread):
    def __init__(self, path, tail, controller, every_s, until_s, stop):
        super().__init__(daemon=True)
        self.path = path
        self.tail = tail
        self.controller = controller
        self.every_s = every_s
        self.until_s = until_s  # no unplug file made at or after this
        self.stop = stop
        self.no_more = threading.Event()
        self.started_at = time.monotonic()
        self.made = 0
        self.fired = 0  # unplug files a download took
        self.handled = 0  # of those, the ones seen to
        self.reconnected = 0
        self.reconnect_failed = 0
        self.events = []  # (seconds, text)

    def _note(self, text):
        self.events.append((round(time.monotonic() - self.started_at, 1), text))

    def _make(self):
        with open(self.path, "w", encoding="ascii"):
            pass
        self.made += 1
        self._note("unplug file made")

    def recover(self):
        """Reconnects the camera after each unplug of its own that a download
        took. Other failed downloads (a shot the camera cannot deliver) are
        the server's to deal with: a reconnect would start their tries over."""
        if self.made > self.fired and not os.path.exists(self.path):
            self.fired = self.made
            self._note(f"unplug file taken ({self.fired} so far)")
        if self.fired <= self.handled or self.controller.broken:
            return
        self.handled = self.fired
        delay = RECONNECT_DELAYS_S[(self.fired - 1) % len(RECONNECT_DELAYS_S)]
        if delay > 0:
            time.sleep(delay)
        if (self.controller.command(CONNECT, 0) and self.controller.command(CONNECT, 1)):
            self.reconnected += 1
            self._note("connect 0, connect 1: camera connected")
        else:
            self.reconnect_failed += 1
            self._note("connect 0, connect 1: camera NOT connected")

    def run(self):
        number = 1
        while not self.stop.is_set() and not self.no_more.is_set():
            due = number * self.every_s
            if due < self.until_s and time.monotonic() - self.started_at >= due:
                # One at a time: a file no download has taken yet stays.
                if not os.path.exists(self.path):
                    self._make()
                number += 1
            self.recover()
            self.stop.wait(0.2)

    def finish(self):
        """No more unplugs; a file no download took is removed."""
        self.no_more.set()
        self.join()
        try:
            os.remove(self.path)
            self.made -= 1
            self._note("unplug file removed unused")
        except FileNotFoundError:
            pass
        self.recover()

    def planned(self):
        """How many unplugs fall within the run."""
        return max(0, math.ceil(self.until_s / self.every_s) - 1)

    def figures(self):
        return (f"{self.made} unplugs made, {self.fired} taken by a download, "
                f"{self.reconnected} reconnected by connect 0/1, "
                f"{self.reconnect_failed} reconnects failed")
