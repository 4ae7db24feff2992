#!/usr/bin/env python3
"""The https side of the download benchmark: GET /sized/N answers N bytes with a
Content-Length over TLS, from one 1 MiB buffer of the same pattern as bench_server.cpp's
sized case is compared against (both tools get the same bytes; bench.py compares them).

    tls_bench_server.py CERT KEY

Prints "PORT n" once it listens on 127.0.0.1. Each connection has a thread of its own.
"""
import os
import socket
import ssl
import sys
import threading

MIB = 1 << 20
BLOCK = os.urandom(MIB)


def serve(conn):
    try:
        pending = b""
        while True:
            while b"\r\n\r\n" not in pending:
                data = conn.recv(65536)
                if not data:
                    return
                pending += data
            head, _, pending = pending.partition(b"\r\n\r\n")
            parts = head.split(b" ")[1].decode().strip("/").split("/")
            if len(parts) != 2 or parts[0] != "sized" or not parts[1].isdigit():
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                continue
            n = int(parts[1])
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % n)
            view = memoryview(BLOCK)
            while n > 0:
                step = min(n, MIB)
                conn.sendall(view[:step])
                n -= step
    except (OSError, ssl.SSLError):
        pass
    finally:
        conn.close()


def main():
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[1], sys.argv[2])
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("PORT", listener.getsockname()[1], flush=True)
    while True:
        raw, _ = listener.accept()
        try:
            conn = context.wrap_socket(raw, server_side=True)
        except (OSError, ssl.SSLError):
            raw.close()
            continue
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
