#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/.

Each seed is a real sign-on or a real run of datagrams, laid out the way its
target reads its input (see the comment at the top of each target). Run it
again after changing a layout; the files it writes are kept in the
repository.
"""

import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent


def i32(value):
    return struct.pack("<i", value)


def counted(data):
    assert len(data) < 256
    return bytes([len(data)]) + data


def pieces(*parts):
    """A stream as pieces, each at most 255 bytes (longer parts are split)."""
    out = b""
    for part in parts:
        while len(part) > 255:
            out += counted(part[:255])
            part = part[255:]
        out += counted(part)
    return out


def hello(name):
    return b"\x02" + name + b"\x00"


def room_entry(name, ping):
    return i32(len(name) + 1) + name + b"\x00" + i32(ping)


def datagram(data):
    return struct.pack("<H", len(data)) + data


def write(target, seeds):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


# Server sign-on: settings (members | reset << 2 | names a member's port << 3
# | that member << 4), then the client's stream.
HALF, RESET = 0, 1
NAMES_MEMBER = 1 << 3
PORT_1027 = b"\x04\x03"
write("server_signon_fuzz", {
    "first-user": bytes([0]) + pieces(hello(b"Ann"), b"\x05", b"\x05", PORT_1027),
    "third-user": bytes([2]) + pieces(hello(b"Dee"), b"\x05", b"\x05", PORT_1027),
    "empty-name": bytes([1]) + pieces(hello(b""), b"\x05", b"\x05", PORT_1027),
    "one-piece": bytes([3]) + pieces(hello(b"Eve") + b"\x05\x05" + PORT_1027),
    "byte-by-byte": bytes([1]) + pieces(*[bytes([b]) for b in hello(b"Fay") + b"\x05\x05" + PORT_1027]),
    "odd-echo": bytes([1]) + pieces(hello(b"Gil"), b"\x07", b"\x09", PORT_1027),
    "longest-name": bytes([1]) + pieces(hello(b"n" * 509), b"\x05", b"\x05", PORT_1027),
    "no-zero-in-511": bytes([0]) + pieces(b"\x02" + b"m" * 510, b"\x05", b"\x05", PORT_1027),
    "refused-version-1": bytes([1]) + pieces(b"\x01Old\x00"),
    "stops-in-hello": bytes([1]) + pieces(b"\x02Ha"),
    "stops-after-echo": bytes([1]) + pieces(hello(b"Ivy"), b"\x05"),
    "half-port-notice": bytes([1]) + pieces(hello(b"Jo"), b"\x05", b"\x05", b"\x04"),
    "resets-complete": bytes([1 | RESET << 2]) + pieces(hello(b"Kim"), b"\x05", b"\x05", PORT_1027),
    "names-server-port": bytes([1]) + pieces(hello(b""), b"\x05", b"\x05", b"\x08\x03"),
    "resets": bytes([1 | RESET << 2]) + pieces(hello(b"Lou"), b"\x05"),
    "name-of-600": bytes([1]) + pieces(hello(b"x" * 600), b"\x05", b"\x05", PORT_1027),
    "port-zero": bytes([1]) + pieces(hello(b"Zed"), b"\x05", b"\x05", b"\x00\x00"),
    "replaces-member": bytes([3 | NAMES_MEMBER | 1 << 4]) + pieces(hello(b"Bob"), b"\x05", b"\x05", PORT_1027),
})

# Server datagrams: member count - 1, names, then steps (selector, datagram).
ANN, BOB, STRANGER = 0, 1, 2
def step(sender, data):
    return bytes([sender]) + datagram(data)
def again(member):
    return bytes([0x80 | member])
two = bytes([1]) + counted(b"Ann") + counted(b"Bob")
write("server_datagram_fuzz", {
    "chat": two + step(ANN, b"\x02hello\x00") + step(BOB, b"\x02hi Ann\x00"),
    "chat-without-zero": two + step(ANN, b"\x02no end"),
    "chat-after-zero": two + step(BOB, b"\x02cut\x00hidden"),
    "leave-then-send": two + step(BOB, b"\x03\x00") + step(BOB, b"\x02still here?\x00"),
    "ping": two + step(ANN, b"\x05\x00"),
    "new-from-client": two + step(ANN, b"\x01 15 Ann\x00"),
    "shutdown-from-client": two + step(ANN, b"\x04\x00"),
    "unknown-types": two + step(ANN, b"\x00\x00") + step(ANN, b"\x06x\x00") + step(BOB, b"\xffy\x00"),
    "empty": two + step(ANN, b""),
    "oversize": two + step(ANN, b"\x02" + b"x" * 511 + b"\x00"),
    "largest": two + step(ANN, b"\x02" + b"x" * 509 + b"\x00"),
    "stranger": two + step(STRANGER, b"\x02hello\x00") + step(STRANGER, b"\x03\x00"),
    "twice-in-room": two + again(ANN) + step(ANN, b"\x02echo\x00") + step(ANN, b"\x03\x00") + step(ANN, b"\x03\x00"),
    "four-members": bytes([3]) + counted(b"A") + counted(b"") + counted(b"C c") + counted(b"D" * 200)
        + step(3, b"\x02" + b"y" * 300 + b"\x00") + step(1, b"\x03\x00"),
})

# Client sign-on: settings (reset | endless << 1), name, then the server's
# stream; an endless server sends its last piece for ever.
ENDLESS = 2
def answer(room, echoes=b"\x05\x05", ping=15):
    parts = [b"\x02", i32(len(room))]
    for name, p in room:
        parts += [i32(len(name) + 1), name + b"\x00", i32(p)]
    parts += [echoes[:1], echoes[1:], i32(ping)]
    return parts
write("client_signon_fuzz", {
    "first-user": bytes([HALF]) + counted(b"Ann") + pieces(*answer([])),
    "room-of-two": bytes([HALF]) + counted(b"Cy") + pieces(*answer([(b"Bob", 0), (b"Ann", 15)])),
    "one-piece": bytes([HALF]) + counted(b"Cy") + pieces(b"".join(answer([(b"Bob", 3)]))),
    "empty-names": bytes([HALF]) + counted(b"") + pieces(*answer([(b"", 0), (b"", -1)])),
    "refused": bytes([HALF]) + counted(b"Old") + pieces(b"\x03"),
    "negative-count": bytes([HALF]) + counted(b"Ann") + pieces(b"\x02", i32(-5), b"\x05", b"\x05", i32(0)),
    "zero-length-entry": bytes([HALF]) + counted(b"Ann") + pieces(b"\x02", i32(1), i32(0), b"\x05\x05", i32(0)),
    "huge-length-entry": bytes([HALF]) + counted(b"Ann") + pieces(b"\x02", i32(1), i32(0x7FFFFFFF), b"x"),
    "entry-without-zero": bytes([HALF]) + counted(b"Ann") + pieces(b"\x02", i32(1), i32(3), b"Bob", i32(9), b"\x05\x05", i32(1)),
    "stops-in-room": bytes([HALF]) + counted(b"Ann") + pieces(b"\x02", i32(2), *answer([(b"Bob", 1)])[2:5]),
    "odd-probes": bytes([HALF]) + counted(b"Ann") + pieces(*answer([], echoes=b"\x00\xff", ping=-1)),
    "no-ping-result": bytes([HALF]) + counted(b"Ann") + pieces(*answer([])[:-1]),
    "server-resets-complete": bytes([RESET]) + counted(b"Ann") + pieces(*answer([(b"Bob", 0)])),
    "server-resets": bytes([RESET]) + counted(b"Ann") + pieces(b"\x02", i32(0)),
    "longest-entry": bytes([HALF]) + counted(b"Ann") + pieces(*answer([(b"n" * 510, 3)])),
    "endless-room": bytes([ENDLESS]) + counted(b"Ann") + pieces(b"\x02", i32(0x7FFFFFFF), room_entry(b"Bob", 1)),
    "endless-room-at-the-limit": bytes([ENDLESS]) + counted(b"Ann")
        + pieces(b"\x02", i32(100000), room_entry(b"Bob", 1)),
    "endless-silence": bytes([ENDLESS]) + counted(b"Ann") + pieces(b"\x02", i32(1), b""),
})

# Client datagrams: room entry count, names, then datagrams.
room = bytes([2]) + counted(b"Ann") + counted(b"Bob")
write("client_datagram_fuzz", {
    "join-chat-leave": room + datagram(b"\x01 15 Cy\x00") + datagram(b"\x02* Cy has joined the chat!\x00")
        + datagram(b"\x02<Cy> hello\x00") + datagram(b"\x03Cy\x00") + datagram(b"\x02* Cy has left the chat!\x00"),
    "new-scans": room + datagram(b"\x01 0x1f Hex\x00") + datagram(b"\x01 017 Oct\x00") + datagram(b"\x01 -3  Two blanks\x00")
        + datagram(b"\x01no number\x00") + datagram(b"\x01 0x\x00") + datagram(b"\x01 99999999999 Big\x00")
        + datagram(b"\x01\x00") + datagram(b"\x01 +7\tTab\x00"),
    "same-name-leaves": room + datagram(b"\x01 1 Ann\x00") + datagram(b"\x03Ann\x00") + datagram(b"\x03Nobody\x00"),
    "ping": room + datagram(b"\x05\x00") + datagram(b"\x05"),
    "shutdown": room + datagram(b"\x04\x00") + datagram(b"\x02after\x00"),
    "unknown-types": room + datagram(b"\x00\x00") + datagram(b"\x06\x00") + datagram(b"\xff\x00"),
    "sizes": room + datagram(b"") + datagram(b"\x02" + b"x" * 509 + b"\x00") + datagram(b"\x02" + b"x" * 510 + b"\x00"),
    "text-without-zero": room + datagram(b"\x02no end") + datagram(b"\x03Bo"),
    "empty-room": bytes([0]) + datagram(b"\x01 0 Me\x00") + datagram(b"\x03Me\x00"),
})
