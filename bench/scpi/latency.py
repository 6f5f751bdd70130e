#!/usr/bin/env python3
"""Latency and idle CPU of km808-scpi on loopback.

    bench/scpi/latency.py --scpi BIN --emulator BIN [--queries N] [--reads N] [--time S]

Against a real-time emulator (words arrive at the conversion rate), 16
channels at 4000 Hz:
- FETCh? of a finished block: round trips on one connection, against the
  round trip of *OPC? (answered without the module) in the same run;
- READ?: when its answer arrives against the end of its block's acquisition
  (the block's last Recv in the emulator's request log), as a ratio to the
  block period of the same run. The emulator's clock starts between its spawn
  and its "listening" line: the figure is the upper bound, with that span;
- CPU of the idle server (no run; one silent client connected) against the
  wall time.
"""

import argparse
import json
import os
import re
import select
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def listening(process):
    select.select([process.stdout], [], [], 20)
    line = process.stdout.readline().decode()
    m = re.match(r"listening on (\S+):(\d+)", line)
    if not m:
        sys.exit("did not start: %r" % line)
    return m.group(1), int(m.group(2))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--scpi", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--queries", type=int, default=300)
    p.add_argument("--reads", type=int, default=20)
    p.add_argument("--time", default="0.1")
    p.add_argument("--idle", type=float, default=20.0)
    a = p.parse_args()

    tmp = tempfile.mkdtemp(prefix="km808-scpi-bench-")
    config = {"pace": "realtime", "crates": [{"serial": "QR000001", "slots": [
        {"slot": 3, "type": "KM808", "channels": [
            {"channel": c, "volts": 0.1 * c, "noise_v": 1e-4} for c in range(1, 17)]}]}]}
    with open(os.path.join(tmp, "config.json"), "w") as f:
        json.dump(config, f)
    log_path = os.path.join(tmp, "emulator.log")
    spawned = time.monotonic()
    emulator = subprocess.Popen([a.emulator, "--listen", "127.0.0.1:0", "--config", os.path.join(tmp, "config.json"),
                                 "--verbose"], stdout=subprocess.PIPE, stderr=open(log_path, "w"))
    host, port = listening(emulator)
    announced = time.monotonic()
    server = subprocess.Popen([a.scpi, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                              env=dict(os.environ, QIRA_SERVER="%s:%d" % (host, port)))
    _, scpi_port = listening(server)

    s = socket.create_connection(("127.0.0.1", scpi_port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    r = s.makefile("rb")

    def query(text):
        s.sendall(text.encode() + b"\n")
        return r.readline()

    def round_trips(text, n):
        times = []
        for _ in range(n):
            t = time.perf_counter()
            query(text)
            times.append(time.perf_counter() - t)
        return sorted(times)

    try:
        # Idle: no run, one silent client.
        silent = socket.create_connection(("127.0.0.1", scpi_port))
        time.sleep(1.0)
        t0, c0 = time.monotonic(), ticks(server.pid)
        time.sleep(a.idle)
        idle = (ticks(server.pid) - c0) / os.sysconf("SC_CLK_TCK") / (time.monotonic() - t0)
        silent.close()

        query("CONF:VOLT 10,(@1:16);ADC:RATE 4000;APER %s;INIT;*OPC?" % a.time)
        query("FETC?")
        opc = round_trips("*OPC?", a.queries)
        fetch = round_trips("FETC?", a.queries)

        answers = []
        waits = []
        for _ in range(a.reads):
            asked = time.monotonic()
            query("READ?")
            answers.append(time.monotonic())
            waits.append(answers[-1] - asked)
        query("ABOR;*OPC?")
        period = float(query("BLOC:PER?"))
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(20)
        time.sleep(0.3)
        emulator.send_signal(signal.SIGTERM)
        emulator.wait(10)

    ends = []
    last = None
    for line in open(log_path):
        m = re.match(r"^(\d+\.\d+) (\w+) ", line)
        if m and m.group(2) == "Recv":
            last = float(m.group(1))
        elif m and m.group(2) == "Stop" and last is not None:
            ends.append(last)
            last = None

    # With the emulator's clock started at the spawn (the earliest it can
    # have), each block ends as late as it can have: the lateness is at most
    # this, and at least this less the spawn-to-announcement time.
    late = []
    for t in answers:
        done = [e + spawned for e in ends if e + spawned <= t]
        late.append(t - done[-1])
    uncertainty = announced - spawned

    def ms(v):
        return "%.2f ms" % (v * 1000)

    print("FETCh? round trip: median %s, 99th %s, max %s" %
          (ms(statistics.median(fetch)), ms(fetch[int(0.99 * len(fetch))]), ms(fetch[-1])))
    print("*OPC? round trip (reference): median %s, 99th %s, max %s" %
          (ms(statistics.median(opc)), ms(opc[int(0.99 * len(opc))]), ms(opc[-1])))
    print("FETCh? against *OPC?: median %.2f, max %.2f" %
          (statistics.median(fetch) / statistics.median(opc), fetch[-1] / opc[-1]))
    print("READ? answer after its block's acquisition ended: at most max %s, mean %s (clock uncertainty %s);"
          " block period %s; max ratio to the period %.3f" %
          (ms(max(late)), ms(statistics.mean(late)), ms(uncertainty), ms(period), max(late) / period))
    print("READ? request to answer: max %s = %.2f block periods (it waits for the block begun after it)" %
          (ms(max(waits)), max(waits) / period))
    print("idle server CPU: %.3f %% of a core over %.0f s" % (idle * 100, a.idle))


if __name__ == "__main__":
    main()
