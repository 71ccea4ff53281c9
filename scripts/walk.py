"""What scripts/run.sh shows without a display: the robot walks job 0, the firmware upgrade with
the tracker's settings kept, through the real program under Xvfb against the simulated tracker
at the tracker's real line speed, and tells, as it goes, what the user sees. Exit code 0 once
the upgrade has gone through and the tracker has its settings back.

    KV_BUILD_DIR=$PWD/build PYTHONPATH=$PWD python3 scripts/walk.py
"""

import sys
import time

from harness import winenv
from harness.wizard import NEXT, PORT_BOX, PROGRESS, Wizard, backup_bytes, check, restore_commands
from sim.ymodem import ReceiverOptions

IMAGE_SIZE = 64 * 1024
WATCH_S = 0.2
# Saving takes a second or two; writing the settings back a second each.
SETTINGS_TIMEOUT_MS = 60000


def say(text):
    print(text, flush=True)


class Walk(Wizard):
    """The run of the walk, which tells each page as it shows: its number and first line of text."""

    def wait_page(self, number, *args, **kwargs):
        page = super().wait_page(number, *args, **kwargs)
        texts = [c["text"] for c in self.robot.get(page)["controls"]
                 if c["class"] == "Static" and c["visible"] and c["text"]]
        say("Page %d: %s" % (number, texts[0].splitlines()[0]))
        return page


def watch(w, page, what, total=None):
    """Tells the bar's progress (of total, or of its end) by quarters until the page closes; a
    screenshot half way."""
    told = 0
    try:
        while True:
            bar = w.robot.get(page, PROGRESS)
            quarter = 4 * bar["pos"] // (total or bar["max"])
            if quarter > told:
                say("  %s: %d of %d" % (what, bar["pos"], total or bar["max"]))
                if quarter == 2:
                    w.shoot(page, what)
                told = quarter
            time.sleep(WATCH_S)
    except winenv.RobotError as e:
        if not e.vanished:  # a read that got no answer is a failure, not the page's end
            raise


def walk(w):
    # After its restart the tracker stays away until the walk has told page 7.
    tracker = w.plug_tracker(port=7, receiver=ReceiverOptions(paced=True), reset_return_s=None)
    settings = tracker.settings()
    say("The simulated tracker is plugged in on %s; it holds %d settings." % (tracker.port_name, len(settings)))
    firmware = w.firmware_file("kv718a-new.dfu", IMAGE_SIZE)
    say("Starting KV_Firmware_Tool.exe and pressing Старт.")
    main, page1 = w.open_wizard()
    w.shoot(page1, "page1-job")
    say("  keeping the first job, the upgrade with the settings kept, and pressing Далее")
    w.robot.click(page1, NEXT)
    page3 = w.wait_page(3, page1)
    say("  pressing Открыть and choosing %s (%d KiB)" % (firmware, IMAGE_SIZE // 1024))
    w.choose_firmware(page3, firmware)
    w.shoot(page3, "page3-firmware-file")
    w.robot.click(page3, NEXT)
    page2 = w.wait_page(2, page3)
    w.robot.wait_for(page2, NEXT, usable=True)
    say("  the tracker is on %s; pressing Далее" % w.robot.get(page2, PORT_BOX)["text"])
    w.shoot(page2, "page2-connect")
    w.robot.click(page2, NEXT)
    # Page 4 saves the settings in a second or two; page 5 waits for the user.
    page5 = w.wait_page(5, page2, timeout=SETTINGS_TIMEOUT_MS)
    check(w.backup.read_bytes() == backup_bytes(settings), "the backup does not hold the tracker's settings")
    say("  page 4 has saved the settings: %d lines in %s" % (len(settings), w.backup))
    w.shoot(page5, "page5-boot-loader")
    say("  holding the tracker's power button and pressing Reset")
    tracker.press_reset(hold_power=True)
    page6 = w.wait_page(6, page5)
    watch(w, page6, "upload (KiB)")
    page7 = w.wait_page(7, page6)
    upload = tracker.wait_upload(10)
    check((upload.outcome, upload.data) == ("complete", firmware.read_bytes()),
          "the tracker's upload ended %s with %d bytes" % (upload.outcome, len(upload.data)))
    say("  the boot loader received all %d bytes; the tracker restarts with the new firmware and its "
        "factory settings" % len(upload.data))
    w.shoot(page7, "page7-restart")
    check(tracker.wait_event("gone", 10), "page 7 did not restart the tracker")
    tracker.come_back()
    say("  the tracker is back on %s" % tracker.port_name)
    page8 = w.wait_page(8, page7)
    watch(w, page8, "settings written back", len(settings))
    page9 = w.wait_page(9, page8, timeout=SETTINGS_TIMEOUT_MS)
    sent = [event.data for event in tracker.restores()]
    check(sent == [command.encode("cp1251") for command in restore_commands(settings)] and
          tracker.settings() == settings, "the tracker did not get its settings back: %s" % sent)
    say("  the tracker received %d commands and has its settings of before the upgrade again" % len(sent))
    w.shoot(page9, "page9-finish")
    say("  pressing Завершить")
    w.robot.click(page9, NEXT)
    w.expect_exit(0)


def main():
    with Walk("walk") as w:
        try:
            walk(w)
        except Exception as e:
            say("The walk failed: %s\nScreenshots so far: %s; logs: %s" % (e, w.shot_dir, w.log_dir))
            return 1
        say("Done: the firmware upgrade went through with the settings kept, and the program ended with "
            "exit code 0.\nScreenshots of every page: %s" % w.shot_dir)
        return 0


if __name__ == "__main__":
    sys.exit(main())
