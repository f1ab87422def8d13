#!/usr/bin/env python3
"""A list server for the end-to-end tests; what it answers depends on the request path.

  .../list.txt   a short list
  .../big        1 MiB of list lines
  .../404, /500  an error page with that status
  .../redirect   a redirect to /list.txt
  .../cut        a body that breaks off before its Content-Length
  .../silence    reads the request, then says nothing until the client gives up

Usage: list_server.py ADDRESS PORT REQUEST_LOG READY_FILE
Every request head is appended to REQUEST_LOG as it arrived; READY_FILE appears once listening.
"""
import http.server
import socketserver
import sys

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

    def do_GET(self):
        with open(self.server.request_log, "ab") as log:
            log.write(self.raw_requestline)
            log.write(bytes(self.headers))
        path = self.path
        if path.endswith("/list.txt"):
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
            self.wfile.flush()
            self.connection.settimeout(300)
            try:
                while self.connection.recv(1024):
                    pass
            except OSError:
                pass
        else:
            self.answer(404, b"")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    address, port, request_log, ready = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    server = Server((address, port), Handler)
    server.request_log = request_log
    open(ready, "w").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
