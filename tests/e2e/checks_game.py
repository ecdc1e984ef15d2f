"""The checks of the game itself on an X server or weston."""

import re
import subprocess
import time

from common import CheckFailed
from play import covering_plan, drag_onto_patio, drag_stone, frame_extents, moved_to, run_into_neighbour, share_of, start_board, wait_for_title, wait_until_steady, window_bottom
import screen
from screen import BLACK, INSIDE_AREA, LAYOUTS, NOTICE_BLUE, PATIO, STONE_RGB, WHITE, cost_box, detect_layout, dirt_count, find_patio, ink_lines, inside, pale_box, picture_dirt, results_areas, stone_problem, title_client_width
from services import listen, sound_bands


def check_title(desk, args):
    desk.start_game()
    wait_for_title(desk)
    state = desk.run(['xprop', '-id', desk.main_window, '_NET_WM_STATE'])
    if 'MAXIMIZED_VERT' not in state or 'MAXIMIZED_HORZ' not in state:
        raise CheckFailed('expected the game window maximised, the window manager reports: ' + state.strip())
    x, y, w, h = desk.window_geometry(desk.main_window)
    if w != desk.width:
        raise CheckFailed('expected the maximised window %d pixels wide, it is %d' % (desk.width, w))
    width = title_client_width(desk.last_shot)
    if width != desk.width - 4:
        raise CheckFailed('expected the title screen to fill a client area %d pixels wide, its pale '
                          'yellow is %d pixels wide' % (desk.width - 4, width))
    # Keys that do nothing on the title screen.
    desk.key('End', 'F1', 'Left')
    time.sleep(0.5)
    if share_of(desk, 'pale yellow') < 0.6:
        raise CheckFailed('End, F1 and Left on the title screen should do nothing, but then the player ' +
                          desk.last_shot.describe())


def check_board(desk, args):
    desk.start_game()
    origin, layout, size = start_board(desk)
    shot = desk.last_shot
    if size[0] != 1020:
        raise CheckFailed('expected the client area 1020 pixels wide (the cost box ends at its right '
                          'edge), the cost box ends at %d' % size[0])
    n = dirt_count(shot, origin)
    if n != INSIDE_AREA:
        raise CheckFailed('expected the whole patio inside dirt-coloured (%d pixels), saw %d' % (INSIDE_AREA, n))
    ox, oy = origin
    for x0, y0, x1, y1 in [(450, 350, 1004, 351), (450, 639, 1004, 640), (450, 350, 451, 640), (1003, 350, 1004, 640)]:
        if not shot.is_filled((x0 + ox, y0 + oy, x1 + ox, y1 + oy), BLACK):
            raise CheckFailed('the patio outline (450, 350, 1004, 640) is not black all round')
    print('layout %d on a client area of %dx%d at screen (%d, %d)' % (layout + 1, size[0], size[1], ox, oy))


def check_drag_and_keys(desk, args):
    desk.start_game()
    origin, layout, size = start_board(desk)
    n, i, new = drag_onto_patio(desk, origin, layout, size, room=10)
    rect = LAYOUTS[layout][i]
    w, h = rect[2] - rect[0], rect[3] - rect[1]
    dest = new[:2]

    def at(r):
        return stone_problem(desk.shot(), origin, r, STONE_RGB[i]) is None
    ox, oy = origin
    if not desk.last_shot.is_filled((rect[0] + ox, rect[1] + oy, rect[2] + ox, rect[3] + oy), WHITE):
        raise CheckFailed('after the drag the stone\'s old place %s is not all white' % (rect,))

    desk.key(*(['Right'] * 10))
    right = moved_to(rect, dest[0] + 10, dest[1])
    desk.wait_for(lambda: at(right), 'stone %d 10 pixels further right after ten presses of Right' % i,
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, right, STONE_RGB[i]) or ''))
    shot = desk.last_shot
    uncovered = (new[0] + ox, new[1] + oy, right[0] + ox, new[3] + oy)
    if not shot.is_filled(uncovered, screen.DIRT):
        raise CheckFailed('the 10 columns the stone moved off are not dirt-coloured again')
    if dirt_count(shot, origin) != INSIDE_AREA - w * h:
        raise CheckFailed('after ten presses of Right the dirt count changed')

    desk.key('End')
    picture, text = results_areas(origin, size)

    def picture_shown():
        s = desk.shot()
        return s.is_filled((picture[0], picture[1], picture[2], picture[1] + 1), BLACK) and \
            s.px(picture[0] + 1, picture[1] + 1) in (screen.DIRT,) + tuple(STONE_RGB)
    desk.wait_for(picture_shown, 'the results screen with the patio picture at client (%d, %d)'
                  % (picture[0] - ox, picture[1] - oy), describe=lambda: desk.last_shot.describe())
    time.sleep(0.3)
    shot = desk.shot()
    dx, dy = picture[0] - ox - PATIO[0], picture[1] - oy - PATIO[1]
    problem = stone_problem(shot, origin, (right[0] + dx, right[1] + dy, right[2] + dx, right[3] + dy),
                            STONE_RGB[i], ring=False)
    if problem:
        raise CheckFailed('the results picture does not show the stone where it lies: ' + problem)
    n = picture_dirt(shot, picture)
    if n != INSIDE_AREA - w * h:
        raise CheckFailed('the results picture shows %d dirt pixels, expected %d' % (n, INSIDE_AREA - w * h))
    lines = ink_lines(shot, text)
    # Pay, cost, penalty, two lines on the uncovered dirt, no money.
    if lines != 6:
        raise CheckFailed('expected 6 lines of results for a job that leaves dirt, saw %d' % lines)


def lay_patio(desk, args, perfect):
    """Covers the whole patio by single drags; returns the results screen's
    text area and the number of its lines."""
    desk.start_game()
    origin, layout, size = start_board(desk)
    t0 = time.monotonic()
    targets, order = covering_plan(LAYOUTS[layout], *size, perfect=perfect)
    if not order:
        raise CheckFailed('found no way to cover the patio for layout %d with drags' % (layout + 1))
    print('layout %d: planned %d drags in %.1f s' % (layout + 1, len(order), time.monotonic() - t0))
    places = dict(enumerate(LAYOUTS[layout]))
    for k, (i, path) in enumerate(order):
        drag_stone(desk, origin, places[i], path, STONE_RGB[i])
        places[i] = targets[i]
        if args.save_board and k == len(order) // 2:
            x, y, w, h = desk.window_geometry(desk.main_window)
            desk.save_last_shot(args.save_board, crop=(x, y, w, h))
    n = dirt_count(desk.shot(), origin)
    if n:
        raise CheckFailed('all twelve stones are laid, but %d dirt pixels still show' % n)
    desk.key('End')
    picture, text = results_areas(origin, size)
    desk.wait_for(lambda: desk.shot().px(picture[0], picture[1]) == BLACK and ink_lines(desk.last_shot, text) >= 3,
                  'the results screen', describe=lambda: desk.last_shot.describe())
    time.sleep(0.3)
    shot = desk.shot()
    n = picture_dirt(shot, picture)
    if n:
        raise CheckFailed('the results picture of a fully laid patio shows %d dirt pixels' % n)
    return ink_lines(shot, text)


def check_perfect(desk, args):
    lines = lay_patio(desk, args, perfect=True)
    # Pay, cost, three lines on the perfect arrangement, bonus, net profit.
    if lines != 7:
        raise CheckFailed('expected the 7 results lines of a perfect job with the bonus, saw %d '
                          '(3 would be a covered patio without the bonus)' % lines)


def check_covered_no_bonus(desk, args):
    lines = lay_patio(desk, args, perfect=False)
    # Pay, cost, net profit: two stones of one colour side by side earn no bonus.
    if lines != 3:
        raise CheckFailed('expected the 3 results lines of a covered patio with two stones of one colour '
                          'side by side (no bonus), saw %d%s' % (lines, ' (the 7 of a perfect job)' if lines == 7 else ''))


def check_print_dialog(desk, args):
    desk.start_game()
    wait_for_title(desk)
    desk.key('ctrl+p')
    windows = desk.wait_for(lambda: [w for w in desk.game_windows() if w != desk.main_window],
                            'a print dialog after Ctrl+P',
                            describe=lambda: 'no new window appeared; ' + desk.shot().describe())
    title = desk.run(['xdotool', 'getwindowname', windows[0]]).strip()
    print('Ctrl+P opened the window "%s"' % title)
    desk.key('Escape')
    desk.wait_for(lambda: desk.game_windows() == [desk.main_window], 'the print dialog to close after Escape',
                  describe=lambda: 'the windows %s are still open' % desk.game_windows())
    if desk.game.poll() is not None:
        raise CheckFailed('the game ended when the print dialog was closed')
    wait_for_title(desk, 'the title screen again after the print dialog')


def check_quit(desk, args):
    desk.start_game()
    wait_for_title(desk)
    desk.key('alt+F4')
    try:
        status = desk.game.wait(10)
    except subprocess.TimeoutExpired:
        raise CheckFailed('Alt+F4 did not end the game within 10 s; the player ' + desk.shot().describe())
    if status != 0:
        raise CheckFailed('after Alt+F4 the game ended with status %d, not 0' % status)


def notice_check(which, game_args=()):
    def check(desk, args):
        desk.start_game(game_args)
        desk.wait_for(lambda: share_of(desk, 'red') > 0.6,
                      'the red %s notice on a %dx%d screen' % (which, desk.width, desk.height),
                      describe=lambda: desk.last_shot.describe())
        if desk.last_shot.count(NOTICE_BLUE, (0, 0, desk.width, desk.height)) < 500:
            raise CheckFailed('the red notice shows no blue text')
        desk.key('space')
        time.sleep(0.7)
        if share_of(desk, 'red') < 0.6:
            raise CheckFailed('space should do nothing after a screen-size notice, but then the player ' +
                              desk.last_shot.describe())
    return check


def check_window_size(desk, args):
    desk.start_game(['-qwindowgeometry', '1280x960'])
    wait_for_title(desk, 'the pale yellow title screen in a 1280x960 window', share=0.4)
    if share_of(desk, 'red', desk.last_shot) > 0.05:
        raise CheckFailed('expected the title screen, ' + desk.last_shot.describe())
    x, y, w, h = desk.window_geometry(desk.main_window)
    if (w, h) != (1280, 960):
        raise CheckFailed('expected a 1280x960 window, it is %dx%d' % (w, h))
    width = title_client_width(desk.last_shot)
    if width != 1276:
        raise CheckFailed('expected a title screen 1276 pixels wide in the 1280 window, saw %d' % width)
    origin, layout, size = start_board(desk)
    print('layout %d on a client area of %dx%d' % (layout + 1, size[0], size[1]))


def check_screen_shown_whole(desk, size, what):
    """With the instructions page up, the game's whole screen is on the screen
    and inside the game's window: at its own size, or scaled down keeping its
    shape."""
    desk.key('F1')
    wx, wy, ww, wh = (v // desk.scale for v in desk.window_geometry(desk.main_window))
    inside = (max(0, wx), max(0, wy), min(desk.width, wx + ww), min(desk.height, wy + wh))

    def whole(box):
        x0, y0, x1, y1 = box
        w, h = x1 - x0, y1 - y0
        return (x0 >= inside[0] and y0 >= inside[1] and x1 <= inside[2] and y1 <= inside[3]
                and w <= size[0] and h <= size[1] and abs(w / h - size[0] / size[1]) <= 0.02)
    desk.wait_for(lambda: whole(pale_box(desk.shot()) or (0, 0, 1, 1)),
                  'the whole game\'s screen (%dx%d or a smaller copy of it) inside the window %s and the screen, %s'
                  % (size[0], size[1], inside, what),
                  describe=lambda: 'the instructions page shows at %s' % (pale_box(desk.last_shot),))
    box = pale_box(desk.last_shot)
    desk.key('space')
    return box[2] - box[0], box[3] - box[1]


def check_frame_kept(desk, origin, size):
    """A double click on the title bar, a resize request and a move request
    change nothing of the game: its screen stays as it was and shows whole in
    whatever the window is made; maximised again, the board is where it was;
    F1 and space still act."""
    wid = desk.main_window
    x, y, w, h = desk.window_geometry(wid)
    left, right, top, bottom = frame_extents(desk, wid)
    if y - (top - left) < 0:
        raise CheckFailed('the title bar of the game window is above the screen (it starts at row %d)'
                          % (y - (top - left)))
    tries = [
        ('a double click on the title bar',
         ['xdotool', 'mousemove', str(x + w // 2), str(max(0, y - max(top, 16) // 2)),
          'click', '--repeat', '2', '--delay', '120', '1']),
        ('a resize request', ['xdotool', 'windowsize', wid, str(w // 2), str(h // 2)]),
        ('a move request', ['xdotool', 'windowmove', wid, str(x + 40), str(y + 40)]),
    ]
    for what, argv in tries:
        desk.run(argv)
        wait_until_steady(desk, lambda: desk.window_geometry(wid), 'the window to settle after ' + what)
        shown = check_screen_shown_whole(desk, size, 'after ' + what)
        print('after %s: window %s, the game\'s screen shown %dx%d' % (what, desk.window_geometry(wid), *shown))
    desk.run(['wmctrl', '-i', '-r', wid, '-b', 'add,maximized_vert,maximized_horz'])
    desk.wait_for(lambda: find_patio(desk.shot()) == origin and cost_box(desk.last_shot, origin, window_bottom(desk)) == size,
                  'the board where it was (%s at %s) once the window is maximised again' % (size, origin),
                  describe=lambda: desk.last_shot.describe())


def check_wm_keeps_frame(desk, args):
    desk.start_game()
    origin, layout, size = start_board(desk)
    state = desk.run(['xprop', '-id', desk.main_window, '_NET_WM_STATE'])
    if 'MAXIMIZED_VERT' not in state or 'MAXIMIZED_HORZ' not in state:
        raise CheckFailed('expected the game window maximised, %s reports: %s' % (desk.wm_name, state.strip()))
    if size[0] != desk.width - 4:
        raise CheckFailed('expected a client area %d pixels wide, it is %d' % (desk.width - 4, size[0]))
    check_frame_kept(desk, origin, size)
    print('under %s: client area %dx%d at (%d, %d) kept' % (desk.wm_name, size[0], size[1], origin[0], origin[1]))


def check_large_screen(desk, args):
    """Started with no options on a screen wider than the game takes: the
    window maximised, the game's screen 1600 pixels wide (at the desktop's
    scale) centred in it, whole on the screen; window manager actions change
    nothing of it."""
    desk.start_game()
    wait_for_title(desk, 'the pale yellow title screen', share=0.4)
    if share_of(desk, 'red', desk.last_shot) > 0.05:
        raise CheckFailed('expected the title screen, ' + desk.last_shot.describe())
    state = desk.run(['xprop', '-id', desk.main_window, '_NET_WM_STATE'])
    if 'MAXIMIZED_VERT' not in state or 'MAXIMIZED_HORZ' not in state:
        raise CheckFailed('expected the game window maximised: ' + state.strip())
    full = desk.shot(full=True)
    x0, y0, x1, y1 = pale_box(full)
    if x1 - x0 != 1600 * desk.scale:
        raise CheckFailed('expected a title screen %d pixels wide, saw %d' % (1600 * desk.scale, x1 - x0))
    x, y, w, h = desk.window_geometry(desk.main_window)
    if abs((x0 - x) - (x + w - x1)) > desk.scale:
        raise CheckFailed('expected the game\'s screen centred in the window, it leaves %d pixels on the left '
                          'and %d on the right' % (x0 - x, x + w - x1))
    if y1 > desk.screen_height:
        raise CheckFailed('the game\'s screen ends at row %d, below the screen' % y1)
    origin, layout, size = start_board(desk)
    if size[0] != 1600:
        raise CheckFailed('expected the board in a client area 1600 pixels wide, it is %d' % size[0])
    check_frame_kept(desk, origin, size)
    print('a game\'s screen of %dx%d at (%d, %d) in the maximised window' % (size[0], size[1], origin[0], origin[1]))


def check_wayland(desk, args):
    """The game as a Wayland session starts it: natively, then through
    XWayland. Both show the title screen, no notice, in a client area the
    game takes; through XWayland, space then shows the board."""
    for platform, name in ((None, 'natively'), ('xcb', 'through XWayland')):
        desk.start_game(platform=platform)
        wait_for_title(desk, 'the pale yellow title screen, %s' % name, share=0.4)
        if share_of(desk, 'red', desk.last_shot) > 0.01:
            raise CheckFailed('%s, expected the title screen and no notice, %s' % (name, desk.last_shot.describe()))
        width = title_client_width(desk.last_shot)
        if not 1020 <= width <= 1600 or (desk.width - 4 > 1600 and width != 1600):
            raise CheckFailed('%s, the title screen is %d pixels wide' % (name, width))
        if platform == 'xcb':
            # weston's window manager gives a new window the keyboard.
            desk.key('space')
            shot = desk.wait_for(lambda: find_patio(desk.shot()) and desk.last_shot,
                                 'the board after space, %s' % name, describe=lambda: desk.last_shot.describe())
            origin = find_patio(shot)
            layout, problem = detect_layout(shot, origin)
            if problem:
                raise CheckFailed(problem)
        if desk.game.poll() is not None:
            raise CheckFailed('the game ended %s (status %d)' % (name, desk.game.returncode))
        print('%s: the title screen %d pixels wide%s' % (name, width, ', then the board' if platform else ''))
        desk.stop_game()


def check_silent(desk, args):
    desk.start_game()
    origin, layout, size = start_board(desk)
    # A stone dragged right into its neighbour (the thump), then up past the
    # top of the board (the buzz).
    i, stopped = run_into_neighbour(desk, origin, layout, size)
    r = LAYOUTS[layout][i]
    # The same stone dragged up past the top of the board: the buzz.
    drag_stone(desk, origin, stopped, [(stopped[0], stopped[1]), (stopped[0], -10)])
    time.sleep(1.0)
    wins = desk.game_windows()
    if wins != [desk.main_window]:
        raise CheckFailed('a stopped move without a sound device opened another window (%d windows)' % len(wins))
    if desk.game.poll() is not None:
        raise CheckFailed('the game ended after a stopped move without a sound device (status %d)'
                          % desk.game.returncode)
    problem = stone_problem(desk.shot(), origin, moved_to(r, stopped[0], 1), STONE_RGB[i], ring=False)
    if problem:
        raise CheckFailed('the stone dragged up did not stop at the top of the board: ' + problem)
    desk.key('alt+F4')
    try:
        status = desk.game.wait(10)
    except subprocess.TimeoutExpired:
        raise CheckFailed('Alt+F4 did not end the game within 10 s')
    out = desk.game_output()
    if status != 0:
        raise CheckFailed('the game ended with status %d; its output:\n%s' % (status, '\n'.join(out)))
    if len(out) > 1:
        raise CheckFailed('without a sound device the game wrote %d lines on the terminal, at most 1 is '
                          'allowed:\n%s' % (len(out), '\n'.join(out)))
    about_sound = [line for line in out if re.search('pulse|audio|sound', line, re.I)]
    if about_sound:
        raise CheckFailed('without a sound server the game complained on the terminal:\n' + '\n'.join(about_sound))
    print('terminal output: %d line(s)' % len(out))


def check_sound_cues(desk, args):
    desk.start_game()
    origin, layout, size = start_board(desk)
    quiet = sound_bands(desk.recorded_sound(desk.recorded_bytes(), 0.3), [(0, 300)])
    if quiet is not None:
        raise CheckFailed('the sound server hears something before any stone moved')
    # A stone dragged into its neighbour: the thump, low.
    start = desk.recorded_bytes()
    i, stopped = run_into_neighbour(desk, origin, layout, size)
    low, buzz = listen(desk, start, 'a stone ran into another')
    if low < 0.5:
        raise CheckFailed('a stone that runs into another should thump (most of the sound below 300 Hz), '
                          'but only %d%% of it is that low' % round(100 * low))
    # The same stone pushed up by hand, one press at a time, to the top of
    # the board; one press more, against the edge of the client area: the buzz.
    desk.key(*(['Up'] * (stopped[1] - 1)))
    top = moved_to(stopped, stopped[0], 1)
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, top, STONE_RGB[i], ring=False) is None,
                  'stone %d pushed by hand to the top of the board' % i,
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, top, STONE_RGB[i],
                                                             ring=False) or ''))
    start = desk.recorded_bytes()
    desk.key('Up')
    low, buzz = listen(desk, start, 'a stone pushed against the edge')
    if buzz < 0.5:
        raise CheckFailed('a stone pushed against the edge of the client area should buzz (most of the sound '
                          'between 450 and 1300 Hz), but only %d%% of it is there' % round(100 * buzz))
    if desk.game.poll() is not None:
        raise CheckFailed('the game ended while it played its sound cues')
