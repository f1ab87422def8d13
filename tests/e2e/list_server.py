# The benchmark's list server on 127.0.0.1:80: the files of one folder, each with an ETag; a
# matching If-None-Match gets "304 Not Modified", a client that accepts gzip gets it compressed.
# Each answer's status and bytes on the wire (headers and body) are appended to the second file.
# A file NAME.raw is the whole answer, sent as it is before a close.
# list_server.py FOLDER SERVED_LOG
import gzip, hashlib, http.server, os, sys

folder, served = sys.argv[1], sys.argv[2]
made = {}  # (path, mtime, size) -> (etag, body, gzipped body), so that only a new file costs

def versions(path):
    st = os.stat(path)
    key = (path, st.st_mtime_ns, st.st_size)
    if key not in made:
        body = open(path, "rb").read()
        made[key] = ('"%s"' % hashlib.sha1(body).hexdigest(), body, gzip.compress(body, 6))
    return made[key]

class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path.endswith(".raw"):
            self.close_connection = True
            return self.wfile.write(open(os.path.join(folder, self.path.lstrip("/")), "rb").read())
        try:
            etag, body, packed = versions(os.path.join(folder, self.path.lstrip("/")))
        except OSError:
            return self.answer(404, b"not found\n", {})
        if self.headers.get("If-None-Match") == etag:
            return self.answer(304, b"", {"ETag": etag})
        if "gzip" in self.headers.get("Accept-Encoding", ""):
            return self.answer(200, packed, {"ETag": etag, "Content-Encoding": "gzip"})
        self.answer(200, body, {"ETag": etag})

    def answer(self, status, body, headers):
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        if status != 304:
            self.send_header("Content-Length", str(len(body)))
        wire = sum(len(h) for h in self._headers_buffer) + 2 + len(body)
        self.end_headers()
        self.wfile.write(body)
        with open(served, "a") as log:
            log.write("%d %d\n" % (status, wire))

    def log_message(self, *args):
        pass

http.server.ThreadingHTTPServer(("127.0.0.1", 80), Handler).serve_forever()
