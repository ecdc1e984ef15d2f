#!/usr/bin/env python3
"""End-to-end checks of the real slabix program, played as a person would.

Each check starts its own X server (Xvfb, on a display number the server picks
itself), a window manager (openbox, or icewm) and the game, drives the game with
xdotool (keys, mouse moves, button presses) and judges it from screenshots of
the whole screen. The Wayland checks start a headless weston instead, which
runs the game natively and through XWayland; others start sway or kwin_wayland,
run by an unprivileged user, played through slabix_wlinput (a client of their
virtual input protocols, built beside the game). A check that listens to the sound
cues starts a sound server of its own (pulseaudio, or pipewire with
pipewire-pulse where pulseaudio is not installed, with a null sink) and records
what reaches it; every other game has no sound server. Everything a check
starts is stopped again when it ends, also when it fails or is killed.

    slabix_e2e.py --slabix PATH [--game-data JSON] [--artifacts DIR] [--save-board PNG] CHECK

CHECK is one of the names in CHECKS below (--list prints them, one a line:
tests/CMakeLists.txt makes a CTest entry of each). The exit status
is 0 when the check passes; a failure prints what the player would have seen
and, with --artifacts, leaves the last screenshot there as a PNG.
"""

import argparse
import os
import signal
import sys
import time

# The checks' own modules are read, never compiled into the source tree.
sys.dont_write_bytecode = True
import checks_desktops as desktops
import checks_game as game
import checks_world as world
from common import SKIPPED, CheckFailed, CheckSkipped
from compositors import KwinDesktop, SwayDesktop
from desktop import Desktop, WestonDesktop, XPanelDesktop
from mutter import MutterDesktop
from screen import load_game_data


CHECKS = {
    # name: (screen width, screen height, check[, options]); the options are
    # the window manager (wm), the desktop's scale factor (scale) and weston
    # in place of X (weston).
    'title': (1024, 768, game.check_title),
    'board': (1024, 768, game.check_board),
    'drag_and_keys': (1024, 768, game.check_drag_and_keys),
    'perfect_job': (1024, 768, game.check_perfect),
    'covered_no_bonus': (1024, 768, game.check_covered_no_bonus),
    'print_dialog': (1024, 768, game.check_print_dialog),
    'quit': (1024, 768, game.check_quit),
    'notice_too_small': (1000, 750, game.notice_check('too-small')),
    # A window asked for that is too wide gets the notice.
    'notice_too_large': (1920, 1080, game.notice_check('too-large', ['-qwindowgeometry', '1800x1000'])),
    'window_size': (1920, 1080, game.check_window_size),
    'silent': (1024, 768, game.check_silent),
    'sound_cues': (1024, 768, world.sound_check('pulseaudio')),
    'wm_keeps_frame_openbox': (1024, 768, game.check_wm_keeps_frame),
    'wm_keeps_frame_icewm': (1024, 768, game.check_wm_keeps_frame, dict(wm='icewm')),
    'window_1920x1080': (1920, 1080, game.check_large_screen),
    'window_2560x1440': (2560, 1440, game.check_large_screen),
    'window_3840x2160_scale2': (3840, 2160, game.check_large_screen, dict(scale=2)),
    'wayland_1280x1024': (1280, 1024, game.check_wayland, dict(weston=True)),
    'wayland_1920x1080': (1920, 1080, game.check_wayland, dict(weston=True)),
}
CHECKS.update({
    # A FIFO named on the command line and chosen in the Open dialog; the cues
    # on pipewire, on a server that comes up after the game, and on one killed
    # during play and started again; a print queue that refuses every job.
    'fifo_command_line': (1024, 768, world.check_fifo_command_line),
    'fifo_open_dialog': (1024, 768, world.check_fifo_open_dialog),
    'sound_pipewire': (1024, 768, world.sound_check('pipewire')),
    'sound_late_pulseaudio': (1024, 768, world.sound_check('pulseaudio', late=True)),
    'sound_late_pipewire': (1024, 768, world.sound_check('pipewire', late=True)),
    'sound_restart_pipewire': (1024, 768, world.sound_check('pipewire', restart=True)),
    'print_refused': (1024, 768, world.check_print_refused),
    # Save onto a read-only and onto a full filesystem.
    'save_refused': (1024, 768, world.check_save_refused),
})

# Players' desktops; kind is the desktop class, platform the game's Qt platform.
CHECKS.update({
    'mutter_1920x1080': (1920, 1080, desktops.check_players_desktop, dict(kind=MutterDesktop)),
    'mutter_1366x768': (1366, 768, desktops.check_players_desktop, dict(kind=MutterDesktop)),
    'mutter_xwayland_1920x1080': (1920, 1080, desktops.check_players_desktop, dict(kind=MutterDesktop, platform='xcb')),
    'mutter_xwayland_1366x768': (1366, 768, desktops.check_players_desktop, dict(kind=MutterDesktop, platform='xcb')),
    'i3_1920x1080': (1920, 1080, desktops.check_players_desktop, dict(kind=XPanelDesktop, wm='i3')),
    'i3_1366x768': (1366, 768, desktops.check_players_desktop, dict(kind=XPanelDesktop, wm='i3')),
    'xfce_1920x1080': (1920, 1080, desktops.check_players_desktop, dict(kind=XPanelDesktop, wm='xfwm4')),
    'xfce_1366x768': (1366, 768, desktops.check_players_desktop, dict(kind=XPanelDesktop, wm='xfwm4')),
    'resolution_change': (1920, 1080, desktops.check_resolution_change),
    'scale_1_5_1920x1080': (1920, 1080, desktops.check_scaled(1), dict(scale=1.5)),
    'scale_2_1920x1080': (1920, 1080, desktops.check_scaled(1), dict(scale=2)),
    'scale_1_5_2880x1620': (2880, 1620, desktops.check_scaled(2), dict(scale=1.5)),
})

# sway and kwin_wayland, each run by an ordinary user: the game natively and
# through XWayland.
CHECKS.update({
    'sway_1920x1080': (1920, 1080, desktops.check_compositor_round, dict(kind=SwayDesktop)),
    'sway_1366x768': (1366, 768, desktops.check_compositor_round, dict(kind=SwayDesktop)),
    'kwin_1920x1080': (1920, 1080, desktops.check_compositor_round, dict(kind=KwinDesktop)),
    'kwin_1366x768': (1366, 768, desktops.check_compositor_round, dict(kind=KwinDesktop)),
    'sway_1280x720_last_row': (1280, 720, desktops.check_last_patio_row, dict(kind=SwayDesktop)),
    'sway_resolution_change': (1920, 1080, desktops.check_output_resolution_change, dict(kind=SwayDesktop)),
    'sway_scales_whole_pixels': (1920, 1080, desktops.check_whole_pixels_sway, dict(kind=SwayDesktop, scale=2)),
    'kwin_scales_whole_pixels': (1920, 1080, desktops.check_whole_pixels_kwin,
                                 dict(kind=KwinDesktop, scale=1.5, x11_scales_itself=True)),
})



def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--list', action='store_true', help='print the names of the checks, one a line, and end')
    ap.add_argument('--slabix', help='the game executable')
    ap.add_argument('--game-data', help='the game\'s data file (default: slabix_game_data.json next to the game)')
    ap.add_argument('--artifacts', help='folder for the screenshot of a failed check')
    ap.add_argument('--save-board', help='PNG file for a screenshot of the game window halfway through laying the patio')
    ap.add_argument('--screen', help='screen size WxH instead of the check\'s own (for trying things out)')
    ap.add_argument('--deadline', type=float, default=150, help='seconds before the check gives up')
    ap.add_argument('check', nargs='?', choices=sorted(CHECKS))
    args = ap.parse_args()
    if args.list:
        print('\n'.join(CHECKS))
        return 0
    if not args.slabix or not args.check:
        ap.error('--slabix and a check are needed')
    load_game_data(args.game_data or os.path.join(os.path.dirname(os.path.abspath(args.slabix)),
                                                  'slabix_game_data.json'))

    def on_signal(signum, frame):
        raise CheckFailed('stopped by signal %d' % signum)
    def on_alarm(signum, frame):
        raise CheckFailed('the check took longer than %g s' % args.deadline)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(int(args.deadline))

    width, height, check, *rest = CHECKS[args.check]
    options = dict(rest[0]) if rest else {}
    if args.screen:
        width, height = (int(v) for v in args.screen.split('x'))
    kind = options.pop('kind', None) or (WestonDesktop if options.pop('weston', False) else Desktop)
    desk = None
    t0 = time.monotonic()
    try:
        with kind(os.path.abspath(args.slabix), width, height, **options) as desk:
            check(desk, args)
            print('PASS %s (%.1f s)' % (args.check, time.monotonic() - t0))
            return 0
    except CheckSkipped as e:
        print('SKIP %s: %s' % (args.check, e))
        return SKIPPED
    except CheckFailed as e:
        print('FAIL %s: %s' % (args.check, e), file=sys.stderr)
        if desk is not None and args.artifacts and desk.last_shot is not None:
            path = desk.save_last_shot(os.path.join(args.artifacts, args.check + '-failure.png'))
            print('the last screenshot is in %s' % path, file=sys.stderr)
        return 1
    finally:
        signal.alarm(0)


if __name__ == '__main__':
    sys.exit(main())
