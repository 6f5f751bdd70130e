"""One end-to-end session: a private X server, a crate server emulator and the
real program, driven from outside with xdotool and watched through import
screenshots and the emulator's request log.

Every process is started in its own process group, dies with the driver
(PR_SET_PDEATHSIG) and is stopped by Session.close(), also on failure.
Standard library only.
"""

import ctypes
import glob
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time

PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)


class E2eFailure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise E2eFailure(message)


def wait_for(what, predicate, timeout, step=0.2):
    """Polls predicate until it returns a true value; fails after timeout."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise E2eFailure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(step)


def _child_setup(uid=None):
    # A child must not outlive a driver that CTest kills on time-out.
    os.setsid()
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)
    if uid is not None:
        os.setgroups([])
        os.setgid(uid)
        os.setuid(uid)


# --------------------------------------------------------------------------
# Screenshots


class Shot:
    """An RGB screenshot of the whole screen, kept as a PNG artefact."""

    def __init__(self, path, display):
        subprocess.run(["import", "-window", "root", path], env=display, check=True, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        out = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, timeout=30,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ident = subprocess.run(["identify", "-format", "%w %h", path], check=True, timeout=30,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.width, self.height = (int(v) for v in ident.stdout.split())
        self.path = path
        self.data = out.stdout

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def mean(self, x, y, radius=2):
        """Mean colour of the (2r+1)² square around x, y."""
        acc = [0, 0, 0]
        n = 0
        for yy in range(y - radius, y + radius + 1):
            for xx in range(x - radius, x + radius + 1):
                p = self.pixel(xx, yy)
                acc = [a + b for a, b in zip(acc, p)]
                n += 1
        return tuple(a // n for a in acc)

    def count(self, x0, y0, x1, y1, predicate):
        """Pixels in [x0, x1) × [y0, y1) for which predicate(r, g, b) holds."""
        return sum(1 for y in range(y0, y1) for x in range(x0, x1) if predicate(*self.pixel(x, y)))

    def region(self, x0, y0, x1, y1):
        return b"".join(self.data[(y * self.width + x0) * 3:(y * self.width + x1) * 3] for y in range(y0, y1))


def lamp_colour(rgb):
    """Classifies a lamp's fill: the lamps are drawn with a highlight, so the
    test asks for the dominant primary, not for one exact value."""
    r, g, b = rgb
    if g >= 100 and g - max(r, b) >= 60:
        return "green"
    if r >= 180 and r - max(g, b) >= 60:
        return "red"
    if max(r, g, b) - min(r, g, b) < 30:
        return "neutral"
    return "other %s" % (rgb,)


def is_red_text(r, g, b):
    return r >= 180 and g < 90 and b < 90


def is_green_text(r, g, b):
    return g >= 100 and r < 90 and b < 90


# --------------------------------------------------------------------------
# Emulator request log


class LogLine:
    __slots__ = ("time", "name", "serial", "slot", "status", "details")

    def __init__(self, t, name, serial, slot, status, details):
        self.time, self.name, self.serial, self.slot, self.status, self.details = t, name, serial, slot, status, details


_LOG_LINE = re.compile(r"^(\d+\.\d+) (\w+) (\S+) (-?\d+) (-?\d+)(?: (.*))?$")


def parse_log(path):
    lines = []
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for raw in f:
                m = _LOG_LINE.match(raw.rstrip("\n"))
                if m:
                    lines.append(LogLine(float(m.group(1)), m.group(2), m.group(3), int(m.group(4)),
                                         int(m.group(5)), m.group(6) or ""))
    except FileNotFoundError:
        pass
    return lines


def blocks(lines):
    """Groups the log from each Start to the next Start: [(start, [recv lines])]."""
    out = []
    for line in lines:
        if line.name == "Start":
            out.append((line, []))
        elif line.name == "Recv" and out:
            out[-1][1].append(line)
    return out


def recv_words(line):
    """(received, requested) of a Recv line."""
    m = re.match(r"(\d+)/(\d+) words", line.details)
    return (int(m.group(1)), int(m.group(2))) if m else (0, 0)


# --------------------------------------------------------------------------
# The session


class Session:
    def __init__(self, artifacts, screen="1920x1080"):
        self.artifacts = artifacts
        shutil.rmtree(artifacts, ignore_errors=True)
        os.makedirs(artifacts)
        self.tmp = tempfile.mkdtemp(prefix="km808-e2e-")
        os.chmod(self.tmp, 0o755)
        self.procs = []
        self.shots = 0
        self.notes = open(os.path.join(artifacts, "session.txt"), "w", encoding="utf-8")
        self.display = self._start_x(screen)
        self.emulator = None
        self.emulator_log = os.path.join(artifacts, "emulator.log")
        self.program = None

    def note(self, text):
        self.notes.write("%.3f %s\n" % (time.monotonic(), text))
        self.notes.flush()

    # ---- processes

    def _spawn(self, args, uid=None, **kw):
        p = subprocess.Popen(args, preexec_fn=lambda: _child_setup(uid), **kw)
        self.procs.append(p)
        return p

    def _start_x(self, screen):
        read_fd, write_fd = os.pipe()
        log = open(os.path.join(self.artifacts, "xvfb.log"), "w")
        self.xvfb = self._spawn(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen + "x24",
                                 "-nolisten", "tcp", "-noreset"],
                                pass_fds=(write_fd,), stdout=log, stderr=log)
        os.close(write_fd)
        ready, _, _ = select.select([read_fd], [], [], 20)
        number = os.read(read_fd, 32).decode().strip() if ready else ""
        # Xvfb writes to this pipe more than once; it stays open until close().
        self.display_pipe = read_fd
        check(number.isdigit(), "Xvfb did not report its display")
        env = dict(os.environ)
        env.update(DISPLAY=":" + number, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        env.pop("XAUTHORITY", None)
        self.note("Xvfb on :%s, screen %s" % (number, screen))
        return env

    def start_emulator(self, emulator, config):
        out_path = os.path.join(self.artifacts, "emulator.out")
        self.emulator = self._spawn([emulator, "--listen", "127.0.0.1:0", "--config", config, "--verbose"],
                                    stdout=subprocess.PIPE, stderr=open(self.emulator_log, "w"))
        ready, _, _ = select.select([self.emulator.stdout], [], [], 20)
        line = self.emulator.stdout.readline().decode() if ready else ""
        with open(out_path, "w") as f:
            f.write(line)
        m = re.match(r"listening on (\S+:\d+)", line)
        check(m is not None, "the emulator did not start: %r" % line)
        self.server = m.group(1)
        self.note("emulator on %s with %s" % (self.server, config))
        return self.server

    def kill_emulator(self):
        os.killpg(self.emulator.pid, signal.SIGKILL)
        self.emulator.wait(10)
        self.note("emulator killed")

    def log(self):
        return parse_log(self.emulator_log)

    def program_dir(self, program, settings=None):
        """A fresh directory holding the program, its two libraries and,
        when given, a settings file (bytes)."""
        d = tempfile.mkdtemp(prefix="program-", dir=self.tmp)
        os.chmod(d, 0o755)
        src = os.path.dirname(program)
        shutil.copy2(program, d)
        # The libraries with their version links (the program needs libX.so.1).
        for lib in ("libqiraapi.so", "libkm808api.so"):
            for path in glob.glob(os.path.join(src, lib + "*")):
                shutil.copy2(path, d, follow_symlinks=False)
        if settings is not None:
            with open(os.path.join(d, "Km808_Viza.ini"), "wb") as f:
                f.write(settings)
        return os.path.join(d, os.path.basename(program))

    def start_program(self, path, uid=None, extra_env=None):
        env = dict(self.display)
        env["QIRA_SERVER"] = self.server
        env["QT_QPA_PLATFORM"] = "xcb"
        runtime = tempfile.mkdtemp(prefix="runtime-", dir=self.tmp)
        if uid is not None:
            os.chown(runtime, uid, uid)
        os.chmod(runtime, 0o700)
        env["XDG_RUNTIME_DIR"] = runtime
        if uid is not None:
            env["HOME"] = runtime
        env.update(extra_env or {})
        out = open(os.path.join(self.artifacts, "program.log"), "w")
        self.program = self._spawn([path], uid=uid, cwd=self.tmp, env=env, stdout=out, stderr=out)
        self.note("program %s started (pid %d)" % (path, self.program.pid))
        return self.program

    def wait_exit(self, timeout):
        try:
            code = self.program.wait(timeout)
        except subprocess.TimeoutExpired:
            raise E2eFailure("the program did not end within %.0f s" % timeout)
        self.note("program ended with %d" % code)
        return code

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                pass
        self.procs = []
        os.close(self.display_pipe)
        self.notes.close()
        subprocess.run(["chmod", "-R", "u+w", self.tmp], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.tmp, ignore_errors=True)

    # ---- X windows

    def _x(self, *args, timeout=20):
        return subprocess.run(list(args), env=self.display, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout).stdout.decode("utf-8", "replace")

    def windows(self):
        """Viewable top-level windows: dicts with id, name (_NET_WM_NAME),
        wm_name (WM_NAME), x, y, width, height."""
        found = []
        for wid in re.findall(r"^\s+(0x[0-9a-f]+) ", self._x("xwininfo", "-root", "-children"), re.M):
            info = self._x("xwininfo", "-id", wid)
            if "IsViewable" not in info:
                continue
            geo = {k: int(v) for k, v in re.findall(r"(Absolute upper-left X|Absolute upper-left Y|Width|Height):"
                                                    r"\s+(-?\d+)", info)}
            props = self._x("xprop", "-id", wid, "_NET_WM_NAME", "WM_NAME")
            names = dict(re.findall(r'^(_NET_WM_NAME|WM_NAME)\([^)]*\) = "(.*)"$', props, re.M))
            found.append(dict(id=wid, name=names.get("_NET_WM_NAME", ""), wm_name=names.get("WM_NAME", ""),
                              x=geo.get("Absolute upper-left X", 0), y=geo.get("Absolute upper-left Y", 0),
                              width=geo.get("Width", 0), height=geo.get("Height", 0)))
        return found

    def xprop(self, window, *names):
        return self._x("xprop", "-id", window["id"], *names)

    def windows_captioned(self, caption):
        """Windows whose caption is exactly the given text."""
        return [w for w in self.windows() if caption in (w["name"], w["wm_name"])]

    def main_window(self):
        for w in self.windows():
            if w["name"].startswith("KM808_viza") or w["name"] == "KM808":
                return w
        return None

    def shot(self, label):
        self.shots += 1
        path = os.path.join(self.artifacts, "%02d-%s.png" % (self.shots, label))
        s = Shot(path, self.display)
        self.note("screenshot %s; windows: %s" % (path, [(w["id"], w["name"]) for w in self.windows()]))
        return s

    def focus(self, window):
        self._x("xdotool", "windowfocus", "--sync", window["id"])

    def focused(self):
        """The X window holding the keyboard focus (hex id), or None."""
        try:
            return "0x%x" % int(self._x("xdotool", "getwindowfocus").split()[0])
        except (E2eFailure, ValueError, IndexError):
            return None

    def key(self, window, keys):
        self.focus(window)
        self._x("xdotool", "key", "--clearmodifiers", keys)
        self.note("key %s to %s" % (keys, window["name"]))

    def click(self, window, x, y):
        self._x("xdotool", "mousemove", str(window["x"] + x), str(window["y"] + y), "click", "1")
        self.note("click at %d,%d in %s" % (x, y, window["name"]))


def run_case(s, run, a, label):
    """Runs run(s, a) in session s and closes it; a failure is noted with a
    screenshot. Returns the exit status."""
    try:
        run(s, a)
    except E2eFailure as e:
        s.note("FAILED: %s" % e)
        try:
            s.shot("failure")
        except Exception:
            pass
        print("FAILED %s: %s\nartefacts: %s" % (label, e, a.artifacts))
        return 1
    finally:
        s.close()
    print("passed %s; artefacts: %s" % (label, a.artifacts))
    return 0
