"""Command messages for the soak: building requests, reading replies, and
the generator of malformed and partial messages.

Header, little-endian: signature 0x1801 (bytes 01 18), reserved byte,
action, 16-bit type, three reserved bytes, 32-bit payload length; at most
1413 bytes in all. The server treats each chunk it reads as one message and
sends every reply to whichever client it services first, so the soak keeps
reply types apart: each type it waits for is asked by one party only.
"""

import random
import struct

SIGNATURE = b"\x01\x18"
HEADER = 13
MAX_MESSAGE = 1413
MAX_PAYLOAD = 1400

NONE, ECHO, CONNECT, PRETRIGGER, ACQUISITION, LASERPOWER = 0, 1, 2, 3, 4, 5
INTERVAL, FILEPREFIX, IMAGECOUNT, TRIGGERCOUNT, INIFILE, TRIGGERPORT = 6, 7, 9, 10, 11, 13
GET, SET = 0, 1

# A set request of these types changes what the server does.
STATEFUL = {CONNECT, PRETRIGGER, ACQUISITION, LASERPOWER, INTERVAL, FILEPREFIX}
# Replies the soak waits for: the controller's commands and counts, the
# flow-control marks and the two probes. No malformed message may ask them.
WATCHED = {CONNECT, ACQUISITION, INTERVAL, FILEPREFIX, IMAGECOUNT, TRIGGERCOUNT, TRIGGERPORT}
# Types a crafted, well-signed malformed message may carry: harmless, and
# answered (if at all) with a reply nobody waits for.
SAFE_TYPES = [ECHO, 8, 12, 14, 15, 0x100, 0x7FFF, 0xFFFF]
SAFE_ACTIONS = [GET, SET, 2, 3, 0xFF]


def message(type_, action=GET, payload=b"", length=None):
    """One request: header and payload; length overrides the length field."""
    if length is None:
        length = len(payload)
    return struct.pack("<HBBHBHI", 0x1801, 0, action, type_, 0, 0, length) + payload


def request(type_, action=GET, argument=None):
    """A request with an optional 32-bit argument."""
    payload = b"" if argument is None else struct.pack("<i", argument)
    return message(type_, action, payload)


class ReplyStream:
    """Splits the bytes received on one connection into replies."""

    def __init__(self):
        self.buffer = bytearray()
        self.garbled = 0  # bytes skipped because no reply header began there

    def feed(self, data):
        """Adds data; returns the whole replies as (type, action, payload)."""
        self.buffer += data
        replies = []
        while len(self.buffer) >= HEADER:
            if self.buffer[:2] != SIGNATURE:
                del self.buffer[0]
                self.garbled += 1
                continue
            action = self.buffer[3]
            type_ = self.buffer[4] | self.buffer[5] << 8
            length = struct.unpack_from("<I", self.buffer, 9)[0]
            if length > MAX_PAYLOAD:
                del self.buffer[0]
                self.garbled += 1
                continue
            if len(self.buffer) < HEADER + length:
                break
            replies.append((type_, action, bytes(self.buffer[HEADER:HEADER + length])))
            del self.buffer[:HEADER + length]
        return replies


def reply_value(payload):
    """The 32-bit value of a reply, or None when it carries none."""
    return struct.unpack_from("<i", payload)[0] if len(payload) >= 4 else None


def _dangerous(data, at):
    """A well-signed header at data[at:at+6] that changes state or asks a
    watched reply. Fewer than six bytes read as type 0, which is harmless."""
    action = data[at + 3]
    type_ = data[at + 4] | data[at + 5] << 8
    return (action == SET and type_ in STATEFUL) or (action in (GET, SET) and type_ in WATCHED)


def sanitize(chunk, tail):
    """Makes chunk harmless wherever the server's read may start.

    Reads can begin anywhere in a connection's byte stream (two sends read
    as one are cut at 1413 bytes), so every 01 18 in the stream counts, also
    one that began in tail, the last five bytes sent before. The type's high
    byte of a dangerous header becomes 0x80: an unknown type. Returns how
    many bytes were changed."""
    data = bytearray(tail) + chunk
    changed = 0
    at = data.find(SIGNATURE)
    while at != -1 and at + 6 <= len(data):
        if _dangerous(data, at):
            data[at + 5] = 0x80
            chunk[at + 5 - len(tail)] = 0x80
            changed += 1
        at = data.find(SIGNATURE, at + 1)
    return changed


class FuzzSource:
    """The malformed and partial messages, reproducible from a seed.

    Message i is i % 1414 bytes long, so every length from 0 to 1413 comes
    several times over a run. next_parts() gives the sends that make one
    message: one, or two for a message split across sends."""

    KINDS = ["random", "swapped", "badlength", "truncated", "pair", "split", "long"]
    WEIGHTS = [25, 20, 20, 5, 12, 15, 3]

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.index = 0
        self.kinds = {kind: 0 for kind in self.KINDS}

    def _bytes(self, n):
        return bytearray(self.rng.randbytes(n))

    def _safe(self, n, length=None):
        """A well-signed request of a harmless type, n bytes in all."""
        payload = self._bytes(max(0, n - HEADER))
        whole = message(self.rng.choice(SAFE_TYPES), self.rng.choice(SAFE_ACTIONS), bytes(payload),
                        length)
        return bytearray(whole[:n])

    def _swapped(self, n):
        signature = self.rng.choice([b"\x18\x01", b"\x01\x19", b"\x00\x18", b"\x01\x00",
                                     b"\xff\xff", b"\x81\x18"])
        rest = self._bytes(max(0, n - 2))
        return bytearray(signature + rest)[:n]

    def next_parts(self):
        n = self.index % (MAX_MESSAGE + 1)
        self.index += 1
        kind = self.rng.choices(self.KINDS, self.WEIGHTS)[0]
        if kind == "pair" and n < 2 * HEADER:
            kind = "badlength"
        if kind in ("split", "swapped") and n < 2:
            kind = "random"
        if kind == "truncated":
            n = self.rng.randrange(2, HEADER)
        self.kinds[kind] += 1
        if kind == "random":
            return [self._bytes(n)]
        if kind == "swapped":
            return [self._swapped(n)]
        if kind == "truncated":
            return [self._safe(n)]
        if kind == "badlength":
            length = self.rng.choice([0, max(0, n - HEADER - 1), n - HEADER + 1, MAX_PAYLOAD,
                                      MAX_PAYLOAD + 1, 0xFFFFFFFF, self.rng.getrandbits(32)])
            return [self._safe(n, max(0, length))]
        if kind == "pair":
            first = self.rng.randrange(HEADER, n - HEADER + 1)
            return [self._safe(first) + self._safe(n - first)]
        if kind == "split":
            whole = self._safe(n)
            cut = self.rng.randrange(1, n)
            return [whole[:cut], whole[cut:]]
        # long: more than the server reads at once, so it is cut into chunks
        return [self._safe(self.rng.randrange(MAX_MESSAGE + 1, 3 * MAX_MESSAGE))]
