"""Page 4 when the tracker's settings do not come as they should: the user is told, and the
settings saved before stay as they were."""

import unittest

import winenv  # noqa: F401  (first: it puts sim on the path)
from sim.settings import DEFAULT_PAYLOADS, SettingsOptions
from wizard import ERROR_CAPTION, IDOK, Scenario, backup_bytes

BOX_TIMEOUT_MS = 30000


class SaveFailure(Scenario):
    def test_dump_that_does_not_start_with_its_first_record(self):
        w = self.wizard
        w.plug_tracker(port=7, settings=SettingsOptions(fault="wrong-first"))
        earlier = backup_bytes(DEFAULT_PAYLOADS[:2])
        w.backup.write_bytes(earlier)
        main, page4 = w.keep_settings_to_page4(w.firmware_file())
        box = self.robot.box(owner=page4, timeout=BOX_TIMEOUT_MS)
        w.shoot(box["hwnd"], "save-failed")
        self.assertEqual((ERROR_CAPTION, "Превышено время ожидания!", [IDOK]), (box["caption"], box["text"], box["buttons"]))
        self.assertEqual(earlier, w.backup.read_bytes())
        w.leave(page4, box=box)


if __name__ == "__main__":
    unittest.main()
