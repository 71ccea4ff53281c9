"""The simulated tracker on its pseudo-terminal, in a Wine prefix without Wine: a `wine` first on
PATH plays `wine regedit /S Z:\\...\\x.reg`, keeping a copy of each file (0.reg, 1.reg ...) and
taking the while that regedit takes. lrzsz's sb is in the program's place: the firmware the
tracker takes is what was sent (its cancel fault is the end-to-end scenario's), and new firmware
brings factory settings that only a real restore replaces. The command line that scripts/run.sh
drives: serve says "present on COM7" only once the port and its device key are in place, and
press-reset from another process reaches it."""

import os
import select
import subprocess
import sys
import tempfile
import time
import tty
import unittest
import unittest.mock
from pathlib import Path

from sim.settings import SettingsOptions
from sim.tracker import BOOT, Tracker
from sim.ymodem import BYTE_TIME_S, ReceiverOptions

TIMEOUT_S = 60
PAYLOADS = (b"ID=7", "ИМЯ=Ёж, Уж".encode("cp1251"), b"TZ=+3")
TRACKER = [sys.executable, "-m", "sim"]
FAKE_WINE = """#!/bin/sh
sleep 0.5
n=$(ls "$(dirname "$0")"/*.reg 2>/dev/null | wc -l)
cp "$(printf '%s' "$3" | cut -c3- | tr '\\\\' /)" "$(dirname "$0")/$n.reg"
"""


class InAPrefix(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = Path(folder.name)
        self.prefix, self.wine = self.folder / "prefix", self.folder / "bin"
        (self.prefix / "dosdevices").mkdir(parents=True)
        self.wine.mkdir()
        (self.wine / "wine").write_text(FAKE_WINE)
        (self.wine / "wine").chmod(0o755)
        path = unittest.mock.patch.dict(os.environ, PATH="%s:%s" % (self.wine, os.environ["PATH"]))
        path.start()
        self.addCleanup(path.stop)

    def plug(self):
        self.tracker = Tracker(self.prefix, 7, mode=BOOT, reset_return_s=0, receiver=ReceiverOptions(paced=True),
                               settings=SettingsOptions(payloads=PAYLOADS)).plug()
        self.addCleanup(self.tracker.unplug)
        # The program's end of the line.
        self.fd = os.open(self.tracker.port.pty_path, os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, self.fd)
        tty.setraw(self.fd)

    def read_until(self, done):
        data, deadline = b"", time.monotonic() + TIMEOUT_S
        while not done(data) and select.select([self.fd], [], [], max(0, deadline - time.monotonic()))[0]:
            data += os.read(self.fd, 4096)
        return data

    def send_firmware(self, image):
        os.write(self.fd, b"1")
        self.assertIn(b"abort", self.read_until(lambda data: b")\r\n" in data))
        sb = subprocess.run(["sb", "--ymodem", "-k", str(image)], stdin=self.fd, stdout=self.fd,
                            stderr=subprocess.DEVNULL, timeout=TIMEOUT_S)
        return sb.returncode, self.tracker.wait_upload(TIMEOUT_S)

    def test_firmware_then_factory_settings_then_restore(self):
        self.plug()
        image = self.folder / "Kv718A.DFU"
        image.write_bytes(os.urandom(20 * 1024))
        code, upload = self.send_firmware(image)
        self.assertEqual((0, "complete", image.read_bytes()), (code, upload.outcome, upload.data))
        self.assertEqual((b"Kv718A.DFU", b"20480"), (upload.name, upload.size_field))
        self.assertEqual([0] + list(range(1, 21)) + [0], [frame.number for frame in upload.frames])
        # Blocks 2..20 each crossed the paced line after the answer to the one before.
        self.assertGreaterEqual(upload.frames[20].t - upload.frames[1].t, 19 * 1029 * BYTE_TIME_S)
        factory = self.tracker.settings()
        self.assertFalse(set(factory) & set(PAYLOADS))


        os.write(self.fd, b"2")
        self.assertIsNotNone(self.tracker.wait_event(lambda e: e.kind == "mode" and e.data == "normal", TIMEOUT_S))
        kinds = (1, 0, 2)
        commands = [b"GSS,KestrelonKV-718,%d,%d,%s*QQ!\r\n" % (kinds[n], n, p) for n, p in enumerate(PAYLOADS)]
        os.write(self.fd, b"".join(commands))
        self.assertEqual(commands, [event.data for event in self.tracker.wait_restores(3, TIMEOUT_S)])
        self.assertEqual(list(PAYLOADS), self.tracker.settings())

    def run_tracker(self, *args):
        return subprocess.run([*TRACKER, "--prefix", str(self.prefix), *args],
                              capture_output=True, text=True, timeout=TIMEOUT_S)

    def test_serve_is_present_when_it_says_so_and_takes_reset_from_another_process(self):
        serve = subprocess.Popen([*TRACKER, "--prefix", str(self.prefix), "serve"],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        self.addCleanup(serve.kill)
        with serve.stdout:
            self.assertEqual("present on COM7\n", serve.stdout.readline())
            self.assertTrue((self.prefix / "dosdevices" / "com7").resolve().is_char_device())
            device_key = (self.wine / "0.reg").read_bytes().decode("utf-16")
            self.assertIn('"FriendlyName"="STMicroelectronics Virtual COM Port (COM7)"', device_key)
            self.assertEqual(0, self.run_tracker("press-reset").returncode)
            self.assertEqual(0, self.run_tracker("absent").returncode)
            self.assertEqual(0, serve.wait(TIMEOUT_S))
            self.assertIn(["mode", "boot"], [line.split()[1:] for line in serve.stdout])
        self.assertFalse(os.path.lexists(self.prefix / "dosdevices" / "com7"))
        self.assertIn("[-HKEY_LOCAL_MACHINE", (self.wine / "1.reg").read_bytes().decode("utf-16"))


if __name__ == "__main__":
    unittest.main()
