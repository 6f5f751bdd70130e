#!/usr/bin/env python3
"""km808-measure with many modules at 16 channels and 4000 Hz, into a store.

    bench/store/modules.py --measure BIN --emulator BIN [--influxd BIN]
                           [--modules 16] [--seconds 120] [--reference-seconds S]

First one module alone (the reference), then N modules at once in one run,
each for the same time, against a real-time emulator (words arrive at the
conversion rate), with the store delivery on when --influxd is given (influxd
started here on a free loopback port with its own data directory).
Prints per run: the client's CPU per module against the reference's, each
block's lateness (the time from one block's stamp to the next minus the
planned block period) as a ratio of that period, and the resident memory
sampled every 5 s (the last sample against the one at a quarter of the run).
"""

import argparse
import csv
import json
import os
import re
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request
from datetime import datetime, timezone


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_influxd(binary, root):
    port = free_port()
    config = os.path.join(root, "influxdb.conf")
    with open(config, "w") as f:
        f.write('reporting-disabled = true\nbind-address = "127.0.0.1:%d"\n[meta]\ndir = "%s/meta"\n'
                '[data]\ndir = "%s/data"\nwal-dir = "%s/wal"\nquery-log-enabled = false\n'
                '[monitor]\nstore-enabled = false\n[http]\nbind-address = "127.0.0.1:%d"\nlog-enabled = false\n'
                % (free_port(), root, root, root, port))
    process = subprocess.Popen([binary, "-config", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    url = "http://127.0.0.1:%d" % port
    for _ in range(150):
        try:
            urllib.request.urlopen(url + "/ping", timeout=2)
            break
        except OSError:
            time.sleep(0.2)
    urllib.request.urlopen(url + "/query", data=b"q=CREATE+DATABASE+lab", timeout=10)
    return process, url


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def run(a, tmp, server, modules, url, seconds):
    out = os.path.join(tmp, "out-%d.csv" % modules)
    args = [a.measure, "--channels", "1-16", "--range", "10V", "--rate", "4000", "--time", "1.0",
            "--duration", str(seconds), "--output", out, "--quiet"]
    for m in range(1, modules + 1):
        args += ["--module", "QR000001:%d" % m]
    if url:
        args += ["--influx-url", url, "--influx-db", "lab", "--spool", os.path.join(tmp, "spool-%d" % modules)]
    start = time.monotonic()
    client = subprocess.Popen(args, env=dict(os.environ, QIRA_SERVER=server), stderr=subprocess.PIPE)
    samples = []
    while True:
        pid, status, usage = os.wait4(client.pid, os.WNOHANG)
        if pid:
            break
        try:
            samples.append((time.monotonic() - start, resident_kb(client.pid)))
        except OSError:
            pass
        time.sleep(5)
    wall = time.monotonic() - start
    cpu = usage.ru_utime + usage.ru_stime
    err = client.stderr.read().decode()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("km808-measure failed (%d): %s" % (os.waitstatus_to_exitcode(status), err))
    late = []
    blocks = 0
    with open(out) as f:
        last = {}
        for row in csv.DictReader(f):
            blocks += 1
            t = datetime.strptime(row["time"], "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc).timestamp()
            key = (row["crate"], row["slot"])
            if key in last:
                late.append((t - last[key] - float(row["period_s"])) / float(row["period_s"]))
            last[key] = t
    quarter = next((rss for t, rss in samples if t >= wall / 4), samples[0][1])
    return {"modules": modules, "wall": wall, "cpu": cpu, "blocks": blocks, "late": late,
            "rss_quarter": quarter, "rss_last": samples[-1][1], "rss_max": max(r for _, r in samples)}


def ingest(url, benches, seconds):
    """Points a second the store takes in the client's batches (1 MiB of
    lines, gzip, one request at a time): a backlog of `seconds` of blocks of
    `benches` benches of 16 modules, in the client's line format."""
    import gzip
    fields = ",".join("ch%d_mV=%.4f,ch%d_range=\"10V\",ch%d_over=0i" % (c, 100.0 * c + 0.1234, c, c)
                      for c in range(1, 17))
    start_ns = 1_700_000_000_000
    lines = []
    for second in range(seconds):
        for b in range(benches):
            for m in range(1, 17):
                lines.append("km808,crate=QR000001,slot=%d,serial=KM%07d,host=h%d,bench=b%d %s,block=%di,"
                             "period_s=1.003,over=\"\" %d\n" % (m, m, b, b, fields, second + 1, start_ns + 1003 * second))
    batches, batch = [], ""
    for line in lines:
        if len(batch) + len(line) > 1 << 20:
            batches.append(batch)
            batch = ""
        batch += line
    batches.append(batch)
    begin = time.monotonic()
    for body in batches:
        request = urllib.request.Request(url + "/write?db=ingest&precision=ms", data=gzip.compress(body.encode()),
                                         headers={"Content-Encoding": "gzip"}, method="POST")
        urllib.request.urlopen(request, timeout=60)
    return len(lines), time.monotonic() - begin


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--measure", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--influxd")
    p.add_argument("--modules", type=int, default=16)
    p.add_argument("--seconds", type=float, default=120)
    p.add_argument("--reference-seconds", type=float, help="the one-module run's length (default: --seconds)")
    a = p.parse_args()

    tmp = tempfile.mkdtemp(prefix="km808-modules-")
    slots = [{"slot": s, "type": "KM808", "serial": "KM%07d" % s, "channels": [
        {"channel": c, "volts": 0.1 * c, "noise_v": 1e-4} for c in range(1, 17)]} for s in range(1, a.modules + 1)]
    with open(os.path.join(tmp, "config.json"), "w") as f:
        json.dump({"pace": "realtime", "crates": [{"serial": "QR000001", "slots": slots}]}, f)
    emulator = subprocess.Popen([a.emulator, "--listen", "127.0.0.1:0", "--config", os.path.join(tmp, "config.json")],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    select.select([emulator.stdout], [], [], 20)
    server = re.match(r"listening on (\S+)", emulator.stdout.readline().decode()).group(1)
    influxd, url = start_influxd(a.influxd, tmp) if a.influxd else (None, None)
    try:
        reference = run(a, tmp, server, 1, url, a.reference_seconds or a.seconds)
        many = run(a, tmp, server, a.modules, url, a.seconds)
        if url:
            urllib.request.urlopen(url + "/query", data=b"q=CREATE+DATABASE+ingest", timeout=10)
            taken = ingest(url, 10, 60)
    finally:
        emulator.send_signal(signal.SIGTERM)
        emulator.wait(10)
        if influxd:
            influxd.send_signal(signal.SIGTERM)
            influxd.wait(30)
    per_module = reference["cpu"] / reference["wall"]
    for r in (reference, many):
        late = sorted(r["late"])
        print("%2d module(s): %d blocks in %.0f s; CPU %.3f s = %.2f %% of a core, %.2f x the reference per module"
              % (r["modules"], r["blocks"], r["wall"], r["cpu"], 100 * r["cpu"] / r["wall"],
                 r["cpu"] / r["wall"] / r["modules"] / per_module))
        print("    lateness / block period: mean %.4f, 99th percentile %.4f, max %.4f"
              % (statistics.mean(late), late[int(0.99 * (len(late) - 1))], late[-1]))
        print("    RSS: %d kB at a quarter of the run, %d kB at the end (ratio %.3f), max %d kB"
              % (r["rss_quarter"], r["rss_last"], r["rss_last"] / r["rss_quarter"], r["rss_max"]))
    if url:
        # The demand: the blocks a second of the N-module run, measured above.
        demand = many["blocks"] / many["wall"]
        print("store intake: %d points in %.1f s = %.0f points/s = %.0f x the %d-module run's %.1f points/s"
              % (taken[0], taken[1], taken[0] / taken[1], taken[0] / taken[1] / demand, a.modules, demand))
    shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
