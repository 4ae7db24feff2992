#!/usr/bin/env python3
"""A local update server for the demo and the end-to-end tests.

GET /update/index.php?checkupdate&...  answers with the check reply (webinfo.ini format)
                                       and sets a cookie, like a real server's session.
GET /update/setup.exe                  the installer: a shell script padded to --size
                                       bytes, sent with a Content-Length at --rate bytes/s,
                                       with an ETag; "Range: bytes=N-" gets a 206 with the
                                       rest unless "If-Range" names another ETag (then 200),
                                       a 416 when N is past the end.
Anything else: 404. Every request line and its Cookie, Range and If-Range headers are
logged to stdout.

Usage: server.py [--port 0] [--build 2013] [--version 1.1] [--notes TEXT]
                 [--installer demo/installer.sh] [--size BYTES] [--rate BYTES_PER_S]
                 [--signoffer PATH --key PRIVATE.pem [--app NAME] [--expires-days D | --expires UTC]]
                 [--tamper KEY=VALUE ...] [--setup-flip] [--setup-extra N] [--setup-short N]
                 [--endless] [--tls-cert CERT.pem --tls-key KEY.pem]
With --signoffer the check reply is a signed offer for the installer it serves, made by the
signing tool. The tampering options then change what is served after signing: the value of a key of the
reply (an empty VALUE leaves the key empty), one byte of the installer, bytes added to or
taken from its end, or an installer that never ends (sent until the client closes; chunked
with --chunked, else without a length).
With --tls-cert and --tls-key it serves https (TLS 1.2 and 1.3) and announces an https
SetupPath; a connection closed with --cut then ends without a close-notify, as a cut would.
The chosen port is printed first as "PORT <n>".
"""
import signal
import subprocess
import tempfile
import argparse
import http.server
import os
import ssl
import sys
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--build", default="2013")
    ap.add_argument("--version", default="1.1")
    ap.add_argument("--notes", default="", help="release notes (default: by the request's langid)")
    ap.add_argument("--installer", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "installer.sh"))
    ap.add_argument("--size", type=int, default=6 * 1024 * 1024)
    ap.add_argument("--rate", type=int, default=2 * 1024 * 1024)
    ap.add_argument("--setup-path", default="", help="SetupPath to announce (default: this server's setup.exe)")
    ap.add_argument("--chunked", action="store_true", help="send the installer chunked instead of sized")
    ap.add_argument("--cut", type=int, default=-1, help="close the connection after this many installer bytes")
    ap.add_argument("--tls-cert", default="", help="serve https with this certificate (PEM)")
    ap.add_argument("--tls-key", default="", help="the certificate's private key (PEM)")
    ap.add_argument("--cut-first", type=int, default=-1,
                    help="as --cut, for the first installer request only")
    ap.add_argument("--etag", default='"v1"', help="the installer's ETag")
    ap.add_argument("--etag-after-first", default="",
                    help="the ETag from the second installer request on (a changed file)")
    ap.add_argument("--no-ranges", action="store_true", help="ignore Range: always send the whole file")
    ap.add_argument("--signoffer", default="", help="the signing tool; makes the reply a signed offer")
    ap.add_argument("--key", default="", help="the publisher's private key for --signoffer")
    ap.add_argument("--app", default="My App", help="AppName of the signed offer")
    ap.add_argument("--expires-days", default="30")
    ap.add_argument("--expires", default="", help="an absolute UTC expiry (YYYY-MM-DDTHH:MM:SSZ) instead")
    ap.add_argument("--tamper", action="append", default=[], help="KEY=VALUE: change a reply key after signing")
    ap.add_argument("--setup-flip", action="store_true", help="change one byte of the installer after signing")
    ap.add_argument("--setup-extra", type=int, default=0, help="bytes added to the installer after signing")
    ap.add_argument("--setup-short", type=int, default=0, help="bytes taken from the installer's end after signing")
    ap.add_argument("--endless", action="store_true", help="send the installer for ever, without a length")
    ap.add_argument("--hold", type=float, default=0, help="seconds between the installer's head and its body")
    args = ap.parse_args()
    scheme = "https" if args.tls_cert else "http"

    with open(args.installer, "rb") as f:
        script = f.read()
    # The padding is a shell comment after the script's final exit, so the file still runs.
    body = script + b"\n#" + b"-" * max(0, args.size - len(script) - 3) + b"\n"
    signed_body = body
    setup_file = None
    if args.signoffer:
        setup_file = tempfile.NamedTemporaryFile(prefix="served-setup-", delete=False)
        setup_file.write(body)
        setup_file.close()
    if args.setup_flip:
        mid = len(body) // 2
        body = body[:mid] + bytes([body[mid] ^ 0x01]) + body[mid + 1:]
    body = body + b"#" * args.setup_extra
    if args.setup_short:
        body = body[:max(0, len(body) - args.setup_short)]

    def check_reply(notes, setup):
        if not args.signoffer:
            return ("[web]\r\nbuildId=%s\r\nversion=%s\r\nwhatnews=%s\r\nSetupPath=%s\r\n"
                    % (args.build, args.version, notes, setup)).encode("utf-8")
        reply = subprocess.run(
            [args.signoffer, "sign", "--key", args.key, "--app", args.app, "--build", args.build,
             "--version", args.version, "--notes", notes, "--url", setup,
             *(["--expires", args.expires] if args.expires else ["--expires-days", args.expires_days]),
             setup_file.name],
            check=True, capture_output=True).stdout.decode("utf-8")
        for t in args.tamper:
            key, value = t.split("=", 1)
            lines = reply.split("\r\n")
            lines = [key + "=" + value if l.startswith(key + "=") else l for l in lines]
            reply = "\r\n".join(lines)
        return reply.encode("utf-8")

    installer_requests = [0]

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *a):
            pass

        def do_GET(self):
            print("REQUEST", self.requestline, "| Cookie:", self.headers.get("Cookie", "-"),
                  "| Accept:", repr(self.headers.get("Accept", "-")),
                  "| User-Agent:", self.headers.get("User-Agent", "-"),
                  "| Range:", self.headers.get("Range", "-"),
                  "| If-Range:", self.headers.get("If-Range", "-"), flush=True)
            path = self.path.split("?", 1)[0]
            if path == "/update/index.php":
                notes = args.notes or ("Faster downloads, a clearer window and many fixes."
                                       if "langid=1" in self.path else
                                       "Téléchargements plus rapides, fenêtre plus claire et corrections.")
                setup = args.setup_path or "%s://127.0.0.1:%d/update/setup.exe" % (scheme, self.server.server_port)
                reply = check_reply(notes, setup)
                self.send_response(200)
                self.send_header("Content-Type", "text/plain; charset=utf-8")
                self.send_header("Content-Length", str(len(reply)))
                self.send_header("Set-Cookie", "session=demo42; path=/")
                self.end_headers()
                self.wfile.write(reply)
            elif path == "/update/setup.exe":
                installer_requests[0] += 1
                first = installer_requests[0] == 1
                etag = args.etag if first or not args.etag_after_first else args.etag_after_first
                cut = args.cut_first if first and args.cut_first >= 0 else args.cut
                start = 0
                wanted = self.headers.get("Range", "")
                if_range = self.headers.get("If-Range")
                if (wanted.startswith("bytes=") and wanted.endswith("-") and not args.no_ranges
                        and (if_range is None or if_range == etag)):
                    start = int(wanted[6:-1])
                    if start >= len(body):
                        self.send_response(416)
                        self.send_header("Content-Range", "bytes */%d" % len(body))
                        self.send_header("Content-Length", "0")
                        self.end_headers()
                        return
                    self.send_response(206)
                    self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body)))
                else:
                    self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("ETag", etag)
                if args.endless:
                    # No length (chunked, or until the close): the body ends when the
                    # connection does, which here is never from this side.
                    if args.chunked:
                        self.send_header("Transfer-Encoding", "chunked")
                    else:
                        self.send_header("Connection", "close")
                    self.end_headers()
                    self.close_connection = True
                    piece = b"#" * 65536
                    if args.chunked:
                        piece = b"%x\r\n" % len(piece) + piece + b"\r\n"
                    try:
                        while True:
                            self.wfile.write(piece)
                    except OSError:
                        return
                if args.chunked:
                    self.send_header("Transfer-Encoding", "chunked")
                else:
                    self.send_header("Content-Length", str(len(body) - start))
                self.end_headers()
                if args.hold > 0:
                    self.wfile.flush()
                    time.sleep(args.hold)
                step = 64 * 1024
                sent = 0
                began = time.monotonic()
                for i in range(start, len(body), step):
                    piece = body[i:i + step]
                    if 0 <= cut < sent + len(piece):
                        self.wfile.write(piece[:cut - sent])
                        self.wfile.flush()
                        self.close_connection = True
                        return
                    if args.chunked:
                        self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
                    else:
                        self.wfile.write(piece)
                    sent += len(piece)
                    if args.rate > 0:
                        # On a schedule from the first byte, so that a late wake-up does not
                        # slow the rest down.
                        time.sleep(max(0.0, began + sent / args.rate - time.monotonic()))
                if args.chunked:
                    self.wfile.write(b"0\r\n\r\n")
            else:
                msg = b"not found"
                self.send_response(404)
                self.send_header("Content-Length", str(len(msg)))
                self.end_headers()
                self.wfile.write(msg)

    def stop(*_):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)

    class Server(http.server.ThreadingHTTPServer):
        def get_request(self):
            sock, address = super().get_request()
            if args.tls_cert:
                # The handshake runs on the connection's own thread (in setup below), so a
                # client that stalls in it holds up nobody else.
                sock = context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
            return sock, address

        def handle_error(self, request, client_address):
            # A client that rejected the certificate, or went away: nothing to report.
            pass

    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)

        setup_base = Handler.setup

        def setup(self):
            self.request.do_handshake()
            setup_base(self)

        Handler.setup = setup

    srv = Server(("127.0.0.1", args.port), Handler)
    print("PORT", srv.server_port, flush=True)
    try:
        srv.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        if setup_file:
            os.unlink(setup_file.name)


if __name__ == "__main__":
    sys.exit(main())
