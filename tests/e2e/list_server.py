#!/usr/bin/env python3
"""A list server for the end-to-end tests; what it answers depends on the request path.

  .../list.txt   a short list
  .../big        1 MiB of list lines
  .../404, /500  an error page with that status
  .../redirect   a redirect to /list.txt
  .../cut        a body that breaks off before its Content-Length
  .../silence    reads the request, then says nothing until the client gives up
  .../stall      the headers of a 1000-byte body, then nothing until the client gives up
  .../reset      20 KiB of a longer body, then a connection reset
  .../huge       a 50 MB body: two prefixes, one at each end, comment lines between them
  .../loop       a redirect to itself
  .../empty      a body of no bytes
  .../garbage    prefixes among 0xFF bytes, a NUL and what follows it
  .../noise      1 MiB of pseudo-random bytes with no line feed and no NUL
  .../manyN      N /24 prefixes from 30.0.0.0 upward, one every 512 addresses
  .../changing   8 /24 prefixes that all move with every request
  .../switch     answers as the path named in MODE_FILE (one word, such as list.txt or stall)

Usage: list_server.py ADDRESS PORT REQUEST_LOG READY_FILE [MODE_FILE]
Every request head is appended to REQUEST_LOG as it arrived; READY_FILE appears once listening.
"""
import http.server
import random
import re
import socket
import socketserver
import struct
import sys
import threading

LIST = b"10.0.0.0/8\n11.0.0.0/8\n"
ERROR_PAGE = b"<html>gone</html>\n10.9.8.0/24\n"


def big_body():
    line = b"%d.%d.%d.0/24\n"
    out = bytearray()
    i = 0
    while len(out) < 1 << 20:
        out += line % (1 + (i >> 16) % 223, (i >> 8) & 255, i & 255)
        i += 1
    return bytes(out[: 1 << 20])


BIG = big_body()

HUGE_SIZE = 50 * 1000 * 1000
HUGE_HEAD = b"10.1.0.0/16\n"
HUGE_TAIL = b"10.200.0.0/16\n"
HUGE_FILLER = b"#" * 1023 + b"\n"

GARBAGE = (b"10.1.0.0/16\n" + b"\xff" * 3000 + b"10.2.0.0/16\n" + b"\xff\xfe\x80 10.5.0.0/16\n" +
           b"10.3.0.0/16\n\x00" + b"10.4.0.0/16\n")


def noise_body():
    data = bytearray(random.Random(7).randbytes(1 << 20))
    for i, byte in enumerate(data):
        if byte in (0, 10):
            data[i] = 0xFF
    data[0] = 0xFF
    return bytes(data)


NOISE = noise_body()


def many_body(n):
    """Every other /24, so that no two of them are siblings that the list would join."""
    out = bytearray()
    for i in range(n):
        a = (30 << 24) + i * 512
        out += b"%d.%d.%d.0/24\n" % (a >> 24, a >> 16 & 255, a >> 8 & 255)
    return bytes(out)


def changing_body(n):
    return b"".join(b"10.%d.%d.0/24\n" % (k, (n + k) & 255) for k in range(8))


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body, extra=()):
        self.send_response_only(status)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def hold(self):
        """Says nothing more until the client closes or five minutes pass."""
        self.wfile.flush()
        self.connection.settimeout(300)
        try:
            while self.connection.recv(1024):
                pass
        except OSError:
            pass
        self.close_connection = True

    def answer_more(self, path):
        """The modes beyond the first ones; False when the path names none of them."""
        many = re.search(r"/many(\d+)$", path)
        if path.endswith("/stall"):
            self.send_response_only(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.hold()
        elif path.endswith("/reset"):
            self.send_response_only(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(BIG[: 20 * 1024])
            self.wfile.flush()
            # A zero linger time turns the close into a reset.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif path.endswith("/huge"):
            self.send_response_only(200)
            self.send_header("Content-Length", str(HUGE_SIZE))
            self.end_headers()
            left = HUGE_SIZE - len(HUGE_HEAD) - len(HUGE_TAIL)
            self.wfile.write(HUGE_HEAD)
            chunk = HUGE_FILLER * 256
            while left > 0:
                piece = chunk[:left]
                if len(piece) < len(chunk):
                    piece = piece[:-1] + b"\n"  # the tail starts a line of its own
                self.wfile.write(piece)
                left -= len(piece)
            self.wfile.write(HUGE_TAIL)
        elif path.endswith("/loop"):
            self.answer(302, b"moved\n10.9.9.0/24\n", [("Location", path)])
        elif path.endswith("/empty"):
            self.answer(200, b"")
        elif path.endswith("/garbage"):
            self.answer(200, GARBAGE)
        elif path.endswith("/noise"):
            self.answer(200, NOISE)
        elif many:
            self.answer(200, many_body(int(many.group(1))))
        elif path.endswith("/changing"):
            with self.server.lock:
                n = self.server.served
                self.server.served += 1
            self.answer(200, changing_body(n))
        else:
            return False
        return True

    def do_GET(self):
        with open(self.server.request_log, "ab") as log:
            log.write(self.raw_requestline)
            log.write(bytes(self.headers))
        path = self.path
        if path.endswith("/switch") and self.server.mode_file:
            with open(self.server.mode_file) as f:
                path = "/" + f.read().strip()
        if self.answer_more(path):
            pass
        elif path.endswith("/list.txt"):
            self.answer(200, LIST)
        elif path.endswith("/big"):
            self.answer(200, BIG)
        elif path.endswith("/404"):
            self.answer(404, ERROR_PAGE)
        elif path.endswith("/500"):
            self.answer(500, ERROR_PAGE)
        elif path.endswith("/redirect"):
            self.answer(302, b"", [("Location", "/list.txt")])
        elif path.endswith("/cut"):
            self.send_response_only(200)
            self.send_header("Content-Length", "5000")
            self.end_headers()
            self.wfile.write(LIST * 10)
            self.wfile.flush()
            self.close_connection = True
        elif path.endswith("/silence"):
            self.hold()
        else:
            self.answer(404, b"")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    address, port, request_log, ready = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    server = Server((address, port), Handler)
    server.request_log = request_log
    server.mode_file = sys.argv[5] if len(sys.argv) > 5 else None
    server.lock = threading.Lock()
    server.served = 0
    open(ready, "w").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
