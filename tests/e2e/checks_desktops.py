"""Players' desktops, screen changes and scales, sway and kwin."""

import os
import re
import time

from common import CheckFailed
from compositors import KwinDesktop, SwayDesktop
from play import Planner, drag_one, drag_onto_patio, drag_stone, moved_to, share_of, start_board, stop_game_of, wait_first_title, wait_for_first_title, wait_until_steady
from screen import BLACK, BOARD_COLOURS, GAME_COLOURS, INSIDE, INSIDE_AREA, LAYOUTS, NOTICE_BLUE, PATIO, RED, STONE_RGB, Shot, cost_box, detect_layout, dirt_box, dirt_count, expected_game_width, find_patio, ink_lines, inside, line_widths, pale_rect, picture_dirt, results_areas, scaled_board, stone_problem, title_box, unit_for, with_vertical_unit


def screen_problem(desk, rect, what='the title screen'):
    """None when a game screen at rect (screen pixels) has a size the game
    chooses and lies whole in the work area; else what is wrong."""
    w, h = rect[2] - rect[0], rect[3] - rect[1]
    area = desk.work_area()
    if not 1020 <= w <= 1600:
        return '%s is %d pixels wide, not 1020 to 1600' % (what, w)
    if area[2] - area[0] >= 1620 and w != 1600:
        return 'on a %d-pixel-wide work area %s is %d pixels wide, not 1600' % (area[2] - area[0], what, w)
    need = 638 + 2 * unit_for(w, h)
    if not need <= h <= 1200:
        return '%s is %d rows tall: a game needs %d' % (what, h, need)
    if not inside(rect, area):
        where = ''
        if getattr(desk, 'main_window', None):
            where = ' (the window\'s client area is at %d, %d, %dx%d)' % desk.window_geometry(desk.main_window)
        return '%s at %s is not whole inside the work area %s%s' % (what, rect, area, where)
    return None


def board_shown(desk, size, origin=None):
    """None when the board of a game screen of size (w, h, unit) is on the
    screen whole, pixel for pixel at origin (or anywhere without origin) or
    scaled down to fit; else what the player sees."""
    shot = desk.shot()
    area = desk.work_area()
    w, h, unit = size
    at = find_patio(shot)
    if at is not None:
        got = cost_box(shot, at, area[3])
        if origin is not None and at != origin:
            return 'the board is at %s, not at %s' % (at, origin)
        if got != size:
            return 'the board at %s shows a game screen of %s, not %s' % (at, got, size)
        if not inside((at[0], at[1], at[0] + w, at[1] + h), area):
            return 'the board at %s is not whole inside the work area %s' % (at, area)
        return None
    if origin is not None:
        return 'the board is not shown pixel for pixel at %s: %s' % (origin, shot.describe())
    box = dirt_box(shot)
    if box is None:
        return 'no board is shown: ' + shot.describe()
    sx, sy = (box[2] - box[0]) / 552.0, (box[3] - box[1]) / 288.0
    if abs(sx - sy) > 0.03 or sx > 1.0:
        return 'the patio is shown %dx%d, not 552x288 scaled down evenly' % (box[2] - box[0], box[3] - box[1])
    left, top = box[0] - 451 * sx, box[1] - 351 * sx
    rect = (left, top, left + w * sx, top + h * sx)
    if not inside(rect, area, slack=2):
        return 'the board scaled by %.2f lies at %s, not whole inside the work area %s' % (
            sx, tuple(round(v) for v in rect), area)
    # The running-cost box, in the bottom right corner, is shown dark.
    cx, cy = int(rect[2] - 3.5 * unit * sx), int(rect[3] - 0.8 * unit * sx)
    if not (0 <= cx < shot.width and 0 <= cy < shot.height) or sum(shot.px(cx, cy)) > 200:
        return 'the board scaled by %.2f shows no cost box at its bottom right (%d, %d)' % (sx, cx, cy)
    return None


def window_note(desk):
    """Where the game window is and what state its window manager gives it
    (X windows only), for a failure's report."""
    if not getattr(desk, 'main_window', None):
        return ''
    state = desk.run(['xprop', '-id', desk.main_window, '_NET_WM_STATE'], check=False).split('=', 1)[-1]
    return '; the game window\'s client area is at %d, %d, %dx%d, its state: %s' % (
        desk.window_geometry(desk.main_window) + (state.strip().replace('_NET_WM_STATE_', '') or 'none',))


def check_players_desktop(desk, args):
    """The game under a player's desktop: the first title screen whole in
    the work area and never a notice; the board after space; a drag; the
    window actions leave the game screen as it was, shown whole all along;
    the game goes on; End scores."""
    desk.start_game()
    title = wait_for_first_title(desk)
    problem = screen_problem(desk, title)
    if problem:
        raise CheckFailed(problem)
    desk.focus_game(title)
    origin, layout, size = start_board(desk)
    if (origin, size[:2]) != (title[:2], (title[2] - title[0], title[3] - title[1])):
        raise CheckFailed('the board shows a game screen of %dx%d at %s, the title screen was %s' % (
            size[0], size[1], origin, title))
    print('the board: layout %d, a game screen of %dx%d (unit %d) at %s' % ((layout + 1,) + size + (origin,)))
    i, at = drag_one(desk, origin, layout, size)
    for what, argv, expect in desk.window_actions():
        desk.act(argv)
        if expect == 'same':
            desk.wait_for(lambda: board_shown(desk, size, origin) is None,
                          'the board back as it was at %s after %s' % (origin, what),
                          describe=lambda: board_shown(desk, size, origin) + window_note(desk))
        elif expect == 'moved':
            def moved():
                problem = board_shown(desk, size)
                return problem is None and find_patio(desk.last_shot) != origin
            desk.wait_for(moved, 'the board shown whole in its new place after %s' % what,
                          describe=lambda: (board_shown(desk, size) or 'it is still at %s' % (origin,)) +
                          window_note(desk))
        else:
            # Shown whole, or not at all (another workspace, a window being placed).
            def whole_or_gone():
                problem = board_shown(desk, size)
                return problem is None or problem.startswith('no board')
            desk.wait_for(whole_or_gone, 'the board shown whole, or not at all, after %s' % what,
                          describe=lambda: board_shown(desk, size) + window_note(desk))
        if desk.game.poll() is not None:
            raise CheckFailed('the game ended after %s' % what)
        if stone_problem(desk.last_shot, origin, at, STONE_RGB[i]) and expect == 'same':
            raise CheckFailed('after %s the dragged stone is no longer at %s' % (what, at))
        where = ''
        if desk.main_window:
            where = ' (the window at %d, %d, %dx%d)' % desk.window_geometry(desk.main_window)
        print('after %s: the board shown whole%s' % (what, where))
    # The game goes on: the stone dragged last moves by hand.
    desk.key(*(['Right'] * 5))
    right = moved_to(at, at[0] + 5, at[1])
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, right, STONE_RGB[i]) is None,
                  'stone %d 5 pixels further right after five presses of Right' % i,
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, right, STONE_RGB[i]) or ''))
    desk.key('End')
    # The results are laid out by the vertical unit; the cost box gives the
    # horizontal one, which differs from it on screens 1276 to 1595 wide.
    picture, text = results_areas(origin, size[:2] + (unit_for(*size[:2]),))
    w, h = at[2] - at[0], at[3] - at[1]

    def scored():
        s = desk.shot()
        return s.is_filled((picture[0], picture[1], picture[2], picture[1] + 1), BLACK) and \
            picture_dirt(s, picture) == INSIDE_AREA - w * h and ink_lines(s, text) == 6
    desk.wait_for(scored, 'the results screen: the patio picture with the stone on it, 6 lines of results',
                  describe=lambda: '%s: %d dirt pixels in the picture at %s (expected %d), %d lines of results' % (
                      desk.last_shot.describe(), picture_dirt(desk.last_shot, picture), picture,
                      INSIDE_AREA - w * h, ink_lines(desk.last_shot, text)))
    print('under %s at %dx%d: a game screen of %dx%d at %s kept through %d window actions' % (
        desk.wm_name, desk.width, desk.height, size[0], size[1], origin, len(desk.window_actions())))


def check_resolution_change(desk, args):
    """xrandr takes a 1920x1080 screen to 1366x768: the game, on its title
    screen before any key and then during play, shows the red change notice
    in its maximised frame, whole on the new screen, and takes no more input."""
    out = desk.run(['xrandr'])
    output = re.search(r'^(\S+) connected', out, re.M).group(1)
    small = (1366, 768)
    desk.run(['xrandr', '--newmode', '%dx%d' % small, '0', str(small[0]), '0', '0', '0',
              str(small[1]), '0', '0', '0'])
    desk.run(['xrandr', '--addmode', output, '%dx%d' % small])
    big = (desk.width, desk.height)

    def mode(size):
        desk.run(['xrandr', '--output', output, '--mode', '%dx%d' % size])
        desk.screen_width, desk.screen_height = desk.width, desk.height = size
    for when in ('on the title screen before any key', 'during play'):
        mode(big)
        desk.start_game()
        title = wait_for_first_title(desk)
        if when == 'during play':
            start_board(desk)
        mode(small)

        def notice():
            shot = desk.shot(full=True)
            rect = pale_rect(shot, RED)
            return rect and rect[2] <= small[0] and rect[3] <= small[1] and \
                shot.count(NOTICE_BLUE, rect) > 500 and rect
        rect = desk.wait_for(notice, 'the red change notice with its blue text, whole on the %dx%d screen, '
                             'after the change %s' % (small + (when,)),
                             describe=lambda: desk.last_shot.describe((0, 0) + small))
        state = desk.run(['xprop', '-id', desk.main_window, '_NET_WM_STATE'])
        if 'MAXIMIZED_VERT' not in state or 'MAXIMIZED_HORZ' not in state:
            raise CheckFailed('after the change the game window is not maximised: ' + state.strip())
        if not inside(rect, (0, 0) + small):
            raise CheckFailed('the change notice at %s is not whole on the %dx%d screen' % ((rect,) + small))
        desk.key('space')
        time.sleep(0.7)
        if pale_rect(desk.shot(full=True), RED) != rect:
            raise CheckFailed('space after the change notice should do nothing, but then the player '
                              + desk.last_shot.describe((0, 0) + small))
        print('%s: the change notice at %s (the title screen was at %s)' % (when, rect, title))
        stop_game_of(desk)


def check_scaled(k):
    """The game at a desktop scale (QT_SCALE_FACTOR) on X: the title screen
    and the board drawn with every game pixel a k x k block of device
    pixels: the board holds only the game's colours, every black line is
    exactly k device pixels wide, and play works."""
    def check(desk, args):
        desk.start_game()
        shot = desk.wait_for(lambda: pale_rect(desk.shot(full=True)) and desk.last_shot,
                             'the pale yellow title screen', describe=lambda: desk.last_shot.describe())
        rect = pale_rect(shot)
        if shot.shares((0, 0, shot.width, shot.height)).get('red', 0) > 0.01:
            raise CheckFailed('expected the title screen and no notice: ' + shot.describe())
        dw, dh = rect[2] - rect[0], rect[3] - rect[1]
        if dw % k or dh % k:
            raise CheckFailed('the title screen is %dx%d device pixels, not a whole number of %dx%d blocks'
                              % (dw, dh, k, k))
        w, h = dw // k, dh // k
        area = (0, 0, desk.screen_width, desk.screen_height)
        if not 1020 <= w <= 1600 or h < 638 + 2 * unit_for(w, h) or not inside(rect, area):
            raise CheckFailed('the title screen is a game screen of %dx%d at k = %d, at %s on the %dx%d screen'
                              % (w, h, k, rect, desk.screen_width, desk.screen_height))
        desk.key('space')
        desk.wait_for(lambda: dirt_box(desk.shot(full=True)), 'the board after space',
                      describe=lambda: desk.last_shot.describe())
        time.sleep(0.5)
        shot = desk.shot(full=True)
        # One device pixel of each block, from the title screen's corner.
        px0, py0 = rect[0], rect[1]
        cols = range(px0 % k, shot.width, k)
        rows = range(py0 % k, shot.height, k)
        sampled = b''.join(b''.join(shot.raw[(y * shot.width + x) * 3:(y * shot.width + x) * 3 + 3] for x in cols)
                           for y in rows)
        small = Shot(sampled, len(cols), len(rows))
        origin = find_patio(small)
        if origin is None:
            raise CheckFailed('no patio drawn in %dx%d blocks: %s' % (k, k, shot.describe()))
        size = cost_box(small, origin)
        if size is None or size[:2] != (w, h):
            raise CheckFailed('the board shows a game screen of %s, the title screen was %dx%d' % (size, w, h))
        layout, problem = detect_layout(small, origin, origin[1] + h - 2 * size[2])
        if problem:
            raise CheckFailed(problem)
        # The board above the prompt line, in device pixels.
        x0, y0 = px0 % k + origin[0] * k, py0 % k + origin[1] * k
        x1, y1 = x0 + w * k, y0 + (h - 2 * size[2]) * k
        colours, blocks = set(), 0
        for y in range(y0, y1):
            row = shot.row(y, x0, x1)
            colours.update(row[i:i + 3] for i in range(0, len(row), 3))
            if k > 1:
                base = shot.row(y0 + (y - y0) // k * k, x0, x1)
                if row != base or any(row[i:i + 3] != row[i + 3 * j:i + 3 * j + 3]
                                      for i in range(0, len(row), 3 * k) for j in range(1, k)):
                    blocks += 1
        if blocks:
            raise CheckFailed('%d device rows of the board are not made of whole %dx%d blocks' % (blocks, k, k))
        strange = colours - GAME_COLOURS
        if strange:
            raise CheckFailed('the board shows %d colours that are not the game\'s, such as %s' % (
                len(strange), ', '.join(str(tuple(c)) for c in sorted(strange)[:5])))
        # Black lines: runs across them are exactly k device pixels long.
        black = re.compile(b'(?:\x00\x00\x00)+')
        widths = {}

        def tally(data):
            for m in black.finditer(data):
                if m.start() % 3 == 0:
                    n = (m.end() - m.start()) // 3
                    if n < 10 * k:
                        widths[n] = widths.get(n, 0) + 1
        for y in range(y0, y1):
            tally(shot.row(y, x0, x1))
        for x in range(x0, x1):
            tally(b''.join(shot.raw[(y * shot.width + x) * 3:(y * shot.width + x) * 3 + 3] for y in range(y0, y1)))
        if set(widths) != {k}:
            raise CheckFailed('black lines across the board are %s device pixels wide, not all %d' % (
                ', '.join('%d (%d times)' % kv for kv in sorted(widths.items())), k))
        print('a %dx%d game screen at k = %d: %d colours on the board, %d line crossings all %d wide' % (
            w, h, k, len(colours), widths[k], k))
    return check


def board_problem(desk, origin, size, dirt, back=False):
    """None when the board of the game screen (origin, size) shows whole:
    at its own size (centred in the window's area, so where it was once the
    window is back as it was, with back), with as much dirt, or scaled down
    to fit with its aspect kept, its bottom right corner (the cost box) on
    the screen; else what is wrong."""
    shot = desk.shot()
    if desk.game.poll() is not None:
        raise CheckFailed('the game ended (status %d)' % desk.game.returncode)
    now = find_patio(shot)
    if now is not None:
        if back and now != origin:
            return 'the board is at %s, not where it was at first, %s' % (now, origin)
        if now[0] + size[0] > shot.width or now[1] + size[1] > shot.height:
            return ('the %dx%d game screen at %s runs off the %dx%d screen: its last %d rows and %d columns '
                    'are not shown' % (size[0], size[1], now, shot.width, shot.height,
                                       max(0, now[1] + size[1] - shot.height), max(0, now[0] + size[0] - shot.width)))
        box = cost_box(shot, now)
        if box is None or box[:2] != size[:2]:
            return 'the game screen is %s now (client right, bottom, unit), it was %s' % (box, size)
        if dirt_count(shot, now) != dirt:
            return 'the patio shows %d dirt pixels, it showed %d' % (dirt_count(shot, now), dirt)
        return None
    if back:
        return 'the board is not where it was at first, %s, at its own size: %s' % (origin, shot.describe())
    scaled = scaled_board(shot, size)
    if scaled is None:
        return 'there is no board on the screen: ' + shot.describe()
    l, t, r, b, f = scaled
    if f > 1.0:
        return 'the board is shown scaled up by %.3f' % f
    # The smoothed edges of the dirt make the measure a few pixels short.
    if l < -8 or t < -8 or r > shot.width + 8 or b > shot.height + 8:
        return 'the board, scaled by %.3f, lies at (%d, %d)-(%d, %d), beyond the screen' % (f, l, t, r, b)
    # The cost box, black, ends in the game screen's bottom right corner.
    unit = size[2]
    x, y = int(r - 3 * unit * f), int(b - 0.3 * unit * f)
    dark = min(sum(shot.px(min(shot.width - 1, xx), min(shot.height - 1, yy)))
               for xx in range(x - 2, x + 3) for yy in range(y - 1, y + 2))
    if dark > 240:
        return 'the board is scaled by %.3f, but its cost box is not at (%d, %d)' % (f, x, y)
    return None


def wait_board_whole(desk, origin, size, dirt, what, back):
    desk.wait_for(lambda: board_problem(desk, origin, size, dirt, back) is None,
                  'the same game screen and board shown whole %s%s' % (what, ', where it was' if back else ''),
                  describe=lambda: board_problem(desk, origin, size, dirt, back))
    now = find_patio(desk.last_shot)
    print('  %s: %s' % (what, 'the board where it was' if now == origin else
                        'the board at its size at %s' % (now,) if now else 'the whole game screen, scaled down'))


def drag_scaled(desk, scaled, rect, dx):
    """Drags the stone at rect (game pixels) dx game pixels to the right on
    the game screen shown scaled down at scaled (left, top, right, bottom,
    factor); returns dx."""
    l, t, r, b, f = scaled
    x0 = int(round(l + f * (rect[0] + rect[2]) / 2))
    y0 = int(round(t + f * (rect[1] + rect[3]) / 2))
    x1 = int(round(x0 + f * dx))
    desk.press(x0, y0)
    try:
        desk.move((x0, y0), (x1, y0), step=3)
    finally:
        desk.release()
    print('  dragged the stone %d game pixels right on the game screen scaled by %.3f' % (dx, f))
    return dx


def stone_moved_right(desk, origin, rect, stone, dx):
    """Where the stone at rect lies after a drag of about dx pixels to the
    right on the scaled-down game screen (the scale rounds by a pixel or two)."""
    for d in sorted(range(dx - 4, dx + 5), key=lambda d: abs(d - dx)):
        at = moved_to(rect, rect[0] + d, rect[1])
        if stone_problem(desk.last_shot, origin, at, STONE_RGB[stone]) is None:
            print('  the stone lies %d pixels right of where it was' % d)
            return at
    raise CheckFailed('after a drag of %d pixels to the right on the scaled-down game screen, stone %d is not '
                      'within 4 pixels of %s' % (dx, stone, moved_to(rect, rect[0] + dx, rect[1])))


def end_scores(desk, origin, size, stone, at, dirt):
    """End shows the results: the patio picture with the stone where it lies
    and the six lines of a job that leaves dirt."""
    desk.key('End')
    picture, text = results_areas(origin, size)
    dx, dy = picture[0] - origin[0] - PATIO[0], picture[1] - origin[1] - PATIO[1]
    where = (at[0] + dx, at[1] + dy, at[2] + dx, at[3] + dy)

    def results():
        s = desk.shot()
        return (s.is_filled((picture[0], picture[1], picture[2], picture[1] + 1), BLACK) and
                stone_problem(s, origin, where, STONE_RGB[stone], ring=False) is None and
                picture_dirt(s, picture) == dirt and ink_lines(s, text) == 6)
    desk.wait_for(results, 'the results screen after End: the patio picture with the stone on it, %d dirt '
                  'pixels and 6 lines of results' % dirt,
                  describe=lambda: '%s; %d dirt pixels, %d lines' % (
                      desk.last_shot.describe(), picture_dirt(desk.last_shot, picture),
                      ink_lines(desk.last_shot, text)))


def play_and_keep(desk, route, client_width):
    """The whole round on one desktop: the title screen at the first paint,
    whole and as wide as the shell's rule gives for the client area; the
    board after space, the same game screen; a drag; the compositor's window
    actions, after each of which the same game screen and board show whole
    (where it was once the window is back as it was), with a drag on the
    first scaled-down game screen that lands where it points; End scores."""
    t0 = time.monotonic()
    box = wait_first_title(desk, route + ':')
    print('%s: the title screen %.1f s after the start' % (route, time.monotonic() - t0))
    problem = desk.frame_problem()
    if problem:
        raise CheckFailed('%s: %s' % (route, problem))
    width = box[2] - box[0]
    want = expected_game_width(client_width(), 1)
    if width != want:
        raise CheckFailed('%s: the title screen is %d pixels wide; for a client area %d wide the game screen '
                          'is %d wide' % (route, width, client_width(), want))
    origin, layout, size = start_board(desk)
    size = with_vertical_unit(size)
    if (origin[0], origin[1], origin[0] + size[0], origin[1] + size[1]) != box:
        raise CheckFailed('%s: the board\'s game screen %dx%d at %s is not the title screen\'s %s'
                          % (route, size[0], size[1], origin, box))
    if size[1] - 2 * size[2] < 638:
        raise CheckFailed('%s: the game screen is %d rows tall, a game needs %d' % (route, size[1],
                                                                                   638 + 2 * size[2]))
    dirt, stone, at = drag_onto_patio(desk, origin, layout, size)
    moved = None
    for what, do, back in desk.window_actions():
        do()
        wait_board_whole(desk, origin, size, dirt, 'after %s' % what, back)
        scaled = find_patio(desk.last_shot) is None and scaled_board(desk.last_shot, size)
        if moved is None and scaled:
            # The mouse lands where it points on the game screen scaled down,
            # once the compositor has done resizing the window.
            scaled = wait_until_steady(desk, lambda: scaled_board(desk.shot(), size),
                                       'the scaled-down game screen to stay where it is')
            moved = drag_scaled(desk, scaled, at, 30) if scaled else None
        elif moved is not None and back and find_patio(desk.last_shot) == origin and moved is not True:
            at = stone_moved_right(desk, origin, at, stone, moved)
            moved = True
    end_scores(desk, origin, size, stone, at, dirt)
    print('%s: a %dx%d game screen at %s kept through the window actions; End scored' % (
        route, size[0], size[1], origin))


def check_compositor_round(desk, args):
    """The round natively and through XWayland; a route that fails leaves
    its screenshot, and the other is still played."""
    failed = []
    for platform, route, name in ((None, 'natively', 'native'), ('xcb', 'through XWayland', 'xwayland')):
        t0 = time.monotonic()
        desk.start_game(platform=platform)
        try:
            play_and_keep(desk, '%s %s' % (desk.NAME, route), desk.client_width)
        except CheckFailed as e:
            failed.append(str(e))
            print('FAIL %s' % e)
            if args.artifacts:
                path = desk.save_last_shot(os.path.join(args.artifacts, '%s-%s-failure.png' % (args.check, name)))
                print('  the screenshot is in %s' % path)
        desk.stop_game()
        print('%s %s: %.1f s' % (desk.NAME, route, time.monotonic() - t0))
    if failed:
        raise CheckFailed('; '.join(failed))


def check_last_patio_row(desk, args):
    """On a 720-row screen the game screen is tall enough for a game to be
    won: a stone dragged down onto the patio stops with its last row on the
    patio's last row, 638, and the results picture shows it there."""
    desk.start_game()
    desk.wait_for(lambda: share_of(desk, 'pale yellow') > 0.4 and share_of(desk, 'red', desk.last_shot) == 0,
                  'the title screen without a notice', describe=lambda: desk.last_shot.describe())
    # Full screen shows the game screen at its own size (in the tiled window
    # it is scaled down to fit).
    desk.on_game('fullscreen enable')
    box = desk.wait_for(lambda: title_box(desk.shot()), 'the title screen in full screen',
                        describe=lambda: desk.last_shot.describe())
    origin, layout, size = start_board(desk)
    size = with_vertical_unit(size)
    w, h, unit = size
    if h - 2 * unit < 638:
        raise CheckFailed('the game screen is %dx%d: its lowest row for a stone, %d, lies above the patio\'s last '
                          'row 638' % (w, h, h - 2 * unit))
    places = LAYOUTS[layout]
    planner = Planner(enumerate(places), *size)
    for i in sorted(range(12), key=lambda k: -(places[k][2] - places[k][0])):
        rect = places[i]
        dest = (INSIDE[0] + 10, INSIDE[3] - (rect[3] - rect[1]))
        if dest[0] + rect[2] - rect[0] > INSIDE[2]:
            continue
        path = planner.route(i, dest)
        if path:
            break
    else:
        raise CheckFailed('no stone of layout %d has a free way to the bottom of the patio' % (layout + 1))
    # The drag goes on past the lowest row; the stone stops there.
    drag_stone(desk, origin, rect, path + [(dest[0], dest[1] + 12)])
    at = moved_to(rect, *dest)
    prompt = origin[1] + h - 2 * unit
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, at, STONE_RGB[i], ring=False, bottom=prompt) is None,
                  'stone %d at %s, its last row on the patio\'s last row' % (i, at),
                  describe=lambda: stone_problem(desk.last_shot, origin, at, STONE_RGB[i], ring=False, bottom=prompt))
    dirt = INSIDE_AREA - (rect[2] - rect[0]) * (rect[3] - rect[1])
    end_scores(desk, origin, size, i, at, dirt)
    print('a %dx%d game screen on the %dx%d screen: stone %d laid with its last row on row 638'
          % (w, h, desk.width, desk.height, i))


def wait_change_notice(desk, what):
    desk.wait_for(lambda: share_of(desk, 'red') > 0.3 and
                  desk.last_shot.count(NOTICE_BLUE, (0, 0, desk.width, desk.height)) > 500,
                  'the red change notice with its blue text %s' % what, describe=lambda: desk.last_shot.describe())
    desk.key('space')
    desk.wait_for(lambda: desk.game.poll() is None and share_of(desk, 'red') > 0.3,
                  'the notice to stay after space %s' % what, describe=lambda: desk.last_shot.describe())


def check_output_resolution_change(desk, args):
    """The compositor's own output command changes the resolution of a
    screen wider than the game's 1604: the change notice, natively on the
    title screen before any key, through XWayland on the board."""
    size = '%dx%d' % (desk.width, desk.height)
    for platform, route in ((None, 'natively, on the title screen'), ('xcb', 'through XWayland, on the board')):
        desk.swaymsg('output HEADLESS-1 resolution %s' % size)
        desk.start_game(platform=platform)
        wait_first_title(desk, route)
        if platform:
            start_board(desk)
        desk.swaymsg('output HEADLESS-1 resolution 1366x768')
        wait_change_notice(desk, route)
        print('%s: the change notice after %s -> 1366x768' % (route, size))
        desk.stop_game()


def whole_pixels(desk, route, exact):
    """The title screen at a scale, with no notice, shown whole; then on the
    board every black line 1 device pixel wide (k = 1: a 1920-pixel panel
    gives too narrow a game screen at 2) and no colour but the game's. With
    exact false, only reports what the route gives."""
    desk.start_game(platform=route[1])
    if exact:
        box = wait_first_title(desk, '%s at scale %g:' % (route[0], desk.output_scale))
    else:
        desk.wait_for(lambda: share_of(desk, 'pale yellow') > 0.3 and share_of(desk, 'red', desk.last_shot) == 0,
                      'the title screen without a notice %s at scale %g' % (route[0], desk.output_scale),
                      describe=lambda: desk.last_shot.describe(), timeout=25)
        box = title_box(desk.last_shot) or (0, 0, desk.width, desk.height)
    desk.key('space')
    desk.wait_for(lambda: share_of(desk, 'white') > 0.3, 'the board after space',
                  describe=lambda: desk.last_shot.describe())
    shot = desk.wait_for(lambda: find_patio(desk.shot()) and desk.last_shot or (not exact and desk.last_shot),
                         'the board drawn in whole pixels', describe=lambda: desk.last_shot.describe())
    origin = find_patio(shot)
    if origin:
        size = with_vertical_unit(cost_box(shot, origin))
        rect = (origin[0], origin[1], origin[0] + size[0], origin[1] + size[1] - 2 * size[2])
    else:
        l, t, r, b = box
        rect = (l, t, r, b - (b - t) // 20)
    widths, colours = line_widths(shot, rect)
    odd = colours - BOARD_COLOURS
    report = '%s at scale %g: black line widths %s, %d colours off the game\'s' % (
        route[0], desk.output_scale, ', '.join('%d px: %d' % kv for kv in sorted(widths.items())) or 'none',
        len(odd))
    print(report)
    if exact:
        if set(widths) != {1} or widths[1] < 100:
            raise CheckFailed('expected every black line 1 device pixel wide; ' + report)
        if odd:
            raise CheckFailed('expected only the game\'s colours on the board; %s (for example %s)'
                              % (report, sorted(odd)[:5]))
    desk.stop_game()
    return report


def check_whole_pixels_sway(desk, args):
    """sway at 2: natively exact. At 1.5 (sway scales what clients draw at
    2 down, and what XWayland draws at 1 up) only reported."""
    whole_pixels(desk, ('natively', None), exact=True)
    desk.close()
    with SwayDesktop(desk.slabix, desk.width, desk.height, scale=1.5) as other:
        try:
            for route in (('natively', None), ('through XWayland', 'xcb')):
                whole_pixels(other, route, exact=False)
        finally:
            desk.last_shot = other.last_shot


def check_whole_pixels_kwin(desk, args):
    """kwin at 1.5 with X programs left to scale themselves: through
    XWayland exact; natively (the toolkit has no fractional scales, kwin
    smooths a buffer drawn at 2 down) only reported. Then kwin at 2:
    natively and through XWayland exact."""
    whole_pixels(desk, ('through XWayland', 'xcb'), exact=True)
    whole_pixels(desk, ('natively', None), exact=False)
    desk.close()
    with KwinDesktop(desk.slabix, desk.width, desk.height, scale=2, x11_scales_itself=True) as two:
        try:
            for route in (('natively', None), ('through XWayland', 'xcb')):
                whole_pixels(two, route, exact=True)
        finally:
            desk.last_shot = two.last_shot
