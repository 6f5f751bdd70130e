#!/usr/bin/env python3
"""km808-measure against its own qira-emulator.

    measure_tests.py CASE --measure BIN --emulator BIN --artifacts DIR

Each case starts emulators with set-ups of its own on free ports and leaves
their request logs and the client's output in the artefacts directory.
"""

import argparse
import csv
import io
import json
import os
import pty
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import time


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# A crate of the test's own: fixed values, no noise, no gain or offset error,
# so that every block reads the same.
def module_config(pace="fast", faults=None, extra_crates=()):
    slot = {
        "slot": 3, "type": "KM808", "serial": "KM0000301",
        "channels": [
            {"channel": 1, "volts": 0.123456, "ohms": 100},
            {"channel": 2, "volts": 1.234567, "ohms": 1000},
            {"channel": 3, "volts": 7.654321, "ohms": 3000},
            {"channel": 4, "volts": 12.5},
            {"channel": 12, "volts": -1.5},
        ],
    }
    if faults:
        slot["faults"] = faults
    crates = [{"serial": "QR000010", "slots": [{"slot": 1, "type": 4660, "name": "PS16"}, slot]}]
    crates.extend(extra_crates)
    return {"pace": pace, "seed": 5, "crates": crates}


# ---------------------------------------------------------------------------
# Processes


class Run:
    def __init__(self, args, artifacts, name):
        self.a = args
        self.dir = os.path.join(artifacts, name)
        os.makedirs(self.dir, exist_ok=True)
        self.emulator = None
        self.server = None

    def start_emulator(self, config):
        path = os.path.join(self.dir, "emulator.json")
        with open(path, "w") as f:
            json.dump(config, f)
        self.log_path = os.path.join(self.dir, "emulator.log")
        self.emulator = subprocess.Popen([self.a.emulator, "--listen", "127.0.0.1:0", "--config", path, "--verbose"],
                                         stdout=subprocess.PIPE, stderr=open(self.log_path, "w"))
        ready, _, _ = select.select([self.emulator.stdout], [], [], 20)
        line = self.emulator.stdout.readline().decode() if ready else ""
        m = re.match(r"listening on (\S+:\d+)", line)
        check(m is not None, "the emulator did not start: %r" % line)
        self.server = m.group(1)

    def env(self):
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        # No emulator: a port where nothing listens.
        env["QIRA_SERVER"] = self.server or "127.0.0.1:9"
        return env

    def measure(self, *args, timeout=60):
        p = subprocess.run([self.a.measure, *args], env=self.env(), capture_output=True, timeout=timeout,
                           cwd=self.dir)
        with open(os.path.join(self.dir, "client.txt"), "ab") as f:
            f.write(b"$ %s\n--- stdout\n%s--- stderr\n%s--- status %d\n" %
                    (" ".join(args).encode(), p.stdout, p.stderr, p.returncode))
        return p.returncode, p.stdout.decode(), p.stderr.decode()

    def spawn(self, *args, stdout=subprocess.PIPE):
        return subprocess.Popen([self.a.measure, *args], env=self.env(), stdout=stdout, stderr=subprocess.PIPE,
                                cwd=self.dir)

    def log(self, wait_for=None, until=None):
        """The emulator's request lines [(call, serial, slot, status, details)];
        wait_for: a call name whose line the log should hold (it may lag);
        until: a test of the lines that the log should pass (it may lag)."""
        end = time.monotonic() + (10 if until else 5)
        while True:
            lines = []
            with open(self.log_path, encoding="utf-8", errors="replace") as f:
                for raw in f:
                    m = re.match(r"^\d+\.\d+ (\w+) (\S+) (-?\d+) (-?\d+)(?: (.*))?$", raw.rstrip("\n"))
                    if m:
                        lines.append((m.group(1), m.group(2), int(m.group(3)), int(m.group(4)), m.group(5) or ""))
            waited = (wait_for is None or any(l[0] == wait_for for l in lines)) and (until is None or until(lines))
            if waited or time.monotonic() > end:
                return lines
            time.sleep(0.1)

    def check_closed(self):
        """Every module the client opened is closed again."""
        # Module calls carry a slot; the crate server's own calls slot 0.
        def opened_closed(lines):
            return (sum(1 for l in lines if l[0] == "Open" and l[2] > 0 and l[3] == 0),
                    sum(1 for l in lines if l[0] == "Close" and l[2] > 0))
        # The emulator writes each line after its reply, so the last Close may
        # reach the log after the client has ended.
        lines = self.log(until=lambda ls: opened_closed(ls)[0] == opened_closed(ls)[1])
        opened, closed = opened_closed(lines)
        check(opened > 0 and opened == closed, "modules opened %d, closed %d" % (opened, closed))
        # A module that started is stopped again.
        last_start = max((i for i, l in enumerate(lines) if l[0] == "Start" and l[3] == 0), default=-1)
        if last_start >= 0:
            after = [l[0] for l in lines[last_start:]]
            check("Stop" in after and "Close" in after, "after the last Start: %s" % after)

    def stop(self):
        if self.emulator:
            self.emulator.send_signal(signal.SIGTERM)
            self.emulator.wait(10)


# ---------------------------------------------------------------------------
# Output grammar

# InfluxDB line protocol: measurement,tags fields timestamp.
INFLUX_KEY = r"[A-Za-z0-9_]+"
INFLUX_TAG = r"(?:[^,= \\]|\\[,= ]|\\x[0-9a-f]{2})+"
INFLUX_NUMBER = r"-?\d+(?:\.\d+)?"
INFLUX_FIELD = r"%s=(?:%s|-?\d+i|\"(?:[^\"\\]|\\.)*\")" % (INFLUX_KEY, INFLUX_NUMBER)
INFLUX_LINE = re.compile(r"^km808(?:,%s=%s)+ %s(?:,%s)* \d{19}$" % (INFLUX_KEY, INFLUX_TAG, INFLUX_FIELD,
                                                                   INFLUX_FIELD))
STAMP = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")


def decimals(text):
    return len(text.split(".")[1]) if "." in text else 0


def parse_csv(text):
    rows = list(csv.DictReader(io.StringIO(text)))
    for row in rows:
        check(STAMP.match(row["time"]), "time stamp %r" % row["time"])
    return rows


def parse_jsonl(text):
    return [json.loads(line) for line in text.splitlines()]


# ---------------------------------------------------------------------------
# Cases

# Precisions of the six ranges (10V, 2V, 0.4V, 400R, 1200R, 4000R) in the
# settings file of the precision case.
PRECISIONS = [1, 3, 5, 0, 2, 4]
PRECISION_KEYS = ["АЦП. Входной диапазон U 10.00 В. U precision", "АЦП. Входной диапазон U  2.00 В. U precision",
                  "АЦП. Входной диапазон U  0.40 В. U precision",
                  "АЦП. Входной диапазон R 400.00 Ом. R precision",
                  "АЦП. Входной диапазон R 1200.00 Ом. R precision",
                  "АЦП. Входной диапазон R 4000.00 Ом. R precision"]


def settings_file(a, path, changes):
    with open(a.default_settings, "rb") as f:
        lines = f.read().decode("cp1251").split("\r\n")
    for key, value in changes.items():
        hits = [i for i, line in enumerate(lines) if line.startswith(key + "=")]
        check(len(hits) == 1, "key %r not in the default file" % key)
        lines[hits[0]] = key + "=" + value
    with open(path, "wb") as f:
        f.write("\r\n".join(lines).encode("cp1251"))


def case_formats(r, a):
    """Every format parses with a real parser; precision per range from the
    settings file; the over-range channel is marked."""
    r.start_emulator(module_config())
    ini = os.path.join(r.dir, "Km808_Viza.ini")
    settings_file(a, ini, dict(zip(PRECISION_KEYS, map(str, PRECISIONS))))
    before = (open(ini, "rb").read(), os.stat(ini).st_mtime_ns)
    common = ["--settings", ini, "--channels", "1-4,12", "--range", "2:2V", "--range", "1:0.4V", "--blocks", "2"]
    status, out, err = r.measure(*common, "--format", "csv")
    check(status == 0, "csv: status %d: %s" % (status, err))
    rows = parse_csv(out)
    check(len(rows) == 2 and [row["block"] for row in rows] == ["1", "2"], "csv rows %r" % rows)
    header = out.splitlines()[0].split(",")
    check(header == ["time", "block", "period_s", "ch1_mV", "ch2_mV", "ch3_mV", "ch4_mV", "ch12_mV", "over", "crate",
                     "slot", "serial", "host"], header)
    check(rows[0]["serial"] == "KM0000301" and rows[0]["slot"] == "3", rows[0])
    row = rows[0]
    # The planned block period is told at the start and in every line.
    planned = re.search(r"planned block period (\d+\.\d+) s", err)
    check(planned and row["period_s"] == planned.group(1), "period %r, start line %r" % (row["period_s"], err))
    # ch1 on 0.4 V: 5 decimals; ch2 on 2 V: 3; the others on 10 V: 1.
    for col, want, value in [("ch1_mV", 5, 123.456), ("ch2_mV", 3, 1234.567), ("ch3_mV", 1, 7654.3),
                             ("ch12_mV", 1, -1500.0)]:
        check(decimals(row[col]) == want, "%s %r: %d decimals wanted" % (col, row[col], want))
        check(abs(float(row[col]) - value) < 0.01 * abs(value), "%s %r, about %s wanted" % (col, row[col], value))
    check(row["over"] == "4", "over %r: channel 4 (12.5 V on 10 V) wanted" % row["over"])
    check("blocks" in err and "ch12" in err, "summary: %r" % err)

    status, out, err = r.measure(*common, "--format", "jsonl")
    check(status == 0, "jsonl: status %d: %s" % (status, err))
    records = parse_jsonl(out)
    check(len(records) == 2 and records[1]["block"] == 2 and records[0]["over"] == [4], records)
    check(STAMP.match(records[0]["time"]), records[0]["time"])
    check(abs(records[0]["ch1_mV"] - 123.456) < 0.1, records[0])

    status, out, err = r.measure(*common, "--format", "influx", "--quiet")
    check(status == 0 and err == "", "influx: status %d: %r" % (status, err))
    lines = out.splitlines()
    check(len(lines) == 2, lines)
    for line in lines:
        check(INFLUX_LINE.match(line), "not line protocol: %r" % line)
    check(" ch1_mV=" in lines[0] and "over=\"4\"" in lines[0] and "crate=QR000010,slot=3,serial=KM0000301," in lines[0]
          and ",ch4_over=1i," in lines[0] and ",ch1_range=\"0.4V\"," in lines[0], lines[0])

    # Resistance on channels 1..3 with the 1200 and 4000 Ohm ranges.
    status, out, err = r.measure("--settings", ini, "--channels", "1-3", "--range", "1200R", "--range", "3:4000R",
                                 "--blocks", "1", "--format", "csv")
    check(status == 0, "resistance: %d %s" % (status, err))
    row = parse_csv(out)[0]
    check(decimals(row["ch1_Ohm"]) == 2 and decimals(row["ch3_Ohm"]) == 4, row)
    check(abs(float(row["ch2_Ohm"]) - 1000) < 5 and abs(float(row["ch3_Ohm"]) - 3000) < 10, row)
    check((open(ini, "rb").read(), os.stat(ini).st_mtime_ns) == before, "the settings file was written")
    r.check_closed()


def case_list(r, a):
    r.start_emulator(module_config(extra_crates=[
        {"serial": "QR000020", "slots": [{"slot": 5, "type": "KM808"}, {"slot": 7, "type": "KM808"}]}]))
    status, out, err = r.measure("--list")
    check(status == 0, err)
    check(out == "1: QR000010\n  Слот 3: KM808  KM0000301\n2: QR000020\n  Слот 5: KM808  KM0000501\n"
                 "  Слот 7: KM808  KM0000701\n", "list %r" % out)
    # The crate by number and the slot: the second crate's slot 7.
    status, out, err = r.measure("--crate", "2", "--slot", "7", "--blocks", "1", "--format", "influx")
    check(status == 0 and "crate=QR000020,slot=7,serial=KM0000701," in out, "%d %r %r" % (status, out, err))
    # A slot alone: in the first crate.
    status, out, err = r.measure("--slot", "3", "--blocks", "1", "--format", "influx")
    check(status == 0 and "crate=QR000010,slot=3,serial=KM0000301," in out, "%d %r %r" % (status, out, err))
    r.check_closed()


CRATE_KEY = "Серийный номер QIRA крейта"
SLOT_KEY = "Слот модуля"


def case_refused(r, a):
    """Bad options and impossible choices: exit 2, the option named, no module
    opened, no file touched."""
    r.start_emulator(module_config())
    with open(os.path.join(r.dir, "exists.csv"), "w") as f:
        f.write("kept\n")
    settings_file(a, os.path.join(r.dir, "other-crate.ini"), {CRATE_KEY: "QR999999", SLOT_KEY: "3"})
    settings_file(a, os.path.join(r.dir, "other-slot.ini"), {CRATE_KEY: "QR000010", SLOT_KEY: "5"})
    # Files of another format, channels or unit than the run's lines.
    appended = {
        "mv.csv": "time,block,period_s,ch1_mV,over\n2026-12-11T00:00:00.000Z,1,1.000,1.0,\n",
        "two.csv": "time,block,period_s,ch1_mV,ch2_mV,over\n",
        "lines.jsonl": '{"time":"2026-12-11T00:00:00.000Z","block":1,"period_s":1.000,"ch1_mV":1.0,"over":[]}\n',
        "ohm.jsonl": '{"time":"2026-12-11T00:00:00.000Z","block":1,"period_s":1.000,"ch1_Ohm":1.0,"over":[]}\n',
        "other.csv": "a,b\n1,2\n",
    }
    for name, text in appended.items():
        with open(os.path.join(r.dir, name), "w") as f:
            f.write(text)
    cases = [
        (["--range", "12:400R"], "--range"),
        (["--channels", "9-12", "--range", "400R"], "--range"),
        (["--channels", "1,9", "--range", "1:400R"], "--channels"),
        (["--range", "3:400R"], "--range"),  # every channel of a fresh file: a mix
        (["--rate", "3000"], "--rate"),
        (["--rate", "fast"], "--rate"),
        (["--crate", "QR999999"], "--crate"),
        (["--crate", "5"], "--crate"),
        (["--crate", "QR000010", "--slot", "1"], "--slot"),
        # The same early refusal however the crate is named, or not at all.
        (["--crate", "1", "--slot", "1"], "--slot: slot 1 of crate 'QR000010' holds no KM808"),
        (["--slot", "1"], "--slot: slot 1 of crate 'QR000010' holds no KM808"),
        (["--slot", "5"], "--slot: slot 5"),
        # A settings file's module that is not there is never replaced.
        (["--settings", "other-crate.ini"], "--settings: the crate server has no crate 'QR999999'"),
        (["--settings", "other-slot.ini"], "--settings: slot 5 of crate 'QR000010' holds no KM808"),
        (["--channels", "1", "--range", "1200R", "--output", "mv.csv", "--append"], "ch1_Ohm"),
        (["--channels", "1", "--output", "two.csv", "--append"], "--append"),
        (["--channels", "1", "--output", "lines.jsonl", "--append"], "it holds jsonl lines"),
        (["--channels", "2", "--range", "1200R", "--format", "jsonl", "--output", "ohm.jsonl", "--append"],
         "--append"),
        (["--channels", "1", "--output", "other.csv", "--append"], "--append"),
        (["--channels", "0-3"], "--channels"),
        (["--channels", "1,17"], "--channels"),
        (["--range", "5V"], "--range"),
        (["--correction", "sometimes"], "--correction"),
        (["--method", "avg"], "--method"),
        (["--time", "0"], "--time"),
        (["--blocks", "-1"], "--blocks"),
        (["--format", "xml"], "--format"),
        (["--output", "exists.csv"], "--output"),
        (["--settings", "no-such.ini"], "--settings"),
        (["--bogus"], "--bogus"),
        (["--blocks"], "--blocks"),
    ]
    for args, named in cases:
        status, out, err = r.measure(*args)
        check(status == 2, "%s: status %d, 2 wanted: %r" % (args, status, err))
        check(named in err and out == "", "%s: %r does not name %s" % (args, err, named))
    opens = [l for l in r.log() if l[0] in ("Open", "GetConfig") and l[2] > 0]
    check(opens == [], "a module was opened: %s" % opens)
    with open(os.path.join(r.dir, "exists.csv")) as f:
        check(f.read() == "kept\n", "the existing output file was changed")
    for name, text in appended.items():
        with open(os.path.join(r.dir, name)) as f:
            check(f.read() == text, "%s was changed" % name)
    status, out, err = r.measure("--help")
    check(status == 0 and "Exit status" in out and "2  bad usage" in out, out)
    status, out, err = r.measure("--version")
    check(status == 0 and re.match(r"^km808-measure \d+\.\d+\.\d+\n$", out), "%d %r" % (status, out))


# fault set-up -> the window's text for it.
FAULTS = [
    ({"setadc": True}, "KM808_SetADC() --> BAD!!!"),
    ({"calibrate": True}, "Не могу выполнить функцию KM808_Calibrate()!!!"),
    ({"flat_calibration": True}, "Не могу выполнить функцию KM808_Calibrate()!!!"),
    ({"start": True}, "Не могу выполнить запуск сбора кадра данных!!!"),
    ({"stop": True}, "Не могу выполнить останов сбора данных!!!"),
    ({"drop_after_words": 3000}, "Не могу получить данные с модуля!"),
    ({"corrupt_after_words": 3000}, "Не могу обработать полученные данные с модуля!"),
    ({"stall_after_words": 3000, "stall_ms": 6000}, None),  # a short block; its text is checked below
]


def case_faults(r, a):
    """Every injected fault: its message, exit 1, the module closed."""
    for faults, text in FAULTS:
        r.start_emulator(module_config(faults=faults))
        status, out, err = r.measure("--blocks", "3", "--time", "0.1", "--quiet", timeout=60)
        check(status == 1, "%s: status %d: %r" % (faults, status, err))
        if text is None:
            text = next((t for t in ("Принято неправильное кол-во данных с модуля!",
                                     "Не принято ни одного отсчёта с модуля!") if t in err), "")
        check(text and err.strip().startswith(text), "%s: %r, %r wanted" % (faults, err, text))
        r.check_closed()
        r.stop()
    # The module refuses to open: the detection does not list it.
    r.start_emulator(module_config(faults={"open": True}))
    status, out, err = r.measure("--blocks", "1")
    check(status == 1 and "Не могу найти ни одного QIRA крейта\nгде бы был установлен модуль KM808!" in err, err)
    r.stop()
    # Slot types unreadable: said, not an exit without a word.
    config = module_config()
    config["crates"][0]["faults"] = {"modules": True}
    r.start_emulator(config)
    status, out, err = r.measure("--blocks", "1")
    check(status == 1 and "did not tell the slot types" in err and "crate server QIRA_SERVER=" in err,
          "%d %r" % (status, err))
    r.stop()
    # No crate server at all.
    r.server = None
    status, out, err = r.measure("--blocks", "1")
    check(status == 1 and err.splitlines() == ["Не могу найти ни одного QIRA крейта!",
                                               "km808-measure: crate server QIRA_SERVER=127.0.0.1:9"],
          "%d %r" % (status, err))


def wait_lines(path, count, timeout=30):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if os.path.exists(path):
            with open(path, "rb") as f:
                if f.read().count(b"\n") >= count:
                    return
        time.sleep(0.02)
    raise Failure("%s: %d lines not written in %d s" % (path, count, timeout))


def case_signals(r, a):
    """SIGINT and SIGTERM end the run with the summary and a closed module;
    SIGKILL leaves whole lines only, one per block the module delivered."""
    for sig in (signal.SIGINT, signal.SIGTERM):
        r.start_emulator(module_config(pace="realtime"))
        out_path = os.path.join(r.dir, "run-%d.csv" % sig)
        p = r.spawn("--time", "0.2", "--output", out_path, "--channels", "1-3")
        wait_lines(out_path, 3)
        p.send_signal(sig)
        out, err = p.communicate(timeout=20)
        err = err.decode()
        check(p.returncode == 0, "signal %d: status %d: %r" % (sig, p.returncode, err))
        check(re.search(r"^ch1\s+mV\s+\d+", err, re.M), "no summary after signal %d: %r" % (sig, err))
        rows = parse_csv(open(out_path).read())
        summary_blocks = int(re.search(r"^ch1\s+mV\s+(\d+)", err, re.M).group(1))
        check(summary_blocks == len(rows), "summary %d blocks, file %d" % (summary_blocks, len(rows)))
        r.check_closed()
        r.stop()

    # A reader that goes away on purpose (| head): the run ends as asked,
    # status 0, the module stopped and closed; with --tee the file goes on.
    for tee in ([], ["--tee", "--output", "teed.csv", "--blocks", "6"]):
        r.start_emulator(module_config(pace="realtime"))
        p = r.spawn("--time", "0.1", "--channels", "1-3", *tee)
        p.stdout.readline()
        p.stdout.close()
        p.stdout = None
        err = p.communicate(timeout=20)[1].decode()
        check(p.returncode == 0 and "Broken pipe" not in err and re.search(r"^ch1\s+mV", err, re.M),
              "%s: %d %r" % (tee, p.returncode, err))
        if tee:
            check(len(parse_csv(open(os.path.join(r.dir, "teed.csv")).read())) == 6, "the teed file stopped")
        r.check_closed()
        r.stop()

    for delay in (0.0, 0.05, 0.11):
        r.start_emulator(module_config(pace="realtime"))
        out_path = os.path.join(r.dir, "killed-%s.jsonl" % delay)
        p = r.spawn("--time", "0.2", "--output", out_path, "--format", "jsonl", "--channels", "1-16")
        wait_lines(out_path, 2)
        time.sleep(delay)
        p.send_signal(signal.SIGKILL)
        p.wait(10)
        data = open(out_path, "rb").read()
        check(data.endswith(b"\n"), "a half line after SIGKILL: %r" % data[-80:])
        records = [json.loads(line) for line in data.decode().splitlines()]
        check([rec["block"] for rec in records] == list(range(1, len(records) + 1)), "blocks %r" % records)
        time.sleep(0.3)
        lines = r.log()
        # A block the client received whole ends with a Stop after its Recvs.
        delivered = 0
        for i, l in enumerate(lines):
            if l[0] == "Start" and any(m[0] == "Stop" for m in lines[i + 1:]):
                delivered += 1
        check(len(records) in (delivered, delivered - 1),
              "%d lines, %d blocks delivered by the emulator" % (len(records), delivered))
        r.stop()


def case_full_disk(r, a):
    """A full disk: the message, exit 1, the module closed, whole lines only."""
    root = os.environ.get("KM808_FULL_DISK_DIR")
    if not root:
        print("SKIPPED: %s" % os.environ.get("KM808_FULL_DISK_SKIP", "no small file system"))
        return
    r.start_emulator(module_config())
    # Fill the file system, then free one page: room for a few blocks.
    filler = os.path.join(root, "filler")
    fd = os.open(filler, os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        while os.write(fd, b"x" * 4096) > 0:
            pass
    except OSError:
        pass
    os.close(fd)
    os.truncate(filler, os.path.getsize(filler) - 4096)
    out_path = os.path.join(root, "out.csv")
    status, out, err = r.measure("--output", out_path, "--channels", "1-16", "--blocks", "1000")
    check(status == 1 and "cannot write %s: No space left on device" % out_path in err, "%d %r" % (status, err))
    data = open(out_path, "rb").read()
    check(data.endswith(b"\n") and len(data) <= 4096, "%d bytes, %r" % (len(data), data[-60:]))
    rows = parse_csv(data.decode())
    check(len(rows) >= 1, "no block before the disk was full")
    r.check_closed()


def case_files(r, a):
    """The output file under a size limit, appended to after a cut-short run,
    and after a run that measured nothing."""
    r.start_emulator(module_config())
    # ulimit -f 2: the real binary ends on its failed write, not on SIGXFSZ.
    limited = os.path.join(r.dir, "limited.csv")
    p = subprocess.run([a.measure, "--channels", "1-16", "--blocks", "200", "--time", "0.1", "--output", limited],
                       env=r.env(), capture_output=True, timeout=120, cwd=r.dir,
                       preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (2048, 2048)))
    err = p.stderr.decode()
    check(p.returncode == 1 and "cannot write %s: File too large" % limited in err, "%d %r" % (p.returncode, err))
    check(re.search(r"^ch1\s+mV\s+\d+", err, re.M), "no summary: %r" % err)
    data = open(limited, "rb").read()
    check(data.endswith(b"\n") and len(data) <= 2048, "%d bytes, %r" % (len(data), data[-60:]))
    check(len(parse_csv(data.decode())) >= 1, "no whole block line")
    r.check_closed()

    # Appending after a run that was cut short: the unfinished line goes, the
    # new lines start on a line of their own under the same header.
    cut = os.path.join(r.dir, "cut.csv")
    status, out, err = r.measure("--channels", "1-2", "--blocks", "2", "--output", cut)
    check(status == 0, err)
    with open(cut, "ab") as f:
        f.write(b"2026-12-11T00:00:00.000Z,3,1.0")
    status, out, err = r.measure("--channels", "1-2", "--blocks", "2", "--output", cut, "--append")
    check(status == 0 and "unfinished line" in err, "%d %r" % (status, err))
    rows = parse_csv(open(cut).read())
    check([row["block"] for row in rows] == ["1", "2", "1", "2"] and all(row["ch2_mV"] for row in rows), rows)

    # A run that measures nothing leaves no file it created, and a file it
    # was to replace as it was; the same command then runs again.
    r.stop()
    r.start_emulator(module_config(faults={"setadc": True}))
    fresh = os.path.join(r.dir, "fresh.csv")
    status, out, err = r.measure("--blocks", "1", "--output", fresh)
    check(status == 1 and not os.path.exists(fresh), "%d, file left: %s" % (status, os.path.exists(fresh)))
    status, out, err = r.measure("--blocks", "1", "--output", cut, "--force")
    check(status == 1 and len(parse_csv(open(cut).read())) == 4, "the replaced file changed: %d" % status)
    r.stop()
    r.start_emulator(module_config())
    status, out, err = r.measure("--blocks", "1", "--output", fresh)
    check(status == 0 and len(parse_csv(open(fresh).read())) == 1, "the second try: %d %r" % (status, err))


def holder(r, *args):
    """A client that holds its module until stopped, once it has measured."""
    path = os.path.join(r.dir, "holder-%d.csv" % time.monotonic_ns())
    p = r.spawn("--time", "0.1", "--output", path, "--quiet", *args)
    wait_lines(path, 2)
    return p


def case_module(r, a):
    """A named module is measured or none: not there and busy are told, and
    only --any-module measures another one."""
    r.start_emulator(module_config(pace="realtime", extra_crates=[
        {"serial": "QR000020", "slots": [{"slot": 5, "type": "KM808"}]}]))
    # A client that names its module opens only that one.
    status, out, err = r.measure("--crate", "QR000020", "--slot", "5", "--blocks", "1", "--format", "influx")
    check(status == 0 and "crate=QR000020,slot=5,serial=" in out, "%d %r" % (status, err))
    opened = {(l[1], l[2]) for l in r.log(wait_for="Close") if l[0] == "Open" and l[2] > 0}
    check(opened == {("QR000020", 5)}, "modules opened: %s" % opened)
    check("crate QR000020 slot 5, module KM0000501" in err, err)

    ini = os.path.join(r.dir, "stored.ini")
    settings_file(a, ini, {CRATE_KEY: "QR000010", SLOT_KEY: "3"})
    p = holder(r, "--crate", "QR000010", "--slot", "3")
    try:
        status, out, err = r.measure("--settings", ini, "--blocks", "1", "--format", "influx")
        check(status == 1 and out == "" and "Не могу проинициализировать модуль в указанном слоте!" in err and
              "crate 'QR000010' slot 3: the module is busy" in err and "QIRA_SERVER=" in err,
              "%d %r" % (status, err))
        status, out, err = r.measure("--settings", ini, "--blocks", "1", "--format", "influx", "--any-module")
        check(status == 0 and "crate=QR000020,slot=5,serial=" in out and "--any-module" in err, "%d %r" % (status, err))
    finally:
        p.send_signal(signal.SIGTERM)
        p.communicate(timeout=20)
    settings_file(a, ini, {CRATE_KEY: "QR000030", SLOT_KEY: "3"})
    status, out, err = r.measure("--settings", ini, "--blocks", "1", "--format", "influx", "--any-module")
    check(status == 0 and "crate=QR000010,slot=3,serial=" in out and "no crate 'QR000030'" in err, "%d %r" % (status, err))


def visible_lines(text):
    """What a terminal shows of each line: a carriage return with an erase
    starts the line anew."""
    return [line.split("\r\x1b[K")[-1] for line in text.split("\n")]


def case_terminal(r, a):
    """Data and progress on one terminal; serials with control characters and
    backslashes in every output."""
    r.start_emulator(module_config(pace="realtime"))
    master, slave = pty.openpty()
    p = subprocess.Popen([a.measure, "--channels", "1-2", "--time", "0.1", "--blocks", "3"], env=r.env(),
                         stdout=slave, stderr=slave, cwd=r.dir)
    os.close(slave)
    text = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        text += chunk
    p.wait(20)
    os.close(master)
    lines = visible_lines(text.decode().replace("\r\n", "\n"))
    data = [line for line in lines if re.match(r"^\d{4}-", line)]
    check(p.returncode == 0 and len(data) == 3, "%d %r" % (p.returncode, text))
    for line in lines:
        check(line == "" or re.match(r"^(\d{4}-|time,|km808-measure: |channel|ch\d)", line), "mixed line %r" % line)
    check("block 2 of 3" in text.decode(), "no progress of the total: %r" % text)
    r.stop()

    hostile = "Q,R=1 \x1b[2J\nX\\"
    r.start_emulator({"pace": "fast", "seed": 5, "crates": [
        {"serial": hostile, "slots": [{"slot": 3, "type": "KM808", "serial": "KM\x1b]0;x\x07"}]}]})
    status, out, err = r.measure("--list")
    check(status == 0 and "\x1b" not in out and out.count("\n") == 2, "%d %r" % (status, out))
    check(out.startswith("1: Q,R=1 \\x1b[2J\\x0aX\\\n"), out)
    status, out, err = r.measure("--blocks", "1", "--format", "influx", "--channels", "1")
    check(status == 0 and out.count("\n") == 1 and "\x1b" not in out + err, "%d %r %r" % (status, out, err))
    check(INFLUX_LINE.match(out.rstrip("\n")), "not line protocol: %r" % out)
    tags = influx_tags(out)
    check(tags["crate"] == "Q,R=1 \\x1b[2J\\x0aX\\x5c" and tags["slot"] == "3", tags)


def influx_tags(line):
    """The tags of a line as InfluxDB reads them: a backslash escapes a comma,
    an equals sign or a blank; before anything else it is itself."""
    tags, key, value, i, in_value = {}, "", "", line.index(",") + 1, False
    while True:
        ch = line[i]
        if ch == "\\" and line[i + 1] in ",= ":
            ch, i = line[i + 1], i + 1
        elif ch in ", ":
            check(in_value and not value.endswith("\\"), "bad tag in %r" % line)
            tags[key] = value
            key, value, in_value = "", "", False
            if ch == " ":
                return tags
            i += 1
            continue
        elif ch == "=" and not in_value:
            in_value, i = True, i + 1
            continue
        if in_value:
            value += ch
        else:
            key += ch
        i += 1


CASES = {"formats": case_formats, "list": case_list, "refused": case_refused, "faults": case_faults,
         "signals": case_signals, "full_disk": case_full_disk, "files": case_files, "module": case_module,
         "terminal": case_terminal}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("case", choices=sorted(CASES))
    p.add_argument("--measure", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--default-settings", required=True)
    p.add_argument("--artifacts", required=True)
    a = p.parse_args()
    a.measure, a.emulator = os.path.abspath(a.measure), os.path.abspath(a.emulator)
    artifacts = os.path.join(a.artifacts, a.case)
    shutil.rmtree(artifacts, ignore_errors=True)
    r = Run(a, artifacts, "")
    try:
        CASES[a.case](r, a)
    except Failure as e:
        print("FAILED %s: %s (see %s)" % (a.case, e, artifacts))
        return 1
    finally:
        r.stop()
    print("passed: %s" % a.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
