"""The program file as it ships: one 32-bit GUI program that needs no DLL beside it, with its
dialogs, icon, manifest and version block."""

import os
import unittest
from pathlib import Path

from pe_file import (RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST, RT_VERSION, PeFile, fixed_file_version,
                     icon_images)

PROGRAM = Path(os.environ["KV_BUILD_DIR"]) / "KV_Firmware_Tool.exe"
TRADITIONAL_CHINESE = 1028
# What every Windows PC has; the compiler's own runtime DLLs must not be needed.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "setupapi.dll",
               "msvcrt.dll", "advapi32.dll"}


class ProgramFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = PeFile(PROGRAM)
        cls.resources = cls.pe.resources()

    def test_is_a_32_bit_gui_program_needing_only_system_dlls(self):
        self.assertEqual((0x14C, 0x10B, 2), (self.pe.machine, self.pe.magic, self.pe.subsystem))
        imported = {name.lower() for name in self.pe.imported_dlls()}
        self.assertIn("setupapi.dll", imported)
        self.assertLessEqual(imported, SYSTEM_DLLS)

    def test_dialogs_and_icon_in_traditional_chinese_language(self):
        for template in [100] + list(range(102, 111)):
            self.assertEqual([TRADITIONAL_CHINESE], list(self.resources[(RT_DIALOG, template)]), template)
        group = self.resources[(RT_GROUP_ICON, 128)]
        self.assertEqual([TRADITIONAL_CHINESE], list(group))
        self.assertEqual(sorted((size, size, bits) for size in (16, 32, 48) for bits in (4, 8, 24)),
                         sorted(icon_images(group[TRADITIONAL_CHINESE])))

    def test_manifest_asks_for_common_controls_6(self):
        (manifest,) = self.resources[(RT_MANIFEST, 1)].values()
        text = manifest.decode("utf-8")
        for expected in ('name="Microsoft.Windows.Common-Controls"', 'version="6.0.0.0"',
                         'processorArchitecture="x86"', 'level="asInvoker"'):
            self.assertIn(expected, text)

    def test_version_block(self):
        versions = self.resources[(RT_VERSION, 1)]
        self.assertEqual([TRADITIONAL_CHINESE], list(versions))
        block = versions[TRADITIONAL_CHINESE]
        self.assertEqual(((1, 0, 0, 1), (1, 0, 0, 1)), fixed_file_version(block))
        self.assertIn("KV_Firmware_Tool.exe".encode("utf-16-le"), block)


if __name__ == "__main__":
    unittest.main()
