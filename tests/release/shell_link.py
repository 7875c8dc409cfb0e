"""The local path a Windows shortcut (.lnk) points at, read from the file's
LinkInfo structure as Explorer stores it."""

import struct

LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")
HAS_LINK_TARGET_ID_LIST = 0x01
HAS_LINK_INFO = 0x02
VOLUME_ID_AND_LOCAL_BASE_PATH = 0x01


def _string(data, at, codepage):
    if codepage == "utf-16-le":
        end = at
        while data[end : end + 2] != b"\0\0":
            end += 2
        return data[at:end].decode(codepage)
    return data[at : data.index(b"\0", at)].decode(codepage)


def local_target(data: bytes, codepage: str) -> str:
    """The target path; `codepage` is the ANSI code page of the system that
    wrote the link, for links without the path in UTF-16."""
    header_size, clsid, flags = struct.unpack_from("<I16sI", data, 0)
    if header_size != 0x4C or clsid != LINK_CLSID:
        raise ValueError("not a shell link")
    at = header_size
    if flags & HAS_LINK_TARGET_ID_LIST:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if not flags & HAS_LINK_INFO:
        raise ValueError("the link has no LinkInfo")
    _, header, info_flags, _, base, _, suffix = struct.unpack_from("<7I", data, at)
    if not info_flags & VOLUME_ID_AND_LOCAL_BASE_PATH:
        raise ValueError("the link points at no local path")
    if header >= 0x24:
        base, suffix = struct.unpack_from("<II", data, at + 28)
        codepage = "utf-16-le"
    return _string(data, at + base, codepage) + _string(data, at + suffix, codepage)
