"""The probe (command_port_probe.exe) runs the program's port code step by step on COM7 of the
tier's own prefix, behind which the simulated tracker holds a pseudo-terminal.

The wine server, the process that opens the port, runs without CAP_SYS_ADMIN when run as root:
only then does the tracker's exclusive hold keep the port from opening, as another program's
would. The probes run without it too, so that a server one of them may start cannot have it.
"""

import json
import os
import select
import subprocess
import tempfile
import termios
import time
import unittest
from pathlib import Path

from harness import winenv
from sim import tracker as sim

PREFIX = winenv.BUILD_DIR / "wineprefix-component"
PROBE = winenv.BUILD_DIR / "tests" / "command_port_probe.exe"
CAP_SYS_ADMIN = 21
# Deadlines for what comes at once or within the program's own waits, with room for a busy machine.
STEP_TIMEOUT_S = 60
EVENT_TIMEOUT_S = 30


class Probe:
    """The probe running its steps; their reports are read one by one as they come."""

    def __init__(self, case, port, steps):
        self.case = case
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(case.drop + ["wine", str(PROBE), port, *steps], env=case.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr)
        self.buffer = b""

    def next(self, step):
        """The next report, which must be of `step`: nothing else may come before it."""
        deadline = time.monotonic() + STEP_TIMEOUT_S
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            self.case.assertGreater(left, 0, "the probe is stuck before the end of %r" % step)
            if select.select([self.proc.stdout], [], [], left)[0]:
                chunk = os.read(self.proc.stdout.fileno(), 65536)
                self.case.assertTrue(chunk, "the probe ended before %r: %s" % (step, self.errors()))
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        try:
            report = json.loads(line)
        except ValueError:
            self.case.fail("the probe printed %r before %r" % (line, step))
        self.case.assertEqual(step, report["step"], report)
        return report

    def go(self):
        """Lets the probe past its "await" step."""
        self.proc.stdin.write(b"go\n")
        self.proc.stdin.flush()
        self.next("await")

    def end(self):
        self.case.assertEqual(0, self.proc.wait(STEP_TIMEOUT_S), self.errors())

    def errors(self):
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.stderr):
            stream.close()


class PortCase(unittest.TestCase):
    tracker = None  # the one plugged in last

    @classmethod
    def setUpClass(cls):
        winenv.ensure_prefix(PREFIX)
        cls.env = winenv.wine_env(PREFIX)
        winenv.kill_wineserver(cls.env)
        capabilities = int(Path("/proc/self/status").read_text().split("CapEff:")[1].split()[0], 16)
        cls.drop = ["setpriv", "--bounding-set=-sys_admin"] if capabilities >> CAP_SYS_ADMIN & 1 else []
        cls.server = winenv.start(cls.drop + ["wineserver", "--foreground", "--persistent"], env=cls.env,
                                  log=winenv.BUILD_DIR / "component-wineserver.log")

    @classmethod
    def tearDownClass(cls):
        winenv.kill_wineserver(cls.env)
        cls.server.wait(winenv.STOP_TIMEOUT_S)

    def plug(self, **options):
        """A tracker on COM7, in place of the one before."""
        if self.tracker is not None:
            self.tracker.unplug()
        self.tracker = sim.Tracker(PREFIX, 7, **options).plug()
        self.addCleanup(self.tracker.unplug)
        return self.tracker

    def probe(self, *steps, port="COM7"):
        probe = Probe(self, port, steps)
        self.addCleanup(probe.stop)
        return probe

    def set_line(self, flow):
        """Leaves the line as another program might have: 9600 baud, two stop bits, and flow
        control or not. The tracker logs this open and close as the program's: returns the close."""
        opened_at = time.monotonic()
        fd = os.open(self.tracker.port.pty_path, os.O_RDWR | os.O_NOCTTY)
        try:
            attrs = termios.tcgetattr(fd)  # a fresh line: raw, without flow control
            if flow:
                attrs[0] |= termios.IXON | termios.IXOFF
                attrs[2] |= termios.CRTSCTS
            attrs[2] |= termios.CSTOPB
            attrs[4] = attrs[5] = termios.B9600
            termios.tcsetattr(fd, termios.TCSANOW, attrs)
        finally:
            os.close(fd)
        self.assertEqual((9600, 2, flow, flow, flow), tuple(self.tracker.line_settings()))
        return self.tracker.wait_event("close", EVENT_TIMEOUT_S, after=opened_at)

    def events(self, *kinds, after=0.0):
        return [e for e in self.tracker.events() if e.kind in kinds and e.t > after]
