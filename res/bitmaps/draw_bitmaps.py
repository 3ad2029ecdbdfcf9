#!/usr/bin/env python3
"""Draws the tips window bitmaps 201-204 as BMP files beside this script.

Only the standard library is used. Shapes are rendered with 4x4 supersampling into an RGBA
canvas; on output every pixel that is less than half covered becomes magenta (#FF00FF), the
transparent colour of the skin, and every other pixel keeps its own colour, so edges are crisp
against the transparent colour and never fringed with pink.

Usage: draw_bitmaps.py [output folder]   (default: the folder of this script)
"""
import math
import os
import struct
import sys

MAGENTA = (255, 0, 255)
SUB = 4  # samples per pixel along each axis


def hex_rgb(text):
    text = text.lstrip('#')
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Canvas:
    def __init__(self, width, height):
        self.w, self.h = width, height
        self.px = [[(0.0, 0.0, 0.0, 0.0) for _ in range(width)] for _ in range(height)]

    def paint(self, inside, colour, x0=0, y0=0, x1=None, y1=None):
        """Composites colour (an RGB tuple or a function of (x, y)) over every pixel, weighted
        by the share of its samples for which inside(x, y) holds."""
        x1 = self.w if x1 is None else min(self.w, x1)
        y1 = self.h if y1 is None else min(self.h, y1)
        for y in range(max(0, y0), y1):
            for x in range(max(0, x0), x1):
                hits = 0
                for sy in range(SUB):
                    for sx in range(SUB):
                        if inside(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB):
                            hits += 1
                if not hits:
                    continue
                a = hits / (SUB * SUB)
                c = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                r, g, b, da = self.px[y][x]
                out_a = a + da * (1 - a)
                blend = [(c[i] * a + (r, g, b)[i] * da * (1 - a)) / out_a for i in range(3)]
                self.px[y][x] = (blend[0], blend[1], blend[2], out_a)

    def rows(self):
        """Rows of RGB tuples, top to bottom, with the transparent colour where uncovered."""
        for row in self.px:
            yield [MAGENTA if a < 0.5 else tuple(int(round(v)) for v in (r, g, b))
                   for (r, g, b, a) in row]


# Shapes, as predicates on a point.
def rounded_rect(left, top, right, bottom, radius):
    def inside(x, y):
        if x < left or x > right or y < top or y > bottom:
            return False
        cx = min(max(x, left + radius), right - radius)
        cy = min(max(y, top + radius), bottom - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    return inside


def rect(left, top, right, bottom):
    return lambda x, y: left <= x < right and top <= y < bottom


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def polyline(points, width):
    """The points within width/2 of any segment of the line."""
    half = width / 2.0

    def inside(x, y):
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            dx, dy = bx - ax, by - ay
            t = ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy)
            t = min(1.0, max(0.0, t))
            if math.hypot(x - (ax + t * dx), y - (ay + t * dy)) <= half:
                return True
        return False
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def vertical(top_colour, bottom_colour, top, bottom):
    a, b = hex_rgb(top_colour), hex_rgb(bottom_colour)
    return lambda x, y: mix(a, b, min(1.0, max(0.0, (y - top) / float(bottom - top))))


# BMP writers (bottom-up rows, each padded to four bytes).
def write_bmp24(path, canvas):
    rows = list(canvas.rows())
    stride = (canvas.w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        data += line + bytes(stride - len(line))
    header = struct.pack('<IiiHHIIiiII', 40, canvas.w, canvas.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    write_file(path, header, b'', data)


def write_bmp8(path, canvas):
    rows = list(canvas.rows())
    palette = [MAGENTA]
    for row in rows:
        for c in row:
            if c not in palette:
                palette.append(c)
    if len(palette) > 256:
        raise SystemExit('%s: %d colours do not fit an 8-bit palette' % (path, len(palette)))
    index = {c: i for i, c in enumerate(palette)}
    stride = (canvas.w + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytes(index[c] for c in row)
        data += line + bytes(stride - len(line))
    table = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    header = struct.pack('<IiiHHIIiiII', 40, canvas.w, canvas.h, 1, 8, 0, len(data), 2835, 2835,
                         len(palette), 0)
    write_file(path, header, table, data)


def write_file(path, info, table, data):
    offset = 14 + len(info) + len(table)
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', offset + len(data), 0, 0, offset))
        f.write(info + table + data)


# 201: the window background, 258 x 170, with rounded corners cut by the transparent colour.
def background():
    w, h = 258, 170
    c = Canvas(w, h)
    outer = rounded_rect(0, 0, w, h, 6)
    inner = rounded_rect(1, 1, w - 1, h - 1, 5)
    c.paint(outer, hex_rgb('#8fa9c4'))                                   # frame
    c.paint(inner, vertical('#f7fafd', '#e9f0f7', 34, h))               # body
    header = lambda x, y: inner(x, y) and y < 34
    c.paint(header, vertical('#e4effb', '#c9ddf2', 0, 34), y1=34)        # header band
    c.paint(rect(1, 34, w - 1, 35), hex_rgb('#aac3dc'), y0=34, y1=35)    # band edge
    c.paint(rect(1, 35, w - 1, 36), hex_rgb('#ffffff'), y0=35, y1=36)
    # Badge left of the title: a blue disc with a white upward arrow.
    c.paint(circle(31, 18, 10.5), vertical('#5aa2e6', '#2c6fb7', 7, 29), 18, 5, 45, 31)
    c.paint(polygon([(31, 11.5), (37, 18), (33.4, 18), (33.4, 24.5), (28.6, 24.5), (28.6, 18), (25, 18)]),
            hex_rgb('#ffffff'), 18, 5, 45, 31)
    # The description panel behind the content control (25, 60, 225 x 75).
    c.paint(rounded_rect(20, 56, 253, 138, 3), hex_rgb('#cbd9e7'), 19, 55, 254, 139)
    c.paint(rounded_rect(21, 57, 252, 137, 2), hex_rgb('#ffffff'), 19, 55, 254, 139)
    return c


# 202: Install and Later, 50 x 20 frames: normal, hover, pressed.
def push_buttons():
    c = Canvas(150, 20)
    faces = [('#a3bcd6', '#ffffff', '#e6eef7'),   # normal
             ('#5f96cf', '#f5faff', '#d5e7f9'),   # hover
             ('#3f77b2', '#c9ddf1', '#e0ecf8')]   # pressed
    for i, (edge, top, bottom) in enumerate(faces):
        x = 50 * i
        c.paint(rounded_rect(x + 0.5, 0.5, x + 49.5, 19.5, 3.5), hex_rgb(edge), x, 0, x + 50, 20)
        c.paint(rounded_rect(x + 1.5, 1.5, x + 48.5, 18.5, 2.5), vertical(top, bottom, 1, 19),
                x, 0, x + 50, 20)
        if i != 2:  # a light inner top line lifts the face; pressed faces stay flat
            c.paint(rect(x + 3, 1.5, x + 47, 2.5), hex_rgb('#ffffff'), x, 1, x + 50, 3)
    return c


# 203: Close, 15 x 15 frames: normal, hover, pressed.
def close_button():
    c = Canvas(45, 15)
    for i in range(3):
        x = 15 * i
        cross_colour = '#6f8498'
        if i > 0:
            c.paint(rounded_rect(x + 0.5, 0.5, x + 14.5, 14.5, 3), hex_rgb('#e05252' if i == 1 else '#b03535'),
                    x, 0, x + 15, 15)
            cross_colour = '#ffffff'
        d = 3.6
        for line in ([(x + d + 0.5, d + 0.5), (x + 14.5 - d, 14.5 - d)],
                     [(x + 14.5 - d, d + 0.5), (x + d + 0.5, 14.5 - d)]):
            c.paint(polyline(line, 1.7), hex_rgb(cross_colour), x, 0, x + 15, 15)
    return c


# 204: the check box, 15 x 15 frames: unticked normal, hover, pressed at 0, 15, 30, ticked at 60,
# 75, 90; the frames at 45 and 105 are unused and stay transparent. 8-bit with a palette.
def check_box():
    c = Canvas(120, 15)
    unticked = [('#8ea7c0', '#ffffff'), ('#4f8bd0', '#eef5fd'), ('#3a70ae', '#d3e4f6')]
    ticked = [('#2f6fb5', '#3f86d0'), ('#3f82cc', '#5599de'), ('#285f9c', '#2f73bc')]
    for frames, x0, tick in ((unticked, 0, False), (ticked, 60, True)):
        for i, (edge, fill) in enumerate(frames):
            x = x0 + 15 * i
            c.paint(rounded_rect(x + 1, 1, x + 14, 14, 2.5), hex_rgb(edge), x, 0, x + 15, 15)
            c.paint(rounded_rect(x + 2, 2, x + 13, 13, 1.5), hex_rgb(fill), x, 0, x + 15, 15)
            if tick:
                c.paint(polyline([(x + 4.2, 7.6), (x + 6.6, 10.0), (x + 10.9, 4.9)], 1.8),
                        hex_rgb('#ffffff'), x, 0, x + 15, 15)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_bmp24(os.path.join(out, 'tips_background.bmp'), background())
    write_bmp24(os.path.join(out, 'tips_buttons.bmp'), push_buttons())
    write_bmp24(os.path.join(out, 'tips_close.bmp'), close_button())
    write_bmp8(os.path.join(out, 'tips_checkbox.bmp'), check_box())


if __name__ == '__main__':
    main()
