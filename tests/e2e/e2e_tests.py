#!/usr/bin/env python3
"""End-to-end tests of the real KM808_Viza executable.

    e2e_tests.py CASE --program BIN --emulator BIN --fixtures DIR
                 --default-settings INI --version X.Y.Z --artifacts DIR

Each case runs in its own X server against its own emulator and leaves its
screenshots, the emulator's request log and the program's output in the
artefacts directory.
"""

import argparse
import os
import re
import signal
import statistics
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_session import (E2eFailure, Session, blocks, check, is_green_text, is_red_text, run_case,  # noqa: E402
                         lamp_colour, recv_words, wait_for)
import cases_readings  # noqa: E402

# Window layout, in pixels from the window's top left corner (the X server
# runs no window manager, so the window is its client area). Read off the
# screenshots of a 1920 x 1080 screen.
CRATE_LAMP = (407, 26)
MODULE_LAMP = (407, 53)
START_BUTTON = (640, 10, 891, 71)  # x0, y0, x1, y1
START_BUTTON_CENTRE = (765, 40)


def value_box(channel):
    """Value box of channel 0..15: two columns of eight frames."""
    col, row = divmod(channel, 8)
    x0 = 375 + 475 * col
    y0 = 275 + 66 * row
    return (x0, y0, x0 + 162, y0 + 35)


def update_lamp(channel):
    col, row = divmod(channel, 8)
    return (552 + 475 * col, 290 + 66 * row)


MAIN_DIALOG = "Сообщение TMainThread::Execute()!!!"
DISCOVERY_DIALOG = "Сообщение TInitAndConfigThread::Execute()!!!"
SAVE_ERROR = "ОШИБКА SaveIniFile()!!!"
SCREEN_ERROR = "Ошибка!!!"

# ---------------------------------------------------------------------------
# Settings files


def settings_with(default, changes):
    """The default settings file with some values replaced, byte for byte
    otherwise (Windows-1251, CR LF)."""
    lines = default.decode("cp1251").split("\r\n")
    for key, value in changes.items():
        hits = [i for i, line in enumerate(lines) if line.startswith(key + "=")]
        check(len(hits) == 1, "key %r not in the default file" % key)
        lines[hits[0]] = key + "=" + value
    return "\r\n".join(lines).encode("cp1251")


# Three channels with three different voltage ranges, 1000 Hz, continuous
# auto-calibration.
MEASUREMENT_SETTINGS = {
    "АЦП. Групповое управление каналами": "0",
    "АЦП. Управление каналом 1": "1",
    "АЦП. Управление каналом 2": "1",
    "АЦП. Управление каналом 3": "0",
    "АЦП. Управление каналом 4": "0",
    "АЦП. Управление каналом 5": "1",
    "АЦП. Управление каналом 6": "0",
    "АЦП. Групповое управление входным диапазоном для измерения U": "-1",
    "АЦП. Управление входным диапазоном U канала 2": "1",
    "АЦП. Управление входным диапазоном U канала 5": "2",
    "АЦП. Индекс частоты работы АЦП": "4",
    "АЦП. Режим коррекции данных": "1",
}
MEASUREMENT_CHANNELS = [0, 1, 4]
# divider 8 = 1000 Hz, one calibration slot, entries mode/channel/range.
MEASUREMENT_SETADC = "divider 8 cal 1 00/00/00 00/01/01 00/04/02"
# 1000 Hz over 3 entries + 1 calibration slot = 250 frames/s; 1 s blocks.
MEASUREMENT_BLOCK_SECONDS = 1.0

# ---------------------------------------------------------------------------
# Steps shared by the cases


def wait_discovered(s, version, timeout=30):
    """Waits until the first detection has ended with the module open: the
    caption carries the version and both lamps are green."""
    caption = "KM808_viza - " + version

    def ready():
        w = s.main_window()
        if not w or w["name"] != caption:
            return None
        shot = s.shot("poll")
        os.remove(shot.path)
        s.shots -= 1
        lamps = [lamp_colour(shot.mean(w["x"] + x, w["y"] + y)) for x, y in (CRATE_LAMP, MODULE_LAMP)]
        return w if lamps == ["green", "green"] else None

    try:
        return wait_for("the main window with caption %r and two green lamps" % caption, ready, timeout, 0.5)
    except E2eFailure:
        s.shot("not-discovered")
        raise


def start_button_look(shot, w):
    x0, y0, x1, y1 = START_BUTTON
    box = (w["x"] + x0, w["y"] + y0, w["x"] + x1, w["y"] + y1)
    red = shot.count(*box, is_red_text)
    green = shot.count(*box, is_green_text)
    return "running" if red > 100 and green < 20 else "idle" if green > 100 and red < 20 else "red %d green %d" % (
        red, green)


def wait_start_count(s, n, timeout):
    return wait_for("%d Start requests in the emulator log" % n,
                    lambda: len([l for l in s.log() if l.name == "Start"]) >= n, timeout)


def close_with_ctrl_q(s, w, timeout=20):
    s.key(w, "ctrl+q")
    code = s.wait_exit(timeout)
    check(code == 0, "the program ended with exit code %d" % code)


def dismiss(s, caption, timeout=10):
    """Presses Return on the dialog with that caption; returns its window."""
    d = wait_for("a window captioned %r" % caption, lambda: s.windows_captioned(caption), timeout)[0]
    s.key(d, "Return")
    wait_for("the dialog %r to close" % caption,
             lambda: all(x["id"] != d["id"] for x in s.windows_captioned(caption)), timeout)
    return d


def desktop_key(entry, key):
    """The one value of a key in the [Desktop Entry] file."""
    with open(entry, encoding="utf-8") as f:
        values = [line.split("=", 1)[1].strip() for line in f if line.startswith(key + "=")]
    check(len(values) == 1, "%s has %d %s keys" % (entry, len(values), key))
    return values[0]


def check_window_class(s, w, entry):
    """A dock ties a window to its menu entry and icon by the class part of
    WM_CLASS and the entry's StartupWMClass."""
    out = s.xprop(w, "WM_CLASS")
    m = re.match(r'WM_CLASS\(STRING\) = "([^"]*)", "([^"]*)"$', out.strip())
    check(m is not None, "the main window has no WM_CLASS: %r" % out.strip())
    wanted = desktop_key(entry, "StartupWMClass")
    check(m.group(2) == wanted, "WM_CLASS %r, %r; the desktop entry's StartupWMClass is %r" %
          (m.group(1), m.group(2), wanted))
    check(m.group(1) != "", "WM_CLASS has an empty instance name")


# ---------------------------------------------------------------------------
# Cases


def case_first_start(s, a):
    """First start in an empty directory: caption, green lamps, and the
    default settings file byte for byte after Ctrl+Q."""
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    program = s.program_dir(a.program)
    s.start_program(program)
    w = wait_discovered(s, a.version)
    shot = s.shot("discovered")
    check(w["name"] == "KM808_viza - " + a.version, "caption %r" % w["name"])
    for name, (x, y) in (("crate", CRATE_LAMP), ("module", MODULE_LAMP)):
        colour = lamp_colour(shot.mean(w["x"] + x, w["y"] + y))
        check(colour == "green", "%s lamp is %s" % (name, colour))
    close_with_ctrl_q(s, w)
    with open(os.path.join(os.path.dirname(program), "Km808_Viza.ini"), "rb") as f:
        written = f.read()
    with open(a.default_settings, "rb") as f:
        expected = f.read()
    check(written == expected, "the settings file differs from the default file (%d vs %d bytes)" %
          (len(written), len(expected)))


def case_desktop_entry(s, a):
    """The window carries the class its desktop entry names."""
    check(a.desktop_entry, "--desktop-entry is needed for this case")
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    s.start_program(s.program_dir(a.program))
    w = wait_discovered(s, a.version)
    check_window_class(s, w, a.desktop_entry)
    close_with_ctrl_q(s, w)


def case_measurement(s, a):
    """Start by clicking, the module set up as the settings say, blocks at
    the expected period, values on screen, Escape stops."""
    with open(a.default_settings, "rb") as f:
        settings = settings_with(f.read(), MEASUREMENT_SETTINGS)
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    s.start_program(s.program_dir(a.program, settings))
    w = wait_discovered(s, a.version)
    before = s.shot("before-start")
    check(start_button_look(before, w) == "idle", "start button before the start: %s" % start_button_look(before, w))

    s.click(w, *START_BUTTON_CENTRE)
    wait_start_count(s, 5, 30)
    running = s.shot("running")
    check(start_button_look(running, w) == "running", "start button while measuring: %s" %
          start_button_look(running, w))

    log = s.log()
    setadc = [l for l in log if l.name == "SetADC"]
    check(len(setadc) == 1, "%d SetADC requests" % len(setadc))
    check(setadc[0].details == MEASUREMENT_SETADC, "SetADC %r, expected %r" % (setadc[0].details,
                                                                               MEASUREMENT_SETADC))
    check(any(l.name == "Calibrate" and l.status == 0 for l in log), "no Calibrate request")
    starts = [l.time for l in log if l.name == "Start"]
    periods = [b - a_ for a_, b in zip(starts, starts[1:])]
    # A block lasts 1 s of module time; the program adds a 100 ms pause and
    # its own work between blocks.
    check(min(periods) >= MEASUREMENT_BLOCK_SECONDS * 0.98, "Start period %s below the block time" % periods)
    check(statistics.median(periods) <= MEASUREMENT_BLOCK_SECONDS + 0.6, "Start periods %s" % periods)
    for start, recvs in blocks(log)[:-1]:
        got = [recv_words(r) for r in recvs]
        check(all(r.status == 0 for r in recvs) and all(n == m for n, m in got),
              "block at %.3f: short or failed receives %s" % (start.time, got))

    for ch in range(16):
        box = value_box(ch)
        changed = running.region(w["x"] + box[0], w["y"] + box[1], w["x"] + box[2], w["y"] + box[3]) != \
            before.region(w["x"] + box[0], w["y"] + box[1], w["x"] + box[2], w["y"] + box[3])
        check(changed == (ch in MEASUREMENT_CHANNELS), "value box of channel %d %s" %
              (ch + 1, "changed" if changed else "did not change"))
    lit = [ch for ch in range(16)
           if lamp_colour(running.mean(w["x"] + update_lamp(ch)[0], w["y"] + update_lamp(ch)[1])) == "green"]
    # The lamps blink off for 100 ms per block; the screenshot may catch that.
    check(set(lit) <= set(MEASUREMENT_CHANNELS), "update lamps lit on channels %s" % lit)

    s.key(w, "Escape")
    time.sleep(1.5)
    count = len([l for l in s.log() if l.name == "Start"])
    time.sleep(3)
    after = s.log()
    check(len([l for l in after if l.name == "Start"]) == count, "Start requests after Escape")
    last_start = max(i for i, l in enumerate(after) if l.name == "Start")
    check(any(l.name == "Stop" for l in after[last_start:]), "the module was not stopped after Escape")
    stopped = s.shot("after-escape")
    check(start_button_look(stopped, w) == "idle", "start button after Escape: %s" % start_button_look(stopped, w))
    close_with_ctrl_q(s, w)


def case_emulator_killed(s, a):
    """The crate server dies during a measurement: one worker message, the
    window stays responsive and closes cleanly."""
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    s.start_program(s.program_dir(a.program))
    w = wait_discovered(s, a.version)
    s.click(w, *START_BUTTON_CENTRE)
    wait_start_count(s, 2, 30)
    s.kill_emulator()
    seen = set()
    end = time.monotonic() + 6
    while time.monotonic() < end:
        dialogs = s.windows_captioned(MAIN_DIALOG)
        check(len(dialogs) <= 1, "%d worker messages at once" % len(dialogs))
        seen.update(d["id"] for d in dialogs)
        time.sleep(0.3)
    s.shot("message")
    check(len(seen) == 1, "%d worker message windows" % len(seen))
    dismiss(s, MAIN_DIALOG)
    time.sleep(2)
    check(not s.windows_captioned(MAIN_DIALOG), "a second worker message")
    after = s.shot("after-message")
    check(start_button_look(after, w) == "idle", "start button after the message: %s" % start_button_look(after, w))
    check(s.program.poll() is None, "the program ended")
    close_with_ctrl_q(s, w)


def case_small_screen(s, a):
    """A 1280 x 767 screen: the refusal message box and no main window."""
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    s.start_program(s.program_dir(a.program))
    box = wait_for("the refusal message box", lambda: s.windows_captioned(SCREEN_ERROR), 20)[0]
    s.shot("refusal")
    check(s.main_window() is None, "a main window exists")
    check(len(s.windows()) == 1, "windows besides the message box: %s" % s.windows())
    s.key(box, "Return")
    code = s.wait_exit(15)
    check(code == 0, "exit code %d" % code)
    check(not s.log(), "the program talked to the crate server")


def unprivileged_uid():
    """Root writes anywhere, so a read-only directory needs another user."""
    return 65534 if os.geteuid() == 0 else None


def case_readonly_dir_save(s, a):
    """A read-only program directory with a settings file: the save shows
    its message box, the file stays intact and the program goes on."""
    with open(a.default_settings, "rb") as f:
        settings = f.read()
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    program = s.program_dir(a.program, settings)
    folder = os.path.dirname(program)
    os.chmod(os.path.join(folder, "Km808_Viza.ini"), 0o444)
    os.chmod(folder, 0o555)
    s.start_program(program, uid=unprivileged_uid())
    w = wait_discovered(s, a.version)
    s.key(w, "ctrl+s")
    wait_for("the save error", lambda: s.windows_captioned(SAVE_ERROR), 10)
    s.shot("save-error")
    shown = 0
    while s.windows_captioned(SAVE_ERROR) and shown < 3:
        dismiss(s, SAVE_ERROR)
        shown += 1
        time.sleep(0.5)
    check(not s.windows_captioned(SAVE_ERROR), "the save error keeps coming back")
    with open(os.path.join(folder, "Km808_Viza.ini"), "rb") as f:
        check(f.read() == settings, "the settings file changed")
    # The program goes on: a measurement still starts and stops.
    s.click(w, *START_BUTTON_CENTRE)
    wait_start_count(s, 2, 30)
    s.shot("measuring")
    s.key(w, "Escape")
    close_with_ctrl_q(s, w)


def case_readonly_dir_no_settings(s, a):
    """A read-only program directory without a settings file: the discovery
    worker reports that it cannot create it; the program still closes
    cleanly."""
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    program = s.program_dir(a.program)
    os.chmod(os.path.dirname(program), 0o555)
    s.start_program(program, uid=unprivileged_uid())
    dialog = wait_for("the discovery worker's message", lambda: s.windows_captioned(DISCOVERY_DIALOG), 30)
    check(len(dialog) == 1, "%d discovery messages" % len(dialog))
    s.shot("message")
    dismiss(s, DISCOVERY_DIALOG)
    time.sleep(1)
    check(not s.windows_captioned(DISCOVERY_DIALOG), "a second discovery message")
    after = s.shot("after-message")
    check(not os.path.exists(os.path.join(os.path.dirname(program), "Km808_Viza.ini")), "a settings file appeared")
    # The run ended before any device state was shown: designed caption,
    # neutral lamps.
    w = wait_for("the main window", s.main_window, 10)
    check(w["name"].startswith("KM808") and "viza" not in w["name"], "caption %r" % w["name"])
    for name, (x, y) in (("crate", CRATE_LAMP), ("module", MODULE_LAMP)):
        colour = lamp_colour(after.mean(w["x"] + x, w["y"] + y))
        check(colour == "neutral", "%s lamp is %s" % (name, colour))
    close_with_ctrl_q(s, w)


# Each failure the emulator injects into one module, and what the run must
# show: (row, slot of faults.json, the request that fails in the log).
def failed(name):
    return lambda l: l.name == name and l.status != 0


MODULE_FAULTS = [
    ("setadc", 3, failed("SetADC")),
    ("calibrate", 4, failed("Calibrate")),
    ("start", 5, failed("Start")),
    ("stop", 6, failed("Stop")),
    # The stream pauses beyond the 5000 ms receive time-out: a short receive.
    ("stall", 7, lambda l: l.name == "Recv" and recv_words(l)[0] < recv_words(l)[1]),
    ("drop", 8, failed("Recv")),  # the data link drops
    ("corrupt", 9, None),  # the module library refuses the block; no request fails
]
# Modules that fail to open or to answer are left out of the listing; the
# crate's first usable module (slot 3) is measured instead.
UNUSABLE_SLOTS = [("open", 1), ("getconfig", 2)]


def select_module(default, crate, slot):
    return settings_with(default, {"Серийный номер QIRA крейта": crate, "Слот модуля": str(slot)})


def run_to_worker_message(s, a, settings, row):
    """Starts a measurement that must end in exactly one worker message;
    afterwards the button is idle, no block starts and the program closes
    cleanly. Returns the log lines of this run."""
    mark = len(s.log())
    s.start_program(s.program_dir(a.program, settings))
    w = wait_discovered(s, a.version)
    s.click(w, *START_BUTTON_CENTRE)
    wait_for("the worker message", lambda: s.windows_captioned(MAIN_DIALOG), 20)
    time.sleep(1)
    check(len(s.windows_captioned(MAIN_DIALOG)) == 1, "%s: more than one worker message" % row)
    s.shot(row + "-message")
    dismiss(s, MAIN_DIALOG)
    time.sleep(1.5)
    check(not s.windows_captioned(MAIN_DIALOG), "%s: a second worker message" % row)
    starts = len([l for l in s.log()[mark:] if l.name == "Start"])
    time.sleep(2)
    check(len([l for l in s.log()[mark:] if l.name == "Start"]) == starts, "%s: blocks go on" % row)
    after = s.shot(row + "-after")
    check(start_button_look(after, w) == "idle", "%s: start button %s" % (row, start_button_look(after, w)))
    for name, (x, y) in (("crate", CRATE_LAMP), ("module", MODULE_LAMP)):
        colour = lamp_colour(after.mean(w["x"] + x, w["y"] + y))
        check(colour == "green", "%s: %s lamp is %s" % (row, name, colour))
    close_with_ctrl_q(s, w)
    return s.log()[mark:]


def case_fault_matrix(s, a):
    """Every failure the emulator can inject, one program run each."""
    with open(a.default_settings, "rb") as f:
        default = f.read()
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "faults.json"))
    for row, slot, request in MODULE_FAULTS:
        log = run_to_worker_message(s, a, select_module(default, "QF000001", slot), row)
        measured = {l.slot for l in log if l.name == "SetADC"}
        check(measured == {slot}, "%s: measured slots %s" % (row, measured))
        if request:
            check(any(request(l) for l in log if l.slot == slot), "%s: no failed request" % row)
        else:
            check(all(l.status == 0 for l in log if l.slot == slot), "%s: a request failed" % row)
    for row, slot in UNUSABLE_SLOTS:
        log = run_to_worker_message(s, a, select_module(default, "QF000001", slot), row)
        check(any(l.name == "Open" and l.slot == slot and l.status != 0 for l in log) or
              any(l.name == "GetConfig" and l.slot == slot and l.status != 0 for l in log),
              "%s: slot %d did not fail" % (row, slot))
        measured = {l.slot for l in log if l.name == "SetADC"}
        check(measured == {3}, "%s: measured slots %s" % (row, measured))

    # A crate whose slot types cannot be read ends the detection without a
    # message: both lamps red, no module open.
    s.kill_emulator()
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "crate-fault.json"))
    s.start_program(s.program_dir(a.program))
    w = wait_for("the caption with the version",
                 lambda: (s.main_window() or {}).get("name") == "KM808_viza - " + a.version and s.main_window(), 30)
    time.sleep(1)
    shot = s.shot("crate-modules")
    check(len(s.windows()) == 1, "crate-modules: windows %s" % s.windows())
    for name, (x, y) in (("crate", CRATE_LAMP), ("module", MODULE_LAMP)):
        colour = lamp_colour(shot.mean(w["x"] + x, w["y"] + y))
        check(colour == "red", "crate-modules: %s lamp is %s" % (name, colour))
    close_with_ctrl_q(s, w)

    # No crate server at all: the discovery worker's message, then a clean
    # close.
    s.kill_emulator()
    s.start_program(s.program_dir(a.program))
    wait_for("the discovery message", lambda: s.windows_captioned(DISCOVERY_DIALOG), 30)
    time.sleep(1)
    check(len(s.windows_captioned(DISCOVERY_DIALOG)) == 1, "no-server: more than one message")
    s.shot("no-server")
    dismiss(s, DISCOVERY_DIALOG)
    time.sleep(1)
    check(not s.windows_captioned(DISCOVERY_DIALOG), "no-server: a second message")
    w = s.main_window()
    shot = s.shot("no-server-after")
    for name, (x, y) in (("crate", CRATE_LAMP), ("module", MODULE_LAMP)):
        colour = lamp_colour(shot.mean(w["x"] + x, w["y"] + y))
        check(colour == "red", "no-server: %s lamp is %s" % (name, colour))
    close_with_ctrl_q(s, w)


def case_slow_server(s, a):
    """A module whose receive replies trickle at 20 bytes/s (a 400-word
    receive would take 80 s): Escape stops the measurement, and Ctrl+Q closes
    the program, each within one receive call's time-out (5 s + 1 s) and a
    generous margin."""
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "slow-module.json"))
    s.start_program(s.program_dir(a.program))
    w = wait_discovered(s, a.version)
    s.click(w, *START_BUTTON_CENTRE)
    wait_for("a receive request", lambda: any(l.name == "Recv" for l in s.log()), 30)
    time.sleep(0.5)
    s.shot("receiving")
    s.key(w, "Escape")
    t = time.monotonic()

    answered = []

    def idle():
        # The receive that the stop waited for ends in its worker message;
        # the stop has come through once it shows (or the button is idle).
        for d in s.windows_captioned(MAIN_DIALOG):
            answered.append(time.monotonic())
            s.key(d, "Return")
        shot = s.shot("poll")
        os.remove(shot.path)
        s.shots -= 1
        if start_button_look(shot, w) != "idle":
            return False
        answered.append(time.monotonic())
        return True

    wait_for("the idle start button after Escape", idle, 60, 0.3)
    stopped = answered[0] - t
    s.note("stop came through %.1f s after Escape" % stopped)
    # Old libraries: a receive trickled like this lasted 80 s.
    check(stopped < 15, "the stop took %.1f s" % stopped)
    time.sleep(1)
    for d in s.windows_captioned(MAIN_DIALOG):
        dismiss(s, MAIN_DIALOG)
    # The late receive gave up the module's link; the program closes at once.
    close_with_ctrl_q(s, w)

    count = len([l for l in s.log() if l.name == "Recv"])
    s.start_program(s.program_dir(a.program))
    w = wait_discovered(s, a.version)
    s.click(w, *START_BUTTON_CENTRE)
    wait_for("a second receive request", lambda: len([l for l in s.log() if l.name == "Recv"]) > count, 30)
    time.sleep(0.5)
    s.key(w, "ctrl+q")
    t = time.monotonic()
    code = None
    end = t + 30
    while code is None and time.monotonic() < end:
        for d in s.windows_captioned(MAIN_DIALOG):
            s.key(d, "Return")
        if s.program.poll() is not None:
            code = s.program.returncode
        time.sleep(0.3)
    closed = time.monotonic() - t
    s.note("closed %.1f s after Ctrl+Q" % closed)
    check(code == 0, "the program ended with %s" % code)
    check(closed < 15, "the close took %.1f s" % closed)


CASES = {
    "first_start": (case_first_start, "1920x1080"),
    "measurement": (case_measurement, "1920x1080"),
    "desktop_entry": (case_desktop_entry, "1920x1080"),
    "emulator_killed": (case_emulator_killed, "1920x1080"),
    "small_screen": (case_small_screen, "1280x767"),
    "readonly_dir_save": (case_readonly_dir_save, "1920x1080"),
    "readonly_dir_no_settings": (case_readonly_dir_no_settings, "1920x1080"),
    "fault_matrix": (case_fault_matrix, "1920x1080"),
    "slow_server": (case_slow_server, "1920x1080"),
    "readings": (lambda s, a: cases_readings.case_readings(s, a, sys.modules[__name__]), "1920x1080"),
}

import cases_settings  # noqa: E402
CASES.update(cases_settings.cases(sys.modules[__name__]))


from cases_operator import CASES as OPERATOR_CASES  # noqa: E402
import cases_trend  # noqa: E402

CASES.update(OPERATOR_CASES)
CASES["trend"] = (lambda s, a: cases_trend.case_trend(s, a, sys.modules[__name__]), "1920x1080")
CASES["trend_schedule"] = (lambda s, a: cases_trend.case_trend_schedule(s, a, sys.modules[__name__]), "1920x1080")
CASES["trend_full_disk"] = (lambda s, a: cases_trend.case_trend_full_disk(s, a, sys.modules[__name__]), "1920x1080")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("case", choices=sorted(CASES))
    p.add_argument("--program", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--fixtures", required=True)
    p.add_argument("--default-settings", required=True)
    p.add_argument("--version", required=True)
    p.add_argument("--artifacts", required=True)
    p.add_argument("--desktop-entry", help="the built desktop entry (KM808_APP_ID.desktop)")
    a = p.parse_args()
    # A time-out's SIGTERM must still run the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    run, screen = CASES[a.case]
    return run_case(Session(a.artifacts, screen), run, a, a.case)


if __name__ == "__main__":
    sys.exit(main())
