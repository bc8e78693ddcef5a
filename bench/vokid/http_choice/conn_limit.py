#!/usr/bin/env python3
"""With a server limit of LIMIT connections, open LIMIT idle connections,
then one more that asks GET /ping: is it refused, closed, answered (when)?

usage: conn_limit.py PORT LIMIT
"""
import socket
import sys
import time

port, limit = int(sys.argv[1]), int(sys.argv[2])
idle = []
for _ in range(limit):
    s = socket.create_connection(("127.0.0.1", port), timeout=2)
    idle.append(s)
time.sleep(0.3)  # let the server accept them all
t0 = time.monotonic()
try:
    extra = socket.create_connection(("127.0.0.1", port), timeout=2)
except OSError as e:
    print(f"limit: connection {limit + 1}: connect failed ({e.__class__.__name__}) after {time.monotonic() - t0:.2f}s")
    sys.exit(0)
extra.settimeout(5)
try:
    extra.sendall(b"GET /ping HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    data = extra.recv(4096)
    dt = time.monotonic() - t0
    if data:
        status = data.split(b"\r\n", 1)[0].decode(errors="replace")
        print(f"limit: connection {limit + 1}: answered '{status}' after {dt:.2f}s")
    else:
        print(f"limit: connection {limit + 1}: closed (EOF) after {dt:.2f}s")
except socket.timeout:
    print(f"limit: connection {limit + 1}: no answer within 5s")
except OSError as e:
    print(f"limit: connection {limit + 1}: {e.__class__.__name__} after {time.monotonic() - t0:.2f}s")
# Are the idle ones still open? (a read that would block means yes)
alive = 0
for s in idle:
    s.setblocking(False)
    try:
        alive += 0 if s.recv(1) == b"" else 1
    except BlockingIOError:
        alive += 1
    except OSError:
        pass
    s.close()
print(f"limit: idle connections still open at {time.monotonic() - t0:.2f}s: {alive}/{limit}")
