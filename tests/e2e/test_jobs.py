"""A user's walk through each job with the simulated tracker: Next only once a page has what it
needs, the exit question, a working page that only its work ends, the tracker's port followed as
it comes and goes, on page 2 and after its restart on page 7; job 0 and job 1 from Start to the
finish page, job 2 with the settings saved and with a backup line that cannot go out."""

import re
import threading
import unittest

from harness import winenv
from harness.wizard import (CHOOSE_FILE, ERROR_CAPTION, FINISH_TEXTS, FIRMWARE_PATH, IDCANCEL, IDOK, JOB_RADIOS, NEXT,
                            OPEN_FILE_TIMEOUT_MS, OPEN_FILE_TITLE, PORT_BOX, PROGRESS, SC_CLOSE, START, WM_COMMAND,
                            WM_SYSCOMMAND, Scenario, backup_bytes, restore_commands)
from sim.settings import DEFAULT_PAYLOADS, SettingsOptions
from sim.ymodem import ReceiverOptions

EVENT_TIMEOUT_S = 10
UPLOAD_TIMEOUT_MS = 60000
SETTINGS_TIMEOUT_MS = 60000
# A few settings (writing them back takes a second each), with Cyrillic and commas inside.
SETTINGS = DEFAULT_PAYLOADS[2:4] + DEFAULT_PAYLOADS[5:6] + DEFAULT_PAYLOADS[9:]


class Jobs(Scenario):
    def finish_text(self, page9):
        """The one text the finish page shows: "default", "firmware" or "settings"."""
        shown = [name for name, control in FINISH_TEXTS.items() if self.robot.get(page9, control)["visible"]]
        self.assertEqual(1, len(shown), shown)
        return shown[0]

    def test_main_window_closes_by_its_title_bar(self):
        main = self.wizard.start_program()
        self.wizard.shoot(main, "main-window")
        self.robot.post(main, WM_SYSCOMMAND, SC_CLOSE)  # the title bar's close button
        self.robot.gone(main)
        self.wizard.expect_exit(0)

    def check_restores(self, tracker, count):
        """The set commands from the count-th on carry SETTINGS in order, CR LF and QQ included."""
        expected = [command.encode("cp1251") for command in restore_commands(SETTINGS)]
        restores = (tracker.wait_restores(count + len(expected), SETTINGS_TIMEOUT_MS / 1000) or tracker.restores())
        self.assertEqual(expected, [event.data for event in restores[count:]])
        self.assertEqual(list(SETTINGS), tracker.settings())

    def test_keep_settings_job_from_start_to_finish(self):
        w = self.wizard
        # After its reset the tracker stays away until it comes back on another port.
        tracker = w.plug_tracker(port=7, reset_return_s=None, settings=SettingsOptions(SETTINGS))
        main, page1 = w.open_wizard()
        w.shoot(page1, "page1-job")
        # The page is modal, and the first job is chosen from the start: Next alone takes it.
        self.assertFalse(self.robot.get(main, START)["usable"])
        self.assertEqual(1, self.robot.get(page1, JOB_RADIOS[0])["checked"])
        self.robot.click(page1, NEXT)

        # An empty file (a download cut short) is refused and changes nothing: no file, no Next.
        page3 = w.wait_page(3, page1)
        box = w.choose_firmware(page3, w.firmware_file("cut-short.dfu", 0), refused=True)
        w.shoot(box["hwnd"], "empty-firmware-file")
        self.assertEqual((ERROR_CAPTION, "Файл прошивки пуст!", [IDOK]),
                         (box["caption"], box["text"], box["buttons"]))
        self.robot.click(box["hwnd"], IDOK)
        self.robot.gone(box["hwnd"])
        self.assertEqual("", self.robot.get(page3, FIRMWARE_PATH)["text"])
        self.assertFalse(self.robot.get(page3, NEXT)["usable"])
        firmware = w.firmware_file()
        w.choose_firmware(page3, firmware)
        # The file chosen stays when the dialog is opened again and cancelled.
        self.robot.click(page3, CHOOSE_FILE)
        dialog = self.robot.wait_window(OPEN_FILE_TITLE, timeout=OPEN_FILE_TIMEOUT_MS)
        w.shoot(dialog, "open-file-dialog")
        self.robot.click(dialog, IDCANCEL)
        self.robot.gone(dialog)
        self.robot.wait_for(page3, NEXT, usable=True)
        self.assertEqual(winenv.windows_path(firmware), self.robot.get(page3, FIRMWARE_PATH)["text"])
        w.shoot(page3, "page3-firmware-file")
        self.robot.click(page3, NEXT)

        # The page's own scan has found the tracker before the page shows.
        page2 = w.wait_page(2, page3)
        self.assertEqual("COM7", self.robot.get(page2, PORT_BOX)["text"])
        w.shoot(page2, "page2-connect")
        self.robot.click(page2, NEXT)
        # Page 4 saves the settings in a moment; page 5 waits for the user.
        page5 = w.wait_page(5, page2, timeout=SETTINGS_TIMEOUT_MS)
        self.assertEqual(backup_bytes(SETTINGS), w.backup.read_bytes())

        # The new firmware brings the factory settings; the tracker restarts on it and comes back
        # as COM8, where the saved settings are written back.
        tracker.press_reset(hold_power=True)
        page7 = w.wait_page(7, timeout=UPLOAD_TIMEOUT_MS)
        upload = tracker.wait_upload(EVENT_TIMEOUT_S)
        self.assertEqual(("complete", firmware.read_bytes()), (upload.outcome, upload.data))
        self.assertIsNotNone(tracker.wait_event("gone", EVENT_TIMEOUT_S), "page 7 did not restart the tracker")
        tracker.come_back(port=8)
        w.device_change(main)
        page9 = w.wait_page(9, page7, timeout=SETTINGS_TIMEOUT_MS)
        # (Only the set commands: the tracker's log takes in late what came during its restart.)
        self.check_restores(tracker, 0)
        self.assertEqual("default", self.finish_text(page9))
        self.robot.click(page9, NEXT)
        w.expect_exit(0)
        # The support log tells every page of the job, and not one setting in any encoding.
        log = w.support_log.read_bytes()
        self.assertEqual(b"132456789", b"".join(re.findall(rb"page (\d) entered", log)))
        for number, payload in enumerate(SETTINGS):
            value = payload.decode("cp1251").split("=", 1)[1]
            for encoding in ("utf-8", "cp1251", "utf-16-le"):
                self.assertFalse(value.encode(encoding) in log, "setting %d in the log as %s" % (number, encoding))

        # Job 2 later on, the tracker back at its factory settings: the same commands go again.
        tracker.settings_interpreter.factory_reset()
        main, page1 = w.open_wizard()
        w.pick_job(page1, 2)
        page2 = w.wait_page(2, page1)
        self.robot.wait_for(page2, NEXT, usable=True)
        self.robot.click(page2, NEXT)
        page9 = w.wait_page(9, page2, timeout=SETTINGS_TIMEOUT_MS)
        self.check_restores(tracker, len(SETTINGS))
        self.assertEqual("settings", self.finish_text(page9))
        self.robot.click(page9, NEXT)
        w.expect_exit(0)

    def test_restore_job_follows_the_tracker_and_goes_on_past_a_line_that_cannot_go_out(self):
        w = self.wizard
        main, page1 = w.open_wizard()
        # Three settings saved, the first too long to go out whole.
        lines = restore_commands(SETTINGS[:3])
        lines[0] = lines[0].replace("*QQ", "x" * 1024 + "*QQ")
        w.backup.write_bytes(b"\xff\xfe" + "".join(lines).encode("utf-16-le"))
        w.pick_job(page1, 2)
        page2 = w.wait_page(2, page1)
        self.assertEqual("", self.robot.get(page2, PORT_BOX)["text"])
        self.assertFalse(self.robot.get(page2, NEXT)["usable"])

        tracker = w.plug_tracker(port=7)
        # The exit question, asked by Esc; Cancel there keeps the page.
        question = w.exit_question(page2, "esc")
        w.shoot(question["hwnd"], "exit-question")
        self.robot.click(question["hwnd"], IDCANCEL)
        self.robot.gone(question["hwnd"])
        w.device_change(main)
        self.robot.wait_for(page2, PORT_BOX, text="COM7")
        self.robot.wait_for(page2, NEXT, usable=True)

        w.unplug_tracker(tracker)
        w.device_change(main)
        self.robot.wait_for(page2, PORT_BOX, text="")
        self.robot.wait_for(page2, NEXT, enabled=False)
        tracker = w.plug_tracker(port=7)
        w.device_change(main)
        self.robot.wait_for(page2, NEXT, usable=True)
        self.robot.click(page2, NEXT)
        # The user stays after the first line's box: the rest go out, its bar shows every line
        # handled, and the restore ends failed, never on the finish page.
        page8 = w.wait_page(8, page2)
        question = w.exit_question(page8, box=self.robot.box(owner=page8))
        self.robot.click(question["hwnd"], IDCANCEL)
        self.robot.gone(question["hwnd"])
        box = self.robot.box(owner=page8, timeout=SETTINGS_TIMEOUT_MS)
        self.assertEqual((ERROR_CAPTION, "Невозможно сохранить данные!", [IDOK]),
                         (box["caption"], box["text"], box["buttons"]))
        bar = self.robot.get(page8, PROGRESS)
        self.assertEqual((0, 2, 2), (bar["min"], bar["max"], bar["pos"]))
        self.assertEqual([line.encode("cp1251") for line in lines[1:]], [e.data for e in tracker.restores()])
        w.leave(page8, box=box)

    def test_upgrade_only_job_from_start_to_finish(self):
        w = self.wizard
        # The tracker holds back its request for the closing block until the bar has been seen full.
        all_data_out = threading.Event()
        tracker = w.plug_tracker(port=7, receiver=ReceiverOptions(hold_closing_request=all_data_out))
        # 5000 bytes: the bar runs from 1 to 4 KiB, and the last of six reports goes beyond it.
        firmware = w.firmware_file("KV718A_New.DFU", 5000)
        main, page5 = w.upgrade_to_page5(firmware)
        self.assertEqual("COM7", self.robot.get(page5, PORT_BOX)["text"])
        w.shoot(page5, "page5-boot-loader")
        # Neither command 1 (what a resource library's visible button would send) nor Cancel with
        # "stay" in the exit question ends the page: its work goes on until the boot loader answers.
        self.robot.post(page5, WM_COMMAND, IDOK, self.robot.get(page5, NEXT)["hwnd"])
        question = w.exit_question(page5)
        self.robot.click(question["hwnd"], IDCANCEL)
        self.robot.gone(question["hwnd"])
        tracker.press_reset(hold_power=True)

        # The boot loader's answer closes the page; the upload follows, its bar filling.
        page6 = w.wait_page(6, page5)
        bar = self.robot.wait_for(page6, PROGRESS, pos=4, timeout=UPLOAD_TIMEOUT_MS)
        self.assertEqual((1, 4), (bar["min"], bar["max"]))
        w.shoot(page6, "page6-upload")
        all_data_out.set()
        page9 = w.wait_page(9, page6)
        upload = tracker.wait_upload(EVENT_TIMEOUT_S)
        self.assertEqual(("complete", firmware.read_bytes()), (upload.outcome, upload.data))

        self.assertEqual("firmware", self.finish_text(page9))
        w.shoot(page9, "page9-finish")
        self.robot.click(page9, NEXT)
        w.expect_exit(0)
        # Standard output is in text mode: the C runtime writes each "\n" as "\r\n".
        out = w.output().replace("\r\n", "\n")
        self.assertIn("Sending %s...\n" % winenv.windows_path(firmware), out)
        self.assertIn("    4096 bytes of 5000 -  81%\r", out)
        self.assertIn("    5000 bytes of 5000 - 100%\r", out)
        self.assertTrue(out.endswith("\nSent OK\n"), out[-200:])


if __name__ == "__main__":
    unittest.main()
