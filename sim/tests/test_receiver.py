"""The simulated boot loader's transfer, fed by lrzsz's sb as the program's stand-in: what the
scenarios read from an upload record must be what a sender really sent."""

import os
import subprocess
import sys
import tempfile
import threading
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from sim.events import EventLog  # noqa: E402
from sim.ymodem import BYTE_TIME_S, CANCEL, Receiver, ReceiverOptions  # noqa: E402

END_TIMEOUT_S = 60


class Sender:
    """sb sending one file to a receiver session: its bytes go to feed(), the answers to sb."""

    def __init__(self, test, path, **options):
        self.log = EventLog()
        self.answers = bytearray()
        self.fed = 0
        self.ended = threading.Event()
        self.sb = subprocess.Popen(["sb", "--ymodem", "-k", str(path)], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.receiver = Receiver(ReceiverOptions(**options), self._answer, self.log,
                                 on_end=lambda _: self.ended.set())
        # A request for the boot loader's menu that came late belongs to no file.
        self.receiver.feed(b"1")
        self.receiver.start()
        threading.Thread(target=self._pump, daemon=True).start()
        test.addCleanup(self._stop)

    def _answer(self, data):
        self.answers += data
        try:
            self.sb.stdin.write(data)
            self.sb.stdin.flush()
        except BrokenPipeError:
            pass  # sb has given up; the record says why

    def _pump(self):
        while data := os.read(self.sb.stdout.fileno(), 4096):
            self.fed += len(data)
            self.receiver.feed(data)

    def upload(self, test):
        test.assertTrue(self.ended.wait(END_TIMEOUT_S), "the session did not end")
        return self.receiver.upload

    def _stop(self):
        self.receiver.stop()
        if self.sb.poll() is None:
            self.sb.kill()
        self.sb.wait()
        self.sb.stdin.close()
        self.sb.stdout.close()


class Transfer(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)

    def image(self, name, size):
        path = self.folder / name
        path.write_bytes(os.urandom(size))
        return path

    def test_a_file_arrives_whole_with_its_header(self):
        for paced in (False, True):
            with self.subTest(paced=paced):
                image = self.image("Kv718A.DFU", 20 * 1024)
                sender = Sender(self, image, paced=paced)
                upload = sender.upload(self)
                self.assertEqual(("complete", image.read_bytes()), (upload.outcome, upload.data))
                self.assertEqual((b"Kv718A.DFU", b"20480", 20480), (upload.name, upload.size_field, upload.size))
                self.assertEqual([0] + list(range(1, 21)) + [0], [frame.number for frame in upload.frames])
                self.assertEqual({"ack"}, {frame.verdict for frame in upload.frames})
                self.assertEqual(0, sender.sb.wait(END_TIMEOUT_S))
                if paced:
                    # Blocks 2..20 each cross the line after the answer to the one before.
                    crossing = upload.frames[20].t - upload.frames[1].t
                    self.assertGreaterEqual(crossing, 19 * 1029 * BYTE_TIME_S)

    def test_the_cancel_fault_stops_the_sender_at_its_block(self):
        for block, taken in ((0, []), (2, [0, 1])):
            with self.subTest(block=block):
                sender = Sender(self, self.image("fw.dfu", 5000), cancel_block=block)
                upload = sender.upload(self)
                self.assertEqual("cancelled", upload.outcome)
                self.assertEqual(taken, [frame.number for frame in upload.frames])
                self.assertTrue(sender.answers.endswith(CANCEL))
                self.assertNotEqual(0, sender.sb.wait(END_TIMEOUT_S))


if __name__ == "__main__":
    unittest.main()
