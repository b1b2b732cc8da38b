"""Clients that come and go, and idle connections past the 63 the server
watches at once.

The listener watches at most 63 clients; the 64th and later are accepted
but not read while 63 others stay. So a probe sent while the idle
connections are open is only reported, and a probe after they are closed
must be answered."""

import random
import threading
import time

import soak_net
from soak_wire import ECHO, FILEPREFIX, INTERVAL, message, request


class ChurnTraffic(threading.Thread):
    """Connects and disconnects clients, a few open at a time: some close at
    once, some ask an echo, some send half a header, some reset, some ask an
    unknown type. None waits for a reply: the controller gets them."""

    VARIANTS = ["close", "echo", "half header", "reset", "unknown type"]

    def __init__(self, port, count, spread_s, seed, stop):
        super().__init__(daemon=True)
        self.port = port
        self.count = count
        self.spread_s = spread_s
        self.rng = random.Random(seed + 2)
        self.stop = stop
        self.connected = 0
        self.refused = 0
        self.send_errors = 0
        self.held = []  # (close time, socket, reset)

    def _close_due(self, everything=False):
        now = time.monotonic()
        keep = []
        for due, sock, reset in self.held:
            if everything or due <= now:
                soak_net.close(sock, reset)
            else:
                keep.append((due, sock, reset))
        self.held = keep

    def _client(self, index):
        sock = soak_net.connect(self.port)
        if sock is None:
            self.refused += 1
            return
        self.connected += 1
        variant = self.VARIANTS[index % len(self.VARIANTS)]
        try:
            if variant == "echo":
                sock.sendall(request(ECHO))
            elif variant == "half header":
                sock.sendall(request(ECHO)[:7])
            elif variant == "unknown type":
                sock.sendall(message(8))
        except OSError:
            self.send_errors += 1
        if variant == "close":
            soak_net.close(sock)
            return
        self.held.append((time.monotonic() + self.rng.uniform(0.0, 2.0), sock, variant == "reset"))

    def run(self):
        started = time.monotonic()
        for index in range(self.count):
            due = started + index * self.spread_s / self.count
            while time.monotonic() < due and not self.stop.is_set():
                self._close_due()
                self.stop.wait(min(0.1, max(0.0, due - time.monotonic())))
            if self.stop.is_set():
                break
            self._close_due()
            self._client(index)
        while self.held and not self.stop.is_set():
            self._close_due()
            self.stop.wait(0.1)
        self._close_due(everything=True)

    def figures(self):
        return (f"{self.connected} of {self.count} clients connected and disconnected "
                f"({', '.join(self.VARIANTS)}); {self.refused} refused, "
                f"{self.send_errors} send errors")


class IdlePhase(threading.Thread):
    """Opens idle connections for a part of the run, then closes them and
    checks that a new client is served again."""

    PROBE_DEADLINE_S = 60.0

    def __init__(self, port, board, count, open_at_s, close_at_s, stop):
        super().__init__(daemon=True)
        self.port = port
        self.board = board
        self.count = count
        self.open_at_s = open_at_s
        self.close_at_s = close_at_s
        self.stop = stop
        self.opened = 0
        self.refused = 0
        self.answered_while_idle = None
        self.served_after = None
        self.served_after_s = None
        self.window = None

    def run(self):
        started = time.monotonic()
        if not soak_net.sleep_until(self.stop, started + self.open_at_s):
            return
        opened_at = time.monotonic() - started
        idle = []
        for _ in range(self.count):
            sock = soak_net.connect(self.port)
            if sock is None:
                self.refused += 1
            else:
                idle.append(sock)
        self.opened = len(idle)
        # Asked past the watched clients: not expected to be read yet.
        before = self.board.count(INTERVAL)
        probe = soak_net.connect(self.port)
        if probe is not None:
            try:
                probe.sendall(request(INTERVAL))
            except OSError:
                pass
        self.answered_while_idle = self.board.wait_above(INTERVAL, before, 5.0) is not None
        soak_net.sleep_until(self.stop, started + self.close_at_s)
        for sock in idle:
            soak_net.close(sock)
        soak_net.close(probe)
        self.window = (opened_at, time.monotonic() - started)
        self._probe_after()

    def _probe_after(self):
        sock = None
        stream = soak_net.new_stream()
        before = self.board.count(FILEPREFIX)
        asked = time.monotonic()
        end = asked + self.PROBE_DEADLINE_S
        # Asked again now and then: a request can be dropped by a full queue,
        # and a connection made while the server still holds the closing
        # idle ones is closed at once as one too many.
        while time.monotonic() < end and self.served_after is None:
            if sock is None:
                sock = soak_net.connect(self.port)
                stream = soak_net.new_stream()
                if sock is None:
                    time.sleep(0.1)
                    continue
            try:
                sock.sendall(request(FILEPREFIX))
            except OSError:
                soak_net.close(sock)
                sock = None
                continue
            for _ in range(30):
                open_still = soak_net.drain(sock, stream, self.board)
                if self.board.wait_above(FILEPREFIX, before, 0.1) is not None:
                    self.served_after = True
                    self.served_after_s = time.monotonic() - asked
                    break
                if not open_still:
                    soak_net.close(sock)
                    sock = None
                    break
        if self.served_after is None:
            self.served_after = False
        soak_net.close(sock)

    def figures(self):
        window = "" if self.window is None else f" from {self.window[0]:.0f} s to {self.window[1]:.0f} s"
        while_idle = {None: "not asked", True: "answered", False: "not answered (expected)"}[
            self.answered_while_idle]
        return (f"{self.opened} of {self.count} idle connections{window}, {self.refused} refused; "
                f"a new client while they were open: {while_idle}")
