"""What the release tests read from a Windows executable, straight from its
bytes: the file header, the DLLs it imports and its resources."""

import struct

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_WINDOWS_GUI = 2

# COFF header Characteristics flags.
FILE_EXECUTABLE_IMAGE = 0x0002
FILE_LARGE_ADDRESS_AWARE = 0x0020


class PeFile:
    def __init__(self, data: bytes):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an executable: no MZ header")
        pe = self._u32(0x3C)
        if data[pe : pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = pe + 4
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from(
            "<HHIIIHH", data, coff
        )
        optional = coff + 20
        magic = self._u16(optional)
        if magic not in (0x10B, 0x20B):
            raise ValueError(f"unknown optional header magic {magic:#x}")
        wide = magic == 0x20B
        self.subsystem = self._u16(optional + 68)
        directories = optional + (112 if wide else 96)
        count = self._u32(optional + (108 if wide else 92))
        self._directories = [
            struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)
        ]
        table = optional + optional_size
        self._sections = []
        for i in range(sections):
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self._sections.append((address, max(size, raw_size), raw))

    def _u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def _u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def _offset(self, rva):
        for address, size, raw in self._sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"address {rva:#x} is in no section")

    def _directory(self, index):
        if index >= len(self._directories) or self._directories[index][0] == 0:
            return None
        return self._offset(self._directories[index][0])

    def _c_string(self, at):
        return self.data[at : self.data.index(b"\0", at)].decode("ascii")

    def imported_dlls(self):
        """The names of the DLLs in the import table, as written there."""
        at = self._directory(1)
        names = []
        while at is not None:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if lookup == 0 and name == 0 and thunks == 0:
                break
            names.append(self._c_string(self._offset(name)))
            at += 20
        return names

    def resources(self):
        """{type: {name: {language: bytes}}}, ids as ints, names as str."""
        root = self._directory(2)
        if root is None:
            return {}

        def key(entry_name):
            if entry_name & 0x80000000:
                at = root + (entry_name & 0x7FFFFFFF)
                length = self._u16(at)
                return self.data[at + 2 : at + 2 + 2 * length].decode("utf-16-le")
            return entry_name

        def walk(at, depth):
            named, numbered = struct.unpack_from("<HH", self.data, at + 12)
            out = {}
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if target & 0x80000000:
                    out[key(name)] = walk(root + (target & 0x7FFFFFFF), depth + 1)
                else:
                    rva, size = struct.unpack_from("<II", self.data, root + target)
                    start = self._offset(rva)
                    out[key(name)] = self.data[start : start + size]
            return out

        return walk(root, 0)

    def resource(self, kind, name):
        """The one language's data of a resource; None when it is missing."""
        languages = self.resources().get(kind, {}).get(name)
        if not languages:
            return None
        if len(languages) != 1:
            raise ValueError(f"resource {kind}/{name} has {len(languages)} languages")
        return next(iter(languages.values()))


def _align4(n):
    return (n + 3) & ~3


def _version_node(data, at):
    """One node of a version resource: (key, value, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end : key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6 : key_end].decode("utf-16-le")
    value_at = _align4(key_end + 2)
    if kind == 1:  # text: value_length counts characters
        raw = data[value_at : min(end, value_at + 2 * value_length)]
        value = raw.decode("utf-16-le").split("\0")[0]
        value_end = value_at + 2 * value_length
    else:
        value = data[value_at : value_at + value_length]
        value_end = value_at + value_length
    children = []
    child = _align4(value_end)
    while child < end:
        node = _version_node(data, child)
        children.append(node)
        child = _align4(node[3])
    return key, value, children, end


def read_version(data):
    """(file version, product version, {string name: text}) of an RT_VERSION
    resource; versions as four-number tuples."""
    key, fixed, children, _ = _version_node(data, 0)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"version resource starts with {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO")

    def four(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings = {}
    for name, _, tables, _ in children:
        if name == "StringFileInfo":
            for _, _, entries, _ in tables:
                for entry_key, text, _, _ in entries:
                    strings[entry_key] = text
    return four(file_ms, file_ls), four(product_ms, product_ls), strings


def read_icon_group(data):
    """[(width, height, bits per pixel, bytes, icon id)] of an RT_GROUP_ICON;
    0 in a width or height byte means 256."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon group")
    entries = []
    for i in range(count):
        width, height, _, _, _, bits, size, icon = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        entries.append((width or 256, height or 256, bits, size, icon))
    return entries


def icon_image_size(data):
    """(width, height) of one RT_ICON image: a PNG or a BMP without its file
    header, whose height counts the AND mask too."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return struct.unpack_from(">II", data, 16)
    header, width, height = struct.unpack_from("<Iii", data, 0)
    if header != 40:
        raise ValueError(f"icon image with a {header}-byte header")
    return width, height // 2
