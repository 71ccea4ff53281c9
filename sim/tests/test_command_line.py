"""The command line that scripts/run.sh drives: serve says "present on COM7" only once the port
and its device key are in place, and press-reset from another process reaches it. Wine's
regedit is played by a stand-in that keeps each .reg file it is given."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

TRACKER = Path(__file__).resolve().parents[1] / "tracker.py"
FAKE_WINE = """#!/bin/sh
# wine regedit /S Z:\\path\\file.reg: keep a copy of the file beside this script, taking the
# while that regedit takes, so that nothing can pass for present before it is.
sleep 0.5
n=$(ls "$(dirname "$0")"/*.reg 2>/dev/null | wc -l)
cp "$(printf '%s' "$3" | cut -c3- | tr '\\\\' /)" "$(dirname "$0")/$n.reg"
"""
END_TIMEOUT_S = 60


class CommandLine(unittest.TestCase):
    def run_tracker(self, *args):
        return subprocess.run([sys.executable, str(TRACKER), "--prefix", str(self.prefix), *args],
                              env=self.env, capture_output=True, text=True, timeout=END_TIMEOUT_S)

    def test_serve_is_present_when_it_says_so_and_takes_reset_from_another_process(self):
        with tempfile.TemporaryDirectory() as folder:
            self.prefix = Path(folder) / "prefix"
            (self.prefix / "dosdevices").mkdir(parents=True)
            wine = Path(folder) / "bin" / "wine"
            wine.parent.mkdir()
            wine.write_text(FAKE_WINE)
            wine.chmod(0o755)
            self.env = dict(os.environ, PATH="%s:%s" % (wine.parent, os.environ["PATH"]))
            serve = subprocess.Popen([sys.executable, str(TRACKER), "--prefix", str(self.prefix), "serve"],
                                     env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
            self.addCleanup(serve.kill)
            with serve.stdout:
                self.assertEqual("present on COM7\n", serve.stdout.readline())
                self.assertTrue((self.prefix / "dosdevices" / "com7").resolve().is_char_device())
                device_key = (wine.parent / "0.reg").read_bytes().decode("utf-16")
                self.assertIn('"FriendlyName"="STMicroelectronics Virtual COM Port (COM7)"', device_key)

                self.assertEqual(0, self.run_tracker("press-reset").returncode)
                self.assertEqual(0, self.run_tracker("absent").returncode)
                self.assertEqual(0, serve.wait(END_TIMEOUT_S))
                self.assertIn(["mode", "boot"], [line.split()[1:] for line in serve.stdout])
            self.assertFalse(os.path.lexists(self.prefix / "dosdevices" / "com7"))
            self.assertIn("[-HKEY_LOCAL_MACHINE", (wine.parent / "1.reg").read_bytes().decode("utf-16"))


if __name__ == "__main__":
    unittest.main()
