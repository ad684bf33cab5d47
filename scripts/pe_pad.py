#!/usr/bin/env python3
"""pe_pad.py EXE...: each unsigned Windows program ends on an 8-byte boundary.

An Authenticode signature is appended to a program at an 8-byte boundary;
a program whose length is not a multiple of 8 gets zero bytes before it,
and they stay when the signature is removed again.  Padded here, before a
release is packed, a signed program with its signature removed is the
released unsigned program byte for byte.  A padded program gets its PE
checksum recomputed, as signing tools do; a program already on a boundary
is left as it is.  A file that is not a PE program, or is already signed,
is refused and left untouched.
"""
import struct
import sys


def checksum(data, field):
    """The PE image checksum of data, the 4 bytes at field not counted."""
    total = 0
    padded = data + b"\0" * (len(data) % 2)
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
    total -= sum(struct.unpack_from("<HH", padded, field))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def pad(path):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise ValueError("not a Windows program")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 + 2 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -optional)
    if directories < optional or directories + 5 * 8 > len(data):
        raise ValueError("unknown optional header")
    if struct.unpack_from("<II", data, directories + 4 * 8) != (0, 0):
        raise ValueError("already signed")
    if len(data) % 8 == 0:
        return
    data += b"\0" * (-len(data) % 8)
    field = optional + 64
    struct.pack_into("<I", data, field, checksum(bytes(data), field))
    with open(path, "r+b") as f:
        f.write(data)


def main(paths):
    if not paths:
        print("usage: pe_pad.py EXE...", file=sys.stderr)
        return 2
    for path in paths:
        try:
            pad(path)
        except (OSError, ValueError, struct.error) as e:
            print(f"pe_pad.py: {path}: {e}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
