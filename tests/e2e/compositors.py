"""sway and kwin_wayland: Wayland compositors run by an ordinary user."""

import glob
import json
import os
import pwd
import re
import shutil
import struct
import subprocess

from common import CheckFailed, CheckSkipped, die_with_parent, stop
from desktop import BTN_LEFT, Desktop
from screen import Shot, title_problem
from services import session_bus


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
                                    preexec_fn=die_with_parent)
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
        if self.cursor_env:
            # X programs that take the pointer theme from the X resources
            # alone (libxcb-cursor, Qt's from 6.5 on) get the blank one there.
            theme = 'Xcursor.theme: %s\nXcursor.size: %s\n' % (self.cursor_env['XCURSOR_THEME'],
                                                                 self.cursor_env['XCURSOR_SIZE'])
            res = subprocess.run(self.as_user() + ['xrdb', '-nocpp', '-merge'], env=xenv, input=theme, text=True,
                                 capture_output=True, timeout=20)
            if res.returncode != 0:
                raise CheckFailed('xrdb could not give XWayland the pointer theme: ' + res.stderr.strip())
        self.env = self._env()
        self.env.update(self.cursor_env)
        self.env.update(WAYLAND_DISPLAY=socket, XDG_SESSION_TYPE='wayland')
        self._start_input()

    def close(self):
        stop(self.game)
        if self.input:
            try:
                self.input.stdin.close()
            except OSError:
                pass
            stop(self.input)
        stop(self.compositor, grace=5.0)
        for proc in reversed(self.helpers):
            stop(proc)
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
                                      cwd=self.session_home, preexec_fn=die_with_parent)
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
        self.launch(args, platform)

    def game_windows(self):
        """The game's X windows through XWayland; none natively."""
        return super().game_windows() if self.platform == 'xcb' else []

    def x_client_size(self):
        """Size of the game's X window (its client area, in device pixels),
        or None natively."""
        if self.platform != 'xcb':
            return None
        wid = self.wait_for(lambda: self.game_windows()[:1], 'the game window on XWayland')[0]
        return self.window_geometry(wid)[2:]

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

    def frame_problem(self, title):
        """The game window's frame lies on the screen, maximised, and the
        title screen at title shows whole in it: no other window lies over
        it here."""
        return self.window_frame_problem() or title_problem(self.last_shot, title)


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
                  'xwayland enable',
                  # The pointer that sway draws itself (clients that name a
                  # shape rather than give a picture) is blank too.
                  'seat seat0 xcursor_theme slabix-blank 24']
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

    def client_size(self):
        """Size of the game window's client area, in device pixels."""
        rect = self.game_node_now()['window_rect']
        return self.x_client_size() or (round(rect['width'] * self.output_scale),
                                         round(rect['height'] * self.output_scale))

    def window_frame_problem(self):
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
                                                         'floating'), 'whole'),
            ('resize set 1000 700', act('resize set 1000 700', lambda n: n['rect']['width'] == 1000,
                                        '1000 pixels wide'), 'whole'),
            ('floating disable (back into the tiling)', act('floating disable', lambda n: n['type'] == 'con',
                                                             'tiled'), 'same'),
            ('fullscreen enable', act('fullscreen enable', lambda n: n.get('fullscreen_mode') == 1,
                                      'fullscreen'), 'whole'),
            ('fullscreen disable', act('fullscreen disable', lambda n: n.get('fullscreen_mode') == 0,
                                       'not fullscreen'), 'same'),
            ('workspace 2 and back', workspace_and_back, 'same'),
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
        self.bus_address = session_bus(self.session_runtime, env, self.helpers, self.as_user())
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
            if not os.path.exists(socket):
                return False
            if self.bus_call(['gdbus', 'introspect', '--session', '-d', 'org.kde.KWin', '-o',
                              '/org/kde/KWin/ScreenShot2'], check=False).find('CaptureWorkspace') >= 0:
                return True
            # kwin 6 without a GPU's render node composites with QPainter,
            # and its screenshots are an OpenGL effect: nothing to judge.
            # Software OpenGL is no way round: its virtual output makes its
            # OpenGL context on a buffer device opened from a render node
            # alone, even with KWIN_COMPOSE=O2 and LIBGL_ALWAYS_SOFTWARE.
            kind = self.bus_call(['gdbus', 'call', '--session', '-d', 'org.kde.KWin', '-o', '/Compositor', '-m',
                                  'org.freedesktop.DBus.Properties.Get', 'org.kde.kwin.Compositing',
                                  'compositingType'], check=False)
            if "'qpainter'" in kind:
                raise CheckSkipped('kwin_wayland composites without OpenGL here (no GPU render node in /dev/dri, '
                                   'and software OpenGL needs one too), and without OpenGL it takes no screenshots')
            return False
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

    def client_size(self):
        state = self.wait_for(self.game_state, 'the game window in kwin')
        return self.x_client_size() or (round(state[6] * self.output_scale), round(state[7] * self.output_scale))

    def window_frame_problem(self):
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
            ('maximise off', act('c.setMaximize(false, false);', lambda s: s[8] == 0, 'restored'), 'whole'),
            ('maximise on', act('c.setMaximize(true, true);', lambda s: s[8] == 1, 'maximised'), 'same'),
            ('a resize to 1000x700', act('c.setMaximize(false, false); c.frameGeometry = '
                                         '{x: 40, y: 40, width: 1000, height: 700};',
                                         lambda s: s[8] == 0 and s[2:4] == [1000, 700], '1000x700'), 'whole'),
            ('maximise on again', act('c.setMaximize(true, true);', lambda s: s[8] == 1, 'maximised'), 'same'),
            ('fullscreen on', act('c.fullScreen = true;', lambda s: s[9] == 1, 'full screen'), 'whole'),
            ('fullscreen off', act('c.fullScreen = false;', lambda s: s[9] == 0, 'not full screen'), 'same'),
            ('desktop 2 and back', desktop_and_back, 'same'),
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
                                            preexec_fn=die_with_parent)
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
