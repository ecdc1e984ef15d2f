"""GNOME's compositor, mutter, headless: the game natively and through XWayland."""

import glob
import os
import re
import subprocess
import time

from common import CheckFailed, die_with_parent, gi_python, stop, unprivileged
from desktop import BTN_LEFT, Desktop, PlayersDesktop
from screen import Shot
from services import session_bus


# Keys by the names the checks use (xdotool's), as X keysyms.
KEYSYMS = {
    'space': 0x20, 'Return': 0xff0d, 'Escape': 0xff1b, 'Left': 0xff51, 'Up': 0xff52,
    'Right': 0xff53, 'Down': 0xff54, 'Page_Up': 0xff55, 'Page_Down': 0xff56, 'End': 0xff57,
    'Home': 0xff50, 'F1': 0xffbe, 'F4': 0xffc1, 'F8': 0xffc5, 'F10': 0xffc7, 'F11': 0xffc8,
    'ctrl': 0xffe3, 'alt': 0xffe9, 'super': 0xffeb, 'shift': 0xffe1,
}

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

def frame_size(caps):
    s = caps.get_structure(0)
    if not hasattr(s, 'get_value'):
        # Newer bindings (GStreamer 1.26) lend the structure for a with
        # block only.
        with s as lent:
            return lent.get_value('width'), lent.get_value('height')
    return s.get_value('width'), s.get_value('height')

def frame(timeout):
    sample = sink.emit('try-pull-sample', int(timeout * Gst.SECOND))
    if sample is not None:
        w, h = frame_size(sample.get_caps())
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
        stop(self.game)
        if self.remote:
            stop(self.remote)
        stop(self.compositor, grace=5.0)
        for proc in reversed(self.extra_procs):
            stop(proc)
        Desktop.close(self)

    def _start_compositor(self):
        prefix, uid, gid = unprivileged()
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
        env['DBUS_SESSION_BUS_ADDRESS'] = session_bus(runtime, env, self.extra_procs, prefix)
        self.mutter_env = env

        def spawn(argv, log):
            proc = subprocess.Popen(prefix + argv, env=env, stdout=open(os.path.join(self.tmp, log), 'w'),
                                    stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
            self.extra_procs.append(proc)
            return proc
        spawn(['pipewire'], 'pipewire.log')
        self.wait_for(lambda: os.path.exists(os.path.join(runtime, 'pipewire-0')), 'pipewire to listen')
        spawn(['wireplumber'], 'wireplumber.log')
        log = os.path.join(self.tmp, 'mutter.log')
        self.compositor = subprocess.Popen(
            prefix + ['mutter', '--headless', '--wayland', '--wayland-display=' + self.SOCKET,
                      '--virtual-monitor', '%dx%d' % (self.width, self.height)],
            env=env, stdout=open(log, 'w'), stderr=subprocess.STDOUT, preexec_fn=die_with_parent)

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
        prefix, uid, gid = unprivileged()
        self.remote = subprocess.Popen(prefix + [gi_python(), '-c', MUTTER_REMOTE, 'Meta-0'],
                                       env=self.mutter_env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=open(os.path.join(self.tmp, 'remote.log'), 'w'),
                                       preexec_fn=die_with_parent)
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
        self.launch(args, self.platform)
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

    def window_steps(self):
        if self.platform == 'xcb':
            return PlayersDesktop.window_steps(self)
        keys = lambda *k: ('keys',) + k
        # mutter never saw the window restored (it was maximised from its
        # first frame): it restores it with its top left corner at the centre
        # of the screen.
        return [
            ('Super+Down (restore)', keys('super+Down'), 'placed'),
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
            stop(self.remote)
            self._open_remote()
