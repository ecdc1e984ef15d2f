"""Desktops on X and on weston: an X server with a window manager, and the game on it."""

import glob
import os
import re
import shutil
import subprocess
import tempfile
import time

from common import CheckFailed, DEFAULT_TIMEOUT, die_with_parent, stop
from screen import Shot
from services import session_bus


# The left mouse button, as evdev numbers it.
BTN_LEFT = 0x110


class Desktop:
    """An X server with a window manager, and the game on it.

    With a scale, Qt draws every pixel of the game as a scale x scale block on
    a screen that many times larger; screenshots are taken at the game's own
    size, one pixel of each block.
    """

    def __init__(self, slabix, width, height, wm='openbox', scale=1):
        self.slabix = slabix
        self.scale = scale
        self.screen_width, self.screen_height = width, height
        self.width, self.height = width // scale, height // scale
        self.wm_name = wm
        self.xvfb = self.wm = self.game = self.game_out = self.game_err = None
        self.main_window = self.platform = self.last_shot = None
        self.tmp = tempfile.mkdtemp(prefix='slabix-e2e-')

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

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        self.stop_game()
        stop(self.wm)
        stop(self.xvfb)
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
            preexec_fn=die_with_parent)
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
                                   preexec_fn=die_with_parent)
        self.wait_for(lambda: 'window id' in self.run(['xprop', '-root', '_NET_SUPPORTING_WM_CHECK']),
                      'the window manager (%s) to come up' % self.wm_name, timeout=20)

    # The game --------------------------------------------------------------

    def launch(self, args=(), platform=None, prefix=()):
        """Starts the game, on the Qt platform platform where one is given,
        its output kept; prefix is what runs it (ending in the game itself)."""
        env = dict(self.env)
        if platform:
            env['QT_QPA_PLATFORM'] = platform
        self.platform = platform
        self.game_out = open(os.path.join(self.tmp, 'game.out'), 'w+')
        self.game_err = open(os.path.join(self.tmp, 'game.err'), 'w+')
        self.game = subprocess.Popen(list(prefix) + [self.slabix] + list(args), env=env, stdout=self.game_out,
                                     stderr=self.game_err, preexec_fn=die_with_parent)

    def find_game_window(self, what='the game window to appear'):
        """The game's main X window, once it shows, made the active one."""
        self.main_window = self.wait_for(lambda: self.game_windows()[:1], what, timeout=20)[0]
        self.run(['xdotool', 'windowactivate', self.main_window], check=False)
        return self.main_window

    def start_game(self, args=(), prefix=()):
        self.launch(args, prefix=prefix)
        self.find_game_window()
        self.wait_for(lambda: self.run(['xdotool', 'getactivewindow'], check=False).strip() == self.main_window,
                      'the game window to get the keyboard focus')

    def stop_game(self):
        stop(self.game)
        self.game = None
        for f in (self.game_out, self.game_err):
            if f:
                f.close()
        self.game_out = self.game_err = None

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

    def work_area(self):
        """Where the game may draw: the whole screen but for a desktop's panels."""
        return (0, 0, self.width, self.height)

    def client_size(self):
        """The size of the game window's client area, where it is known."""
        return self.window_geometry(self.main_window)[2:] if self.main_window else None

    def frame_problem(self, title):
        """What is wrong with the game window's frame or the title screen at
        title in it, as far as the desktop tells (other windows may lie over
        it); None."""
        return None

    def focus_game(self, title):
        """Gives the game, its title screen at title, the keyboard where the
        desktop does not."""

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
        self.stop_game()
        stop(self.compositor, grace=5.0)
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
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)

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
        self.launch(args, platform)
        self.main_window = None
        if platform == 'xcb':
            self.find_game_window('the game window to appear on the X server of XWayland')

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


# --- Players' desktops: i3, xfwm4 with its panel (mutter: mutter.py) -------
#
# The game under the window managers players run, each started by the
# check: on Xvfb the tiling i3 and Xfce's xfwm4 with its top panel, on a
# D-Bus session bus of its own.

class PlayersDesktop:
    """The window actions a player takes, as commands."""

    def window_actions(self):
        return [(what, lambda argv=argv: self.act(argv), expect) for what, argv, expect in self.window_steps()]

    def window_steps(self):
        """Steps (what, command, expect): expect 'same' for the game screen
        back where it was, 'moved' for it shown whole elsewhere or scaled
        down, 'any' for it shown whole or not at all (another workspace),
        'placed' as 'any' or running off the screen's right or bottom edge."""
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
        stop(self.game)
        for proc in reversed(self.extra_procs):
            stop(proc)
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
            self.env['DBUS_SESSION_BUS_ADDRESS'] = session_bus(bus, self.env, self.extra_procs)
            # The panel's own default, so that it asks no first-start question.
            xml = os.path.join(self.env['XDG_CONFIG_HOME'], 'xfce4', 'xfconf', 'xfce-perchannel-xml')
            os.makedirs(xml)
            shutil.copy('/etc/xdg/xfce4/panel/default.xml', os.path.join(xml, 'xfce4-panel.xml'))
            argv = ['xfwm4', '--compositor=off']
        self.wm = subprocess.Popen(argv, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   preexec_fn=die_with_parent)
        self.wait_for(lambda: 'window id' in self.run(['xprop', '-root', '_NET_SUPPORTING_WM_CHECK']),
                      'the window manager (%s) to come up' % self.wm_name, timeout=20)
        if self.wm_name == 'i3':
            self.wait_for(lambda: self.run(['xdotool', 'search', '--class', 'i3bar'], check=False).split(),
                          'the bar of i3 (i3bar)', timeout=20)
        else:
            self.extra_procs.append(subprocess.Popen(
                ['xfce4-panel'], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=die_with_parent))
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

    def window_steps(self):
        if self.wm_name != 'i3':
            return PlayersDesktop.window_steps(self)
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
