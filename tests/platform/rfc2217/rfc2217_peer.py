#!/usr/bin/env python3
"""An independent remote serial port for tests.

Serves a loop:// port of python3-serial through serial.rfc2217.PortManager on
127.0.0.1. Writes the TCP port number to DIR/port once listening, and one line
per thing the serial port saw to DIR/log ("rts True", "baudrate 4800",
"data 00ff", ...). Serves one client and exits when it leaves, or after a
minute in any case, so a failed test never leaves it behind.

Usage: rfc2217_peer.py DIR
"""
import os
import socket
import sys
import threading

import serial
import serial.rfc2217

WATCHED = ("rts", "dtr", "baudrate", "bytesize", "parity", "stopbits")


class Watched:
    """Passes everything to the port, noting the settings the server makes."""

    def __init__(self, port, note):
        object.__setattr__(self, "_port", port)
        object.__setattr__(self, "_note", note)

    def __getattr__(self, name):
        return getattr(self._port, name)

    def __setattr__(self, name, value):
        setattr(self._port, name, value)
        if name in WATCHED:
            self._note("%s %s" % (name, value))


def main():
    folder = sys.argv[1]
    log = open(os.path.join(folder, "log"), "w")
    lock = threading.Lock()

    def note(line):
        with lock:
            log.write(line + "\n")
            log.flush()

    port = Watched(serial.serial_for_url("loop://", timeout=0.05), note)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(60)
    # Written whole, then renamed, so the test never reads half a number.
    with open(os.path.join(folder, "port.tmp"), "w") as out:
        out.write(str(listener.getsockname()[1]))
    os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))

    connection, _ = listener.accept()
    connection.settimeout(60)
    connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    class Writer:
        def write(self, data):
            connection.sendall(data)

    manager = serial.rfc2217.PortManager(port, Writer())
    alive = [True]

    def echo():
        # What the loop port gives back goes to the client as port input.
        while alive[0]:
            data = port.read(256)
            if data:
                try:
                    connection.sendall(b"".join(manager.escape(data)))
                except OSError:
                    return

    reader = threading.Thread(target=echo, daemon=True)
    reader.start()
    try:
        while True:
            data = connection.recv(1024)
            if not data:
                break
            out = b"".join(manager.filter(data))
            if out:
                note("data " + out.hex())
                port.write(out)
    except OSError:
        pass
    alive[0] = False
    note("closed")


if __name__ == "__main__":
    main()
