#!/usr/bin/env python3
"""Draws the program's icon: a green sheet tile with a white grid and a header row, as qmk.ico (the
window and tray icon, compiled in) and as quillmark.png (128 x 128, for the desktop entry of a bundle).

Run it again only to change the picture; the build uses the checked-in files.
Usage: make_icon.py [ICO_PATH [PNG_PATH]]
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64)
SAMPLES = 4  # per axis: 16 samples per pixel smooth the edges

GREEN = (0x1E, 0x7B, 0x45)
HEADER = (0xC8, 0xE6, 0xD2)
WHITE = (0xFF, 0xFF, 0xFF)


def colour_at(u, v):
    """Colour and coverage at a point of the unit square (u right, v down)."""
    margin, radius = 0.06, 0.16
    lo, hi = margin, 1.0 - margin
    # Rounded tile: outside the corners' circles is transparent.
    cu = min(max(u, lo + radius), hi - radius)
    cv = min(max(v, lo + radius), hi - radius)
    if not (lo <= u <= hi and lo <= v <= hi) or (u - cu) ** 2 + (v - cv) ** 2 > radius ** 2:
        return None
    # The sheet: a white frame holding three rows of three cells, the first row shaded as a header.
    s_lo, s_hi = 0.2, 0.8
    if not (s_lo <= u <= s_hi and s_lo <= v <= s_hi):
        return GREEN
    line = 0.045
    cell = (s_hi - s_lo) / 3
    on_line = any(abs(u - (s_lo + k * cell)) < line / 2 for k in range(4)) or any(
        abs(v - (s_lo + k * cell)) < line / 2 for k in range(4))
    if on_line:
        return WHITE
    return HEADER if v < s_lo + cell else GREEN


def render(size):
    """BGRA rows, bottom row first, as an icon's bitmap stores them."""
    rows = []
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((x + (sx + 0.5) / SAMPLES) / size, (y + (sy + 0.5) / SAMPLES) / size)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits:
                r, g, b = (acc[i] // hits for i in range(3))
                row += bytes((b, g, r, hits * 255 // (SAMPLES * SAMPLES)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def bitmap_entry(size):
    pixels = render(size)
    mask_row = ((size + 31) // 32) * 4  # the AND mask is unused with an alpha channel, but must be there
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels), 0, 0, 0, 0)
    return header + pixels + bytes(mask_row * size)


def png(size):
    """RGBA rows, top row first, in a PNG file."""
    bgra = render(size)
    stride = size * 4
    raw = bytearray()
    for y in reversed(range(size)):  # render() gives the bottom row first
        row = bgra[y * stride:(y + 1) * stride]
        raw.append(0)  # no filter
        for x in range(0, stride, 4):
            b, g, r, a = row[x:x + 4]
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + \
        chunk(b"IEND", b"")


def main(path, png_path):
    with open(png_path, "wb") as f:
        f.write(png(128))
    images = [bitmap_entry(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        dim = 0 if size == 256 else size  # 0 means 256 in the directory
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "qmk.ico", sys.argv[2] if len(sys.argv) > 2 else "quillmark.png")
