#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/.

The seeds are checked in; run this again after changing it. The reply layout is
written out here on its own, from the wire format, not taken from the tool.
"""

import pathlib
import struct

MASK = 0xA7
HERE = pathlib.Path(__file__).resolve().parent


def scramble(data: bytes) -> bytes:
    return bytes(b ^ MASK for b in data)


def reply(name=b"", eeprom=(10, 77, 1, 1), current=(10, 77, 1, 1), uptime=0,
          flags=(1, 0, 0, 1), serial=0, fill=0):
    """A plain 64-byte reply; `fill` goes into the bytes the tool does not read."""
    plain = bytearray([fill] * 64)
    plain[0:13] = name[:13].ljust(13, b"\0")
    plain[14:18] = bytes(eeprom)
    plain[19:23] = bytes(current)
    plain[23:27] = struct.pack("<i", uptime)
    plain[27:31] = bytes(flags)
    plain[31:35] = struct.pack("<i", serial)
    return bytes(plain)


REPLIES = {
    "full-name-ntp-gps": scramble(reply(b"TIMESERVER-01", (10, 0, 0, 7), (192, 168, 1, 20),
                                        17, (1, 0, 0, 1), 123456)),
    "padded-name-no-flags": scramble(reply(b"NTP", flags=(0, 0, 0, 0), serial=1)),
    "latin1-name-odd-flags": scramble(reply(b"\xe9t\xe9-\xff", (254, 128, 127, 1),
                                            (255, 255, 255, 255), -5, (2, 0, 255, 0), -2)),
    "all-flags-extremes": scramble(reply(b"EDGE\x01\x7f", (0, 0, 0, 0), (0, 0, 0, 0),
                                         -2**31, (1, 1, 1, 1), 2**31 - 1, fill=0x5A)),
    "one-short-63": scramble(reply(b"SHORT", serial=77))[:63],
    "empty": b"",
    "one-long-65": scramble(reply(b"CLOCK", serial=42, uptime=7)) + b"\x33",
    "probe-text": b"Broadcast message 1",
}

SETTINGS = {
    "complete": "10.0.0.7",
    "trailing-dot": "10.0.0.",
    "three-parts": "1.2.3",
    "empty": "",
    "broadcast": "255.255.255.255",
    "garbage-parts": "-1.99999999999.x.4",
    "five-parts": "10.0.0.7.9",
    "spaces-and-signs": " +10. -0.0x1.7 ",
    "past-32-bits": "4294967296.0.0.1",
    "fullwidth-digits": "\uff11\uff10.\uff10.\uff10.\uff17",
    "arabic-indic-digits": "\u0663.\u0663.\u0663.\u0663",
    "greek-and-nul": "\u03a9.0\x00.0.1",
}


def write(directory: pathlib.Path, name: str, data: bytes) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data)


def main() -> None:
    for name, data in REPLIES.items():
        write(HERE / "corpus" / "reply", name, data)
    for name, text in SETTINGS.items():
        write(HERE / "corpus" / "settings", name, text.encode("utf-8"))


if __name__ == "__main__":
    main()
