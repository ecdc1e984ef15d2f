"""Reading the screen: the game's data, screenshots and what they show."""

import json
import re
import subprocess


# --- The game's data ---------------------------------------------------------

# The build writes it from the game's own tables and rules into
# slabix_game_data.json next to the program (--game-data names another file);
# main() loads it. Colours as the game stores them, 0x00BBGGRR; start places
# (left, top, right, bottom) in client pixels, right and bottom exclusive.
LAYOUTS = []
STONE_RGB = []
# White, black, the dirt and the stones.
BOARD_COLOURS = set()
# [first width, last width, horizontal unit, [[from height, vertical unit], ...]]
UNITS = []
# [first width, last width, rows a game needs]
MIN_HEIGHTS = []
# The sunken edge round the game's screen, and the largest screen the game takes.
SCREEN = {'edge': 0, 'largest': (0, 0)}


def rgb(colorref):
    return (colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF)


WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
DIRT = None
PALE_YELLOW = rgb(0x00B4F0FF)
RED = rgb(0x000000FF)
NOTICE_BLUE = rgb(0x00FF0000)

# The patio: outline rectangle, and its inside of 552 x 288 pixels.
PATIO = (450, 350, 1004, 640)
INSIDE = (451, 351, 1003, 639)
INSIDE_AREA = 552 * 288


def load_game_data(path):
    """Fills the tables above from the file the build wrote."""
    global DIRT
    with open(path) as f:
        data = json.load(f)
    LAYOUTS[:] = [[tuple(r) for r in layout] for layout in data['layouts']]
    STONE_RGB[:] = [rgb(c) for c in data['stone_colours']]
    DIRT = rgb(data['dirt'])
    BOARD_COLOURS.update([WHITE, BLACK, DIRT] + STONE_RGB)
    UNITS[:] = data['units']
    MIN_HEIGHTS[:] = data['min_heights']
    SCREEN.update(edge=data['screen_edge'], largest=tuple(data['largest_screen']))
    if tuple(data['patio']) != PATIO:
        raise SystemExit(f'{path}: the patio is {data["patio"]}, the checks expect {PATIO}')


def units(width, height):
    """The game's (horizontal, vertical) units on a screen of that size; None
    where it does not run."""
    for first, last, unit_x, steps in UNITS:
        if first <= width <= last:
            return unit_x, [unit_y for least, unit_y in steps if least <= height][-1]
    return None


def min_height(width):
    """The rows a game needs on a screen that wide (0 where it does not run)."""
    return next((rows for first, last, rows in MIN_HEIGHTS if first <= width <= last), 0)


def game_screen(width, height, k=1):
    """The game's screen (width, height) that the window chooses for a client
    area of width x height device pixels at k device pixels a game pixel: as
    large as fits inside the edge, at most the largest, never shorter than a
    game needs."""
    edge = 2 * SCREEN['edge'] * k
    w = min((width - edge) // k, SCREEN['largest'][0])
    return w, min(max((height - edge) // k, min_height(w)), SCREEN['largest'][1])


# --- Screenshots -----------------------------------------------------------

class Shot:
    def __init__(self, raw, width, height):
        self.raw, self.width, self.height = raw, width, height

    def px(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def row(self, y, x0, x1):
        return self.raw[(y * self.width + x0) * 3:(y * self.width + x1) * 3]

    def runs(self, y, colour, x0=0, x1=None):
        """(start, length) of the runs of one colour in row y."""
        x1 = self.width if x1 is None else x1
        out, start = [], None
        data = self.row(y, x0, x1)
        c = bytes(colour)
        for k in range(x1 - x0):
            if data[3 * k:3 * k + 3] == c:
                if start is None:
                    start = x0 + k
            elif start is not None:
                out.append((start, x0 + k - start))
                start = None
        if start is not None:
            out.append((start, x1 - start))
        return out

    def count(self, colour, rect):
        x0, y0, x1, y1 = rect
        c = bytes(colour)
        n = 0
        for y in range(y0, y1):
            data = self.row(y, x0, x1)
            n += sum(1 for k in range(0, len(data), 3) if data[k:k + 3] == c)
        return n

    def is_filled(self, rect, colour):
        x0, y0, x1, y1 = rect
        expect = bytes(colour) * (x1 - x0)
        return all(self.row(y, x0, x1) == expect for y in range(y0, y1))

    def shares(self, rect, step=4):
        """Colour classes over a rectangle, as fractions."""
        x0, y0, x1, y1 = rect
        names = {PALE_YELLOW: 'pale yellow', RED: 'red', WHITE: 'white', DIRT: 'dirt-coloured',
                 BLACK: 'black'}
        tally, total = {}, 0
        for y in range(y0, y1, step):
            for x in range(x0, x1, step):
                p = self.px(x, y)
                name = names.get(p, 'stone-coloured' if p in STONE_RGB else 'other')
                tally[name] = tally.get(name, 0) + 1
                total += 1
        return {k: v / total for k, v in tally.items()} if total else {}

    def describe(self, rect=None):
        """What the screen shows, in a player's words."""
        rect = rect or (0, 0, self.width, self.height)
        shares = self.shares(rect)
        if not shares:
            return 'saw nothing'
        main = max(shares, key=shares.get)
        what = {
            'pale yellow': 'the pale yellow title screen',
            'red': 'the red screen-size notice',
            'white': 'a mostly white screen (the board or the results)',
            'black': 'a black screen (nothing drawn)',
        }.get(main, 'mostly %s pixels' % main)
        parts = ', '.join('%s %d%%' % (k, round(100 * v)) for k, v in
                          sorted(shares.items(), key=lambda kv: -kv[1]) if v >= 0.01)
        return 'saw %s (%s)' % (what, parts)


# --- What the screens show -------------------------------------------------

def find_patio(shot):
    """Screen position of the client origin, from the patio on the board: the
    black outline row with 552 dirt pixels below it, one pixel in."""
    dirt_row = bytes(DIRT) * 552
    for y in range(1, shot.height):
        data = shot.row(y, 0, shot.width)
        start = 0
        while True:
            k = data.find(dirt_row, start)
            if k < 0:
                break
            if k % 3 == 0:
                x = k // 3
                if (shot.px(x - 1, y) == BLACK and shot.px(x, y - 1) == BLACK
                        and shot.px(x + 552, y) == BLACK):
                    return (x - INSIDE[0], y - INSIDE[1])
            start = k + 1
    return None


def stone_problem(shot, origin, rect, colour, ring=True, bottom=None):
    """None when the stone is drawn exactly at rect: black outline, its colour
    inside, and (with ring) white or dirt around it; else what is wrong. With
    bottom, only the screen rows above it are judged."""
    ox, oy = origin
    l, t, r, b = rect[0] + ox, rect[1] + oy, rect[2] + ox, rect[3] + oy
    w = r - l
    last = b if bottom is None else min(b, bottom)
    if (t < last and shot.row(t, l, r) != bytes(BLACK) * w) or \
            (b - 1 < last and shot.row(b - 1, l, r) != bytes(BLACK) * w):
        return 'its top or bottom outline is not black'
    inner = bytes(BLACK) + bytes(colour) * (w - 2) + bytes(BLACK)
    for y in range(t + 1, min(b - 1, last)):
        if shot.row(y, l, r) != inner:
            bad = [x for x in range(l, r) if shot.px(x, y) != (BLACK if x in (l, r - 1) else colour)]
            return 'pixel (%d, %d) of it is %s, not %s' % (bad[0] - ox, y - oy, shot.px(bad[0], y),
                                                           BLACK if bad[0] in (l, r - 1) else colour)
    if ring:
        around = [(x, t - 1) for x in range(l - 1, r + 1)] + [(x, b) for x in range(l - 1, r + 1)] + \
                 [(l - 1, y) for y in range(t, b)] + [(r, y) for y in range(t, b)]
        for x, y in around:
            if y < last and shot.px(x, y) not in (WHITE, DIRT):
                return 'it reaches beyond its place: pixel (%d, %d) next to it is %s' % (
                    x - ox, y - oy, shot.px(x, y))
    return None


def detect_layout(shot, origin, bottom=None):
    """The layout on the board, judged above the screen row bottom (on a
    short client area the prompt line is written over the lowest stones)."""
    best, best_bad = None, None
    for n, layout in enumerate(LAYOUTS):
        bad = [(i, p) for i, p in ((i, stone_problem(shot, origin, r, STONE_RGB[i], bottom=bottom))
                                   for i, r in enumerate(layout)) if p]
        if not bad:
            return n, None
        if best_bad is None or len(bad) < len(best_bad):
            best, best_bad = n, bad
    return None, 'the stones match none of the five layouts; closest is layout %d, where %s' % (
        best + 1, '; '.join('stone %d: %s' % (i, p) for i, p in best_bad[:4]))


def cost_box(shot, origin, bottom=None):
    """The black running-cost box in the bottom right corner of the board,
    7 horizontal units wide, from its last row at or above the screen row
    bottom: the game's screen (width, height, vertical unit)."""
    ox, oy = origin
    bottom = shot.height if bottom is None else min(bottom, shot.height)
    for y in range(bottom - 1, oy, -1):
        for start, length in shot.runs(y, BLACK, ox):
            w, h = start + length - ox, y + 1 - oy
            unit = units(w, h)
            if unit and length == 7 * unit[0]:
                return w, h, unit[1]
    return None


def dirt_count(shot, origin, inside=INSIDE):
    ox, oy = origin
    return shot.count(DIRT, (inside[0] + ox, inside[1] + oy, inside[2] + ox, inside[3] + oy))


def ink_lines(shot, rect):
    """Number of text lines drawn in dark blue in rect: runs of rows with ink."""
    x0, y0, x1, y1 = rect
    lines, inside = 0, False
    for y in range(y0, y1):
        data = shot.row(y, x0, x1)
        ink = any(data[k + 2] > 100 and data[k] < 100 and data[k + 1] < 100 and data[k + 2] - data[k] > 60
                  for k in range(0, len(data), 3))
        if ink and not inside:
            lines += 1
        inside = ink
    return lines


def results_areas(origin, size):
    """Screen rectangles of the results screen's patio picture (outline
    included) and of its text, for a client area of size (w, h, unit)."""
    ox, oy = origin
    w, h, unit = size
    left, top = (w - 554) // 2 + ox, 3 * unit + oy
    picture = (left, top, left + 554, top + 290)
    text = (ox + 2 * unit, top + 290 + 4 * unit, ox + w - 2 * unit, oy + h - 8 * unit)
    return picture, text


def picture_dirt(shot, picture):
    return shot.count(DIRT, (picture[0] + 1, picture[1] + 1, picture[2] - 1, picture[3] - 1))


def inside(rect, area, slack=0):
    """Whether rect lies in area with at least one pixel of it all round
    (what lies around a game screen shows it ends there), give or take slack."""
    return rect[0] > area[0] - slack and rect[1] > area[1] - slack and \
        rect[2] < area[2] + slack and rect[3] < area[3] + slack


def title_box(shot, colour=PALE_YELLOW, least=500):
    """(left, top, right, bottom) on the screen of the title screen, or with
    colour RED of a notice: the box round the runs of its colour at least
    least pixels long (its margins run all across it); None where there are
    none."""
    run = re.compile(b'(?:' + re.escape(bytes(colour)) + b'){%d,}' % least)
    box = None
    for y in range(shot.height):
        for m in run.finditer(shot.row(y, 0, shot.width)):
            x0, x1 = (m.start() + 2) // 3, m.end() // 3  # whole pixels only
            if x1 - x0 >= least:
                box = (x0, y, x1, y + 1) if box is None else (min(box[0], x0), box[1], max(box[2], x1), y + 1)
    return box


def title_problem(shot, box):
    """None when the title screen at box is shown whole: its outer rows and
    columns pale yellow all along, the edge round it, all inside the screen;
    else what is wrong."""
    l, t, r, b = box
    if l < 1 or t < 1 or r > shot.width - 1 or b > shot.height - 1:
        return 'the title screen %s reaches the edge of the %dx%d screen: it is cut off' % (
            box, shot.width, shot.height)
    if not shot.is_filled((l, b - 1, r, b), PALE_YELLOW):
        return 'the bottom row of the title screen %s is not pale yellow all along' % (box,)
    if not (shot.is_filled((l, t, l + 1, b), PALE_YELLOW) and shot.is_filled((r - 1, t, r, b), PALE_YELLOW)):
        return 'the left or right column of the title screen %s is not pale yellow all along' % (box,)
    if any(shot.px(x, y) == PALE_YELLOW for x, y in ((l - 1, t), (r, t), (l, t - 1), (l, b), (r - 1, b))):
        return 'the title screen %s has no edge round it' % (box,)
    return None


def scaled_board(shot, size):
    """Where a scaled-down board shows the game screen: (left, top, right,
    bottom, factor) from the patio's dirt, or None where there is no patio."""
    dirt = re.compile(b'(?:' + re.escape(bytes(DIRT)) + b'){40,}')
    top = bottom = left = right = None
    for y in range(0, shot.height):
        runs = [(m.start() + (-m.start() % 3)) // 3 for m in dirt.finditer(shot.row(y, 0, shot.width))]
        ends = [(m.end() - (m.end() - m.start()) % 3) // 3 for m in dirt.finditer(shot.row(y, 0, shot.width))]
        if runs:
            top = y if top is None else top
            bottom = y + 1
            left = min(runs) if left is None else min(left, min(runs))
            right = max(ends) if right is None else max(right, max(ends))
    if top is None:
        return None
    f = (right - left) / 552.0
    if abs((bottom - top) - 288 * f) > 3:
        return None
    gl, gt = left - 451 * f, top - 351 * f
    return (gl, gt, gl + size[0] * f, gt + size[1] * f, f)


def line_widths(shot, rect):
    """Widths of the black lines in rect: runs of black pixels no longer
    than 8 across rows (vertical lines) and, from the picture turned, down
    columns (horizontal lines); and the colours found in rect."""
    x0, y0, x1, y1 = rect
    crop = subprocess.run(['convert', '-size', '%dx%d' % (shot.width, shot.height), '-depth', '8', 'rgb:-',
                           '-crop', '%dx%d+%d+%d' % (x1 - x0, y1 - y0, x0, y0), '+repage', 'rgb:-'],
                          input=shot.raw, capture_output=True, timeout=60).stdout
    turned = subprocess.run(['convert', '-size', '%dx%d' % (x1 - x0, y1 - y0), '-depth', '8', 'rgb:-',
                             '-rotate', '90', 'rgb:-'], input=crop, capture_output=True, timeout=60).stdout
    black = re.compile(b'(?:\0\0\0)+')
    widths = {}
    for data, width, height in ((crop, x1 - x0, y1 - y0), (turned, y1 - y0, x1 - x0)):
        for y in range(height):
            row = data[y * width * 3:(y + 1) * width * 3]
            for m in black.finditer(row):
                if m.start() % 3:
                    continue
                n = (m.end() - m.start()) // 3
                if n <= 8:
                    widths[n] = widths.get(n, 0) + 1
    colours = set()
    out = subprocess.run(['convert', '-size', '%dx%d' % (x1 - x0, y1 - y0), '-depth', '8', 'rgb:-',
                          '-unique-colors', '-depth', '8', 'rgb:-'], input=crop, capture_output=True,
                         timeout=60).stdout
    for k in range(0, len(out) - 2, 3):
        colours.add(tuple(out[k:k + 3]))
    return widths, colours

