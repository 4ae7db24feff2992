#!/usr/bin/env python3
"""Debian's squid for tests and benchmarks, on 127.0.0.1, until this script is stopped.

    squid_proxy.py [--user NAME --password TEXT]

Writes a configuration into a temporary folder (no cache, logs and pid file in the folder,
Basic authentication through basic_ncsa_auth with a password file made by
"openssl passwd -apr1" when a user is given), finds a free port by binding port 0 first
(squid takes no port 0; another port is tried when squid loses it), starts squid in the
foreground and prints "Proxy on 127.0.0.1 port N log PATH" once it accepts connections.
SIGTERM or SIGINT stop squid and remove the folder. Run as root, squid works as the
"proxy" user, which then owns the folder.
"""

import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

SQUID = "/usr/sbin/squid"
PORT_ATTEMPTS = 5


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def config(folder, port, user, effective_user):
    lines = [
        "http_port 127.0.0.1:%d" % port,
        "pid_filename %s/squid.pid" % folder,
        "cache deny all",
        "access_log stdio:%s/access.log" % folder,
        "cache_log %s/cache.log" % folder,
        "cache_store_log none",
        "coredump_dir %s" % folder,
        "buffered_logs off",
        "shutdown_lifetime 0 seconds",
    ]
    if user:
        lines += [
            "auth_param basic program /usr/lib/squid/basic_ncsa_auth %s/passwd" % folder,
            "auth_param basic realm updater-tests",
            "acl authenticated proxy_auth REQUIRED",
            # Squid's own configuration allows CONNECT only to port 443; this one has no such
            # rule, so the tests' origins on ports the system chose can be tunnelled to.
            "http_access allow authenticated",
        ]
    else:
        lines += ["http_access allow localhost"]
    lines += ["http_access deny all"]
    if effective_user:
        lines += ["cache_effective_user %s" % effective_user]
    return "\n".join(lines) + "\n"


def main():
    args = sys.argv[1:]
    user = args[args.index("--user") + 1] if "--user" in args else ""
    password = args[args.index("--password") + 1] if "--password" in args else ""
    folder = tempfile.mkdtemp(prefix="updater-squid-")
    if user:
        digest = subprocess.run(["openssl", "passwd", "-apr1", password], check=True, capture_output=True,
                                text=True).stdout.strip()
        with open(os.path.join(folder, "passwd"), "w") as f:
            f.write("%s:%s\n" % (user, digest))
    effective_user = ""
    if os.geteuid() == 0:
        try:
            entry = pwd.getpwnam("proxy")
        except KeyError:
            entry = pwd.getpwnam("nobody")
        effective_user = entry.pw_name
    process = None

    def stop(*_):
        if process and process.poll() is None:
            process.terminate()
            process.wait()
        shutil.rmtree(folder, ignore_errors=True)
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    last = ""
    for _ in range(PORT_ATTEMPTS):
        port = free_port()
        conf = os.path.join(folder, "squid.conf")
        with open(conf, "w") as f:
            f.write(config(folder, port, user, effective_user))
        if effective_user:
            entry = pwd.getpwnam(effective_user)
            for name in [folder] + [os.path.join(folder, n) for n in os.listdir(folder)]:
                os.chown(name, entry.pw_uid, entry.pw_gid)
        service = "updater%dp%d" % (os.getpid(), port)
        process = subprocess.Popen([SQUID, "-N", "-d", "1", "-n", service, "-f", conf], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True)
        for line in process.stdout:
            if "Accepting HTTP Socket connections" in line:
                print("Proxy on 127.0.0.1 port %d log %s/access.log" % (port, folder), flush=True)
                # Squid's own output is read on, so that it never fills the pipe.
                for _ in process.stdout:
                    pass
                stop()
            last = line.strip()
            if "FATAL" in line:
                break
        process.wait()
        if "bind" not in last and "in use" not in last:
            break
    print("squid did not start: " + last, file=sys.stderr, flush=True)
    shutil.rmtree(folder, ignore_errors=True)
    sys.exit(1)


if __name__ == "__main__":
    main()
