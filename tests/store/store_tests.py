#!/usr/bin/env python3
"""km808-measure delivering to a real InfluxDB (influxd started here on a free
loopback port with its own data directory) and to small stores of the test's
own that fail or answer slowly.

    store_tests.py CASE --measure BIN --emulator BIN --influxd BIN --artifacts DIR
"""

import argparse
import base64
import gzip
import http.server
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "measure"))
from measure_tests import Failure, Run, check, module_config, parse_csv  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Influx:
    """influxd with a data directory and configuration of its own."""

    def __init__(self, binary, root):
        self.binary = binary
        self.root = os.path.join(root, "influxdb")
        os.makedirs(self.root, exist_ok=True)
        self.port = free_port()
        self.config = os.path.join(self.root, "influxdb.conf")
        with open(self.config, "w") as f:
            f.write('reporting-disabled = true\nbind-address = "127.0.0.1:%d"\n'
                    '[meta]\ndir = "%s/meta"\n[data]\ndir = "%s/data"\nwal-dir = "%s/wal"\n'
                    'query-log-enabled = false\n[monitor]\nstore-enabled = false\n'
                    '[http]\nbind-address = "127.0.0.1:%d"\nlog-enabled = false\n'
                    % (free_port(), self.root, self.root, self.root, self.port))
        self.process = None
        self.url = "http://127.0.0.1:%d" % self.port

    def start(self):
        self.process = subprocess.Popen([self.binary, "-config", self.config], stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(self.root, "influxd.log"), "a"))
        end = time.monotonic() + 30
        while time.monotonic() < end:
            try:
                with urllib.request.urlopen(self.url + "/ping", timeout=2) as reply:
                    if reply.status == 204:
                        return
            except OSError:
                time.sleep(0.2)
        raise Failure("influxd did not answer /ping (see %s)" % self.root)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(30)
        self.process = None

    def query(self, q, db=None):
        params = {"q": q, "epoch": "ms"}
        if db:
            params["db"] = db
        data = urllib.parse.urlencode(params).encode()
        with urllib.request.urlopen(self.url + "/query", data=data, timeout=30) as reply:
            result = json.load(reply)["results"][0]
        check("error" not in result, "query %r: %r" % (q, result))
        rows = []
        for series in result.get("series", []):
            for values in series["values"]:
                rows.append(dict(zip(series["columns"], values), **series.get("tags", {})))
        return rows


def store_points(influx, db, bench="b1"):
    """One bench's points as {(crate, slot, time ms): row}; no series and
    time twice by the store's own keying."""
    rows = influx.query('SELECT * FROM "km808" WHERE "bench" = \'%s\' GROUP BY *' % bench, db)
    return {(row["crate"], row["slot"], row["time"]): row for row in rows}


def ms(stamp):
    """A csv time stamp as milliseconds since the epoch."""
    from datetime import datetime, timezone
    return int(datetime.strptime(stamp, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc).timestamp() * 1000
               + 0.5)


def compare(points, rows, crate, slot):
    # One bench's points (store_points) against its csv rows of one module.
    """Every csv row is one point with the same block, time and values."""
    mine = {k: v for k, v in points.items() if k[0] == crate and k[1] == str(slot)}
    for row in rows:
        point = mine.get((crate, str(slot), ms(row["time"])))
        check(point is not None, "block %s at %s not in the store" % (row["block"], row["time"]))
        check(point["block"] == int(row["block"]), "block %s: store has %r" % (row["block"], point["block"]))
        for key in ("serial", "host", "bench"):
            # The store cannot take a tag ending in a backslash: tags write it as \x5c.
            want = row[key].replace("\\", "\\x5c")
            check(point[key] == want, "block %s %s: csv %r, store %r" % (row["block"], key, row[key], point[key]))
        over = row["over"].split()
        for key, text in row.items():
            if key.startswith("ch") and text:
                check(abs(point[key] - float(text)) <= 1e-9 * max(1.0, abs(float(text))),
                      "block %s %s: csv %s, store %r" % (row["block"], key, text, point[key]))
                name = key.split("_")[0]
                check(point[name + "_over"] == (name[2:] in over), "block %s %s_over: %r, csv over %r"
                      % (row["block"], name, point[name + "_over"], row["over"]))
    return mine


# Every character line protocol escapes in a tag, and a backslash at the end,
# which no tag can hold.
ODD_SERIAL = "K\\ 8,=\\"


def client_args(influx_url, spool, out, *extra, bench="b1"):
    return ["--channels", "1-4", "--output", out, "--append", "--quiet", "--tag", "bench=" + bench,
            "--influx-url", influx_url, "--influx-db", "lab", "--spool", spool, *extra]


# ---------------------------------------------------------------------------
# Cases against influxd


def case_deliver(r, a, influx):
    """A run's points in the store, identical to its csv, for a module whose
    serial needs escaping; gzip batches taken."""
    config = module_config()
    config["crates"][0]["slots"][1]["serial"] = ODD_SERIAL
    r.start_emulator(config)
    influx.start()
    influx.query("CREATE DATABASE lab")
    out = os.path.join(r.dir, "run.csv")
    status, _, err = r.measure(*client_args(influx.url, os.path.join(r.dir, "spool"), out, "--blocks", "30"))
    check(status == 0 and err == "", "status %d: %r" % (status, err))
    rows = parse_csv(open(out).read())
    check(len(rows) == 30, "%d csv rows" % len(rows))
    points = compare(store_points(influx, "lab"), rows, "QR000010", 3)
    check(len(points) == 30, "%d points in the store for 30 blocks" % len(points))
    r.check_closed()


def case_modules(r, a, influx):
    """Two benches into one database: one client measures three modules in
    two crates at once, one of which fails in the middle without stopping
    the others; a second client measures a second emulator's module. Every
    module's csv rows are its points in the store."""
    second = {"serial": "QR000020", "slots": [
        {"slot": 5, "type": "KM808", "serial": "KM0000501", "channels": [{"channel": 2, "volts": 2.5}]},
        {"slot": 7, "type": "KM808", "serial": "KM0000701", "faults": {"drop_after_words": 40000}}]}
    r.start_emulator(module_config(extra_crates=[second]))
    other = Run(a, r.dir, "bench2")
    other.start_emulator(module_config())
    influx.start()
    influx.query("CREATE DATABASE lab")
    out, out2 = os.path.join(r.dir, "b1.csv"), os.path.join(r.dir, "b2.csv")
    bench2 = other.spawn(*client_args(influx.url, os.path.join(r.dir, "spool2"), out2, "--blocks", "40",
                                      bench="b2"))
    try:
        status, _, err = r.measure(*client_args(influx.url, os.path.join(r.dir, "spool"), out, "--module",
                                                "QR000010:3", "--module", "2:5", "--module", "QR000020:7",
                                                "--blocks", "40"), timeout=120)
        _, err2 = bench2.communicate(timeout=120)
    finally:
        other.stop()
    check(status == 1 and "1 of 3 modules failed: crate QR000020 slot 7" in err, "status %d: %r" % (status, err))
    check(bench2.returncode == 0, "bench 2: %d %r" % (bench2.returncode, err2))
    rows = parse_csv(open(out).read())
    points = store_points(influx, "lab")
    for crate, slot, blocks in (("QR000010", 3, 40), ("QR000020", 5, 40)):
        mine = [row for row in rows if (row["crate"], row["slot"]) == (crate, str(slot))]
        check([int(row["block"]) for row in mine] == list(range(1, blocks + 1)), "%s %d: csv blocks" % (crate, slot))
        check(len(compare(points, mine, crate, slot)) == blocks, "%s %d: points" % (crate, slot))
    failed = [row for row in rows if row["slot"] == "7"]
    check(0 < len(failed) < 40 and len(compare(points, failed, "QR000020", 7)) == len(failed),
          "the failed module: %d rows" % len(failed))
    rows2 = parse_csv(open(out2).read())
    check(len(rows2) == 40 and len(compare(store_points(influx, "lab", "b2"), rows2, "QR000010", 3)) == 40,
          "bench 2: %d rows" % len(rows2))
    r.check_closed()


def case_outage(r, a, influx):
    """The store stopped for a while in the middle of a run and started
    again: every block in the store once, in order."""
    r.start_emulator(module_config())
    influx.start()
    influx.query("CREATE DATABASE lab")
    out = os.path.join(r.dir, "run.csv")
    client = r.spawn(*client_args(influx.url, os.path.join(r.dir, "spool"), out, "--duration", "30"))
    time.sleep(6)
    influx.stop()
    time.sleep(15)
    influx.start()
    _, err = client.communicate(timeout=90)
    err = err.decode()
    check(client.returncode == 0, "status %d: %r" % (client.returncode, err))
    check("points wait in the spool" in err and "taking points again" in err, err)
    rows = parse_csv(open(out).read())
    points = compare(store_points(influx, "lab"), rows, "QR000010", 3)
    check(len(points) == len(rows), "%d points in the store for %d blocks" % (len(points), len(rows)))
    blocks = [p["block"] for _, p in sorted(points.items())]
    check(blocks == list(range(1, len(rows) + 1)), "blocks in time order: %r" % blocks)
    r.check_closed()


def case_killed(r, a, influx):
    """The client SIGKILLed while the store is down: the next run sends the
    spool first."""
    r.start_emulator(module_config())
    influx.start()
    influx.query("CREATE DATABASE lab")
    influx.stop()
    out = os.path.join(r.dir, "run.csv")
    spool = os.path.join(r.dir, "spool")
    client = r.spawn(*client_args(influx.url, spool, out))
    time.sleep(5)
    client.send_signal(signal.SIGKILL)
    client.wait()
    killed = parse_csv(open(out).read())
    check(len(killed) > 0, "no block before the kill")
    # The emulator's fast pace gives more than a block per millisecond, so
    # the killed run's stamps (a millisecond apart at least) ran ahead of the
    # clock; a module's blocks never do. The next run starts after them, as
    # it would with a real module.
    time.sleep(max(0.0, ms(killed[-1]["time"]) / 1000.0 - time.time()) + 0.01)
    influx.start()
    status, _, err = r.measure(*client_args(influx.url, spool, out, "--blocks", "3"))
    check(status == 0 and "from an earlier run" in err, "status %d: %r" % (status, err))
    rows = parse_csv(open(out).read())
    points = compare(store_points(influx, "lab"), rows, "QR000010", 3)
    # The spool gets a block before the csv does: a kill between the two
    # leaves one block in the store only.
    check(len(rows) <= len(points) <= len(rows) + 1, "%d points, %d csv rows" % (len(points), len(rows)))


def case_full_spool(r, a, influx):
    """No store and a spool at its bound: the run stops with the message; a
    full file system under the spool does the same."""
    r.start_emulator(module_config())
    out = os.path.join(r.dir, "run.csv")
    status, _, err = r.measure(*client_args("http://127.0.0.1:9", os.path.join(r.dir, "spool"), out,
                                            "--spool-max", "2K", "--duration", "60"))
    check(status == 1 and "is full" in err, "status %d: %r" % (status, err))
    rows = parse_csv(open(out).read())
    check(0 < len(rows) < 20, "%d blocks" % len(rows))
    spooled = b"".join(open(os.path.join(r.dir, "spool", n), "rb").read()
                       for n in sorted(os.listdir(os.path.join(r.dir, "spool"))) if n.endswith(".lp"))
    check(0 < len(spooled) <= 2048 and spooled.endswith(b"\n"), "%d bytes spooled" % len(spooled))
    r.check_closed()
    root = os.environ.get("KM808_FULL_DISK_DIR")
    if not root:
        print("full file system not tried: %s" % os.environ.get("KM808_FULL_DISK_SKIP", "no small file system"))
        return
    status, _, err = r.measure(*client_args("http://127.0.0.1:9", os.path.join(root, "spool"), out,
                                            "--duration", "60"))
    check(status == 1 and "No space left on device" in err, "status %d: %r" % (status, err))


# ---------------------------------------------------------------------------
# A store of the test's own


class FakeStore(http.server.ThreadingHTTPServer):
    """Answers /write by a script: a list of "500", "trickle" or "ok", the
    last repeated. Keeps every body it was sent, decoded."""

    def __init__(self, script):
        super().__init__(("127.0.0.1", 0), FakeHandler)
        self.script = list(script)
        self.bodies = []  # (answer, lines)
        self.auth = set()  # the Authorization headers seen
        self.lock = threading.Lock()
        self.url = "http://127.0.0.1:%d" % self.server_address[1]


class FakeHandler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        if self.headers.get("Content-Encoding") == "gzip":
            body = gzip.decompress(body)  # checks the CRC and length too
        with self.server.lock:
            self.server.auth.add(self.headers.get("Authorization"))
            answer = self.server.script.pop(0) if len(self.server.script) > 1 else self.server.script[0]
            self.server.bodies.append((answer, body.decode().splitlines()))
        if answer == "400":
            self.send_response(400)
            self.send_header("Content-Length", "29")
            self.end_headers()
            self.wfile.write(b'{"error":"unable to parse x"}')
        elif answer == "500":
            self.send_response(500)
            self.send_header("Content-Length", "27")
            self.end_headers()
            self.wfile.write(b'{"error":"engine is tired"}')
        elif answer == "trickle":
            # One byte a second: longer than the client waits for an answer.
            for byte in b"HTTP/1.1 204 No Content\r\n\r\n":
                try:
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
                except OSError:
                    return
                time.sleep(1)
        else:
            self.send_response(204)
            self.end_headers()


def case_failing_store(r, a, influx):
    """A store that answers 500, then trickles its answer past the client's
    time out, then refuses a batch (400 gzip and plain), then takes points
    (the credentials from a file on every request):
    every block arrives, in order, and what arrives twice is the same point
    (same series and time stamp); the refused batch is kept aside."""
    r.start_emulator(module_config())
    store = FakeStore(["500", "500", "trickle", "400", "400", "ok"])
    threading.Thread(target=store.serve_forever, daemon=True).start()
    out = os.path.join(r.dir, "run.csv")
    credentials = os.path.join(r.dir, "influx-credentials")
    with open(credentials, "w") as f:
        f.write("lab:s3cr:et\n")
    try:
        status, _, err = r.measure(*client_args(store.url, os.path.join(r.dir, "spool"), out, "--duration", "20",
                                                "--influx-credentials", credentials), timeout=120)
    finally:
        store.shutdown()
    check(status == 0, "status %d: %r" % (status, err))
    check("the store answered 500" in err and "taking points again" in err, err)
    rows = parse_csv(open(out).read())
    seen = []
    for answer, lines in store.bodies:
        for line in lines:
            key = line.rsplit(" ", 1)[1]
            if key not in seen:
                seen.append(key)
    check([int(k) for k in seen] == [ms(row["time"]) for row in rows],
          "stamps sent %r, csv %r" % (seen, [row["time"] for row in rows]))
    check(any(answer == "trickle" for answer, _ in store.bodies), "no trickled answer")
    check(store.auth == {"Basic " + base64.b64encode(b"lab:s3cr:et").decode()}, store.auth)
    refused = [lines for answer, lines in store.bodies if answer == "400"]
    check(len(refused) == 2 and refused[0] == refused[1], "refused bodies %r" % refused)
    kept = open(os.path.join(r.dir, "spool", "rejected.lp")).read().splitlines()
    check(kept == refused[0] and "the batch is kept in" in err, "rejected.lp %r, err %r" % (kept, err))
    r.check_closed()


def case_units(r, a, influx):
    """The Telegraf recipe's command as Telegraf runs it: whole lines of line
    protocol on standard output that the store takes, only the client's own
    lines on standard error, status 0 after SIGTERM. The systemd unit passes
    systemd-analyze verify."""
    import tomllib
    examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "examples")
    with open(os.path.join(examples, "telegraf-km808.conf"), "rb") as f:
        recipe = tomllib.load(f)["inputs"]["execd"][0]
    check(recipe["data_format"] == "influx", recipe)
    crate = {"serial": "QR000001", "slots": [{"slot": 3, "type": "KM808"}, {"slot": 5, "type": "KM808"}]}
    r.start_emulator({"pace": "fast", "seed": 5, "crates": [crate]})
    command = [a.measure if arg == "/usr/bin/km808-measure" else
               "QIRA_SERVER=" + r.server if arg.startswith("QIRA_SERVER=") else arg for arg in recipe["command"]]
    client = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=r.dir)
    time.sleep(3)
    client.send_signal(signal.SIGTERM)
    out, err = client.communicate(timeout=30)
    check(client.returncode == 0, "status %d: %r" % (client.returncode, err))
    check(all(line.startswith(b"km808-measure: ") for line in err.splitlines()), err)
    check(out.endswith(b"\n") and out.count(b"\n") >= 4, out[-200:])
    slots = {line.split(b",")[2] for line in out.splitlines()}
    check(slots == {b"slot=3", b"slot=5"}, slots)
    influx.start()
    influx.query("CREATE DATABASE lab")
    request = urllib.request.Request(influx.url + "/write?db=lab", data=out, method="POST")
    with urllib.request.urlopen(request, timeout=30) as reply:
        check(reply.status == 204, reply.status)
    count = influx.query('SELECT count("block") FROM "km808"', "lab")[0]["count"]
    check(count == out.count(b"\n"), "%d points for %d lines" % (count, out.count(b"\n")))
    r.check_closed()

    verify = shutil.which("systemd-analyze")
    if not verify:
        print("the unit was not verified: no systemd-analyze")
        return
    with open(os.path.join(examples, "km808-measure.service")) as f:
        unit = f.read().replace("/usr/bin/km808-measure", a.measure)
    path = os.path.join(r.dir, "km808-measure.service")
    with open(path, "w") as f:
        f.write(unit)
    p = subprocess.run([verify, "verify", path], capture_output=True, text=True)
    check(p.returncode == 0 and "km808-measure.service" not in p.stderr, p.stderr)


CASES = {"units": case_units, "deliver": case_deliver, "modules": case_modules, "outage": case_outage, "killed": case_killed, "full_spool": case_full_spool,
         "failing_store": case_failing_store}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("case", choices=sorted(CASES))
    p.add_argument("--measure", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--influxd", required=True)
    p.add_argument("--artifacts", required=True)
    a = p.parse_args()
    a.measure, a.emulator = os.path.abspath(a.measure), os.path.abspath(a.emulator)
    artifacts = os.path.join(a.artifacts, a.case)
    shutil.rmtree(artifacts, ignore_errors=True)
    r = Run(a, artifacts, "")
    influx = Influx(a.influxd, artifacts)
    try:
        CASES[a.case](r, a, influx)
    except Failure as e:
        print("FAILED %s: %s (see %s)" % (a.case, e, artifacts))
        return 1
    finally:
        influx.stop()
        r.stop()
    print("passed: %s" % a.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
