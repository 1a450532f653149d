#!/usr/bin/env python3
"""Writes the demo fixture's face pictures into testserver/fixtures/faces/.

Small 40x40 PNG faces (a coloured disc with two eyes and a smile) for the demo
users and one animated GIF (blinking). Only the standard library is used, so
the pictures can be remade anywhere: python3 tools/make_demo_faces.py
"""
import os
import struct
import zlib

SIZE = 40
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testserver", "fixtures", "faces")

# file name -> face colour (R, G, B)
FACES = {
    "demo.png": (66, 133, 244),
    "lina.png": (234, 67, 53),
    "wangqiang.png": (52, 168, 83),
    "zhangmin.png": (251, 188, 5),
    "liuyang.png": (142, 68, 173),
}
BACKGROUND = (245, 245, 245)
INK = (40, 40, 40)


def face_pixels(colour, eyes_open=True):
    """Rows of (r, g, b) for one face."""
    rows = []
    c = (SIZE - 1) / 2.0
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            dx, dy = x - c, y - c
            d2 = dx * dx + dy * dy
            p = BACKGROUND
            if d2 <= 18.5 * 18.5:
                p = colour
                for ex in (c - 7, c + 7):
                    ey = c - 5
                    if eyes_open and (x - ex) ** 2 + (y - ey) ** 2 <= 6.5:
                        p = INK
                    if not eyes_open and abs(y - ey) < 0.8 and abs(x - ex) <= 3:
                        p = INK
                # a smile: the lower part of a ring
                if dy > 2 and 8.5 * 8.5 <= d2 <= 10.5 * 10.5:
                    p = INK
            row.append(p)
        rows.append(row)
    return rows


def png(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def lzw_gif_data(indices, min_code_size):
    """GIF LZW with a clear code before every code-table growth (simple, valid)."""
    clear = 1 << min_code_size
    end = clear + 1
    code_size = min_code_size + 1
    out, bitbuf, nbits = bytearray(), 0, 0

    def emit(code):
        nonlocal bitbuf, nbits
        bitbuf |= code << nbits
        nbits += code_size
        while nbits >= 8:
            out.append(bitbuf & 0xFF)
            bitbuf >>= 8
            nbits -= 8

    # Uncompressed style: a clear code every few symbols keeps the code size fixed.
    step = (1 << code_size) - clear - 2
    emit(clear)
    for i, v in enumerate(indices):
        if i and i % step == 0:
            emit(clear)
        emit(v)
    emit(end)
    if nbits:
        out.append(bitbuf & 0xFF)
    blocks = bytearray([min_code_size])
    for i in range(0, len(out), 255):
        part = out[i:i + 255]
        blocks.append(len(part))
        blocks += part
    blocks.append(0)
    return bytes(blocks)


def gif(frames, delays):
    """An animated, looping GIF; all frames share one global palette."""
    palette = []
    for rows in frames:
        for row in rows:
            for p in row:
                if p not in palette:
                    palette.append(p)
    assert len(palette) <= 16
    bits = 4
    while len(palette) < (1 << bits):
        palette.append((0, 0, 0))
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", SIZE, SIZE, 0x80 | (bits - 1), 0, 0)
    for p in palette:
        data += bytes(p)
    data += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for rows, delay in zip(frames, delays):
        data += b"\x21\xf9\x04\x00" + struct.pack("<H", delay) + b"\x00\x00"
        data += b"\x2c" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        indices = [palette.index(p) for row in rows for p in row]
        data += lzw_gif_data(indices, bits)
    data += b"\x3b"
    return bytes(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, colour in FACES.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(png(face_pixels(colour)))
    # Eyes open for two seconds, closed for a fifth of a second.
    colour = (0, 150, 136)
    blink = gif([face_pixels(colour, True), face_pixels(colour, False)], [200, 20])
    with open(os.path.join(OUT, "blink.gif"), "wb") as f:
        f.write(blink)


if __name__ == "__main__":
    main()
