"""KV_Firmware_Tool.exe as a user meets it: its windows and texts, and the steps a user takes,
in a run of its own: an Xvfb display, a fresh wine server of the scenarios' prefix, the robot,
the simulated trackers plugged in, and the program. Taken down after it, whatever happened.
Screenshots go to ${BUILD}/screenshots/<run>/; the program's output, the robot's transcript and
the logs to ${BUILD}/e2e/<run>/, with the program's working folder work/.
"""

import contextlib
import functools
import re
import shutil
import subprocess
import unittest

from harness import winenv
from sim import presence
from sim.settings import kind_of
from sim.tracker import Tracker

PROGRAM = winenv.BUILD_DIR / "KV_Firmware_Tool.exe"
MAIN_TITLE = "KV-718 Firmware Tool(1406062)"
PAGE_TITLE = "KV-718 Firmware Upgrade Tool"
OPEN_FILE_TITLE = "Open a firmware file for KV718"
EXIT_QUESTION = ("Предупреждение!", "Закрыть программу  KV-718 Firmware Tool?")  # two blanks, as it is
ERROR_CAPTION = "Ошибка!"


def resource_ids(header=winenv.SOURCE_DIR / "res" / "resource.h"):
    """The numbers the program's controls are built with: each `#define NAME NUMBER` there."""
    defines = re.findall(r"^#define\s+(\w+)\s+(\d+)\b", header.read_text(), re.M)
    return {name: int(number) for name, number in defines}


ID = resource_ids()
IDOK, IDCANCEL = 1, 2
NEXT, CANCEL = IDOK, IDCANCEL
START = ID["IDC_START"]  # main window
JOB_RADIOS = {0: ID["IDC_JOB_KEEP_SETTINGS"], 1: ID["IDC_JOB_UPGRADE_ONLY"], 2: ID["IDC_JOB_RESTORE"]}  # page 1
PORT_BOX = ID["IDC_PORT_NAME"]  # pages 2, 5, 7
FIRMWARE_PATH = ID["IDC_FIRMWARE_PATH"]  # page 3
CHOOSE_FILE = ID["IDC_CHOOSE_FILE"]  # page 3
PROGRESS = ID["IDC_PROGRESS"]  # pages 4, 6, 8
FINISH_TEXTS = {"default": ID["IDC_FINISH_DEFAULT_TEXT"], "firmware": ID["IDC_FINISH_FIRMWARE_TEXT"],
                "settings": ID["IDC_FINISH_SETTINGS_TEXT"]}  # page 9
OPEN_FILE_NAME_BOX = 0x47C  # Wine's open-file dialog

# All pages share one title; each shows a text that no other page shows.
PAGE_MARKS = {
    1: "Пожалуйста, выберите действие и нажмите кнопку Далее.",
    2: "Пожалуйста, подключите трекер KV-718A",
    3: "Пожалуйста, нажмите кнопку Открыть, выберите файл прошивки",
    4: "Сохранение настроек\u2026",
    5: "Нажмите и удерживайте кнопку питания",
    6: "Обновление прошивки...",
    7: "вокруг кнопки SOS).",  # page 2 asks the same, without the full stop
    8: "Восстановление настроек\u2026",
    9: "Завершить",
}

WM_DEVICECHANGE, DBT_DEVNODES_CHANGED = 0x0219, 7
WM_KEYDOWN, VK_ESCAPE, WM_COMMAND, WM_SYSCOMMAND, SC_CLOSE = 0x0100, 0x1B, 0x0111, 0x0112, 0xF060
START_TIMEOUT_MS = 30000
PAGE_TIMEOUT_MS = 8000  # a scan costs 500 ms per matching device before the page shows
OPEN_FILE_TIMEOUT_MS = 15000  # the dialog's first opening in a prefix takes a few seconds
EXIT_TIMEOUT_S = 10
# What Wine prints when a program dies of an exception (its crash dialog is turned off).
CRASH_MARKERS = ("Unhandled page fault", "Unhandled exception", "Unhandled stack overflow", "Unhandled illegal")


def restore_commands(settings):
    """What the backup holds for these settings (cp1251 bytes each), one line each."""
    return ["GSS,KestrelonKV-718,%d,%d,%s*QQ!\r\n" % (kind_of(n, len(settings)), n, text.decode("cp1251"))
            for n, text in enumerate(settings)]


def backup_bytes(settings):
    """back.pro as a save of these settings writes it: UTF-16LE after its byte-order mark."""
    return b"\xff\xfe" + "".join(restore_commands(settings)).encode("utf-16-le")


def check(condition, message):
    if not condition:
        raise AssertionError(message)


class Wizard(contextlib.ExitStack):
    """One run of the program (a context manager)."""

    def __init__(self, name, program=PROGRAM):
        super().__init__()
        self.program = program
        self.shot_dir = winenv.BUILD_DIR / "screenshots" / name
        self.log_dir = winenv.BUILD_DIR / "e2e" / name
        for folder in (self.shot_dir, self.log_dir):
            shutil.rmtree(folder, ignore_errors=True)
            folder.mkdir(parents=True)
        self.work_dir = self.log_dir / "work"
        self.work_dir.mkdir()
        self.shots, self.trackers, self.process = 0, [], None

    def __enter__(self):
        super().__enter__()
        try:
            winenv.ensure_prefix()
            xvfb, self.display = winenv.start_xvfb(self.log_dir / "xvfb.log")
            self.callback(winenv.stop, xvfb)
            self.env = winenv.wine_env(winenv.PREFIX, self.display)
            self.callback(winenv.stop, winenv.start_wineserver(self.env, self.log_dir / "wineserver.log"))
            self.callback(winenv.kill_wineserver, self.env)
            # A run that was killed may have left its trackers' ports and device keys behind.
            presence.remove_stale(winenv.PREFIX)
            self.robot = winenv.Robot(self.env, self.log_dir / "robot.log")
            self.callback(self.robot.stop)
            # Each run starts without what an earlier run's saves left in the temporary folder:
            # back.pro, the backups kept beside it (.bak, .bak2 ...) and a temporary file
            # (back.pro.<process id>.tmp) of a save cut short; and the support log of earlier runs.
            for leftover in [*self.backup.parent.glob("back.pro*"), self.support_log]:
                leftover.unlink(missing_ok=True)
            self.callback(self._end)
        except BaseException:
            self.close()
            raise
        return self

    @functools.cached_property
    def backup(self):
        """back.pro, where the program keeps the settings: in the Wine user's temporary folder."""
        return winenv.unix_path(self.robot.command("temp")) / "back.pro"

    @property
    def support_log(self):
        """KV_Firmware_Tool.log, where the program tells what it did: beside back.pro."""
        return self.backup.parent / "KV_Firmware_Tool.log"

    def _end(self):
        try:
            if self.process is not None and self.process.poll() is None:
                winenv.screenshot(self.display, self.shot_dir / "99-end-screen.png")
                winenv.stop(self.process)
        finally:
            for tracker in self.trackers:
                tracker.unplug()
        self._check_no_crash()

    # ---- the program ----

    def start_program(self):
        """Starts the program; its main window once it is shown."""
        with open(self.log_dir / "program.stderr", "wb") as stderr:
            self.process = winenv.start(["wine", str(self.program)], env=self.env, cwd=self.work_dir,
                                        log=self.log_dir / "program.stdout", stderr=stderr)
        try:
            return self.robot.wait_window(MAIN_TITLE, timeout=START_TIMEOUT_MS)
        except winenv.RobotError:
            self._check_no_crash()
            raise

    def output(self, stream="stdout"):
        return (self.log_dir / ("program." + stream)).read_bytes().decode("utf-8", errors="replace")

    def expect_exit(self, code=0):
        """Waits until the program has ended; checks its exit code and that it did not crash."""
        try:
            actual = self.process.wait(timeout=EXIT_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program still runs %d s after it should have ended" % EXIT_TIMEOUT_S)
        self._check_no_crash()
        check(actual == code, "exit code %s, not %s" % (actual, code))

    def _check_no_crash(self):
        if self.process is not None and self.process.poll() is not None:
            crashes = [line for line in self.output("stderr").splitlines() if any(m in line for m in CRASH_MARKERS)]
            check(not crashes, "the program crashed: %s" % "; ".join(crashes))

    def shoot(self, hwnd, what):
        """Saves the window (a page, a message box) as <nn>-<what>.png."""
        self.shots += 1
        name = "%02d-%s.png" % (self.shots, re.sub(r"[^\w.-]+", "_", what))
        return winenv.screenshot(self.display, self.shot_dir / name, self.robot.get(hwnd)["rect"])

    # ---- trackers ----

    def plug_tracker(self, port=7, **behaviour):
        """A simulated tracker plugged in; behaviour: Tracker's keyword options (mode, receiver ...)."""
        tracker = Tracker(winenv.PREFIX, port, **behaviour).plug()
        self.trackers.append(tracker)
        return tracker

    def unplug_tracker(self, tracker):
        self.trackers.remove(tracker)
        tracker.unplug()

    def device_change(self, main):
        """What Windows posts the main window as devices come and go (a plug-in brings two)."""
        for _ in range(2):
            self.robot.post(main, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0)

    # ---- a user's steps ----

    def open_wizard(self):
        """Starts the program and presses Start; (main window, page 1)."""
        main = self.start_program()
        self.robot.click(main, START)
        return main, self.wait_page(1)

    def wait_page(self, number, previous=None, timeout=PAGE_TIMEOUT_MS):
        """The page with this number, once it is on screen in place of the previous page."""
        if previous is not None:
            self.robot.gone(previous, timeout=timeout)
        return self.robot.wait_window(PAGE_TITLE, contains=PAGE_MARKS[number], not_=previous, timeout=timeout)

    def pick_job(self, page1, job):
        """Selects the job on page 1 and presses Next."""
        self.robot.click(page1, JOB_RADIOS[job])
        self.robot.wait_for(page1, JOB_RADIOS[job], checked=1)
        self.robot.click(page1, NEXT)

    def firmware_file(self, name="kv718a-new.dfu", size=3000):
        path = self.work_dir / name
        path.write_bytes(bytes(i % 251 for i in range(size)))
        return path

    def choose_firmware(self, page3, path, refused=False):
        """"Открыть" on page 3, the file picked in the open-file dialog; waits until the page
        shows the path and offers Next, or, if `refused`, returns the box the page shows instead."""
        self.robot.click(page3, CHOOSE_FILE)
        dialog = self.robot.wait_window(OPEN_FILE_TITLE, timeout=OPEN_FILE_TIMEOUT_MS)
        check(self.robot.get(dialog)["owner"] == page3, "the open-file dialog is not page 3's")
        self.robot.type(dialog, OPEN_FILE_NAME_BOX, winenv.windows_path(path))
        self.robot.click(dialog, IDOK)
        self.robot.gone(dialog)
        if refused:
            return self.robot.box(owner=page3)
        self.robot.wait_for(page3, FIRMWARE_PATH, text=winenv.windows_path(path))
        self.robot.wait_for(page3, NEXT, usable=True)

    def upgrade_to_page5(self, firmware, gone=False):
        """Job 1 (upgrade only) with this firmware file up to page 5, the file deleted once
        chosen if `gone`; (main window, page 5)."""
        main, page1 = self.open_wizard()
        self.pick_job(page1, 1)
        page3 = self.wait_page(3, page1)
        self.choose_firmware(page3, firmware)
        if gone:
            firmware.unlink()
        self.robot.click(page3, NEXT)
        return main, self.wait_page(5, page3)

    def keep_settings_past_page2(self, firmware, unplugging=None):
        """Job 0 (keep the settings) with this firmware file up to Next on page 2; (main window,
        page 2). unplugging: a tracker whose cable comes out as Next is pressed there."""
        main, page1 = self.open_wizard()
        self.robot.click(page1, NEXT)
        page3 = self.wait_page(3, page1)
        self.choose_firmware(page3, firmware)
        self.robot.click(page3, NEXT)
        page2 = self.wait_page(2, page3)
        self.robot.wait_for(page2, NEXT, usable=True)
        if unplugging:
            self.unplug_tracker(unplugging)
        self.robot.click(page2, NEXT)
        return main, page2

    def exit_question(self, page, how="cancel", box=None):
        """The exit question, owned by the page, once the user has asked to leave it: by its
        Cancel button, Esc or the title bar's close button, or by OK on its error box."""
        if box is not None:
            self.robot.click(box["hwnd"], IDOK)
            self.robot.gone(box["hwnd"])
        elif how == "cancel":
            self.robot.click(page, CANCEL)
        else:
            self.robot.post(page, *{"esc": (WM_KEYDOWN, VK_ESCAPE), "close": (WM_SYSCOMMAND, SC_CLOSE)}[how])
        question = self.robot.box(owner=page)
        check((question["caption"], question["text"], question["buttons"]) == EXIT_QUESTION + ([IDOK, IDCANCEL],),
              "not the exit question: %s" % question)
        return question

    def leave(self, page, how="cancel", box=None):
        """Ends the program from a page as a user does: the exit question, then OK."""
        self.robot.click(self.exit_question(page, how, box)["hwnd"], IDOK)
        self.expect_exit(0)


class Scenario(unittest.TestCase):
    """A test whose self.wizard is a run of its own, named <class>.<method>."""

    def setUp(self):
        self.wizard = self.enterContext(Wizard(".".join(self.id().split(".")[-2:])))
        self.robot = self.wizard.robot
