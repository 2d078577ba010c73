#!/usr/bin/env python3
"""Draws the two program icons as single 32x32, 32-bit ICO files.

res/mainframe.ico      the coloured program icon (window icon, tray while the agent runs)
res/agent_stopped.ico  the same silhouette in flat grey RGB(204, 204, 204)

Run from the repository root:  python3 tools/icons/make_icons.py
"""
import math
import struct
import sys
from pathlib import Path

SIZE = 32


def coverage(x, y):
    """Anti-aliased coverage (0..1) of the silhouette at pixel (x, y): a disc
    with a three-bladed vane cut out of it."""
    samples = 4
    hit = 0
    for sy in range(samples):
        for sx in range(samples):
            px = x + (sx + 0.5) / samples - SIZE / 2
            py = y + (sy + 0.5) / samples - SIZE / 2
            r = math.hypot(px, py)
            if r > 14.5:
                continue
            angle = math.atan2(py, px)
            blade = (angle * 3 / (2 * math.pi)) % 1.0
            in_vane = 3.0 < r < 11.5 and blade < 0.28
            if not in_vane:
                hit += 1
    return hit / (samples * samples)


def colour_at(x, y):
    """Teal-to-blue gradient for the coloured icon."""
    t = y / (SIZE - 1)
    top = (0x1f, 0xb5, 0xa5)
    bottom = (0x1c, 0x5f, 0xc8)
    return tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))


def ico_bytes(pixel):
    """One 32x32 BGRA image with its AND mask, wrapped as an ICO file."""
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        row = b""
        for x in range(SIZE):
            r, g, b, a = pixel(x, y)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = b"\x00" * 4  # 32 bits per row, already a multiple of 4 bytes
    and_mask = mask_row * SIZE
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def coloured(x, y):
    a = coverage(x, y)
    r, g, b = colour_at(x, y)
    return r, g, b, int(round(a * 255))


def grey(x, y):
    a = coverage(x, y)
    return 204, 204, 204, int(round(a * 255))


def main():
    root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
    (root / "res" / "mainframe.ico").write_bytes(ico_bytes(coloured))
    (root / "res" / "agent_stopped.ico").write_bytes(ico_bytes(grey))


if __name__ == "__main__":
    main()
