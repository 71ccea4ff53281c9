"""The optional chinese.dll beside the program: its dialogs and icon replace the program's own,
while the texts the program holds itself (the main window's title, the exit question) stay."""

import shutil
import subprocess
import unittest

import winenv
from kvwizard import CANCEL, EXIT_TEXT, IDOK, JOB_RADIOS, MAIN_TITLE, PAGE_TITLE, START, WizardScenario

LIBRARY = winenv.BUILD_DIR / "tests" / "chinese" / "chinese.dll"


def mean_colour(png, width, height, x, y):
    """The average (red, green, blue) of a rectangle of a screenshot, 0 to 255 each."""
    out = subprocess.run(["convert", str(png), "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                          "-scale", "1x1!", "-format", "%[fx:255*r] %[fx:255*g] %[fx:255*b]", "info:-"],
                         check=True, capture_output=True, text=True).stdout
    return [float(v) for v in out.split()]


class ResourceLibrary(WizardScenario):
    def start_installed(self, with_library):
        """Starts the program from a folder of its own, with or without the library beside it.
        Returns the main window and the mean colour of the title bar's icon."""
        folder = self.work_dir / "program"
        folder.mkdir()
        shutil.copy(self.program, folder)
        if with_library:
            shutil.copy(LIBRARY, folder)
        self.program = folder / self.program.name
        main = self.start_program()
        # The title is the program's own text, whichever resources it uses.
        self.assertEqual(MAIN_TITLE, self.robot.get(main)["text"])
        # The small icon sits at the left end of the title bar.
        return main, mean_colour(self.shoot("main-window"), 12, 12, 5, 4)

    def test_dialogs_and_icon_come_from_the_library(self):
        main, (red, _, blue) = self.start_installed(with_library=True)
        self.assertEqual("開始", self.robot.get(main, START)["text"])
        self.assertGreater(red, blue + 20, "the library's icon is the red one")

        self.robot.click(main, START)
        page = self.robot.wait_window(PAGE_TITLE, cls="#32770", contains="請選擇要執行的操作")
        self.shoot("job-page")
        self.assertEqual(1, self.robot.get(page, JOB_RADIOS[0])["checked"])
        # The exit question is the program's own text, not the library's.
        self.robot.click(page, CANCEL)
        box = self.robot.box(owner=page)
        self.assertEqual(EXIT_TEXT, box["text"])
        self.robot.click(box["hwnd"], IDOK)
        self.expect_exit(0)

    def test_without_the_library_the_programs_own_resources_are_used(self):
        main, (red, _, blue) = self.start_installed(with_library=False)
        self.assertEqual("Старт", self.robot.get(main, START)["text"])
        self.assertLess(red, blue, "the program's own icon is the blue one")


if __name__ == "__main__":
    unittest.main()
