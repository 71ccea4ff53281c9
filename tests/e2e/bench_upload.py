"""Benchmark, not a test: a 256 KiB image sent end to end through page 6 over the simulated
tracker's line paced at 115200 bit/s, 8N1. Run by scripts/bench.sh; the figures go to
${BUILD}/bench/upload.json and to standard output.

The line carries at most 11520 bytes/s. The sender's own waits bound it lower: each 1024-byte
block is a 1029-byte frame on the line (89.3 ms), then the sender polls for the ACK in 10 ms
steps, and waits for 30 ms of quiet before the next frame."""

import json
import statistics
import unittest

import winenv
from kvwizard import NEXT, WizardScenario
from sim.ymodem import ReceiverOptions

IMAGE_SIZE = 256 * 1024
LINE_BYTES_PER_S = 115200 / 10
FRAME_S = 1029 / LINE_BYTES_PER_S
QUIET_BEFORE_FRAME_S = 0.030
ACK_POLL_STEP_S = 0.010
TRANSFER_TIMEOUT_S = 120


class UploadBenchmark(WizardScenario):
    def test_256_kib_over_the_paced_line(self):
        tracker = self.plug_tracker(port=7, receiver=ReceiverOptions(paced=True))
        firmware = self.firmware_file("kv718a-bench.dfu", IMAGE_SIZE)
        page6 = self.open_upload_page(tracker, firmware)
        page9 = self.wait_page(9, page6, timeout=TRANSFER_TIMEOUT_S * 1000)
        upload = tracker.wait_upload(10)
        self.assertEqual(firmware.read_bytes(), upload.data)
        self.robot.click(page9, NEXT)
        self.expect_exit(0)

        seconds = upload.ended_at - upload.first_frame_at
        rate = IMAGE_SIZE / seconds
        blocks = [frame.t for frame in upload.frames if frame.length == 1024 and frame.verdict == "ok"]
        cycles_ms = [1000 * (b - a) for a, b in zip(blocks[1:], blocks[2:])]  # data blocks only
        # Per block: the frame on the line and the quiet wait, plus the ACK poll at most a step,
        # on average half a step.
        bound_worst = 1024 / (FRAME_S + QUIET_BEFORE_FRAME_S + ACK_POLL_STEP_S)
        bound_mean = 1024 / (FRAME_S + QUIET_BEFORE_FRAME_S + ACK_POLL_STEP_S / 2)
        figures = {
            "image_bytes": IMAGE_SIZE,
            "transfer_s": round(seconds, 3),
            "bytes_per_s": round(rate),
            "of_line_limit": round(rate / LINE_BYTES_PER_S, 3),
            "sender_bound_bytes_per_s": [round(bound_worst), round(bound_mean)],
            "of_sender_bound": [round(rate / bound_worst, 3), round(rate / bound_mean, 3)],
            "block_cycle_ms": {"median": round(statistics.median(cycles_ms), 1), "min": round(min(cycles_ms), 1),
                               "max": round(max(cycles_ms), 1)},
            "expected_block_cycle_ms": round(1000 * (FRAME_S + QUIET_BEFORE_FRAME_S), 1),
        }
        out = winenv.BUILD_DIR / "bench" / "upload.json"
        out.parent.mkdir(exist_ok=True)
        out.write_text(json.dumps(figures, indent=1))
        print("\n" + json.dumps(figures, indent=1))


if __name__ == "__main__":
    unittest.main()
