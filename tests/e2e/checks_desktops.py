"""The checks of players' desktops (mutter, i3, Xfce, sway, kwin_wayland),
screen changes and desktop scales."""

import os
import re
import subprocess
import time

from common import CheckFailed
from compositors import KwinDesktop, SwayDesktop
from play import (area, drag_onto_patio, drag_stone, end_scores, expect_maximised, free_way, moved_to, share_of,
                  start_board, wait_for_notice, wait_for_title, wait_until_steady)
from screen import (BOARD_COLOURS, INSIDE, INSIDE_AREA, LAYOUTS, SCREEN, STONE_RGB, Shot, cost_box,
                    detect_layout, dirt_count, find_patio, game_screen, inside, line_widths, min_height,
                    scaled_board, stone_problem, title_box, title_problem, units)


def screen_problem(desk, rect, what='the title screen'):
    """None when a game screen at rect (screen pixels) has the size the game
    chooses for its window and lies whole in the work area; else what is
    wrong."""
    w, h = rect[2] - rect[0], rect[3] - rect[1]
    work = desk.work_area()
    client = desk.client_size()
    if not units(w, h):
        return '%s is %d pixels wide, a width the game does not take' % (what, w)
    # The client area holds the menu bar too: its width alone is the view's.
    if client and w != game_screen(*client)[0]:
        return '%s is %d pixels wide; for a client area %d pixels wide the game screen is %d' % (
            what, w, client[0], game_screen(*client)[0])
    widest = game_screen(work[2] - work[0], work[3] - work[1])[0]
    if widest == SCREEN['largest'][0] and w != widest:
        return 'on a %d-pixel-wide work area %s is %d pixels wide, not %d' % (work[2] - work[0], what, w, widest)
    if not min_height(w) <= h <= SCREEN['largest'][1]:
        return '%s is %d rows tall: a game needs %d' % (what, h, min_height(w))
    if not inside(rect, work):
        return '%s at %s is not whole inside the work area %s%s' % (what, rect, work, window_note(desk))
    return None


def board_problem(desk, size, origin=None, dirt=None):
    """None when the board of the game screen size (width, height, unit)
    shows whole in the work area, with that much dirt where dirt is given:
    at its own size (at origin where that is given: back where it was), or
    scaled down to fit with its shape kept, its cost box in its bottom right
    corner; else what the player sees."""
    shot = desk.shot()
    if desk.game.poll() is not None:
        raise CheckFailed('the game ended (status %d)' % desk.game.returncode)
    work = desk.work_area()
    w, h, unit = size
    at = find_patio(shot)
    if at is not None:
        if origin is not None and at != origin:
            return 'the board is at %s, not where it was at first, %s' % (at, origin)
        got = cost_box(shot, at, work[3])
        if got != size:
            return 'the board at %s shows a game screen of %s, not %s' % (at, got, size)
        if not inside((at[0], at[1], at[0] + w, at[1] + h), work):
            return 'the %dx%d game screen at %s is not whole inside the work area %s' % (w, h, at, work)
        if dirt is not None and dirt_count(shot, at) != dirt:
            return 'the patio shows %d dirt pixels, it showed %d' % (dirt_count(shot, at), dirt)
        return None
    if origin is not None:
        return 'the board is not where it was at first, %s, at its own size: %s' % (origin, shot.describe())
    scaled = scaled_board(shot, size)
    if scaled is None:
        return 'no board is shown: ' + shot.describe()
    l, t, r, b, f = scaled
    if f > 1.0:
        return 'the board is shown scaled up by %.3f' % f
    # The smoothed edges of the dirt make the measure a few pixels short.
    if not inside((l, t, r, b), work, slack=8):
        return 'the board, scaled by %.3f, lies at (%d, %d)-(%d, %d), not whole inside the work area %s' % (
            f, l, t, r, b, work)
    # The cost box, black, ends in the game screen's bottom right corner.
    x, y = int(r - 3 * unit * f), int(b - 0.3 * unit * f)
    dark = min(sum(shot.px(min(shot.width - 1, xx), min(shot.height - 1, yy)))
               for xx in range(x - 2, x + 3) for yy in range(y - 1, y + 2))
    if dark > 240:
        return 'the board is scaled by %.3f, but its cost box is not at (%d, %d)' % (f, x, y)
    return None


def window_note(desk):
    """Where the game window is and what state its window manager gives it
    (X windows only), for a failure's report."""
    if not desk.main_window:
        return ''
    state = desk.run(['xprop', '-id', desk.main_window, '_NET_WM_STATE'], check=False).split('=', 1)[-1]
    return '; the game window\'s client area is at %d, %d, %dx%d, its state: %s' % (
        desk.window_geometry(desk.main_window) + (state.strip().replace('_NET_WM_STATE_', '') or 'none',))


def off_the_edge(desk, size):
    """Whether the board of the game screen size (width, height, unit), at
    its own size or scaled down, begins inside the work area and runs past
    its right or bottom edge: a window the desktop placed partly off the
    screen."""
    shot, work = desk.last_shot, desk.work_area()
    at = find_patio(shot)
    if at is not None:
        rect = (at[0], at[1], at[0] + size[0], at[1] + size[1])
    else:
        scaled = scaled_board(shot, size)
        if scaled is None or scaled[4] > 1.0:
            return False
        rect = scaled[:4]
    return rect[0] > work[0] and rect[1] > work[1] and (rect[2] > work[2] or rect[3] > work[3])


def wait_board_whole(desk, origin, size, dirt, what, expect):
    """After a window action, the board shown whole: back where it was
    (expect 'same'), anywhere ('whole'), elsewhere or scaled down ('moved'),
    or else not at all ('any': another workspace, a window being placed), or
    also running off the screen's right or bottom edge ('placed': a restored
    window the desktop places from a size it never saw). False for the last."""
    def shown():
        problem = board_problem(desk, size, origin if expect == 'same' else None, dirt)
        if expect == 'moved' and problem is None and find_patio(desk.last_shot) == origin:
            return False
        if expect == 'placed' and problem is not None and off_the_edge(desk, size):
            return 'off'
        return problem is None or (expect in ('any', 'placed') and problem.startswith('no board'))
    result = desk.wait_for(shown, 'the board shown whole after %s (%s)' % (what, expect),
                           describe=lambda: (board_problem(desk, size, origin if expect == 'same' else None, dirt) or
                                             'it is still at %s' % (origin,)) + window_note(desk))
    now = find_patio(desk.last_shot)
    if result == 'off':
        print('  after %s: the game screen runs off the screen\'s edge, where the desktop placed the window' % what)
        return False
    print('  after %s: %s' % (what, 'the board where it was' if now == origin else 'the board at its size at %s'
                              % (now,) if now else 'the whole game screen, scaled down, or none'))
    return True


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


def play_round(desk, route):
    """A round on a player's desktop: the first title screen has the size
    the game chooses, whole in the work area, and no notice came before it;
    the board after space is the same game screen; a stone dragged onto the
    patio; after each of the desktop's window actions the same game screen
    and board show whole (where it was once the window is back as it was),
    and a drag on the first scaled-down game screen lands where it points;
    keys still move the stone; End scores."""
    t0 = time.monotonic()
    title = wait_for_title(desk, route)
    print('%s: the title screen at %s, %.1f s after the start' % (route, title, time.monotonic() - t0))
    problem = desk.frame_problem(title) or screen_problem(desk, title)
    if problem:
        raise CheckFailed('%s: %s' % (route, problem))
    desk.focus_game(title)
    origin, layout, size = start_board(desk)
    if (origin[0], origin[1], origin[0] + size[0], origin[1] + size[1]) != title:
        raise CheckFailed('%s: the board\'s game screen %dx%d at %s is not the title screen\'s %s'
                          % (route, size[0], size[1], origin, title))
    print('the board: layout %d, a game screen of %dx%d (unit %d) at %s' % ((layout + 1,) + size + (origin,)))
    dirt, stone, at = drag_onto_patio(desk, origin, layout, size)
    moved = None
    actions = desk.window_actions()
    for what, do, expect in actions:
        do()
        whole = wait_board_whole(desk, origin, size, dirt, what, expect)
        scaled = whole and find_patio(desk.last_shot) is None and scaled_board(desk.last_shot, size)
        if moved is None and scaled:
            # The mouse lands where it points on the game screen scaled down,
            # once the desktop has done resizing the window.
            scaled = wait_until_steady(desk, lambda: scaled_board(desk.shot(), size),
                                       'the scaled-down game screen to stay where it is')
            moved = drag_scaled(desk, scaled, at, 30) if scaled else None
        elif moved not in (None, True) and expect == 'same':
            at = stone_moved_right(desk, origin, at, stone, moved)
            moved = True
    # The game goes on: the stone moves by hand.
    desk.key(*(['Right'] * 5))
    right = moved_to(at, at[0] + 5, at[1])
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, right, STONE_RGB[stone]) is None,
                  'stone %d 5 pixels further right after five presses of Right' % stone,
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, right, STONE_RGB[stone]) or ''))
    end_scores(desk, origin, size, dirt, 6, stone, right)
    print('%s: a %dx%d game screen at %s kept through %d window actions; End scored' % (
        route, size[0], size[1], origin, len(actions)))


def check_players_desktop(desk, args):
    desk.start_game()
    play_round(desk, 'under %s at %dx%d' % (desk.wm_name, desk.width, desk.height))


def check_compositor_round(desk, args):
    """The round natively and through XWayland; a route that fails leaves
    its screenshot, and the other is still played."""
    failed = []
    for platform, route, name in ((None, 'natively', 'native'), ('xcb', 'through XWayland', 'xwayland')):
        t0 = time.monotonic()
        desk.start_game(platform=platform)
        try:
            play_round(desk, '%s %s' % (desk.NAME, route))
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
        title = wait_for_title(desk)
        if when == 'during play':
            start_board(desk)
        mode(small)
        rect = wait_for_notice(desk, 'the red change notice, whole on the %dx%d screen, after the change %s'
                               % (small + (when,)), full=True, within=(0, 0) + small)
        expect_maximised(desk)
        print('%s: the change notice at %s (the title screen was at %s)' % (when, rect, title))
        desk.stop_game()


def check_scaled(k):
    """The game at a desktop scale (QT_SCALE_FACTOR) on X: the title screen
    and the board drawn with every game pixel a k x k block of device
    pixels: the board holds only the game's colours, every black line is
    exactly k device pixels wide, and play works."""
    def check(desk, args):
        desk.start_game()
        rect = wait_for_title(desk, full=True)
        dw, dh = rect[2] - rect[0], rect[3] - rect[1]
        if dw % k or dh % k:
            raise CheckFailed('the title screen is %dx%d device pixels, not a whole number of %dx%d blocks'
                              % (dw, dh, k, k))
        w, h = dw // k, dh // k
        if not units(w, h) or h < min_height(w) or not inside(rect, (0, 0, desk.screen_width, desk.screen_height)):
            raise CheckFailed('the title screen is a game screen of %dx%d at k = %d, at %s on the %dx%d screen'
                              % (w, h, k, rect, desk.screen_width, desk.screen_height))
        desk.key('space')
        desk.wait_for(lambda: scaled_board(desk.shot(full=True), (w, h)), 'the board after space',
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
        blocks = 0
        for y in range(y0, y1 if k > 1 else y0):
            row, base = shot.row(y, x0, x1), shot.row(y0 + (y - y0) // k * k, x0, x1)
            if row != base or any(row[i:i + 3] != row[i + 3 * j:i + 3 * j + 3]
                                  for i in range(0, len(row), 3 * k) for j in range(1, k)):
                blocks += 1
        if blocks:
            raise CheckFailed('%d device rows of the board are not made of whole %dx%d blocks' % (blocks, k, k))
        # Black lines: runs across them are exactly k device pixels long.
        widths, colours = line_widths(shot, (x0, y0, x1, y1))
        strange = colours - BOARD_COLOURS
        if strange:
            raise CheckFailed('the board shows %d colours that are not the game\'s, such as %s' % (
                len(strange), ', '.join(str(c) for c in sorted(strange)[:5])))
        if set(widths) != {k}:
            raise CheckFailed('black lines across the board are %s device pixels wide, not all %d' % (
                ', '.join('%d (%d times)' % kv for kv in sorted(widths.items())), k))
        print('a %dx%d game screen at k = %d: %d colours on the board, %d line crossings all %d wide' % (
            w, h, k, len(colours), widths[k], k))
    return check


def check_last_patio_row(desk, args):
    """On a 720-row screen the game screen is tall enough for a game to be
    won: a stone dragged down onto the patio lies with its last row on the
    patio's last row, and the results picture shows it there."""
    desk.start_game()
    wait_for_title(desk)
    # Full screen shows the game screen at its own size (in the tiled window
    # it is scaled down to fit).
    desk.on_game('fullscreen enable')
    wait_for_title(desk, 'in full screen')
    origin, layout, size = start_board(desk)
    w, h, unit = size
    last = INSIDE[3] - 1
    if h - 2 * unit < last:
        raise CheckFailed('the game screen is %dx%d: its lowest row for a stone, %d, lies above the patio\'s last '
                          'row %d' % (w, h, h - 2 * unit, last))
    places = LAYOUTS[layout]
    i, dest, path = free_way(layout, size, [(i, (INSIDE[0] + 10, INSIDE[3] - r[3] + r[1]))
                                            for i, r in sorted(enumerate(places), key=lambda ir: ir[1][0] - ir[1][2])
                                            if INSIDE[0] + 10 + r[2] - r[0] <= INSIDE[2]], 'to the bottom of the patio')
    rect = places[i]
    drag_stone(desk, origin, rect, path)
    at = moved_to(rect, *dest)
    prompt = origin[1] + h - 2 * unit
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, at, STONE_RGB[i], ring=False, bottom=prompt) is None,
                  'stone %d at %s, its last row on the patio\'s last row' % (i, at),
                  describe=lambda: stone_problem(desk.last_shot, origin, at, STONE_RGB[i], ring=False, bottom=prompt))
    end_scores(desk, origin, size, INSIDE_AREA - area(rect), 6, i, at)
    print('a %dx%d game screen on the %dx%d screen: stone %d laid with its last row on row %d'
          % (w, h, desk.width, desk.height, i, last))


def check_output_resolution_change(desk, args):
    """The compositor's own output command changes the resolution of a
    screen wider than the game's 1604: the change notice, natively on the
    title screen before any key, through XWayland on the board."""
    size = '%dx%d' % (desk.width, desk.height)
    for platform, route in ((None, 'natively, on the title screen'), ('xcb', 'through XWayland, on the board')):
        desk.swaymsg('output HEADLESS-1 resolution %s' % size)
        desk.start_game(platform=platform)
        wait_for_title(desk, route)
        if platform:
            start_board(desk)
        desk.swaymsg('output HEADLESS-1 resolution 1366x768')
        wait_for_notice(desk, 'the red change notice ' + route)
        print('%s: the change notice after %s -> 1366x768' % (route, size))
        desk.stop_game()


def whole_pixels(desk, route, exact):
    """The title screen at a scale, with no notice, shown whole; then on the
    board every black line 1 device pixel wide (k = 1: a 1920-pixel panel
    gives too narrow a game screen at 2) and no colour but the game's. With
    exact false, only reports what the route gives."""
    desk.start_game(platform=route[1])
    if exact:
        box = wait_for_title(desk, '%s at scale %g' % (route[0], desk.output_scale))
        problem = title_problem(desk.last_shot, box)
        if problem:
            raise CheckFailed('%s at scale %g: %s' % (route[0], desk.output_scale, problem))
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
        size = cost_box(shot, origin)
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


def qt_version(slabix):
    """The version of Qt the game runs with, as (major, minor), or None."""
    out = subprocess.run(['ldd', slabix], capture_output=True, text=True, timeout=30).stdout
    lib = re.search(r'libQt6Core\.so\.6 => (\S+)', out)
    found = lib and re.search(r'\.so\.(\d+)\.(\d+)', os.path.realpath(lib.group(1)))
    return (int(found.group(1)), int(found.group(2))) if found else None


# Fractional desktop scales natively: the screen, the scale and k, the device
# pixels a game pixel takes (the scale rounded, 1 where 2 would leave too
# narrow a game screen).
FRACTIONAL_SCALES = (((1920, 1080), 1.25, 1), ((1920, 1080), 1.5, 1),
                     ((2880, 1620), 1.25, 1), ((2880, 1620), 1.5, 2))


def fractional_whole_pixels(desk, kind):
    """Natively at each of FRACTIONAL_SCALES: every game pixel a k x k block
    of device pixels and only the game's colours on the board, where Qt takes
    the exact scale from the compositor (its fractional-scale protocol, from
    Qt 6.5 on); with an older Qt it only says why not."""
    version = qt_version(desk.slabix)
    if version is None or version < (6, 5):
        print('natively at scales 1.25 and 1.5: not checked; Qt %s has no fractional-scale protocol (it draws '
              'at the next whole scale, and the compositor shrinks that)'
              % ('.'.join(map(str, version)) if version else '(its version unknown)'))
        return
    for (width, height), scale, k in FRACTIONAL_SCALES:
        with kind(desk.slabix, width, height, scale=scale) as other:
            try:
                print('natively on %dx%d at scale %g:' % (width, height, scale))
                check_scaled(k)(other, None)
                other.stop_game()
            finally:
                desk.last_shot = other.last_shot


def check_whole_pixels_sway(desk, args):
    """sway at 2: natively exact. At 1.5 on 1920x1080 natively and through
    XWayland (sway scales what XWayland draws at 1 up) only reported. Then
    the fractional scales natively, exact from Qt 6.5 on."""
    whole_pixels(desk, ('natively', None), exact=True)
    desk.close()
    with SwayDesktop(desk.slabix, desk.width, desk.height, scale=1.5) as other:
        try:
            for route in (('natively', None), ('through XWayland', 'xcb')):
                whole_pixels(other, route, exact=False)
        finally:
            desk.last_shot = other.last_shot
    fractional_whole_pixels(desk, SwayDesktop)


def check_whole_pixels_kwin(desk, args):
    """kwin at 1.5 with X programs left to scale themselves: through
    XWayland exact; natively (Qt 6.4 has no fractional scales, kwin smooths
    a buffer drawn at 2 down) only reported. Then kwin at 2:
    natively and through XWayland exact, and the fractional scales natively,
    exact from Qt 6.5 on."""
    whole_pixels(desk, ('through XWayland', 'xcb'), exact=True)
    whole_pixels(desk, ('natively', None), exact=False)
    desk.close()
    with KwinDesktop(desk.slabix, desk.width, desk.height, scale=2, x11_scales_itself=True) as two:
        try:
            for route in (('natively', None), ('through XWayland', 'xcb')):
                whole_pixels(two, route, exact=True)
        finally:
            desk.last_shot = two.last_shot
    fractional_whole_pixels(desk, KwinDesktop)
