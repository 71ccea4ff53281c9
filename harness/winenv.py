"""Wine and Xvfb for running the program without a display: the prefix, the display, the wine
server, and the robot that reads and presses the program's windows. The main job's walk
(scripts/walk.py), the benchmarks and the tests all run the program this way.

Paths come from the environment that ctest sets (KV_BUILD_DIR, KV_SOURCE_DIR); run by hand,
they default to build/ beside this source tree. The end-to-end scenarios use their own prefix,
wineprefix-e2e: they restart its wine server, which must never hit another tier's programs.
"""

import json
import os
import select
import signal
import subprocess
import time
from pathlib import Path

from sim.presence import wine_env as _prefix_env, windows_path  # noqa: F401

SOURCE_DIR = Path(os.environ.get("KV_SOURCE_DIR") or Path(__file__).resolve().parents[1])
BUILD_DIR = Path(os.environ.get("KV_BUILD_DIR") or SOURCE_DIR / "build")
PREFIX = BUILD_DIR / "wineprefix-e2e"
ROBOT_EXE = BUILD_DIR / "tests" / "robot.exe"

STOP_TIMEOUT_S = 20
# The first wine process of a fresh wine server starts the prefix's services: a few seconds.
START_TIMEOUT_S = 60
DEFAULT_WAIT_MS = 5000
POLL_S = 0.02


def ensure_prefix(prefix=PREFIX):
    """Creates and configures the prefix once (scripts/wineprefix.sh; about 10 s)."""
    subprocess.run(["bash", str(SOURCE_DIR / "scripts" / "wineprefix.sh"), str(prefix)], check=True,
                   stdin=subprocess.DEVNULL, timeout=300)
    return prefix


def wine_env(prefix=PREFIX, display=None):
    """A Russian Windows: Wine takes the ANSI code page (1251) from the locale."""
    if "ru_RU.utf8" not in subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split():
        raise RuntimeError("the ru_RU.UTF-8 locale is missing: scripts/setup.sh makes it")
    env = _prefix_env(prefix)
    env.update(WINEARCH="win32", LANG="ru_RU.UTF-8", LC_ALL="ru_RU.UTF-8")
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    return env


def unix_path(path, prefix=PREFIX):
    """The file behind a path of the prefix's drives ("C:\\users\\..." is under dosdevices/c:)."""
    drive, _, rest = path.partition(":")
    return (prefix / "dosdevices" / (drive.lower() + ":")).joinpath(*filter(None, rest.split("\\")))


def start(command, env=None, log=None, **options):
    """A process in a session of its own, so that stop() ends it with all it started."""
    out = open(log, "wb") if log else subprocess.DEVNULL
    options = dict(dict(stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True), **options)
    try:
        return subprocess.Popen(command, env=env, **options)
    finally:
        if log:
            out.close()


def stop(proc):
    """Ends a process that this harness started, and its process group, by its id."""
    if proc is None or proc.poll() is not None:
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, sig)
            proc.wait(timeout=STOP_TIMEOUT_S / 2)
            return
        except ProcessLookupError:
            return
        except subprocess.TimeoutExpired:
            pass


def start_xvfb(log):
    """A virtual display; -displayfd lets the server pick a free number. Returns (process, ":N")."""
    read_end, write_end = os.pipe()
    proc = start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-noreset", "-nolisten",
                  "tcp"], log=log, pass_fds=(write_end,))
    os.close(write_end)
    number = b""
    try:
        while not number.endswith(b"\n"):
            if not select.select([read_end], [], [], START_TIMEOUT_S)[0]:
                raise RuntimeError("Xvfb gave no display number; see %s" % log)
            chunk = os.read(read_end, 16)
            if not chunk:
                raise RuntimeError("Xvfb ended; see %s" % log)
            number += chunk
    except BaseException:
        stop(proc)
        raise
    finally:
        os.close(read_end)
    return proc, ":" + number.decode().strip()


def kill_wineserver(env):
    """Kills every wine process of the prefix and waits until its server has gone."""
    for option in ("-k", "-w"):
        subprocess.run(["wineserver", option], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=STOP_TIMEOUT_S)


def start_wineserver(env, log):
    """A fresh wine server for the prefix, with the prefix's services (explorer, plugplay ...)
    started by a process whose output goes to the log: they keep the output of whoever starts
    them open, which would otherwise hold the robot's pipe or mix into the program's stderr."""
    kill_wineserver(env)
    server = start(["wineserver", "--foreground", "--persistent"], env=env, log=log)
    with open(log, "ab") as out:
        subprocess.run(["wine", "wineboot"], env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                       timeout=START_TIMEOUT_S, check=True)
    return server


class RobotError(AssertionError):
    """The robot said "err" (a control it would not press, a control that did not answer a read
    in time ...) or a wait ran out: a scenario fails with it as with any failed assertion.
    vanished: the window closed while the robot read it."""

    def __init__(self, command, reason):
        super().__init__("robot: %s -> %s" % (command, reason))
        self.reason = reason
        self.vanished = reason.startswith("no window")


class Robot:
    """tests/robot/robot.cpp, one command and one reply at a time. It looks and presses; the
    waits are here: each polls until what it waits for is on screen or its deadline passes.
    Window handles are ints, times milliseconds."""

    def __init__(self, env, transcript_path):
        self.transcript = open(transcript_path, "w", encoding="utf-8")
        self.proc = start(["wine", str(ROBOT_EXE)], env=env, log=Path(transcript_path).with_suffix(".stderr"),
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
        self._buffer = b""
        self.command("ping", reply_timeout_s=START_TIMEOUT_S)

    def stop(self):
        self.proc.stdin.close()  # the robot ends with its input
        try:
            self.proc.wait(timeout=STOP_TIMEOUT_S / 2)
        except subprocess.TimeoutExpired:
            stop(self.proc)
        self.proc.stdout.close()
        self.transcript.close()

    def command(self, *words, reply_timeout_s=15):
        """Sends one command; its reply's JSON value, or RobotError on "err"."""
        line = " ".join(map(str, words))
        self.proc.stdin.write(line.encode("utf-8") + b"\n")
        deadline = time.monotonic() + reply_timeout_s
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                raise RobotError(line, "no reply within %d s" % reply_timeout_s)
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise RobotError(line, "robot ended (exit code %s)" % self.proc.poll())
            self._buffer += chunk
        reply, self._buffer = self._buffer.split(b"\n", 1)
        reply = reply.decode("utf-8", errors="replace")
        if words[0] in ("click", "type", "post"):
            self.transcript.write("%9.3f  %s\n           %s\n" % (time.monotonic(), line, reply))
        if reply.startswith("ok "):
            return json.loads(reply[3:])
        raise RobotError(line, reply[4:] if reply.startswith("err ") else "unreadable reply " + reply)

    def until(self, what, probe, timeout=DEFAULT_WAIT_MS):
        """probe()'s first true result; RobotError naming what was awaited after the deadline."""
        deadline = time.monotonic() + timeout / 1000
        while True:
            result = probe()
            if result:
                return result
            if time.monotonic() > deadline:
                raise RobotError(what, "not so within %d ms" % timeout)
            time.sleep(POLL_S)

    def windows(self):
        return self.command("windows")

    def get(self, hwnd, control_id=None, cls="Button"):
        """The window, or its control with this id: a direct child before a deeper one, each
        time one of class cls first (ids repeat: in the open-file dialog the Open button and the
        file list share 1, and the name box is a ComboBoxEx with an Edit inside)."""
        window = self.command("get", hwnd)
        if control_id is None:
            return window
        found = sorted((c for c in window["controls"] if c["id"] == control_id),
                       key=lambda c: (c["parent"] != hwnd, c["class"] != cls))
        if not found:
            raise RobotError("get %d %d" % (hwnd, control_id), "no such control")
        return found[0]

    def controls(self, hwnd):
        """The window's controls; none when it has closed since it was listed."""
        try:
            return self.get(hwnd)["controls"]
        except RobotError as e:
            if e.vanished:
                return []
            raise

    def wait_window(self, title, contains=None, not_=None, timeout=DEFAULT_WAIT_MS):
        """The topmost shown dialog with this title, other than not_, with a control whose text
        holds `contains`."""
        def found():
            for w in self.windows():
                if (w["title"], w["class"]) == (title, "#32770") and w["hwnd"] != not_ and (
                        contains is None or any(contains in c["text"] for c in self.controls(w["hwnd"]))):
                    return w["hwnd"]
        return self.until("window %r with %r" % (title, contains), found, timeout)

    def gone(self, hwnd, timeout=DEFAULT_WAIT_MS):
        self.until("%d gone" % hwnd, lambda: all(w["hwnd"] != hwnd for w in self.windows()), timeout)

    def wait_for(self, hwnd, control_id, timeout=DEFAULT_WAIT_MS, **expected):
        """The control's properties once each one named holds its value (text, usable, pos ...)."""
        last = {}

        def holds():
            last.update(self.get(hwnd, control_id))
            return all(last[k] == v for k, v in expected.items()) and last
        try:
            return self.until("control %d %s" % (control_id, expected), holds, timeout)
        except RobotError as e:
            raise RobotError(e.args[0], "%s; last seen: %s" % (e.reason, last)) from None

    def box(self, owner=None, timeout=DEFAULT_WAIT_MS):
        """A message box (of this owner): hwnd, owner, caption, text and the ids of its buttons."""
        def found():
            for w in self.windows():
                if w["class"] == "#32770" and owner in (None, w["owner"]):
                    controls = self.controls(w["hwnd"])
                    texts = [c["text"] for c in controls if c["id"] == 0xFFFF and c["visible"]]
                    if texts:
                        buttons = sorted(c["id"] for c in controls if c["class"] == "Button" and c["visible"])
                        return dict(hwnd=w["hwnd"], owner=w["owner"], caption=w["title"], text=texts[0],
                                    buttons=buttons)
        return self.until("message box", found, timeout)

    def click(self, hwnd, control_id):
        self.command("click", self.get(hwnd, control_id)["hwnd"])

    def type(self, hwnd, control_id, text):
        self.command("type", self.get(hwnd, control_id, cls="Edit")["hwnd"], text)

    def post(self, hwnd, message, wparam=0, lparam=0):
        self.command("post", hwnd, message, wparam, lparam)


def screenshot(display, path, rect=None):
    """Saves the screen, or the part of it in rect [left, top, right, bottom], as a PNG."""
    command = ["import", "-display", display, "-window", "root"]
    if rect and rect[2] > rect[0] and rect[3] > rect[1]:
        left, top, right, bottom = [max(0, v) for v in rect]
        command += ["-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage"]
    subprocess.run(command + [str(path)], check=True, stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
    return path
