#!/usr/bin/env python3
"""Draws the two window-skin images of Quillo and writes them as GIF files.

    scripts/draw-skin.py [OUTPUT_FOLDER]      (default: src/window/skin)

captionstrip.gif, 640 x 48:
    x   0-239  caption piece of the active window: a pale blue bar inside the frame,
               a raised tab in its middle with grip lines near each end of the tab
    x 240-315  caption buttons in 19 x 20 cells, in the order close, restore, maximise,
               minimise; rows 0-19 the normal look, rows 20-39 the paler look
    rest       magenta filler (255, 0, 255), which the frame painter treats as see-through;
               x 316-399 carries the strip's notes in black
    x 400-639  caption piece of the inactive window: the same outline, paler, no grips

    Only the columns 90-139 of a caption piece are stretched to the window's width; the
    tab's middle and the text area lie there.

frameedges.gif, 70 x 10 (the frame is 10 pixels thick):
    x  0- 9  left side, active      x 10-19  left side, inactive     (light, lit side)
    x 20-29  lower left corner      x 30-39  bottom edge, tiled along the bottom
    x 40-49  right side, active     x 50-59  right side, inactive    (darker, shaded side)
    x 60-69  lower right corner
    Side pieces are tiled downwards; their column 0 is the one nearest the outside on
    the left and nearest the client area on the right.

Both files are GIF89a with a 256-entry global colour table, one image, not interlaced
and no extension blocks. Only the Python standard library is needed.
"""

import os
import sys

MAGENTA = (255, 0, 255)
BLACK = (0, 0, 0)
THICK = 10  # frame thickness, the height of the frame-edge image

# ---------------------------------------------------------------------------- canvas


class Canvas:
    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.pixels = [[tuple(fill) for _ in range(width)] for _ in range(height)]

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = tuple(colour)

    def get(self, x, y):
        return self.pixels[y][x]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        self.pixels[y][x] = mix(self.pixels[y][x], colour, min(alpha, 1.0))

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the pixels x0..x1, y0..y1 inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, colour)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def ramp(top, bottom, steps, index):
    return mix(top, bottom, index / max(steps - 1, 1))


SUB = 4  # sub-samples per axis for edge coverage


def coverage(inside, x, y):
    """The share of pixel (x, y) for which inside(px, py) holds."""
    hits = 0
    for sy in range(SUB):
        for sx in range(SUB):
            if inside(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB):
                hits += 1
    return hits / (SUB * SUB)


def in_round_rect(left, top, right, bottom, radius):
    """A rounded rectangle in continuous coordinates (right and bottom exclusive)."""

    def inside(px, py):
        if px < left or px > right or py < top or py > bottom:
            return False
        cx = min(max(px, left + radius), right - radius)
        cy = min(max(py, top + radius), bottom - radius)
        return (px - cx) ** 2 + (py - cy) ** 2 <= radius * radius

    return inside


def in_segment(ax, ay, bx, by, half_width):
    def inside(px, py):
        dx, dy = bx - ax, by - ay
        t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
        t = min(max(t, 0.0), 1.0)
        qx, qy = ax + t * dx - px, ay + t * dy - py
        return qx * qx + qy * qy <= half_width * half_width

    return inside


def paint_shape(canvas, inside, colour_at, box, opacity=1.0):
    """Paints colour_at(x, y) wherever inside() holds, with soft edges."""
    x0, y0, x1, y1 = box
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            c = coverage(inside, x, y)
            if c > 0:
                canvas.blend(x, y, colour_at(x, y), c * opacity)


# ----------------------------------------------------------------------- frame tones

# The left side from the outside in: outline, a bright bevel, a soft groove, an inner rim.
LEFT_ACTIVE = [(28, 52, 110), (126, 172, 226), (198, 224, 250), (164, 202, 242),
               (120, 167, 224), (96, 145, 210), (118, 166, 224), (152, 192, 238),
               (80, 122, 192), (36, 66, 130)]
# The right side from the outside in: the same build in shade.
RIGHT_ACTIVE = [(22, 42, 92), (70, 110, 178), (112, 152, 214), (94, 134, 200),
                (72, 112, 182), (60, 98, 170), (80, 120, 188), (106, 148, 210),
                (142, 182, 232), (36, 66, 130)]
# The bottom from the client area out.
BOTTOM = [(36, 66, 130), (150, 190, 236), (122, 162, 218), (98, 138, 202),
          (82, 122, 190), (72, 110, 180), (86, 126, 192), (102, 142, 206),
          (62, 98, 166), (22, 42, 92)]
# The top border of the caption piece, from the outside in.
TOP_ACTIVE = [(22, 42, 92), (198, 224, 250), (150, 190, 236), (60, 98, 168)]

PALE = (226, 233, 242)


def paler(colours, amount=0.55):
    """The inactive look: washed out towards a pale blue grey, outlines kept firmer."""
    result = []
    for i, c in enumerate(colours):
        outline = i in (0, len(colours) - 1)
        result.append(mix(c, PALE, amount * (0.6 if outline else 1.0)))
    return result


LEFT_INACTIVE = paler(LEFT_ACTIVE)
RIGHT_INACTIVE = paler(RIGHT_ACTIVE)
TOP_INACTIVE = paler(TOP_ACTIVE)

# ---------------------------------------------------------------- frame-edge image


def draw_frame_edges():
    img = Canvas(7 * THICK, THICK, MAGENTA)

    def side(x0, outside_in, outer_at_left):
        for y in range(THICK):
            for i in range(THICK):
                column = i if outer_at_left else THICK - 1 - i
                img.set(x0 + column, y, outside_in[i])

    side(0, LEFT_ACTIVE, True)
    side(10, LEFT_INACTIVE, True)
    side(40, RIGHT_ACTIVE, False)
    side(50, RIGHT_INACTIVE, False)

    for y in range(THICK):  # bottom edge
        for x in range(30, 40):
            img.set(x, y, BOTTOM[y])

    # Lower corners: side and bottom meet in a mitre; a dark joint closes the side.
    for y in range(THICK):
        for i in range(THICK):  # i: distance from the outer side
            from_bottom = THICK - 1 - y
            if y == 0 and 0 < i < THICK - 1:
                left = right = BOTTOM[0]
            elif i < from_bottom:
                left, right = LEFT_ACTIVE[i], RIGHT_ACTIVE[i]
            elif i > from_bottom:
                left = right = BOTTOM[y]
            else:  # on the mitre
                left = mix(LEFT_ACTIVE[i], BOTTOM[y], 0.5)
                right = mix(RIGHT_ACTIVE[i], BOTTOM[y], 0.5)
            img.set(20 + i, y, left)
            img.set(60 + THICK - 1 - i, y, right)
    return img


# ------------------------------------------------------------------- caption strip

PIECE_W = 240
STRIP_H = 48
TAB = (64, 8, 167, 42)  # left, top, right, bottom (right and bottom exclusive)
GRIP_LEFT = (71, 87)
GRIP_RIGHT = (143, 159)


def draw_caption_piece(img, ox, active):
    left = LEFT_ACTIVE if active else LEFT_INACTIVE
    right = RIGHT_ACTIVE if active else RIGHT_INACTIVE
    top = TOP_ACTIVE if active else TOP_INACTIVE
    top_rows = len(top)
    if active:
        bar_top, bar_bottom = (233, 244, 254), (184, 214, 242)
        tab_top, tab_bottom = (104, 158, 228), (46, 96, 184)
        tab_line, tab_light, tab_shadow = (30, 64, 140), (178, 212, 248), (150, 180, 214)
    else:
        bar_top, bar_bottom = (242, 247, 252), (218, 230, 243)
        tab_top, tab_bottom = (212, 226, 243), (182, 203, 230)
        tab_line, tab_light, tab_shadow = (128, 156, 198), (238, 244, 251), (204, 216, 231)

    # The bar itself.
    for y in range(top_rows, STRIP_H - 1):
        colour = ramp(bar_top, bar_bottom, STRIP_H - 1 - top_rows, y - top_rows)
        for x in range(THICK, PIECE_W - THICK):
            img.set(ox + x, y, colour)
    img.rect(ox + THICK - 1, STRIP_H - 1, ox + PIECE_W - THICK, STRIP_H - 1, left[-1])

    # Frame on both sides, running up into a top border; mitred at the upper corners.
    for y in range(STRIP_H):
        for i in range(THICK):
            on_top = y < top_rows and i >= y
            img.set(ox + i, y, top[y] if on_top else left[i])
            img.set(ox + PIECE_W - 1 - i, y, top[y] if on_top else right[i])
    for y in range(top_rows):
        for x in range(THICK, PIECE_W - THICK):
            img.set(ox + x, y, top[y])

    # The raised tab: a soft shadow, the outline, a lit rim and a gradient face.
    l, t, r, b = TAB
    paint_shape(img, in_round_rect(ox + l + 1.5, t + 1.5, ox + r + 1.5, b + 1.5, 8),
                lambda x, y: tab_shadow, (ox + l, t, ox + r + 2, b + 2))
    paint_shape(img, in_round_rect(ox + l, t, ox + r, b, 8),
                lambda x, y: tab_line, (ox + l - 1, t - 1, ox + r + 1, b + 1))
    paint_shape(img, in_round_rect(ox + l + 1, t + 1, ox + r - 1, b - 1, 7),
                lambda x, y: tab_light, (ox + l, t, ox + r, b))
    face_h = b - t - 3
    paint_shape(img, in_round_rect(ox + l + 2, t + 2, ox + r - 1, b - 1, 6),
                lambda x, y: ramp(tab_top, tab_bottom, face_h, y - t - 2),
                (ox + l, t, ox + r, b))
    if active:
        # A faint gloss over the upper half of the face.
        paint_shape(img, in_round_rect(ox + l + 3, t + 3, ox + r - 3, t + 15, 5),
                    lambda x, y: (255, 255, 255), (ox + l, t, ox + r, t + 16), 0.16)
        for x0, x1 in (GRIP_LEFT, GRIP_RIGHT):
            for y in range(18, 33, 3):
                for x in range(x0, x1 + 1):
                    img.set(ox + x, y, (30, 62, 138))
                    img.set(ox + x, y + 1, (150, 190, 240))


# Where a button's rounded corners show the bar behind it; edge pixels are blended with
# this tone so that they look smooth over the bar.
BAR_BEHIND_BUTTONS = (212, 231, 249)

BUTTON_W, BUTTON_H = 19, 20
CLOSE, RESTORE, MAXIMISE, MINIMISE = range(4)


def draw_button(img, x0, y0, kind, pale):
    cell = Canvas(BUTTON_W, BUTTON_H, BAR_BEHIND_BUTTONS)
    if kind == CLOSE:
        top, bottom, line = ((238, 128, 116), (206, 74, 62), (150, 40, 36)) if pale else \
            ((222, 92, 80), (160, 36, 30), (110, 24, 22))
    else:
        top, bottom, line = ((150, 196, 246), (88, 142, 220), (40, 84, 162)) if pale else \
            ((104, 158, 228), (42, 92, 180), (24, 54, 120))
    body = in_round_rect(0.5, 0.5, BUTTON_W - 0.5, BUTTON_H - 0.5, 4)
    face = in_round_rect(1.5, 1.5, BUTTON_W - 1.5, BUTTON_H - 1.5, 3)
    paint_shape(cell, body, lambda x, y: line, (0, 0, BUTTON_W - 1, BUTTON_H - 1))
    paint_shape(cell, face, lambda x, y: ramp(top, bottom, BUTTON_H - 3, y - 1),
                (0, 0, BUTTON_W - 1, BUTTON_H - 1))
    paint_shape(cell, in_round_rect(2.5, 2.0, BUTTON_W - 2.5, 9.0, 2.5),
                lambda x, y: (255, 255, 255), (0, 0, BUTTON_W - 1, 9), 0.22)

    glyph = (255, 255, 255)
    shade = mix(line, (0, 0, 0), 0.2)

    def stroke(shape, box):
        sx0, sy0, sx1, sy1 = box
        shadow = lambda px, py: shape(px - 1, py - 1)
        paint_shape(cell, shadow, lambda x, y: shade, (sx0, sy0, sx1 + 1, sy1 + 1), 0.6)
        paint_shape(cell, shape, lambda x, y: glyph, box)

    def frame_rect(left, top, right, bottom, heavy_top):
        def inside(px, py):
            if not (left <= px < right and top <= py < bottom):
                return False
            return (px < left + 1 or px >= right - 1 or py >= bottom - 1
                    or py < top + (2 if heavy_top else 1))
        return inside

    if kind == CLOSE:
        a = in_segment(5.5, 6.0, 13.5, 14.0, 1.15)
        b = in_segment(13.5, 6.0, 5.5, 14.0, 1.15)
        stroke(lambda px, py: a(px, py) or b(px, py), (3, 4, 15, 16))
    elif kind == MAXIMISE:
        stroke(frame_rect(5, 5, 14, 14, True), (4, 4, 14, 14))
    elif kind == RESTORE:
        back = frame_rect(7, 4, 15, 11, True)
        front_box = (4, 8, 12, 15)
        front = frame_rect(*front_box, True)
        inside_front = lambda px, py: 4 <= px < 12 and 8 <= py < 15
        stroke(lambda px, py: back(px, py) and not inside_front(px, py), (6, 3, 15, 11))
        stroke(front, (3, 7, 12, 15))
    else:  # minimise
        stroke(lambda px, py: 5 <= px < 14 and 12 <= py < 14, (4, 11, 14, 14))

    # Whatever lies outside the button's outline is see-through filler.
    for y in range(BUTTON_H):
        for x in range(BUTTON_W):
            if coverage(body, x, y) == 0:
                cell.set(x, y, MAGENTA)
            img.set(x0 + x, y0 + y, cell.get(x, y))


# A 5 x 7 pixel font for the strip's notes.
FONT = {
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    "x": ["00000", "00000", "10001", "01010", "00100", "01010", "10001"],
    "-": ["00000", "00000", "00000", "01110", "00000", "00000", "00000"],
    ",": ["00000", "00000", "00000", "00000", "00110", "00100", "01000"],
}


def write_text(img, x, y, text):
    for ch in text:
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    img.set(x + col, y + row, BLACK)
        x += 6


def draw_caption_strip():
    img = Canvas(640, STRIP_H, MAGENTA)
    draw_caption_piece(img, 0, True)
    draw_caption_piece(img, 400, False)
    for kind in (CLOSE, RESTORE, MAXIMISE, MINIMISE):
        for pale in (False, True):
            draw_button(img, PIECE_W + kind * BUTTON_W, BUTTON_H if pale else 0, kind, pale)
    write_text(img, 320, 3, "19x20")
    write_text(img, 376, 3, "400")
    write_text(img, 322, 37, "0-90,140-240")
    return img


# ----------------------------------------------------------------------- GIF output


def quantise(img, keep=(MAGENTA, BLACK), size=256):
    """Median cut down to size colours; the colours in keep stay exact."""
    counts = {}
    for row in img.pixels:
        for c in row:
            c = tuple(int(round(v)) for v in c)
            counts[c] = counts.get(c, 0) + 1
    kept = [c for c in keep if c in counts]
    boxes = [[c for c in counts if c not in kept]]
    while len(boxes) + len(kept) < size:
        boxes.sort(key=lambda box: spread(box)[0], reverse=True)
        box = boxes[0]
        if len(box) < 2:
            break
        _, channel = spread(box)
        box.sort(key=lambda c: c[channel])
        middle = len(box) // 2
        boxes[0:1] = [box[:middle], box[middle:]]
    palette = list(kept)
    lookup = {c: i for i, c in enumerate(kept)}
    for box in boxes:
        if not box:
            continue
        weight = sum(counts[c] for c in box)
        mean = tuple(int(round(sum(c[i] * counts[c] for c in box) / weight)) for i in range(3))
        for c in box:
            lookup[c] = len(palette)
        palette.append(mean)
    indices = [lookup[tuple(int(round(v)) for v in c)] for row in img.pixels for c in row]
    palette += [(0, 0, 0)] * (size - len(palette))
    return palette, indices


def spread(box):
    ranges = [max(c[i] for c in box) - min(c[i] for c in box) for i in range(3)]
    channel = max(range(3), key=lambda i: ranges[i])
    return ranges[channel], channel


def lzw(indices, min_code_size=8):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out, bit_buffer, bit_count = bytearray(), 0, 0

    def emit(code, width):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += width
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    def fresh():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = fresh()
    emit(clear, width)
    run = ()
    for index in indices:
        longer = run + (index,)
        if longer in table:
            run = longer
            continue
        emit(table[run], width)
        if next_code < 4096:
            table[longer] = next_code
            if next_code == 1 << width and width < 12:
                width += 1
            next_code += 1
        else:
            emit(clear, width)
            table, next_code, width = fresh()
        run = (index,)
    emit(table[run], width)
    emit(end, width)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def gif(img):
    palette, indices = quantise(img)
    data = bytearray(b"GIF89a")
    data += img.width.to_bytes(2, "little") + img.height.to_bytes(2, "little")
    data += bytes([0xF7, 0, 0])  # global colour table of 256 entries, 8-bit colour
    for colour in palette:
        data += bytes(colour)
    data += b"\x2c" + bytes(4) + img.width.to_bytes(2, "little")
    data += img.height.to_bytes(2, "little") + b"\x00"
    data.append(8)
    body = lzw(indices)
    for start in range(0, len(body), 255):
        block = body[start:start + 255]
        data.append(len(block))
        data += block
    data += b"\x00\x3b"
    return bytes(data)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src", "window", "skin")
    os.makedirs(folder, exist_ok=True)
    for name, image in (("captionstrip.gif", draw_caption_strip()),
                        ("frameedges.gif", draw_frame_edges())):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(gif(image))
        print(f"{path}: {image.width} x {image.height}")


if __name__ == "__main__":
    main()
