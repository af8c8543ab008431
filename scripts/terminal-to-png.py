#!/usr/bin/python3
"""Draws a terminal screen, as `tmux capture-pane -p -e` writes it (text with SGR escapes),
as a PNG: one cell per character in DejaVu Sans Mono, with the 256-colour palette, bold,
dim and reverse. Block and box-drawing lines are drawn as rectangles, as terminals do, so
that bars and axes join without gaps.

Called as: terminal-to-png.py CAPTURE PNG [COLUMNS ROWS]
Needs python3-pil and fonts-dejavu-core.
"""
import re
import sys

from PIL import Image, ImageDraw, ImageFont

FONT_DIR = "/usr/share/fonts/truetype/dejavu/"
SIZE = 15
BACKGROUND = (16, 20, 24)
FOREGROUND = (216, 222, 233)
BASIC = [(0, 0, 0), (205, 49, 49), (13, 188, 121), (229, 229, 16), (36, 114, 200),
         (188, 63, 188), (17, 168, 205), (229, 229, 229), (102, 102, 102), (241, 76, 76),
         (35, 209, 139), (245, 245, 67), (59, 142, 234), (214, 112, 214), (41, 184, 219),
         (255, 255, 255)]


def palette(index):
    if index < 16:
        return BASIC[index]
    if index < 232:
        index -= 16
        steps = [0, 95, 135, 175, 215, 255]
        return (steps[index // 36], steps[index // 6 % 6], steps[index % 6])
    level = 8 + 10 * (index - 232)
    return (level, level, level)


def apply_sgr(state, parameters):
    numbers = [int(p) if p else 0 for p in parameters.split(";")] if parameters else [0]
    i = 0
    while i < len(numbers):
        n = numbers[i]
        if n == 0:
            state.update(fg=None, bg=None, bold=False, dim=False, reverse=False)
        elif n == 1:
            state["bold"] = True
        elif n == 2:
            state["dim"] = True
        elif n == 22:
            state.update(bold=False, dim=False)
        elif n == 7:
            state["reverse"] = True
        elif n == 27:
            state["reverse"] = False
        elif 30 <= n <= 37 or 90 <= n <= 97:
            state["fg"] = palette(n - 30 if n < 90 else n - 82)
        elif 40 <= n <= 47 or 100 <= n <= 107:
            state["bg"] = palette(n - 40 if n < 100 else n - 92)
        elif n in (38, 48) and i + 2 < len(numbers) and numbers[i + 1] == 5:
            state["fg" if n == 38 else "bg"] = palette(numbers[i + 2])
            i += 2
        elif n in (38, 48) and i + 4 < len(numbers) and numbers[i + 1] == 2:
            state["fg" if n == 38 else "bg"] = tuple(numbers[i + 2:i + 5])
            i += 4
        elif n == 39:
            state["fg"] = None
        elif n == 49:
            state["bg"] = None
        i += 1


def cells_of(capture):
    """Rows of (character, foreground, background, bold) from the captured text."""
    state = dict(fg=None, bg=None, bold=False, dim=False, reverse=False)
    rows = []
    for line in capture.split("\n"):
        row = []
        for escape, character in re.findall(r"(\x1b\[[0-9;]*m)|(.)", line):
            if escape:
                apply_sgr(state, escape[2:-1])
                continue
            fg = state["fg"] or FOREGROUND
            bg = state["bg"] or BACKGROUND
            if state["reverse"]:
                fg, bg = bg, fg
            if state["dim"]:
                fg = tuple((f + b) // 2 for f, b in zip(fg, bg))
            row.append((character, fg, bg, state["bold"]))
        rows.append(row)
    return rows


def draw_cell(draw, fonts, x, y, width, height, cell):
    character, fg, bg, bold = cell
    draw.rectangle([x, y, x + width - 1, y + height - 1], fill=bg)
    code = ord(character)
    if 0x2581 <= code <= 0x2588:  # a block filling eighths of the cell from the bottom
        top = y + height - round(height * (code - 0x2580) / 8)
        draw.rectangle([x, top, x + width - 1, y + height - 1], fill=fg)
    elif code == 0x2500:  # a horizontal line through the middle
        draw.rectangle([x, y + height // 2, x + width - 1, y + height // 2], fill=fg)
    elif code == 0x2502:  # a vertical line through the middle
        draw.rectangle([x + width // 2, y, x + width // 2, y + height - 1], fill=fg)
    elif character != " ":
        draw.text((x, y + 1), character, font=fonts[bold], fill=fg)


def main():
    capture_path, png_path = sys.argv[1:3]
    with open(capture_path, encoding="utf-8", errors="replace") as file:
        rows = cells_of(file.read().rstrip("\n"))
    columns = int(sys.argv[3]) if len(sys.argv) > 3 else max(len(row) for row in rows)
    count = int(sys.argv[4]) if len(sys.argv) > 4 else len(rows)
    fonts = {False: ImageFont.truetype(FONT_DIR + "DejaVuSansMono.ttf", SIZE),
             True: ImageFont.truetype(FONT_DIR + "DejaVuSansMono-Bold.ttf", SIZE)}
    width = round(fonts[False].getlength("M"))
    height = SIZE + 4
    margin = 12
    image = Image.new("RGB", (columns * width + 2 * margin, count * height + 2 * margin),
                      BACKGROUND)
    draw = ImageDraw.Draw(image)
    for r, row in enumerate(rows[:count]):
        for c, cell in enumerate(row[:columns]):
            draw_cell(draw, fonts, margin + c * width, margin + r * height, width, height, cell)
    image.save(png_path)


if __name__ == "__main__":
    main()
