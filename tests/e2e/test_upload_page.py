"""Page 6 of the "upgrade only" job: the chosen image goes to the simulated tracker's boot loader
by YMODEM while the bar follows it, and the wizard ends on its finish page. When the boot loader
never asks for the file, cancels, or the image has gone, the user is told and can leave."""

import os
import time
import unittest

import winenv
from kvwizard import ERROR_CAPTION, FINISH_TEXTS, IDOK, NEXT, PROGRESS, UPLOAD_ERROR_TEXT, WizardScenario
from sim.ymodem import ReceiverOptions

# The program waits 30 s for the boot loader's first request; allow for a busy machine.
NO_REQUEST_RANGE_S = (29.5, 36.0)
UPLOAD_TIMEOUT_S = 60
# The class library's own text for an image it could not open, as the program shows it.
INVALID_FILE_TEXT = "與 %s 關聯的無效檔案控制代碼。"


def header_name(path):
    """The name block 0 carries: the full Windows path, A-Z lowered, '\\' as '/'."""
    return "".join(c.lower() if "A" <= c <= "Z" else c for c in winenv.windows_path(path)).replace("\\", "/")


class UploadPage(WizardScenario):
    def finish(self, page6):
        """The finish page with the firmware text alone, then "Завершить" ends the program."""
        page9 = self.wait_page(9, page6)
        shown = {name: self.robot.get(page9, control)["visible"] for name, control in FINISH_TEXTS.items()}
        self.assertEqual({"default": False, "firmware": True, "settings": False}, shown)
        self.shoot("page9-finish")
        self.robot.click(page9, NEXT)
        self.expect_exit(0)

    def upgrade(self, receiver, size=3000):
        """A whole upgrade with this receiver; returns the image and what the tracker received."""
        firmware = self.firmware_file("kv718a-new.dfu", size)
        tracker = self.plug_tracker(port=7, receiver=receiver)
        page6 = self.open_upload_page(tracker, firmware)
        upload = tracker.wait_upload(UPLOAD_TIMEOUT_S)
        self.assertIsNotNone(upload, "the transfer did not end")
        self.finish(page6)
        return firmware.read_bytes(), upload

    def test_upgrade_only_sends_the_image_and_finishes(self):
        # 5000 bytes: the bar runs from 1 to 4 KiB and the last of six reports goes beyond it.
        firmware = self.firmware_file("KV718A_New.DFU", 5000)
        tracker = self.plug_tracker(port=7, receiver=ReceiverOptions(closing_request_delay_s=1.5))
        page6 = self.open_upload_page(tracker, firmware)
        # The boot loader holds back its request for the closing block: the data are all out.
        tracker.wait_event(lambda e: e.kind == "eot" and e.data == "ack", timeout_s=UPLOAD_TIMEOUT_S)
        bar = self.robot.until(page6, PROGRESS, pos=4)
        self.assertEqual((1, 4), (bar["min"], bar["max"]))
        self.shoot("page6-upload-done")

        upload = tracker.wait_upload(UPLOAD_TIMEOUT_S)
        self.assertEqual("complete", upload.outcome)
        self.assertEqual(firmware.read_bytes(), upload.data)
        self.assertEqual(header_name(firmware).encode("ascii"), upload.name)
        self.assertEqual(b"5000", upload.size_field)
        self.assertEqual("crc", upload.mode)
        self.measured("upload_s", upload.ended_at - upload.first_frame_at)
        self.finish(page6)

        # Standard output is in text mode: the C runtime writes each "\n" as "\r\n".
        out = self.process.stdout().replace("\r\n", "\n")
        self.assertIn("Sending %s...\n" % winenv.windows_path(firmware), out)
        self.assertIn("    4096 bytes of 5000 -  81%\r", out)
        self.assertIn("    5000 bytes of 5000 - 100%\r", out)
        self.assertTrue(out.endswith("\nSent OK\n"), out[-200:])

    def test_checksum_receiver_gets_the_same_image(self):
        image, upload = self.upgrade(ReceiverOptions(start="NAK"))
        self.assertEqual(("checksum", "complete", image), (upload.mode, upload.outcome, upload.data))

    def test_streaming_receiver_gets_the_same_image(self):
        image, upload = self.upgrade(ReceiverOptions(start="G"), size=20000)
        self.assertEqual(("streaming", "complete", image), (upload.mode, upload.outcome, upload.data))

    def test_blocks_the_tracker_turned_down_are_sent_again(self):
        # A NAK, one CAN and noise before an ACK each cost a resend; a NAKed EOT is sent again.
        receiver = ReceiverOptions(nak_block=1, can_block=2, noise_block=3, nak_first_eot=True)
        image, upload = self.upgrade(receiver, size=5000)
        self.assertEqual(("complete", image), (upload.outcome, upload.data))
        verdicts = [(frame.number, frame.verdict) for frame in upload.frames]
        for block in (1, 2, 3):
            self.assertGreaterEqual(sum(1 for number, _ in verdicts if number == block), 2, verdicts)

    def test_boot_loader_that_never_asks_ends_in_the_error_box(self):
        firmware = self.firmware_file("kv718a-new.dfu")
        tracker = self.plug_tracker(port=7, receiver=ReceiverOptions(start=None))
        page6 = self.open_upload_page(tracker, firmware)
        shown = time.monotonic()
        box = self.robot.box(owner=page6, timeout=int((NO_REQUEST_RANGE_S[1] + 5) * 1000))
        waited = self.measured("error_box_after_s", time.monotonic() - shown)
        self.shoot("upload-error")
        self.assertEqual((ERROR_CAPTION, UPLOAD_ERROR_TEXT, [IDOK]), (box["caption"], box["text"], box["buttons"]))
        self.assertTrue(NO_REQUEST_RANGE_S[0] <= waited <= NO_REQUEST_RANGE_S[1], waited)
        self.assertEqual(0, self.robot.get(page6, PROGRESS)["pos"])
        self.leave_after_error(page6, box)
        self.assertNotIn("Sent OK", self.process.stdout())

    def test_tracker_that_cancels_ends_in_the_error_box(self):
        firmware = self.firmware_file("kv718a-new.dfu", 5000)
        tracker = self.plug_tracker(port=7, receiver=ReceiverOptions(cancel_block=2))
        page6 = self.open_upload_page(tracker, firmware)
        box = self.robot.box(owner=page6, timeout=30000)
        self.assertEqual((ERROR_CAPTION, UPLOAD_ERROR_TEXT), (box["caption"], box["text"]))
        self.assertEqual("cancelled", tracker.wait_upload(10).outcome)
        self.leave_after_error(page6, box)

    def test_image_gone_before_the_upload_is_named_and_nothing_is_sent(self):
        firmware = self.firmware_file("kv718a-gone.dfu")
        tracker = self.plug_tracker(port=7)
        main, page1 = self.open_wizard()
        self.pick_job(page1, 1)
        page3 = self.wait_page(3, page1)
        self.choose_firmware(page3, firmware)
        os.unlink(firmware)
        self.robot.click(page3, NEXT)
        page5 = self.wait_page(5, page3)
        tracker.press_reset(hold_power=True)

        box = self.robot.box(timeout=10000)
        self.shoot("image-gone")
        self.assertEqual(("KV_Firmware_Tool", INVALID_FILE_TEXT % winenv.windows_path(firmware), [IDOK]),
                         (box["caption"], box["text"], box["buttons"]))
        self.robot.click(box["hwnd"], IDOK)
        page6 = self.wait_page(6, page5)
        # No transfer starts: the page waits at 0 until the user leaves.
        self.assert_not_within(2000, page6, PROGRESS, pos=1)
        self.assertTrue(all(upload.first_frame_at is None for upload in tracker.uploads()))
        self.assertNotIn("Sending", self.process.stdout())
        self.leave_program(page6)


if __name__ == "__main__":
    unittest.main()
