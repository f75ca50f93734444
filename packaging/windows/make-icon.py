#!/usr/bin/env python3
"""Packs the client's icon sizes from packaging/icons/hicolor into airmesh-client.ico.

Every image is stored as PNG inside the .ico, as Windows Vista and later read it, so the
icon holds the very pictures the Linux desktop shows. The file is committed; run this only
after the PNG icons change:  python3 make-icon.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
HICOLOR = os.path.join(HERE, "..", "icons", "hicolor")
SIZES = (16, 24, 32, 48, 64, 128, 256)


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise ValueError("not a PNG file")
    return struct.unpack(">II", data[16:24])


def main():
    images = []
    for size in SIZES:
        path = os.path.join(HICOLOR, f"{size}x{size}", "apps", "example.airmesh.Client.png")
        with open(path, "rb") as f:
            data = f.read()
        if png_size(data) != (size, size):
            raise ValueError(f"{path} is not {size}x{size}")
        images.append((size, data))
    # ICONDIR, then one ICONDIRENTRY per image, then the images; a width or height of 256 is 0.
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(os.path.join(HERE, "airmesh-client.ico"), "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
