#!/usr/bin/env python3
"""Draws the program's icon: a grey cog wheel with concentric rings at its hub.

Writes pendlo.xpm (32 x 32, colours of the classic 16-colour palette, transparent
outside the wheel; compiled into the program), pendlo.png (the same pixels as
the XPM, installed as the hicolor 32x32 icon) and pendlo.svg (the same drawing,
scalable, for desktop menus). Run it from this directory after changing the
drawing: python3 make_icon.py
"""
import math
import struct
import zlib

SIZE = 32
C = SIZE / 2.0
TEETH = 8
ROOT_R = 11.6    # radius of the wheel between teeth
TIP_R = 15.2     # radius at the tips of the teeth
TOOTH_HALF = 0.21  # half the angular width of a tooth's tip, radians
FLANK = 0.10       # extra angular width at the root (sloped flanks)

# Rings at the hub, from the centre outwards: (outer radius, colour key).
HUB = [(1.6, "g"), (2.8, "k"), (3.9, "w"), (5.0, "g"), (6.1, "k")]

PALETTE = {"k": "#000000", "g": "#808080", "s": "#C0C0C0", "w": "#FFFFFF"}


def outline_radius(theta):
    """The wheel's radius in direction theta: a tooth or the root circle."""
    pitch = 2 * math.pi / TEETH
    d = abs((theta + pitch / 2) % pitch - pitch / 2)  # angle from nearest tooth centre
    if d <= TOOTH_HALF:
        return TIP_R
    if d <= TOOTH_HALF + FLANK:
        t = (d - TOOTH_HALF) / FLANK
        return TIP_R + (ROOT_R - TIP_R) * t
    return ROOT_R


def inside(x, y):
    dx, dy = x - C, y - C
    return math.hypot(dx, dy) <= outline_radius(math.atan2(dy, dx))


def coverage(px, py):
    """Share of the pixel covered by the wheel (4 x 4 samples)."""
    n = 0
    for i in range(4):
        for j in range(4):
            if inside(px + (i + 0.5) / 4, py + (j + 0.5) / 4):
                n += 1
    return n / 16.0


def pixel(px, py):
    if coverage(px, py) < 0.5:
        return " "
    x, y = px + 0.5, py + 0.5
    r = math.hypot(x - C, y - C)
    for radius, key in HUB:
        if r <= radius:
            return key
    # Outline where a 4-neighbour lies outside the wheel.
    for nx, ny in ((px - 1, py), (px + 1, py), (px, py - 1), (px, py + 1)):
        if not (0 <= nx < SIZE and 0 <= ny < SIZE) or coverage(nx, ny) < 0.5:
            return "k"
    # Light from the top left: the rim facing it is white, the far rim grey.
    rim = outline_radius(math.atan2(y - C, x - C)) - r
    if rim < 1.6:
        facing = ((C - x) + (C - y)) / max(r, 1e-6)
        if facing > 0.35:
            return "w"
        if facing < -0.35:
            return "g"
    return "s"


def write_xpm(rows):
    used = sorted({ch for row in rows for ch in row})
    lines = ["/* XPM */", "static const char* const pendlo_xpm[] = {",
             '"%d %d %d 1",' % (SIZE, SIZE, len(used))]
    for ch in used:
        colour = "None" if ch == " " else PALETTE[ch]
        lines.append('"%s c %s",' % (ch, colour))
    for i, row in enumerate(rows):
        lines.append('"%s"%s' % (row, "," if i < SIZE - 1 else ""))
    lines.append("};")
    with open("pendlo.xpm", "w") as f:
        f.write("\n".join(lines) + "\n")


def write_png(rows):
    """The XPM's pixels as an RGBA PNG, written with the standard library only."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter type None for every scanline
        for ch in row:
            if ch == " ":
                raw += b"\x00\x00\x00\x00"
            else:
                raw += bytes.fromhex(PALETTE[ch][1:]) + b"\xff"

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
           + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
    with open("pendlo.png", "wb") as f:
        f.write(png)


def write_svg():
    pts = []
    steps = 720
    for i in range(steps):
        t = 2 * math.pi * i / steps
        r = outline_radius(t)
        pts.append("%.3f,%.3f" % (C + r * math.cos(t), C + r * math.sin(t)))
    parts = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">',
        '  <defs><linearGradient id="lit" x1="0" y1="0" x2="1" y2="1">',
        '    <stop offset="0" stop-color="#FFFFFF"/><stop offset="0.45" stop-color="#C0C0C0"/>',
        '    <stop offset="1" stop-color="#808080"/></linearGradient></defs>',
        '  <polygon points="%s" fill="url(#lit)" stroke="#000000" stroke-width="0.8"/>'
        % " ".join(pts),
        '  <circle cx="16" cy="16" r="%.1f" fill="#C0C0C0"/>' % (ROOT_R - 1.6),
    ]
    for radius, key in reversed(HUB):
        parts.append('  <circle cx="16" cy="16" r="%.1f" fill="%s"/>' % (radius, PALETTE[key]))
    parts.append("</svg>")
    with open("pendlo.svg", "w") as f:
        f.write("\n".join(parts) + "\n")


if __name__ == "__main__":
    rows = ["".join(pixel(px, py) for px in range(SIZE)) for py in range(SIZE)]
    write_xpm(rows)
    write_png(rows)
    write_svg()
