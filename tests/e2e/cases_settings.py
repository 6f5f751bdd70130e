"""End-to-end cases of the settings file: what a failed detection, a save
during a detection and a save with no crate server do to the stored file.

The shared steps (wait_discovered, dismiss, ...) live in e2e_tests.py, which
hands itself over through cases()."""

import os
import time

from e2e_session import check, wait_for  # noqa: E402

T = None  # the e2e_tests module

# Centres of the two buttons, in pixels from the window's top left corner.
FIND_BUTTON = (83, 39)
SAVE_BUTTON = (1064, 50)
MODULE_SECTION = "[Модуль KM808]"
AUTO_SAVE = "Сохранение настроек"


def read_settings(program):
    with open(os.path.join(os.path.dirname(program), "Km808_Viza.ini"), "rb") as f:
        return f.read()


def module_keys(data):
    """The measurement section's lines, byte for byte."""
    lines = data.split(b"\r\n")
    start = lines.index(MODULE_SECTION.encode("cp1251"))
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith(b"[")), len(lines))
    return lines[start:end]


def auto_save_flag(data):
    key = (AUTO_SAVE + "=").encode("cp1251")
    hits = [l[len(key):] for l in data.split(b"\r\n") if l.startswith(key)]
    check(len(hits) == 1, "%d auto-save keys" % len(hits))
    return hits[0].decode()


def file_id(program):
    """Every save writes a new file in place of the old one: a new
    modification time proves that one ran."""
    return os.stat(os.path.join(os.path.dirname(program), "Km808_Viza.ini")).st_mtime_ns


def check_kept(program, stored, what):
    now = read_settings(program)
    check(module_keys(now) == module_keys(stored), "%s: the measurement keys changed:\n%s" % (
        what, "\n".join(l.decode("cp1251") for l in module_keys(now))))
    check(auto_save_flag(now) == "1", "%s: the auto-save flag is %s" % (what, auto_save_flag(now)))


def case_failed_detection_save(s, a):
    """Stored measurement settings survive a detection against a dead crate
    server, the auto-save on close, a "Сохранить" with the server down from
    the start, and Ctrl+S during a detection; with the server back, the
    module is set up as they say."""
    with open(a.default_settings, "rb") as f:
        settings = dict(T.MEASUREMENT_SETTINGS)
        settings[AUTO_SAVE] = "1"
        stored = T.settings_with(f.read(), settings)
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    program = s.program_dir(a.program, stored)
    s.start_program(program)
    w = T.wait_discovered(s, a.version)

    # "Обнаружить" with the crate server gone, then close: auto-save is on.
    s.kill_emulator()
    before = file_id(program)
    s.click(w, *FIND_BUTTON)
    wait_for("the discovery message", lambda: s.windows_captioned(T.DISCOVERY_DIALOG), 30)
    s.shot("failed-detection")
    T.dismiss(s, T.DISCOVERY_DIALOG)
    time.sleep(1)
    s.shot("reset-controls")
    T.close_with_ctrl_q(s, w)
    check(file_id(program) != before, "no auto-save on close")
    check_kept(program, stored, "auto-save after a failed detection")

    # The server down from the start: "Сохранить" (enabled, since nothing
    # was loaded to check the auto-save box), then close.
    s.start_program(program)
    wait_for("the discovery message", lambda: s.windows_captioned(T.DISCOVERY_DIALOG), 30)
    T.dismiss(s, T.DISCOVERY_DIALOG)
    time.sleep(1)
    w = wait_for("the main window", s.main_window, 10)
    before = file_id(program)
    s.click(w, *SAVE_BUTTON)
    time.sleep(1.5)
    s.shot("saved-without-server")
    check(not s.windows_captioned(T.SAVE_ERROR), "the save reported an error")
    check(file_id(program) != before, "\"Сохранить\" saved nothing")
    T.close_with_ctrl_q(s, w)
    check_kept(program, stored, "save with no crate server")

    # The server back: the stored settings come back, and a Ctrl+S pressed
    # while a detection runs stores what the window shows after it.
    s.start_emulator(a.emulator, os.path.join(a.fixtures, "one-module.json"))
    s.start_program(program)
    w = T.wait_discovered(s, a.version)
    before = file_id(program)
    s.click(w, *FIND_BUTTON)
    time.sleep(0.4)
    s.key(w, "ctrl+s")
    w = T.wait_discovered(s, a.version)
    time.sleep(1.5)
    check(file_id(program) != before, "Ctrl+S during a detection saved nothing")
    check_kept(program, stored, "Ctrl+S during a detection")
    s.click(w, *T.START_BUTTON_CENTRE)
    T.wait_start_count(s, 1, 30)
    s.shot("measuring")
    setadc = [l for l in s.log() if l.name == "SetADC"]
    check(setadc and setadc[-1].details == T.MEASUREMENT_SETADC,
          "SetADC %r, expected %r" % (setadc[-1].details if setadc else None, T.MEASUREMENT_SETADC))
    s.key(w, "Escape")
    T.close_with_ctrl_q(s, w)
    check_kept(program, stored, "close with the crate there")


def cases(t):
    global T
    T = t
    return {"failed_detection_save": (case_failed_detection_save, "1920x1080")}
