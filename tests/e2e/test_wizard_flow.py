"""The page sequence of each job as far as the pages without a worker reach, the file page's
open-file dialog, and the exit question that Cancel, Esc and the title bar ask on a page."""

import unittest

import winenv
from kvwizard import (CANCEL, CHOOSE_FILE, FIRMWARE_PATH, IDCANCEL, JOB_RADIOS, NEXT, OPEN_FILE_TIMEOUT_MS,
                      OPEN_FILE_TITLE, PORT_BOX, WizardScenario)


class JobChoice(WizardScenario):
    def test_job0_keep_settings_goes_to_file_page(self):
        main, page1 = self.open_wizard()
        # The first job is selected from the start: Next alone chooses it.
        self.robot.click(page1, NEXT)
        page3 = self.wait_page(3, page1)
        self.shoot("file-page")
        self.assertEqual("", self.robot.get(page3, FIRMWARE_PATH)["text"])
        self.assertFalse(self.robot.get(page3, NEXT)["usable"])
        self.assertTrue(self.robot.get(page3, CHOOSE_FILE)["usable"])
        self.assertFalse(self.robot.get(main)["enabled"])

    def test_job1_upgrade_only_goes_to_file_page(self):
        main, page1 = self.open_wizard()
        self.pick_job(page1, 1)
        self.wait_page(3, page1)

    def test_job2_restore_goes_to_connect_page(self):
        main, page1 = self.open_wizard()
        self.pick_job(page1, 2)
        page2 = self.wait_page(2, page1)
        self.shoot("connect-page")
        self.assertFalse(self.robot.get(page2, NEXT)["usable"])


class FilePage(WizardScenario):
    def test_next_waits_for_a_firmware_file(self):
        firmware = self.firmware_file()
        main, page1 = self.open_wizard()
        self.pick_job(page1, 1)
        page3 = self.wait_page(3, page1)
        self.assert_cannot_press(page3, NEXT)
        self.choose_firmware(page3, firmware)
        self.shoot("file-chosen")
        # Job 1 skips the connect page: the boot-loader page comes next, with its port box.
        self.robot.click(page3, NEXT)
        page5 = self.wait_page(5, page3)
        self.shoot("boot-loader-page")
        self.assertFalse(self.robot.get(page5, NEXT)["visible"])
        self.robot.get(page5, PORT_BOX)
        self.leave_program(page5)

    def test_cancelled_open_file_dialog_changes_nothing(self):
        main, page1 = self.open_wizard()
        self.robot.click(page1, NEXT)
        page3 = self.wait_page(3, page1)
        self.robot.click(page3, CHOOSE_FILE)
        dialog = self.robot.wait_window(OPEN_FILE_TITLE, cls="#32770", timeout=OPEN_FILE_TIMEOUT_MS)
        self.robot.click(dialog, IDCANCEL)
        self.robot.gone(dialog)
        self.robot.until(page3, CHOOSE_FILE, usable=1)
        self.assertEqual("", self.robot.get(page3, FIRMWARE_PATH)["text"])
        self.assertFalse(self.robot.get(page3, NEXT)["usable"])

    def test_cancelled_second_choice_keeps_the_first_file(self):
        firmware = self.firmware_file()
        main, page1 = self.open_wizard()
        self.robot.click(page1, NEXT)
        page3 = self.wait_page(3, page1)
        self.choose_firmware(page3, firmware)
        self.robot.click(page3, CHOOSE_FILE)
        dialog = self.robot.wait_window(OPEN_FILE_TITLE, cls="#32770", timeout=OPEN_FILE_TIMEOUT_MS)
        self.robot.click(dialog, IDCANCEL)
        self.robot.gone(dialog)
        self.robot.until(page3, NEXT, usable=1)
        self.assertEqual(winenv.windows_path(firmware), self.robot.get(page3, FIRMWARE_PATH)["text"])


class ExitQuestion(WizardScenario):
    def test_cancel_keeps_the_page_and_ok_ends_the_program(self):
        main, page1 = self.open_wizard()
        self.robot.click(page1, JOB_RADIOS[2])
        self.robot.until(page1, JOB_RADIOS[2], checked=1)
        box = self.exit_question(page1, "cancel")
        self.shoot("exit-question")
        self.assert_cannot_press(page1, NEXT)
        self.robot.click(box["hwnd"], IDCANCEL)
        self.robot.gone(box["hwnd"])
        # The same page, as it was, and usable again.
        self.robot.until(page1, NEXT, usable=1)
        self.assertEqual(page1, self.wait_page(1))
        self.assertEqual(1, self.robot.get(page1, JOB_RADIOS[2])["checked"])
        self.expect_running()
        self.leave_program(page1, "cancel")

    def test_esc_on_a_page_asks_before_ending(self):
        main, page1 = self.open_wizard()
        self.robot.click(page1, NEXT)
        page3 = self.wait_page(3, page1)
        self.leave_program(page3, "esc")

    def test_title_bar_close_on_a_page_asks_before_ending(self):
        main, page1 = self.open_wizard()
        self.pick_job(page1, 2)
        page2 = self.wait_page(2, page1)
        box = self.exit_question(page2, "close")
        self.robot.click(box["hwnd"], IDCANCEL)
        self.robot.until(page2, CANCEL, usable=1)
        self.expect_running()
        self.leave_program(page2, "close")


if __name__ == "__main__":
    unittest.main()
