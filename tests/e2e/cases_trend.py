"""End-to-end case of the trend window: opened with Ctrl+T while measuring,
its traces in their colours, wheel zoom and drag pan, a stop and a new start
kept apart by a gap, the visible range exported through the file dialog,
recording started with the mouse and the program killed; the statistics
table and a one-block spike against the emulator's scheduled changes; a
disk that fills while recording."""

import csv
import glob
import json
import math
import os
import signal
import subprocess
import time

from e2e_session import check, wait_for

CAPTION = "Тренд"
# The trend window's layout, from its top left corner at its first size
# (read off the screenshots of a 1920 x 1080 screen).
PLOT = (86, 80, 979, 560)  # x0, y0, x1, y1
EXPORT_BUTTON = (1131, 22)
ALL_BUTTON = (143, 22)
# The statistics table: the first cell of its first row, and the row pitch.
TABLE_CELL = (70, 645)
TABLE_ROW = 30
TABLE_COLUMNS = ("channel", "range", "n", "mean", "sd", "min", "max", "pp", "last", "over")
RECORD_FORMAT = (103, 54)
RECORD_FILE_BUTTON = (182, 54)
RECORD_BUTTON = (450, 54)
# Placed below the main window's top group, so that its start button stays free.
TREND_AT = (0, 280)
CH1 = (0, 0, 255)
CH2 = (220, 0, 0)
OVER = (255, 0, 0)


def start_measuring(s, a, t, config, channels=2):
    """The program measuring the first channels (1 and 2 on the 10 V range)
    against an emulator with that set-up; returns the main window."""
    with open(a.default_settings, "rb") as f:
        settings = t.settings_with(f.read(), {
            "АЦП. Групповое управление каналами": "0",
            **{"АЦП. Управление каналом %d" % n: "1" if n <= channels else "0" for n in range(1, 17)},
            "АЦП. Групповое управление входным диапазоном для измерения U": "-1",
            "АЦП. Управление входным диапазоном U канала 1": "0",
            "АЦП. Управление входным диапазоном U канала 2": "0",
            "АЦП. Индекс частоты работы АЦП": "4",
        })
    s.start_emulator(a.emulator, a.fixtures + "/" + config)
    program = s.program_dir(a.program, settings)
    s.start_program(program)
    w = t.wait_discovered(s, a.version)
    s.click(w, *t.START_BUTTON_CENTRE)
    t.wait_start_count(s, 3, 30)
    return program, w


def open_trend(s, w):
    """Ctrl+T in the main window; the trend window, moved to TREND_AT."""
    s.key(w, "ctrl+t")
    tw = wait_for("the trend window", lambda: s.windows_captioned(CAPTION), 10)[0]
    s._x("xdotool", "windowmove", "--sync", tw["id"], str(TREND_AT[0]), str(TREND_AT[1]))
    return wait_for("the trend window moved",
                    lambda: [x for x in s.windows_captioned(CAPTION) if (x["x"], x["y"]) == TREND_AT], 10)[0]


def plot_box(tw):
    return (tw["x"] + PLOT[0], tw["y"] + PLOT[1], tw["x"] + PLOT[2], tw["y"] + PLOT[3])


def colour_columns(shot, box, rgb):
    """{x: [y, ...]} of the plot's pixels of that colour."""
    found = {}
    for y in range(box[1], box[3]):
        for x in range(box[0], box[2]):
            if shot.pixel(x, y) == rgb:
                found.setdefault(x, []).append(y)
    return found


def case_trend(s, a, t):
    # Channel 1 at 12.5 V on the 10 V range (over range), channel 2 at 1.25 V.
    program, w = start_measuring(s, a, t, "readings.json")

    # Ctrl+T while measuring.
    tw = open_trend(s, w)
    box = plot_box(tw)

    def columns(shot, rgb):
        """x of the plot's pixel columns holding that colour."""
        return sorted(colour_columns(shot, box, rgb))

    def pointer(x, y):
        return [str(tw["x"] + x), str(tw["y"] + y)]

    # Stop, a pause, a new start: two runs with a gap between them.
    t.wait_start_count(s, 6, 30)
    s.key(w, "Escape")
    time.sleep(4)
    s.click(w, *t.START_BUTTON_CENTRE)
    count = len([l for l in s.log() if l.name == "Start"])
    t.wait_start_count(s, count + 4, 30)

    shot = s.shot("trend-live")
    ch2 = columns(shot, CH2)
    check(len(ch2) > 20, "channel 2's trace in its colour: %d columns" % len(ch2))
    check(columns(shot, CH1) or columns(shot, OVER), "channel 1's trace or its over-range marks")
    check(len(columns(shot, OVER)) > 0, "no over-range mark for channel 1")
    gaps = [b - a_ for a_, b in zip(ch2, ch2[1:])]
    check(max(gaps) >= 20, "no gap between the two runs in channel 2's trace (widest %d px)" % max(gaps))
    live_width = ch2[-1] - ch2[0]

    # Wheel down over the plot: zoomed out, the same blocks take fewer pixels.
    s._x("xdotool", "mousemove", *pointer(500, 300))
    for _ in range(3):
        s._x("xdotool", "click", "5")
    time.sleep(0.5)
    shot = s.shot("trend-zoomed-out")
    ch2 = columns(shot, CH2)
    check(ch2[-1] - ch2[0] < live_width * 0.75, "wheel zoom: trace %d px wide, was %d" % (ch2[-1] - ch2[0], live_width))
    right = ch2[-1]

    # Drag to the left: the trace follows the pointer and live mode ends.
    s._x("xdotool", "mousemove", *pointer(700, 300), "mousedown", "1")
    for x in range(680, 380, -20):
        s._x("xdotool", "mousemove", *pointer(x, 300))
    s._x("xdotool", "mouseup", "1")
    time.sleep(0.5)
    shot = s.shot("trend-panned")
    ch2 = columns(shot, CH2)
    check(200 < right - ch2[-1] < 400, "drag pan: trace's right end at %d, was %d" % (ch2[-1], right))

    # End: back to live (the newest block near the right edge again).
    s.key(tw, "End")
    time.sleep(0.5)
    ch2 = columns(s.shot("trend-live-again"), CH2)
    check(ch2[-1] > box[2] - 60, "End: back to live, trace ends at %d of %d" % (ch2[-1], box[2]))

    # The visible range through the export button and the file dialog.
    path = os.path.join(s.tmp, "visible.csv")
    s.click(tw, *EXPORT_BUTTON)
    dialog = wait_for("the export dialog", lambda: s.windows_captioned("Экспорт видимого диапазона"), 10)[0]
    time.sleep(0.5)
    s._x("xdotool", "type", "--delay", "20", path)
    s.key(dialog, "Return")
    wait_for("the exported file", lambda: os.path.exists(path), 10)
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    check(len(rows) >= 8, "%d exported blocks" % len(rows))
    check({r["run"] for r in rows} == {"1", "2"}, "runs in the export: %s" % sorted({r["run"] for r in rows}))
    values = [float(r["ch2"]) for r in rows]
    check(all(abs(v - 1250.0) < 5.0 for v in values), "channel 2 against the emulator's 1.25 V: %s" % values)
    check(all(r["ch1_over"] == "1" and r["ch1_unit"] == "mV" for r in rows), "channel 1 not over range")
    # The trend's own layout, kept beside the settings file, never in it.
    layout = os.path.join(os.path.dirname(program), "Km808_Viza_Trend.ini")
    check(os.path.exists(layout), "no trend layout file beside the settings file")
    with open(os.path.join(os.path.dirname(program), "Km808_Viza.ini"), "rb") as f:
        check(b"Trend" not in f.read(), "the trend's layout in the settings file")

    # Recording started with the mouse, then the program killed: whole lines
    # only, one per block shown since the start (the last may be missing).
    base = os.path.join(s.tmp, "rec.csv")
    s.click(tw, *RECORD_FILE_BUTTON)
    dialog = wait_for("the record file dialog", lambda: s.windows_captioned("Файл записи"), 10)[0]
    time.sleep(0.5)
    s._x("xdotool", "type", "--delay", "20", base)
    s.key(dialog, "Return")
    wait_for("the record file dialog to close", lambda: not s.windows_captioned("Файл записи"), 10)
    before = len([l for l in s.log() if l.name == "Start"])
    s.click(tw, *RECORD_BUTTON)
    t.wait_start_count(s, before + 4, 30)
    s.shot("recording")
    os.killpg(s.program.pid, signal.SIGKILL)
    s.program.wait(10)
    shown = len([l for l in s.log() if l.name == "Start"]) - before
    files = glob.glob(os.path.join(s.tmp, "rec-*.csv"))
    check(len(files) == 1, "recorded files: %s" % files)
    with open(files[0], "rb") as f:
        data = f.read()
    check(data.endswith(b"\n"), "the record ends inside a line")
    lines = data.decode().splitlines()
    check(all(line.count(",") == lines[0].count(",") for line in lines), "a line with missing fields")
    check(shown - 2 <= len(lines) - 1 <= shown, "%d lines for %d blocks started" % (len(lines) - 1, shown))
    check(os.path.exists(files[0] + ".json"), "no origin file beside the record")


def spike_seen(found, what):
    """The trace of a level with a one-block spike in the autoscaled strip:
    nearly every column squeezed into a thin band at the level, and a column
    reaching far above it."""
    check(found, "%s: no trace" % what)
    lows = sorted(max(ys) for ys in found.values())
    level = lows[len(lows) // 2]
    flat = [x for x, ys in found.items() if level - min(ys) <= 6]
    check(len(flat) >= 0.7 * len(found) - 2, "%s: the level is not flat (%d of %d columns)" % (what, len(flat), len(found)))
    top = min(min(ys) for ys in found.values())
    check(level - top >= 80, "%s: no spike above the level (%d px)" % (what, level - top))


def read_statistics(s, tw, rows):
    """The statistics table's first rows through the clipboard (the table
    copies its current cell with Ctrl+C), as dicts of TABLE_COLUMNS."""
    table = []
    for r in range(rows):
        s.click(tw, TABLE_CELL[0], TABLE_CELL[1] + r * TABLE_ROW)
        row = {}
        for name in TABLE_COLUMNS:
            s.key(tw, "ctrl+c")
            time.sleep(0.1)
            row[name] = s._x("xsel", "--clipboard", "--output").strip()
            s.key(tw, "Right")
        s.note("statistics row %d: %s" % (r, row))
        table.append(row)
    return table


def case_trend_schedule(s, a, t):
    """Channel 1 steps from 1 V to 3 V at 12 s of module time, channel 2 sits
    at 1.25 V with one block of 9 V at 16 s (fixtures/trend-schedule.json)."""
    _, w = start_measuring(s, a, t, "trend-schedule.json")
    tw = open_trend(s, w)
    box = plot_box(tw)

    log = s.log()
    first_start = next(l for l in log if l.name == "Start")
    opened = [l.time for l in log if l.name == "Open" and l.slot == 3 and l.time < first_start.time][-1]
    check(first_start.time - opened < 11, "the first block began %.1f s after the module was opened, after the "
          "scheduled step" % (first_start.time - opened))
    wait_for("blocks until 21 s of module time",
             lambda: [l for l in s.log() if l.name == "Start" and l.time - opened > 21], 60)
    s.key(w, "Escape")
    time.sleep(3)
    starts = len([l for l in s.log() if l.name == "Start"])

    # The whole run, then zoomed out far beyond it: the spike stays.
    s.click(tw, *ALL_BUTTON)
    time.sleep(0.5)
    found = colour_columns(s.shot("trend-whole-run"), box, CH2)
    check(min(found) < box[0] + 60 and max(found) > box[2] - 60, "the whole run: from x %d to %d" % (min(found), max(found)))
    spike_seen(found, "the whole run")
    s._x("xdotool", "mousemove", str(tw["x"] + 500), str(tw["y"] + 300))
    for _ in range(20):
        s._x("xdotool", "click", "5")
    time.sleep(0.5)
    found = colour_columns(s.shot("trend-zoomed-far-out"), box, CH2)
    check(len(found) < 40, "zoomed out: the run still %d px wide" % len(found))
    spike_seen(found, "zoomed out")

    # Statistics of the visible range and of the run against the injected values.
    time.sleep(0.5)
    table = read_statistics(s, tw, 4)

    def number(row, name):
        try:
            return float(row[name].replace(",", "."))
        except ValueError:
            check(False, "%s: %r is no number" % (name, row[name]))

    def near(row, name, expected, tolerance):
        v = number(row, name)
        check(abs(v - expected) <= tolerance, "%s %s: %s, expected %.3f ± %.3f" % (row["channel"], name, v,
                                                                                  expected, tolerance))

    check([r["channel"] for r in table] == ["1, мВ"] * 2 + ["2, мВ"] * 2, "table rows: %s" %
          [r["channel"] for r in table])
    n = int(table[0]["n"])
    check(starts - 1 <= n <= starts, "N %d for %d blocks started" % (n, starts))
    for row in table:
        check(int(row["n"]) == n and int(row["over"]) == 0, "N or over-range count: %s" % row)
    for row in table[:2]:
        near(row, "min", 1000.0, 5.0)
        near(row, "max", 3000.0, 8.0)
        near(row, "pp", 2000.0, 10.0)
        near(row, "last", 3000.0, 8.0)
        check(1000.0 < number(row, "mean") < 3000.0, "channel 1's mean: %s" % row)
    for row in table[2:]:
        near(row, "min", 1250.0, 5.0)
        near(row, "max", 9000.0, 20.0)
        near(row, "pp", 7750.0, 20.0)
        near(row, "last", 1250.0, 5.0)
        near(row, "mean", (9000.0 + 1250.0 * (n - 1)) / n, 5.0)
        near(row, "sd", 7750.0 / math.sqrt(n), 0.01 * 7750.0 / math.sqrt(n) + 2.0)


def case_trend_full_disk(s, a, t):
    """Recording 16 channels as jsonl onto a 16 KiB tmpfs holding a 8 KiB
    file: the record's first page fills after a dozen blocks."""
    if os.geteuid() != 0:
        print("SKIPPED trend_full_disk: mounting the small tmpfs needs root")
        s.note("skipped: not root")
        return
    disk = os.path.join(s.tmp, "disk")
    os.mkdir(disk)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16k,mode=0777", "tmpfs", disk], check=True, timeout=20)
    try:
        with open(os.path.join(disk, "filler"), "wb") as f:
            f.write(b"\0" * 8192)
        _, w = start_measuring(s, a, t, "readings.json", channels=16)
        tw = open_trend(s, w)
        s.click(tw, *RECORD_FORMAT)
        time.sleep(0.5)
        s.key(tw, "Down")
        s.key(tw, "Return")
        s.click(tw, *RECORD_FILE_BUTTON)
        dialog = wait_for("the record file dialog", lambda: s.windows_captioned("Файл записи"), 10)[0]
        time.sleep(0.5)
        s._x("xdotool", "type", "--delay", "20", os.path.join(disk, "rec.jsonl"))
        s.key(dialog, "Return")
        wait_for("the record file dialog to close", lambda: not s.windows_captioned("Файл записи"), 10)
        s.click(tw, *RECORD_BUTTON)
        wait_for("the write error", lambda: s.windows_captioned("Ошибка записи!!!"), 90)
        failed_at = len([l for l in s.log() if l.name == "Start"])
        t.wait_start_count(s, failed_at + 4, 30)
        s.shot("disk-full")
        check(len(s.windows_captioned("Ошибка записи!!!")) == 1, "the write error shown more than once")
        check(s.program.poll() is None, "the program ended")
        files = glob.glob(os.path.join(disk, "rec-*.jsonl"))
        check(len(files) == 1, "recorded files: %s" % files)
        with open(files[0], "rb") as f:
            data = f.read()
        check(data.endswith(b"\n"), "the record ends inside a line")
        lines = [json.loads(line) for line in data.decode().splitlines()]
        check(len(lines) >= 5, "%d lines before the disk was full" % len(lines))
        check(all(len([k for k in line if k.startswith("ch")]) >= 16 for line in lines), "a line without 16 channels")
        # The message leaves the main window usable while it is up.
        t.close_with_ctrl_q(s, w)
    finally:
        if s.program and s.program.poll() is None:
            os.killpg(s.program.pid, signal.SIGKILL)
            s.program.wait(10)
        subprocess.run(["umount", disk], timeout=20)
