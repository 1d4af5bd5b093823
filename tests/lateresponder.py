#!/usr/bin/env python3
"""lateresponder ADDRESS DELAY_MS INTERFACE - a host that answers ARP for ADDRESS, and nothing
else, DELAY_MS after each request: a busy device on a real segment. Runs (as root) in a device
namespace of scripts/vsegment until it is stopped; ADDRESS must not be an address of that
namespace, or its kernel answers first."""

import socket
import struct
import sys
import time

address, delay_ms, interface = socket.inet_aton(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
ARP = 0x0806
link = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ARP))
link.bind((interface, ARP))
own = link.getsockname()[4]
print("ready", flush=True)
while True:
    frame = link.recv(2048)
    # Ethernet (14 bytes), then ARP for IPv4 over Ethernet: operation 1 is a request.
    operation, sender_mac, sender_ip, _, target_ip = struct.unpack_from("!6xH6s4s6s4s", frame, 14)
    if operation != 1 or target_ip != address:
        continue
    time.sleep(delay_ms / 1000.0)
    reply = struct.pack("!6s6sH", sender_mac, own, ARP)
    reply += struct.pack("!HHBBH6s4s6s4s", 1, 0x0800, 6, 4, 2, own, address, sender_mac, sender_ip)
    link.send(reply)
