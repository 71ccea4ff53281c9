"""The firmware transfer's port (WindowsSerialPort) and its entry point (UploadFirmware) on a real
COM port under Wine: a pseudo-terminal that the simulated tracker holds.

The probe runs the port's operations one step at a time and prints one JSON line per step, timed
with the performance counter: the port waits by polling in 10 ms sleeps, which a tick count
cannot resolve. Where the tracker has to act between two steps, the probe waits for a line on
its standard input ("await"), or announces the next step ("mark") and the test acts on seeing
it. Only spans of time are compared between the probe and the test, never points in time: the
performance counter under Wine and Python's monotonic clock need not start at the same moment.
"""

import json
import os
import select
import subprocess
import tempfile
import time
import unittest

from test_command_port import CommandPortCase, PROBE, PROBE_TIMEOUT_S
# Found on the path that test_command_port sets up.
import winenv  # noqa: E402
from sim import tracker as sim  # noqa: E402

BOOT_LOADER_BAUD = 115200

IN_USE = -102
ABSENT = -101

# A YMODEM data block as the boot loader gets it: every byte value, the line's flow-control
# characters (XON 0x11, XOFF 0x13) and line ends included, so that any translation shows.
FRAME = bytes([0x02, 0x01, 0xFE]) + bytes(range(256)) * 4 + bytes([0x5A, 0xA5])

# A single driver call takes well under a millisecond here; the port's poll step is a 10 ms
# sleep, so anything under 5 ms made no sleep. The best of several reads is taken, so that one
# read that the busy machine happened to hold up cannot fail the check.
NO_SLEEP_MS = 5
QUIET_READS = 5
# A read with a 25 ms wait sleeps 10 + 10 + 5 ms. Wine's sleeps end a little late, never much
# early; 40 ms for the best of five leaves room for a busy machine and still catches a wait
# that is counted in poll steps rather than in milliseconds.
WAIT_25_MS = (20, 40)
# A byte that arrives while a read waits is taken at the next poll, at most 10 ms later. The
# tracker sends one byte into each of five reads, 20 ms further into each, so that over the five
# the bytes fall all over a 100 ms cycle, and the median delay is checked: a busy machine may
# hold up one or two reads, while a poll step of 100 ms would give a median of 40 ms or more.
LATE_BYTE_OFFSETS_S = (0.2, 0.22, 0.24, 0.26, 0.28)
ARRIVAL_TO_RETURN_MEDIAN_MS = 25
# No read may wait anywhere near its own wait of 3000 ms once its byte is there.
ARRIVAL_TO_RETURN_MAX_MS = 500
# Bytes that are waiting are returned by the first driver call: nothing near the half second
# after which the tracker sends more.
WAITING_RETURN_MS = 100
LATER_BYTES_AFTER_S = 0.5
# Time for the kernel to move bytes that the tracker wrote into the port's input queue.
SETTLE_S = 0.2
# A write on a stalled line gives up after its wait: 300 ms, with room for a busy machine.
STALLED_WRITE_WAIT_MS = 300
STALLED_WRITE_MS = (STALLED_WRITE_WAIT_MS - 15, 3000)
# Failing on a port that is not there takes one attempt to open it; two seconds is room enough.
NO_PORT_MS = 2000
# How long a step may take before the probe is taken to hang in the driver.
STEP_TIMEOUT_S = 30
EVENT_TIMEOUT_S = 5


class StepProbe:
    """The probe running a list of steps on the port, read step by step as it goes."""

    def __init__(self, case, *arguments):
        self.case = case
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(["wine", str(PROBE)] + list(arguments), env=case.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.stderr)
        self.buffer = b""

    def next(self, step, timeout_s=STEP_TIMEOUT_S):
        """The next step's report, which must be of `step`, and when the test saw it."""
        deadline = time.monotonic() + timeout_s
        fd = self.proc.stdout.fileno()
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                self.case.fail("the probe did not finish %r within %d s; it is stuck in the driver" % (step, timeout_s))
            if select.select([fd], [], [], left)[0]:
                chunk = os.read(fd, 65536)
                if not chunk:
                    self.case.fail("the probe ended before %r: %s" % (step, self.errors()))
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        seen_at = time.monotonic()
        report = json.loads(line.decode())
        self.case.assertEqual(step, report.get("step"), report)
        return report, seen_at

    def go(self):
        """Lets the probe past its "await" step."""
        self.proc.stdin.write(b"go\n")
        self.proc.stdin.flush()

    def output(self):
        """Everything else the probe prints, once it has ended well."""
        out, _ = self.proc.communicate(timeout=PROBE_TIMEOUT_S)
        self.case.assertEqual(0, self.proc.returncode, self.errors())
        return (self.buffer + out).decode(errors="replace")

    def errors(self):
        """What the probe wrote to its standard error."""
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def stop(self):
        """Ends the probe if it still runs (a failed scenario may leave it waiting)."""
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.communicate()
        self.stderr.close()


class SerialPortCase(CommandPortCase):
    """The command port's scenarios' set-up (own prefix, wine server without CAP_SYS_ADMIN, one
    tracker per scenario), with the probe run step by step."""

    def steps(self, *steps, port="COM7"):
        """Starts the probe on the port's steps; it is ended when the scenario is over."""
        probe = StepProbe(self, "serial", port, *steps)
        self.addCleanup(probe.stop)
        return probe

    def program_moves(self):
        """The program's opens and closes of the port, as the tracker saw them."""
        return [e.kind for e in self.tracker.events() if e.kind in ("open", "close")]

    def settle(self):
        """Gives bytes that the tracker sent the time to reach the port's input queue."""
        time.sleep(SETTLE_S)


class Reads(SerialPortCase):
    """Read: how long it waits on a quiet line, what it returns of what is waiting, and how soon
    it returns a byte that comes while it waits."""

    def test_a_read_on_a_quiet_line_returns_nothing_once_its_wait_is_over(self):
        self.plug()
        probe = self.steps("open", "configure:%d" % BOOT_LOADER_BAUD, *["read:16:0"] * QUIET_READS,
                           *["read:16:25"] * QUIET_READS)
        self.assertEqual(0, probe.next("open")[0]["result"])
        self.assertEqual(0, probe.next("configure")[0]["result"])
        at_once = [probe.next("read")[0] for _ in range(QUIET_READS)]
        waited = [probe.next("read")[0] for _ in range(QUIET_READS)]
        self.assertEqual([0] * QUIET_READS * 2, [r["result"] for r in at_once + waited])
        # A wait of 0 is one look at the line, without a sleep.
        self.assertLess(min(r["elapsed_ms"] for r in at_once), NO_SLEEP_MS, at_once)
        # The whole wait, and not much more.
        self.assertGreaterEqual(min(r["elapsed_ms"] for r in waited), WAIT_25_MS[0], waited)
        self.assertLess(min(r["elapsed_ms"] for r in waited), WAIT_25_MS[1], waited)
        probe.output()

    def test_a_read_returns_what_is_waiting_without_waiting_for_more(self):
        tracker = self.plug()
        probe = self.steps("open", "configure:%d" % BOOT_LOADER_BAUD, "await", "read:100:2000", "read:100:3000")
        probe.next("open")
        probe.next("configure")
        tracker.send(b"C\x06\x15ACK!")
        self.settle()
        probe.go()
        probe.next("await")
        time.sleep(LATER_BYTES_AFTER_S)
        tracker.send(b"later")
        first = probe.next("read")[0]
        # Seven of the hundred: what was there, at once; the bytes that came later are not
        # waited for, and are left for the next read.
        self.assertEqual((7, b"C\x06\x15ACK!".hex()), (first["result"], first["data"]), first)
        self.assertLess(first["elapsed_ms"], WAITING_RETURN_MS, first)
        second = probe.next("read")[0]
        self.assertEqual((5, b"later".hex()), (second["result"], second["data"]), second)
        probe.output()

    def test_a_read_returns_a_byte_soon_after_it_arrives(self):
        tracker = self.plug()
        rounds = len(LATE_BYTE_OFFSETS_S)
        probe = self.steps("open", "configure:%d" % BOOT_LOADER_BAUD, *["mark", "read:1:3000"] * rounds)
        probe.next("open")
        probe.next("configure")
        delays = []
        for offset_s in LATE_BYTE_OFFSETS_S:
            _, reading_from = probe.next("mark")
            time.sleep(offset_s)
            tracker.send(b"C")
            sent = tracker.wait_event("tx", EVENT_TIMEOUT_S, after=reading_from)
            self.assertIsNotNone(sent)
            read = probe.next("read")[0]
            self.assertEqual((1, "43"), (read["result"], read["data"]), read)
            # The read started before the test saw the mark, so the byte came at least this far
            # into it; the read cannot have ended before it (but for clock rounding).
            arrived_ms = (sent.t - reading_from) * 1000
            self.assertGreaterEqual(read["elapsed_ms"], arrived_ms - 2, read)
            delays.append(read["elapsed_ms"] - arrived_ms)
        probe.output()
        self.assertLess(sorted(delays)[rounds // 2], ARRIVAL_TO_RETURN_MEDIAN_MS, delays)
        self.assertLess(max(delays), ARRIVAL_TO_RETURN_MAX_MS, delays)


class Opening(SerialPortCase):
    """Open's results for a missing and a busy port; Close and the destructor close once."""

    def test_a_port_that_no_device_has_is_absent(self):
        # COM7 is where the tracker was a moment ago; COM9 never had anything.
        for port in ("COM7", "COM9"):
            with self.subTest(port=port):
                probe = self.steps("open", port=port)
                opened = probe.next("open")[0]
                probe.output()
                self.assertEqual(ABSENT, opened["result"], opened)

    def test_a_port_held_by_another_program_is_in_use(self):
        tracker = self.plug()
        tracker.hold_exclusively(True)
        probe = self.steps("open", "await", "open", "close")
        held = probe.next("open")[0]
        tracker.hold_exclusively(False)
        probe.go()
        probe.next("await")
        released = probe.next("open")[0]
        self.assertEqual((IN_USE, 0), (held["result"], released["result"]), (held, released))
        probe.output()

    def test_closing_twice_closes_the_port_once(self):
        tracker = self.plug()
        probe = self.steps("open", "close", "close", "destroy", "await")
        for step in ("open", "close", "close", "destroy"):
            probe.next(step)
        # Closed by the port object, not by the probe's exit.
        self.assertIsNotNone(tracker.wait_event("close", EVENT_TIMEOUT_S))
        probe.go()
        probe.next("await")
        probe.output()
        self.assertEqual(["open", "close"], self.program_moves())

    def test_destroying_an_open_port_closes_it(self):
        tracker = self.plug()
        probe = self.steps("open", "destroy", "await")
        probe.next("open")
        probe.next("destroy")
        self.assertIsNotNone(tracker.wait_event("close", EVENT_TIMEOUT_S))
        probe.go()
        probe.next("await")
        probe.output()
        self.assertEqual(["open", "close"], self.program_moves())

    def test_a_port_closed_again_leaves_the_next_port_alone(self):
        # The first port object is closed, the second opens (Windows may hand it the handle
        # value that the first had), then the first is closed again and destroyed: the second
        # must still have the line.
        tracker = self.plug()
        probe = self.steps("open", "close", "other", "open", "configure:%d" % BOOT_LOADER_BAUD, "other", "close",
                           "destroy", "other", "write:4b56:1000", "read:16:0", "close")
        for step in ("open", "close", "other", "open", "configure", "other", "close", "destroy", "other"):
            probe.next(step)
        wrote = probe.next("write")[0]
        read = probe.next("read")[0]
        probe.next("close")
        probe.output()
        self.assertEqual((2, 0), (wrote["result"], read["result"]), (wrote, read))
        self.assertEqual(b"KV", tracker.received())
        self.assertEqual(["open", "close", "open", "close"], self.program_moves())
        write_at = self.of_kind("rx")[0].t
        self.assertEqual(["open", "close", "open"], [e.kind for e in tracker.events()
                                                     if e.kind in ("open", "close") and e.t < write_at])


class Configuring(SerialPortCase):
    """A line that another program left at 9600 baud with two stop bits: the speed and the frame
    change, the flow control stays as the driver had it, and bytes that belong to nobody are
    dropped."""

    def test_flow_control_that_the_driver_had_is_kept(self):
        self.check_set_up(flow=True)

    def test_a_line_without_flow_control_is_left_without(self):
        self.check_set_up(flow=False)

    def check_set_up(self, flow):
        tracker = self.plug()
        self.set_line(tracker, flow)
        probe = self.steps("open", "await", "configure:%d" % BOOT_LOADER_BAUD, "read:64:300", "await",
                           "read:64:3000", "close")
        probe.next("open")
        tracker.send(b"stale bytes")
        self.settle()
        probe.go()
        probe.next("await")
        self.assertEqual(0, probe.next("configure")[0]["result"])
        stale = probe.next("read")[0]
        self.assertEqual((0, ""), (stale["result"], stale["data"]), "the set-up kept what was waiting")
        settings = tracker.line_settings()
        self.assertEqual((BOOT_LOADER_BAUD, 1, flow, flow, flow),
                         (settings.baud, settings.stop_bits, settings.rtscts, settings.ixon, settings.ixoff))
        # The line still works: what comes after the set-up is read.
        tracker.send(b"C")
        self.settle()
        probe.go()
        probe.next("await")
        fresh = probe.next("read")[0]
        self.assertEqual((1, "43"), (fresh["result"], fresh["data"]), fresh)
        probe.next("close")
        probe.output()


class Writing(SerialPortCase):
    """Write: a block goes out unchanged; a line that takes nothing does not hold the write."""

    def test_a_frame_reaches_the_tracker_byte_for_byte(self):
        tracker = self.plug()
        probe = self.steps("open", "configure:%d" % BOOT_LOADER_BAUD, "write:%s:1000" % FRAME.hex(), "close")
        probe.next("open")
        probe.next("configure")
        wrote = probe.next("write")[0]
        probe.next("close")
        probe.output()
        # A frame of 1029 bytes fits the line's buffer, so the driver takes it in one call.
        self.assertEqual(len(FRAME), wrote["result"], wrote)
        self.assertTrue(tracker.wait_received(lambda data: len(data) >= len(FRAME), EVENT_TIMEOUT_S))
        self.assertEqual(FRAME.hex(), tracker.received().hex())

    def test_a_write_on_a_stalled_line_gives_up_after_its_wait(self):
        tracker = self.plug(mode=sim.BOOT)
        tracker.stall_line(True)
        probe = self.steps("open", "configure:%d" % BOOT_LOADER_BAUD,
                           "write:%s:%d" % (FRAME[:133].hex(), STALLED_WRITE_WAIT_MS), "close")
        probe.next("open")
        probe.next("configure")
        # The port does its waiting itself; the driver must not hold the write.
        wrote = probe.next("write", timeout_s=STALLED_WRITE_MS[1] / 1000 * 3)[0]
        probe.next("close")
        probe.output()
        self.assertEqual(0, wrote["result"], wrote)
        self.assert_within(STALLED_WRITE_MS, wrote["elapsed_ms"])
        self.assertEqual(b"", tracker.received())


class Upload(SerialPortCase):
    """UploadFirmware's early failures: they end the upload without a word of sending."""

    def setUp(self):
        super().setUp()
        folder = tempfile.TemporaryDirectory(dir=winenv.BUILD_DIR)
        self.addCleanup(folder.cleanup)
        self.firmware = os.path.join(folder.name, "firmware.bin")
        with open(self.firmware, "wb") as f:
            f.write(FRAME * 2)
        self.missing = os.path.join(folder.name, "missing.bin")

    def upload(self, firmware):
        """UploadFirmware on COM7 with firmware as the chosen file; the probe's output lines."""
        probe = StepProbe(self, "upload", "COM7", winenv.windows_path(firmware))
        self.addCleanup(probe.stop)
        return probe.output().splitlines()

    def test_no_tracker_fails_before_anything_is_said(self):
        lines = self.upload(self.firmware)
        # Only the probe's own report: not even the "Sending" line, and no waiting for a port
        # that is not there.
        self.assertEqual(1, len(lines), lines)
        report = json.loads(lines[0])
        self.assertEqual(1, report["result"])
        self.assertLess(report["elapsed_ms"], NO_PORT_MS, report)

    def test_a_missing_firmware_file_fails_with_nothing_sent(self):
        tracker = self.plug(mode=sim.BOOT)
        lines = self.upload(self.missing)
        self.assertEqual(1, json.loads(lines[-1])["result"], lines)
        self.assertFalse([line for line in lines if "Sent OK" in line or "Sending" in line], lines)
        # The port was opened, set up for the boot loader and given back; nothing went out.
        self.assertEqual(["open", "close"], self.program_moves())
        self.assertEqual(BOOT_LOADER_BAUD, tracker.line_settings().baud)
        self.assertEqual(b"", tracker.received())


if __name__ == "__main__":
    unittest.main()
