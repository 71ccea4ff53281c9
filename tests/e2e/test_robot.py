"""The robot proves itself on its own test target (tests/robot/target.cpp) before the program's
scenarios trust it: it must read what is there, press what a user could press, refuse what a
user could not, answer message boxes and the open-file dialog, and the harness must see exit
codes, standard output and crashes."""

import unittest

import harness
import winenv

TITLE = "Robot Target"
NEXT, CANCEL, FIRST, SECOND, PATH, OPEN = 1, 2, 1007, 1008, 1003, 1010
FREE_TEXT, PROGRESS, DEVICE_COUNT, HIDDEN, ASK, REOPEN, CRASH = 1004, 1006, 1020, 1011, 1012, 1013, 1014


class RobotOnTarget(harness.ScenarioCase):
    program = winenv.BUILD_DIR / "tests" / "robot_target.exe"
    main_title = TITLE

    def test_reads_controls(self):
        main = self.start_program()
        self.shoot("target")
        window = self.robot.get(main)
        self.assertEqual(TITLE, window["text"])
        self.assertEqual("#32770", window["class"])
        self.assertTrue(window["usable"])
        self.assertEqual(1, self.robot.get(main, FIRST)["checked"])
        self.assertEqual(0, self.robot.get(main, SECOND)["checked"])
        self.assertEqual("Первый", self.robot.get(main, FIRST)["text"])
        progress = self.robot.get(main, PROGRESS)
        self.assertEqual((7, 0, 50), (progress["pos"], progress["min"], progress["max"]))
        self.assertFalse(self.robot.get(main, HIDDEN)["visible"])
        self.assertFalse(self.robot.get(main, NEXT)["enabled"])
        self.assertIn("target up", self.process.stdout())

    def test_refuses_what_a_user_could_not_press(self):
        main = self.start_program()
        self.assert_cannot_press(main, NEXT)
        self.assert_cannot_press(main, HIDDEN, "hidden")
        self.assertIn("read-only", self._type_refusal(main, PATH))
        # While a message box is up, Wine disables the dialog: nothing under it can be pressed.
        self.robot.click(main, ASK)
        box = self.robot.box(owner=main)
        self.assert_cannot_press(main, CANCEL)
        self.assertRaises(winenv.RobotError, self.robot.key, main, "esc")
        self.assertRaises(winenv.RobotError, self.robot.close, main)
        self.robot.click(box["hwnd"], 7)
        self.robot.gone(box["hwnd"])
        self.robot.until(main, CANCEL, usable=1)
        # The refused clicks were never delivered: the target is still there, unchanged.
        self.expect_running()
        self.assertEqual(main, self.robot.wait_window(TITLE))

    def _type_refusal(self, hwnd, control_id):
        try:
            self.robot.type(hwnd, control_id, "x")
        except winenv.RobotError as e:
            return e.reason
        return ""

    def test_radio_click_and_until(self):
        main = self.start_program()
        self.robot.click(main, SECOND)
        self.robot.until(main, SECOND, checked=1)
        self.assertEqual(0, self.robot.get(main, FIRST)["checked"])
        with self.assertRaises(winenv.RobotError) as caught:
            self.robot.until(main, FIRST, checked=1, timeout=300)
        self.assertIn("timeout", caught.exception.reason)

    def test_message_box(self):
        main = self.start_program()
        self.robot.click(main, ASK)
        box = self.robot.box(owner=main)
        self.shoot("question")
        self.assertEqual("Вопрос", box["caption"])
        self.assertEqual("Первая строка\nвторая строка", box["text"])
        self.assertEqual([6, 7], sorted(box["buttons"]))
        self.assertEqual(main, box["owner"])
        self.robot.click(box["hwnd"], 6)
        self.robot.until(main, FREE_TEXT, text="answer 6")

    def test_exit_question_cancel_then_ok(self):
        main = self.start_program()
        self.robot.key(main, "esc")
        box = self.robot.box(owner=main)
        self.assertEqual(("Предупреждение!", "Закрыть программу  Robot Target?"), (box["caption"], box["text"]))
        self.assertEqual([1, 2], sorted(box["buttons"]))
        self.robot.click(box["hwnd"], 2)
        self.robot.gone(box["hwnd"])
        self.robot.until(main, CANCEL, usable=1)
        self.expect_running()
        self.robot.close(main)
        box = self.robot.box(owner=main)
        self.robot.click(box["hwnd"], 1)
        self.expect_exit(0)

    def test_open_file_dialog_and_exit_code(self):
        firmware = self.work_dir / "image.dfu"
        firmware.write_bytes(b"\x00" * 16)
        main = self.start_program()
        self.robot.click(main, OPEN)
        dialog = self.robot.wait_window("Open a file for the robot", cls="#32770", timeout=15000)
        self.shoot("open-file")
        self.robot.type(dialog, 0x47C, winenv.windows_path(firmware))
        self.robot.click(dialog, 1)
        self.robot.gone(dialog)
        self.robot.until(main, PATH, text=winenv.windows_path(firmware))
        self.robot.until(main, NEXT, usable=1)
        self.robot.click(main, NEXT)
        self.expect_exit(7)

    def test_new_window_with_the_same_title(self):
        main = self.start_program()
        self.robot.click(main, REOPEN)
        self.robot.gone(main)
        again = self.robot.wait_window(TITLE, not_=main, id=FIRST)
        self.assertNotEqual(main, again)
        self.assertIn("dialog ended with 1013", self.process.stdout())

    def test_posted_notifications_reach_the_window(self):
        main = self.start_program()
        self.device_change(main, 3)
        self.robot.until(main, DEVICE_COUNT, text="3")

    def test_crash_is_reported(self):
        main = self.start_program()
        self.robot.click(main, CRASH)
        with self.assertRaises(AssertionError) as caught:
            self.expect_exit(0)
        self.assertIn("crashed", str(caught.exception))
        self.assertIn("Unhandled page fault", self.process.stderr())
        self.assertEqual(5, self.process.exit_code)
        # Handled here: the scenario's own crash check must not fail it again.
        self.process = None


if __name__ == "__main__":
    unittest.main()
