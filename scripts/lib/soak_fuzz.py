"""Malformed and partial messages over a few connections, spread evenly over
the run, with flow control.

The camera thread takes one message per pass of about 10 ms; a received
queue that is full drops what comes in, the controller's requests included.
So after every batch a mark (a trigger-port request, asked by no one else)
goes out on a connection of its own, and the next batch but one waits for
its reply: no more than two batches are ever queued."""

import random
import threading
import time

import soak_net
from soak_wire import TRIGGERPORT, FuzzSource, request, sanitize

BATCH = 25
MARK_WAIT_S = 10.0


class FuzzConnection:
    def __init__(self, port, board):
        self.port = port
        self.board = board
        self.sock = None
        self.tail = b""
        self.stream = None
        self.reconnects = 0
        self.errors = 0
        self.changed = 0
        self.open()

    def open(self):
        self.sock = soak_net.connect(self.port)
        self.tail = b""
        self.stream = soak_net.new_stream()

    def send(self, part, defuse=True):
        """Sends part, its dangerous headers defused unless told otherwise
        (the flow marks are meant to be answered)."""
        if self.sock is None:
            self.reconnects += 1
            self.open()
            if self.sock is None:
                self.errors += 1
                return False
        part = bytearray(part)
        if defuse:
            self.changed += sanitize(part, self.tail)
        try:
            self.sock.sendall(part)
        except OSError:
            self.errors += 1
            soak_net.close(self.sock)
            self.sock = None
            return False
        self.tail = (self.tail + bytes(part))[-5:]
        return True

    def drain(self):
        if self.sock is not None and not soak_net.drain(self.sock, self.stream, self.board):
            soak_net.close(self.sock)
            self.sock = None

    def close(self):
        soak_net.close(self.sock)
        self.sock = None


class FuzzTraffic(threading.Thread):
    def __init__(self, port, board, count, spread_s, seed, stop, connections=4):
        super().__init__(daemon=True)
        self.port = port
        self.board = board
        self.count = count
        self.spread_s = spread_s
        self.source = FuzzSource(seed)
        self.rng = random.Random(seed + 1)
        self.stop = stop
        self.connection_count = connections
        self.connections = []
        self.flow = None
        self.sent = 0
        self.sends = 0
        self.lengths = set()
        self.marks_sent = 0
        self.marks_base = 0  # mark replies seen before the first mark
        self.marks_lost = 0
        self.marks_waited_s = 0.0

    def open(self):
        """Opens the connections; called before the idle ones are opened, so
        that these stay among the clients the server watches."""
        self.connections = [FuzzConnection(self.port, self.board)
                            for _ in range(self.connection_count)]
        self.flow = FuzzConnection(self.port, self.board)
        self.marks_base = self.board.count(TRIGGERPORT)

    def _mark(self):
        self.marks_sent += 1
        self.flow.send(request(TRIGGERPORT), defuse=False)
        # Waits for the previous mark's reply; one lost (dropped by a full
        # queue, or handed to a client that does not read) is given up after
        # a while.
        started = time.monotonic()
        wanted = self.marks_base + self.marks_sent - 1 - self.marks_lost
        if self.board.wait_above(TRIGGERPORT, wanted - 1, MARK_WAIT_S) is None:
            if self.board.count(TRIGGERPORT) < wanted:
                self.marks_lost += 1
        self.marks_waited_s += time.monotonic() - started

    def run(self):
        started = time.monotonic()
        for index in range(self.count):
            if not soak_net.sleep_until(self.stop, started + index * self.spread_s / self.count):
                break
            if index > 0 and index % BATCH == 0:
                self._mark()
            parts = self.source.next_parts()
            connection = self.connections[index % len(self.connections)]
            for number, part in enumerate(parts):
                if number > 0:
                    time.sleep(self.rng.uniform(0.02, 0.05))  # split across sends
                connection.send(part)
                self.sends += 1
            self.lengths.add(sum(len(part) for part in parts))
            self.sent += 1
            for each in self.connections + [self.flow]:
                each.drain()

    def close(self):
        for each in self.connections + ([self.flow] if self.flow else []):
            each.close()

    def errors(self):
        """Sends that failed: the server reset or stopped reading a connection."""
        return sum(c.errors for c in self.connections + ([self.flow] if self.flow else []))

    def figures(self):
        reconnects = sum(c.reconnects for c in self.connections)
        errors = self.errors()
        changed = sum(c.changed for c in self.connections)
        covered = all(n in self.lengths for n in range(1414))
        kinds = ", ".join(f"{k} {v}" for k, v in self.source.kinds.items())
        return (f"{self.sent} of {self.count} malformed or partial messages in {self.sends} sends "
                f"over {len(self.connections)} connections ({kinds}); lengths 0-1413 "
                f"{'all sent' if covered else 'NOT all sent'}; {changed} dangerous headers "
                f"defused; {errors} send errors, {reconnects} reconnects; flow marks "
                f"{self.marks_sent}, {self.marks_lost} lost, waited {self.marks_waited_s:.1f} s")
