#!/usr/bin/env python3
"""Minimal ordering-software side of orderlink's link (see host-link.md).

usage: host_link_example.py APPDIR [PORT]   (PORT 0 or none: the system picks one)
Start it first, then `orderlink <port it printed>` with ORDERLINK_APPDIR=APPDIR.
It answers every request with an empty reply (the handset just gets "FHJS") and
ends when orderlink closes. Ctrl+C asks orderlink to close first."""
import os, socket, struct, sys

HOST_NOTIFY, WM_CLOSE = 1280, 16
appdir = sys.argv[1]
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", int(sys.argv[2]) if len(sys.argv) > 2 else 0))
print("listening on", sock.getsockname()[1], flush=True)
program = None  # orderlink's own port, from its start-up notification

def post(message, code):
    sock.sendto(struct.pack("<IIi", message, 0, code), ("127.0.0.1", program))

try:
    while True:
        data, (address, port) = sock.recvfrom(64)
        if address != "127.0.0.1" or len(data) != 12 or program not in (None, port):
            continue
        message, _, code = struct.unpack("<IIi", data)
        if message == WM_CLOSE:
            print("orderlink closed", flush=True)
            break
        if message == HOST_NOTIFY and program is None:
            program = code  # start-up: lParam is orderlink's port
            print("orderlink started on port", program, flush=True)
        elif message == HOST_NOTIFY and code == 1:  # a request is in TXT/T1.txt
            with open(os.path.join(appdir, "TXT", "T1.txt"), "rb") as f:
                header = f.read().splitlines()[0]
            print("request", header.decode("gbk", "replace"), flush=True)
            with open(os.path.join(appdir, "TXT", "R1.txt"), "wb") as f:
                f.write(header + b"\r\n")  # header only: no reply lines
            post(HOST_NOTIFY, 1)
        else:
            print("notification", code, flush=True)
except KeyboardInterrupt:
    if program is not None:
        post(WM_CLOSE, 0)
