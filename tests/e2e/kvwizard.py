"""What the scenarios know about KV_Firmware_Tool.exe: titles, control ids, the texts that tell
its pages apart, and the steps a user takes through the wizard."""

import winenv
import harness

MAIN_TITLE = "KV-718 Firmware Tool(1406062)"
PAGE_TITLE = "KV-718 Firmware Upgrade Tool"
OPEN_FILE_TITLE = "Open a firmware file for KV718"
EXIT_CAPTION = "Предупреждение!"
EXIT_TEXT = "Закрыть программу  KV-718 Firmware Tool?"  # two blanks, as the program has it
ERROR_CAPTION = "Ошибка!"
TIMEOUT_TEXT = "Превышено время ожидания!"
UPLOAD_ERROR_TEXT = "Невозможно сохранить изменения!"

IDOK, IDCANCEL = 1, 2
NEXT, CANCEL = IDOK, IDCANCEL
START = 1008  # main window
JOB_RADIOS = {0: 1007, 1: 1008, 2: 1009}  # page 1
PORT_BOX = 1003  # pages 2, 5, 7
FIRMWARE_PATH = 1003  # page 3
CHOOSE_FILE = 1008  # page 3
PROGRESS = 1006  # pages 4, 6, 8
FINISH_TEXTS = {"default": 65535, "firmware": 1009, "settings": 1010}  # page 9
OPEN_FILE_NAME_BOX = 0x47C  # Wine's open-file dialog

# All pages share one title; each shows a text that no other page shows.
PAGE_MARKS = {
    1: "Пожалуйста, выберите действие и нажмите кнопку Далее.",
    2: "Пожалуйста, подключите трекер KV-718A",
    3: "Пожалуйста, нажмите кнопку Открыть, выберите файл прошивки",
    4: "Сохранение настроек\u2026",
    5: "Нажмите и удерживайте кнопку питания",
    6: "Обновление прошивки...",
    8: "Восстановление настроек\u2026",
    9: "Завершить",
}

PAGE_TIMEOUT_MS = 8000  # two matching devices cost the opening scan 1 s
OPEN_FILE_TIMEOUT_MS = 15000  # the dialog's first opening in a prefix takes a few seconds


class WizardScenario(harness.ScenarioCase):
    program = winenv.BUILD_DIR / "KV_Firmware_Tool.exe"
    main_title = MAIN_TITLE

    def open_wizard(self):
        """Starts the program and presses Start; returns (main window, page 1)."""
        main = self.start_program()
        self.robot.click(main, START)
        return main, self.wait_page(1)

    def wait_page(self, number, previous=None, timeout=PAGE_TIMEOUT_MS):
        """The page with this number, once it is on screen and not the previous page."""
        if previous is not None:
            self.robot.gone(previous, timeout=timeout)
        return self.robot.wait_window(PAGE_TITLE, cls="#32770", contains=PAGE_MARKS[number], not_=previous,
                                      timeout=timeout)

    def pick_job(self, page1, job):
        """Selects the job's radio button on page 1 and presses Next."""
        radio = JOB_RADIOS[job]
        self.robot.click(page1, radio)
        self.robot.until(page1, radio, checked=1)
        self.robot.click(page1, NEXT)

    def firmware_file(self, name="firmware.dfu", size=3000):
        path = self.work_dir / name
        path.write_bytes(bytes(i % 251 for i in range(size)))
        return path

    def choose_firmware(self, page3, path):
        """Presses "Открыть" on page 3, picks the file in the open-file dialog, and waits until
        the page shows the path and offers Next."""
        self.robot.click(page3, CHOOSE_FILE)
        dialog = self.robot.wait_window(OPEN_FILE_TITLE, cls="#32770", timeout=OPEN_FILE_TIMEOUT_MS)
        self.assertEqual(page3, int(self.robot.get(dialog)["owner"], 16))
        self.shoot("open-file-dialog")
        self.robot.type(dialog, OPEN_FILE_NAME_BOX, winenv.windows_path(path))
        self.robot.click(dialog, IDOK)
        self.robot.gone(dialog)
        self.robot.until(page3, FIRMWARE_PATH, text=winenv.windows_path(path))
        self.robot.until(page3, NEXT, usable=1)

    def open_boot_loader_page(self, firmware):
        """Walks job 1 (upgrade only) to page 5 with this firmware file; returns (main, page 5)."""
        main, page1 = self.open_wizard()
        self.pick_job(page1, 1)
        page3 = self.wait_page(3, page1)
        self.choose_firmware(page3, firmware)
        self.robot.click(page3, NEXT)
        return main, self.wait_page(5, page3)

    def open_upload_page(self, tracker, firmware):
        """Walks job 1 to page 6, pressing Reset with the power button held when page 5 asks."""
        main, page5 = self.open_boot_loader_page(firmware)
        tracker.press_reset(hold_power=True)
        return self.wait_page(6, page5)

    def exit_question(self, page, how="cancel"):
        """Asks to leave the page by its Cancel button, Esc or the title bar's close button;
        checks that the exit question comes, owned by the page, and returns it."""
        if how == "cancel":
            self.robot.click(page, CANCEL)
        elif how == "esc":
            self.robot.key(page, "esc")
        elif how == "close":
            self.robot.close(page)
        else:
            raise ValueError(how)
        box = self.robot.box(owner=page)
        self.assertEqual(EXIT_CAPTION, box["caption"])
        self.assertEqual(EXIT_TEXT, box["text"])
        self.assertEqual([IDOK, IDCANCEL], sorted(box["buttons"]))
        return box

    def leave_after_error(self, page, box):
        """OK on a worker's error box; the exit question follows it, and OK there ends the program."""
        self.robot.click(box["hwnd"], IDOK)
        self.robot.gone(box["hwnd"])
        question = self.robot.box(owner=page)
        self.assertEqual((EXIT_CAPTION, EXIT_TEXT), (question["caption"], question["text"]))
        self.robot.click(question["hwnd"], IDOK)
        self.expect_exit(0)

    def leave_program(self, page, how="cancel"):
        """Ends the program from a page the way a user does: the exit question, then OK."""
        box = self.exit_question(page, how)
        self.robot.click(box["hwnd"], IDOK)
        self.expect_exit(0)
