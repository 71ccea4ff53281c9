"""Page 4 when the settings cannot be saved: the user is told why, and the settings saved
before stay as they were. (Which dumps may replace the backup is the unit tests'.)"""

import unittest

from harness.wizard import ERROR_CAPTION, IDCANCEL, IDOK, Scenario, backup_bytes
from sim.settings import DEFAULT_PAYLOADS

BOX_TIMEOUT_MS = 30000


class SaveFailure(Scenario):
    def test_cable_out_as_the_save_begins_keeps_the_earlier_backup(self):
        w = self.wizard
        earlier = backup_bytes(DEFAULT_PAYLOADS[:2])
        w.backup.write_bytes(earlier)
        tracker = w.plug_tracker(port=7)
        main, page2 = w.keep_settings_past_page2(w.firmware_file(), unplugging=tracker)
        page4 = w.wait_page(4, page2)
        box = self.robot.box(owner=page4, timeout=BOX_TIMEOUT_MS)
        w.shoot(box["hwnd"], "save-port-error")
        self.assertEqual((ERROR_CAPTION, "Невозможно открыть СОМ-порт!", [IDOK, IDCANCEL]),
                         (box["caption"], box["text"], box["buttons"]))
        self.assertEqual(earlier, w.backup.read_bytes())
        w.leave(page4, box=box)


if __name__ == "__main__":
    unittest.main()
