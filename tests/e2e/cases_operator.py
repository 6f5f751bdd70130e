"""End-to-end cases of an operator's own input: drop-down lists opened and
picked with the mouse, text typed into the editable field, Ctrl+Tab, a value
wider than its box, and the program's command line and caption."""

import json
import os
import subprocess
import time

from e2e_session import E2eFailure, check, wait_for

# Controls in window coordinates (the window is its client area; read off the
# screenshots of a 1920 x 1080 screen).
COMMON_RANGE = (296, 194)
COMMON_MODE = (392, 194)
ADC_RATE = (495, 194)
CORRECTION_TEXT = (801, 194)  # the editable field of "Режим работы"
CORRECTION_ARROW = (945, 194)
FIND_BUTTON = (83, 39)  # "Обнаружить"
CRATE_SELECTOR = (309, 27)
MODULE_SELECTOR = (309, 56)
FRAME_SELECTOR = (241, 298)  # channel 1; the frames lie 66 px apart
VALUE_BOX_1 = (375, 275, 537, 310)
MAIN_WINDOW_SIZE = (1139, 790)

KEY_RATE = "АЦП. Индекс частоты работы АЦП"
KEY_CORRECTION = "АЦП. Режим коррекции данных"
KEY_MODE = "АЦП. Групповое управление режимом измерения"
KEY_COMMON_U = "АЦП. Групповое управление входным диапазоном для измерения U"
KEY_COMMON_R = "АЦП. Групповое управление входным диапазоном для измерения R"


def key_u(ch):
    return "АЦП. Управление входным диапазоном U канала %d" % (ch + 1)


def key_r(ch):
    return "АЦП. Управление входным диапазоном R канала %d" % (ch + 1)


def read_settings(program):
    with open(os.path.join(os.path.dirname(program), "Km808_Viza.ini"), "rb") as f:
        lines = f.read().decode("cp1251").split("\r\n")
    return dict(line.split("=", 1) for line in lines if "=" in line)


def frame_selector(ch):
    col, row = divmod(ch, 8)
    return (FRAME_SELECTOR[0] + 475 * col, FRAME_SELECTOR[1] + 66 * row)


def pick(s, w, at, item, count, what):
    """Opens a drop-down list with a click and clicks its item; the list
    must open as a window of its own and close on the click."""
    before = {x["id"] for x in s.windows()}
    s.click(w, *at)

    def popup():
        new = [x for x in s.windows() if x["id"] not in before and x["height"] > 10]
        return new[0] if new else None

    try:
        p = wait_for("the list of %s to open" % what, popup, 5)
    except E2eFailure:
        s.shot("no-list-" + what)
        raise
    time.sleep(0.6)  # a release right after the opening is ignored by the list
    s.shot("list-" + what)
    x = p["x"] + p["width"] // 2
    y = p["y"] + (2 * item + 1) * p["height"] // (2 * count)
    s._x("xdotool", "mousemove", str(x), str(y), "click", "1")
    s.note("clicked item %d of %s" % (item, what))
    try:
        wait_for("the list of %s to close" % what, lambda: all(x["id"] != p["id"] for x in s.windows()), 5)
    except E2eFailure:
        s.shot("list-stays-" + what)
        raise E2eFailure("the list of %s ignored the click on item %d" % (what, item))


def save_and_read(s, w, program):
    path = os.path.join(os.path.dirname(program), "Km808_Viza.ini")
    mtime = os.stat(path).st_mtime_ns
    s.key(w, "ctrl+s")
    wait_for("the settings file to be written", lambda: os.stat(path).st_mtime_ns != mtime, 10)
    time.sleep(0.3)
    return read_settings(program)


def starts(s):
    return len([l for l in s.log() if l.name == "Start"])



def start_on_one_module(s, a):
    """The program with the default settings file against one module;
    returns its directory and its discovered window."""
    import e2e_tests as t
    with open(a.default_settings, "rb") as f:
        default = f.read()
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    program = s.program_dir(a.program, default)
    s.start_program(program)
    return program, t.wait_discovered(s, a.version)

def case_operator_dropdowns(s, a):
    """Every kind of drop-down list opened and picked with the mouse; the
    results in the settings file."""
    import e2e_tests as t
    program, w = start_on_one_module(s, a)

    # A frame's selector, after the frames were disabled and enabled again
    # by the detection.
    pick(s, w, frame_selector(0), 2, 3, "channel-1-range")
    got = save_and_read(s, w, program)
    check(got[key_u(0)] == "2", "channel 1 range %s" % got[key_u(0)])
    check(got[KEY_COMMON_U] == "-1", "common range %s after one channel changed" % got[KEY_COMMON_U])
    pick(s, w, frame_selector(12), 1, 3, "channel-13-range")
    check(save_and_read(s, w, program)[key_u(12)] == "1", "channel 13 range")

    pick(s, w, COMMON_RANGE, 1, 3, "common-range")
    got = save_and_read(s, w, program)
    check([got[key_u(ch)] for ch in range(16)] == ["1"] * 16 and got[KEY_COMMON_U] == "1",
          "after the common range: %s" % [got[key_u(ch)] for ch in range(16)])

    pick(s, w, ADC_RATE, 3, 7, "rate")
    check(save_and_read(s, w, program)[KEY_RATE] == "3", "rate index")

    pick(s, w, CORRECTION_ARROW, 1, 2, "correction")
    check(save_and_read(s, w, program)[KEY_CORRECTION] == "1", "correction mode")

    pick(s, w, COMMON_MODE, 1, 2, "mode")
    got = save_and_read(s, w, program)
    check(got[KEY_MODE] == "1", "mode %s" % got[KEY_MODE])
    pick(s, w, COMMON_RANGE, 2, 3, "common-resistance-range")
    pick(s, w, frame_selector(3), 0, 3, "channel-4-resistance-range")
    got = save_and_read(s, w, program)
    check(got[KEY_COMMON_R] == "-1" and got[key_r(3)] == "0" and
          [got[key_r(ch)] for ch in range(8) if ch != 3] == ["2"] * 7,
          "resistance ranges %s, common %s" % ([got[key_r(ch)] for ch in range(8)], got[KEY_COMMON_R]))
    pick(s, w, COMMON_MODE, 0, 2, "mode-back")

    # A new detection disables and enables every control again; it loads
    # the file saved last (resistance mode).
    s.click(w, *FIND_BUTTON)
    time.sleep(1)
    w = t.wait_discovered(s, a.version)
    pick(s, w, frame_selector(1), 1, 3, "channel-2-range-after-detection")
    pick(s, w, ADC_RATE, 5, 7, "rate-after-detection")
    got = save_and_read(s, w, program)
    check(got[KEY_MODE] == "1" and got[key_r(1)] == "1" and got[KEY_RATE] == "5",
          "after a new detection: mode %s, channel 2 range %s, rate %s" % (got[KEY_MODE], got[key_r(1)],
                                                                           got[KEY_RATE]))
    t.close_with_ctrl_q(s, w)


def case_operator_keys(s, a):
    """Text typed into the correction mode's field, Ctrl+Tab during a
    measurement: the results in the settings file, the emulator log and on
    screen."""
    import e2e_tests as t
    program, w = start_on_one_module(s, a)
    check(save_and_read(s, w, program)[KEY_CORRECTION] == "0", "correction mode at the start")

    # Typing: a text that is no mode leaves the field as it was; the first
    # letters of the other mode choose it.
    before = s.shot("field-before")
    s.click(w, *CORRECTION_TEXT)
    s._x("xdotool", "type", "--delay", "50", "qwerty")
    time.sleep(0.5)
    s._x("xdotool", "key", "Tab")  # the field without its caret
    time.sleep(0.3)
    after = s.shot("field-after-qwerty")
    x0, y0 = w["x"] + 700, w["y"] + 182
    region = (x0, y0, x0 + 230, y0 + 24)
    check(before.region(*region) == after.region(*region), "the field shows what was typed, not the mode")
    check(read_settings(program)[KEY_CORRECTION] == "0", "the file changed without a save")
    s.click(w, *CORRECTION_TEXT)
    s._x("xdotool", "key", "ctrl+a")
    s._x("xdotool", "type", "--delay", "50", "Пост")
    time.sleep(0.5)
    s.shot("field-typed-mode")
    check(save_and_read(s, w, program)[KEY_CORRECTION] == "1", "typing the other mode did not choose it")

    # Ctrl+Tab and Ctrl+Shift+Tab while measuring: the page stays, the
    # measurement goes on and stays in sight.
    s.click(w, *t.START_BUTTON_CENTRE)
    t.wait_start_count(s, 2, 30)
    s.click(w, *CORRECTION_TEXT)
    for keys in ("ctrl+Tab", "ctrl+shift+Tab", "ctrl+Tab", "ctrl+Tab"):
        s._x("xdotool", "key", keys)
        time.sleep(0.3)
    shot = s.shot("after-ctrl-tab")
    box = (w["x"] + VALUE_BOX_1[0] + 10, w["y"] + VALUE_BOX_1[1] + 5)
    check(max(shot.mean(*box)) < 60, "the channel frames are gone after Ctrl+Tab (value box %s)" %
          (shot.mean(*box),))
    check(t.start_button_look(shot, w) == "running", "start button %s" % t.start_button_look(shot, w))
    count = starts(s)
    wait_for("blocks after Ctrl+Tab", lambda: starts(s) > count, 10)

    # A change typed into the field stops the measurement; "qwerty" does not.
    s.click(w, *CORRECTION_TEXT)
    s._x("xdotool", "type", "--delay", "50", "qwerty")
    count = starts(s)
    wait_for("blocks after typing a text that is no mode", lambda: starts(s) > count, 10)
    s._x("xdotool", "key", "ctrl+a")
    s._x("xdotool", "type", "--delay", "50", "Нач")
    time.sleep(2)
    count = starts(s)
    time.sleep(3)
    check(starts(s) == count, "the measurement goes on after the correction mode changed")
    stopped = s.shot("after-mode-typed")
    check(t.start_button_look(stopped, w) == "idle", "start button %s" % t.start_button_look(stopped, w))
    check(save_and_read(s, w, program)[KEY_CORRECTION] == "0", "the typed mode is not in force")
    t.close_with_ctrl_q(s, w)


def ink_glyphs(shot, x0, y0, x1, y1):
    """The glyphs of a light text on a dark box, left to right: runs of
    columns holding text pixels, each as (first x, last x, top y, bottom y)."""
    def ink(x, y):
        return max(shot.pixel(x, y)) > 90

    glyphs = []
    current = None
    for x in range(x0, x1):
        rows = [y for y in range(y0, y1) if ink(x, y)]
        if rows:
            if current is None:
                current = [x, x, min(rows), max(rows)]
            else:
                current[1] = x
                current[2] = min(current[2], min(rows))
                current[3] = max(current[3], max(rows))
        elif current is not None:
            glyphs.append(tuple(current))
            current = None
    if current is not None:
        glyphs.append(tuple(current))
    return glyphs


def case_operator_value_box(s, a):
    """A negative full-scale input on the 10 V range with 5 decimals: the
    value box shows the minus sign and the whole number, nothing cut."""
    import e2e_tests as t
    with open(os.path.join(a.fixtures, "one-module.json")) as f:
        config = json.load(f)
    slot = config["crates"][0]["slots"][1]
    slot["channels"][0] = {"channel": 1, "volts": -10.0}
    path = os.path.join(s.artifacts, "full-scale.json")
    with open(path, "w") as f:
        json.dump(config, f)
    with open(a.default_settings, "rb") as f:
        settings = t.settings_with(f.read(), {
            "АЦП. Групповое управление каналами": "0",
            "АЦП. Управление каналом %d" % 1: "1",
            **{"АЦП. Управление каналом %d" % ch: "0" for ch in range(2, 7)},
            "АЦП. Входной диапазон U 10.00 В. U precision": "5",
        })
    s.start_emulator(a.emulator, path)
    s.start_program(s.program_dir(a.program, settings))
    w = t.wait_discovered(s, a.version)
    s.click(w, *t.START_BUTTON_CENTRE)
    t.wait_start_count(s, 3, 30)
    time.sleep(1.5)
    shot = s.shot("full-scale")
    x0, y0, x1, y1 = (v + (w["x"] if i % 2 == 0 else w["y"]) for i, v in enumerate(VALUE_BOX_1))
    # Inside the box's border.
    glyphs = ink_glyphs(shot, x0 + 4, y0 + 4, x1 - 4, y1 - 4)
    s.note("glyphs %s" % glyphs)
    check(len(glyphs) >= 8, "%d glyphs in the value box" % len(glyphs))
    tallest = max(g[3] - g[2] + 1 for g in glyphs)
    sign = glyphs[0]
    check(sign[3] - sign[2] + 1 <= tallest * 0.35 and sign[1] - sign[0] >= 3,
          "the first glyph %s is no minus sign (digits %d px high)" % (sign, tallest))
    check(glyphs[0][0] > x0 + 5 and glyphs[-1][1] < x1 - 5,
          "the text reaches the edge of the box: %s in %d..%d" % ((glyphs[0][0], glyphs[-1][1]), x0, x1))
    s.key(w, "Escape")
    t.close_with_ctrl_q(s, w)


def start_with_arguments(s, program, *args):
    """Starts the program through a script that passes it arguments; the
    program still runs from its own directory."""
    script = os.path.join(os.path.dirname(program), "with-arguments.sh")
    with open(script, "w") as f:
        f.write('#!/bin/sh\nexec "%s" %s\n' % (program, " ".join("'%s'" % x for x in args)))
    os.chmod(script, 0o755)
    return s.start_program(script)


def the_main_window(s):
    for x in s.windows():
        if (x["width"], x["height"]) == MAIN_WINDOW_SIZE:
            return x
    return None


def case_operator_command_line(s, a):
    """Qt's own options on the command line change nothing; without a
    version record the caption is empty."""
    import e2e_tests as t
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    program = s.program_dir(a.program)
    s.start_program(program)
    w = t.wait_discovered(s, a.version)
    plain = s.shot("plain")
    t.close_with_ctrl_q(s, w)

    program = s.program_dir(a.program)
    start_with_arguments(s, program, "-reverse", "-qwindowtitle", "Чужой заголовок")
    w = t.wait_discovered(s, a.version)
    time.sleep(0.5)
    reverse = s.shot("reverse")
    # The top group and the common parameters, without the lamps.
    for area in ((0, 0, 390, 77), (440, 77, 1130, 300)):
        x0, y0, x1, y1 = area
        box = (w["x"] + x0, w["y"] + y0, w["x"] + x1, w["y"] + y1)
        check(plain.region(*box) == reverse.region(*box), "the window looks different with -reverse in %s" %
              (area,))
    t.close_with_ctrl_q(s, w)

    # The same executable without its version record.
    program = s.program_dir(a.program)
    subprocess.run(["objcopy", "--remove-section", ".km808_version", program], check=True, timeout=60)
    s.start_program(program)
    w = wait_for("the main window", lambda: the_main_window(s), 30)
    time.sleep(0.5)

    def discovered():
        x = the_main_window(s)
        return x if x and x["name"] != "KM808_viza - ?.?.?" and x["name"] != "KM808" else None

    w = wait_for("the end of the detection", discovered, 30)
    time.sleep(1)
    w = the_main_window(s)
    s.shot("no-version")
    check(w["name"] == "" and w["wm_name"] == "", "caption %r / %r without a version record" %
          (w["name"], w["wm_name"]))
    s.key(w, "ctrl+q")
    code = s.wait_exit(20)
    check(code == 0, "exit code %d" % code)



def module_opens(s):
    """Openings of a module (the crate server's own opening names no slot)."""
    return len([l for l in s.log() if l.name == "Open" and l.slot > 0])


def wheel(s, w, at, notches):
    """Wheel notches with the pointer resting over a control: 4 up, 5 down."""
    args = ["xdotool", "mousemove", str(w["x"] + at[0]), str(w["y"] + at[1])]
    for n in notches:
        args += ["click", str(n)]
    s._x(*args)
    s.note("wheel %s at %s" % (notches, at))


def wait_idle_look(s, w, what):
    import e2e_tests as t

    def idle():
        shot = s.shot("poll")
        os.remove(shot.path)
        s.shots -= 1
        return t.start_button_look(shot, w) == "idle"
    wait_for(what, idle, 30, 0.3)


def case_operator_wheel(s, a):
    """Wheel notches over every kind of selector: without the keyboard focus
    none changes, stops the measurement or opens another module; with the
    focus a common selector takes them, a channel's selector never."""
    import e2e_tests as t
    with open(a.default_settings, "rb") as f:
        default = f.read()
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "two-crates.json"))
    program = s.program_dir(a.program, default)
    s.start_program(program)
    w = t.wait_discovered(s, a.version)
    before = save_and_read(s, w, program)
    opens = module_opens(s)

    s.click(w, *t.START_BUTTON_CENTRE)
    t.wait_start_count(s, 2, 30)
    selectors = [("crate", CRATE_SELECTOR), ("module", MODULE_SELECTOR), ("common-range", COMMON_RANGE),
                 ("mode", COMMON_MODE), ("rate", ADC_RATE), ("correction-field", CORRECTION_TEXT),
                 ("correction-arrow", CORRECTION_ARROW), ("channel-4-range", frame_selector(3)),
                 ("channel-13-range", frame_selector(12))]
    for name, at in selectors:
        wheel(s, w, at, [4, 5, 5, 4, 5])
    time.sleep(1)
    count = starts(s)
    wait_for("blocks after the wheel", lambda: starts(s) > count + 1, 15)
    running = s.shot("after-wheel")
    check(t.start_button_look(running, w) == "running", "the wheel stopped the measurement")
    s.key(w, "Escape")
    wait_idle_look(s, w, "the idle start button after Escape")
    check(module_opens(s) == opens, "the wheel opened another module")
    after = save_and_read(s, w, program)
    changed = sorted(k for k in before if before[k] != after.get(k))
    check(not changed, "the wheel changed %s" % changed)

    # With the focus (the list opened and closed again with Escape).
    for name, at, key, takes in (("rate", ADC_RATE, KEY_RATE, True),
                                 ("channel-4-range", frame_selector(3), key_u(3), False)):
        s.click(w, *at)
        time.sleep(0.8)
        s._x("xdotool", "key", "Escape")
        time.sleep(0.5)
        wheel(s, w, at, [4])
        time.sleep(0.5)
        s.shot("focused-wheel-" + name)
        got = save_and_read(s, w, program)
        check((got[key] != before[key]) == takes, "%s with the focus: %s -> %s" % (name, before[key], got[key]))
    check(module_opens(s) == opens, "another module opened")
    t.close_with_ctrl_q(s, w)


def case_operator_buttons(s, a):
    """Every Escape stops the measurement, also right after a stop made with
    Escape; Return and keypad Enter press the focused start button."""
    import e2e_tests as t
    program, w = start_on_one_module(s, a)
    s.click(w, *t.START_BUTTON_CENTRE)  # the button has the focus from now on
    for round, key in enumerate(["", "Return", "KP_Enter", "Return"]):
        if key:
            s._x("xdotool", "key", key)
            s.note("key %s" % key)
        count = starts(s)
        wait_for("blocks after %s" % (key or "the click"), lambda: starts(s) > count + 1, 20)
        check(t.start_button_look(s.shot("running-%d" % round), w) == "running", "round %d not running" % round)
        s._x("xdotool", "key", "Escape")
        s.note("key Escape")
        wait_idle_look(s, w, "the idle start button after Escape in round %d" % round)
        time.sleep(1.5)
        count = starts(s)
        time.sleep(2.5)
        check(starts(s) == count, "blocks after Escape in round %d" % round)
    # Return on "Обнаружить": a full detection (the crate list read anew).
    listings = len([l for l in s.log() if l.name == "GetCrates"])
    # From the start button back over the two selectors to the detection button.
    s._x("xdotool", "key", "--delay", "100", "shift+Tab", "shift+Tab", "shift+Tab")
    time.sleep(0.3)
    s.shot("detection-button-focused")
    s._x("xdotool", "key", "Return")
    wait_for("a detection after Return", lambda: len([l for l in s.log() if l.name == "GetCrates"]) > listings, 15)
    w = t.wait_discovered(s, a.version)
    t.close_with_ctrl_q(s, w)


def case_operator_close_during_detection(s, a):
    """Six modules that take 3 s each to open: Ctrl+Q during the start-up
    detection ends it at the module being opened, not after all six."""
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "slow-opens.json"))
    s.start_program(s.program_dir(a.program))
    wait_for("the first module's opening", lambda: module_opens(s) >= 1, 30)
    w = wait_for("the main window", lambda: s.main_window(), 10)
    s.shot("detecting")
    s.key(w, "ctrl+q")
    code = s.wait_exit(60)
    check(code == 0, "exit code %d" % code)
    # The listing tests the six side by side: the close waits only for the
    # openings in flight, and the chosen module's own opening never starts.
    check(module_opens(s) <= 6, "%d modules opened, the close waited for the detection" % module_opens(s))

CASES = {
    "operator_dropdowns": (case_operator_dropdowns, "1920x1080"),
    "operator_keys": (case_operator_keys, "1920x1080"),
    "operator_value_box": (case_operator_value_box, "1920x1080"),
    "operator_command_line": (case_operator_command_line, "1920x1080"),
    "operator_wheel": (case_operator_wheel, "1920x1080"),
    "operator_buttons": (case_operator_buttons, "1920x1080"),
    "operator_close_during_detection": (case_operator_close_during_detection, "1920x1080"),
}
