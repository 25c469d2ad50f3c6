#!/usr/bin/env python3
"""Rasterises Quillo's icon into the PNG sizes the desktop and the window use.

    scripts/draw-icon.py [ICON_FOLDER]      (default: packaging/icons)

Reads ICON_FOLDER/scalable/org.quillo.Quillo.svg and writes
ICON_FOLDER/NxN/org.quillo.Quillo.png for N in 16, 24, 32, 48, 64, 128 and 256.

The SVG is drawn by hand from a few shapes, and this script understands just those: <rect>
(x, y, width, height, rx), <polygon> (points), fills of one colour or of a <linearGradient>
in user space, fill-opacity, and strokes with round joins, painted in document order. An
edge pixel is sampled on a grid, so small sizes stay as crisp as the shapes allow. Only the
Python standard library is needed; the PNGs are committed, so building needs no tool.
"""

import math
import os
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

ICON = "org.quillo.Quillo"
SIZES = (16, 24, 32, 48, 64, 128, 256)
SVG = "{http://www.w3.org/2000/svg}"
GRID = 6  # samples per axis in a pixel that an edge crosses


# ------------------------------------------------------------------------- the shapes


def rounded_rect(x, y, width, height, radius):
    """Signed distance to a rectangle with rounded corners: negative inside."""
    cx, cy = x + width / 2, y + height / 2
    hx, hy = width / 2 - radius, height / 2 - radius

    def distance(px, py):
        qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius

    return distance, (x, y, x + width, y + height)


def polygon(points):
    """Signed distance to a polygon (even-odd rule): negative inside."""
    edges = list(zip(points, points[1:] + points[:1]))

    def distance(px, py):
        nearest = math.inf
        inside = False
        for (ax, ay), (bx, by) in edges:
            dx, dy = bx - ax, by - ay
            t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
            t = min(max(t, 0.0), 1.0)
            nearest = min(nearest, math.hypot(ax + t * dx - px, ay + t * dy - py))
            if (ay > py) != (by > py) and px < ax + (py - ay) * dx / dy:
                inside = not inside
        return -nearest if inside else nearest

    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return distance, (min(xs), min(ys), max(xs), max(ys))


# -------------------------------------------------------------------------- the paint


def hex_colour(text):
    text = text.strip().lstrip("#")
    if len(text) != 6:
        sys.exit(f"draw-icon: colour #{text}: only #rrggbb is understood")
    return tuple(int(text[i:i + 2], 16) / 255 for i in (0, 2, 4))


def gradient(element):
    if element.get("gradientUnits") != "userSpaceOnUse":
        sys.exit("draw-icon: gradients must be in userSpaceOnUse")
    x1, y1, x2, y2 = (float(element.get(k)) for k in ("x1", "y1", "x2", "y2"))
    stops = [(float(s.get("offset")), hex_colour(s.get("stop-color")))
             for s in element.iter(SVG + "stop")]
    length2 = (x2 - x1) ** 2 + (y2 - y1) ** 2

    def colour_at(px, py):
        t = ((px - x1) * (x2 - x1) + (py - y1) * (y2 - y1)) / length2
        t = min(max(t, stops[0][0]), stops[-1][0])
        for (o0, c0), (o1, c1) in zip(stops, stops[1:]):
            if t <= o1:
                f = 0.0 if o1 == o0 else (t - o0) / (o1 - o0)
                return tuple(a + (b - a) * f for a, b in zip(c0, c1))
        return stops[-1][1]

    return colour_at


def paint(text, gradients):
    if text.startswith("url(#"):
        return gradients[text[5:-1]]
    colour = hex_colour(text)
    return lambda px, py: colour


# ---------------------------------------------------------------------- reading the SVG


def read_svg(path):
    root = ET.parse(path).getroot()
    view = [float(v) for v in root.get("viewBox").split()]
    gradients = {g.get("id"): gradient(g) for g in root.iter(SVG + "linearGradient")}
    layers = []  # (distance, box, colour_at, opacity, half stroke width or None)
    for element in root.iter():
        tag = element.tag[len(SVG):]
        if tag == "rect":
            x, y, w, h = (float(element.get(k)) for k in ("x", "y", "width", "height"))
            distance, box = rounded_rect(x, y, w, h, float(element.get("rx", "0")))
        elif tag == "polygon":
            numbers = [float(n) for n in element.get("points").replace(",", " ").split()]
            distance, box = polygon(list(zip(numbers[::2], numbers[1::2])))
        else:
            continue
        if element.get("fill", "none") != "none":
            layers.append((distance, box, paint(element.get("fill"), gradients),
                           float(element.get("fill-opacity", "1")), None))
        if element.get("stroke", "none") != "none":
            if element.get("stroke-linejoin") != "round":
                sys.exit("draw-icon: strokes must have stroke-linejoin=\"round\"")
            half = float(element.get("stroke-width", "1")) / 2
            x0, y0, x1, y1 = box
            layers.append((distance, (x0 - half, y0 - half, x1 + half, y1 + half),
                           paint(element.get("stroke"), gradients), 1.0, half))
    return view, layers


# ---------------------------------------------------------------------------- drawing


def draw(view, layers, size):
    """The icon at size x size pixels as rows of premultiplied RGBA floats."""
    vx, vy, vw, vh = view
    scale = size / vw
    unit = 1 / scale  # one pixel in user units
    reach = 0.75 * unit  # beyond this distance from an edge a pixel is wholly in or out
    pixels = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]
    for distance, box, colour_at, opacity, half in layers:
        if half is None:
            signed = distance
        else:
            def signed(px, py, distance=distance, half=half):
                return abs(distance(px, py)) - half
        x0, y0, x1, y1 = box
        for j in range(max(0, int((y0 - vy) * scale) - 1), min(size, int((y1 - vy) * scale) + 2)):
            for i in range(max(0, int((x0 - vx) * scale) - 1),
                           min(size, int((x1 - vx) * scale) + 2)):
                px, py = vx + (i + 0.5) * unit, vy + (j + 0.5) * unit
                d = signed(px, py)
                if d > reach:
                    continue
                if d < -reach:
                    cover = 1.0
                else:
                    hits = sum(1 for sy in range(GRID) for sx in range(GRID)
                               if signed(vx + (i + (sx + 0.5) / GRID) * unit,
                                         vy + (j + (sy + 0.5) / GRID) * unit) <= 0)
                    cover = hits / (GRID * GRID)
                alpha = cover * opacity
                if alpha <= 0:
                    continue
                r, g, b = colour_at(px, py)
                pr, pg, pb, pa = pixels[j][i]
                keep = 1 - alpha
                pixels[j][i] = (r * alpha + pr * keep, g * alpha + pg * keep,
                                b * alpha + pb * keep, alpha + pa * keep)
    return pixels


# ---------------------------------------------------------------------------- the PNG


def png(pixels):
    rows = bytearray()
    for row in pixels:
        rows.append(0)  # no filter
        for r, g, b, a in row:
            if a > 0:
                r, g, b = r / a, g / a, b / a
            rows.extend(min(255, max(0, round(c * 255))) for c in (r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    height, width = len(pixels), len(pixels[0])
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "packaging", "icons")
    view, layers = read_svg(os.path.join(folder, "scalable", ICON + ".svg"))
    for size in SIZES:
        target = os.path.join(folder, f"{size}x{size}")
        os.makedirs(target, exist_ok=True)
        path = os.path.join(target, ICON + ".png")
        with open(path, "wb") as out:
            out.write(png(draw(view, layers, size)))
        print(os.path.normpath(path))


if __name__ == "__main__":
    main()
