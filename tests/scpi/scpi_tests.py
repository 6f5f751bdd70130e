#!/usr/bin/env python3
"""km808-scpi with real clients (PyVISA, PyMeasure, raw sockets) against its
own qira-emulator.

    scpi_tests.py CASE --scpi BIN --emulator BIN --examples DIR --artifacts DIR

Each case starts an emulator and a server on free ports and leaves their logs
in the artefacts directory.
"""

import argparse
import json
import math
import os
import re
import select
import signal
import socket
import subprocess
import sys
import time

try:
    import pyvisa
except ImportError:
    print("SKIPPED: python3-pyvisa and python3-pyvisa-py are not installed")
    sys.exit(0)


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


INJECTED_VOLTS = {1: 0.123456, 2: 1.234567, 3: 7.654321, 4: 12.5, 12: -1.5}
INJECTED_OHMS = {1: 100.0, 2: 1000.0, 3: 3000.0}
OVER_RANGE = 9.9e37


def emulator_config():
    channels = [{"channel": c, "volts": v} for c, v in INJECTED_VOLTS.items()]
    for entry in channels:
        if entry["channel"] in INJECTED_OHMS:
            entry["ohms"] = INJECTED_OHMS[entry["channel"]]
    slot = {"slot": 3, "type": "KM808", "serial": "KM0000301", "channels": channels}
    return {"pace": "fast", "seed": 5,
            "crates": [{"serial": "QR000010", "slots": [{"slot": 1, "type": 4660, "name": "PS16"}, slot]}]}


def close_to(value, wanted, relative=1e-4):
    return abs(value - wanted) <= relative * max(abs(wanted), 1e-3)


def first_line(process, what):
    ready, _, _ = select.select([process.stdout], [], [], 20)
    line = process.stdout.readline().decode() if ready else ""
    m = re.match(r"listening on (\S+):(\d+)", line)
    check(m is not None, "%s did not start: %r" % (what, line))
    return m.group(1), int(m.group(2))


class Run:
    def __init__(self, args, name):
        self.a = args
        self.dir = os.path.join(args.artifacts, name)
        os.makedirs(self.dir, exist_ok=True)
        path = os.path.join(self.dir, "emulator.json")
        with open(path, "w") as f:
            json.dump(emulator_config(), f)
        self.emulator_log = os.path.join(self.dir, "emulator.log")
        self.emulator = subprocess.Popen([args.emulator, "--listen", "127.0.0.1:0", "--config", path, "--verbose"],
                                         stdout=subprocess.PIPE, stderr=open(self.emulator_log, "w"))
        host, port = first_line(self.emulator, "the emulator")
        self.crate_server = "%s:%d" % (host, port)
        self.server = None
        self.port = None

    def start_server(self, *extra):
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", QIRA_SERVER=self.crate_server)
        self.server = subprocess.Popen([self.a.scpi, "--listen", "127.0.0.1:%d" % (self.port or 0), *extra],
                                       stdout=subprocess.PIPE, env=env,
                                       stderr=open(os.path.join(self.dir, "server.log"), "a"))
        _, self.port = first_line(self.server, "km808-scpi")

    def resource(self, rm, timeout=10000):
        inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % self.port)
        inst.read_termination = "\n"
        inst.write_termination = "\n"
        inst.timeout = timeout
        return inst

    def raw(self):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=10)
        return s, s.makefile("rb")

    def log(self):
        lines = []
        with open(self.emulator_log, encoding="utf-8", errors="replace") as f:
            for raw in f:
                m = re.match(r"^\d+\.\d+ (\w+) (\S+) (-?\d+) (-?\d+)", raw)
                if m:
                    lines.append((m.group(1), int(m.group(3)), int(m.group(4))))
        return lines

    def stop_server(self):
        """SIGTERM: the server ends with 0, the module stopped and closed."""
        self.server.send_signal(signal.SIGTERM)
        check(self.server.wait(20) == 0, "km808-scpi ended with %s on SIGTERM" % self.server.returncode)
        deadline = time.monotonic() + 5
        while True:
            calls = [l[0] for l in self.log() if l[1] > 0]
            starts = [i for i, c in enumerate(calls) if c == "Start"]
            after = calls[starts[-1]:] if starts else calls
            if ("Stop" in after or not starts) and calls and calls[-1] == "Close":
                return
            check(time.monotonic() < deadline, "after SIGTERM the module was not stopped and closed: %s" % after)
            time.sleep(0.1)

    def finish(self):
        for p in (self.server, self.emulator):
            if p and p.poll() is None:
                p.kill()
                p.wait(10)


def error_of(inst):
    number, text = inst.query("SYST:ERR?").split(",", 1)
    return int(number), text


def case_pyvisa(run):
    run.start_server()
    rm = pyvisa.ResourceManager("@py")
    inst = run.resource(rm)
    check(inst.query("*IDN?") == "KM808_Viza,KM808,KM0000301,1.5", "identity")
    check(inst.query('SYST:MOD?') == '"QR000010",3,"KM0000301"', "module")
    inst.write("*RST;*CLS")
    inst.write("CONF:VOLT 10,(@1:4,12);APER 0.05")
    values = inst.query_ascii_values("READ?")
    check(len(values) == 5, "READ? of five channels: %s" % values)
    for (channel, wanted), value in zip(sorted(INJECTED_VOLTS.items()), values):
        if abs(wanted) > 10:
            check(value == OVER_RANGE, "channel %d over range reads %g" % (channel, value))
        else:
            check(close_to(value, wanted), "channel %d: %g V, injected %g V" % (channel, value, wanted))
    check(inst.query("FETC:OVER?") == "0,0,0,1,0", "over-range flags")
    check(inst.query("FETC? (@2)") == inst.query("FETC? (@1:3)").split(",")[1], "FETC? of a subset")
    ohms = inst.query_ascii_values("MEAS:RES? 4000,(@1:3)")
    for (channel, wanted), value in zip(sorted(INJECTED_OHMS.items()), ohms):
        check(close_to(value, wanted), "channel %d: %g ohm, injected %g" % (channel, value, wanted))
    check(error_of(inst) == (0, '"No error"'), "no error so far")
    # Errors from the queue, in order.
    inst.write("FOO:BAR")
    inst.write("CONF:RES (@9)")
    inst.write("ADC:RATE 123")
    check(error_of(inst)[0] == -113, "undefined header")
    check(error_of(inst)[0] == -222, "resistance on channel 9")
    check(error_of(inst)[0] == -224, "a rate the module lacks")
    check(error_of(inst)[0] == 0, "queue empty")
    inst.write("X" * 10000)
    check(error_of(inst)[0] == -363, "an over-long line")
    check(inst.query("*OPC?") == "1", "the session goes on")
    inst.close()
    run.stop_server()


def case_pymeasure(run):
    sys.path.insert(0, run.a.examples)
    try:
        from km808_pymeasure import KM808
    except ImportError:
        print("SKIPPED: python3-pymeasure is not installed")
        return
    run.start_server()
    adc = KM808("TCPIP::127.0.0.1::%d::SOCKET" % run.port)
    check(adc.id == "KM808_Viza,KM808,KM0000301,1.5", "identity: %r" % adc.id)
    adc.aperture = 0.05
    adc.adc_rate = 500
    adc.correction = "continuous"
    adc.method = "fft"
    check(adc.aperture == 0.05 and adc.adc_rate == 500, "settings read back")
    check(adc.correction == "continuous" and adc.method == "fft", "keywords read back")
    volts = adc.measure_voltage([1, 2, 3, 12])
    wanted = [INJECTED_VOLTS[c] for c in (1, 2, 3, 12)]
    check(all(close_to(v, w, 1e-3) for v, w in zip(volts, wanted)), "measure_voltage %s, injected %s" % (volts, wanted))
    adc.method = "sum"
    ohms = adc.measure_resistance([1, 2, 3], 1200)
    check(close_to(ohms[0], 100.0) and close_to(ohms[1], 1000.0), "measure_resistance %s" % ohms)
    check(ohms[2] == KM808.OVER_RANGE and adc.over_range() == [False, False, True], "3000 ohm over 1200")
    adc.configure_voltage(range(1, 5), 2)
    adc.start()
    block = adc.read_block()
    check(len(block) == 4 and block[2] == KM808.OVER_RANGE, "read_block %s" % block)
    check(0 < adc.block_period < KM808.OVER_RANGE, "a measured block period: %s" % adc.block_period)
    check(adc.next_error() == (0, "No error"), "no error")
    adc.write("CONF:RES (@12)")
    adc.write("ADC:RATE 7")
    check(adc.check_errors() == [(-222, "Data out of range;resistance on channels 1..8 only"),
                                 (-224, "Illegal parameter value")], "the queue through check_errors")
    adc.abort()
    adc.adapter.connection.close()
    run.stop_server()


def case_hostile(run):
    run.start_server()
    rm = pyvisa.ResourceManager("@py")
    # A silent client, one that stops mid-command, one that floods without
    # reading, and garbage: the next client is served all the same.
    silent, _ = run.raw()
    half, _ = run.raw()
    half.sendall(b"CONF:VOLT 10,(@1")
    half.close()
    flood, _ = run.raw()
    flood.setblocking(False)
    sent = 0
    chunk = b"*IDN?;" * 500 + b"\n"
    deadline = time.monotonic() + 3
    while time.monotonic() < deadline:
        try:
            sent += flood.send(chunk)
        except BlockingIOError:
            time.sleep(0.01)
    garbage, _ = run.raw()
    garbage.sendall(bytes(range(256)) * 64 + b"\n")
    endless, _ = run.raw()
    endless.sendall(b"A" * 200000)
    inst = run.resource(rm, timeout=5000)
    check(inst.query("*IDN?").startswith("KM808_Viza,"), "served beside hostile clients")
    cases = [
        ("*IDN? 1", -108), ("SYST:VERS??", -101), ("ROUT:SCAN (@0)", -222), ("ROUT:SCAN (@1:", -102),
        ("CONF:VOLT 1e999,(@1)", -222), ("CONF:VOLT 0x1,(@1)", -104), ("APER 0", -222), ("METH NONE", -224),
        ("SYST:VERSIONNUMBERX?", -112), ("\x7f", -101),
    ]
    for line, wanted in cases:
        inst.write(line)
        got = error_of(inst)[0]
        check(got == wanted, "%r: error %d, wanted %d" % (line, got, wanted))
    # Over the connection limit: refused, the others stay.
    extra = [run.raw()[0] for _ in range(16)]
    time.sleep(0.3)
    check(inst.query("*OPC?") == "1", "served with the connection limit reached")
    for s in extra + [silent, flood, garbage, endless]:
        s.close()
    inst.close()
    run.stop_server()


def case_two_clients(run):
    run.start_server()
    rm = pyvisa.ResourceManager("@py")
    a = run.resource(rm)
    b = run.resource(rm)
    a.write("CONF:VOLT 10,(@1:3);APER 0.05;INIT")
    check(b.query("SYST:LOCK:OWN?") == "OTHER", "the first to configure controls")
    b.write("APER 1")
    check(error_of(b)[0] == -203, "the other client may not change the set-up")
    # Both read the running run at once.
    a.write("READ?")
    b.write("READ? (@2)")
    va = [float(v) for v in a.read().split(",")]
    vb = float(b.read())
    check(close_to(va[1], INJECTED_VOLTS[2]) and close_to(vb, INJECTED_VOLTS[2]), "both read: %s %s" % (va, vb))
    check(a.query("APER?") == "+5.000000000E-02", "the controller's set-up stands")
    a.close()
    deadline = time.monotonic() + 30
    while b.query("SYST:LOCK?") != "1":
        check(time.monotonic() < deadline, "control not free after the controller left")
        time.sleep(0.05)
    b.write("APER 0.1")
    check(error_of(b)[0] == 0, "the new controller sets up")
    b.close()
    run.stop_server()


def case_sigkill(run):
    run.start_server()
    rm = pyvisa.ResourceManager("@py")
    inst = run.resource(rm)
    inst.write("CONF:VOLT 10,(@1:3);APER 0.05;INIT")
    inst.query_ascii_values("READ?")
    inst.close()
    run.server.kill()
    run.server.wait(10)
    run.start_server()
    inst = run.resource(rm)
    values = inst.query_ascii_values("MEAS:VOLT? (@1:3)")
    check(all(close_to(v, INJECTED_VOLTS[c]) for c, v in zip((1, 2, 3), values)), "after SIGKILL: %s" % values)
    inst.close()
    run.stop_server()


def case_refused(run):
    """A module the command line names is served or nothing is: never another one."""
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", QIRA_SERVER=run.crate_server)

    def refused(*options):
        p = subprocess.run([run.a.scpi, "--listen", "127.0.0.1:0", *options], env=env, capture_output=True,
                           timeout=60)
        return p.returncode, p.stdout.decode(), p.stderr.decode()

    for options, wanted in [(("--crate", "NOPE"), "no crate 'NOPE'"), (("--slot", "1"), "slot 1 of crate"),
                            (("--crate", "2"), "--crate: 2"), (("--slot", "17"), "--slot: '17'"),
                            (("--listen", "nowhere"), "--listen")]:
        status, out, err = refused(*options)
        check(status in (1, 2) and "listening" not in out and wanted in err,
              "%s: status %d, %r" % (" ".join(options), status, err))
    # The module is held by a running server: a second one for it refuses.
    run.start_server("--slot", "3")
    status, out, err = refused("--slot", "3")
    check(status == 1 and "listening" not in out, "a busy module: %d %r" % (status, err))
    run.stop_server()


CASES = {"pyvisa": case_pyvisa, "pymeasure": case_pymeasure, "hostile": case_hostile,
         "two_clients": case_two_clients, "sigkill": case_sigkill, "refused": case_refused}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("case", choices=sorted(CASES))
    p.add_argument("--scpi", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--examples", required=True)
    p.add_argument("--artifacts", required=True)
    args = p.parse_args()
    run = Run(args, args.case)
    try:
        CASES[args.case](run)
    except Failure as e:
        print("FAILED: %s (logs in %s)" % (e, run.dir))
        return 1
    finally:
        run.finish()
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
