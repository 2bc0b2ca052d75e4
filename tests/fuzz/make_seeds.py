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


# Server sign-on: settings (members | connections - 1 << 2 | port mode << 4
# | named member << 6), then events: a connection's bytes, or a member's leave.
HALF, RESET = 0, 1
OWN, AS_SENT, NAMES_MEMBER = 0, 1, 2
PORT_1027 = b"\x04\x03"
def settings(members, connections=1, mode=OWN, named=0):
    return bytes([members | (connections - 1) << 2 | mode << 4 | named << 6])
def sends(conn, *parts, reset=False):
    """Each part as events of conn, of at most 255 bytes each; with reset,
    the connection is reset after the last of them."""
    events = []
    for part in parts:
        while True:
            events.append(bytes([conn]) + counted(part[:255]))
            part = part[255:]
            if not part:
                break
    if reset:
        events[-1] = bytes([conn | 0x80]) + events[-1][1:]
    return b"".join(events)
def leaves(member):
    return bytes([4 | member << 3])
def whole(name, port=PORT_1027):
    return hello(name) + b"\x05\x05" + port
write("server_signon_fuzz", {
    "first-user": settings(0) + sends(0, hello(b"Ann"), b"\x05", b"\x05", PORT_1027),
    "third-user": settings(2) + sends(0, hello(b"Dee"), b"\x05", b"\x05", PORT_1027),
    "empty-name": settings(1) + sends(0, hello(b""), b"\x05", b"\x05", PORT_1027),
    "one-piece": settings(3) + sends(0, whole(b"Eve")),
    "byte-by-byte": settings(1) + sends(0, *[bytes([b]) for b in whole(b"Fay")]),
    "odd-echo": settings(1) + sends(0, hello(b"Gil"), b"\x07", b"\x09", PORT_1027),
    "longest-name": settings(1) + sends(0, hello(b"n" * 509), b"\x05", b"\x05", PORT_1027),
    "no-zero-in-511": settings(0) + sends(0, b"\x02" + b"m" * 510, b"\x05", b"\x05", PORT_1027),
    "refused-version-1": settings(1) + sends(0, b"\x01Old\x00"),
    "stops-in-hello": settings(1) + sends(0, b"\x02Ha"),
    "stops-after-echo": settings(1) + sends(0, hello(b"Ivy"), b"\x05"),
    "half-port-notice": settings(1) + sends(0, hello(b"Jo"), b"\x05", b"\x05", b"\x04"),
    "resets-complete": settings(1) + sends(0, hello(b"Kim"), b"\x05", b"\x05", PORT_1027, reset=True),
    "names-server-port": settings(1, mode=AS_SENT) + sends(0, hello(b""), b"\x05", b"\x05", b"\x08\x03"),
    "resets": settings(1) + sends(0, hello(b"Lou"), b"\x05", reset=True),
    "name-of-600": settings(1) + sends(0, hello(b"x" * 600), b"\x05", b"\x05", PORT_1027),
    "port-zero": settings(1, mode=AS_SENT) + sends(0, hello(b"Zed"), b"\x05", b"\x05", b"\x00\x00"),
    "replaces-member": settings(3, mode=NAMES_MEMBER, named=1) + sends(0, whole(b"Bob")),
    # Several at once: hellos interleaved, a join and a leave while another
    # newcomer's room list is out, a reset in the middle of it all.
    "two-interleaved": settings(1, 2) + sends(0, b"\x02Ma") + sends(1, b"\x02Ne") + sends(0, b"x\x00")
        + sends(1, b"d\x00") + sends(1, b"\x05\x05" + PORT_1027) + sends(0, b"\x05\x05" + PORT_1027),
    "join-and-leave-meanwhile": settings(2, 3) + sends(0, hello(b"Cy")) + sends(1, whole(b"Dee")) + leaves(1)
        + sends(2, whole(b"Eve")) + sends(0, b"\x05\x05" + PORT_1027),
    "four-at-once": settings(3, 4) + sends(0, hello(b"W")) + sends(1, hello(b"X")) + sends(2, hello(b"Y"))
        + sends(3, hello(b"Z")) + sends(3, b"\x05\x05" + PORT_1027) + leaves(0) + sends(2, b"\x05", reset=True)
        + sends(1, b"\x05\x05" + PORT_1027) + sends(0, b"\x05\x05" + PORT_1027),
    "refused-beside-joining": settings(1, 2) + sends(0, hello(b"Ok")) + sends(1, b"\x03Bad\x00")
        + sends(0, b"\x05\x05" + PORT_1027),
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
