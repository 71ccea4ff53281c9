"""The program file as it ships: one 32-bit GUI program that needs no DLL beyond what every
Windows PC has (the compiler's own runtime DLLs must not be needed beside it)."""

import os
import struct
import unittest
from pathlib import Path

PROGRAM = Path(os.environ["KV_BUILD_DIR"]) / "KV_Firmware_Tool.exe"
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "setupapi.dll",
               "msvcrt.dll", "advapi32.dll"}
I386, PE32, GUI = 0x14C, 0x10B, 2


class ProgramFile(unittest.TestCase):
    def test_is_a_32_bit_gui_program_needing_only_system_dlls(self):
        data = PROGRAM.read_bytes()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic, subsystem = struct.unpack_from("<H", data, optional)[0], struct.unpack_from("<H", data, optional + 68)[0]
        self.assertEqual((b"PE\0\0", I386, PE32, GUI), (data[pe:pe + 4], machine, magic, subsystem))
        table = optional + optional_size
        section_list = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

        def offset(rva):
            (start, address), = [(raw, va) for size, va, raw_size, raw in section_list
                                 if va <= rva < va + max(size, raw_size)]
            return start + rva - address

        imported, at = set(), offset(struct.unpack_from("<I", data, optional + 104)[0])  # the import table
        while struct.unpack_from("<5I", data, at)[3]:  # each DLL's entry names it; a zero entry ends them
            name = offset(struct.unpack_from("<5I", data, at)[3])
            imported.add(data[name:data.index(b"\0", name)].decode("ascii").lower())
            at += 20
        self.assertIn("setupapi.dll", imported)
        self.assertLessEqual(imported, SYSTEM_DLLS)


if __name__ == "__main__":
    unittest.main()
