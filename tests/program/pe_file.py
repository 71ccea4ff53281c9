"""Reads what a 32-bit Windows program file says about itself: machine, subsystem, the DLLs it
imports and its resources. Only the parts of the PE format that the checks need."""

import struct

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24


class PeFile:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s is not a PE file" % path)
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        self.subsystem = struct.unpack_from("<H", self.data, optional + 68)[0]
        directories = optional + 96
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", self.data, table + 40 * i + 8) for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError("RVA 0x%x lies in no section" % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        dlls = []
        at = self.offset(self.directories[1][0])
        while True:
            name_rva = struct.unpack_from("<5I", self.data, at)[3]
            if name_rva == 0:
                return dlls
            dlls.append(self.c_string(name_rva))
            at += 20

    def resources(self):
        """{(type, id): {language: bytes}} for every resource with a numeric type and id."""
        root = self.offset(self.directories[2][0])
        found = {}
        for type_id, type_dir in self._entries(root, root):
            for res_id, lang_dir in self._entries(root, type_dir):
                for lang, data_entry in self._entries(root, lang_dir):
                    rva, size = struct.unpack_from("<II", self.data, data_entry)
                    start = self.offset(rva)
                    found.setdefault((type_id, res_id), {})[lang] = self.data[start:start + size]
        return found

    def _entries(self, root, directory):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            if not name & 0x80000000:
                yield name, root + (target & 0x7FFFFFFF)


def icon_images(group):
    """(width, height, bits per pixel) of each image of an icon group resource."""
    count = struct.unpack_from("<HHH", group, 0)[2]
    images = []
    for i in range(count):
        width, height, _, _, _, bits, _, _ = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        images.append((width or 256, height or 256, bits))
    return images


def fixed_file_version(version_block):
    """The file and product versions of a version resource, as (a, b, c, d) tuples."""
    at = version_block.index(struct.pack("<I", 0xFEEF04BD))
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", version_block, at + 8)
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)  # noqa: E731
    return split(file_ms, file_ls), split(product_ms, product_ls)
