#!/usr/bin/env python3
"""Draws the program icon: a blue rounded square with a white Z over an orange
baseline. Writes zorvane.png (32x32, the window and tray icon) and
zorvane-128.png (the launcher's), both RGBA. Needs nothing but Python."""
import math
import struct
import sys
import zlib
from pathlib import Path


def inside_rounded(x, y, size, radius):
    lo, hi = radius, size - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, a, b, half):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= half * half


def colour_at(x, y, n):
    """Colour of the point (x, y) in an n by n picture, or None outside."""
    u, v = x / n, y / n
    if not inside_rounded(u, v, 1.0, 0.2):
        return None
    if not inside_rounded((u - 0.03) / 0.94, (v - 0.03) / 0.94, 1.0, 0.19):
        return (8, 30, 70)  # dark rim
    # Z: top bar, diagonal, bottom bar.
    half = 0.075
    top, bottom, left, right = 0.24, 0.70, 0.25, 0.75
    if (near_segment(u, v, (left, top), (right, top), half)
            or near_segment(u, v, (right, top), (left, bottom), half)
            or near_segment(u, v, (left, bottom), (right, bottom), half)):
        return (255, 255, 255)
    if 0.80 <= v <= 0.87 and 0.22 <= u <= 0.78:
        return (255, 150, 20)  # the orange baseline
    g = v
    return (int(40 + (12 - 40) * g), int(110 + (50 - 110) * g), int(200 + (120 - 200) * g))


def render(n, samples=4):
    rows = []
    for py in range(n):
        row = bytearray([0])
        for px in range(n):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at(px + (sx + 0.5) / samples, py + (sy + 0.5) / samples, n)
                    if c is not None:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            count = samples * samples
            if acc[3] == 0:
                row += bytes(4)
            else:
                row += bytes([acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], 255 * acc[3] // count])
        rows.append(bytes(row))
    return b"".join(rows)


def png(n, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b"")


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent
    (out / "zorvane.png").write_bytes(png(32, render(32)))
    (out / "zorvane-128.png").write_bytes(png(128, render(128)))


if __name__ == "__main__":
    main()
