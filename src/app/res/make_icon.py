#!/usr/bin/env python3
"""Draws trawler.ico (icon 5 of the wizard): a printer on a teal tile, 16x16 and 32x32, 32 bpp.

Run once by hand when the picture changes; the .ico it writes is committed beside it.
"""
import struct
import sys


def pixel(x, y, n):
    """RGBA of pixel (x, y) on an n x n grid; the drawing is made on a 32 grid and scaled."""
    s = 32.0 / n
    u, v = (x + 0.5) * s, (y + 0.5) * s
    # Tile with rounded corners.
    r = 5.0
    cx = min(max(u, r), 32 - r)
    cy = min(max(v, r), 32 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    teal, white, grey, dark = (20, 120, 140, 255), (250, 250, 250, 255), (200, 205, 210, 255), (30, 45, 60, 255)
    if 10 <= u < 22 and 5 <= v < 12:
        return white  # paper in the feeder
    if 6 <= u < 26 and 12 <= v < 22:
        if 20 <= u < 23 and 14 <= v < 16:
            return (120, 230, 120, 255)  # the online lamp
        return grey  # the printer body
    if 9 <= u < 23 and 22 <= v < 27:
        if 11 <= u < 21 and (v - 22) % 2 < 1:
            return dark  # printed lines
        return white  # the page coming out
    return teal


def image(n):
    rows = []
    for y in range(n - 1, -1, -1):  # bottom-up
        row = b"".join(struct.pack("<BBBB", b, g, r, a) for (r, g, b, a) in (pixel(x, y, n) for x in range(n)))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "trawler.ico")
