"""Playing as a person would: plans for the patio, drags, the board and the title screen."""

import re
import time

from common import CheckFailed
from screen import (BLACK, INSIDE, INSIDE_AREA, LAYOUTS, NOTICE_BLUE, PATIO, RED, STONE_RGB, WHITE, cost_box,
                    detect_layout, dirt_count, find_patio, ink_lines, inside, picture_dirt, results_areas,
                    stone_problem, title_box)


# --- A perfect job: a tiling of the patio and an order of drags ------------

def partner(i):
    return i + 8 if i < 4 else (i - 8 if i >= 8 else None)


def share_edge(a, b):
    if a[2] == b[0] or b[2] == a[0]:
        return min(a[3], b[3]) > max(a[1], b[1])
    if a[3] == b[1] or b[3] == a[1]:
        return min(a[2], b[2]) > max(a[0], b[0])
    return False


def same_colour_touch(tiling):
    return any(share_edge(tiling[i], tiling[i + 8]) for i in range(4))


def tilings(layout, limit, perfect=True):
    """Tilings of the patio's inside with the twelve stones (no turning), as
    patio-relative rectangles, filled top row first, left to right. Perfect
    ones have no two stones of one colour sharing a stretch of edge; the
    others have at least one such pair."""
    width, height = INSIDE[2] - INSIDE[0], INSIDE[3] - INSIDE[1]
    sizes = [(r[2] - r[0], r[3] - r[1]) for r in layout]
    placed, found = {}, []

    def fill(sky):
        if len(found) >= limit:
            return
        k = min(range(len(sky)), key=lambda s: (sky[s][2], sky[s][0]))
        x0, x1, h = sky[k]
        if h == height:
            if len(placed) == 12 and (perfect or same_colour_touch(placed)):
                found.append(dict(placed))
            return
        for i in range(12):
            w, hh = sizes[i]
            if i in placed or w > x1 - x0 or h + hh > height:
                continue
            r = (x0, h, x0 + w, h + hh)
            p = partner(i)
            if perfect and p is not None and p in placed and share_edge(r, placed[p]):
                continue
            placed[i] = r
            segs = sky[:k] + [(x0, x0 + w, h + hh)] + ([(x0 + w, x1, h)] if x0 + w < x1 else []) + sky[k + 1:]
            merged = []
            for s in segs:
                if merged and merged[-1][2] == s[2] and merged[-1][1] == s[0]:
                    merged[-1] = (merged[-1][0], s[1], s[2])
                else:
                    merged.append(s)
            fill(merged)
            del placed[i]

    fill([(0, width, 0)])
    return found


def overlap(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def hull(a, b):
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def area(r):
    return (r[2] - r[0]) * (r[3] - r[1])


def moved_to(r, x, y):
    return (x, y, x + r[2] - r[0], y + r[3] - r[1])


class Planner:
    """Routes for fork-lift moves on the board: straight legs along which the
    stone meets no other stone and stays within the game boundary."""

    def __init__(self, places, client_w, client_h, unit):
        self.pos = dict(places)
        # A stone may cover columns 1 to CR - 1 and rows 1 to CB - 2 units.
        self.bounds = (1, 1, client_w, client_h - 2 * unit + 1)

    def leg_free(self, i, a, b):
        box = hull(a, b)
        lo_x, lo_y, hi_x, hi_y = self.bounds
        if box[0] < lo_x or box[1] < lo_y or box[2] > hi_x or box[3] > hi_y:
            return False
        return not any(j != i and overlap(box, r) for j, r in self.pos.items())

    def route(self, i, dest):
        """Corner points (top left of the stone) from its place to dest."""
        s = self.pos[i]
        w, h = s[2] - s[0], s[3] - s[1]
        lo_x, lo_y, hi_x, hi_y = self.bounds
        others = [r for j, r in self.pos.items() if j != i]
        candidates = [[(dest[0], s[1]), (dest[0], dest[1])], [(s[0], dest[1]), (dest[0], dest[1])]]
        ys = {lo_y, hi_y - h} | {r[3] for r in others} | {r[1] - h for r in others}
        xs = {lo_x, hi_x - w} | {r[2] for r in others} | {r[0] - w for r in others}
        candidates += [[(s[0], y), (dest[0], y), (dest[0], dest[1])] for y in sorted(ys, key=lambda y: abs(y - s[1]))]
        candidates += [[(x, s[1]), (x, dest[1]), (dest[0], dest[1])] for x in sorted(xs, key=lambda x: abs(x - s[0]))]
        for corners in candidates:
            cur, ok = s, True
            for x, y in corners:
                nxt = moved_to(s, x, y)
                if not self.leg_free(i, cur, nxt):
                    ok = False
                    break
                cur = nxt
            if ok:
                path = [(s[0], s[1])]
                for p in corners:
                    if p != path[-1]:
                        path.append(p)
                return path
        return None

    def order(self, targets, budget=20000):
        """An order of single drags that takes every stone to its target."""
        done = []
        left = [budget]

        def place(remaining):
            if not remaining:
                return True
            left[0] -= 1
            if left[0] < 0:
                return False
            # Far corner of the patio first, so later stones find the way open.
            for i in sorted(remaining, key=lambda i: -(targets[i][3] + targets[i][2])):
                path = self.route(i, targets[i])
                if path is None:
                    continue
                old = self.pos[i]
                self.pos[i] = targets[i]
                done.append((i, path))
                if place(remaining - {i}):
                    return True
                self.pos[i] = old
                done.pop()
            return False

        start = dict(self.pos)
        ok = place(set(targets))
        self.pos = start
        return done if ok else None


def covering_plan(layout, client_w, client_h, unit, perfect=True):
    """Targets on the patio and an order of drags that takes the stones there."""
    for tiling in tilings(layout, 200, perfect):
        targets = {i: (INSIDE[0] + r[0], INSIDE[1] + r[1], INSIDE[0] + r[2], INSIDE[1] + r[3])
                   for i, r in tiling.items()}
        order = Planner(enumerate(layout), client_w, client_h, unit).order(targets)
        if order:
            return targets, order
    return None, None


def drag_stone(desk, origin, rect, path, colour=None):
    """Drags a stone along path (its top-left corners), holding it at its
    middle. With its colour given, waits at every corner until the stone is
    drawn there, so that the game takes each leg on its own and never sees two
    legs merged into one slanting pointer movement."""
    ox, oy = origin
    gx, gy = (rect[2] - rect[0]) // 2 + ox, (rect[3] - rect[1]) // 2 + oy
    points = [(x + gx, y + gy) for x, y in path]
    desk.press(*points[0])
    try:
        for k in range(1, len(points)):
            desk.move(points[k - 1], points[k])
            if colour is not None:
                at = moved_to(rect, *path[k])
                desk.wait_for(lambda: stone_problem(desk.shot(), origin, at, colour, ring=False) is None,
                              'the dragged stone at %s' % (at,),
                              describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, at, colour,
                                                                         ring=False) or ''))
    finally:
        desk.release()


# --- The title screen and the board ------------------------------------------

def wait_for_title(desk, what='', full=False):
    """Watches the screen until the title screen shows, the same on two
    screenshots in a row, and returns its box; fails at once on a red notice,
    before the title screen or on it, and when the game ends. With full, at
    the screen's size rather than the game's."""
    what = 'the pale yellow title screen' + (' ' + what if what else '')
    seen = [None]

    def title():
        shot = desk.shot(full=full)
        if desk.game.poll() is not None:
            raise CheckFailed('the game ended (status %d) while waiting for %s' % (desk.game.returncode, what))
        if shot.shares((0, 0, shot.width, shot.height), step=8).get('red', 0) > 0.02:
            raise CheckFailed('a red notice showed while waiting for %s: %s' % (what, shot.describe()))
        box, seen[0] = seen[0], title_box(shot)
        return box is not None and box == seen[0] and box
    return desk.wait_for(title, what, timeout=25, describe=lambda: desk.last_shot.describe())


def start_board(desk):
    """Space on the title screen; returns the client origin on the screen,
    the layout number and the game's screen (width, height, vertical unit)."""
    desk.key('space')
    shot = desk.wait_for(lambda: find_patio(desk.shot()) and desk.last_shot,
                         'the board after space', describe=lambda: desk.last_shot.describe())
    origin = find_patio(shot)
    size = cost_box(shot, origin, window_bottom(desk))
    if size is None:
        raise CheckFailed('the board shows no running-cost box (7 by 2 units of black) in its '
                          'bottom right corner; ' + shot.describe())
    # The prompt line, 2 units high, is written over what lies at the bottom.
    layout, problem = detect_layout(shot, origin, origin[1] + size[1] - 2 * size[2])
    if problem:
        raise CheckFailed(problem)
    return origin, layout, size


def window_bottom(desk):
    """The screen row below the game window, at the game's scale; None when
    the window is not known."""
    if not getattr(desk, 'main_window', None):
        return None
    x, y, w, h = desk.window_geometry(desk.main_window)
    return int((y + h) // desk.scale)


def share_of(desk, name, shot=None):
    """Fraction of the screen in one colour class, from a new screenshot."""
    shot = shot or desk.shot()
    return shot.shares((0, 0, desk.width, desk.height)).get(name, 0)


def free_way(layout, size, targets, where):
    """The first (stone, place) of targets that has a free way there, as
    (stone, place, path)."""
    planner = Planner(enumerate(LAYOUTS[layout]), *size)
    for i, dest in targets:
        path = planner.route(i, dest)
        if path:
            return i, dest, path
    raise CheckFailed('no stone of layout %d has a free way %s' % (layout + 1, where))


def drag_onto_patio(desk, origin, layout, size):
    """Drags the largest stone with a free way onto the patio, 20 pixels in
    from its top left corner with 40 pixels of dirt left on its right; its
    old place is white after it and the dirt it covers is gone. Returns the
    dirt left, the stone and where it lies."""
    places = LAYOUTS[layout]
    dest = (INSIDE[0] + 20, INSIDE[1] + 20)
    fits = [i for i, r in enumerate(places) if dest[0] + r[2] - r[0] + 40 <= INSIDE[2] and
            dest[1] + r[3] - r[1] <= INSIDE[3]]
    i, dest, path = free_way(layout, size, [(i, dest) for i in sorted(fits, key=lambda i: -area(places[i]))],
                             'onto the patio')
    rect = places[i]
    drag_stone(desk, origin, rect, path, STONE_RGB[i])
    new = moved_to(rect, *dest)
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, new, STONE_RGB[i]) is None,
                  'stone %d dragged to %s' % (i, new),
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, new, STONE_RGB[i]) or ''))
    ox, oy = origin
    if not desk.last_shot.is_filled((rect[0] + ox, rect[1] + oy, rect[2] + ox, rect[3] + oy), WHITE):
        raise CheckFailed('after the drag the stone\'s old place %s is not all white' % (rect,))
    n = dirt_count(desk.last_shot, origin)
    if n != INSIDE_AREA - area(rect):
        raise CheckFailed('after dragging a stone of %d pixels onto the patio, expected %d dirt pixels, saw %d'
                          % (area(rect), INSIDE_AREA - area(rect), n))
    return n, i, new


def frame_extents(desk, wid):
    """The window manager's frame around a window: left, right, top, bottom."""
    out = desk.run(['xprop', '-id', wid, '_NET_FRAME_EXTENTS'], check=False)
    found = re.findall(r'\d+', out.split('=', 1)[1]) if '=' in out else []
    return tuple(int(v) for v in found) if len(found) == 4 else (0, 0, 0, 0)


def wait_until_steady(desk, read, what, steady=0.5):
    """Waits until read() goes on giving the same value for steady seconds:
    a window manager's moves are over. Returns that value."""
    last = [read(), time.monotonic()]

    def steady_now():
        now = read()
        if now != last[0]:
            last[:] = [now, time.monotonic()]
            return False
        return time.monotonic() - last[1] >= steady
    desk.wait_for(steady_now, what, describe=lambda: 'it is still changing, now %s' % (last[0],))
    return last[0]


def run_into_neighbour(desk, origin, layout, size):
    """Drags a stone right into its neighbour (the thump): one whose way up is
    clear once it stopped. Returns the stone and where it stopped."""
    places = LAYOUTS[layout]

    def gap(i, j):
        a, b = places[i], places[j]
        return b[0] - a[2] if b[0] >= a[2] and b[1] < a[3] and b[3] > a[1] else None

    def way_up_clear(i, g):
        planner = Planner(enumerate(places), *size)
        stopped = moved_to(places[i], places[i][0] + g, places[i][1])
        planner.pos[i] = stopped
        return planner.leg_free(i, stopped, moved_to(stopped, stopped[0], 1))
    pairs = [(gap(i, j), i) for i in range(12) for j in range(12) if i != j and gap(i, j) is not None]
    nearest = {}
    for g, i in sorted(pairs):
        nearest.setdefault(i, g)
    fits = [(g, i) for i, g in nearest.items() if way_up_clear(i, g)]
    if not fits:
        raise CheckFailed('no stone of layout %d can be run into a neighbour and then up' % (layout + 1))
    gap, i = min(fits)
    r = places[i]
    drag_stone(desk, origin, r, [(r[0], r[1]), (r[0] + gap + 20, r[1])])
    stopped = moved_to(r, r[0] + gap, r[1])
    problem = stone_problem(desk.shot(), origin, stopped, STONE_RGB[i], ring=False)
    if problem:
        raise CheckFailed('the stone dragged into its neighbour did not stop against it: ' + problem)
    return i, stopped


def end_scores(desk, origin, size, dirt, lines, stone=None, at=None):
    """End shows the results: the patio picture with that much dirt (and
    the stone where it lies, at), and that many lines of results."""
    desk.key('End')
    picture, text = results_areas(origin, size)
    dx, dy = picture[0] - origin[0] - PATIO[0], picture[1] - origin[1] - PATIO[1]

    def results():
        s = desk.shot()
        return (s.is_filled((picture[0], picture[1], picture[2], picture[1] + 1), BLACK) and
                (stone is None or stone_problem(s, origin, (at[0] + dx, at[1] + dy, at[2] + dx, at[3] + dy),
                                                STONE_RGB[stone], ring=False) is None) and
                picture_dirt(s, picture) == dirt and ink_lines(s, text) == lines)
    desk.wait_for(results, 'the results screen after End: the patio picture %s%d dirt pixels, and %d lines of '
                  'results' % ('with the stone on it, ' if stone is not None else 'with ', dirt, lines),
                  describe=lambda: '%s; %d dirt pixels, %d lines' % (
                      desk.last_shot.describe(), picture_dirt(desk.last_shot, picture),
                      ink_lines(desk.last_shot, text)))


def expect_maximised(desk):
    state = desk.run(['xprop', '-id', desk.main_window, '_NET_WM_STATE'])
    if 'MAXIMIZED_VERT' not in state or 'MAXIMIZED_HORZ' not in state:
        raise CheckFailed('expected the game window maximised, %s reports: %s' % (desk.wm_name, state.strip()))


def wait_for_notice(desk, what, full=False, within=None):
    """Waits for the red notice with its blue text (whole inside the screen
    area within, where that is given), then presses space, which does
    nothing after a notice: the game goes on showing it. Returns its box."""
    def notice():
        shot = desk.shot(full=full)
        box = title_box(shot, RED)
        return box and shot.count(NOTICE_BLUE, box) > 500 and (within is None or inside(box, within)) and box
    box = desk.wait_for(notice, what + ' with its blue text', describe=lambda: desk.last_shot.describe())
    desk.key('space')
    time.sleep(0.7)
    if desk.game.poll() is not None or title_box(desk.shot(full=full), RED) != box:
        raise CheckFailed('space should do nothing after a notice, but then the player ' +
                          desk.last_shot.describe())
    return box
