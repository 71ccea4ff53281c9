import json
import threading
import time

import winenv
from sim.settings import SettingsOptions, numbered_payloads
from sim.ymodem import ReceiverOptions
from wizard import NEXT, Wizard, check

IMAGE_SIZE = 256 * 1024
TRANSFER_TIMEOUT_MS = 120000
SETTINGS = 100
# The restore writes a setting a second.
RESTORE_TIMEOUT_MS = 1000 * (SETTINGS + 60)
MEMORY_SAMPLE_S = 0.1


def sample_peak_memory(w, peak):
    """Samples the program's peak resident size (VmHWM, KiB) into peak[0] from its start until it
    has ended; `wine program.exe` becomes the program's own process."""
    while w.process is None:
        time.sleep(MEMORY_SAMPLE_S)
    try:
        while True:
            with open("/proc/%d/status" % w.process.pid) as status:
                peak[0] = max(peak[0], int(next(line for line in status if line.startswith("VmHWM:")).split()[1]))
            time.sleep(MEMORY_SAMPLE_S)
    except (OSError, StopIteration):  # gone, or a zombie without memory
        return


def keep_settings():
    """Job 0 end to end with 100 settings: seconds on each page from 4 on, and peak memory."""
    settings = numbered_payloads(SETTINGS)
    with Wizard("bench.keep-settings") as w:
        tracker = w.plug_tracker(port=7, receiver=ReceiverOptions(paced=True), settings=SettingsOptions(settings))
        firmware = w.firmware_file("kv718a-bench.dfu", IMAGE_SIZE)
        peak = [0]
        sampler = threading.Thread(target=sample_peak_memory, args=(w, peak), daemon=True)
        sampler.start()
        main, page = w.keep_settings_to_page4(firmware)
        shown = {4: time.monotonic()}
        for number, timeout in ((5, TRANSFER_TIMEOUT_MS), (6, TRANSFER_TIMEOUT_MS), (7, TRANSFER_TIMEOUT_MS),
                                (8, TRANSFER_TIMEOUT_MS), (9, RESTORE_TIMEOUT_MS)):
            if number == 6:
                tracker.press_reset(hold_power=True)
            page = w.wait_page(number, page, timeout=timeout)
            shown[number] = time.monotonic()
        check(tracker.settings() == list(settings), "the tracker did not get its settings back")
        w.robot.click(page, NEXT)
        w.expect_exit(0)
        sampler.join()
    return {"image_bytes": IMAGE_SIZE, "settings": SETTINGS,
            "page_s": {n: round(shown[n + 1] - shown[n], 2) for n in range(4, 9)},
            "page4_to_finish_s": round(shown[9] - shown[4], 1), "peak_memory_kib": peak[0]}


if __name__ == "__main__":
    print(json.dumps(keep_settings(), indent=1))
