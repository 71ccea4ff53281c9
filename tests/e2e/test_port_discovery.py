"""Port discovery as the connect page shows it: the tracker's port in the box and a Next button
that follows the tracker as it comes and goes, for the bridges that match and not for others."""

import time
import unittest

from harness import presence
from kvwizard import NEXT, PORT_BOX, WizardScenario

# Long enough for a scan (500 ms per matching device) to have shown its result had it run.
NO_SCAN_WATCH_MS = 1500


class ConnectPage(WizardScenario):
    def open_connect_page(self):
        main, page1 = self.open_wizard()
        self.pick_job(page1, 2)
        return main, self.wait_page(2, page1)

    def test_next_follows_the_tracker(self):
        main, page2 = self.open_connect_page()
        self.assertEqual("", self.robot.get(page2, PORT_BOX)["text"])
        self.assert_cannot_press(page2, NEXT)

        tracker = self.plug_tracker(port=7)
        # Every second device notification starts a scan; the first alone does not.
        self.device_change(main)
        self.assert_not_within(NO_SCAN_WATCH_MS, page2, NEXT, usable=1)
        self.assertEqual("", self.robot.get(page2, PORT_BOX)["text"])
        self.device_change(main)
        self.robot.until(page2, PORT_BOX, text="COM7")
        self.robot.until(page2, NEXT, usable=1)
        self.shoot("tracker-found")

        self.unplug_tracker(tracker)
        self.device_change(main, 2)
        self.robot.until(page2, PORT_BOX, text="")
        self.robot.until(page2, NEXT, enabled=0)
        self.shoot("tracker-gone")
        self.assert_cannot_press(page2, NEXT)

    def test_tracker_present_when_the_page_opens(self):
        self.plug_tracker(port=7)
        main, page2 = self.open_connect_page()
        # The page's own scan has run before it is shown.
        self.assertEqual("COM7", self.robot.get(page2, PORT_BOX)["text"])
        self.assertTrue(self.robot.get(page2, NEXT)["usable"])

    def test_prolific_bridge(self):
        self.plug_tracker(port=8, kind=presence.PROLIFIC)
        main, page2 = self.open_connect_page()
        self.assertEqual("COM8", self.robot.get(page2, PORT_BOX)["text"])
        self.assertTrue(self.robot.get(page2, NEXT)["usable"])

    def test_other_serial_ports_are_ignored(self):
        self.plug_tracker(port=12, kind=presence.GENERIC_USB_SERIAL)
        main, page2 = self.open_connect_page()
        self.assertEqual("", self.robot.get(page2, PORT_BOX)["text"])
        self.assertFalse(self.robot.get(page2, NEXT)["usable"])
        # The scan does run while that port is there: a tracker plugged in beside it is found.
        self.plug_tracker(port=7)
        self.device_change(main, 2)
        self.robot.until(page2, PORT_BOX, text="COM7")
        self.robot.until(page2, NEXT, usable=1)

    def test_two_trackers_the_last_one_listed_wins(self):
        # Wine lists devices in key order: the STM bridge (VID_0483) before the Prolific (VID_067B).
        self.plug_tracker(port=7, kind=presence.STM_VCP)
        self.plug_tracker(port=8, kind=presence.PROLIFIC)
        main, page1 = self.open_wizard()
        self.pick_job(page1, 2)
        clicked = time.monotonic()
        page2 = self.wait_page(2, page1)
        # Each matching device costs the scan 500 ms before the page can show.
        self.assertGreaterEqual(time.monotonic() - clicked, 1.0)
        self.assertEqual("COM8", self.robot.get(page2, PORT_BOX)["text"])


if __name__ == "__main__":
    unittest.main()
