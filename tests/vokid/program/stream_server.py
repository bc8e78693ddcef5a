#!/usr/bin/python3
"""Serves one audio file over HTTP on loopback as a live stream would: every
GET gets the file from its start, sent at PACE times its real-time rate
(the WAVE header tells the byte rate), with no Content-Length. Prints the
port it listens on, then serves until it is killed.

usage: stream_server.py FILE [PACE]
"""
import http.server
import socketserver
import struct
import sys
import time

PATH = sys.argv[1]
PACE = float(sys.argv[2]) if len(sys.argv) > 2 else 1.0
DATA = open(PATH, "rb").read()
BYTE_RATE = struct.unpack("<I", DATA[28:32])[0] if DATA[:4] == b"RIFF" else 176400
PIECE = 8192


class Stream(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "audio/wav")
        self.end_headers()
        began = time.monotonic()
        try:
            for at in range(0, len(DATA), PIECE):
                due = began + at / (BYTE_RATE * PACE)
                wait = due - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                self.wfile.write(DATA[at:at + PIECE])
                self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


port = int(sys.argv[3]) if len(sys.argv) > 3 else 0
with Server(("127.0.0.1", port), Stream) as server:
    print(server.server_address[1], flush=True)
    server.serve_forever()
