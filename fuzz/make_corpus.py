#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/.

The seeds are checked in; run this again after changing it. The reply and SNTP
layouts are written out here on their own, from the wire formats, not taken
from the tool.
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


# The transmit time of the request every SNTP seed answers; fuzz_sntp_answer.cpp holds the same.
OUR_STAMP = 0xEAD2A1F05A5A1234
ERA_SECONDS = 0xEAD2A1F0


def ntp(seconds, base=ERA_SECONDS):
    """An NTP timestamp `seconds` after `base` (whole seconds since 1900, modulo the era); None
    is the all-zero timestamp."""
    if seconds is None:
        return 0
    return ((base << 32) + round(seconds * 2**32)) % 2**64


def sntp_answer(leap=0, version=4, mode=4, stratum=1, refid=b"GPS\0", sent=0.0, arrived=0.002,
                receive=0.5, transmit=0.5001, originate=OUR_STAMP, base=ERA_SECONDS):
    """A 48-byte answer (RFC 4330). fuzz_sntp_answer takes our clock when the request left from
    the reference time and when the answer came from the root delay and dispersion, fields the
    tool does not read."""
    return (bytes([leap << 6 | version << 3 | mode, stratum, 6, 0xEC])
            + struct.pack(">Q", ntp(arrived, base)) + refid
            + struct.pack(">QQQQ", ntp(sent, base), originate, ntp(receive, base),
                          ntp(transmit, base)))


SNTP = {
    "synchronised-v4": sntp_answer(),
    "stratum2-v3": sntp_answer(version=3, stratum=2, refid=bytes([10, 77, 0, 1])),
    "kiss-rate": sntp_answer(stratum=0, refid=b"RATE", receive=None, transmit=None),
    "stratum16": sntp_answer(stratum=16, refid=b"INIT"),
    "leap3": sntp_answer(leap=3),
    "client-mode": sntp_answer(mode=3),
    "version2": sntp_answer(version=2),
    "not-ours": sntp_answer(originate=OUR_STAMP ^ 1),
    "zero-transmit": sntp_answer(transmit=None),
    "receive-after-transmit": sntp_answer(receive=0.6, transmit=0.5),
    "era-change": sntp_answer(base=0xFFFFFFFF, sent=0.9, arrived=0.95, receive=1.2,
                              transmit=1.3),
    "hostile-refid": sntp_answer(refid=b"\x1b|\\\xff"),
    "short-47": sntp_answer()[:47],
    "extension-68": sntp_answer() + bytes(range(20)),
    "empty": b"",
}

PLANS = {
    "as-plan-writes-it": "serial,name,current_address,stored_address,new_address,set_time\r\n"
                         "65536,DEV-0001,10.77.1.1,10.77.1.1,10.77.5.1,yes\r\n"
                         "\"-5\",\"'=HYPERLINK(\",10.77.1.2,10.77.1.2,10.77.5.2,no\r\n",
    "by-hand": "serial,new_address\n65536,10.77.5.1\n131072,10.77.5.2\n",
    "bom-reordered-blanks": "\ufeffNew_Address , Serial, set_time\n 10.77.5.9 ,  7 ,TRUE\n\n,8,yes\n",
    "quoted-cells": "serial,name,new_address,set_time\r\n"
                    "\"1\",\"two\r\nlines, \"\"quoted\"\"\",10.77.5.1,\"1\"\r\n"
                    "2,x,\"10.77.5.2\",0\r\n",
    "extra-column": "serial,new_address,comment\n1,10.77.5.1,first\n",
    "cr-only": "serial,new_address\r1,10.77.5.1\r2,10.77.5.2",
    "faulty-lines": "serial,new_address,set_time\nx1,10.77.5.1,no\n2,010.77.5.2,no\n3,,no\n"
                    "4,10.77.5.4\n5,10.77.5.5,perhaps\n4294967296,10.77.5.6,yes\n",
    "bad-quote-open": "serial,new_address\n\"1,10.77.5.1\n",
    "bad-text-after-quote": "serial,new_address\n\"1\"x,10.77.5.1\n",
    "bad-no-serial": "name,new_address\nA,10.77.5.1\n",
    "bad-column-twice": "serial,SERIAL,new_address\n1,1,10.77.5.1\n",
    "empty": "",
}


def write(directory: pathlib.Path, name: str, data: bytes) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data)


def main() -> None:
    for name, data in REPLIES.items():
        write(HERE / "corpus" / "reply", name, data)
    for name, text in SETTINGS.items():
        write(HERE / "corpus" / "settings", name, text.encode("utf-8"))
    for name, data in SNTP.items():
        write(HERE / "corpus" / "sntp", name, data)
    for name, text in PLANS.items():
        write(HERE / "corpus" / "plan", name, text.encode("utf-8"))


if __name__ == "__main__":
    main()
