"""Connections of the soak's clients and the board where every reply any of
them receives is noted, whoever asked for it: the server sends a reply to
the first client it services, not necessarily to the one that asked."""

import collections
import select
import socket
import struct
import threading
import time

from soak_wire import ReplyStream


class Counter:
    """A thread-safe count, e.g. of the connections the soak holds open."""

    def __init__(self):
        self.value = 0
        self.lock = threading.Lock()

    def add(self, delta):
        with self.lock:
            self.value += delta

    def get(self):
        with self.lock:
            return self.value


OPEN = Counter()  # connections to the server the soak holds open now


def connect(port, timeout_s=10.0):
    """A TCP connection to the server on loopback, or None (refused, ...)."""
    try:
        sock = socket.create_connection(("127.0.0.1", port), timeout=timeout_s)
    except OSError:
        return None
    OPEN.add(1)
    return sock


def close(sock, reset=False):
    """Closes sock; reset sends RST instead of FIN, as a crashed peer."""
    if sock is None:
        return
    try:
        if reset:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
    except OSError:
        pass
    OPEN.add(-1)


class ReplyBoard:
    """Replies seen on any of the soak's connections, by type."""

    def __init__(self):
        self.cond = threading.Condition()
        self.counts = collections.Counter()
        self.last = {}

    def note(self, type_, payload):
        with self.cond:
            self.counts[type_] += 1
            self.last[type_] = payload
            self.cond.notify_all()

    def count(self, type_):
        with self.cond:
            return self.counts[type_]

    def wait_above(self, type_, count, timeout_s):
        """Waits until more than count replies of type_ were seen. Returns
        the last one's payload, or None at the time-out."""
        with self.cond:
            if self.cond.wait_for(lambda: self.counts[type_] > count, timeout_s):
                return self.last.get(type_, b"")
        return None


def drain(sock, stream, board):
    """Reads what waits on sock without blocking and notes its replies.
    False when the server closed the connection or it failed."""
    while True:
        # A socket with a time-out waits on recv even with MSG_DONTWAIT.
        try:
            readable, _, _ = select.select([sock], [], [], 0)
            if not readable:
                return True
            data = sock.recv(65536)
        except OSError:
            return False
        if not data:
            return False
        for type_, _action, payload in stream.feed(data):
            board.note(type_, payload)


def new_stream():
    return ReplyStream()


def sleep_until(stop, due):
    """Waits for the monotonic time due; False when stop was set first."""
    while not stop.is_set():
        left = due - time.monotonic()
        if left <= 0:
            return True
        stop.wait(min(left, 0.5))
    return False
