"""The checks of the game itself on an X server with openbox or icewm, or on
weston."""

import re
import subprocess
import time

import screen
from common import CheckFailed
from play import (covering_plan, drag_onto_patio, drag_stone, end_scores, expect_maximised, frame_extents,
                  moved_to, run_into_neighbour, share_of, start_board, wait_for_notice, wait_for_title,
                  wait_until_steady, window_bottom)
from screen import (BLACK, INSIDE_AREA, LAYOUTS, SCREEN, STONE_RGB, cost_box, dirt_count,
                    find_patio, game_screen, stone_problem, title_box, units)


def check_title(desk, args):
    desk.start_game()
    box = wait_for_title(desk)
    expect_maximised(desk)
    x, y, w, h = desk.window_geometry(desk.main_window)
    if w != desk.width:
        raise CheckFailed('expected the maximised window %d pixels wide, it is %d' % (desk.width, w))
    if box[2] - box[0] != game_screen(w, h)[0]:
        raise CheckFailed('expected the title screen to fill a client area %d pixels wide, its pale '
                          'yellow is %d pixels wide' % (game_screen(w, h)[0], box[2] - box[0]))
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
    want = game_screen(*desk.window_geometry(desk.main_window)[2:])[0]
    if size[0] != want:
        raise CheckFailed('expected the client area %d pixels wide (the cost box ends at its right '
                          'edge), the cost box ends at %d' % (want, size[0]))
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
    dirt, i, new = drag_onto_patio(desk, origin, layout, size)
    desk.key(*(['Right'] * 10))
    right = moved_to(new, new[0] + 10, new[1])
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, right, STONE_RGB[i]) is None,
                  'stone %d 10 pixels further right after ten presses of Right' % i,
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, right, STONE_RGB[i]) or ''))
    ox, oy = origin
    if not desk.last_shot.is_filled((new[0] + ox, new[1] + oy, right[0] + ox, new[3] + oy), screen.DIRT):
        raise CheckFailed('the 10 columns the stone moved off are not dirt-coloured again')
    if dirt_count(desk.last_shot, origin) != dirt:
        raise CheckFailed('after ten presses of Right the dirt count changed')
    # Pay, cost, penalty, two lines on the uncovered dirt, no money.
    end_scores(desk, origin, size, dirt, 6, i, right)


def lay_patio(desk, args, perfect, lines):
    """Covers the whole patio by single drags; End then shows that many
    lines of results."""
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
    end_scores(desk, origin, size, 0, lines)


def check_perfect(desk, args):
    # Pay, cost, three lines on the perfect arrangement, bonus, net profit
    # (3 would be a covered patio without the bonus).
    lay_patio(desk, args, True, 7)


def check_covered_no_bonus(desk, args):
    # Pay, cost, net profit: two stones of one colour side by side earn no
    # bonus (7 would be a perfect job).
    lay_patio(desk, args, False, 3)


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
    wait_for_title(desk, 'again after the print dialog')


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
        wait_for_notice(desk, 'the red %s notice on a %dx%d screen' % (which, desk.width, desk.height))
    return check


def check_window_size(desk, args):
    desk.start_game(['-qwindowgeometry', '1280x960'])
    box = wait_for_title(desk, 'in a 1280x960 window')
    x, y, w, h = desk.window_geometry(desk.main_window)
    if (w, h) != (1280, 960):
        raise CheckFailed('expected a 1280x960 window, it is %dx%d' % (w, h))
    if box[2] - box[0] != game_screen(w, h)[0]:
        raise CheckFailed('expected a title screen %d pixels wide in the 1280 window, saw %d'
                          % (game_screen(w, h)[0], box[2] - box[0]))
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
    desk.wait_for(lambda: whole(title_box(desk.shot(), least=10) or (0, 0, 1, 1)),
                  'the whole game\'s screen (%dx%d or a smaller copy of it) inside the window %s and the screen, %s'
                  % (size[0], size[1], inside, what),
                  describe=lambda: 'the instructions page shows at %s' % (title_box(desk.last_shot, least=10),))
    box = title_box(desk.last_shot, least=10)
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
    expect_maximised(desk)
    if size[0] != game_screen(desk.width, desk.height)[0]:
        raise CheckFailed('expected a client area %d pixels wide, it is %d'
                          % (game_screen(desk.width, desk.height)[0], size[0]))
    check_frame_kept(desk, origin, size)
    print('under %s: client area %dx%d at (%d, %d) kept' % (desk.wm_name, size[0], size[1], origin[0], origin[1]))


def check_large_screen(desk, args):
    """Started with no options on a screen wider than the game takes: the
    window maximised, the game's screen 1600 pixels wide (at the desktop's
    scale) centred in it, whole on the screen; window manager actions change
    nothing of it."""
    desk.start_game()
    x0, y0, x1, y1 = wait_for_title(desk, full=True)
    expect_maximised(desk)
    x, y, w, h = desk.window_geometry(desk.main_window)
    want = game_screen(w, h, desk.scale)[0]
    if x1 - x0 != want * desk.scale:
        raise CheckFailed('expected a title screen %d pixels wide, saw %d' % (want * desk.scale, x1 - x0))
    if abs((x0 - x) - (x + w - x1)) > desk.scale:
        raise CheckFailed('expected the game\'s screen centred in the window, it leaves %d pixels on the left '
                          'and %d on the right' % (x0 - x, x + w - x1))
    if y1 > desk.screen_height:
        raise CheckFailed('the game\'s screen ends at row %d, below the screen' % y1)
    origin, layout, size = start_board(desk)
    if size[0] != want:
        raise CheckFailed('expected the board in a client area %d pixels wide, it is %d' % (want, size[0]))
    check_frame_kept(desk, origin, size)
    print('a game\'s screen of %dx%d at (%d, %d) in the maximised window' % (size[0], size[1], origin[0], origin[1]))


def check_wayland(desk, args):
    """The game as a Wayland session starts it: natively, then through
    XWayland. Both show the title screen, no notice, in a client area the
    game takes; through XWayland, space then shows the board."""
    for platform, name in ((None, 'natively'), ('xcb', 'through XWayland')):
        desk.start_game(platform=platform)
        x0, y0, x1, y1 = wait_for_title(desk, name)
        width, widest = x1 - x0, game_screen(desk.width, desk.height)[0]
        if not units(width, y1 - y0) or (widest == SCREEN['largest'][0] and width != widest):
            raise CheckFailed('%s, the title screen is %d pixels wide' % (name, width))
        if platform == 'xcb':
            # weston's window manager gives a new window the keyboard.
            start_board(desk)
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
