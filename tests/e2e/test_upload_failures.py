"""Pages 6 and 7 when the new firmware cannot be put in place: the upload cannot be done, or the
tracker does not come back after its restart. The user is told why, and can only leave."""

import unittest

from harness import winenv
from harness.wizard import ERROR_CAPTION, IDOK, Scenario
from sim.ymodem import ReceiverOptions

UPLOAD_ERROR_TEXT = "Невозможно сохранить изменения!"
# The class library's own text for an image it could not open, as the program shows it.
INVALID_FILE = ("KV_Firmware_Tool", "與 %s 關聯的無效檔案控制代碼。")
BOX_TIMEOUT_MS = 30000
# Page 7 waits 40 s for the tracker's port to come back.
RETURN_BOX_TIMEOUT_MS = 120000


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
        self.assertEqual("cancelled", tracker.wait_upload(10).outcome)
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
        self.assertEqual((INVALID_FILE[0], INVALID_FILE[1] % winenv.windows_path(firmware), [IDOK]),
                         (box["caption"], box["text"], box["buttons"]))
        self.robot.click(box["hwnd"], IDOK)
        w.leave(w.wait_page(6, page5), "close")
        # Page 5 closed the port after the boot loader's answer, and nothing opened it again.
        answer = tracker.wait_event(lambda e: e.kind == "tx" and b"abort" in e.data, 0)
        self.assertEqual(["close"], [e.kind for e in tracker.events() if e.kind in ("open", "close") and e.t > answer.t])

    def test_tracker_that_never_comes_back_after_its_reset(self):
        w = self.wizard
        tracker = w.plug_tracker(port=7, reset_return_s=None)
        main, page2 = w.keep_settings_past_page2(w.firmware_file())
        page5 = w.wait_page(5, page2, timeout=BOX_TIMEOUT_MS)
        tracker.press_reset(hold_power=True)
        page7 = w.wait_page(7, page5, timeout=BOX_TIMEOUT_MS)
        box = self.robot.box(owner=page7, timeout=RETURN_BOX_TIMEOUT_MS)
        self.assertEqual((ERROR_CAPTION, "Превышено время ожидания!", [IDOK]),
                         (box["caption"], box["text"], box["buttons"]))
        w.leave(page7, box=box)


if __name__ == "__main__":
    unittest.main()
