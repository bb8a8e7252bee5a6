#!/usr/bin/env python3
"""Prints a Windows shortcut's target and working folder, one per line:

    target=C:\\Program Files\\Lumivex\\lumivex.exe
    workdir=C:\\users\\me\\AppData\\Local\\Lumivex

read_lnk.py FILE.lnk. The target comes from the link's local base path (its LinkInfo), the
working folder from its string data; a field the link lacks prints empty. Exits 1 on a file that
is no shell link.
"""
import struct
import sys

HEADER_SIZE = 0x4C
LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")
HAS_ID_LIST = 0x1
HAS_LINK_INFO = 0x2
HAS_NAME = 0x4
HAS_RELATIVE_PATH = 0x8
HAS_WORKING_DIR = 0x10
HAS_ARGUMENTS = 0x20
HAS_ICON_LOCATION = 0x40
IS_UNICODE = 0x80


def c_string(data, offset, unicode):
    if unicode:
        end = offset
        while data[end : end + 2] != b"\0\0":
            end += 2
        return data[offset:end].decode("utf-16-le")
    end = data.index(b"\0", offset)
    return data[offset:end].decode("mbcs" if sys.platform == "win32" else "latin-1")


def local_base_path(info):
    header_size, flags = struct.unpack_from("<II", info, 4)
    if not flags & 0x1:  # no VolumeIDAndLocalBasePath
        return ""
    # The full path is the local base path followed by the common path suffix.
    if header_size >= 0x24:
        base, suffix = struct.unpack_from("<II", info, 0x1C)
        return c_string(info, base, True) + c_string(info, suffix, True)
    (base,) = struct.unpack_from("<I", info, 0x10)
    (suffix,) = struct.unpack_from("<I", info, 0x18)
    return c_string(info, base, False) + c_string(info, suffix, False)


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < HEADER_SIZE or struct.unpack_from("<I", data, 0)[0] != HEADER_SIZE:
        raise ValueError("not a shell link")
    if data[4:20] != LINK_CLSID:
        raise ValueError("not a shell link")
    (flags,) = struct.unpack_from("<I", data, 0x14)
    offset = HEADER_SIZE
    if flags & HAS_ID_LIST:
        (size,) = struct.unpack_from("<H", data, offset)
        offset += 2 + size
    target = ""
    if flags & HAS_LINK_INFO:
        (size,) = struct.unpack_from("<I", data, offset)
        target = local_base_path(data[offset : offset + size])
        offset += size
    unicode = bool(flags & IS_UNICODE)
    strings = {}
    for bit in (HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR, HAS_ARGUMENTS, HAS_ICON_LOCATION):
        if not flags & bit:
            continue
        (count,) = struct.unpack_from("<H", data, offset)
        offset += 2
        width = 2 if unicode else 1
        raw = data[offset : offset + count * width]
        offset += count * width
        # Wine counts the terminating zero in; Windows does not.
        text = raw.decode("utf-16-le") if unicode else raw.decode("latin-1")
        strings[bit] = text.rstrip("\0")
    return target, strings.get(HAS_WORKING_DIR, "")


def main():
    try:
        target, workdir = read(sys.argv[1])
    except (OSError, ValueError, struct.error, IndexError) as error:
        print(f"read_lnk: {sys.argv[1]}: {error}", file=sys.stderr)
        return 1
    print(f"target={target}")
    print(f"workdir={workdir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
