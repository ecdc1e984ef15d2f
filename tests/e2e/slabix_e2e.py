#!/usr/bin/env python3
"""End-to-end checks of the real slabix program, played as a person would.

Each check starts its own X server (Xvfb, on a display number the server picks
itself), a window manager (openbox, or icewm) and the game, drives the game with
xdotool (keys, mouse moves, button presses) and judges it from screenshots of
the whole screen. The Wayland checks start a headless weston instead, which
runs the game natively and through XWayland; others start sway or kwin_wayland,
run by an unprivileged user, played through slabix_wlinput (a client of their
virtual input protocols, built beside the game). A check that listens to the sound
cues starts a sound server of its own (pulseaudio with a null sink) and records
what reaches it; every other game has no sound server. Everything a check
starts is stopped again when it ends, also when it fails or is killed.

    slabix_e2e.py --slabix PATH [--game-data JSON] [--artifacts DIR] [--save-board PNG] CHECK

CHECK is one of the names in CHECKS at the bottom of this file. The exit status
is 0 when the check passes; a failure prints what the player would have seen
and, with --artifacts, leaves the last screenshot there as a PNG.
"""

import argparse
import cmath
import ctypes
import glob
import json
import math
import os
import pwd
import re
import shutil
import struct
import signal
import subprocess
import sys
import tempfile
import time

# --- The game's fixed data: stone colours and the five layouts -------------

# The build writes them from the game's own tables into slabix_game_data.json
# next to the program (--game-data names another file); main() loads them.
# Colours as the game stores them, 0x00BBGGRR; start places (left, top, right,
# bottom) in client pixels, right and bottom exclusive.
STONE_COLOURS = []
LAYOUTS = []


def rgb(colorref):
    return (colorref & 0xFF, (colorref >> 8) & 0xFF, (colorref >> 16) & 0xFF)


WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
DIRT = None
PALE_YELLOW = rgb(0x00B4F0FF)
RED = rgb(0x000000FF)
NOTICE_BLUE = rgb(0x00FF0000)
STONE_RGB = []


def load_game_data(path):
    """Fills the tables above from the file the build wrote."""
    global DIRT
    with open(path) as f:
        data = json.load(f)
    STONE_COLOURS[:] = data['stone_colours']
    LAYOUTS[:] = [[tuple(r) for r in layout] for layout in data['layouts']]
    STONE_RGB[:] = [rgb(c) for c in STONE_COLOURS]
    DIRT = rgb(data['dirt'])
    GAME_COLOURS.update(bytes(c) for c in [WHITE, BLACK, DIRT] + STONE_RGB)
    BOARD_COLOURS.update([WHITE, BLACK, DIRT] + STONE_RGB)
    if tuple(data['patio']) != PATIO:
        raise SystemExit(f'{path}: the patio is {data["patio"]}, the checks expect {PATIO}')

# The patio: outline rectangle, and its inside of 552 x 288 pixels.
PATIO = (450, 350, 1004, 640)
INSIDE = (451, 351, 1003, 639)
INSIDE_AREA = 552 * 288

DEFAULT_TIMEOUT = 15.0

# The check's own sound server: its null sink, recorded at this rate.
SINK = 'slabix_e2e'
SOUND_RATE = 44100


class CheckFailed(Exception):
    pass


# --- Processes -------------------------------------------------------------

_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # A child of a check that is killed outright goes with it.
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def _stop(proc, grace=3.0):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(grace)


class Desktop:
    """An X server with a window manager, and the game on it.

    With a scale, Qt draws every pixel of the game as a scale x scale block on
    a screen that many times larger; screenshots are taken at the game's own
    size, one pixel of each block.
    """

    def __init__(self, slabix, width, height, wm='openbox', sound=False, scale=1):
        self.slabix = slabix
        self.scale = scale
        self.screen_width, self.screen_height = width, height
        self.width, self.height = width // scale, height // scale
        self.wm_name = wm
        self.want_sound = sound
        self.xvfb = self.wm = self.game = self.sound_server = self.recorder = None
        self.tmp = tempfile.mkdtemp(prefix='slabix-e2e-')
        self.last_shot = None

    # Start and stop -------------------------------------------------------

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def _start(self):
        """The desktop's servers; a desktop of another kind starts its own."""
        self._start_x()
        self._start_wm()
        if self.want_sound:
            self._start_sound_server()

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        _stop(self.game)
        _stop(self.recorder)
        _stop(self.sound_server)
        _stop(self.wm)
        _stop(self.xvfb)
        for f in (getattr(self, 'game_out', None), getattr(self, 'game_err', None),
                  getattr(self, 'recording', None)):
            if f:
                f.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def _env(self):
        env = dict(os.environ)
        # What a test runner may have set for the unit tests, and anything
        # that would point the game at a sound server.
        for key in ('QT_QPA_PLATFORM', 'QT_LOGGING_RULES', 'QT_DEBUG_PLUGINS',
                    'QT_SCALE_FACTOR', 'QT_SCREEN_SCALE_FACTORS', 'QT_ENABLE_HIGHDPI_SCALING',
                    'PULSE_SERVER', 'PULSE_RUNTIME_PATH', 'WAYLAND_DISPLAY', 'XDG_SESSION_TYPE',
                    'SESSION_MANAGER', 'DBUS_SESSION_BUS_ADDRESS'):
            env.pop(key, None)
        home = os.path.join(self.tmp, 'home')
        runtime = os.path.join(self.tmp, 'runtime')
        for d in (home, runtime):
            os.makedirs(d, mode=0o700, exist_ok=True)
        env.update(DISPLAY=self.display, HOME=home, XDG_RUNTIME_DIR=runtime,
                   XDG_CONFIG_HOME=os.path.join(home, '.config'),
                   XDG_CACHE_HOME=os.path.join(home, '.cache'),
                   XDG_DATA_HOME=os.path.join(home, '.local', 'share'))
        # No print service: libcups asks at a socket that is never made, so
        # the print dialog offers no printer of the machine's.
        env['CUPS_SERVER'] = os.path.join(self.tmp, 'no-print-service', 'cups.sock')
        # The sound server is the check's own, in its runtime folder. Where the
        # check starts none, nothing answers there; a server that is named is
        # never started on demand.
        self.sound_socket = os.path.join(runtime, 'pulse', 'native')
        env['PULSE_SERVER'] = 'unix:' + self.sound_socket
        if self.scale != 1:
            env['QT_SCALE_FACTOR'] = str(self.scale)
        return env

    def _start_x(self):
        rfd, wfd = os.pipe()
        self.xvfb = subprocess.Popen(
            ['Xvfb', '-displayfd', str(wfd), '-screen', '0',
             '%dx%dx24' % (self.screen_width, self.screen_height), '-nolisten', 'tcp', '-noreset'],
            pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=_die_with_parent)
        os.close(wfd)
        number = b''
        deadline = time.monotonic() + 20
        os.set_blocking(rfd, False)
        while not number.endswith(b'\n'):
            if time.monotonic() > deadline or self.xvfb.poll() is not None:
                os.close(rfd)
                raise CheckFailed('the X server (Xvfb) did not start')
            try:
                chunk = os.read(rfd, 16)
            except BlockingIOError:
                time.sleep(0.05)
                continue
            if not chunk:
                time.sleep(0.05)
            number += chunk
        os.close(rfd)
        self.display = ':' + number.decode().strip()
        self.env = self._env()

    def _start_wm(self):
        argv = {'openbox': ['openbox', '--sm-disable'], 'icewm': ['icewm']}[self.wm_name]
        self.wm = subprocess.Popen(argv, env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   preexec_fn=_die_with_parent)
        self.wait_for(lambda: 'window id' in self.run(['xprop', '-root', '_NET_SUPPORTING_WM_CHECK']),
                      'the window manager (%s) to come up' % self.wm_name, timeout=20)

    def _start_sound_server(self):
        """A pulseaudio of the check's own with one null sink, SINK, and a
        recording of everything played on it."""
        env = dict(self.env)
        env.pop('DISPLAY')  # no session bus started through the X server
        env.pop('PULSE_SERVER')
        self.sound_server = subprocess.Popen(
            ['pulseaudio', '-n', '--daemonize=no', '--exit-idle-time=-1', '--use-pid-file=no',
             '--load=module-null-sink sink_name=%s' % SINK, '--load=module-native-protocol-unix'],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        self.wait_for(lambda: self.sound_server.poll() is not None or
                      self.run(['pactl', 'info'], check=False).find('Default Sink: ' + SINK) >= 0,
                      'the sound server (pulseaudio) to come up', timeout=20)
        if self.sound_server.poll() is not None:
            raise CheckFailed('the sound server (pulseaudio) ended at once')
        # Without the small latency the samples come in two-second lumps.
        self.recording = open(os.path.join(self.tmp, 'sink.raw'), 'wb')
        self.recorder = subprocess.Popen(
            ['parec', '-d', SINK + '.monitor', '--latency-msec=20', '--format=s16le',
             '--rate=%d' % SOUND_RATE, '--channels=1'],
            env=self.env, stdout=self.recording, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        self.wait_for(lambda: self.recorded_bytes() > 0, 'the recording of the sound server to start')

    def recorded_bytes(self):
        return os.path.getsize(self.recording.name) // 2 * 2

    def recorded_sound(self, start, seconds):
        """Samples of the recording from byte start on, up to that many
        seconds after what has come in so far."""
        end = self.recorded_bytes() + int(seconds * SOUND_RATE) * 2
        self.wait_for(lambda: self.recorded_bytes() >= end, '%g s more of the recording' % seconds)
        with open(self.recording.name, 'rb') as f:
            f.seek(start)
            data = f.read(end - start)
        return struct.unpack('<%dh' % (len(data) // 2), data)

    def start_game(self, args=()):
        self.game_out = open(os.path.join(self.tmp, 'game.out'), 'w+')
        self.game_err = open(os.path.join(self.tmp, 'game.err'), 'w+')
        self.game = subprocess.Popen([self.slabix] + list(args), env=self.env,
                                     stdout=self.game_out, stderr=self.game_err,
                                     preexec_fn=_die_with_parent)
        self.main_window = self.wait_for(lambda: self.game_windows()[:1],
                                         'the game window to appear', timeout=20)[0]
        self.run(['xdotool', 'windowactivate', self.main_window], check=False)
        self.wait_for(lambda: self.run(['xdotool', 'getactivewindow'], check=False).strip() == self.main_window,
                      'the game window to get the keyboard focus')

    def game_output(self):
        lines = []
        for f in (self.game_out, self.game_err):
            f.flush()
            f.seek(0)
            lines += [line.rstrip('\n') for line in f if line.strip()]
        return lines

    # Tools ----------------------------------------------------------------

    def run(self, argv, check=True, timeout=20):
        try:
            res = subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise CheckFailed('%s did not finish within %s s' % (argv[0], timeout))
        if check and res.returncode != 0:
            raise CheckFailed('%s failed: %s' % (' '.join(argv), res.stderr.strip()))
        return res.stdout

    def game_windows(self):
        """The game's visible top-level windows, main window first."""
        if self.game is None:
            return []
        out = self.run(['xdotool', 'search', '--onlyvisible', '--pid', str(self.game.pid)], check=False)
        return out.split()

    def window_geometry(self, wid):
        out = self.run(['xwininfo', '-id', wid])
        vals = {}
        for line in out.splitlines():
            if ':' in line:
                k, v = line.split(':', 1)
                vals[k.strip()] = v.strip()
        return (int(vals['Absolute upper-left X']), int(vals['Absolute upper-left Y']),
                int(vals['Width']), int(vals['Height']))

    def wait_for(self, predicate, what, timeout=DEFAULT_TIMEOUT, describe=None):
        deadline = time.monotonic() + timeout
        while True:
            result = predicate()
            if result:
                return result
            if time.monotonic() > deadline:
                seen = describe() if describe else ''
                raise CheckFailed('waited %g s for %s%s' % (timeout, what, ', but ' + seen if seen else ''))
            time.sleep(0.2)

    def key(self, *keys, delay=30):
        self.run(['xdotool', 'key', '--delay', str(delay)] + list(keys))

    def shot(self, full=False):
        """The screen at the game's size, or with full at the screen's."""
        if self.scale == 1 or full:
            raw = subprocess.run(['import', '-window', 'root', '-depth', '8', 'rgb:-'],
                                 env=self.env, capture_output=True, timeout=30).stdout
            width, height = self.screen_width, self.screen_height
        else:
            png = subprocess.run(['import', '-window', 'root', 'png:-'],
                                 env=self.env, capture_output=True, timeout=30).stdout
            raw = subprocess.run(['convert', 'png:-', '-sample', '%g%%' % (100.0 / self.scale),
                                  '-depth', '8', 'rgb:-'], input=png, capture_output=True, timeout=30).stdout
            width, height = self.width, self.height
        if len(raw) != width * height * 3:
            raise CheckFailed('could not take a screenshot (got %d bytes)' % len(raw))
        self.last_shot = Shot(raw, width, height)
        return self.last_shot

    def save_last_shot(self, path, crop=None):
        if self.last_shot is None:
            return None
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        argv = ['convert', '-size', '%dx%d' % (self.last_shot.width, self.last_shot.height), '-depth', '8', 'rgb:-']
        if crop:
            argv += ['-crop', '%dx%d+%d+%d' % (crop[2], crop[3], crop[0], crop[1]), '+repage']
        argv += ['-strip', 'png:' + path]
        subprocess.run(argv, input=self.last_shot.raw, check=True, timeout=30)
        return path

    # Mouse ----------------------------------------------------------------

    def press(self, x, y):
        self.run(['xdotool', 'mousemove', str(x), str(y), 'sleep', '0.1', 'mousedown', '1', 'sleep', '0.1'])

    def release(self):
        self.run(['xdotool', 'mouseup', '1', 'sleep', '0.1'])

    def move(self, start, end, step=6):
        """Moves the pointer from start to end in small steps of one straight
        leg, as a hand would."""
        argv = ['xdotool']
        x, y = start
        while (x, y) != tuple(end):
            x += max(-step, min(step, end[0] - x))
            y += max(-step, min(step, end[1] - y))
            argv += ['mousemove', str(x), str(y), 'sleep', '0.004']
        if len(argv) > 1:
            self.run(argv, timeout=120)


class WestonDesktop(Desktop):
    """A headless weston compositor with its X server (XWayland), the way a
    Wayland session runs: the game starts with WAYLAND_DISPLAY, DISPLAY and
    XDG_SESSION_TYPE=wayland set, natively or, with platform xcb, through
    XWayland. Screenshots come from weston-screenshooter."""

    SOCKET = 'slabix-e2e-wayland'

    def __init__(self, slabix, width, height, **options):
        super().__init__(slabix, width, height, **options)
        self.compositor = None

    def _start(self):
        self._start_compositor()

    def close(self):
        _stop(self.game)
        _stop(self.compositor, grace=5.0)
        super().close()

    def _start_compositor(self):
        runtime = os.path.join(self.tmp, 'runtime')
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = dict(os.environ)
        for key in ('DISPLAY', 'WAYLAND_DISPLAY', 'WAYLAND_SOCKET', 'DBUS_SESSION_BUS_ADDRESS'):
            env.pop(key, None)
        env.update(XDG_RUNTIME_DIR=runtime, HOME=os.path.join(self.tmp, 'home'))
        log = os.path.join(self.tmp, 'weston.log')
        self.compositor = subprocess.Popen(
            ['weston', '--backend=headless-backend.so', '--use-pixman', '--debug', '--xwayland',
             '--socket=' + self.SOCKET, '--log=' + log,
             '--width=%d' % self.width, '--height=%d' % self.height],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)

        def x_display():
            if self.compositor.poll() is not None:
                raise CheckFailed('the compositor (weston) ended at once')
            try:
                with open(log) as f:
                    found = re.findall(r'xserver listening on display (:\d+)', f.read())
            except FileNotFoundError:
                return None
            return found and os.path.exists(os.path.join(runtime, self.SOCKET)) and found[-1]
        self.display = self.wait_for(x_display, 'the compositor (weston) and its X server', timeout=20)
        self.env = self._env()
        self.env.update(WAYLAND_DISPLAY=self.SOCKET, XDG_SESSION_TYPE='wayland')

    def start_game(self, args=(), platform=None):
        """The game natively (no window to look for), or with platform xcb
        through XWayland (its window found and given the keyboard)."""
        env = dict(self.env)
        if platform:
            env['QT_QPA_PLATFORM'] = platform
        self.game_out = open(os.path.join(self.tmp, 'game.out'), 'w+')
        self.game_err = open(os.path.join(self.tmp, 'game.err'), 'w+')
        self.game = subprocess.Popen([self.slabix] + list(args), env=env,
                                     stdout=self.game_out, stderr=self.game_err,
                                     preexec_fn=_die_with_parent)
        self.main_window = None
        if platform == 'xcb':
            self.main_window = self.wait_for(lambda: self.game_windows()[:1],
                                             'the game window to appear on the X server of XWayland',
                                             timeout=20)[0]
            self.run(['xdotool', 'windowactivate', self.main_window], check=False)

    def stop_game(self):
        _stop(self.game)
        self.game = None
        for f in (self.game_out, self.game_err):
            f.close()
        self.game_out = self.game_err = None

    def shot(self, full=False):
        folder = os.path.join(self.tmp, 'shots')
        os.makedirs(folder, exist_ok=True)
        for old in glob.glob(os.path.join(folder, '*.png')):
            os.remove(old)
        subprocess.run(['weston-screenshooter'], cwd=folder, env=self.env, capture_output=True, timeout=30)
        files = glob.glob(os.path.join(folder, '*.png'))
        raw = b''
        if files:
            raw = subprocess.run(['convert', files[0], '-depth', '8', 'rgb:-'],
                                 capture_output=True, timeout=30).stdout
        if len(raw) != self.width * self.height * 3:
            raise CheckFailed('could not take a screenshot with weston-screenshooter (got %d bytes)' % len(raw))
        self.last_shot = Shot(raw, self.width, self.height)
        return self.last_shot


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
    7 units wide: (client right, client bottom, unit), from its last row at or
    above the screen row bottom."""
    ox, oy = origin
    bottom = shot.height if bottom is None else min(bottom, shot.height)
    for y in range(bottom - 1, oy, -1):
        for start, length in shot.runs(y, BLACK, ox):
            if length in (7 * 12, 7 * 14, 7 * 16):
                return (start + length - ox, y + 1 - oy, length // 7)
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


# --- The checks ------------------------------------------------------------

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


def start_board(desk):
    """Space on the title screen; returns the client origin on the screen,
    the layout number and the client size (width, height, unit)."""
    desk.key('space')
    shot = desk.wait_for(lambda: find_patio(desk.shot()) and desk.last_shot,
                         'the board after space', describe=lambda: desk.last_shot.describe())
    origin = find_patio(shot)
    size = cost_box(shot, origin, window_bottom(desk))
    if size is None:
        raise CheckFailed('the board shows no running-cost box (84 by 24 black pixels) in its '
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
    return (y + h) // desk.scale


def share_of(desk, name, shot=None):
    """Fraction of the screen in one colour class, from a new screenshot."""
    shot = shot or desk.shot()
    return shot.shares((0, 0, desk.width, desk.height)).get(name, 0)


def wait_for_title(desk, what='the pale yellow title screen', share=0.6):
    desk.wait_for(lambda: share_of(desk, 'pale yellow') > share, what,
                  describe=lambda: desk.last_shot.describe())


def title_client_width(shot):
    """Width of the widest pale yellow row run: the title screen's client area."""
    best = 0
    pale = re.compile(b'(?:' + re.escape(bytes(PALE_YELLOW)) + b')+')
    for y in range(0, shot.height, 3):
        for m in pale.finditer(shot.row(y, 0, shot.width)):
            start, end = m.start(), m.end()
            start += -start % 3  # whole pixels only
            best = max(best, (end - start) // 3)
    return best


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


def drag_onto_patio(desk, origin, layout, size, room=40):
    """Drags the largest stone with a free way onto the patio, 20 pixels in
    from its top left corner and room pixels of it left on its right; returns
    the dirt left, the stone and where it lies."""
    places = LAYOUTS[layout]
    dest = (INSIDE[0] + 20, INSIDE[1] + 20)
    planner = Planner(enumerate(places), *size)
    for i in sorted(range(12), key=lambda k: -(places[k][2] - places[k][0]) * (places[k][3] - places[k][1])):
        rect = places[i]
        w, h = rect[2] - rect[0], rect[3] - rect[1]
        if dest[0] + w + room > INSIDE[2] or dest[1] + h > INSIDE[3]:
            continue
        path = planner.route(i, dest)
        if path:
            break
    else:
        raise CheckFailed('no stone of layout %d has a free way onto the patio' % (layout + 1))
    drag_stone(desk, origin, rect, path, STONE_RGB[i])
    new = moved_to(rect, *dest)
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, new, STONE_RGB[i]) is None,
                  'stone %d dragged to %s' % (i, new),
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, new, STONE_RGB[i]) or ''))
    n = dirt_count(desk.last_shot, origin)
    if n != INSIDE_AREA - w * h:
        raise CheckFailed('after dragging a %dx%d stone onto the patio, expected %d dirt pixels, saw %d'
                          % (w, h, INSIDE_AREA - w * h, n))
    return n, i, new


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
    if not shot.is_filled(uncovered, DIRT):
        raise CheckFailed('the 10 columns the stone moved off are not dirt-coloured again')
    if dirt_count(shot, origin) != INSIDE_AREA - w * h:
        raise CheckFailed('after ten presses of Right the dirt count changed')

    desk.key('End')
    picture, text = results_areas(origin, size)

    def picture_shown():
        s = desk.shot()
        return s.is_filled((picture[0], picture[1], picture[2], picture[1] + 1), BLACK) and \
            s.px(picture[0] + 1, picture[1] + 1) in (DIRT,) + tuple(STONE_RGB)
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


# --- The frame on the screen -------------------------------------------------

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


def pale_box(shot):
    """Bounding box (x0, y0, x1, y1) of the pale yellow pixels: the
    instructions page, whole or scaled down; None when there are none."""
    pale = re.compile(b'(?:' + re.escape(bytes(PALE_YELLOW)) + b')+')
    box = None
    for y in range(shot.height):
        for m in pale.finditer(shot.row(y, 0, shot.width)):
            start, end = m.start(), m.end()
            start += -start % 3  # whole pixels only
            if end - start < 30:
                continue
            x0, x1 = start // 3, end // 3
            box = (x0, y, x1, y + 1) if box is None else (min(box[0], x0), box[1], max(box[2], x1), y + 1)
    return box


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


# --- Sound -------------------------------------------------------------------

def fft(values):
    """Discrete Fourier transform of a sequence whose length is a power of 2."""
    a = [complex(v) for v in values]
    n = len(a)
    j = 0
    for i in range(1, n):
        bit = n >> 1
        while j & bit:
            j ^= bit
            bit >>= 1
        j |= bit
        if i < j:
            a[i], a[j] = a[j], a[i]
    size = 2
    while size <= n:
        half = size // 2
        twiddles = [cmath.exp(-2j * math.pi * k / size) for k in range(half)]
        for start in range(0, n, size):
            for k in range(half):
                u, v = a[start + k], a[start + k + half] * twiddles[k]
                a[start + k], a[start + k + half] = u + v, u - v
        size *= 2
    return a


def sound_bands(samples, bands):
    """The share of the sound's energy in each (low, high) band of Hz, over
    the part of the recording where it is heard; None when nothing is."""
    peak = max((abs(v) for v in samples), default=0)
    if peak < 1000:
        return None
    loud = [k for k, v in enumerate(samples) if abs(v) > peak / 20]
    part = samples[loud[0]:loud[-1] + 1]
    n = 1
    while n < len(part):
        n *= 2
    mean = sum(part) / len(part)
    spectrum = fft([v - mean for v in part] + [0] * (n - len(part)))
    power = [(k * SOUND_RATE / n, abs(spectrum[k]) ** 2) for k in range(1, n // 2)]
    total = sum(p for _, p in power) or 1.0
    return [sum(p for f, p in power if lo <= f < hi) / total for lo, hi in bands]


def listen(desk, start, what):
    """The shares of the low (below 300 Hz) and the buzz (450 to 1300 Hz)
    bands in the recording from byte start on to a second after now."""
    shares = sound_bands(desk.recorded_sound(start, 1.0), [(0, 300), (450, 1300)])
    if shares is None:
        raise CheckFailed('no sound reached the sound server after %s' % what)
    print('after %s: %d%% of the energy below 300 Hz, %d%% between 450 and 1300 Hz'
          % (what, round(100 * shares[0]), round(100 * shares[1])))
    return shares


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


# --- When the outside world misbehaves: files, sound servers, print queues --
#
# The game against a FIFO on its command line and through Ctrl+O, Save onto
# a read-only and a full filesystem, a private pipewire (with pipewire-pulse
# and wireplumber, on a session bus of its own) or pulseaudio that comes up
# late or is killed during play, and a private print service whose queue
# refuses every job. Everything runs in the check's own folder. Message boxes
# are read through the clipboard, where the box puts its text on Ctrl+C.

def message_text(desk, wid):
    """The text of the game's message box wid, as the box copies it."""
    desk.run(['xdotool', 'windowactivate', '--sync', wid], check=False)
    desk.wait_for(lambda: desk.run(['xdotool', 'getactivewindow'], check=False).strip() == wid,
                  'the message box to get the keyboard focus')

    def copied():
        desk.run(['xdotool', 'key', '--window', wid, 'ctrl+c'], check=False)
        time.sleep(0.2)
        res = subprocess.run(['xclip', '-o', '-selection', 'clipboard'], env=desk.env,
                             capture_output=True, text=True, timeout=10)
        return res.returncode == 0 and res.stdout.strip() and res.stdout
    return desk.wait_for(copied, 'the message box to copy its text on Ctrl+C')


def new_window(desk, known, what, timeout):
    """A game window that is none of known, within timeout seconds."""
    found = desk.wait_for(lambda: [w for w in desk.game_windows() if w not in known], what, timeout=timeout,
                          describe=lambda: 'the game shows the windows %s; %s' % (desk.game_windows(),
                                                                                desk.shot().describe()))
    return found[0]


def expect_in(text, needle, what):
    if needle not in text:
        raise CheckFailed('%s should say "%s", but says:\n%s' % (what, needle, text))


def check_fifo_command_line(desk, args):
    fifo = os.path.join(desk.tmp, 'stones.sld')
    os.mkfifo(fifo)
    t0 = time.monotonic()
    desk.game_out = open(os.path.join(desk.tmp, 'game.out'), 'w+')
    desk.game_err = open(os.path.join(desk.tmp, 'game.err'), 'w+')
    desk.game = subprocess.Popen([desk.slabix, fifo], env=desk.env, stdout=desk.game_out,
                                 stderr=desk.game_err, preexec_fn=_die_with_parent)
    box = new_window(desk, [], 'a window within 2 s of the start with a FIFO named on the command line', 2.0)
    print('a window %.1f s after the start' % (time.monotonic() - t0))
    text = message_text(desk, box)
    expect_in(text, 'Cannot open %s.\nIt is a named pipe, not a file' % fifo, 'the message')
    desk.key('Return')
    try:
        status = desk.game.wait(10)
    except subprocess.TimeoutExpired:
        raise CheckFailed('the game did not end when the message was closed')
    if status != 1:
        raise CheckFailed('the game ended with status %d after a file it cannot open, not 1' % status)


def check_fifo_open_dialog(desk, args):
    fifo = os.path.join(desk.tmp, 'stones.sld')
    os.mkfifo(fifo)
    desk.start_game()
    wait_for_title(desk)
    desk.key('ctrl+o')
    dialog = new_window(desk, [desk.main_window], 'the Open dialog after Ctrl+O', DEFAULT_TIMEOUT)
    desk.wait_for(lambda: desk.run(['xdotool', 'getactivewindow'], check=False).strip() == dialog,
                  'the Open dialog to get the keyboard focus')
    # The file name field has the focus: the FIFO's whole name, and Return.
    desk.run(['xdotool', 'type', '--delay', '10', fifo])
    t0 = time.monotonic()
    desk.key('Return')
    box = new_window(desk, [desk.main_window, dialog], 'a message within 2 s of choosing a FIFO', 2.0)
    print('the message %.1f s after OK' % (time.monotonic() - t0))
    text = message_text(desk, box)
    expect_in(text, 'Cannot open %s.\nIt is a named pipe, not a file' % fifo, 'the message')
    desk.key('Return')
    desk.wait_for(lambda: desk.game_windows() == [desk.main_window], 'the message to close',
                  describe=lambda: 'the windows %s are still open' % desk.game_windows())
    if desk.game.poll() is not None:
        raise CheckFailed('the game ended after the FIFO (status %d)' % desk.game.returncode)
    desk.run(['xdotool', 'windowactivate', desk.main_window], check=False)
    start_board(desk)


def check_save_refused(desk, args):
    """Save onto a read-only filesystem, over a file and as a new one, and
    onto a full one: each says why. The game runs in a mount namespace of its
    own with the two small filesystems."""
    ro, full = os.path.join(desk.tmp, 'read-only'), os.path.join(desk.tmp, 'full')
    os.makedirs(ro)
    os.makedirs(full)
    script = ('mount -t tmpfs -o size=64k tmpfs "$1" && : > "$1/job.sld" && mount -o remount,ro "$1" && '
              'mount -t tmpfs -o size=64k,nr_inodes=2 tmpfs "$2" && : > "$2/filler" && shift 2 && exec "$@"')
    unshare = ['unshare', '-m', '--propagation', 'private'] if os.geteuid() == 0 else ['unshare', '-rm']
    desk.game_out = open(os.path.join(desk.tmp, 'game.out'), 'w+')
    desk.game_err = open(os.path.join(desk.tmp, 'game.err'), 'w+')
    # The shell execs the game: the process started here is the game.
    desk.game = subprocess.Popen(unshare + ['sh', '-c', script, 'sh', ro, full, desk.slabix], env=desk.env,
                                 stdout=desk.game_out, stderr=desk.game_err, preexec_fn=_die_with_parent)
    desk.main_window = desk.wait_for(lambda: desk.game_windows()[:1], 'the game window to appear', timeout=20)[0]
    desk.run(['xdotool', 'windowactivate', desk.main_window], check=False)
    wait_for_title(desk)
    cases = [(os.path.join(ro, 'job.sld'), True, 'Read-only file system'),
             (os.path.join(ro, 'new.sld'), False, 'Read-only file system'),
             (os.path.join(full, 'new.sld'), False, 'No space left on device')]

    def top_windows():
        return desk.run(['xdotool', 'search', '--onlyvisible', '--name', '^(Save As|Slabix)$'], check=False).split()
    for path, exists, why in cases:
        desk.run(['xdotool', 'windowactivate', desk.main_window], check=False)
        desk.key('ctrl+s')
        dialog = desk.wait_for(lambda: desk.run(['xdotool', 'search', '--onlyvisible', '--name', '^Save As$'],
                                                check=False).split(), 'the Save As dialog after Ctrl+S')[0]
        desk.wait_for(lambda: desk.run(['xdotool', 'getactivewindow'], check=False).strip() == dialog,
                      'the Save As dialog to get the keyboard focus')
        desk.key('ctrl+a')
        desk.run(['xdotool', 'type', '--delay', '10', path])
        desk.key('Return')
        if exists:
            # The dialog asks before it replaces the file: yes.
            prompt = desk.wait_for(lambda: [w for w in top_windows() if w != dialog],
                                   'the question whether to replace %s' % path)[0]
            desk.run(['xdotool', 'windowactivate', '--sync', prompt], check=False)
            desk.key('alt+y')
        box = desk.wait_for(lambda: desk.run(['xdotool', 'search', '--onlyvisible', '--name', '^Slabix$'],
                                             check=False).split(), 'a message that %s cannot be saved' % path,
                            describe=lambda: desk.shot().describe())[0]
        text = message_text(desk, box)
        expect_in(text, 'Cannot save %s.\n%s' % (path, why), 'the message')
        print('%s: %s' % (path, why))
        desk.key('Return')
        desk.wait_for(lambda: not top_windows(), 'the message and the dialog to close',
                      describe=lambda: 'the windows %s are still open' % top_windows())
        if desk.game.poll() is not None:
            raise CheckFailed('the game ended after a refused save (status %d)' % desk.game.returncode)


class SoundServer:
    """A sound server of the check's own in its runtime folder, at the
    address the game is given (PULSE_SERVER): pulseaudio, or pipewire with
    pipewire-pulse and wireplumber on a private session bus. Either
    gets a null sink, SINK, the default, recorded from its monitor into the
    desk's recording (appended to at every start)."""

    def __init__(self, desk, kind):
        self.desk, self.kind = desk, kind
        self.procs = []
        self.bus = None
        self.starts = 0
        desk.recording = open(os.path.join(desk.tmp, 'sink.raw'), 'wb')

    def _env(self):
        env = dict(self.desk.env)
        env.pop('DISPLAY')  # nothing of the X server's: no bell, no session bus through it
        env.pop('PULSE_SERVER')
        return env

    def _spawn(self, argv, env, name):
        log = open(os.path.join(self.desk.tmp, '%s.%d.log' % (name, self.starts)), 'w')
        proc = subprocess.Popen(argv, env=env, stdout=log, stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)
        log.close()
        self.procs.append(proc)
        return proc

    def _start_bus(self):
        rfd, wfd = os.pipe()
        address = 'unix:path=' + os.path.join(self.desk.tmp, 'session-bus')
        self.bus = subprocess.Popen(['dbus-daemon', '--session', '--nofork', '--nopidfile', '--address=' + address,
                                     '--print-address=%d' % wfd],
                                    pass_fds=(wfd,), env=self._env(), stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        os.close(wfd)
        with os.fdopen(rfd) as f:
            line = f.readline()  # written once the bus listens
        if not line.strip():
            raise CheckFailed('the private session bus (dbus-daemon) did not start')
        self.bus_address = line.strip()

    def _wireplumber_config(self, env):
        # wireplumber as the session has it, less the device monitors: the
        # only sink is the check's null sink, whatever the machine has.
        for part in ('main', 'bluetooth'):
            src = '/usr/share/wireplumber/%s.lua.d/90-enable-all.lua' % part
            folder = os.path.join(env['XDG_CONFIG_HOME'], 'wireplumber', '%s.lua.d' % part)
            os.makedirs(folder, exist_ok=True)
            lines = open(src).read().splitlines() if os.path.exists(src) else []
            with open(os.path.join(folder, '90-enable-all.lua'), 'w') as f:
                f.write('\n'.join(l for l in lines if not re.search(r'_monitor\.enable\(\)', l)) + '\n')

    def start(self):
        self.starts += 1
        env = self._env()
        os.makedirs(os.path.dirname(self.desk.sound_socket), mode=0o700, exist_ok=True)
        if self.kind == 'pulseaudio':
            self._spawn(['pulseaudio', '-n', '--daemonize=no', '--exit-idle-time=-1', '--use-pid-file=no',
                         '--load=module-native-protocol-unix'], env, 'pulseaudio')
        else:
            if self.bus is None:
                self._start_bus()
            env['DBUS_SESSION_BUS_ADDRESS'] = self.bus_address
            self._wireplumber_config(env)
            pipewire = self._spawn(['pipewire'], env, 'pipewire')
            socket = os.path.join(env['XDG_RUNTIME_DIR'], 'pipewire-0')
            self.desk.wait_for(lambda: pipewire.poll() is not None or os.path.exists(socket),
                               'pipewire to come up', timeout=20)
            self._spawn(['wireplumber'], env, 'wireplumber')
            self._spawn(['pipewire-pulse'], env, 'pipewire-pulse')
        name = 'pulseaudio' if self.kind == 'pulseaudio' else 'pipewire-pulse'
        self.desk.wait_for(lambda: any(p.poll() is not None for p in self.procs) or
                           self.desk.run(['pactl', 'info'], check=False).find('Server Name') >= 0,
                           'the sound server (%s) to come up' % name, timeout=20)
        if any(p.poll() is not None for p in self.procs):
            raise CheckFailed('the sound server (%s) ended at once' % self.kind)
        self.desk.run(['pactl', 'load-module', 'module-null-sink', 'sink_name=' + SINK])
        self.desk.run(['pactl', 'set-default-sink', SINK])
        self.desk.wait_for(lambda: 'Default Sink: ' + SINK in self.desk.run(['pactl', 'info'], check=False),
                           'the null sink to be the default one')
        print('%s up (%s)' % (name, re.search(r'Server Name: (.*)', self.desk.run(['pactl', 'info'])).group(1)))
        before = self.desk.recorded_bytes()
        self.desk.recorder = subprocess.Popen(
            ['parec', '-d', SINK + '.monitor', '--latency-msec=20', '--format=s16le',
             '--rate=%d' % SOUND_RATE, '--channels=1'],
            env=self.desk.env, stdout=self.desk.recording, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        self.desk.wait_for(lambda: self.desk.recorded_bytes() > before, 'the recording of the sound server to start')

    def kill(self):
        """The server gone at once, as in a crash."""
        for p in [self.desk.recorder] + self.procs:
            if p and p.poll() is None:
                p.kill()
                p.wait(5)
        self.desk.recorder = None
        self.procs = []

    def close(self):
        self.kill()
        _stop(self.bus)


def push_up_at_top(desk, origin, layout, size, hear_thump=False):
    """A stone run into its neighbour (with hear_thump, the thump is heard)
    and pushed by hand to the top of the board, where every Up press is a
    stop with the buzz."""
    start = desk.recorded_bytes()
    i, stopped = run_into_neighbour(desk, origin, layout, size)
    if hear_thump:
        low, buzz = listen(desk, start, 'a stone ran into another')
        if low < 0.5:
            raise CheckFailed('a stone that runs into another should thump (most of the sound below 300 Hz), '
                              'but only %d%% of it is that low' % round(100 * low))
    desk.key(*(['Up'] * (stopped[1] - 1)))
    top = moved_to(stopped, stopped[0], 1)
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, top, STONE_RGB[i], ring=False) is None,
                  'stone %d pushed by hand to the top of the board' % i)
    return i, top


def hears_buzz(desk, what):
    start = desk.recorded_bytes()
    desk.key('Up')
    low, buzz = listen(desk, start, what)
    if buzz < 0.5:
        raise CheckFailed('after %s the buzz should be heard (most of the sound between 450 and 1300 Hz), '
                          'but only %d%% of it is there' % (what, round(100 * buzz)))


def no_sound_talk(desk):
    about_sound = [line for line in desk.game_output() if re.search('pulse|audio|sound|pipewire', line, re.I)]
    if about_sound:
        raise CheckFailed('the game wrote about sound on the terminal:\n' + '\n'.join(about_sound))


def keeps_playing(desk, origin, i, top, what):
    """The game is alive and takes keys at once: the stone steps down and
    back up again within a second."""
    if desk.game.poll() is not None:
        raise CheckFailed('the game ended %s (status %d)' % (what, desk.game.returncode))
    t0 = time.monotonic()
    desk.key('Down')
    down = moved_to(top, top[0], top[1] + 1)
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, down, STONE_RGB[i], ring=False) is None,
                  'the stone to step down %s' % what, timeout=3)
    desk.key('Up')
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, top, STONE_RGB[i], ring=False) is None,
                  'the stone to step up again %s' % what, timeout=3)
    print('%s the game took two keys in %.1f s' % (what, time.monotonic() - t0))


def sound_check(kind, late=False, restart=False):
    def check(desk, args):
        server = SoundServer(desk, kind)
        try:
            if not late:
                server.start()
            desk.start_game()
            origin, layout, size = start_board(desk)
            i, top = push_up_at_top(desk, origin, layout, size, hear_thump=not late)
            if late:
                # Cues while there is no server: silent, and nothing waits.
                desk.key('Up', 'Up', 'Up')
                keeps_playing(desk, origin, i, top, 'with no sound server')
                server.start()
            hears_buzz(desk, 'a stone pushed against the edge')
            if restart:
                # Killed while cues play, then started again.
                pushes = subprocess.Popen(['xdotool', 'key', '--delay', '120'] + ['Up'] * 10, env=desk.env)
                time.sleep(0.5)
                server.kill()
                pushes.wait(20)
                keeps_playing(desk, origin, i, top, 'with the sound server killed')
                server.start()
                hears_buzz(desk, 'the sound server was started again and a stone pushed against the edge')
            keeps_playing(desk, origin, i, top, 'at the end')
            no_sound_talk(desk)
        finally:
            server.close()
    return check


# A private print service: its own socket, spool, configuration and logs in
# the check's folder, with one queue, the default, that refuses every job.
class PrintService:
    QUEUE = 'patio_printer'
    REASON = 'Out of stone-coloured paper'

    def __init__(self, desk):
        self.desk = desk
        self.root = os.path.join(desk.tmp, 'cups')
        self.socket = os.path.join(self.root, 'cups.sock')
        self.proc = None

    def start(self):
        root = self.root
        for d in ('etc', 'etc/ppd', 'etc/ssl', 'spool', 'spool/tmp', 'cache', 'state', 'state/certs', 'log',
                  'serverbin/backend', 'printed'):
            os.makedirs(os.path.join(root, d), exist_ok=True)
        # The service's programs are the machine's, but for its one backend,
        # which keeps every job it is given as a file in printed/.
        for d in ('filter', 'daemon', 'cgi-bin', 'monitor', 'notifier', 'driver'):
            if os.path.exists('/usr/lib/cups/' + d):
                os.symlink('/usr/lib/cups/' + d, os.path.join(root, 'serverbin', d))
        backend = os.path.join(root, 'serverbin', 'backend', 'keep')
        with open(backend, 'w') as f:
            f.write('#!/bin/sh\n[ $# -eq 0 ] && { echo "direct keep \\"Unknown\\" \\"Keeps jobs\\""; exit 0; }\n'
                    'if [ -n "$6" ]; then cat "$6"; else cat; fi > "%s/printed/job-$1.pdf"\n' % root)
        os.chmod(backend, 0o700)
        with open(os.path.join(root, 'etc', 'cupsd.conf'), 'w') as f:
            f.write('Listen %s\nLogLevel info\nBrowsing No\nWebInterface No\nDefaultAuthType None\n'
                    '<Location />\n  Order allow,deny\n  Allow all\n</Location>\n'
                    '<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n'
                    % self.socket)
        with open(os.path.join(root, 'etc', 'cups-files.conf'), 'w') as f:
            f.write('ServerRoot %(r)s/etc\nServerBin %(r)s/serverbin\nRequestRoot %(r)s/spool\n'
                    'TempDir %(r)s/spool/tmp\nCacheDir %(r)s/cache\nStateDir %(r)s/state\n'
                    'AccessLog %(r)s/log/access_log\nErrorLog %(r)s/log/error_log\nPageLog %(r)s/log/page_log\n'
                    'Printcap %(r)s/printcap\nSystemGroup root\n' % {'r': root})
        env = dict(self.desk.env)
        env.pop('DISPLAY')
        env.pop('CUPS_SERVER')
        self.proc = subprocess.Popen(['cupsd', '-f', '-c', os.path.join(root, 'etc', 'cupsd.conf'),
                                      '-s', os.path.join(root, 'etc', 'cups-files.conf')],
                                     env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     preexec_fn=_die_with_parent)
        self.desk.env['CUPS_SERVER'] = self.socket
        self.desk.wait_for(lambda: self.proc.poll() is not None or
                           self.lp(['lpstat', '-r'], check=False).find('is running') >= 0,
                           'the print service (cupsd) to come up', timeout=20)
        if self.proc.poll() is not None:
            raise CheckFailed('the print service (cupsd) ended at once; its log:\n' + self.log())
        self.lp(['lpadmin', '-p', self.QUEUE, '-E', '-v', 'keep:/'])
        self.lp(['lpadmin', '-d', self.QUEUE])
        self.lp(['cupsreject', '-r', self.REASON, self.QUEUE])
        status = self.lp(['lpstat', '-a', self.QUEUE])
        if 'not accepting' not in status:
            raise CheckFailed('the queue should refuse jobs, but lpstat says: ' + status.strip())
        print(status.strip().splitlines()[0])

    def lp(self, argv, check=True):
        return self.desk.run(argv, check=check)

    def log(self):
        try:
            return open(os.path.join(self.root, 'log', 'error_log')).read()[-3000:]
        except OSError:
            return '(no log)'

    def jobs(self):
        return self.lp(['lpstat', '-W', 'all', '-o']).strip()

    def printed(self):
        """The jobs the queue has printed, as their files."""
        folder = os.path.join(self.root, 'printed')
        return sorted(os.path.join(folder, n) for n in os.listdir(folder))

    def close(self):
        _stop(self.proc)


def check_print_refused(desk, args):
    service = PrintService(desk)
    try:
        service.start()
        desk.start_game()
        wait_for_title(desk)
        desk.key('ctrl+p')
        dialog = new_window(desk, [desk.main_window], 'a print dialog after Ctrl+P', DEFAULT_TIMEOUT)
        desk.wait_for(lambda: desk.run(['xdotool', 'getactivewindow'], check=False).strip() == dialog,
                      'the print dialog to get the keyboard focus')
        time.sleep(0.5)  # the dialog asks the service for its printers
        desk.key('Return')  # Print, on the default printer
        box = new_window(desk, [desk.main_window, dialog], 'a message that the print job failed', DEFAULT_TIMEOUT)
        text = message_text(desk, box)
        expect_in(text, 'Failed to start print job.', 'the message')
        expect_in(text, service.QUEUE, 'the message')
        expect_in(text, 'not accepting jobs', 'the message, in the print service\'s words,')
        print('the message says: %s' % ' / '.join(l for l in text.splitlines() if l and not l.startswith('---')))
        desk.key('Return')
        desk.wait_for(lambda: desk.game_windows() == [desk.main_window], 'the message to close, leaving no other box',
                      describe=lambda: 'the windows %s are open' % desk.game_windows())
        time.sleep(1.0)
        if desk.game_windows() != [desk.main_window]:
            raise CheckFailed('a second message followed the first: %s' % desk.game_windows())
        if service.jobs():
            raise CheckFailed('the refused job is queued after all: ' + service.jobs())
        if desk.game.poll() is not None:
            raise CheckFailed('the game ended after the refused job (status %d)' % desk.game.returncode)
        # The queue takes jobs again: the next Ctrl+P prints one page, once.
        service.lp(['cupsaccept', service.QUEUE])
        desk.run(['xdotool', 'windowactivate', desk.main_window], check=False)
        desk.key('ctrl+p')
        dialog = new_window(desk, [desk.main_window], 'a print dialog after Ctrl+P', DEFAULT_TIMEOUT)
        desk.wait_for(lambda: desk.run(['xdotool', 'getactivewindow'], check=False).strip() == dialog,
                      'the print dialog to get the keyboard focus')
        time.sleep(0.5)
        desk.key('Return')
        desk.wait_for(lambda: service.printed() and desk.game_windows() == [desk.main_window],
                      'the job to be printed', describe=lambda: 'the queue has printed %d jobs, the game shows %s'
                      % (len(service.printed()), desk.game_windows()))
        time.sleep(1.0)
        if len(service.printed()) != 1:
            raise CheckFailed('one Ctrl+P printed %d jobs' % len(service.printed()))
        with open(service.printed()[0], 'rb') as f:
            pdf = f.read()
        if not pdf.startswith(b'%PDF') or pdf.count(b'/Type /Page\n') != 1:
            raise CheckFailed('the printed job is no one-page PDF (%d bytes)' % len(pdf))
        print('the queue taking jobs again printed one job of one page')
        desk.run(['xdotool', 'windowactivate', desk.main_window], check=False)
        start_board(desk)
    finally:
        service.close()


# --- Players' desktops: mutter, i3, xfwm4 with its panel ---------------------
#
# The game under the window managers and compositors players run, each
# started by the check: GNOME's mutter headless (natively on Wayland and
# through XWayland), and on Xvfb the tiling i3 and Xfce's xfwm4 with its top
# panel. Servers that refuse to run as root run as the user nobody, in a
# runtime folder and a home of the check's own; every session has a D-Bus
# session bus of its own.

def _unprivileged():
    """The argv prefix that runs a program as nobody when the check runs as
    root, and the uid and gid it runs with."""
    if os.geteuid() != 0:
        return [], os.getuid(), os.getgid()
    import pwd
    user = pwd.getpwnam('nobody')
    return ['setpriv', '--reuid=%d' % user.pw_uid, '--regid=%d' % user.pw_gid, '--clear-groups'], \
        user.pw_uid, user.pw_gid


def _gi_python():
    """A Python that has GObject introspection (Gio, GStreamer): this one,
    or the system's where this one is a private build."""
    prefix = _unprivileged()[0]
    for exe in (sys.executable, '/usr/bin/python3'):
        if exe and subprocess.run(prefix + [exe, '-c', 'import gi'], capture_output=True).returncode == 0:
            return exe
    raise CheckFailed('no Python with GObject introspection (python3-gi) to talk to the compositor')


def _session_bus(desk, folder, prefix, env):
    """A D-Bus session bus of its own in folder; returns its address."""
    path = os.path.join(folder, 'bus')
    bus = subprocess.Popen(prefix + ['dbus-daemon', '--session', '--address=unix:path=' + path,
                                     '--nofork', '--nopidfile', '--print-address'],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           preexec_fn=_die_with_parent)
    desk.extra_procs.append(bus)
    line = bus.stdout.readline()  # printed once it listens
    if not line:
        raise CheckFailed('the session bus (dbus-daemon) did not start')
    return 'unix:path=' + path


# Keys by the names the checks use (xdotool's), as X keysyms.
KEYSYMS = {
    'space': 0x20, 'Return': 0xff0d, 'Escape': 0xff1b, 'Left': 0xff51, 'Up': 0xff52,
    'Right': 0xff53, 'Down': 0xff54, 'Page_Up': 0xff55, 'Page_Down': 0xff56, 'End': 0xff57,
    'Home': 0xff50, 'F1': 0xffbe, 'F4': 0xffc1, 'F8': 0xffc5, 'F10': 0xffc7, 'F11': 0xffc8,
    'ctrl': 0xffe3, 'alt': 0xffe9, 'super': 0xffeb, 'shift': 0xffe1,
}
BTN_LEFT = 0x110


# The compositor's RemoteDesktop and ScreenCast sessions, kept open by one
# long-lived client: it runs in a Python with GObject introspection and takes
# one command a line on stdin, answering "ok" (a screenshot: its width and
# height, then the RGB bytes).
MUTTER_REMOTE = r'''
import sys, time
import gi
gi.require_version('Gst', '1.0')
from gi.repository import Gio, GLib, Gst

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)

def proxy(name, path, iface):
    return Gio.DBusProxy.new_sync(bus, Gio.DBusProxyFlags.NONE, None, name, path, iface, None)

def call(p, method, args=None):
    return p.call_sync(method, args, Gio.DBusCallFlags.NONE, 10000, None)

RD, SC = 'org.gnome.Mutter.RemoteDesktop', 'org.gnome.Mutter.ScreenCast'
rd = proxy(RD, '/org/gnome/Mutter/RemoteDesktop', RD)
session = proxy(RD, call(rd, 'CreateSession').unpack()[0], RD + '.Session')
session_id = session.get_cached_property('SessionId').unpack()
sc = proxy(SC, '/org/gnome/Mutter/ScreenCast', SC)
cast = proxy(SC, call(sc, 'CreateSession', GLib.Variant(
    '(a{sv})', ({'remote-desktop-session-id': GLib.Variant('s', session_id)},))).unpack()[0], SC + '.Session')
stream_path = call(cast, 'RecordMonitor', GLib.Variant(
    '(sa{sv})', (sys.argv[1], {'cursor-mode': GLib.Variant('u', 0)}))).unpack()[0]
stream = proxy(SC, stream_path, SC + '.Stream')
node = []
loop = GLib.MainLoop()

def on_signal(p, sender, name, params):
    if name == 'PipeWireStreamAdded':
        node.append(params.unpack()[0])
        loop.quit()
stream.connect('g-signal', on_signal)
call(session, 'Start')
GLib.timeout_add(15000, loop.quit)
loop.run()
if not node:
    sys.exit('no PipeWire stream from the screen cast')

Gst.init(None)
pipe = Gst.parse_launch('pipewiresrc path=%d always-copy=true ! videoconvert ! video/x-raw,format=RGB '
                        '! appsink name=sink max-buffers=1 drop=true sync=false' % node[0])
sink = pipe.get_by_name('sink')
pipe.set_state(Gst.State.PLAYING)
last = [None]

def frame(timeout):
    sample = sink.emit('try-pull-sample', int(timeout * Gst.SECOND))
    if sample is not None:
        s = sample.get_caps().get_structure(0)
        w, h = s.get_value('width'), s.get_value('height')
        buf = sample.get_buffer()
        data = buf.extract_dup(0, buf.get_size())
        stride = len(data) // h
        if stride != w * 3:
            data = b''.join(data[y * stride:y * stride + w * 3] for y in range(h))
        last[0] = (w, h, data)
    return last[0]

out = sys.stdout.buffer
if frame(15) is None:
    sys.exit('no frame from the screen cast')
out.write(b'ready\n')
out.flush()
ctx = GLib.MainContext.default()
for line in sys.stdin:
    cmd = line.split()
    while ctx.pending():
        ctx.iteration(False)
    if not cmd:
        continue
    if cmd[0] == 'shot':
        w, h, data = frame(0.05)
        out.write(b'%d %d\n' % (w, h) + data)
    else:
        if cmd[0] == 'key':
            call(session, 'NotifyKeyboardKeysym', GLib.Variant('(ub)', (int(cmd[1]), cmd[2] == '1')))
        elif cmd[0] == 'button':
            call(session, 'NotifyPointerButton', GLib.Variant('(ib)', (int(cmd[1]), cmd[2] == '1')))
        elif cmd[0] == 'motion':
            for k in range(1, len(cmd), 2):
                call(session, 'NotifyPointerMotionAbsolute',
                     GLib.Variant('(sdd)', (stream_path, float(cmd[k]), float(cmd[k + 1]))))
                if len(cmd) > 3:
                    time.sleep(0.004)
        elif cmd[0] == 'sleep':
            time.sleep(float(cmd[1]))
        out.write(b'ok\n')
    out.flush()
pipe.set_state(Gst.State.NULL)
'''


class PlayersDesktop:
    """What the checks of this section ask of a desktop, beside Desktop's
    own: where the game may draw (the work area), and the window actions a
    player takes."""

    def work_area(self):
        return (0, 0, self.width, self.height)

    def focus_game(self, title):
        pass

    def window_actions(self):
        """Steps (what, do, expect): expect 'same' for the game screen back
        where it was, 'moved' for it shown whole elsewhere or scaled down,
        'any' for it shown whole or not at all (another workspace)."""
        wid = self.main_window
        wm = ['wmctrl', '-i', '-r', wid, '-b']
        return [
            ('the maximise toggle (restore)', wm + ['remove,maximized_vert,maximized_horz'], 'any'),
            ('a resize request to 1000x700', ['xdotool', 'windowsize', wid, '1000', '700'], 'moved'),
            ('the maximise toggle (maximise)', wm + ['add,maximized_vert,maximized_horz'], 'same'),
            ('fullscreen', wm + ['add,fullscreen'], 'moved'),
            ('fullscreen again (leave)', wm + ['remove,fullscreen'], 'same'),
            ('a switch to the second workspace', ['wmctrl', '-s', '1'], 'any'),
            ('the switch back', ['wmctrl', '-s', '0'], 'same'),
        ]

    def act(self, argv):
        self.run(argv)


class XPanelDesktop(PlayersDesktop, Desktop):
    """Xvfb with i3 (Debian's configuration without its autostarted
    programs: its bar stays) or with xfwm4 and xfce4-panel (the default top
    panel, on a session bus of its own for xfconf)."""

    def __init__(self, slabix, width, height, **options):
        Desktop.__init__(self, slabix, width, height, **options)
        self.extra_procs = []

    def close(self):
        _stop(self.game)
        for proc in reversed(self.extra_procs):
            _stop(proc)
        Desktop.close(self)

    def _start_wm(self):
        if self.wm_name == 'i3':
            with open('/etc/i3/config') as f:
                conf = [line for line in f if not line.lstrip().startswith('exec')]
            path = os.path.join(self.tmp, 'i3.config')
            with open(path, 'w') as f:
                f.writelines(conf)
            argv = ['i3', '-c', path]
        else:
            bus = os.path.join(self.tmp, 'bus')
            os.makedirs(bus, mode=0o700)
            # The panel's plugins ask the system bus; the machine's is not theirs.
            self.env['DBUS_SYSTEM_BUS_ADDRESS'] = 'unix:path=' + os.path.join(bus, 'no-system-bus')
            self.env['DBUS_SESSION_BUS_ADDRESS'] = _session_bus(self, bus, [], self.env)
            # The panel's own default, so that it asks no first-start question.
            xml = os.path.join(self.env['XDG_CONFIG_HOME'], 'xfce4', 'xfconf', 'xfce-perchannel-xml')
            os.makedirs(xml)
            shutil.copy('/etc/xdg/xfce4/panel/default.xml', os.path.join(xml, 'xfce4-panel.xml'))
            argv = ['xfwm4', '--compositor=off']
        self.wm = subprocess.Popen(argv, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   preexec_fn=_die_with_parent)
        self.wait_for(lambda: 'window id' in self.run(['xprop', '-root', '_NET_SUPPORTING_WM_CHECK']),
                      'the window manager (%s) to come up' % self.wm_name, timeout=20)
        if self.wm_name == 'i3':
            self.wait_for(lambda: self.run(['xdotool', 'search', '--class', 'i3bar'], check=False).split(),
                          'the bar of i3 (i3bar)', timeout=20)
        else:
            self.extra_procs.append(subprocess.Popen(
                ['xfce4-panel'], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent))
            self.wait_for(lambda: self.work_area() != (0, 0, self.width, self.height),
                          'the panel (xfce4-panel) to take its place (_NET_WORKAREA)', timeout=30)

    def work_area(self):
        if self.wm_name == 'i3':
            # i3 tiles around its bar, which it does not announce as a work area.
            top, bottom = 0, self.height
            for wid in self.run(['xdotool', 'search', '--class', 'i3bar'], check=False).split():
                x, y, w, h = self.window_geometry(wid)
                if h < self.height // 4:
                    if y == 0:
                        top = max(top, h)
                    else:
                        bottom = min(bottom, y)
            return (0, top, self.width, bottom)
        out = self.run(['xprop', '-root', '_NET_WORKAREA'], check=False)
        vals = [int(v) for v in re.findall(r'\d+', out.split('=', 1)[-1])] if '=' in out else []
        if len(vals) < 4:
            return (0, 0, self.width, self.height)
        x, y, w, h = vals[:4]
        return (x, y, x + w, y + h)

    def window_actions(self):
        if self.wm_name != 'i3':
            return PlayersDesktop.window_actions(self)
        # i3 tiles: a floating window takes resize requests; fullscreen and
        # workspaces are its own commands.
        wid = self.main_window
        i3 = lambda cmd: ['i3-msg', '[id=%d] %s' % (int(wid, 0), cmd)]
        return [
            ('floating (out of the tiles)', i3('floating enable'), 'any'),
            ('a resize request to 1000x700', ['xdotool', 'windowsize', wid, '1000', '700'], 'moved'),
            ('tiled again', i3('floating disable'), 'same'),
            ('fullscreen', i3('fullscreen enable'), 'moved'),
            ('fullscreen again (leave)', i3('fullscreen disable'), 'same'),
            ('a switch to the second workspace', ['i3-msg', 'workspace 2'], 'any'),
            ('the switch back', ['i3-msg', 'workspace 1'], 'same'),
        ]


class MutterDesktop(PlayersDesktop, Desktop):
    """GNOME's compositor, mutter, headless with one virtual monitor, its
    XWayland, and the PipeWire and session manager its screen cast needs,
    all as nobody on a session bus of their own. The game starts as a
    GNOME session starts it: natively, or with platform xcb through
    XWayland. Screenshots come from a ScreenCast stream, keys and the
    pointer go through the RemoteDesktop session linked to it; the window
    actions are mutter's own keyboard shortcuts (natively) or EWMH requests
    (through XWayland)."""

    SOCKET = 'slabix-e2e-mutter'

    def __init__(self, slabix, width, height, platform=None, **options):
        Desktop.__init__(self, slabix, width, height, **options)
        self.platform = platform
        self.wm_name = 'mutter' + (' through XWayland' if platform == 'xcb' else '')
        self.extra_procs = []
        self.remote = self.compositor = None
        self.main_window = None

    def _start(self):
        self._start_compositor()

    def close(self):
        _stop(self.game)
        if self.remote:
            _stop(self.remote)
        _stop(self.compositor, grace=5.0)
        for proc in reversed(self.extra_procs):
            _stop(proc)
        Desktop.close(self)

    def _start_compositor(self):
        prefix, uid, gid = _unprivileged()
        os.chown(self.tmp, uid, gid)
        runtime = os.path.join(self.tmp, 'mutter-runtime')
        home = os.path.join(self.tmp, 'mutter-home')
        for d in (runtime, home):
            os.makedirs(d, mode=0o700)
            os.chown(d, uid, gid)
        # XWayland puts its socket there, and mutter wants the usual sticky,
        # world-writable folder (a server run as another user may have made it
        # with other rights).
        x11 = '/tmp/.X11-unix'
        if not os.path.isdir(x11):
            os.makedirs(x11, exist_ok=True)
            os.chmod(x11, 0o1777)
        elif os.stat(x11).st_mode & 0o1777 != 0o1777:
            if os.geteuid() != 0:
                raise CheckFailed('%s is not world-writable, and mutter needs it so' % x11)
            os.chmod(x11, 0o1777)
        env = {'PATH': '/usr/local/bin:/usr/bin:/bin', 'HOME': home, 'XDG_RUNTIME_DIR': runtime,
               'XDG_CONFIG_HOME': os.path.join(home, '.config'), 'LANG': 'C.UTF-8',
               'GSETTINGS_BACKEND': 'keyfile', 'XDG_CURRENT_DESKTOP': 'GNOME',
               # mutter asks the system bus (logind, locale, colord); the
               # machine's is not the check's.
               'DBUS_SYSTEM_BUS_ADDRESS': 'unix:path=' + os.path.join(runtime, 'no-system-bus')}
        # Two fixed workspaces, and a shortcut for fullscreen (GNOME has none
        # by default).
        settings = os.path.join(home, '.config', 'glib-2.0', 'settings')
        os.makedirs(settings)
        with open(os.path.join(settings, 'keyfile'), 'w') as f:
            f.write("[org/gnome/mutter]\ndynamic-workspaces=false\n\n"
                    "[org/gnome/desktop/wm/preferences]\nnum-workspaces=2\n\n"
                    "[org/gnome/desktop/wm/keybindings]\ntoggle-fullscreen=['<Super>f']\n")
        for root, dirs, files in os.walk(home):
            for name in dirs + files:
                os.chown(os.path.join(root, name), uid, gid)
        env['DBUS_SESSION_BUS_ADDRESS'] = _session_bus(self, runtime, prefix, env)
        self.mutter_env = env

        def spawn(argv, log):
            proc = subprocess.Popen(prefix + argv, env=env, stdout=open(os.path.join(self.tmp, log), 'w'),
                                    stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)
            self.extra_procs.append(proc)
            return proc
        spawn(['pipewire'], 'pipewire.log')
        self.wait_for(lambda: os.path.exists(os.path.join(runtime, 'pipewire-0')), 'pipewire to listen')
        spawn(['wireplumber'], 'wireplumber.log')
        log = os.path.join(self.tmp, 'mutter.log')
        self.compositor = subprocess.Popen(
            prefix + ['mutter', '--headless', '--wayland', '--wayland-display=' + self.SOCKET,
                      '--virtual-monitor', '%dx%d' % (self.width, self.height)],
            env=env, stdout=open(log, 'w'), stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)

        def ready():
            if self.compositor.poll() is not None:
                with open(log) as f:
                    raise CheckFailed('the compositor (mutter) ended at once:\n' + f.read()[-2000:])
            with open(log) as f:
                found = re.findall(r'Using public X11 display (:\d+)', f.read())
            return found and os.path.exists(os.path.join(runtime, self.SOCKET)) and \
                subprocess.run(prefix + ['gdbus', 'introspect', '--session', '-d', 'org.gnome.Mutter.RemoteDesktop',
                                         '-o', '/org/gnome/Mutter/RemoteDesktop'],
                               env=env, capture_output=True).returncode == 0 and found[-1]
        self.display = self.wait_for(ready, 'the compositor (mutter), its X server and its RemoteDesktop', timeout=30)
        self.env = self._env()
        auth = glob.glob(os.path.join(runtime, '.mutter-Xwaylandauth.*'))
        if auth:
            self.env['XAUTHORITY'] = auth[0]
        self.env.update(WAYLAND_DISPLAY=os.path.join(runtime, self.SOCKET), XDG_SESSION_TYPE='wayland')
        self._open_remote()

    def _open_remote(self):
        prefix, uid, gid = _unprivileged()
        self.remote = subprocess.Popen(prefix + [_gi_python(), '-c', MUTTER_REMOTE, 'Meta-0'],
                                       env=self.mutter_env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=open(os.path.join(self.tmp, 'remote.log'), 'w'),
                                       preexec_fn=_die_with_parent)
        if self.remote.stdout.readline() != b'ready\n':
            with open(os.path.join(self.tmp, 'remote.log')) as f:
                raise CheckFailed('no RemoteDesktop and ScreenCast session with mutter:\n' + f.read()[-2000:])
        # The first key of a session only sets up its keyboard: a Shift,
        # before anything listens.
        self.key('shift')

    def _tell(self, line):
        try:
            self.remote.stdin.write(line.encode() + b'\n')
            self.remote.stdin.flush()
            answer = self.remote.stdout.readline()
        except (BrokenPipeError, OSError):
            answer = b''
        if not answer:
            with open(os.path.join(self.tmp, 'remote.log')) as f:
                raise CheckFailed('the RemoteDesktop session ended:\n' + f.read()[-2000:])
        return answer

    def start_game(self, args=()):
        env = dict(self.env)
        if self.platform:
            env['QT_QPA_PLATFORM'] = self.platform
        self.game_out = open(os.path.join(self.tmp, 'game.out'), 'w+')
        self.game_err = open(os.path.join(self.tmp, 'game.err'), 'w+')
        self.game = subprocess.Popen([self.slabix] + list(args), env=env,
                                     stdout=self.game_out, stderr=self.game_err,
                                     preexec_fn=_die_with_parent)
        if self.platform == 'xcb':
            self.main_window = self.wait_for(lambda: self.game_windows()[:1],
                                             'the game window on the X server of XWayland', timeout=20)[0]

    def focus_game(self, title):
        if self.platform is None and self.game_windows():
            raise CheckFailed('the game opened a window on the X server of XWayland, not a Wayland one')
        # A new window does not get the keyboard by itself in headless mutter;
        # a click gives it: on the menu bar, right of its menus.
        self.run_remote('motion %d %d' % (title[2] - 20, title[1] - 14))
        self.run_remote('sleep 0.1')
        self.run_remote('button %d 1' % BTN_LEFT)
        self.run_remote('button %d 0' % BTN_LEFT)
        self.run_remote('sleep 0.2')

    def run_remote(self, line):
        self._tell(line)

    def key(self, *keys, delay=30):
        for combo in keys:
            parts = combo.split('+')
            syms = [KEYSYMS.get(p.lower() if len(p) > 1 and p.lower() in KEYSYMS else p, None) or
                    (ord(p) if len(p) == 1 else None) for p in parts]
            if None in syms:
                raise CheckFailed('no keysym known for %s' % combo)
            for s in syms:
                self._tell('key %d 1' % s)
            for s in reversed(syms):
                self._tell('key %d 0' % s)
            self._tell('sleep %g' % (delay / 1000.0))

    def press(self, x, y):
        self._tell('motion %d %d' % (x, y))
        self._tell('sleep 0.1')
        self._tell('button %d 1' % BTN_LEFT)
        self._tell('sleep 0.1')

    def release(self):
        self._tell('button %d 0' % BTN_LEFT)
        self._tell('sleep 0.1')

    def move(self, start, end, step=6):
        points = []
        x, y = start
        while (x, y) != tuple(end):
            x += max(-step, min(step, end[0] - x))
            y += max(-step, min(step, end[1] - y))
            points += [str(x), str(y)]
        for k in range(0, len(points), 400):
            self._tell('motion ' + ' '.join(points[k:k + 400]))

    def shot(self, full=False):
        self.remote.stdin.write(b'shot\n')
        self.remote.stdin.flush()
        head = self.remote.stdout.readline().split()
        if len(head) != 2:
            raise CheckFailed('no screenshot from the screen cast')
        w, h = int(head[0]), int(head[1])
        raw = self.remote.stdout.read(w * h * 3)
        if (w, h) != (self.width, self.height) or len(raw) != w * h * 3:
            raise CheckFailed('the screen cast gave a %dx%d frame, not %dx%d' % (w, h, self.width, self.height))
        self.last_shot = Shot(raw, w, h)
        return self.last_shot

    def window_actions(self):
        if self.platform == 'xcb':
            return PlayersDesktop.window_actions(self)
        keys = lambda *k: ('keys',) + k
        return [
            ('Super+Down (restore)', keys('super+Down'), 'any'),
            ('Super+Left (tiled to the left half)', keys('super+Left'), 'moved'),
            ('Super+Up (maximise)', keys('super+Up'), 'same'),
            ('Super+F (fullscreen)', keys('super+f'), 'moved'),
            ('Super+F again (leave fullscreen)', keys('super+f'), 'same'),
            ('Super+Page_Down (the second workspace)', keys('super+Page_Down'), 'any'),
            ('Super+Page_Up (back)', keys('super+Page_Up'), 'same'),
        ]

    def act(self, argv):
        if argv[0] == 'keys':
            self.key(*argv[1:])
            return
        before = self.window_geometry(self.main_window)
        self.run(argv)
        if any('fullscreen' in a for a in argv):
            # The screen cast stops sending frames when an X window goes
            # into or out of fullscreen; once the window has its new size, a
            # new session sees it again.
            self.wait_for(lambda: self.window_geometry(self.main_window) != before,
                          'the game window to change its size for %s' % argv[-1])
            def settled():
                now = self.window_geometry(self.main_window)
                time.sleep(0.3)
                return self.window_geometry(self.main_window) == now
            self.wait_for(settled, 'the game window to settle after %s' % argv[-1])
            _stop(self.remote)
            self._open_remote()


# What the game screen looks like from outside -------------------------------

def pale_rect(shot, colour=PALE_YELLOW):
    """The title screen on the screen: the rectangle (left, top, right,
    bottom) of its pale yellow (or of a notice's red), from its widest row
    and its left column; None when there is none 1000 pixels wide."""
    pale = re.compile(b'(?:' + re.escape(bytes(colour)) + b'){1000,}')
    best = None
    for y in range(0, shot.height, 4):
        for m in pale.finditer(shot.row(y, 0, shot.width)):
            start = m.start() + (-m.start() % 3)
            run = (start // 3, m.end() // 3, y)
            if best is None or run[1] - run[0] > best[1] - best[0]:
                best = run
    if best is None:
        return None
    x0, x1, y = best
    col = x0 + 2
    top, bottom = y, y
    while top > 0 and shot.px(col, top - 1) == colour:
        top -= 1
    while bottom + 1 < shot.height and shot.px(col, bottom + 1) == colour:
        bottom += 1
    return (x0, top, x1, bottom + 1)


def unit_for(width, height):
    return 12 if width < 1276 else (16 if width >= 1596 else (14 if height > 960 else 13))


def inside(rect, area, slack=0):
    """Whether rect lies in area with at least one pixel of it all round
    (what lies around a game screen shows it ends there), give or take slack."""
    return rect[0] > area[0] - slack and rect[1] > area[1] - slack and \
        rect[2] < area[2] + slack and rect[3] < area[3] + slack


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


def wait_for_first_title(desk):
    """Watches the screen from the start of the game until the title screen
    shows; fails on a red notice at any time before. Returns the title
    screen's rectangle."""
    t0 = time.monotonic()
    seen = []

    def title():
        shot = desk.shot()
        red = shot.shares((0, 0, desk.width, desk.height)).get('red', 0)
        if red > 0.05:
            raise CheckFailed('the red screen-size notice showed at the start: ' + shot.describe())
        rect = pale_rect(shot)
        seen.append(rect)
        return rect
    rect = desk.wait_for(title, 'the pale yellow title screen', timeout=20,
                         describe=lambda: desk.last_shot.describe())
    # The first title screen is the one that stays: no second layout.
    later = desk.wait_for(lambda: pale_rect(desk.shot()), 'the title screen a moment later')
    if later != rect:
        raise CheckFailed('the title screen first showed at %s, then moved to %s' % (rect, later))
    print('the title screen at %s, %.1f s after the start' % (rect, time.monotonic() - t0))
    return rect


def dirt_box(shot):
    """Bounding box of the runs of exact dirt colour at least 20 pixels long."""
    dirt = re.compile(b'(?:' + re.escape(bytes(DIRT)) + b'){20,}')
    box = None
    for y in range(shot.height):
        for m in dirt.finditer(shot.row(y, 0, shot.width)):
            if m.start() % 3:
                continue
            x0, x1 = m.start() // 3, m.end() // 3
            box = (x0, y, x1, y + 1) if box is None else \
                (min(box[0], x0), box[1], max(box[2], x1), y + 1)
    return box


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


def drag_one(desk, origin, layout, size):
    """Drags the largest stone that has a free way onto the patio there;
    returns its number and its new place."""
    places = LAYOUTS[layout]
    dest = (INSIDE[0] + 20, INSIDE[1] + 20)
    planner = Planner(enumerate(places), *size)
    for i in sorted(range(12), key=lambda k: -(places[k][2] - places[k][0]) * (places[k][3] - places[k][1])):
        rect = places[i]
        if dest[0] + rect[2] - rect[0] + 10 > INSIDE[2] or dest[1] + rect[3] - rect[1] > INSIDE[3]:
            continue
        path = planner.route(i, dest)
        if path:
            break
    else:
        raise CheckFailed('no stone of layout %d has a free way onto the patio' % (layout + 1))
    drag_stone(desk, origin, rect, path, STONE_RGB[i])
    new = moved_to(rect, *dest)
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, new, STONE_RGB[i]) is None,
                  'stone %d dragged to %s' % (i, new),
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, new, STONE_RGB[i]) or ''))
    ox, oy = origin
    if not desk.last_shot.is_filled((rect[0] + ox, rect[1] + oy, rect[2] + ox, rect[3] + oy), WHITE):
        raise CheckFailed('after the drag the stone\'s old place %s is not all white' % (rect,))
    n = dirt_count(desk.last_shot, origin)
    if n != INSIDE_AREA - (rect[2] - rect[0]) * (rect[3] - rect[1]):
        raise CheckFailed('after the drag onto the patio, %d dirt pixels show' % n)
    return i, new


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


# Screen changes and scales under X ------------------------------------------

def _stop_game(desk):
    _stop(desk.game)
    desk.game = None
    for f in (desk.game_out, desk.game_err):
        f.close()


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
        _stop_game(desk)


GAME_COLOURS = set()  # white, black, the dirt and the stones: filled by load_game_data()


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


# --- sway and kwin: Wayland compositors run by an ordinary user ----------------

# Evdev key codes of the keys the checks press, by their xdotool names.
EVDEV_KEYS = {'space': 57, 'End': 107, 'F1': 59, 'Right': 106, 'Left': 105, 'Up': 103, 'Down': 108,
              'Escape': 1, 'Return': 28}

# A user that owns nothing: the compositors refuse to run as root, and CI
# runs as root.
UNPRIVILEGED_USER = 'nobody'


def window_state_reached(desk, test, what, state):
    """Waits a little for a window action to take effect; a window that
    keeps its size is the game's business, judged by the board after it."""
    try:
        desk.wait_for(test, what, timeout=5)
    except CheckFailed:
        print('  (waited 5 s for %s; it is %s)' % (what, state()))


class CompositorDesktop(Desktop):
    """A Wayland compositor of the check's own with its XWayland, run as an
    unprivileged user in a session folder that user owns (runtime folder and
    home); the game runs as the check's own user, natively (WAYLAND_DISPLAY is
    the compositor's socket, by its full path) or with platform xcb through
    XWayland. Keys and the mouse come from slabix_wlinput, a client of the
    compositor's virtual input protocol, for Wayland and X windows alike.
    Screenshots are in device pixels; scale is the output's scale, pointer
    positions are given in device pixels too."""

    NAME = 'compositor'

    def __init__(self, slabix, width, height, scale=1, **options):
        super().__init__(slabix, width, height, **options)
        self.output_scale = scale
        self.compositor = self.input = None
        self.main_window = None
        self.game_out = self.game_err = None
        self.helpers = []
        pw = pwd.getpwnam(UNPRIVILEGED_USER)
        self.uid, self.gid = pw.pw_uid, pw.pw_gid
        # The user may pass through the check's folder, not read it.
        os.chmod(self.tmp, 0o711)
        self.session = os.path.join(self.tmp, 'session')
        self.session_runtime = os.path.join(self.session, 'runtime')
        self.session_home = os.path.join(self.session, 'home')
        for d in (self.session, self.session_runtime, self.session_home):
            os.makedirs(d, mode=0o700)
            os.chown(d, self.uid, self.gid)
        self.log_path = os.path.join(self.tmp, self.NAME + '.log')

    @property
    def logical_size(self):
        return int(round(self.width / self.output_scale)), int(round(self.height / self.output_scale))

    def as_user(self):
        return ['setpriv', '--reuid=%d' % self.uid, '--regid=%d' % self.gid, '--clear-groups',
                '--pdeathsig=SIGKILL']

    def user_env(self):
        env = {'PATH': '/usr/local/bin:/usr/bin:/bin', 'HOME': self.session_home,
               'XDG_RUNTIME_DIR': self.session_runtime, 'LANG': 'C.UTF-8',
               'XDG_CONFIG_HOME': os.path.join(self.session_home, '.config')}
        return env

    def user_file(self, name, text):
        path = os.path.join(self.session_home, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'w') as f:
            f.write(text)
        for d in [path] + [p for p in (os.path.dirname(path),) if p != self.session_home]:
            os.chown(d, self.uid, self.gid)
        return path

    def spawn_user(self, argv, env, log=None):
        out = open(log, 'ab') if log else subprocess.DEVNULL
        try:
            proc = subprocess.Popen(self.as_user() + argv, env=env, stdout=out, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL, cwd=self.session_home,
                                    preexec_fn=_die_with_parent)
        finally:
            if log:
                out.close()
        self.helpers.append(proc)
        return proc

    def compositor_log(self):
        try:
            with open(self.log_path, errors='replace') as f:
                return f.read()
        except FileNotFoundError:
            return ''

    def _start(self):
        self.cursor_env = {}
        socket, display = self._start_compositor()
        self.display = display
        # XWayland lets in the session's user alone; the game is the
        # check's.
        me = pwd.getpwuid(os.getuid()).pw_name
        xenv = dict(self.user_env(), DISPLAY=display)
        self.wait_for(lambda: subprocess.run(self.as_user() + ['xhost', '+si:localuser:' + me], env=xenv,
                                             capture_output=True, timeout=20).returncode == 0,
                      'XWayland to let the check\'s user in')
        self.env = self._env()
        self.env.update(self.cursor_env)
        self.env.update(WAYLAND_DISPLAY=socket, XDG_SESSION_TYPE='wayland')
        self._start_input()

    def close(self):
        _stop(self.game)
        if self.input:
            try:
                self.input.stdin.close()
            except OSError:
                pass
            _stop(self.input)
        _stop(self.compositor, grace=5.0)
        for proc in reversed(self.helpers):
            _stop(proc)
        super().close()

    def _start_input(self):
        tool = os.path.join(os.path.dirname(self.slabix), 'slabix_wlinput')
        if not os.access(tool, os.X_OK):
            raise CheckFailed('the input client %s is not built' % tool)
        # It runs as the session's user, from a copy that user can reach: a
        # compositor may offer its input protocols to its own user only.
        copy = os.path.join(self.session, 'slabix_wlinput')
        shutil.copyfile(tool, copy)
        os.chmod(copy, 0o755)
        keymap = subprocess.run(['xkbcli', 'compile-keymap', '--layout', 'us'], capture_output=True,
                                text=True, check=True, timeout=20).stdout
        keymap = self.user_file('keymap.xkb', keymap)
        env = self.user_env()
        env['WAYLAND_DISPLAY'] = self.env['WAYLAND_DISPLAY']
        self.input = subprocess.Popen(self.as_user() + [copy, keymap], env=env, stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                      cwd=self.session_home, preexec_fn=_die_with_parent)
        ready = self.input.stdout.readline()
        if not ready.startswith('ready'):
            raise CheckFailed('the input client did not start: %s' % (ready + self.input.stderr.read()).strip())

    def send(self, *commands):
        """Commands to the input client, each acknowledged once the
        compositor has had it."""
        for c in commands:
            self.input.stdin.write(c + '\n')
        self.input.stdin.flush()
        for c in commands:
            answer = self.input.stdout.readline().strip()
            if answer != 'ok':
                raise CheckFailed('the input client answered "%s" to "%s"' % (answer, c))

    # The game ---------------------------------------------------------------

    def start_game(self, args=(), platform=None):
        env = dict(self.env)
        if platform:
            env['QT_QPA_PLATFORM'] = platform
        self.platform = platform
        self.game_out = open(os.path.join(self.tmp, 'game.out'), 'w+')
        self.game_err = open(os.path.join(self.tmp, 'game.err'), 'w+')
        self.game = subprocess.Popen([self.slabix] + list(args), env=env, stdout=self.game_out,
                                     stderr=self.game_err, preexec_fn=_die_with_parent)

    def stop_game(self):
        _stop(self.game)
        self.game = None
        for f in (self.game_out, self.game_err):
            if f:
                f.close()
        self.game_out = self.game_err = None

    def game_windows(self):
        """The game's X windows through XWayland; none natively."""
        return super().game_windows() if getattr(self, 'platform', None) == 'xcb' else []

    def x_client_width(self):
        """Width of the game's X window (its client area, in device
        pixels), or None natively."""
        if getattr(self, 'platform', None) != 'xcb':
            return None
        wid = self.wait_for(lambda: self.game_windows()[:1], 'the game window on XWayland')[0]
        return self.window_geometry(wid)[2]

    # Input ------------------------------------------------------------------

    def key(self, *keys, delay=30):
        for k in keys:
            if k not in EVDEV_KEYS:
                raise CheckFailed('no key code for %s' % k)
        self.send(*('key %d' % EVDEV_KEYS[k] for k in keys))

    def pointer_to(self, x, y):
        lw, lh = self.logical_size
        s = self.output_scale
        self.send('move %d %d %d %d' % (int(x / s), int(y / s), lw, lh))

    def press(self, x, y):
        self.pointer_to(x, y)
        self.send('down %d' % BTN_LEFT)

    def release(self):
        self.send('up %d' % BTN_LEFT)

    def move(self, start, end, step=6):
        x, y = start
        commands = []
        lw, lh = self.logical_size
        s = self.output_scale
        while (x, y) != tuple(end):
            x += max(-step, min(step, end[0] - x))
            y += max(-step, min(step, end[1] - y))
            commands.append('move %d %d %d %d' % (int(x / s), int(y / s), lw, lh))
        for k in range(0, len(commands), 20):
            self.send(*commands[k:k + 20])

    def park_pointer(self):
        """The pointer in the screen's bottom left corner, off the game screen."""
        self.pointer_to(0, self.height - 1)

    # Screenshots ------------------------------------------------------------

    def save_shot_png(self, path):
        return self.save_last_shot(path)


# Cursor names a program asks for over the game and the desktop.
CURSOR_NAMES = ('left_ptr', 'default', 'arrow', 'top_left_arrow', 'left_arrow', 'pointer', 'hand1', 'hand2',
                'text', 'xterm', 'fleur', 'grabbing', 'closedhand', 'openhand', 'move', 'all-scroll',
                'watch', 'wait', 'progress', 'left_ptr_watch', 'col-resize', 'row-resize', 'n-resize',
                's-resize', 'e-resize', 'w-resize', 'ne-resize', 'nw-resize', 'se-resize', 'sw-resize',
                'ns-resize', 'ew-resize', 'nesw-resize', 'nwse-resize', 'size_ver', 'size_hor',
                'size_bdiag', 'size_fdiag', 'sb_v_double_arrow', 'sb_h_double_arrow', 'top_side',
                'bottom_side', 'left_side', 'right_side', 'top_left_corner', 'top_right_corner',
                'bottom_left_corner', 'bottom_right_corner', 'not-allowed', 'forbidden', 'crosshair')


def write_blank_cursor_theme(folder, name):
    """An Xcursor theme whose every pointer is one transparent pixel: a
    compositor that draws the pointer into its screenshots then draws
    nothing."""
    image = struct.pack('<9I', 36, 0xfffd0002, 24, 1, 1, 1, 0, 0, 0) + struct.pack('<I', 0)
    data = b'Xcur' + struct.pack('<3I', 16, 0x10000, 1) + struct.pack('<3I', 0xfffd0002, 24, 28) + image
    cursors = os.path.join(folder, name, 'cursors')
    os.makedirs(cursors, exist_ok=True)
    with open(os.path.join(folder, name, 'index.theme'), 'w') as f:
        f.write('[Icon Theme]\nName=%s\n' % name)
    for cursor in CURSOR_NAMES:
        with open(os.path.join(cursors, cursor), 'wb') as f:
            f.write(data)


class SwayDesktop(CompositorDesktop):
    """sway headless (its pixman renderer) with the player's default
    configuration, its bar included; screenshots with grim, window commands
    with swaymsg."""

    NAME = 'sway'

    def _start_compositor(self):
        with open('/etc/sway/config') as f:
            lines = [line for line in f.read().splitlines()
                     if not re.match(r'\s*include /etc/sway/config\.d', line)
                     and not re.match(r'\s*output \* bg ', line)]
        # A plain background (the default wallpaper is another package), the
        # check's screen, and XWayland.
        lines += ['output * bg #3f5f7f solid_color',
                  'output HEADLESS-1 resolution %dx%d scale %g' % (self.width, self.height, self.output_scale),
                  'xwayland enable']
        config = self.user_file('sway.conf', '\n'.join(lines) + '\n')
        icons = os.path.join(self.session_home, 'icons')
        write_blank_cursor_theme(icons, 'slabix-blank')
        for folder, dirs, files in os.walk(icons):
            for f in [folder] + [os.path.join(folder, n) for n in files]:
                os.chown(f, self.uid, self.gid)
        self.cursor_env = dict(XCURSOR_PATH=icons, XCURSOR_THEME='slabix-blank', XCURSOR_SIZE='24')
        env = self.user_env()
        env.update(WLR_BACKENDS='headless', WLR_LIBINPUT_NO_DEVICES='1', WLR_RENDERER='pixman',
                   **self.cursor_env)
        self.compositor = self.spawn_user(['sway', '-c', config], env, self.log_path)
        self.helpers.remove(self.compositor)
        rt = self.session_runtime

        def sockets():
            if self.compositor.poll() is not None:
                raise CheckFailed('sway ended at once: %s' % self.compositor_log()[-2000:])
            way = [p for p in glob.glob(os.path.join(rt, 'wayland-*')) if not p.endswith('.lock')]
            ipc = glob.glob(os.path.join(rt, 'sway-ipc.*.sock'))
            return way and ipc and (way[0], ipc[0])
        socket, self.ipc = self.wait_for(sockets, 'sway to come up', timeout=20)
        # XWayland starts when its first client comes; sway names its display.
        marker = os.path.join(rt, 'x-display')
        self.swaymsg('exec', 'echo $DISPLAY > %s.tmp && mv %s.tmp %s' % (marker, marker, marker))

        def display():
            try:
                with open(marker) as f:
                    return f.read().strip()
            except FileNotFoundError:
                return None
        return socket, self.wait_for(display, 'sway to name its X display')

    def swaymsg(self, *args, kind=None):
        argv = ['swaymsg', '-s', self.ipc] + (['-t', kind] if kind else []) + list(args)
        res = subprocess.run(argv, capture_output=True, text=True, timeout=20)
        if res.returncode != 0:
            raise CheckFailed('swaymsg %s failed: %s' % (' '.join(args), (res.stdout + res.stderr).strip()))
        return res.stdout

    def tree_windows(self):
        """(node, workspace name) of every window in sway's tree."""
        import json
        found = []

        def walk(node, ws):
            if node.get('type') == 'workspace':
                ws = node.get('name')
            if node.get('pid') is not None:
                found.append((node, ws))
            for child in node.get('nodes', []) + node.get('floating_nodes', []):
                walk(child, ws)
        walk(json.loads(self.swaymsg(kind='get_tree')), None)
        return found

    def game_node(self):
        if self.game is None:
            return None
        for node, ws in self.tree_windows():
            if node.get('pid') == self.game.pid:
                return node
        return None

    def on_game(self, command):
        self.swaymsg('[pid=%d] %s' % (self.game.pid, command))

    # The game's window ----------------------------------------------------------

    def game_node_now(self):
        return self.wait_for(self.game_node, 'the game window in sway\'s tree')

    def client_width(self):
        """Width of the game window's client area, in device pixels."""
        return self.x_client_width() or int(round(self.game_node_now()['window_rect']['width'] * self.output_scale))

    def frame_problem(self):
        """None when the game window's frame (title bar and borders) lies on
        the screen and the window is maximised; else what is wrong."""
        node = self.game_node_now()
        r = node['rect']
        lw, lh = self.logical_size
        if r['x'] < 0 or r['y'] < 0 or r['x'] + r['width'] > lw or r['y'] + r['height'] > lh:
            return 'the frame %s is not on the %dx%d screen' % (r, lw, lh)
        # sway's own maximised window: tiled, alone on its workspace.
        if node['type'] != 'con':
            return 'the window is not tiled (it is a %s)' % node['type']
        return None

    def window_actions(self):
        def tree_says(test, what):
            return lambda: window_state_reached(self, lambda: test(self.game_node_now()),
                                                'sway to show the game window ' + what,
                                                lambda: self.game_node_now()['rect'])

        def act(command, test, what):
            def do():
                self.on_game(command)
                tree_says(test, what)()
            return do

        def workspace_and_back():
            self.swaymsg('workspace 2')
            self.wait_for(lambda: not self.game_node_now().get('visible'), 'the game window hidden on workspace 2')
            self.swaymsg('workspace 1')
            tree_says(lambda n: n.get('visible'), 'visible again on workspace 1')()
        return [
            ('floating enable (out of the tiling)', act('floating enable', lambda n: n['type'] == 'floating_con',
                                                         'floating'), False),
            ('resize set 1000 700', act('resize set 1000 700', lambda n: n['rect']['width'] == 1000,
                                        '1000 pixels wide'), False),
            ('floating disable (back into the tiling)', act('floating disable', lambda n: n['type'] == 'con',
                                                             'tiled'), True),
            ('fullscreen enable', act('fullscreen enable', lambda n: n.get('fullscreen_mode') == 1,
                                      'fullscreen'), False),
            ('fullscreen disable', act('fullscreen disable', lambda n: n.get('fullscreen_mode') == 0,
                                       'not fullscreen'), True),
            ('workspace 2 and back', workspace_and_back, True),
        ]

    def shot(self, full=False):
        env = dict(self.env)
        res = subprocess.run(['grim', '-t', 'ppm', '-'], env=env, capture_output=True, timeout=30)
        data = res.stdout
        m = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', data)
        if not m or len(data) - m.end() != int(m.group(1)) * int(m.group(2)) * 3:
            raise CheckFailed('could not take a screenshot with grim: %s' % res.stderr.decode(errors='replace'))
        # The output's size, also after a change of its resolution.
        self.width, self.height = int(m.group(1)), int(m.group(2))
        raw = data[m.end():]
        self.last_shot = Shot(raw, self.width, self.height)
        return self.last_shot


class KwinDesktop(CompositorDesktop):
    """kwin_wayland on its virtual backend with its own decorations, on a
    session bus of its own; screenshots through its ScreenShot2 interface,
    window commands as kwin scripts. With x11_scales_itself, XWayland is told
    to leave the scaling to the X clients (the setting a player picks for
    sharp X programs), and X clients get the scale as their font dpi."""

    NAME = 'kwin'
    SOCKET = 'slabix-kwin'

    def __init__(self, slabix, width, height, x11_scales_itself=False, **options):
        super().__init__(slabix, width, height, **options)
        self.x11_scales_itself = x11_scales_itself
        self.scripts = 0
        self.shooter = None

    def _start_compositor(self):
        # The installed binary carries a file capability that a container
        # cannot grant; a copy has none.
        binary = os.path.join(self.session, 'kwin_wayland')
        shutil.copyfile(shutil.which('kwin_wayland'), binary)
        os.chmod(binary, 0o755)
        rc = '[Desktops]\nNumber=2\nRows=1\n\n[Compositing]\nAnimationSpeed=0\n'
        if self.x11_scales_itself:
            rc += '\n[Xwayland]\nScale=%g\n' % self.output_scale
        self.user_file('.config/kwinrc', rc)
        env = self.user_env()
        bus = os.path.join(self.session_runtime, 'bus')
        self.spawn_user(['dbus-daemon', '--session', '--address=unix:path=' + bus, '--nofork', '--nopidfile'],
                        env)
        self.wait_for(lambda: os.path.exists(bus), 'the session bus of kwin to come up')
        self.bus_address = 'unix:path=' + bus
        env.update(DBUS_SESSION_BUS_ADDRESS=self.bus_address, XDG_CURRENT_DESKTOP='KDE',
                   KWIN_SCREENSHOT_NO_PERMISSION_CHECKS='1', KWIN_WAYLAND_NO_PERMISSION_CHECKS='1',
                   XDG_SESSION_TYPE='wayland')
        lw, lh = self.logical_size
        self.compositor = self.spawn_user(
            [binary, '--virtual', '--width', str(lw), '--height', str(lh), '--scale', '%g' % self.output_scale,
             '--xwayland', '--socket', self.SOCKET, '--no-lockscreen'], env, self.log_path)
        self.helpers.remove(self.compositor)
        socket = os.path.join(self.session_runtime, self.SOCKET)

        def up():
            if self.compositor.poll() is not None:
                raise CheckFailed('kwin_wayland ended at once: %s' % self.compositor_log()[-2000:])
            return os.path.exists(socket) and self.bus_call(
                ['gdbus', 'introspect', '--session', '-d', 'org.kde.KWin', '-o', '/org/kde/KWin/ScreenShot2'],
                check=False).find('CaptureWorkspace') >= 0
        self.wait_for(up, 'kwin_wayland and its screenshot interface to come up', timeout=30)
        display = self.wait_for(self._xwayland_display, 'the X server of kwin (XWayland)', timeout=20)
        if self.x11_scales_itself:
            # What the desktop's settings give X programs: the scale as dpi.
            res = subprocess.run(self.as_user() + ['xrdb', '-merge'], env=dict(self.user_env(), DISPLAY=display),
                                 input='Xft.dpi: %d\n' % round(96 * self.output_scale), text=True,
                                 capture_output=True, timeout=20)
            if res.returncode != 0:
                raise CheckFailed('xrdb could not give XWayland the scale: ' + res.stderr.strip())
        return socket, display

    def _xwayland_display(self):
        for pid in os.listdir('/proc'):
            if not pid.isdigit():
                continue
            try:
                with open('/proc/%s/stat' % pid) as f:
                    ppid = int(f.read().rsplit(')', 1)[1].split()[1])
                if ppid != self.compositor.pid:
                    continue
                with open('/proc/%s/cmdline' % pid, 'rb') as f:
                    argv = f.read().split(b'\0')
            except (OSError, ValueError, IndexError):
                continue
            if argv and os.path.basename(argv[0]) == b'Xwayland':
                found = [a.decode() for a in argv[1:] if re.match(rb':\d+$', a)]
                if found and os.path.exists('/tmp/.X11-unix/X' + found[0][1:]):
                    return found[0]
        return None

    def bus_call(self, argv, check=True, input=None):
        env = self.user_env()
        env['DBUS_SESSION_BUS_ADDRESS'] = self.bus_address
        res = subprocess.run(self.as_user() + argv, env=env, capture_output=True, timeout=30,
                             input=input, cwd=self.session_home)
        if check and res.returncode != 0:
            raise CheckFailed('%s failed: %s' % (' '.join(argv[:4]), res.stderr.decode(errors='replace').strip()))
        return res.stdout.decode(errors='replace') if isinstance(res.stdout, bytes) else res.stdout

    def script(self, body):
        """Runs a kwin script; returns the lines it printed with out(...)."""
        self.scripts += 1
        tag = 'SLABIX%d' % self.scripts
        text = ('function out(s) { print("%s " + s); }\ntry {\n%s\n} catch (e) { out("error " + e); }\n'
                'print("%s-END");\n' % (tag, body, tag))
        path = self.user_file('script%d.js' % self.scripts, text)
        reply = self.bus_call(['gdbus', 'call', '--session', '-d', 'org.kde.KWin', '-o', '/Scripting',
                               '-m', 'org.kde.kwin.Scripting.loadScript', path, tag])
        m = re.search(r'\((-?\d+),\)', reply)
        if not m or int(m.group(1)) < 0:
            raise CheckFailed('kwin did not load a script: ' + reply)
        self.bus_call(['gdbus', 'call', '--session', '-d', 'org.kde.KWin', '-o', '/' + m.group(1),
                       '-m', 'org.kde.kwin.Script.run'])
        log = self.wait_for(lambda: (tag + '-END') in self.compositor_log() and self.compositor_log(),
                            'kwin to run a script')
        self.bus_call(['gdbus', 'call', '--session', '-d', 'org.kde.KWin', '-o', '/Scripting',
                       '-m', 'org.kde.kwin.Scripting.unloadScript', tag], check=False)
        lines = [line.split(tag + ' ', 1)[1] for line in log.splitlines() if (tag + ' ') in line]
        errors = [line for line in lines if line.startswith('error ')]
        if errors:
            raise CheckFailed('a kwin script failed: %s' % errors[0])
        return lines

    def game_client(self):
        """The script expression of the game's window (undefined while none)."""
        return ('(function () { var cs = workspace.clientList(); for (var i = 0; i < cs.length; ++i) '
                'if (cs[i].pid == %d && cs[i].normalWindow) return cs[i]; })()' % self.game.pid)

    def on_game(self, body):
        return self.script('var c = %s;\nif (c) { %s }' % (self.game_client(), body))

    def game_geometry(self):
        out = self.on_game('var g = c.frameGeometry; out(g.x + " " + g.y + " " + g.width + " " + g.height + '
                           '" " + c.maximizeMode + " " + c.fullScreen + " " + c.desktop);')
        return out[0].split() if out else None

    # The game's window ----------------------------------------------------------

    def game_state(self):
        """x, y, width, height of the frame and of the surface, whether the
        frame fills the maximised area, full screen, and the current desktop."""
        out = self.on_game('var g = c.frameGeometry, k = c.bufferGeometry; out([g.x, g.y, g.width, g.height, '
                           'k.x, k.y, k.width, k.height, '
                           '(function (a) { return a.x == g.x && a.y == g.y && a.width == g.width && '
                           'a.height == g.height ? 1 : 0; })(workspace.clientArea(KWin.MaximizeArea, c)), '
                           'c.fullScreen ? 1 : 0, '
                           'workspace.currentDesktop].map(function (v) { return Number(v); }).join(" "));')
        return [float(v) for v in out[0].split()] if out else None

    def client_width(self):
        state = self.wait_for(self.game_state, 'the game window in kwin')
        return self.x_client_width() or int(round(state[6] * self.output_scale))

    def frame_problem(self):
        """None when the game window's frame (title bar and borders) lies on
        the screen and the window is maximised; else what is wrong."""
        state = self.wait_for(self.game_state, 'the game window in kwin')
        x, y, w, h = state[:4]
        lw, lh = self.logical_size
        if x < 0 or y < 0 or x + w > lw or y + h > lh:
            return 'the frame (%d, %d, %dx%d) is not on the %dx%d screen' % (x, y, w, h, lw, lh)
        if state[8] != 1:
            return 'the window (%d, %d, %dx%d) is not maximised' % (x, y, w, h)
        return None

    def window_actions(self):
        def act(body, test, what):
            def do():
                self.on_game(body)
                window_state_reached(self, lambda: (lambda s: s and test(s))(self.game_state()),
                                     'kwin to show the game window ' + what, self.game_state)
            return do

        def desktop_and_back():
            self.script('workspace.currentDesktop = 2;')
            self.wait_for(lambda: self.game_state()[10] == 2, 'kwin on desktop 2')
            self.script('workspace.currentDesktop = 1;')
            self.wait_for(lambda: self.game_state()[10] == 1, 'kwin back on desktop 1')
        return [
            ('maximise off', act('c.setMaximize(false, false);', lambda s: s[8] == 0, 'restored'), False),
            ('maximise on', act('c.setMaximize(true, true);', lambda s: s[8] == 1, 'maximised'), True),
            ('a resize to 1000x700', act('c.setMaximize(false, false); c.frameGeometry = '
                                         '{x: 40, y: 40, width: 1000, height: 700};',
                                         lambda s: s[8] == 0 and s[2:4] == [1000, 700], '1000x700'), False),
            ('maximise on again', act('c.setMaximize(true, true);', lambda s: s[8] == 1, 'maximised'), True),
            ('fullscreen on', act('c.fullScreen = true;', lambda s: s[9] == 1, 'full screen'), False),
            ('fullscreen off', act('c.fullScreen = false;', lambda s: s[9] == 0, 'not full screen'), True),
            ('desktop 2 and back', desktop_and_back, True),
        ]

    # Screenshots of the whole workspace at its device pixels, taken by a
    # helper that runs as the session's user (the bus is that user's) for as
    # long as the check: one for each line on its stdin, written to its
    # stdout as a line "width height stride format byte-count" and the bytes.
    SHOT_HELPER = r'''
import os, sys, gi
gi.require_version('Gio', '2.0')
from gi.repository import Gio, GLib
bus = Gio.DBusConnection.new_for_address_sync(
    os.environ['DBUS_SESSION_BUS_ADDRESS'],
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
out = sys.stdout.buffer
for line in sys.stdin:
    r, w = os.pipe()
    fds = Gio.UnixFDList.new_from_array([w])
    options = {'native-resolution': GLib.Variant('b', True), 'include-cursor': GLib.Variant('b', False)}
    try:
        reply, _ = bus.call_with_unix_fd_list_sync(
            'org.kde.KWin', '/org/kde/KWin/ScreenShot2', 'org.kde.KWin.ScreenShot2', 'CaptureWorkspace',
            GLib.Variant('(a{sv}h)', (options, 0)), GLib.VariantType('(a{sv})'), Gio.DBusCallFlags.NONE,
            20000, fds, None)
    except GLib.Error as e:
        del fds
        os.close(r)
        out.write(('error %s\n' % e.message.replace('\n', ' ')).encode())
        out.flush()
        continue
    # The list owns the write end; with it gone, the read ends with kwin's copy.
    del fds
    info = reply.unpack()[0]
    chunks = []
    while True:
        c = os.read(r, 1 << 20)
        if not c:
            break
        chunks.append(c)
    os.close(r)
    data = b''.join(chunks)
    out.write(('%d %d %d %d %d\n' % (info['width'], info['height'], info['stride'], info['format'],
                                      len(data))).encode())
    out.write(data)
    out.flush()
'''

    def shot(self, full=False):
        if self.shooter is None:
            # The helper needs the system's python3 with its GObject bindings.
            python = shutil.which('python3', path='/usr/bin:/bin') or 'python3'
            env = self.user_env()
            env['DBUS_SESSION_BUS_ADDRESS'] = self.bus_address
            self.shooter = subprocess.Popen(self.as_user() + [python, '-c', self.SHOT_HELPER], env=env,
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE, cwd=self.session_home,
                                            preexec_fn=_die_with_parent)
            self.helpers.append(self.shooter)
        self.shooter.stdin.write(b'shot\n')
        self.shooter.stdin.flush()
        head = self.shooter.stdout.readline().decode(errors='replace')
        try:
            w, h, stride, fmt, n = (int(v) for v in head.split())
        except ValueError:
            if not head:
                head = self.shooter.stderr.read().decode(errors='replace')[-800:]
            raise CheckFailed('could not take a screenshot through kwin: %s' % head.strip())
        pixels = self.shooter.stdout.read(n)
        if (w, h) != (self.width, self.height) or fmt not in (5, 6) or len(pixels) < stride * h:
            raise CheckFailed('kwin gave a %dx%d screenshot (format %d), expected %dx%d'
                              % (w, h, fmt, self.width, self.height))
        # ARGB32 words, little-endian: B, G, R, A in memory.
        rows = [pixels[y * stride:y * stride + 4 * w] for y in range(h)]
        bgra = b''.join(rows)
        raw = bytearray(w * h * 3)
        raw[0::3] = bgra[2::4]
        raw[1::3] = bgra[1::4]
        raw[2::3] = bgra[0::4]
        self.last_shot = Shot(bytes(raw), w, h)
        return self.last_shot


def with_vertical_unit(size):
    """(width, height, unit) of a game screen from cost_box, its unit the
    vertical one (m_nUnitY): 13 or 14 where the cost box's width gives 14."""
    w, h = size[0], size[1]
    return (w, h, 12 if w < 1276 else (14 if h > 960 else 13) if w < 1596 else 16)


def title_box(shot):
    """(left, top, right, bottom) of the title screen on the screen: the
    rows whose longest pale yellow run is 1000 pixels or more, as wide as the
    first of them (a margin row, without text); None when there is none."""
    pale = re.compile(b'(?:' + re.escape(bytes(PALE_YELLOW)) + b'){1000,}')
    top = bottom = span = None
    for y in range(shot.height):
        best = None
        for m in pale.finditer(shot.row(y, 0, shot.width)):
            start = m.start() + (-m.start() % 3)
            end = start + (m.end() - start) // 3 * 3
            if end - start >= 3000 and (best is None or end - start > 3 * (best[1] - best[0])):
                best = (start // 3, end // 3)
        if best:
            if top is None:
                top, span = y, best
            bottom = y + 1
    return None if top is None else (span[0], top, span[1], bottom)


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


def wait_first_title(desk, what):
    """The title screen from the game's first paint on, whole: no red notice
    on any screenshot before it or on it. Returns its box once it holds."""
    seen = {'red': False, 'box': None}

    def title():
        shot = desk.shot()
        if shot.shares((0, 0, shot.width, shot.height), step=8).get('red', 0) > 0.02:
            seen['red'] = True
        if desk.game.poll() is not None:
            raise CheckFailed('%s the game ended (status %d)' % (what, desk.game.returncode))
        box, seen['box'] = seen['box'], title_box(shot)
        return box is not None and box == seen['box'] and box
    box = desk.wait_for(title, 'the pale yellow title screen %s' % what,
                        describe=lambda: desk.last_shot.describe(), timeout=25)
    if seen['red']:
        raise CheckFailed('%s a red notice was on the screen before the title screen' % what)
    problem = title_problem(desk.last_shot, box)
    if problem:
        raise CheckFailed('%s %s' % (what, problem))
    if desk.last_shot.count(RED, box) > 0:
        raise CheckFailed('%s the title screen has red on it: %s' % (what, desk.last_shot.describe()))
    return box


def expected_game_width(client_width, k):
    """The game screen's width that the shell chooses for a client area
    client_width device pixels wide, at k device pixels a game pixel."""
    return min(1600, (client_width - 4) // k)


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


BOARD_COLOURS = set()  # white, black, the dirt and the stones: filled by load_game_data()


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


CHECKS = {
    # name: (screen width, screen height, check[, options]); the options are
    # the window manager (wm), a sound server of the check's own (sound), the
    # desktop's scale factor (scale) and weston in place of X (weston).
    'title': (1024, 768, check_title),
    'board': (1024, 768, check_board),
    'drag_and_keys': (1024, 768, check_drag_and_keys),
    'perfect_job': (1024, 768, check_perfect),
    'covered_no_bonus': (1024, 768, check_covered_no_bonus),
    'print_dialog': (1024, 768, check_print_dialog),
    'quit': (1024, 768, check_quit),
    'notice_too_small': (1000, 750, notice_check('too-small')),
    # A window asked for that is too wide gets the notice.
    'notice_too_large': (1920, 1080, notice_check('too-large', ['-qwindowgeometry', '1800x1000'])),
    'window_size': (1920, 1080, check_window_size),
    'silent': (1024, 768, check_silent),
    'sound_cues': (1024, 768, check_sound_cues, dict(sound=True)),
    'wm_keeps_frame_openbox': (1024, 768, check_wm_keeps_frame),
    'wm_keeps_frame_icewm': (1024, 768, check_wm_keeps_frame, dict(wm='icewm')),
    'window_1920x1080': (1920, 1080, check_large_screen),
    'window_2560x1440': (2560, 1440, check_large_screen),
    'window_3840x2160_scale2': (3840, 2160, check_large_screen, dict(scale=2)),
    'wayland_1280x1024': (1280, 1024, check_wayland, dict(weston=True)),
    'wayland_1920x1080': (1920, 1080, check_wayland, dict(weston=True)),
}
CHECKS.update({
    # A FIFO named on the command line and chosen in the Open dialog; the cues
    # on pipewire, on a server that comes up after the game, and on one killed
    # during play and started again; a print queue that refuses every job.
    'fifo_command_line': (1024, 768, check_fifo_command_line),
    'fifo_open_dialog': (1024, 768, check_fifo_open_dialog),
    'sound_pipewire': (1024, 768, sound_check('pipewire')),
    'sound_late_pulseaudio': (1024, 768, sound_check('pulseaudio', late=True)),
    'sound_late_pipewire': (1024, 768, sound_check('pipewire', late=True)),
    'sound_restart_pipewire': (1024, 768, sound_check('pipewire', restart=True)),
    'print_refused': (1024, 768, check_print_refused),
    # Save onto a read-only and onto a full filesystem.
    'save_refused': (1024, 768, check_save_refused),
})

# Players' desktops; kind is the desktop class, platform the game's Qt platform.
CHECKS.update({
    'mutter_1920x1080': (1920, 1080, check_players_desktop, dict(kind=MutterDesktop)),
    'mutter_1366x768': (1366, 768, check_players_desktop, dict(kind=MutterDesktop)),
    'mutter_xwayland_1920x1080': (1920, 1080, check_players_desktop, dict(kind=MutterDesktop, platform='xcb')),
    'mutter_xwayland_1366x768': (1366, 768, check_players_desktop, dict(kind=MutterDesktop, platform='xcb')),
    'i3_1920x1080': (1920, 1080, check_players_desktop, dict(kind=XPanelDesktop, wm='i3')),
    'i3_1366x768': (1366, 768, check_players_desktop, dict(kind=XPanelDesktop, wm='i3')),
    'xfce_1920x1080': (1920, 1080, check_players_desktop, dict(kind=XPanelDesktop, wm='xfwm4')),
    'xfce_1366x768': (1366, 768, check_players_desktop, dict(kind=XPanelDesktop, wm='xfwm4')),
    'resolution_change': (1920, 1080, check_resolution_change),
    'scale_1_5_1920x1080': (1920, 1080, check_scaled(1), dict(scale=1.5)),
    'scale_2_1920x1080': (1920, 1080, check_scaled(1), dict(scale=2)),
    'scale_1_5_2880x1620': (2880, 1620, check_scaled(2), dict(scale=1.5)),
})

# sway and kwin_wayland, each run by an ordinary user: the game natively and
# through XWayland.
CHECKS.update({
    'sway_1920x1080': (1920, 1080, check_compositor_round, dict(kind=SwayDesktop)),
    'sway_1366x768': (1366, 768, check_compositor_round, dict(kind=SwayDesktop)),
    'kwin_1920x1080': (1920, 1080, check_compositor_round, dict(kind=KwinDesktop)),
    'kwin_1366x768': (1366, 768, check_compositor_round, dict(kind=KwinDesktop)),
    'sway_1280x720_last_row': (1280, 720, check_last_patio_row, dict(kind=SwayDesktop)),
    'sway_resolution_change': (1920, 1080, check_output_resolution_change, dict(kind=SwayDesktop)),
    'sway_scales_whole_pixels': (1920, 1080, check_whole_pixels_sway, dict(kind=SwayDesktop, scale=2)),
    'kwin_scales_whole_pixels': (1920, 1080, check_whole_pixels_kwin,
                                 dict(kind=KwinDesktop, scale=1.5, x11_scales_itself=True)),
})


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--slabix', required=True, help='the game executable')
    ap.add_argument('--game-data', help='the game\'s data file (default: slabix_game_data.json next to the game)')
    ap.add_argument('--artifacts', help='folder for the screenshot of a failed check')
    ap.add_argument('--save-board', help='PNG file for a screenshot of the game window halfway through laying the patio')
    ap.add_argument('--screen', help='screen size WxH instead of the check\'s own (for trying things out)')
    ap.add_argument('--deadline', type=float, default=150, help='seconds before the check gives up')
    ap.add_argument('check', choices=sorted(CHECKS))
    args = ap.parse_args()
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
