#!/usr/bin/env python3
"""Minimal ordering-software side of orderlink's link (see host-link.md).

usage: host_link_example.py APPDIR [PORT]   (PORT 0 or none: the system picks one)
Start it first, then `orderlink <port it printed>` with ORDERLINK_APPDIR=APPDIR.
It answers every request with an empty reply (the handset just gets "FHJS"),
accepts every login of the window's login form (code 10: "1" in DL.txt), and ends
when orderlink closes. Ctrl+C asks orderlink to close first. Nobody waits for an
answer: were this script not to answer, a handset would get no reply (orderlink
polls again after 15 s) and the login form would stay open."""
import os, socket, struct, sys

HOST_NOTIFY, WM_CLOSE = 1280, 16
REQUEST, LOGIN = 1, 10
txt = os.path.join(sys.argv[1], "TXT")
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", int(sys.argv[2]) if len(sys.argv) > 2 else 0))
print("listening on", sock.getsockname()[1], flush=True)
program = None  # orderlink's own port, from its start-up notification

def post(message, code):
    sock.sendto(struct.pack("<IIi", message, 0, code), ("127.0.0.1", program))

def first_line(name):  # file names are matched without regard to case
    match = [n for n in os.listdir(txt) if n.lower() == name.lower()]
    with open(os.path.join(txt, match[0] if match else name), "rb") as f:
        return (f.read().splitlines() or [b""])[0]

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
        elif message == HOST_NOTIFY and code == REQUEST:  # a request is in TXT/T1.txt
            header = first_line("T1.txt")
            print("request", header.decode("gbk", "replace"), flush=True)
            with open(os.path.join(txt, "R1.txt"), "wb") as f:
                f.write(header + b"\r\n")  # header only: no reply lines
            post(HOST_NOTIFY, REQUEST)
        elif message == HOST_NOTIFY and code == LOGIN:  # user and password in TXT/DL.txt
            user = first_line("DL.txt").split(b" ")[0]
            print("login", user.decode("gbk", "replace"), flush=True)
            with open(os.path.join(txt, "DL.txt"), "wb") as f:
                f.write(b"1\r\n")  # "1" accepts; any other first line refuses
            post(HOST_NOTIFY, LOGIN)
        else:
            print("notification", code, flush=True)
except KeyboardInterrupt:
    if program is not None:
        post(WM_CLOSE, 0)
