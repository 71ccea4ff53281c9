"""The release to download: scripts/package.sh's zip holds the program the build made, the user
guide as a text file that Notepad opens, and the sums that match both."""

import codecs
import hashlib
import os
import subprocess
import unittest
import zipfile
from pathlib import Path

SOURCE = Path(os.environ["KV_SOURCE_DIR"])
PROGRAM, GUIDE, SUMS = "KV_Firmware_Tool.exe", "KV_Firmware_Tool_guide_ru.txt", "SHA256SUMS.txt"


class Package(unittest.TestCase):
    def test_holds_the_built_program_the_guide_as_text_and_their_sums(self):
        if not any((SOURCE / "dist").glob("KV_Firmware_Tool-*.zip")):  # scripts/test.sh makes it first
            subprocess.run(["bash", SOURCE / "scripts/package.sh"], check=True, stdout=subprocess.DEVNULL)
        package = max((SOURCE / "dist").glob("KV_Firmware_Tool-*.zip"), key=lambda path: path.stat().st_mtime)
        with zipfile.ZipFile(package) as zip_file:
            files = {name: zip_file.read(name) for name in zip_file.namelist()}
        self.assertEqual([PROGRAM, GUIDE, SUMS], sorted(files))
        self.assertEqual(files[PROGRAM], (SOURCE / "build-package/a" / PROGRAM).read_bytes())
        listed = dict(reversed(line.split("  ")) for line in files[SUMS].decode("ascii").splitlines())
        self.assertEqual({name: hashlib.sha256(files[name]).hexdigest() for name in (PROGRAM, GUIDE)}, listed)
        self.assertTrue(files[GUIDE].startswith(codecs.BOM_UTF8))
        text = files[GUIDE].decode("utf-8-sig")
        self.assertNotRegex(text.replace("\r\n", ""), "[\r\n]")  # every line ends in CR LF, for Notepad
        self.assertNotIn("![", text)
        for line in (SOURCE / "GUIDE.ru.md").read_text(encoding="utf-8").splitlines():
            if "![" not in line:
                self.assertIn(line + "\r\n", text)


if __name__ == "__main__":
    unittest.main()
