#!/usr/bin/env python3
"""Draws the two program icons as ICO files holding every size Windows asks
for: 16, 20, 24, 32, 40, 48, 64 and 256 pixels (the 256 image stored as PNG).

res/mainframe.ico      the coloured program icon (window icon, tray while the agent runs):
                       a disc with a three-spoked vane cut out of it
res/agent_stopped.ico  a flat grey RGB(204, 204, 204) disc with a square "stop" hole:
                       told apart from the running image by its shape, not only its colour,
                       which still holds in a high-contrast theme or for a colour-blind user

Each size is drawn for itself, never scaled from another: radii, spoke widths
and the square's side are whole pixels, and the straight edges that run along
the grid sit on pixel boundaries, so the small tray sizes stay sharp.

Run from the repository root:  python3 tools/icons/make_icons.py
Standard library only.
"""
import math
import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
PNG_FROM = 256  # sizes from here on are stored as PNG
SAMPLES = 4  # per axis, for the anti-aliased (curved and slanted) edges


def geometry(size):
    """The silhouette's measures at one size, in whole pixels. The centre is a
    pixel corner (every size is even), so even widths give crisp edges."""
    scale = size / 32
    margin = 1 if size <= 24 else round(scale)
    return {
        "centre": size / 2,
        "radius": size / 2 - margin,
        "hub": max(1, round(2.5 * scale)),  # the vane's spokes start here
        "reach": size / 2 - margin - max(2, round(2.5 * scale)),  # and end here, inside a rim
        "spoke": max(2, 2 * round(2.2 * scale / 2 + 0.25)),  # even: edges on the grid
        "square": max(6, 2 * round(5.5 * scale)),  # the stop hole's side, even
        # Up to 24 px the slanted spokes are cut by whole pixels (each pixel's
        # centre decides): anti-aliased, a two-pixel spoke would be a blur.
        "snap": (lambda px, py: (math.floor(px) + 0.5, math.floor(py) + 0.5)) if size <= 24 else (lambda px, py: (px, py)),
    }


def in_spoke(px, py, g):
    """Within one of three spokes at 90, 210 and 330 degrees (one straight up)."""
    for degrees in (90, 210, 330):
        a = math.radians(degrees)
        ux, uy = math.cos(a), -math.sin(a)  # y grows downwards
        along = px * ux + py * uy
        across = abs(-px * uy + py * ux)
        if g["hub"] <= along <= g["reach"] and across <= g["spoke"] / 2:
            return True
    return False


def running_shape(px, py, g):
    return math.hypot(px, py) <= g["radius"] and not in_spoke(*g["snap"](px, py), g)


def stopped_shape(px, py, g):
    half = g["square"] / 2
    in_square = abs(px) < half and abs(py) < half
    return math.hypot(px, py) <= g["radius"] and not in_square


def coverage(shape, x, y, g):
    hit = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            px = x + (sx + 0.5) / SAMPLES - g["centre"]
            py = y + (sy + 0.5) / SAMPLES - g["centre"]
            hit += shape(px, py, g)
    return hit / (SAMPLES * SAMPLES)


def coloured(size, x, y):
    """Teal at the top to blue at the bottom."""
    t = y / (size - 1)
    top = (0x1F, 0xB5, 0xA5)
    bottom = (0x1C, 0x5F, 0xC8)
    return tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))


def grey(size, x, y):
    return (204, 204, 204)


def draw(size, shape, paint):
    """Rows top-down of (r, g, b, a)."""
    g = geometry(size)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            a = int(round(coverage(shape, x, y, g) * 255))
            r, gr, b = paint(size, x, y) if a else (0, 0, 0)
            row.append((r, gr, b, a))
        rows.append(row)
    return rows


def bmp_image(rows):
    """A 32-bit BGRA image with its AND mask, as an ICO entry stores it."""
    size = len(rows)
    xor = b"".join(bytes(v for r, g, b, a in row for v in (b, g, r, a)) for row in reversed(rows))
    stride = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:  # transparent where the alpha channel is not read
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def png_image(rows):
    size = len(rows)
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico_bytes(shape, paint):
    images = []
    for size in SIZES:
        rows = draw(size, shape, paint)
        images.append((size, png_image(rows) if size >= PNG_FROM else bmp_image(rows)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in images:
        dim = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
    (root / "res" / "mainframe.ico").write_bytes(ico_bytes(running_shape, coloured))
    (root / "res" / "agent_stopped.ico").write_bytes(ico_bytes(stopped_shape, grey))


if __name__ == "__main__":
    main()
