"""What scripts/run.sh shows without a display: the robot walks job 1, the firmware upgrade,
through the real program under Xvfb against the simulated tracker at the tracker's real line
speed, and tells, as it goes, what the user sees. Exit code 0 once the upgrade has gone through.

    KV_BUILD_DIR=$PWD/build python3 tests/e2e/walk.py
"""

import sys
import time

import winenv  # first: it puts the source tree, and so sim, on the path
from sim.ymodem import ReceiverOptions
from wizard import NEXT, PORT_BOX, PROGRESS, Wizard

IMAGE_SIZE = 64 * 1024
WATCH_S = 0.2


def say(text):
    print(text, flush=True)


def watch_upload(w, page6):
    """Tells the bar's progress by quarters until the page closes; a screenshot half way."""
    told = 0
    try:
        while True:
            bar = w.robot.get(page6, PROGRESS)
            quarter = 4 * bar["pos"] // bar["max"]
            if quarter > told:
                say("  upload: %d of %d KiB" % (bar["pos"], bar["max"]))
                if quarter == 2:
                    w.shoot(page6, "page6-upload")
                told = quarter
            time.sleep(WATCH_S)
    except winenv.RobotError:  # the page has closed
        return


def walk(w):
    tracker = w.plug_tracker(port=7, receiver=ReceiverOptions(paced=True))
    say("The simulated tracker is plugged in on %s." % tracker.port_name)
    firmware = w.firmware_file("kv718a-new.dfu", IMAGE_SIZE)
    say("Starting KV_Firmware_Tool.exe and pressing Старт.")
    main, page1 = w.open_wizard()
    w.shoot(page1, "page1-job")
    say("  choosing the second job, the firmware upgrade alone, and pressing Далее")
    w.pick_job(page1, 1)
    page3 = w.wait_page(3, page1)
    say("  pressing Открыть and choosing %s (%d KiB)" % (firmware, IMAGE_SIZE // 1024))
    w.choose_firmware(page3, firmware)
    w.shoot(page3, "page3-firmware-file")
    w.robot.click(page3, NEXT)
    page5 = w.wait_page(5, page3)
    w.shoot(page5, "page5-boot-loader")
    say("  the tracker is on %s; holding its power button and pressing Reset"
        % w.robot.get(page5, PORT_BOX)["text"])
    tracker.press_reset(hold_power=True)
    page6 = w.wait_page(6, page5)
    watch_upload(w, page6)
    page9 = w.wait_page(9, page6)
    w.shoot(page9, "page9-finish")
    upload = tracker.wait_upload(10)
    if (upload.outcome, upload.data) != ("complete", firmware.read_bytes()):
        raise AssertionError("the tracker's upload ended %s with %d bytes" % (upload.outcome, len(upload.data)))
    say("  the tracker's boot loader received all %d bytes, as named in the first block: %s"
        % (len(upload.data), upload.name.decode("latin-1")))
    say("  pressing Завершить")
    w.robot.click(page9, NEXT)
    w.expect_exit(0)


def main():
    with Wizard("walk", say=say) as w:
        try:
            walk(w)
        except Exception as e:
            say("The walk failed: %s\nScreenshots so far: %s; logs: %s" % (e, w.shot_dir, w.log_dir))
            return 1
        say("Done: the firmware upgrade went through and the program ended with exit code 0.\n"
            "Screenshots of every page: %s" % w.shot_dir)
        return 0


if __name__ == "__main__":
    sys.exit(main())
