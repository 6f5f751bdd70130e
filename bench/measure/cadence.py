#!/usr/bin/env python3
"""Cadence and CPU of km808-measure at 16 channels and 4000 Hz.

    bench/measure/cadence.py --measure BIN --emulator BIN [--blocks N] [--time S]

Runs the client against a real-time emulator (words arrive at the conversion
rate) and reads the emulator's request log: each block's acquisition is its
Start to its last Recv, the client's overhead the time from that Recv to the
next block's Start (stop, conversion, reduction, formatting, write and fsync,
start). Prints the overhead as a ratio against the block period measured in
the same run, the largest lateness against the window's cadence (acquisition +
100 ms + 15 ms), and the client's CPU time against the wall time.
"""

import argparse
import json
import os
import re
import resource
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--measure", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--blocks", type=int, default=15)
    p.add_argument("--time", default="1.0")
    a = p.parse_args()

    tmp = tempfile.mkdtemp(prefix="km808-cadence-")
    config = {"pace": "realtime", "crates": [{"serial": "QR000001", "slots": [
        {"slot": 3, "type": "KM808", "channels": [
            {"channel": c, "volts": 0.1 * c, "noise_v": 1e-4} for c in range(1, 17)]}]}]}
    with open(os.path.join(tmp, "config.json"), "w") as f:
        json.dump(config, f)
    log_path = os.path.join(tmp, "emulator.log")
    emulator = subprocess.Popen([a.emulator, "--listen", "127.0.0.1:0", "--config", os.path.join(tmp, "config.json"),
                                 "--verbose"], stdout=subprocess.PIPE, stderr=open(log_path, "w"))
    select.select([emulator.stdout], [], [], 20)
    server = re.match(r"listening on (\S+)", emulator.stdout.readline().decode()).group(1)
    env = dict(os.environ, QIRA_SERVER=server)

    start = time.monotonic()
    client = subprocess.Popen([a.measure, "--channels", "1-16", "--range", "10V", "--rate", "4000", "--time", a.time,
                               "--blocks", str(a.blocks), "--output", os.path.join(tmp, "out.csv"), "--quiet"],
                              env=env)
    _, status, usage = os.wait4(client.pid, 0)
    wall = time.monotonic() - start
    time.sleep(0.5)
    emulator.send_signal(signal.SIGTERM)
    emulator.wait(10)
    if status != 0:
        sys.exit("km808-measure failed: %d" % status)

    starts, last_recv = [], []
    for line in open(log_path):
        m = re.match(r"^(\d+\.\d+) (\w+) ", line)
        if not m:
            continue
        t, call = float(m.group(1)), m.group(2)
        if call == "Start":
            starts.append(t)
            last_recv.append(None)
        elif call == "Recv" and starts:
            last_recv[-1] = t
    acquisition = [r - s for s, r in zip(starts, last_recv)]
    gaps = [starts[i + 1] - last_recv[i] for i in range(len(starts) - 1)]
    periods = [starts[i + 1] - starts[i] for i in range(len(starts) - 1)]
    late = [periods[i] - (acquisition[i] + 0.115) for i in range(len(periods))]
    cpu = usage.ru_utime + usage.ru_stime
    print("blocks %d, acquisition %.3f s (mean), period %.3f s (mean)" %
          (len(starts), statistics.mean(acquisition), statistics.mean(periods)))
    print("client overhead per block: mean %.1f ms, max %.1f ms; ratio to the period: mean %.4f, max %.4f" %
          (1000 * statistics.mean(gaps), 1000 * max(gaps), statistics.mean(gaps) / statistics.mean(periods),
           max(g / q for g, q in zip(gaps, periods))))
    print("latest block against acquisition + 115 ms: %+.1f ms (negative: earlier than the window's cadence)" %
          (1000 * max(late)))
    print("CPU: %.3f s user+system in %.1f s wall = %.2f %% of a core (set-up and calibration included)" %
          (cpu, wall, 100 * cpu / wall))


if __name__ == "__main__":
    main()
