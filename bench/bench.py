#!/usr/bin/env python3
"""Runs the download cases against the bench server and prints a Markdown table.

Called by run.sh, which builds and starts the server. Each case runs curl and httpget in
alternation (curl first in odd rounds, httpget first in even ones) under GNU time, checks
that both saved the same bytes, and reports medians: wall time, throughput, CPU time
(user + system) and peak resident memory, with httpget's throughput as a ratio of curl's.
The stall case measures the CPU httpget --antifreeze burns while the server holds the body
back for 10 s.
"""

import argparse
import filecmp
import os
import re
import statistics
import subprocess
import sys
import time

GIB = 1 << 30
MIB = 1 << 20

CASES = {
    "sized": ("1 GiB, Content-Length", "/sized/%d" % GIB, GIB),
    "chunked": ("1 GiB, chunked (64 KiB chunks)", "/chunked/%d" % GIB, GIB),
    "close": ("1 GiB, until close", "/close/%d" % GIB, GIB),
    "sized64": ("64 MiB, Content-Length", "/sized/%d" % (64 * MIB), 64 * MIB),
    # Over TLS from tls_bench_server.py, both tools trusting the run's throw-away CA.
    "https": ("1 GiB, Content-Length, https", "/sized/%d" % GIB, GIB),
}
STALL_MS = 10000


def timed(cmd, time_file):
    """Runs cmd under GNU time -v; returns (exit code, wall s, cpu s, peak KiB).

    The wall time is measured here (GNU time counts in hundredths, too coarse for the
    64 MiB case); CPU time and peak memory come from GNU time."""
    start = time.perf_counter()
    rc = subprocess.call(["/usr/bin/time", "-v", "-o", time_file] + cmd)
    wall = time.perf_counter() - start
    text = open(time_file).read()

    def field(name):
        m = re.search(re.escape(name) + r"\s*:\s*(\S+)", text)
        return m.group(1) if m else "0"

    cpu = float(field("User time (seconds)")) + float(field("System time (seconds)"))
    return rc, wall, cpu, int(field("Maximum resident set size (kbytes)"))


def run_case(args, key):
    title, path, size = CASES[key]
    url = "http://127.0.0.1:%d%s" % (args.port, path)
    out = {"curl": os.path.join(args.work, "curl.bin"), "httpget": os.path.join(args.work, "httpget.bin")}
    cmds = {
        "curl": ["curl", "-s", "-o", out["curl"], url],
        "httpget": [args.httpget, "-o", out["httpget"], url],
    }
    if key == "https":
        url = "https://127.0.0.1:%d%s" % (args.tls_port, path)
        cmds = {
            "curl": ["curl", "-s", "--cacert", args.cafile, "-o", out["curl"], url],
            "httpget": [args.httpget, "--cafile", args.cafile, "-o", out["httpget"], url],
        }
    results = {"curl": [], "httpget": []}
    for r in range(args.rounds):
        order = ["curl", "httpget"] if r % 2 == 0 else ["httpget", "curl"]
        for tool in order:
            rc, wall, cpu, peak = timed(cmds[tool], os.path.join(args.work, "time.txt"))
            got = os.path.getsize(out[tool]) if os.path.exists(out[tool]) else -1
            if rc != 0 or got != size:
                sys.exit("%s failed on %s: exit %d, %d bytes of %d" % (tool, key, rc, got, size))
            results[tool].append((wall, cpu, peak))
        if not filecmp.cmp(out["curl"], out["httpget"], shallow=False):
            sys.exit("%s: httpget saved other bytes than curl" % key)
        for f in out.values():
            os.remove(f)
    rows = []
    for tool in ("curl", "httpget"):
        walls = [w for w, _, _ in results[tool]]
        wall = statistics.median(walls)
        rows.append({
            "tool": tool,
            "wall": wall,
            "mbps": size / wall / 1e6,
            "cpu": statistics.median(c for _, c, _ in results[tool]),
            "peak": max(p for _, _, p in results[tool]) / 1024.0,
            "best": size / min(walls) / 1e6,
            "walls": walls,
        })
    ratio = rows[1]["mbps"] / rows[0]["mbps"]
    return title, size, rows, ratio


def run_updater_case(args, key):
    """The updater's own run against curl on the same body: curl's wall time against the
    updater's download time (first byte span to the hand-off of the saved installer, so
    its rename counts; the window's start-up and the check do not)."""
    title, path, size = CASES[key]
    kind, n = path.strip("/").split("/")[:2]
    base = "http://127.0.0.1:%d/update/%s/%s/" % (args.port, kind, n)
    url = "http://127.0.0.1:%d%s" % (args.port, path)
    curl_out = os.path.join(args.work, "curl.bin")
    results = {"curl": [], "updater": []}
    for r in range(args.rounds):
        for tool in (["curl", "updater"] if r % 2 == 0 else ["updater", "curl"]):
            if tool == "curl":
                rc, wall, cpu, peak = timed(["curl", "-s", "-o", curl_out, url], os.path.join(args.work, "time.txt"))
                results["curl"].append((wall, cpu, peak))
                continue
            work = os.path.join(args.work, "run")
            subprocess.call(["rm", "-rf", work])
            out = os.path.join(args.work, "updater.txt")
            with open(out, "w") as f:
                start = time.perf_counter()
                rc = subprocess.call(["/usr/bin/time", "-v", "-o", os.path.join(args.work, "time.txt"),
                                      args.updater, base, work], stdout=f, stderr=subprocess.DEVNULL)
            text = open(os.path.join(args.work, "time.txt")).read()
            peak = int(re.search(r"Maximum resident set size \(kbytes\):\s*(\d+)", text).group(1))
            line = [l for l in open(out) if l.startswith("DOWNLOAD ")]
            if rc != 0 or not line:
                sys.exit("updater failed on %s: exit %d" % (key, rc))
            seconds, setup = line[0].split()[1:3]
            received = [float(l.split()[1]) for l in open(out) if l.startswith("RECEIVED ")]
            results.setdefault("received", []).append(received[0] if received else float("nan"))
            if os.path.getsize(setup) != size:
                sys.exit("updater saved %d bytes of %d" % (os.path.getsize(setup), size))
            results["updater"].append((float(seconds), 0.0, peak))
        if not filecmp.cmp(curl_out, setup, shallow=False):
            sys.exit("%s: the updater saved other bytes than curl" % key)
        os.remove(curl_out)
    rows = []
    for tool in ("curl", "updater"):
        walls = [w for w, _, _ in results[tool]]
        wall = statistics.median(walls)
        rows.append({"tool": tool, "wall": wall, "mbps": size / wall / 1e6, "best": size / min(walls) / 1e6,
                     "peak": max(p for _, _, p in results[tool]) / 1024.0})
    rows[1]["received"] = statistics.median(results["received"])
    return title, rows, rows[1]["mbps"] / rows[0]["mbps"]


def run_stall(args):
    url = "http://127.0.0.1:%d/stall/%d/1024" % (args.port, STALL_MS)
    out = os.path.join(args.work, "stall.bin")
    rc, wall, cpu, peak = timed([args.httpget, "--antifreeze", "-o", out, url], os.path.join(args.work, "time.txt"))
    if rc != 0 or os.path.getsize(out) != 1024:
        sys.exit("stall case failed: exit %d" % rc)
    # The same wait as a bare loop of 1 ms selects: what this machine charges for the
    # wake-ups alone.
    _, floor_wall, floor_cpu, _ = timed([args.server, "--select-loop", str(STALL_MS // 1000)],
                                        os.path.join(args.work, "time.txt"))
    return wall, cpu, peak, floor_wall, floor_cpu


def run_updater_wait(args):
    """The updater's run waiting on a server that holds the installer's body back for
    STALL_MS: the wait and the context switches of its main thread meanwhile."""
    base = "http://127.0.0.1:%d/update/stall/%d/1024/" % (args.port, STALL_MS)
    work = os.path.join(args.work, "run")
    subprocess.call(["rm", "-rf", work])
    out = subprocess.run([args.updater, base, work], capture_output=True, text=True).stdout
    line = [l for l in out.splitlines() if l.startswith("WAITED ")]
    if not line:
        sys.exit("updater wait case failed")
    seconds, voluntary, involuntary = line[0].split()[1:4]
    return float(seconds), int(voluntary), int(involuntary)


def run_flush(args):
    """What forcing 1 GiB to the disk costs: the file written in 1 MiB pieces, then one
    fsync and the rename, as the updater's hand-off did before it stopped forcing it."""
    buf = os.urandom(MIB)
    rows = []
    for _ in range(args.rounds):
        path = os.path.join(args.work, "flush.bin")
        fd = os.open(path, os.O_CREAT | os.O_TRUNC | os.O_WRONLY, 0o600)
        t0 = time.perf_counter()
        for _ in range(GIB // MIB):
            os.write(fd, buf)
        t1 = time.perf_counter()
        os.fsync(fd)
        t2 = time.perf_counter()
        os.close(fd)
        os.rename(path, path + ".done")
        t3 = time.perf_counter()
        os.remove(path + ".done")
        rows.append((t1 - t0, t2 - t1, t3 - t2))
    return rows


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--httpget", required=True)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--work", required=True)
    p.add_argument("--server", required=True)
    p.add_argument("--tls-port", type=int, default=0)
    p.add_argument("--cafile", default="")
    p.add_argument("--cases", nargs="*", default=list(CASES) + ["stall", "flush"])
    p.add_argument("--updater", default="", help="bench_update_run: also time the updater's own run")
    p.add_argument("--updater-cases", nargs="*", default=["sized", "chunked", "close"])
    args = p.parse_args()

    print("| case | tool | median wall s | median MB/s | best MB/s | median CPU s | peak RSS MiB | ratio to curl |")
    print("|---|---|---|---|---|---|---|---|")
    for key in args.cases:
        if key in ("stall", "flush"):
            continue
        title, size, rows, ratio = run_case(args, key)
        if key == "https":
            spread = [size / w / 1e6 for w in rows[1]["walls"]], [size / w / 1e6 for w in rows[0]["walls"]]
            print("|  | https runs, MB/s: httpget %s; curl %s | | | | | | |" % (
                " ".join("%.0f" % v for v in spread[0]), " ".join("%.0f" % v for v in spread[1])))
        for row in rows:
            print("| %s | %s | %.3f | %.0f | %.0f | %.2f | %.0f | %s |" % (
                title, row["tool"], row["wall"], row["mbps"], row["best"], row["cpu"], row["peak"],
                "%.2f" % ratio if row["tool"] == "httpget" else ""))
            sys.stdout.flush()
        if key in ("sized", "sized64"):
            budget = size / MIB + 64
            print("|  | httpget peak memory budget (N + 64 MiB) | | | | | %.0f | %s |" % (
                budget, "met" if rows[1]["peak"] <= budget else "MISSED"))
    if args.updater:
        print()
        print("| case | tool | median s | median MB/s | best MB/s | peak RSS MiB | ratio to curl |")
        print("|---|---|---|---|---|---|---|")
        for key in args.updater_cases:
            title, rows, ratio = run_updater_case(args, key)
            for row in rows:
                print("| %s | %s | %.3f | %.0f | %.0f | %.0f | %s |" % (
                    title, row["tool"], row["wall"], row["mbps"], row["best"], row["peak"],
                    "%.2f" % ratio if row["tool"] == "updater" else ""))
                sys.stdout.flush()
            print("|  | updater without the rename | %.3f | %.0f | | | %.2f |" % (
                rows[1]["received"], CASES[key][2] / rows[1]["received"] / 1e6,
                rows[0]["wall"] / rows[1]["received"]))
    if "stall" in args.cases and args.updater:
        seconds, voluntary, involuntary = run_updater_wait(args)
        print()
        print("The updater's run waiting %.2f s on a held-back body: %d voluntary and %d involuntary context "
              "switches, %.1f wake-ups a second (target: at most 50)." % (
                  seconds, voluntary, involuntary, (voluntary + involuntary) / seconds))
    if "stall" in args.cases:
        wall, cpu, peak, floor_wall, floor_cpu = run_stall(args)
        print()
        print("Stalled server (%d ms before the body), httpget --antifreeze: wall %.2f s, CPU %.3f s, "
              "%.2f%% of one core, peak RSS %.0f MiB (target: at most 2%%)." % (
                  STALL_MS, wall, cpu, 100.0 * cpu / wall, peak / 1024.0))
        print("Bare loop of 1 ms selects for comparison: CPU %.3f s over %.2f s, %.2f%% of one core." % (
            floor_cpu, floor_wall, 100.0 * floor_cpu / floor_wall))

    if "flush" in args.cases:
        rows = run_flush(args)
        print()
        print("Forcing 1 GiB to the disk (%d rounds): write %s s; fsync %s s; close and rename %s s." % (
            len(rows), " ".join("%.3f" % r[0] for r in rows), " ".join("%.3f" % r[1] for r in rows),
            " ".join("%.4f" % r[2] for r in rows)))


if __name__ == "__main__":
    main()