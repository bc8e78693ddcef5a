#!/usr/bin/python3
"""Writes a WAVE file to standard output at PACE times its real-time rate,
as a live source delivers it, then creates DONE (the file's name) so that
a reader can tell what it got before the writer had finished.

usage: paced_writer.py FILE PACE DONE
"""
import os
import struct
import sys
import time

data = open(sys.argv[1], "rb").read()
pace = float(sys.argv[2])
byte_rate = struct.unpack("<I", data[28:32])[0]
piece = 4096
began = time.monotonic()
out = sys.stdout.buffer
try:
    for at in range(0, len(data), piece):
        wait = began + at / (byte_rate * pace) - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        out.write(data[at:at + piece])
        out.flush()
except BrokenPipeError:
    pass
open(sys.argv[3], "w").close()
try:
    out.close()
except BrokenPipeError:
    pass
os._exit(0)
