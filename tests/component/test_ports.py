"""The program's COM port on a real COM port under Wine, in its two line profiles: the command
exchanges' (the boot-loader and reset exchanges run over it) and the firmware transfer's. Each scenario sets up the
simulated tracker, runs the program's code in the probe, and holds what the probe reports
against what the tracker saw, in order. How long things take is the benchmark's.
"""

import unittest

from harness.portprobe import EVENT_TIMEOUT_S, PortCase, sim
from sim.bootloader import WAITING_TEXT

BAUD = 115200
# Longer than any deadline here: a read that waits for more than is there never returns in time.
READ = "read:100:600000"


class LineSetUp(PortCase):
    def test_reads_take_what_waits_and_each_port_object_closes_the_port_once(self):
        tracker = self.plug()
        tracker.send(b"stale")  # from before the transfer: the set-up drops it
        # The first object reads, and is closed; the second opens (Windows may hand it the first
        # one's handle value); the first is closed again and destroyed: the second still has the
        # line. Destroying the second, open, closes the port before the probe ends.
        probe = self.probe("open", READ, READ, "read:1:300", "close", "other", "open", "other", "close",
                           "destroy", "other", "write:KV:1000", "destroy", "await")
        self.assertEqual(1, probe.next("open")["opened"])
        for data in (b"C\x06\x15ACK!", b"later"):
            tracker.send(data)
            self.assertEqual(data.hex(), probe.next("read")["data"])
        quiet = probe.next("read")  # a quiet line: the read waits as long as it is told
        self.assertEqual(("", True), (quiet["data"], quiet["ms"] >= 250), quiet)
        for step in ("close", "other", "open", "other", "close", "destroy", "other"):
            probe.next(step)
        self.assertEqual(2, probe.next("write")["result"])
        probe.next("destroy")
        self.assertTrue(tracker.wait_received(lambda data: data == b"KV", EVENT_TIMEOUT_S))
        first_close = tracker.wait_event("close", EVENT_TIMEOUT_S)
        self.assertIsNotNone(tracker.wait_event("close", EVENT_TIMEOUT_S, after=first_close.t))
        probe.go()
        probe.end()
        self.assertEqual(["open", "close", "open", "close"], [e.kind for e in self.events("open", "close")])


class Opening(PortCase):
    def test_an_absent_or_held_port_does_not_open(self):
        for port in ("COM7", "COM9"):  # where a tracker was a moment ago; where none ever was
            with self.subTest(absent=port):
                probe = self.probe("tracker-open", "open", port=port)
                self.assertEqual((0, 0), (probe.next("tracker-open")["opened"], probe.next("open")["opened"]))
                probe.end()
        tracker = self.plug()
        tracker.hold_exclusively(True)
        probe = self.probe("tracker-open", "open", "await", "tracker-open", "open", "close")
        held = (probe.next("tracker-open")["opened"], probe.next("open")["opened"])
        tracker.hold_exclusively(False)
        probe.go()
        released = (probe.next("tracker-open")["opened"], probe.next("open")["opened"])
        self.assertEqual(((0, 0), (1, 1)), (held, released))


class Exchanges(PortCase):
    def test_a_silent_tracker_is_asked_until_its_boot_loader_answers(self):
        tracker = self.plug()
        tracker.send(WAITING_TEXT)  # an answer from before, which the open drops
        probe = self.probe("boot-loader")
        self.assertTrue(tracker.wait_received(lambda data: len(data) >= 3, EVENT_TIMEOUT_S))
        tracker.press_reset(hold_power=True)
        result = probe.next("boot-loader")
        self.assertEqual((1, 1), (result["result"], result["handle_invalid"]))
        probe.end()
        # The boot loader answered, the port was closed after the answer and not opened again.
        last_request = self.events("rx")[-1]
        closed = tracker.wait_event("close", EVENT_TIMEOUT_S, after=last_request.t)
        answers = [e for e in self.events("tx", after=self.events("reset")[0].t) if b"abort" in e.data]
        self.assertTrue(answers and answers[0].t < closed.t, answers)
        self.assertEqual([closed], self.events("open", "close", after=last_request.t))

    def test_a_stalled_line_takes_neither_the_reset_nor_a_frame(self):
        tracker = self.plug(mode=sim.BOOT)
        tracker.stall_line(True)
        probe = self.probe("reset", "open", "write:%s:300" % ("x" * 133), "close")
        reset = probe.next("reset")
        self.assertEqual((0, 1), (reset["result"], reset["handle_invalid"]), "taken for sent")
        self.assertEqual((1, 0), (probe.next("open")["opened"], probe.next("write")["result"]))
        probe.next("close")
        probe.end()
        first_close = tracker.wait_event("close", EVENT_TIMEOUT_S)
        self.assertIsNotNone(tracker.wait_event("close", EVENT_TIMEOUT_S, after=first_close.t))
        self.assertEqual(b"", tracker.received())
        self.assertEqual(["open", "close", "open", "close"], [e.kind for e in self.events("open", "close", "gone")])


if __name__ == "__main__":
    unittest.main()
