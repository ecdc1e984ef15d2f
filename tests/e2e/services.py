"""The private services a check starts: sound servers, a print service, a session bus."""

import cmath
import math
import os
import re
import shutil
import struct
import subprocess

from common import CheckFailed, die_with_parent, stop


# The check's own sound server: its null sink, recorded at this rate.
SINK = 'slabix_e2e'
SOUND_RATE = 44100


def session_bus(folder, env, procs, prefix=()):
    """A D-Bus session bus of its own in folder, run with prefix (the user
    it runs as), its process added to procs; returns its address once it
    listens."""
    path = os.path.join(folder, 'bus')
    bus = subprocess.Popen(list(prefix) + ['dbus-daemon', '--session', '--address=unix:path=' + path,
                                           '--nofork', '--nopidfile', '--print-address'],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           preexec_fn=die_with_parent)
    procs.append(bus)
    line = bus.stdout.readline()  # printed once it listens
    if not line:
        raise CheckFailed('the session bus (dbus-daemon) did not start')
    return 'unix:path=' + path


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


def listen(server, start, what):
    """The shares of the low (below 300 Hz) and the buzz (450 to 1300 Hz)
    bands in the recording from byte start on to a second after now."""
    shares = sound_bands(server.recorded_sound(start, 1.0), [(0, 300), (450, 1300)])
    if shares is None:
        raise CheckFailed('no sound reached the sound server after %s' % what)
    print('after %s: %d%% of the energy below 300 Hz, %d%% between 450 and 1300 Hz'
          % (what, round(100 * shares[0]), round(100 * shares[1])))
    return shares


class SoundServer:
    """A sound server of the check's own in its runtime folder, at the
    address the game is given (PULSE_SERVER): pulseaudio, or pipewire with
    pipewire-pulse and wireplumber on a session bus of its own. Where the
    pulseaudio program is not installed, pipewire stands in for it, and the
    check says so. Either is ready once a null sink, SINK, is its default
    one; its monitor is recorded into one file, appended to at every start."""

    def __init__(self, desk, kind):
        self.desk = desk
        # A PipeWire desktop has no pulseaudio: pipewire-audio conflicts with it.
        self.kind = kind if kind != 'pulseaudio' or shutil.which('pulseaudio') else 'pipewire'
        if self.kind != kind:
            print('pulseaudio is not installed: the sound server is pipewire with pipewire-pulse and wireplumber')
        self.name = 'pulseaudio' if self.kind == 'pulseaudio' else 'pipewire-pulse'
        self.procs, self.bus_procs = [], []
        self.bus_address = self.recorder = None
        self.starts = 0
        self.recording = open(os.path.join(desk.tmp, 'sink.raw'), 'wb')

    def _env(self):
        env = dict(self.desk.env)
        env.pop('DISPLAY')  # nothing of the X server's: no bell, no session bus through it
        env.pop('PULSE_SERVER')
        return env

    def _spawn(self, argv, env, name):
        log = open(os.path.join(self.desk.tmp, '%s.%d.log' % (name, self.starts)), 'w')
        proc = subprocess.Popen(argv, env=env, stdout=log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        log.close()
        self.procs.append(proc)
        return proc

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

    def _alive(self):
        ended = [p for p in self.procs if p.poll() is not None]
        if ended:
            raise CheckFailed('the sound server (%s) ended at once (status %d)' % (self.name, ended[0].returncode))

    def start(self):
        self.starts += 1
        env = self._env()
        os.makedirs(os.path.dirname(self.desk.sound_socket), mode=0o700, exist_ok=True)
        if self.kind == 'pulseaudio':
            self._spawn(['pulseaudio', '-n', '--daemonize=no', '--exit-idle-time=-1', '--use-pid-file=no',
                         '--load=module-native-protocol-unix'], env, 'pulseaudio')
        else:
            if self.bus_address is None:
                self.bus_address = session_bus(self.desk.tmp, env, self.bus_procs)
            env['DBUS_SESSION_BUS_ADDRESS'] = self.bus_address
            self._wireplumber_config(env)
            self._spawn(['pipewire'], env, 'pipewire')
            socket = os.path.join(env['XDG_RUNTIME_DIR'], 'pipewire-0')
            self.desk.wait_for(lambda: self._alive() or os.path.exists(socket), 'pipewire to listen', timeout=20)
            self._spawn(['wireplumber'], env, 'wireplumber')
            self._spawn(['pipewire-pulse'], env, 'pipewire-pulse')
        self.desk.wait_for(lambda: self._alive() or 'Server Name' in self.desk.run(['pactl', 'info'], check=False),
                           'the sound server (%s) to answer' % self.name, timeout=20)
        self.desk.run(['pactl', 'load-module', 'module-null-sink', 'sink_name=' + SINK])
        # pipewire-pulse takes a default sink only once the session manager
        # has made its settings; it answers pactl info before that.
        said = ['']

        def default_sink():
            self._alive()
            res = subprocess.run(['pactl', 'set-default-sink', SINK], env=self.desk.env, capture_output=True,
                                 text=True, timeout=20)
            said[0] = res.stderr.strip()
            return res.returncode == 0 and 'Default Sink: ' + SINK in self.desk.run(['pactl', 'info'], check=False)
        self.desk.wait_for(default_sink, 'the null sink to become the default one of %s' % self.name, timeout=20,
                           describe=lambda: 'pactl set-default-sink says: %s' % (said[0] or 'nothing'))
        print('%s up (%s)' % (self.name, re.search(r'Server Name: (.*)', self.desk.run(['pactl', 'info'])).group(1)))
        before = self.recorded_bytes()
        # Without the small latency the samples come in two-second lumps.
        self.recorder = subprocess.Popen(
            ['parec', '-d', SINK + '.monitor', '--latency-msec=20', '--format=s16le',
             '--rate=%d' % SOUND_RATE, '--channels=1'],
            env=self.desk.env, stdout=self.recording, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        self.desk.wait_for(lambda: self.recorded_bytes() > before, 'the recording of the sound server to start')

    def recorded_bytes(self):
        return os.path.getsize(self.recording.name) // 2 * 2

    def recorded_sound(self, start, seconds=0):
        """Samples of the recording from byte start on, up to that many
        seconds after what has come in so far."""
        end = self.recorded_bytes() + int(seconds * SOUND_RATE) * 2
        self.desk.wait_for(lambda: self.recorded_bytes() >= end, '%g s more of the recording' % seconds)
        with open(self.recording.name, 'rb') as f:
            f.seek(start)
            data = f.read(end - start)
        return struct.unpack('<%dh' % (len(data) // 2), data)

    def kill(self):
        """The server gone at once, as in a crash."""
        for p in [self.recorder] + self.procs:
            if p and p.poll() is None:
                p.kill()
                p.wait(5)
        self.recorder = None
        self.procs = []
        # The sockets it leaves must not pass for the next server's.
        for name in ('pipewire-0', os.path.join('pulse', 'native')):
            try:
                os.remove(os.path.join(self.desk.env['XDG_RUNTIME_DIR'], name))
            except FileNotFoundError:
                pass

    def close(self):
        self.kill()
        for p in self.bus_procs:
            stop(p)
        self.recording.close()


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
            f.write('Listen %s\nLogLevel info\nAccessLogLevel all\nBrowsing No\nWebInterface No\nDefaultAuthType None\n'
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
                                     preexec_fn=die_with_parent)
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

    def requests(self, path):
        """How many requests for path the service has answered."""
        try:
            with open(os.path.join(self.root, 'log', 'access_log')) as f:
                return f.read().count(' %s HTTP/' % path)
        except OSError:
            return 0

    def jobs(self):
        return self.lp(['lpstat', '-W', 'all', '-o']).strip()

    def printed(self):
        """The jobs the queue has printed, as their files."""
        folder = os.path.join(self.root, 'printed')
        return sorted(os.path.join(folder, n) for n in os.listdir(folder))

    def close(self):
        stop(self.proc)
