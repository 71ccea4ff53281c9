import unittest

import winenv  # noqa: F401  (first: it puts sim on the path)

from sim.settings import DEFAULT_PAYLOADS, SettingsOptions
from wizard import FINISH_TEXTS, NEXT, PORT_BOX, Scenario, backup_bytes, restore_commands

EVENT_TIMEOUT_S = 10
SAVE_TIMEOUT_MS = 60000
RESTORE_TIMEOUT_MS = 60000
# What the tracker says besides its records (a position report); the program ignores it.
CHATTER = b"$GPRMC,120000,A,5545.35,N,03737.04,E,0.0,0.0,010124,,*00\r\n"
CHATTER_S = 0.5
ONE_SECOND_AT_LEAST_S = 0.8
# A few settings (a second each to write back): Cyrillic, and commas inside.
SETTINGS = DEFAULT_PAYLOADS[2:4] + DEFAULT_PAYLOADS[5:6] + DEFAULT_PAYLOADS[9:]


class Draft(Scenario):
    def check_restores(self, tracker, count, settings, spaced=False):
        """The tracker's set commands from the count-th on carry these settings, in order, and
        (spaced) each came a second after the one before."""
        expected = [command.encode("cp1251") for command in restore_commands(settings)]
        restores = (tracker.wait_restores(count + len(expected), RESTORE_TIMEOUT_MS / 1000) or tracker.restores())[count:]
        self.assertEqual(expected, [event.data for event in restores])
        gaps = [b.t - a.t for a, b in zip(restores, restores[1:])]
        print("gaps", gaps)
        if spaced:
            self.assertGreater(min(gaps), ONE_SECOND_AT_LEAST_S, gaps)

    def test_keep_settings_job_from_start_to_finish(self):
        w = self.wizard
        # The first dump loses a record to 300 ms of silence: the program asks again once the
        # tracker has gone on talking for 10 s without a record it can use.
        tracker = w.plug_tracker(port=7, settings=SettingsOptions(SETTINGS, fault="broken", fault_once=True))
        settings = tracker.settings()
        firmware = w.firmware_file()
        main, page4 = w.keep_settings_to_page4(firmware)
        first = tracker.wait_event("query", EVENT_TIMEOUT_S)
        for _ in range(int(SAVE_TIMEOUT_MS / 1000 / CHATTER_S)):
            again = tracker.wait_event("query", CHATTER_S, after=first.t)
            if again:
                break
            tracker.send(CHATTER)
        self.assertIsNotNone(again, "the program did not ask again for the settings")
        page5 = w.wait_page(5, page4, timeout=SAVE_TIMEOUT_MS)
        self.assertEqual(backup_bytes(settings), w.backup.read_bytes())

        tracker.press_reset(hold_power=True)
        page6 = w.wait_page(6, page5)
        page7 = w.wait_page(7, page6, timeout=SAVE_TIMEOUT_MS)
        self.assertEqual(("complete", firmware.read_bytes()), (lambda u: (u.outcome, u.data))(tracker.wait_upload(0)))
        page8 = w.wait_page(8, page7)
        page9 = w.wait_page(9, page8, timeout=RESTORE_TIMEOUT_MS)
        self.check_restores(tracker, 0, SETTINGS)
        self.assertEqual(settings, tracker.settings())
        shown = {name: self.robot.get(page9, control)["visible"] for name, control in FINISH_TEXTS.items()}
        self.assertEqual({"default": True, "firmware": False, "settings": False}, shown)
        w.shoot(page9, "page9-finish-settings-kept")
        self.robot.click(page9, NEXT)
        w.expect_exit(0)

        # Job 2 later on, with new firmware in the tracker again: the same settings go back.
        tracker.settings_interpreter.factory_reset()
        main, page1 = w.open_wizard()
        w.pick_job(page1, 2)
        page2 = w.wait_page(2, page1)
        self.robot.wait_for(page2, NEXT, usable=True)
        self.robot.click(page2, NEXT)
        page9 = w.wait_page(9, w.wait_page(8, page2), timeout=RESTORE_TIMEOUT_MS)
        # (The tracker's log is in time only here: after a restart it takes in what came
        # meanwhile late.)
        self.check_restores(tracker, len(SETTINGS), SETTINGS, spaced=True)
        self.assertEqual(settings, tracker.settings())
        self.assertTrue(self.robot.get(page9, FINISH_TEXTS["settings"])["visible"])
        self.robot.click(page9, NEXT)
        w.expect_exit(0)


if __name__ == "__main__":
    unittest.main()
