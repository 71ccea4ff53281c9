"""The program's command port on a real COM port under Wine: a pseudo-terminal that the simulated
tracker holds. The probe runs the program's own code for one exchange; these scenarios set up
the tracker, then compare what the probe reports with what the tracker saw on its side.

The scenarios use a prefix of their own, whose wine server runs without CAP_SYS_ADMIN when the
tests run as root: the server is the process that opens the port, and only without that
capability does the tracker's exclusive hold keep it from opening, as another program's would.
"""

import json
import os
import subprocess
import sys
import termios
import time
import unittest
from pathlib import Path

# The Wine helpers of the end-to-end tier: prefix, environment, wine server.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
import winenv  # noqa: E402
from sim import tracker as sim  # noqa: E402

PREFIX = winenv.BUILD_DIR / "wineprefix-component"
PROBE = winenv.BUILD_DIR / "tests" / "command_port_probe.exe"
CAP_SYS_ADMIN = 21
PROBE_TIMEOUT_S = 120
MAXDWORD = 0xFFFFFFFF

# Timings on a shared machine: the lower bounds are the program's own waits, the upper ones
# leave room for a busy machine.
REQUEST_GAP_S = (0.09, 0.5)
FIRST_REQUEST_AFTER_OPEN_S = 0.3
ANSWERED_MS = (550, 3000)  # 100 ms for the answer, 500 ms for the boot loader to settle
RESET_WRITE_AFTER_OPEN_S = (0.95, 1.8)
RESET_MS = (2050, 5000)  # 1000 + 100 + 1000 ms


def has_capability(bit):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("CapEff:"):
                return bool(int(line.split()[1], 16) >> bit & 1)
    return False


class CommandPortCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        winenv.ensure_prefix(PREFIX)
        cls.env = winenv.wine_env(PREFIX)
        winenv.kill_wineserver(cls.env)
        drop = ["setpriv", "--bounding-set=-sys_admin"] if has_capability(CAP_SYS_ADMIN) else []
        cls.log = open(winenv.BUILD_DIR / "component-wineserver.log", "wb")
        cls.server = subprocess.Popen(drop + ["wineserver", "--foreground", "--persistent"], env=cls.env,
                                      stdin=subprocess.DEVNULL, stdout=cls.log, stderr=cls.log)

    @classmethod
    def tearDownClass(cls):
        winenv.kill_wineserver(cls.env)
        cls.server.wait(winenv.STOP_TIMEOUT_S)
        cls.log.close()

    def setUp(self):
        self.tracker = None
        self.addCleanup(self._unplug)

    def _unplug(self):
        if self.tracker is not None:
            self.tracker.unplug()

    def plug(self, **options):
        self.tracker = sim.Tracker(PREFIX, 7, **options).plug()
        return self.tracker

    def start_probe(self, action):
        return subprocess.Popen(["wine", str(PROBE), action, "COM7"], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish_probe(self, probe):
        out, err = probe.communicate(timeout=PROBE_TIMEOUT_S)
        self.assertEqual(0, probe.returncode, err.decode(errors="replace"))
        return json.loads(out.decode().strip().splitlines()[-1])

    def probe(self, action):
        return self.finish_probe(self.start_probe(action))

    def set_line(self, tracker, flow):
        """Leaves the line as another program might have: slow, two stop bits, flow control or not."""
        fd = os.open(tracker.port.pty_path, os.O_RDWR | os.O_NOCTTY)
        try:
            attrs = termios.tcgetattr(fd)
            attrs[2] |= termios.CSTOPB
            if flow:
                attrs[0] |= termios.IXON | termios.IXOFF
                attrs[2] |= termios.CRTSCTS
            attrs[4] = attrs[5] = termios.B9600
            termios.tcsetattr(fd, termios.TCSANOW, attrs)
        finally:
            os.close(fd)
        settings = tracker.line_settings()
        self.assertEqual((9600, 2, flow, flow, flow),
                         (settings.baud, settings.stop_bits, settings.rtscts, settings.ixon, settings.ixoff))

    def kill_probe(self, probe):
        probe.kill()
        probe.communicate()

    def of_kind(self, kind, after=0.0):
        return [e for e in self.tracker.events() if e.kind == kind and e.t > after]

    def assert_within(self, bounds, value):
        self.assertTrue(bounds[0] <= value <= bounds[1], "%s not within %s" % (value, bounds))


class OpenTrackerPort(CommandPortCase):
    def test_sets_the_trackers_line_and_drops_what_was_waiting(self):
        tracker = self.plug()
        # Leave the line as another program might have: slow, two stop bits, flow control, and
        # bytes waiting that belong to nobody. (A pseudo-terminal is always 8 bits without
        # parity, so data bits and parity cannot be seen here.)
        self.set_line(tracker, flow=True)
        tracker.send(b"stale bytes")
        probed_at = time.monotonic()

        port = self.probe("open")
        self.assertTrue(port["opened"], port)
        settings = tracker.line_settings()
        self.assertEqual((115200, 1, False, False, False),
                         (settings.baud, settings.stop_bits, settings.rtscts, settings.ixon, settings.ixoff))
        # As the driver reports them back. Wine reports DTR and RTS from the modem lines and
        # keeps no abort-on-error state, so those are seen only on a real driver.
        self.assertEqual((115200, 0, 1, 0, 0, 0, 0, 0),
                         (port["baud"], port["stop_bits"], port["binary"], port["cts_flow"], port["dsr_flow"],
                          port["out_x"], port["in_x"], port["null_discard"]))
        self.assertEqual((MAXDWORD, MAXDWORD, 100, MAXDWORD, 100),
                         (port["read_interval"], port["read_multiplier"], port["read_constant"],
                          port["write_multiplier"], port["write_constant"]))
        self.assertEqual(0, port["waiting"])
        self.assertTrue(tracker.wait_event("close", 5, after=probed_at), "the probe did not close the port")

    def test_a_read_on_a_quiet_line_waits_about_100_ms_for_a_first_byte(self):
        self.plug()
        read = self.probe("read-silent")
        self.assertEqual((True, True, 0), (read["opened"], read["read_ok"], read["got"]))
        self.assert_within((80, 1000), read["elapsed_ms"])

    def test_an_absent_port_does_not_open(self):
        port = self.probe("open")
        self.assertFalse(port["opened"], port)

    def test_a_port_held_by_another_program_does_not_open(self):
        tracker = self.plug()
        tracker.hold_exclusively(True)
        self.assertFalse(self.probe("open")["opened"])
        tracker.hold_exclusively(False)
        self.assertTrue(self.probe("open")["opened"])


class BootLoaderRequest(CommandPortCase):
    def test_the_boot_loader_answers_the_first_request(self):
        tracker = self.plug(mode=sim.BOOT)
        result = self.probe("wait-boot-loader")
        self.assertEqual((True, True), (result["result"], result["handle_invalid"]), result)
        self.assert_within(ANSWERED_MS, result["elapsed_ms"])
        opened, request, answer, closed = (self.of_kind(kind)[0] for kind in ("open", "rx", "tx", "close"))
        self.assertEqual(b"1", request.data)
        self.assertIn(b"abort", answer.data)
        self.assertLess(request.t - opened.t, FIRST_REQUEST_AFTER_OPEN_S)
        self.assertLess(answer.t, closed.t)
        self.assertEqual(1, len(self.of_kind("open")))

    def test_a_silent_tracker_is_asked_again_on_a_fresh_open_every_100_ms(self):
        tracker = self.plug()
        probe = self.start_probe("wait-boot-loader")
        try:
            self.assertTrue(tracker.wait_received(lambda data: len(data) >= 6, 30))
        finally:
            self.kill_probe(probe)
        requests = self.of_kind("rx")[:6]
        self.assertEqual([b"1"] * 6, [e.data for e in requests])
        for earlier, later in zip(requests, requests[1:]):
            self.assert_within(REQUEST_GAP_S, later.t - earlier.t)
            # Closed after each unanswered request and opened again for the next.
            kinds = [e.kind for e in tracker.events() if earlier.t < e.t < later.t]
            self.assertEqual(["close", "open"], kinds)

    def test_an_answer_without_abort_keeps_the_port_open(self):
        tracker = self.plug(mode=sim.BOOT, answer="plain")
        probe = self.start_probe("wait-boot-loader")
        try:
            self.assertTrue(tracker.wait_received(lambda data: len(data) >= 4, 30))
            tracker.boot_loader.answer = "abort"
            result = self.finish_probe(probe)
        finally:
            if probe.poll() is None:
                self.kill_probe(probe)
        self.assertTrue(result["result"], result)
        self.assertEqual(1, len(self.of_kind("open")))
        requests = self.of_kind("rx")
        for earlier, later in zip(requests, requests[1:]):
            self.assert_within(REQUEST_GAP_S, later.t - earlier.t)

    def test_the_user_starts_the_boot_loader_while_the_program_asks(self):
        # The restart takes the tracker's USB device away for a moment, as a real one does.
        tracker = self.plug(reset_button_gone_s=1.0)
        probe = self.start_probe("wait-boot-loader")
        try:
            self.assertTrue(tracker.wait_received(lambda data: len(data) >= 3, 30))
            tracker.press_reset(hold_power=True)
            result = self.finish_probe(probe)
        finally:
            if probe.poll() is None:
                self.kill_probe(probe)
        self.assertTrue(result["result"], result)
        back = self.of_kind("back")[0]
        answer = self.of_kind("tx", after=back.t)[0]
        self.assertIn(b"abort", answer.data)


class ResetCommand(CommandPortCase):
    def test_reset_is_written_a_second_after_the_open(self):
        tracker = self.plug(mode=sim.BOOT, reset_return_s=None)
        result = self.probe("send-reset")
        self.assertEqual((True, True), (result["result"], result["handle_invalid"]), result)
        self.assert_within(RESET_MS, result["elapsed_ms"])
        opened, command = self.of_kind("open")[0], self.of_kind("rx")[0]
        self.assertEqual(b"2", tracker.received())
        self.assert_within(RESET_WRITE_AFTER_OPEN_S, command.t - opened.t)
        self.assertTrue(self.of_kind("gone"), "the tracker did not restart")

    def test_a_reset_that_cannot_go_out_is_not_taken_for_sent(self):
        # A tracker that takes nothing off the line: a write times out, and the driver still
        # reports success, with nothing written.
        tracker = self.plug(mode=sim.BOOT)
        tracker.stall_line(True)
        write = self.probe("write-byte")
        self.assertEqual((True, True, 0), (write["opened"], write["reported_ok"], write["written"]))
        result = self.probe("send-reset")
        self.assertEqual((False, True), (result["result"], result["handle_invalid"]), result)
        self.assert_within(RESET_MS, result["elapsed_ms"])
        self.assertFalse(self.of_kind("gone"))

    def test_the_power_on_wait_ends_when_the_port_is_back(self):
        tracker = self.plug(mode=sim.BOOT, reset_return_s=3.0)
        result = self.probe("reset-wait")
        self.assertEqual((True, ["succeeded"], True), (result["result"], result["reports"], result["handle_invalid"]))
        opened, gone, back = self.of_kind("open")[0], self.of_kind("gone")[0], self.of_kind("back")[0]
        # The wait lasted until the port came back; the port that came back was opened and closed
        # again (the program may open it before the tracker has logged its return), and nothing
        # more was written to it.
        self.assertIsNotNone(tracker.wait_event("close", 5, after=gone.t))
        self.assertEqual(["open", "close"], [e.kind for e in tracker.events()
                                             if e.t > gone.t and e.kind in ("open", "close")])
        self.assertEqual(b"2", tracker.received())
        self.assertGreater(result["elapsed_ms"], (back.t - opened.t) * 1000 - 50)


if __name__ == "__main__":
    unittest.main()
