"""The main window: its title, the Start button that opens the job page, and how closing it
ends the program."""

import unittest

from kvwizard import JOB_RADIOS, MAIN_TITLE, NEXT, CANCEL, PAGE_TITLE, START, WizardScenario


class MainWindow(WizardScenario):
    def test_title_and_start_button(self):
        main = self.start_program()
        self.shoot("main-window")
        window = self.robot.get(main)
        self.assertEqual(MAIN_TITLE, window["text"])
        self.assertTrue(window["usable"])
        start = self.robot.get(main, START)
        self.assertEqual("Старт", start["text"])
        self.assertTrue(start["usable"])
        self.robot.wait_window(MAIN_TITLE, contains="Для продолжения нажмите кнопку Старт.", timeout=0)

    def test_start_opens_job_page_with_first_job_selected(self):
        main, page = self.open_wizard()
        self.shoot("job-page")
        self.assertEqual(PAGE_TITLE, self.robot.get(page)["text"])
        self.assertEqual(main, int(self.robot.get(page)["owner"], 16))
        self.assertEqual([1, 0, 0], [self.robot.get(page, JOB_RADIOS[job])["checked"] for job in (0, 1, 2)])
        self.assertTrue(self.robot.get(page, NEXT)["usable"])
        self.assertTrue(self.robot.get(page, CANCEL)["usable"])
        # The page is modal: the main window and its Start button can't be used under it.
        self.assertFalse(self.robot.get(main)["enabled"])
        self.assert_cannot_press(main, START)

    def test_esc_closes_main_window_and_ends_program(self):
        main = self.start_program()
        self.robot.key(main, "esc")
        self.robot.gone(main)
        self.expect_exit(0)

    def test_title_bar_close_ends_program(self):
        main = self.start_program()
        self.robot.close(main)
        self.robot.gone(main)
        self.expect_exit(0)


if __name__ == "__main__":
    unittest.main()
