"""The program's two ports on a real COM port under Wine: the command port, over which the
boot-loader and reset exchanges run, and the firmware transfer's port. Each scenario sets up the
simulated tracker, runs the program's code in the probe, and holds what the probe reports
against what the tracker saw, in order. How long things take is the benchmark's (bench_port.py).
"""

import os
import tempfile
import unittest

from portprobe import EVENT_TIMEOUT_S, PortCase, sim, winenv
from sim.bootloader import WAITING_TEXT

BAUD = 115200
CONFIGURE = "configure:%d" % BAUD
ABSENT, IN_USE = -101, -102
# Longer than any deadline here: a read that waits for more than is there never returns in time.
FOR_EVER_MS = 600000


class LineSetUp(PortCase):
    def test_the_frame_is_forced_and_flow_control_dropped_or_kept(self):
        # steps, the flow control that another program left, the flow control after the steps
        cases = [(["tracker-open"], True, False),
                 (["open", CONFIGURE, "close"], True, True),
                 (["open", CONFIGURE, "close"], False, False)]
        for steps, flow, after in cases:
            with self.subTest(steps=steps, flow=flow):
                tracker = self.plug()
                self.set_line(flow)
                self.probe(*steps).end()
                self.assertEqual((BAUD, 1, after, after, after), tuple(tracker.line_settings()))

    def test_a_read_returns_what_is_waiting_and_leaves_what_comes_later(self):
        tracker = self.plug()
        tracker.send(b"stale")  # from before the transfer: the set-up drops it
        probe = self.probe("open", CONFIGURE, "read:100:%d" % FOR_EVER_MS, "read:100:%d" % FOR_EVER_MS, "close")
        self.assertEqual([0, 0], [probe.next(step)["result"] for step in ("open", "configure")])
        tracker.send(b"C\x06\x15ACK!")
        self.assertEqual(b"C\x06\x15ACK!".hex(), probe.next("read")["data"])
        tracker.send(b"later")
        self.assertEqual(b"later".hex(), probe.next("read")["data"])
        probe.next("close")
        probe.end()


class Opening(PortCase):
    def test_an_absent_or_held_port_does_not_open(self):
        for port in ("COM7", "COM9"):  # where a tracker was a moment ago; where none ever was
            with self.subTest(absent=port):
                probe = self.probe("tracker-open", "open", port=port)
                self.assertEqual((0, ABSENT), (probe.next("tracker-open")["opened"], probe.next("open")["result"]))
                probe.end()
        tracker = self.plug()
        tracker.hold_exclusively(True)
        probe = self.probe("tracker-open", "open", "await", "tracker-open", "open", "close")
        held = (probe.next("tracker-open")["opened"], probe.next("open")["result"])
        tracker.hold_exclusively(False)
        probe.go()
        released = (probe.next("tracker-open")["opened"], probe.next("open")["result"])
        self.assertEqual(((0, IN_USE), (1, 0)), (held, released))

    def test_each_port_object_closes_the_port_once(self):
        # The first object is closed; the second opens (Windows may hand it the first one's
        # handle value); the first is closed again and destroyed: the second still has the line.
        # Destroying the second, open, closes the port before the probe ends.
        tracker = self.plug()
        steps = ("open", "close", "other", "open", "other", "close", "destroy", "other")
        probe = self.probe(*steps, "write:KV:1000", "destroy", "await")
        for step in steps:
            probe.next(step)
        self.assertEqual(2, probe.next("write")["result"])
        probe.next("destroy")
        self.assertTrue(tracker.wait_received(lambda data: data == b"KV", EVENT_TIMEOUT_S))
        first_close = tracker.wait_event("close", EVENT_TIMEOUT_S)
        self.assertIsNotNone(tracker.wait_event("close", EVENT_TIMEOUT_S, after=first_close.t))
        probe.go()
        probe.end()
        self.assertEqual(["open", "close", "open", "close"], [e.kind for e in self.events("open", "close")])

    def test_an_upload_that_cannot_begin_says_and_sends_nothing(self):
        folder = tempfile.TemporaryDirectory(dir=winenv.BUILD_DIR)
        self.addCleanup(folder.cleanup)
        image = os.path.join(folder.name, "image.bin")
        with open(image, "wb") as f:
            f.write(bytes(range(256)) * 8)

        def upload(path):
            probe = self.probe("upload:" + winenv.windows_path(path))
            # A line such as "Sending" would come before the report, and fail it.
            self.assertEqual(1, probe.next("upload")["result"])
            probe.end()

        upload(image)  # no tracker
        tracker = self.plug(mode=sim.BOOT)
        set_up = self.set_line(flow=True).t
        upload(os.path.join(folder.name, "gone.bin"))
        # The port was set up for the boot loader, flow control kept, and closed with nothing sent.
        self.assertIsNotNone(tracker.wait_event("close", EVENT_TIMEOUT_S, after=set_up))
        self.assertEqual((BAUD, 1, True, True, True), tuple(tracker.line_settings()))
        self.assertEqual(b"", tracker.received())


class Exchanges(PortCase):
    def test_a_silent_tracker_is_asked_on_fresh_opens_until_its_boot_loader_answers(self):
        tracker = self.plug()
        tracker.send(WAITING_TEXT)  # an answer from before, which the open drops
        probe = self.probe("boot-loader")
        self.assertTrue(tracker.wait_received(lambda data: len(data) >= 3, EVENT_TIMEOUT_S))
        tracker.press_reset(hold_power=True)
        result = probe.next("boot-loader")
        self.assertEqual((1, 1), (result["result"], result["handle_invalid"]))
        probe.end()
        requests = self.events("rx")
        self.assertEqual([b"1"] * len(requests), [e.data for e in requests])
        for earlier, later in zip(requests, requests[1:]):  # unanswered: closed, and opened afresh
            self.assertEqual(["close", "open"],
                             [e.kind for e in self.events("open", "close", after=earlier.t) if e.t < later.t])
        # The boot loader answered, the port was closed after the answer and not opened again.
        closed = tracker.wait_event("close", EVENT_TIMEOUT_S, after=requests[-1].t)
        answers = [e for e in self.events("tx", after=self.events("reset")[0].t) if b"abort" in e.data]
        self.assertTrue(answers and answers[0].t < closed.t, answers)
        self.assertEqual([closed], self.events("open", "close", after=requests[-1].t))

    def test_the_reset_goes_out_after_the_open(self):
        tracker = self.plug(mode=sim.BOOT, reset_return_s=None)
        probe = self.probe("reset")
        result = probe.next("reset")
        self.assertEqual((1, 1), (result["result"], result["handle_invalid"]))
        probe.end()
        gone = tracker.wait_event("gone", EVENT_TIMEOUT_S)
        self.assertEqual([("open", None), ("rx", b"2")],
                         [(e.kind, e.data) for e in self.events("open", "close", "rx") if e.t < gone.t])

    def test_a_stalled_line_takes_neither_the_reset_nor_a_frame(self):
        tracker = self.plug(mode=sim.BOOT)
        tracker.stall_line(True)
        probe = self.probe("reset", "open", CONFIGURE, "write:%s:300" % ("x" * 133), "close")
        reset = probe.next("reset")
        self.assertEqual((0, 1), (reset["result"], reset["handle_invalid"]), "taken for sent")
        self.assertEqual([0, 0, 0], [probe.next(step)["result"] for step in ("open", "configure", "write")])
        probe.next("close")
        probe.end()
        first_close = tracker.wait_event("close", EVENT_TIMEOUT_S)
        self.assertIsNotNone(tracker.wait_event("close", EVENT_TIMEOUT_S, after=first_close.t))
        self.assertEqual(b"", tracker.received())
        self.assertEqual(["open", "close", "open", "close"], [e.kind for e in self.events("open", "close", "gone")])


if __name__ == "__main__":
    unittest.main()
