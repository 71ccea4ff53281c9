"""The optional chinese.dll beside the program: its dialogs and icon replace the program's own,
while the texts the program holds itself (the main window's title, the boxes) stay; its code
never runs, and a page it lacks ends the pass with an error box instead of being skipped."""

import shutil
import subprocess
import unittest

from harness import winenv
from harness.wizard import ERROR_CAPTION, IDOK, MAIN_TITLE, NEXT, PAGE_TITLE, START, Scenario

LIBRARY = winenv.BUILD_DIR / "tests" / "chinese" / "chinese.dll"


def mean_colour(png, width, height, x, y):
    """The average (red, green, blue) of a rectangle of a screenshot, 0 to 255 each."""
    out = subprocess.run(["convert", str(png), "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                          "-scale", "1x1!", "-format", "%[fx:255*r] %[fx:255*g] %[fx:255*b]", "info:-"],
                         check=True, capture_output=True, text=True).stdout
    return [float(v) for v in out.split()]


class ResourceLibrary(Scenario):
    def test_dialogs_and_icon_come_from_the_library(self):
        w = self.wizard
        folder = w.work_dir / "program"
        folder.mkdir()
        w.program = shutil.copy(w.program, folder)
        shutil.copy(LIBRARY, folder)
        # The library's code would end the program before its main window shows.
        main = w.start_program()
        self.assertEqual(MAIN_TITLE, self.robot.get(main)["title"])
        self.assertEqual("開始", self.robot.get(main, START)["text"])
        # The small icon sits at the left end of the title bar; the library's is red.
        red, _, blue = mean_colour(w.shoot(main, "main-window"), 12, 12, 5, 4)
        self.assertGreater(red, blue + 20)

        self.robot.click(main, START)
        page1 = self.robot.wait_window(PAGE_TITLE, contains="請選擇要執行的操作")
        w.shoot(page1, "job-page")
        # The library has no file page: the pass ends there, back on the main window.
        self.robot.click(page1, NEXT)
        box = self.robot.box()
        w.shoot(box["hwnd"], "page-not-shown")
        self.assertEqual((ERROR_CAPTION, "Невозможно показать страницу мастера!", [IDOK]),
                         (box["caption"], box["text"], box["buttons"]))
        self.robot.click(box["hwnd"], IDOK)
        self.robot.wait_for(main, START, usable=True)
        self.assertEqual([], [win for win in self.robot.windows() if win["title"] == PAGE_TITLE])


if __name__ == "__main__":
    unittest.main()
