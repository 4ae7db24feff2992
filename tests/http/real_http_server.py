#!/usr/bin/env python3
"""An HTTP/1.1 server on python's http.server for the client's tests.

Listens on 127.0.0.1 (or the address given as its argument) with a port chosen by the
system and prints "Serving HTTP on ADDRESS port N" as its first line. Routes:
  /sized/N        N pattern bytes with a Content-Length
  /chunked/N/K    N pattern bytes in chunks of K
  /close/N        N pattern bytes without a length; the server then closes
  /status/C       status C with the body "status C"
  /redirect/PATH  302 to /PATH
  /setcookie      sets sid=abc123 for path /
  /cookie         answers with the request's Cookie value
  /connections    answers with the number of connections accepted so far
Pattern byte i is i % 251.
"""

import http.server
import sys
import threading

lock = threading.Lock()
connections = 0


def pattern(n):
    block = bytes(i % 251 for i in range(251))
    return (block * (n // 251 + 1))[:n]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        global connections
        with lock:
            connections += 1
        super().setup()

    def log_message(self, *args):
        pass

    def send_body(self, code, body, headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        if code in (204, 304):  # no body, and no length that would announce one
            self.end_headers()
            return
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        kind = parts[0]
        if kind == "sized":
            self.send_body(200, pattern(int(parts[1])))
        elif kind == "chunked":
            n, k = int(parts[1]), int(parts[2])
            data = pattern(n)
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for at in range(0, n, k):
                piece = data[at:at + k]
                self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            self.wfile.write(b"0\r\n\r\n")
        elif kind == "close":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(pattern(int(parts[1])))
            self.close_connection = True
        elif kind == "status":
            code = int(parts[1])
            self.send_body(code, b"status %d" % code)
        elif kind == "redirect":
            self.send_body(302, b"moved", [("Location", "/" + "/".join(parts[1:]))])
        elif kind == "setcookie":
            self.send_body(200, b"ok", [("Set-Cookie", "sid=abc123; path=/")])
        elif kind == "cookie":
            self.send_body(200, (self.headers.get("Cookie") or "(none)").encode())
        elif kind == "connections":
            with lock:
                count = connections
            self.send_body(200, str(count).encode())
        else:
            self.send_error(404)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


if __name__ == "__main__":
    address = sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1"
    server = Server((address, 0), Handler)
    print("Serving HTTP on %s port %d" % (address, server.server_address[1]), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    sys.exit(0)
