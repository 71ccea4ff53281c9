"""Page 6 when the new firmware cannot be put in place: the upload cannot be done. The user is
told, and can only leave. (Which failures end the upload, and the texts of the boxes, are the
unit tests'.)"""

import unittest

from harness import winenv
from harness.wizard import ERROR_CAPTION, IDOK, Scenario
from sim.ymodem import ReceiverOptions

UPLOAD_ERROR_TEXT = "Невозможно сохранить изменения!"
# The class library's box for an image it could not open: the program file's name as caption.
INVALID_FILE_CAPTION = "KV_Firmware_Tool"
BOX_TIMEOUT_MS = 30000


class UploadFailures(Scenario):
    def test_tracker_that_cancels_the_transfer(self):
        w = self.wizard
        tracker = w.plug_tracker(port=7, receiver=ReceiverOptions(cancel_block=2))
        main, page5 = w.upgrade_to_page5(w.firmware_file(size=5000))
        tracker.press_reset(hold_power=True)
        page6 = w.wait_page(6, page5)
        box = self.robot.box(owner=page6, timeout=BOX_TIMEOUT_MS)
        w.shoot(box["hwnd"], "upload-error")
        self.assertEqual((ERROR_CAPTION, UPLOAD_ERROR_TEXT, [IDOK]), (box["caption"], box["text"], box["buttons"]))
        # Only once the user has read it does the page ask whether to close the program.
        w.leave(page6, box=box)
        self.assertNotIn("Sent OK", w.output())

    def test_image_gone_before_the_upload(self):
        w = self.wizard
        firmware = w.firmware_file()
        tracker = w.plug_tracker(port=7)
        main, page5 = w.upgrade_to_page5(firmware, gone=True)
        tracker.press_reset(hold_power=True)

        box = self.robot.box(timeout=BOX_TIMEOUT_MS)
        w.shoot(box["hwnd"], "image-gone")
        self.assertEqual((INVALID_FILE_CAPTION, [IDOK]), (box["caption"], box["buttons"]))
        self.assertIn(winenv.windows_path(firmware), box["text"])
        self.robot.click(box["hwnd"], IDOK)
        w.leave(w.wait_page(6, page5), "close")
        # Page 5 closed the port after the boot loader's answer, and nothing opened it again.
        answer = tracker.wait_event(lambda e: e.kind == "tx" and b"abort" in e.data, 0)
        self.assertEqual(["close"], [e.kind for e in tracker.events() if e.kind in ("open", "close") and e.t > answer.t])


if __name__ == "__main__":
    unittest.main()
