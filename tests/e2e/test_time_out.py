"""Page 5 with no tracker: after its time (40 s) the user is told, and can only leave."""

import unittest

from wizard import ERROR_CAPTION, IDOK, PORT_BOX, Scenario

# The page gives up after 40 s and a pause of 1 s; a busy machine may take longer.
BOX_TIMEOUT_MS = 90000


class TimeOut(Scenario):
    def test_boot_loader_page_without_a_tracker(self):
        w = self.wizard
        main, page5 = w.upgrade_to_page5(w.firmware_file())
        self.assertEqual("", self.robot.get(page5, PORT_BOX)["text"])
        box = self.robot.box(owner=page5, timeout=BOX_TIMEOUT_MS)
        w.shoot(box["hwnd"], "time-out")
        self.assertEqual((ERROR_CAPTION, "Превышено время ожидания!", [IDOK]), (box["caption"], box["text"], box["buttons"]))
        w.leave(page5, box=box)


if __name__ == "__main__":
    unittest.main()
