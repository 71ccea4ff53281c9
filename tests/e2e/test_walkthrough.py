"""A user's walks through the wizard with the simulated tracker plugged in, as far as the program
goes today: every page on the way is checked and photographed. scripts/run.sh shows this walk
when there is no display to click through the wizard on."""

import unittest

from kvwizard import CANCEL, IDCANCEL, NEXT, PORT_BOX, PROGRESS, WizardScenario
from sim.ymodem import ReceiverOptions


class Walkthrough(WizardScenario):
    def test_keep_settings_job_up_to_saving_the_settings(self):
        self.plug_tracker(port=7)
        main, page1 = self.open_wizard()
        self.shoot("page1-job")
        self.pick_job(page1, 0)

        page3 = self.wait_page(3, page1)
        self.shoot("page3-firmware-file")
        firmware = self.firmware_file("kv718a-new.dfu")
        self.choose_firmware(page3, firmware)
        self.shoot("page3-file-chosen")
        self.robot.click(page3, NEXT)

        page2 = self.wait_page(2, page3)
        self.assertEqual("COM7", self.robot.get(page2, PORT_BOX)["text"])
        self.shoot("page2-connect")
        self.robot.click(page2, NEXT)

        page4 = self.wait_page(4, page2)
        progress = self.robot.get(page4, PROGRESS)
        self.assertEqual(("msctls_progress32", 0), (progress["class"], progress["pos"]))
        self.assertFalse(self.robot.get(page4, NEXT)["visible"])
        self.shoot("page4-saving-settings")

        # Saving the settings is not built yet: the page waits, and the user can only leave.
        box = self.exit_question(page4)
        self.shoot("exit-question")
        self.robot.click(box["hwnd"], IDCANCEL)
        self.robot.until(page4, CANCEL, usable=1)
        self.leave_program(page4)

    def test_upgrade_only_job_from_start_to_finish(self):
        # At the tracker's real line speed the upload takes a few seconds, long enough to watch.
        tracker = self.plug_tracker(port=7, receiver=ReceiverOptions(paced=True))
        firmware = self.firmware_file("kv718a-new.dfu", 32 * 1024)
        main, page5 = self.open_boot_loader_page(firmware)
        self.assertEqual("COM7", self.robot.get(page5, PORT_BOX)["text"])
        self.shoot("page5-boot-loader")
        # What the page asks of the user: hold the power button and press Reset.
        tracker.press_reset(hold_power=True)

        page6 = self.wait_page(6, page5)
        self.robot.until(page6, PROGRESS, pos=16)
        self.shoot("page6-upload")
        page9 = self.wait_page(9, page6)
        self.assertEqual(firmware.read_bytes(), tracker.wait_upload(10).data)
        self.shoot("page9-finish")
        self.robot.click(page9, NEXT)
        self.expect_exit(0)

if __name__ == "__main__":
    unittest.main()
