"""Page 4 when the settings cannot be saved: the user is told why, and the settings saved
before stay as they were."""

import unittest

from harness.wizard import ERROR_CAPTION, IDCANCEL, IDOK, Scenario, backup_bytes
from sim.settings import DEFAULT_PAYLOADS, SettingsOptions

BOX_TIMEOUT_MS = 30000
CASES = (  # what goes wrong, the tracker's settings fault, what the user is told
    ("the cable comes out as Next is pressed", None, "Невозможно открыть СОМ-порт!", [IDOK, IDCANCEL]),
    ("the dump does not begin with its first record", "wrong-first", "Превышено время ожидания!", [IDOK]),
)


class SaveFailure(Scenario):
    def test_failed_save_keeps_the_earlier_backup(self):
        w = self.wizard
        earlier = backup_bytes(DEFAULT_PAYLOADS[:2])
        w.backup.write_bytes(earlier)
        for case, fault, text, buttons in CASES:
            tracker = w.plug_tracker(port=7, settings=SettingsOptions(fault=fault))
            main, page2 = w.keep_settings_past_page2(w.firmware_file(), unplugging=None if fault else tracker)
            page4 = w.wait_page(4, page2)
            box = self.robot.box(owner=page4, timeout=BOX_TIMEOUT_MS)
            w.shoot(box["hwnd"], case)
            self.assertEqual((ERROR_CAPTION, text, buttons), (box["caption"], box["text"], box["buttons"]), case)
            self.assertEqual(earlier, w.backup.read_bytes(), case)
            w.leave(page4, box=box)
            if tracker in w.trackers:
                w.unplug_tracker(tracker)


if __name__ == "__main__":
    unittest.main()
