#!/usr/bin/env python3
"""Open N connections that each send one byte of a request header a second,
for at most DURATION seconds, and report when the server dropped them.

usage: slow_clients.py PORT N DURATION
"""
import select
import socket
import sys
import time

port, n, duration = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
req = b"GET /ping HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + b"a" * 200 + b"\r\n\r\n"
t0 = time.monotonic()
conns = {}
refused = 0
for _ in range(n):
    s = socket.socket()
    s.settimeout(1.0)
    try:
        s.connect(("127.0.0.1", port))
    except OSError:
        refused += 1
        s.close()
        continue
    s.setblocking(False)
    conns[s] = 0
dropped = []  # seconds after the start at which the server closed
answered = 0
next_send = time.monotonic()
while conns and time.monotonic() - t0 < duration:
    now = time.monotonic()
    if now >= next_send:
        for s in list(conns):
            i = conns[s]
            try:
                s.send(req[i:i + 1])
                conns[s] = min(i + 1, len(req) - 1)
            except OSError:
                dropped.append(now - t0)
                del conns[s]
                s.close()
        next_send += 1.0
    r, _, _ = select.select(list(conns), [], [], max(0.0, min(0.2, next_send - time.monotonic())))
    for s in r:
        try:
            data = s.recv(4096)
        except OSError:
            data = b""
        if data:
            answered += 1  # an answer before the header was complete
        dropped.append(time.monotonic() - t0)
        del conns[s]
        s.close()
dropped.sort()
med = dropped[len(dropped) // 2] if dropped else float("nan")
print(f"slow: opened={n - refused} refused={refused} dropped={len(dropped)} "
      f"answered_early={answered} alive_at_end={len(conns)} "
      f"first_drop_s={dropped[0] if dropped else float('nan'):.1f} median_drop_s={med:.1f}")
for s in conns:
    s.close()
