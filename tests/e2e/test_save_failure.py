"""Page 4 when the settings cannot be saved: the user is told why. (Which dumps may replace the
backup, and that the one saved before stays as it was, are the unit tests'.)"""

import unittest

from harness.wizard import ERROR_CAPTION, IDCANCEL, IDOK, PROGRESS, Scenario

BOX_TIMEOUT_MS = 30000


class SaveFailure(Scenario):
    def test_cable_out_as_the_save_begins(self):
        w = self.wizard
        tracker = w.plug_tracker(port=7)
        main, page2 = w.keep_settings_past_page2(w.firmware_file(), unplugging=tracker)
        page4 = w.wait_page(4, page2)
        box = self.robot.box(owner=page4, timeout=BOX_TIMEOUT_MS)
        w.shoot(box["hwnd"], "save-port-error")
        self.assertEqual((ERROR_CAPTION, "Невозможно открыть СОМ-порт!", [IDOK, IDCANCEL]),
                         (box["caption"], box["text"], box["buttons"]))
        bar = self.robot.get(page4, PROGRESS)
        self.assertEqual((0, 50), (bar["min"], bar["max"]), "the page's bar, set up before the port is tried")
        w.leave(page4, box=box)
        # The support log names the page, why it stopped, the box the user read and the answer.
        log = w.support_log.read_text("utf-8")
        told = [log.find(line) for line in ("page 4 entered", "port COM7 would not open; Windows error 2",
                                            'error box: "Невозможно открыть СОМ-порт!" (port not open)',
                                            "exit question: the user closed the program")]
        self.assertTrue(-1 not in told and told == sorted(told), log)


if __name__ == "__main__":
    unittest.main()
