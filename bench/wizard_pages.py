"""Benchmark, not a test: timings of the program's pages that a user waits through, measured on
the real program under Xvfb + Wine against the simulated tracker. Run by scripts/bench.sh;
prints the figures and writes them to ${BUILD}/bench/wizard.json. With --upload-only it runs the
upload alone (paced and unpaced) and writes ${BUILD}/bench/upload.json instead; either way the
per-block times go to ${BUILD}/bench/upload-blocks.json.

    upload      a 256 KiB image sent through page 6 over the line paced at 115200 bit/s, 8N1.
                The line carries at most 11520 bytes/s; the protocol bounds it lower: each
                1024-byte block is a 1029-byte frame (89.3 ms), the receiver answers it, and the
                sender awaits 30 ms of quiet before the next frame. Side by side, in ms per KiB,
                the same upload unpaced: the line takes bytes as fast as they come, and what is
                left is the sender's and the receiver's own time.
                sender_bound_bytes_per_s: the rates that 10 ms (and 5 ms) a block for the
                answer to come back and be taken would leave, beside the frame and the quiet.
                per_block, for the data blocks (as the simulated tracker timed them): the
                period from the start of one frame on the line to the start of the next, and
                the bound of that period, which is the frame's time on the line (89.3 ms paced;
                unpaced, from its first byte to its last as the tracker got them) + the
                receiver's answer time (from the frame's last byte reaching the tracker to its
                answer going out) + the 30 ms of quiet; over_bound is the period less its
                bound, the time the sender adds of its own. Median, p90, min and max in ms.
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
import statistics
import sys
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
# What the sender_bound figures allow a block for the answer to come back and be taken.
ANSWER_ALLOWANCE_S = 0.010
DATA_BLOCK = 1024
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
    blocks, per_block = data_block_times(sent, paced)
    if not paced:
        return {"image_bytes": IMAGE_SIZE, "transfer_s": round(seconds, 3),
                "ms_per_kib": round(1000 * seconds / (IMAGE_SIZE / 1024), 2), "per_block": per_block}, blocks
    # Per block: the frame on the line and the quiet wait, plus a whole or half the allowance.
    bounds = [1024 / (FRAME_S + QUIET_BEFORE_FRAME_S + allowance)
              for allowance in (ANSWER_ALLOWANCE_S, ANSWER_ALLOWANCE_S / 2)]
    figures = {"image_bytes": IMAGE_SIZE, "transfer_s": round(seconds, 3), "bytes_per_s": round(rate),
               "ms_per_kib": round(1000 * seconds / (IMAGE_SIZE / 1024), 2),
               "of_line_limit": round(rate / LINE_BYTES_PER_S, 3),
               "sender_bound_bytes_per_s": [round(b) for b in bounds],
               "of_sender_bound": [round(rate / b, 3) for b in bounds],
               "per_block": per_block}
    return figures, blocks


def spread(values_s):
    """Median, p90, min and max of times in seconds, in ms."""
    ms = sorted(1000 * v for v in values_s)
    p90 = statistics.quantiles(ms, n=10)[8] if len(ms) > 1 else ms[0]
    return {"median": round(statistics.median(ms), 2), "p90": round(p90, 2),
            "min": round(min(ms), 2), "max": round(max(ms), 2)}


def data_block_times(upload, paced):
    """Each data block's times as the simulated tracker recorded them, and their spread: the
    period from its frame's start to the next frame's start, for every data block followed by
    another, and that period's bound (the frame on the line, the answer, the quiet)."""
    frames, expected = upload.frames, IMAGE_SIZE // DATA_BLOCK
    header = next(i for i, f in enumerate(frames) if f.number == 0 and f.verdict == "ack")
    # The data blocks, a block sent again included, up to the last one's ACK: the closing block 0
    # after EOT is no data block.
    data = []
    for frame in frames[header + 1:]:
        if sum(f.verdict == "ack" for f in data) == expected:
            break
        data.append(frame)
    if sum(f.verdict == "ack" for f in data) != expected or any(f.length != DATA_BLOCK for f in data):
        raise SystemExit("the tracker did not see %d data blocks of %d bytes" % (expected, DATA_BLOCK))
    blocks = []
    for frame, following in zip(data, data[1:]):
        on_line = frame.last_byte_at - frame.first_byte_at
        answer = frame.answer_sent_at - frame.last_byte_at
        bound = (FRAME_S if paced else on_line) + answer + QUIET_BEFORE_FRAME_S
        period = following.first_byte_at - frame.first_byte_at
        blocks.append({"number": frame.number, "verdict": frame.verdict, "on_line_ms": round(1000 * on_line, 3),
                       "answer_ms": round(1000 * answer, 3), "bound_ms": round(1000 * bound, 3),
                       "period_ms": round(1000 * period, 3), "over_bound_ms": round(1000 * (period - bound), 3)})
    per_block = {"data_blocks": len(data), "periods": len(blocks),
                 "retransmitted": sum(1 for f in data if f.verdict != "ack")}
    for key in ("period_ms", "bound_ms", "over_bound_ms", "on_line_ms", "answer_ms"):
        per_block[key[:-3]] = spread([b[key] / 1000 for b in blocks])
    return blocks, per_block


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


def main(args):
    if args not in ([], ["--upload-only"]):
        raise SystemExit("usage: %s [--upload-only]" % sys.argv[0])
    upload_only = args == ["--upload-only"]
    (paced, paced_blocks), (unpaced, unpaced_blocks) = upload(paced=True), upload(paced=False)
    figures = {"upload_ms_per_kib": {"paced": paced["ms_per_kib"], "unpaced": unpaced["ms_per_kib"]},
               "upload_over_bound_ms_per_block": {"paced": paced["per_block"]["over_bound"],
                                                  "unpaced": unpaced["per_block"]["over_bound"]},
               "upload": paced, "upload_unpaced": unpaced}
    if not upload_only:
        figures.update({"keep_settings_job": keep_settings(),
                        "boot_loader_timeout": error_box_after("silent-tracker", 5),
                        "boot_loader_timeout_port_gone": error_box_after("port-gone", 5, unplug=True),
                        "no_file_request": error_box_after("never-asks", 6, receiver=ReceiverOptions(start=None))})
    folder = winenv.BUILD_DIR / "bench"
    folder.mkdir(exist_ok=True)
    (folder / "upload-blocks.json").write_text(json.dumps({"paced": paced_blocks, "unpaced": unpaced_blocks}))
    out = folder / ("upload.json" if upload_only else "wizard.json")
    out.write_text(json.dumps(figures, indent=1))
    print(json.dumps(figures, indent=1))
    print("written to %s (per block: %s)" % (out, folder / "upload-blocks.json"))


if __name__ == "__main__":
    main(sys.argv[1:])
