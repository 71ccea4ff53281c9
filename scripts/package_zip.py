#!/usr/bin/env python3
"""Puts the release together: KV_Firmware_Tool-<version>.zip with the program, the user guide as a
text file that Notepad opens, and the SHA-256 sums of both, so that a user can check the program
they downloaded. The zip is the same for the same commit: fixed order, times and permissions.

Usage: package_zip.py PROGRAM GUIDE.md VERSION.rc OUT_DIR EPOCH
"""

import hashlib
import re
import sys
import time
import zipfile
from pathlib import Path

PROGRAM, GUIDE, SUMS = "KV_Firmware_Tool.exe", "KV_Firmware_Tool_guide_ru.txt", "SHA256SUMS.txt"
IMAGE = re.compile(r"!\[[^\]]*\]\([^)]*\)")


def guide_text(markdown):
    """The guide as written, less its pictures, which a text file cannot show; with a byte-order
    mark and CR LF, or an older Notepad shows the Russian as garbage on one long line."""
    lines = [IMAGE.sub("", line) for line in markdown.splitlines() if not IMAGE.fullmatch(line.strip())]
    return "\ufeff".encode() + "".join(line + "\r\n" for line in lines).encode()


def main(program, guide, rc, out_dir, epoch):
    version = re.search(r'VALUE\s+"FileVersion",\s*"([0-9.]+)"', Path(rc).read_text(encoding="utf-8")).group(1)
    files = {PROGRAM: Path(program).read_bytes(), GUIDE: guide_text(Path(guide).read_text(encoding="utf-8-sig"))}
    files[SUMS] = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\r\n" for name, data in files.items()).encode()
    Path(out_dir).mkdir(parents=True, exist_ok=True)
    package = Path(out_dir) / f"KV_Firmware_Tool-{version}.zip"
    with zipfile.ZipFile(package, "w") as zip_file:
        for name in sorted(files):
            entry = zipfile.ZipInfo(name, time.gmtime(int(epoch))[:6])
            entry.compress_type, entry.create_system, entry.external_attr = zipfile.ZIP_DEFLATED, 3, 0o100644 << 16
            zip_file.writestr(entry, files[name], compresslevel=9)
    print(package)


if __name__ == "__main__":
    main(*sys.argv[1:])
