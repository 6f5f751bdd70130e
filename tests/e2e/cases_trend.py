"""End-to-end case of the trend window: opened with Ctrl+T while measuring,
its traces in their colours, wheel zoom and drag pan, a stop and a new start
kept apart by a gap, the visible range exported through the file dialog,
recording started with the mouse and the program killed."""

import csv
import glob
import os
import signal
import time

from e2e_session import check, wait_for

CAPTION = "Тренд"
# The trend window's layout, from its top left corner at its first size
# (read off the screenshots of a 1920 x 1080 screen).
PLOT = (86, 80, 979, 560)  # x0, y0, x1, y1
EXPORT_BUTTON = (1131, 22)
RECORD_FILE_BUTTON = (182, 54)
RECORD_BUTTON = (450, 54)
# Placed below the main window's top group, so that its start button stays free.
TREND_AT = (0, 280)
CH1 = (0, 0, 255)
CH2 = (220, 0, 0)
OVER = (255, 0, 0)


def case_trend(s, a, t):
    with open(a.default_settings, "rb") as f:
        settings = t.settings_with(f.read(), {
            "АЦП. Групповое управление каналами": "0",
            "АЦП. Управление каналом 1": "1",
            "АЦП. Управление каналом 2": "1",
            **{"АЦП. Управление каналом %d" % n: "0" for n in range(3, 17)},
            "АЦП. Групповое управление входным диапазоном для измерения U": "-1",
            "АЦП. Управление входным диапазоном U канала 1": "0",
            "АЦП. Управление входным диапазоном U канала 2": "0",
            "АЦП. Индекс частоты работы АЦП": "4",
        })
    # Channel 1 at 12.5 V on the 10 V range (over range), channel 2 at 1.25 V.
    s.start_emulator(a.emulator, a.fixtures + "/readings.json")
    program = s.program_dir(a.program, settings)
    s.start_program(program)
    w = t.wait_discovered(s, a.version)
    s.click(w, *t.START_BUTTON_CENTRE)
    t.wait_start_count(s, 3, 30)

    # Ctrl+T while measuring.
    s.key(w, "ctrl+t")
    tw = wait_for("the trend window", lambda: s.windows_captioned(CAPTION), 10)[0]
    s._x("xdotool", "windowmove", "--sync", tw["id"], str(TREND_AT[0]), str(TREND_AT[1]))
    tw = wait_for("the trend window moved",
                  lambda: [x for x in s.windows_captioned(CAPTION) if (x["x"], x["y"]) == TREND_AT], 10)[0]
    box = (tw["x"] + PLOT[0], tw["y"] + PLOT[1], tw["x"] + PLOT[2], tw["y"] + PLOT[3])

    def columns(shot, rgb):
        """x of the plot's pixel columns holding that colour."""
        return sorted({x for y in range(box[1], box[3]) for x in range(box[0], box[2]) if shot.pixel(x, y) == rgb})

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
