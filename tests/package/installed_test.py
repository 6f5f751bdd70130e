#!/usr/bin/env python3
"""The installed packages at work: the installed emulator with its built-in
set-up, the installed program started as its desktop entry says, its window
of the class the entry names, both lamps green, a measured value on screen,
Ctrl+Q, and the settings file in the user's configuration directory byte for
byte the default one.

    installed_test.py --desktop-entry FILE --emulator BIN --default-settings INI
                      --version X.Y.Z --artifacts DIR
"""

import argparse
import os
import shlex
import shutil
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e_session import Session, check, run_case  # noqa: E402
from e2e_tests import (START_BUTTON_CENTRE, check_window_class, close_with_ctrl_q, start_button_look,  # noqa: E402
                       value_box, wait_discovered, wait_start_count)


def desktop_command(entry):
    """The program the menu starts: the Exec key of the desktop entry,
    looked up in PATH as a launcher would."""
    with open(entry, encoding="utf-8") as f:
        execs = [line.split("=", 1)[1].strip() for line in f if line.startswith("Exec=")]
    check(len(execs) == 1, "%s has %d Exec keys" % (entry, len(execs)))
    args = [a for a in shlex.split(execs[0]) if not a.startswith("%")]
    path = shutil.which(args[0])
    check(path is not None, "%r from %s is not in PATH" % (args[0], entry))
    return path


def run(s, a):
    config = os.path.join(s.tmp, "built-in.json")
    with open(config, "w") as f:
        subprocess.run([a.emulator, "--print-default-config"], stdout=f, check=True, timeout=20)
    s.start_emulator(a.emulator, config)

    program = desktop_command(a.desktop_entry)
    home = os.path.join(s.tmp, "home")
    os.mkdir(home)
    s.start_program(program, extra_env={"HOME": home})
    w = wait_discovered(s, a.version)
    check_window_class(s, w, a.desktop_entry)
    before = s.shot("discovered")

    s.click(w, *START_BUTTON_CENTRE)
    wait_start_count(s, 3, 40)
    running = s.shot("measuring")
    check(start_button_look(running, w) == "running", "start button: %s" % start_button_look(running, w))
    # Every channel is on in the default settings; a measured value replaces
    # the dashes of channel 1.
    x0, y0, x1, y1 = value_box(0)
    box = (w["x"] + x0, w["y"] + y0, w["x"] + x1, w["y"] + y1)
    check(running.region(*box) != before.region(*box), "no value in channel 1 after three blocks")

    close_with_ctrl_q(s, w)
    config_dir = os.path.join(home, ".config")
    written_path = os.path.join(config_dir, "Km808_Viza.ini")
    check(os.path.isfile(written_path), "no settings file in %s: %s" %
          (config_dir, os.listdir(config_dir) if os.path.isdir(config_dir) else "missing"))
    check(not os.path.exists(os.path.join(os.path.dirname(program), "Km808_Viza.ini")),
          "a settings file beside the installed program")
    with open(written_path, "rb") as f:
        written = f.read()
    with open(a.default_settings, "rb") as f:
        expected = f.read()
    check(written == expected, "the settings file differs from the default file (%d vs %d bytes)" %
          (len(written), len(expected)))
    check(os.stat(config_dir).st_mode & 0o777 == 0o700, "%s made with mode %o" %
          (config_dir, os.stat(config_dir).st_mode & 0o777))


def main():
    p = argparse.ArgumentParser()
    for name in ("desktop-entry", "emulator", "default-settings", "version", "artifacts"):
        p.add_argument("--" + name, required=True)
    a = p.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    # The user's own configuration must not decide where the file goes.
    os.environ.pop("XDG_CONFIG_HOME", None)
    return run_case(Session(a.artifacts), run, a, "installed program")


if __name__ == "__main__":
    sys.exit(main())
