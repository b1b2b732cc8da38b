"""Watching the processes of a soak run without holding their output in
memory: the server log read on as it grows, the rig's CSV log, and the
server's descriptors and resident memory sampled from /proc."""

import os
import threading
import time


class LogTail:
    """Counts lines holding given texts in a growing log file.

    Reads only what was added since the last poll, so a log of any size
    costs no memory; a line still being written waits for its line end."""

    def __init__(self, path, texts):
        self.path = path
        self.counts = {text: 0 for text in texts}
        self.offset = 0
        self.partial = b""
        self.lock = threading.Lock()

    def poll(self):
        with self.lock:
            try:
                with open(self.path, "rb") as log:
                    log.seek(self.offset)
                    while True:
                        data = log.read(1 << 20)
                        if not data:
                            break
                        self.offset += len(data)
                        self._count(data)
            except FileNotFoundError:
                pass
            return dict(self.counts)

    def _count(self, data):
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        for line in lines:
            text = line.decode("utf-8", "replace")
            for wanted in self.counts:
                if wanted in text:
                    self.counts[wanted] += 1

    def count(self, text):
        return self.poll()[text]

    def wait_for(self, text, at_least, deadline_s, stop=None):
        """Waits until text was seen at_least times; False at the deadline."""
        end = time.monotonic() + deadline_s
        while time.monotonic() < end:
            if self.count(text) >= at_least:
                return True
            if stop is not None and stop():
                return False
            time.sleep(0.1)
        return self.count(text) >= at_least


def rig_events(path):
    """Counts of the rig log's events (trigger, shot, rts, error, ...)."""
    counts = {}
    try:
        with open(path, encoding="utf-8", errors="replace") as log:
            next(log, None)  # the header
            for line in log:
                fields = line.rstrip("\n").split(",")
                # A line still being written is counted next time.
                if len(fields) == 6 and line.endswith("\n"):
                    counts[fields[1]] = counts.get(fields[1], 0) + 1
    except FileNotFoundError:
        pass
    return counts


def open_fds(pid):
    """Open file descriptors of pid, or None when it is gone."""
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return None


def rss_kb(pid):
    """Resident memory of pid in kB (VmRSS), or None when it is gone."""
    try:
        with open(f"/proc/{pid}/status", encoding="ascii", errors="replace") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except (OSError, ValueError, IndexError):
        pass
    return None


class Sampler(threading.Thread):
    """Samples the server's descriptors and memory every few seconds into a
    CSV file and a list: (seconds since start, fds, RSS kB, connections the
    soak holds open)."""

    def __init__(self, pid, path, connections, every_s=2.0):
        super().__init__(daemon=True)
        self.pid = pid
        self.path = path
        self.connections = connections  # callable: connections open now
        self.every_s = every_s
        self.samples = []
        self.stopping = threading.Event()
        self.started_at = time.monotonic()

    def sample(self):
        row = (round(time.monotonic() - self.started_at, 1), open_fds(self.pid), rss_kb(self.pid),
               self.connections())
        self.samples.append(row)
        with open(self.path, "a", encoding="ascii") as out:
            out.write(",".join("" if value is None else str(value) for value in row) + "\n")
        return row

    def run(self):
        with open(self.path, "w", encoding="ascii") as out:
            out.write("seconds,fds,rss_kb,soak_connections\n")
        while not self.stopping.is_set():
            self.sample()
            self.stopping.wait(self.every_s)

    def stop(self):
        self.stopping.set()
        self.join()


def rig_names(path, event):
    """The card names of the rig log's rows of one event, in order."""
    names = []
    try:
        with open(path, encoding="utf-8", errors="replace") as log:
            next(log, None)  # the header
            for line in log:
                fields = line.rstrip("\n").split(",")
                if len(fields) == 6 and line.endswith("\n") and fields[1] == event:
                    names.append(fields[3])
    except FileNotFoundError:
        pass
    return names
