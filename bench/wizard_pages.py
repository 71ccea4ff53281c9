"""Benchmark, not a test: timings of the program's pages that a user waits through, measured on
the real program under Xvfb + Wine against the simulated tracker. Run by scripts/bench.sh;
prints the figures and writes them to ${BUILD}/bench/wizard.json.

    upload      a 256 KiB image sent through page 6 over the line paced at 115200 bit/s, 8N1.
                The line carries at most 11520 bytes/s; the sender's own waits bound it lower:
                each 1024-byte block is a 1029-byte frame (89.3 ms), then the ACK is polled in
                10 ms steps, and 30 ms of quiet are awaited before the next frame. Side by side,
                in ms per KiB, the same upload unpaced: the line takes bytes as fast as they
                come, and what is left is the sender's and the receiver's own time.
    job 0       the upgrade with the settings kept, end to end: the same image and 100 settings;
                the seconds each page from 4 to 8 is on screen, and the program's peak resident
                memory (VmHWM) on the finish page.
    error boxes how long page 5 waits for a tracker that never answers (the limit is 40 s, then
                a 1 s pause), and the CPU seconds the program spends meanwhile (user and system
                time of its process, which `wine` became); how long page 6 waits for a boot
                loader that never asks for the file (30 s).
"""

import json
import os
import re
import time
from pathlib import Path

from harness import winenv
from harness.wizard import NEXT, Wizard, check
from sim.settings import SettingsOptions, numbered_payloads
from sim.ymodem import ReceiverOptions

IMAGE_SIZE = 256 * 1024
LINE_BYTES_PER_S = 115200 / 10
FRAME_S = 1029 / LINE_BYTES_PER_S
QUIET_BEFORE_FRAME_S = 0.030
ACK_POLL_STEP_S = 0.010
TRANSFER_TIMEOUT_MS = 120000
BOX_TIMEOUT_MS = 60000
SETTINGS = 100
# Writing the settings back takes a second each.
RESTORE_TIMEOUT_MS = 1000 * (SETTINGS + 60)


def upload(paced):
    with Wizard("bench.upload-" + ("paced" if paced else "unpaced")) as w:
        tracker = w.plug_tracker(port=7, receiver=ReceiverOptions(paced=paced))
        firmware = w.firmware_file("kv718a-bench.dfu", IMAGE_SIZE)
        main, page5 = w.upgrade_to_page5(firmware)
        tracker.press_reset(hold_power=True)
        page9 = w.wait_page(9, page5, timeout=TRANSFER_TIMEOUT_MS)
        sent = tracker.wait_upload(10)
        if sent.data != firmware.read_bytes():
            raise SystemExit("the tracker received another image than the one chosen")
        w.robot.click(page9, NEXT)
        w.expect_exit(0)
    seconds = sent.ended_at - sent.first_frame_at
    rate = IMAGE_SIZE / seconds
    if not paced:
        return {"image_bytes": IMAGE_SIZE, "transfer_s": round(seconds, 3),
                "ms_per_kib": round(1000 * seconds / (IMAGE_SIZE / 1024), 2)}
    # Per block: the frame on the line and the quiet wait, plus the ACK poll: at most a whole
    # step, on average half a step.
    bounds = [1024 / (FRAME_S + QUIET_BEFORE_FRAME_S + step) for step in (ACK_POLL_STEP_S, ACK_POLL_STEP_S / 2)]
    figures = {"image_bytes": IMAGE_SIZE, "transfer_s": round(seconds, 3), "bytes_per_s": round(rate),
               "ms_per_kib": round(1000 * seconds / (IMAGE_SIZE / 1024), 2),
               "of_line_limit": round(rate / LINE_BYTES_PER_S, 3),
               "sender_bound_bytes_per_s": [round(b) for b in bounds],
               "of_sender_bound": [round(rate / b, 3) for b in bounds]}
    return figures


def keep_settings():
    settings = numbered_payloads(SETTINGS)
    with Wizard("bench.keep-settings") as w:
        tracker = w.plug_tracker(port=7, receiver=ReceiverOptions(paced=True), settings=SettingsOptions(settings))
        firmware = w.firmware_file("kv718a-bench.dfu", IMAGE_SIZE)
        main, page = w.keep_settings_past_page2(firmware)
        page = w.wait_page(4, page)
        shown = {4: time.monotonic()}
        for number in range(5, 10):
            if number == 6:
                tracker.press_reset(hold_power=True)
            page = w.wait_page(number, page, timeout=RESTORE_TIMEOUT_MS if number == 9 else TRANSFER_TIMEOUT_MS)
            shown[number] = time.monotonic()
        check(tracker.settings() == list(settings), "the tracker did not get its settings back")
        # The high-water mark of its resident memory; `wine program.exe` became the program itself.
        status = (Path("/proc") / str(w.process.pid) / "status").read_text()
        peak_kib = int(re.search(r"VmHWM:\s*(\d+)", status).group(1))
        w.robot.click(page, NEXT)
        w.expect_exit(0)
    return {"image_bytes": IMAGE_SIZE, "settings": SETTINGS,
            "page_s": {n: round(shown[n + 1] - shown[n], 2) for n in range(4, 9)},
            "page4_to_finish_s": round(shown[9] - shown[4], 1), "peak_memory_kib": peak_kib}


def cpu_s(pid):
    """User and system time of a process so far, in seconds."""
    fields = (Path("/proc") / str(pid) / "stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def error_box_after(name, page_number, unplug=False, **tracker):
    """Seconds from the page showing to its error box, with a tracker that ignores the boot
    loader's request (normal mode), has this behaviour, or is unplugged once the page shows (its
    port no longer opens); and the program's CPU seconds meanwhile."""
    with Wizard("bench." + name) as w:
        plugged = w.plug_tracker(port=7, **tracker)
        main, page = w.upgrade_to_page5(w.firmware_file())
        if page_number == 6:
            plugged.press_reset(hold_power=True)
            page = w.wait_page(6, page)
        shown, cpu_at_show = time.monotonic(), cpu_s(w.process.pid)
        if unplug:
            w.unplug_tracker(plugged)
        box = w.robot.box(owner=page, timeout=BOX_TIMEOUT_MS)
        waited, cpu = time.monotonic() - shown, cpu_s(w.process.pid) - cpu_at_show
        w.leave(page, box=box)
    return {"box_after_s": round(waited, 2), "program_cpu_s": round(cpu, 2)}


def main():
    paced, unpaced = upload(paced=True), upload(paced=False)
    figures = {"upload_ms_per_kib": {"paced": paced["ms_per_kib"], "unpaced": unpaced["ms_per_kib"]},
               "upload": paced, "upload_unpaced": unpaced,
               "keep_settings_job": keep_settings(),
               "boot_loader_timeout": error_box_after("silent-tracker", 5),
               "boot_loader_timeout_port_gone": error_box_after("port-gone", 5, unplug=True),
               "no_file_request": error_box_after("never-asks", 6, receiver=ReceiverOptions(start=None))}
    out = winenv.BUILD_DIR / "bench" / "wizard.json"
    out.parent.mkdir(exist_ok=True)
    out.write_text(json.dumps(figures, indent=1))
    print(json.dumps(figures, indent=1))


if __name__ == "__main__":
    main()
