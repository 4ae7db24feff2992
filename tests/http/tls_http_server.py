#!/usr/bin/env python3
"""An HTTPS server for the client's TLS tests, on 127.0.0.1 with a port chosen by the system.

    tls_http_server.py CERT KEY [--max-tls 1.2|1.3] [--require-client-cert CA] [--bind ADDRESS]

Prints "Serving HTTPS on ADDRESS port N" once it listens (127.0.0.1 unless --bind). Each connection is served on a
thread of its own and may carry several requests (keep-alive). Paths:

  /sized/N           N bytes with Content-Length
  /chunked/N         N bytes in chunks of 1000
  /until-close/N     N bytes ended by the server's close, with a close-notify
  /cut-sized/N       Content-Length N, half of the bytes, then a close without close-notify
  /cut-chunked/N     chunks for half of N, then a close without close-notify
  /cut-until-close/N N bytes ended by a close without close-notify
  /stall/N           Content-Length N, half of the bytes, then nothing for 10 s
  /redirect?to=URL   302 to URL
  /count             the number of TLS connections accepted so far, as text

Body bytes follow the pattern i % 251, as in the other test servers.
"""

import socket
import ssl
import sys
import threading
import time
from urllib.parse import parse_qs, urlsplit

accepted = 0
lock = threading.Lock()


def pattern(n):
    return bytes(i % 251 for i in range(n))


def read_request(conn, pending):
    while b"\r\n\r\n" not in pending:
        data = conn.recv(65536)
        if not data:
            return None, b""
        pending += data
    head, _, rest = pending.partition(b"\r\n\r\n")
    return head.decode("latin-1"), rest


def close_plain(conn):
    # Dropping the TLS object without unwrap() sends no close-notify.
    conn.close()


def drain(raw):
    try:
        raw.shutdown(socket.SHUT_WR)
        raw.settimeout(2)
        while raw.recv(65536):
            pass
    except OSError:
        pass
    raw.close()


def serve(conn):
    pending = b""
    try:
        while True:
            head, pending = read_request(conn, pending)
            if head is None:
                close_plain(conn)
                return
            target = head.split(" ")[1]
            parts = urlsplit(target)
            path = parts.path
            segments = path.strip("/").split("/")
            name = segments[0]
            n = int(segments[1]) if len(segments) > 1 and segments[1].isdigit() else 0
            body = pattern(n)
            if name == "sized":
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % n + body)
            elif name == "chunked":
                conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                for at in range(0, n, 1000):
                    piece = body[at:at + 1000]
                    conn.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
                conn.sendall(b"0\r\n\r\n")
            elif name == "until-close":
                conn.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body)
                conn.unwrap().close()
                return
            elif name == "cut-sized":
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % n + body[:n // 2])
                close_plain(conn)
                return
            elif name == "cut-chunked":
                conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                half = body[:n // 2]
                conn.sendall(b"%x\r\n" % len(half) + half + b"\r\n")
                close_plain(conn)
                return
            elif name == "cut-until-close":
                conn.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body)
                close_plain(conn)
                return
            elif name == "stall":
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % n + body[:n // 2])
                time.sleep(10)
                close_plain(conn)
                return
            elif name == "redirect":
                to = parse_qs(parts.query).get("to", [""])[0]
                conn.sendall(b"HTTP/1.1 302 Found\r\nLocation: " + to.encode("latin-1") +
                             b"\r\nContent-Length: 0\r\n\r\n")
            elif name == "count":
                with lock:
                    text = str(accepted).encode()
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(text) + text)
            else:
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
    except (OSError, ssl.SSLError):
        conn.close()


def main():
    cert, key = sys.argv[1], sys.argv[2]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    if "--max-tls" in sys.argv:
        version = sys.argv[sys.argv.index("--max-tls") + 1]
        context.maximum_version = ssl.TLSVersion.TLSv1_2 if version == "1.2" else ssl.TLSVersion.TLSv1_3
    if "--require-client-cert" in sys.argv:
        # The client has no certificate to give, so its handshake ends with an alert.
        context.verify_mode = ssl.CERT_REQUIRED
        context.load_verify_locations(sys.argv[sys.argv.index("--require-client-cert") + 1])
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    address = sys.argv[sys.argv.index("--bind") + 1] if "--bind" in sys.argv else "127.0.0.1"
    listener.bind((address, 0))
    listener.listen(16)
    print("Serving HTTPS on %s port %d" % (address, listener.getsockname()[1]), flush=True)
    global accepted
    while True:
        raw, _ = listener.accept()
        conn = context.wrap_socket(raw, server_side=True, do_handshake_on_connect=False)
        try:
            conn.do_handshake()
        except (OSError, ssl.SSLError):
            # A client that rejected the certificate ends here; so does one that gave up,
            # and one refused here (the alert is sent). Reading what the client still sends
            # before the close keeps the kernel from answering it with a reset, which could
            # overtake the alert.
            plain = socket.socket(fileno=conn.detach())
            threading.Thread(target=drain, args=(plain,), daemon=True).start()
            continue
        with lock:
            accepted += 1
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
