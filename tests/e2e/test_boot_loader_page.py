"""The boot-loader page of the "upgrade only" job with the simulated tracker: the program keeps
asking for the boot loader until the user holds the power button and presses Reset, and the page
closes once the boot loader has answered; with no tracker it gives up after 40 s and says so."""

import time
import unittest

from kvwizard import ERROR_CAPTION, IDOK, PORT_BOX, TIMEOUT_TEXT, WizardScenario
from sim.tracker import BOOT
from sim.ymodem import ReceiverOptions

BOOT_LOADER_REQUEST = b"1"
# The program asks about every 100 ms; on a shared machine a request may come late.
REQUEST_INTERVAL_RANGE_S = (0.09, 0.4)
# The answer is read 100 ms after the request, which follows the open at once; the page closes
# 500 ms later.
OPEN_TO_CLOSE_RANGE_S = (0.55, 1.6)
LIMIT_S = 40.0
# The limit, then a 1 s pause, then the error box; allow for a busy machine.
GIVE_UP_RANGE_S = (LIMIT_S + 0.9, LIMIT_S + 6.0)


class BootLoaderPage(WizardScenario):
    def test_page_closes_once_the_boot_loader_answers(self):
        # A boot loader that does not ask for the file yet keeps page 6 open for the picture.
        tracker = self.plug_tracker(port=7, receiver=ReceiverOptions(start=None))
        main, page5 = self.open_boot_loader_page(self.firmware_file("kv718a-new.dfu"))
        self.assertEqual("COM7", self.robot.get(page5, PORT_BOX)["text"])
        self.shoot("boot-loader-page")

        # In normal mode the tracker ignores the request: the program keeps asking, opening the
        # port afresh for every request.
        self.assertTrue(tracker.wait_received(lambda data: data.count(BOOT_LOADER_REQUEST) >= 5, 10))
        requests = [e.t for e in tracker.events() if e.kind == "rx"]
        gaps = self.measured("request_gaps_s", [b - a for a, b in zip(requests, requests[1:])])
        self.assertTrue(all(REQUEST_INTERVAL_RANGE_S[0] <= g <= REQUEST_INTERVAL_RANGE_S[1] for g in gaps), gaps)
        self.assertEqual(set(tracker.received()), {BOOT_LOADER_REQUEST[0]})
        self.expect_running()
        self.assertTrue(self.robot.get(page5)["visible"])

        tracker.press_reset(hold_power=True)
        answer = tracker.wait_event("tx", timeout_s=10)
        self.assertIsNotNone(answer, "the boot loader did not answer")
        self.assertIn(b"abort", answer.data)
        page6 = self.wait_page(6, page5)
        answered_port = [e for e in tracker.events() if e.kind == "open" and e.t < answer.t][-1]
        closed_after = self.measured("page5_closed_after_open_s", time.monotonic() - answered_port.t)
        self.assertTrue(OPEN_TO_CLOSE_RANGE_S[0] <= closed_after <= OPEN_TO_CLOSE_RANGE_S[1], closed_after)
        # The program let go of the port before the page closed.
        close = tracker.wait_event("close", timeout_s=0, after=answer.t)
        self.assertIsNotNone(close)
        self.assertLess(close.t - answer.t, OPEN_TO_CLOSE_RANGE_S[1])
        self.shoot("upload-page")
        self.leave_program(page6)

    def test_boot_loader_found_on_the_port_the_restart_brought(self):
        # Restarting can bring the tracker back as a new device on another port; the program
        # learns the new name from the system's device notifications and asks there.
        old = self.plug_tracker(port=7)
        main, page5 = self.open_boot_loader_page(self.firmware_file("kv718a-new.dfu"))
        self.assertTrue(old.wait_received(lambda data: len(data) >= 2, 10))
        self.unplug_tracker(old)
        new = self.plug_tracker(port=8, mode=BOOT)
        self.device_change(main, 2)
        self.robot.until(page5, PORT_BOX, text="COM8")
        self.wait_page(6, page5)
        self.assertEqual(BOOT_LOADER_REQUEST, new.received()[:1])
        self.assertIn(b"abort", new.wait_event("tx", timeout_s=0).data)

    def test_no_tracker_gives_up_after_forty_seconds(self):
        main, page5 = self.open_boot_loader_page(self.firmware_file("kv718a-new.dfu"))
        shown = time.monotonic()
        self.assertEqual("", self.robot.get(page5, PORT_BOX)["text"])
        box = self.robot.box(owner=page5, timeout=int((GIVE_UP_RANGE_S[1] + 5) * 1000))
        waited = self.measured("error_box_after_s", time.monotonic() - shown)
        self.shoot("timeout-error")
        self.assertEqual((ERROR_CAPTION, TIMEOUT_TEXT, [IDOK]), (box["caption"], box["text"], box["buttons"]))
        self.assertTrue(GIVE_UP_RANGE_S[0] <= waited <= GIVE_UP_RANGE_S[1], waited)
        # Then the page asks whether to close the program.
        self.leave_after_error(page5, box)


if __name__ == "__main__":
    unittest.main()
