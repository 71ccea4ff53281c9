"""Wine and Xvfb for the end-to-end scenarios: the prefix, the display, the wine server, the
robot and the program under test. Python standard library only.

Paths come from the environment that ctest sets (KV_BUILD_DIR, KV_SOURCE_DIR); run by hand,
they default to build/ beside this source tree.

The scenarios use their own prefix, build/wineprefix-e2e, not the unit tests' build/wineprefix:
between scenarios the wine server of the prefix is killed, and that must never hit a unit test
that ctest runs at the same time.
"""

import json
import os
import select
import signal
import subprocess
import sys
import time
from pathlib import Path

SOURCE_DIR = Path(os.environ.get("KV_SOURCE_DIR") or Path(__file__).resolve().parents[2])
sys.path.insert(0, str(SOURCE_DIR))
from sim.presence import wine_env as _prefix_env, windows_path  # noqa: E402,F401
BUILD_DIR = Path(os.environ.get("KV_BUILD_DIR") or SOURCE_DIR / "build")
PREFIX = Path(os.environ.get("KV_E2E_WINEPREFIX") or BUILD_DIR / "wineprefix-e2e")
ROBOT_EXE = BUILD_DIR / "tests" / "robot.exe"
SCREEN = "1024x768x24"

PREFIX_TIMEOUT_S = 300
XVFB_START_TIMEOUT_S = 20
# The first wine process of a fresh wine server starts the prefix's services: a few seconds.
ROBOT_START_TIMEOUT_S = 60
# Added to a robot command's own time-out before the harness stops waiting for its reply.
ROBOT_REPLY_SLACK_S = 15
DEFAULT_WAIT_MS = 5000
STOP_TIMEOUT_S = 20
BOOT_TIMEOUT_S = 60

# What Wine prints when a program dies of an exception (with the crash dialog turned off).
CRASH_MARKERS = ("Unhandled page fault", "Unhandled exception", "Unhandled stack overflow", "Unhandled illegal")
CRASH_EXIT_CODE = 5


def ensure_prefix(prefix=PREFIX):
    """Creates and configures the prefix once (scripts/wineprefix.sh; about 10 s)."""
    subprocess.run(["bash", str(SOURCE_DIR / "scripts" / "wineprefix.sh"), str(prefix)], check=True,
                   stdin=subprocess.DEVNULL, timeout=PREFIX_TIMEOUT_S)
    return prefix


def wine_env(prefix=PREFIX, display=None):
    env = _prefix_env(prefix)
    env["WINEARCH"] = "win32"
    env.pop("WAYLAND_DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def _stop(proc, timeout_s=STOP_TIMEOUT_S):
    """Ends a process that this harness started, and its process group (each is started in a
    session of its own), by its id; waits for it so that no zombie is left."""
    if proc is None or proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    try:
        proc.wait(timeout=timeout_s / 2)
        return
    except subprocess.TimeoutExpired:
        pass
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait(timeout=timeout_s / 2)


class Xvfb:
    """A virtual X display of fixed size; -displayfd lets the server pick a free number."""

    def __init__(self, log_path, screen=SCREEN):
        self.log_path = Path(log_path)
        self.screen = screen
        self.proc = None
        self.display = None

    def start(self):
        self.log_path.parent.mkdir(parents=True, exist_ok=True)
        read_end, write_end = os.pipe()
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen, "-noreset", "-nolisten", "tcp"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        os.close(write_end)
        try:
            number = b""
            deadline = time.monotonic() + XVFB_START_TIMEOUT_S
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    raise RuntimeError("Xvfb gave no display number within %d s; see %s"
                                       % (XVFB_START_TIMEOUT_S, self.log_path))
                ready, _, _ = select.select([read_end], [], [], left)
                if ready:
                    chunk = os.read(read_end, 16)
                    if not chunk:
                        raise RuntimeError("Xvfb closed its display pipe; see %s" % self.log_path)
                    number += chunk
        except BaseException:
            _stop(self.proc)
            raise
        finally:
            os.close(read_end)
        self.display = ":" + number.decode().strip()
        return self

    def stop(self):
        _stop(self.proc)
        self.proc = None


class WineServer:
    """The prefix's wine server, started by the harness so that its output goes to a log and not
    into the stderr of whichever program happened to start it, and so that it can be waited for."""

    def __init__(self, env, log_path):
        self.env = env
        self.log_path = Path(log_path)
        self.proc = None

    def start(self):
        kill_wineserver(self.env)
        self.log_path.parent.mkdir(parents=True, exist_ok=True)
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen(["wineserver", "--foreground", "--persistent"], env=self.env,
                                         stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                         start_new_session=True)
            # Start the prefix's services (explorer, plugplay, rpcss ...) now, from a process
            # whose output goes to the log: they inherit the output of whoever starts them and
            # keep it open, which would hold the robot's pipe or mix into the program's stderr.
            started = time.monotonic()
            subprocess.run(["wine", "wineboot"], env=self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                           timeout=BOOT_TIMEOUT_S, check=True)
            self.boot_seconds = time.monotonic() - started
        return self

    def stop(self):
        kill_wineserver(self.env)
        if self.proc is not None:
            try:
                self.proc.wait(timeout=STOP_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                _stop(self.proc)
            self.proc = None


def kill_wineserver(env):
    """Kills every wine process of the prefix and waits until its server has gone."""
    subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=STOP_TIMEOUT_S)
    subprocess.run(["wineserver", "-w"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=STOP_TIMEOUT_S)


class Program:
    """A Windows program run by wine, with its stdout, stderr and exit code kept."""

    def __init__(self, exe, env, log_dir, cwd, name="program"):
        self.exe = Path(exe)
        self.env = env
        self.cwd = Path(cwd)
        self.stdout_path = Path(log_dir) / (name + ".stdout")
        self.stderr_path = Path(log_dir) / (name + ".stderr")
        self.proc = None

    def start(self):
        if not self.exe.is_file():
            raise FileNotFoundError("%s is not built" % self.exe)
        self.stdout_path.parent.mkdir(parents=True, exist_ok=True)
        self.cwd.mkdir(parents=True, exist_ok=True)
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen(["wine", str(self.exe)], env=self.env, cwd=str(self.cwd),
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=err, start_new_session=True)
        self.started_at = time.monotonic()
        return self

    @property
    def running(self):
        return self.proc is not None and self.proc.poll() is None

    @property
    def exit_code(self):
        return None if self.proc is None else self.proc.poll()

    def wait_exit(self, timeout_s):
        """The exit code, once the program has ended; TimeoutError after timeout_s."""
        try:
            return self.proc.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            raise TimeoutError("%s still running after %.1f s" % (self.exe.name, timeout_s)) from None

    def kill(self):
        _stop(self.proc)

    def stdout(self):
        return self.stdout_path.read_bytes().decode("utf-8", errors="replace") if self.stdout_path.exists() else ""

    def stderr(self):
        return self.stderr_path.read_bytes().decode("utf-8", errors="replace") if self.stderr_path.exists() else ""

    def crash_report(self):
        """Why the program is known to have crashed, or None."""
        lines = [line for line in self.stderr().splitlines() if any(m in line for m in CRASH_MARKERS)]
        if lines:
            return "; ".join(lines)
        if self.exit_code == CRASH_EXIT_CODE:
            return "exit code %d (Wine's code for an unhandled exception)" % CRASH_EXIT_CODE
        return None


class RobotError(AssertionError):
    """The robot answered "err": a wait timed out, a control was refused, ... A scenario fails
    with it like with any failed assertion."""

    def __init__(self, command, reason):
        super().__init__("robot: %s -> %s" % (command, reason))
        self.command = command
        self.reason = reason


def hwnd_text(hwnd):
    return "0x%08X" % hwnd


def _token(value):
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, int):
        return str(value)
    # Raw UTF-8 rather than \u escapes: the robot reads either, and the transcript stays legible.
    return json.dumps(str(value), ensure_ascii=False)


class Robot:
    """The robot (tests/robot/robot.cpp) run once per scenario: one command, one reply."""

    def __init__(self, env, transcript_path, exe=ROBOT_EXE):
        self.env = env
        self.exe = Path(exe)
        self.transcript_path = Path(transcript_path)
        self.proc = None
        self._buffer = b""
        self._transcript = None

    def start(self):
        if not self.exe.is_file():
            raise FileNotFoundError("%s is not built" % self.exe)
        self.transcript_path.parent.mkdir(parents=True, exist_ok=True)
        self._transcript = open(self.transcript_path, "w", encoding="utf-8")
        self._stderr = open(self.transcript_path.with_suffix(".stderr"), "wb")
        self.proc = subprocess.Popen(["wine", str(self.exe)], env=self.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self._stderr, bufsize=0, start_new_session=True)
        self.command("ping", reply_timeout_s=ROBOT_START_TIMEOUT_S)
        return self

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            try:
                self.command("quit", reply_timeout_s=5)
                self.proc.wait(timeout=5)
            except (RobotError, OSError, subprocess.TimeoutExpired):
                pass
        _stop(self.proc)
        if self.proc is not None:
            self.proc.stdin.close()
            self.proc.stdout.close()
        self.proc = None
        for f in (self._transcript, getattr(self, "_stderr", None)):
            if f:
                f.close()
        self._transcript = None

    def command(self, name, *args, reply_timeout_s=None, **options):
        """Sends one command and returns its reply's JSON value; RobotError on "err"."""
        parts = [name] + [_token(a) for a in args]
        parts += ["%s=%s" % (k, _token(v)) for k, v in options.items() if v is not None]
        line = " ".join(parts)
        if reply_timeout_s is None:
            reply_timeout_s = options.get("timeout", DEFAULT_WAIT_MS) / 1000.0 + ROBOT_REPLY_SLACK_S
        started = time.monotonic()
        self.proc.stdin.write(line.encode("utf-8") + b"\n")
        self.proc.stdin.flush()
        reply = self._read_line(reply_timeout_s, line)
        self._transcript.write("%8.3f  %s\n       %5d ms  %s\n" % (
            time.monotonic(), line, (time.monotonic() - started) * 1000, reply))
        self._transcript.flush()
        if reply.startswith("ok "):
            return json.loads(reply[3:])
        if reply.startswith("err "):
            raise RobotError(line, reply[4:])
        raise RobotError(line, "unreadable reply %r" % reply)

    def _read_line(self, timeout_s, line):
        deadline = time.monotonic() + timeout_s
        fd = self.proc.stdout.fileno()
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise RobotError(line, "no reply within %.0f s" % timeout_s)
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 65536)
                if not chunk:
                    raise RobotError(line, "robot ended (exit code %s)" % self.proc.poll())
                self._buffer += chunk
        reply, self._buffer = self._buffer.split(b"\n", 1)
        return reply.decode("utf-8", errors="replace")

    # ---- one method per command; hwnds are ints, times are milliseconds ----

    def wait_window(self, title, timeout=DEFAULT_WAIT_MS, **conditions):
        """conditions: cls, id, text, contains, not_ (an hwnd), enabled."""
        options = dict(conditions)
        if "cls" in options:
            options["class"] = options.pop("cls")
        if "not_" in options:
            options["not"] = hwnd_text(options.pop("not_")) if options["not_"] else None
        return int(self.command("wait", title, timeout=timeout, **options)["hwnd"], 16)

    def gone(self, hwnd, timeout=DEFAULT_WAIT_MS):
        self.command("gone", hwnd_text(hwnd), timeout=timeout)

    def get(self, hwnd, control_id=None):
        args = [hwnd_text(hwnd)] + ([] if control_id is None else [control_id])
        return self.command("get", *args)

    def until(self, hwnd, control_id, timeout=DEFAULT_WAIT_MS, **conditions):
        """Polls a control until all conditions hold (text, contains, enabled, visible, usable,
        checked, pos); its properties then. RobotError with the last properties on time-out."""
        return self.command("until", hwnd_text(hwnd), control_id, timeout=timeout, **conditions)

    def click(self, hwnd, control_id):
        self.command("click", hwnd_text(hwnd), control_id)

    def refusal(self, hwnd, control_id):
        """The robot's reason for refusing to click, or None if it clicked."""
        try:
            self.click(hwnd, control_id)
            return None
        except RobotError as e:
            return e.reason

    def type(self, hwnd, control_id, text):
        self.command("type", hwnd_text(hwnd), control_id, text)

    def key(self, hwnd, name):
        return self.command("key", hwnd_text(hwnd), name)

    def close(self, hwnd):
        self.command("close", hwnd_text(hwnd))

    def box(self, owner=None, timeout=DEFAULT_WAIT_MS):
        """The message box (hwnd as int, owner, caption, text, buttons)."""
        reply = self.command("box", timeout=timeout, owner=None if owner is None else hwnd_text(owner))
        reply["hwnd"] = int(reply["hwnd"], 16)
        reply["owner"] = int(reply["owner"], 16)
        return reply

    def post(self, hwnd, message, wparam=0, lparam=0):
        self.command("post", hwnd_text(hwnd), message, wparam, lparam)

    def send(self, hwnd, message, wparam=0, lparam=0, timeout=DEFAULT_WAIT_MS):
        return self.command("send", hwnd_text(hwnd), message, wparam, lparam, timeout=timeout)["result"]

    def windows(self, all_windows=False):
        return self.command("list", *(["all"] if all_windows else []))


def screenshot(display, path, rect=None):
    """Saves the screen, or the part of it in rect [left, top, right, bottom], as a PNG."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    command = ["import", "-display", display, "-window", "root"]
    if rect:
        left, top, right, bottom = [max(0, v) for v in rect]
        if right > left and bottom > top:
            command += ["-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage"]
    command.append(str(path))
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE, timeout=30)
    return path
