"""The well-behaved controller: one connection, opened before any other
client and kept for the whole run.

The server services its clients in the order they connected and hands each
reply to the first one it services, so the oldest client, this one, gets
nearly every reply, its own and the other clients' alike. It waits for its
own by type: only it asks the connect, acquisition and count types."""

import socket
import threading
import time

import soak_net
from soak_wire import GET, SET, reply_value, request


class Controller:
    def __init__(self, port, board):
        self.board = board
        self.sock = soak_net.connect(port)
        self.connected = self.sock is not None
        self.broken = False  # the connection failed or the server closed it
        self.lock = threading.Lock()  # one request in flight at a time
        self.round_trips = []  # (seconds since start, type, ms or None)
        self.started_at = time.monotonic()
        self.reader = None
        if self.sock is not None:
            self.sock.settimeout(None)
            self.reader = threading.Thread(target=self._read, daemon=True)
            self.reader.start()

    def ok(self):
        """Whether the controller got its connection at the start."""
        return self.connected

    def _read(self):
        stream = soak_net.new_stream()
        sock = self.sock
        while True:
            try:
                data = sock.recv(65536)
            except OSError:
                data = b""
            if not data:
                self.broken = True
                return
            for type_, _action, payload in stream.feed(data):
                self.board.note(type_, payload)

    def ask(self, type_, action=GET, argument=None, timeout_s=10.0):
        """Sends one request and waits for a reply of its type. Returns the
        reply's 32-bit value (None on no reply) and the round trip in ms."""
        if self.sock is None or self.broken:
            return None, None
        with self.lock:
            before = self.board.count(type_)
            started = time.monotonic()
            try:
                self.sock.sendall(request(type_, action, argument))
            except OSError:
                self.broken = True
                return None, None
            payload = self.board.wait_above(type_, before, timeout_s)
            if payload is None:
                return None, None
            return reply_value(payload), (time.monotonic() - started) * 1000.0

    def query(self, type_):
        """A count asked now and then; its round trip is recorded."""
        value, ms = self.ask(type_)
        self.round_trips.append((round(time.monotonic() - self.started_at, 1), type_, ms))
        return value

    def command(self, type_, value, deadline_s=120.0):
        """Sets a value and makes sure it took: a request dropped by a full
        queue, or a reply that went to another client, is asked again."""
        end = time.monotonic() + deadline_s
        while time.monotonic() < end and not self.broken:
            got, _ = self.ask(type_, SET, value)
            if got is None:
                got, _ = self.ask(type_, GET)
            if got == value:
                return True
            time.sleep(1.0)
        return False

    def close(self):
        if self.sock is not None:
            self.broken = True
            try:
                self.sock.shutdown(socket.SHUT_RDWR)  # wakes the reader
            except OSError:
                pass
            soak_net.close(self.sock)
            self.sock = None
        if self.reader is not None:
            self.reader.join(timeout=10)
