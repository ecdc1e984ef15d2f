"""When the outside world misbehaves: files, sound servers, print queues."""

import os
import re
import subprocess
import time

from common import CheckFailed, DEFAULT_TIMEOUT
from play import moved_to, run_into_neighbour, start_board, wait_for_title
from screen import STONE_RGB, stone_problem
from services import PrintService, SoundServer, listen, sound_bands


# --- When the outside world misbehaves: files, sound servers, print queues --
#
# The game against a FIFO on its command line and through Ctrl+O, Save onto
# a read-only and a full filesystem, a private pipewire (with pipewire-pulse
# and wireplumber, on a session bus of its own) or pulseaudio (pipewire where
# it is not installed), at the start, late or killed during play, and a
# private print service whose queue refuses every job. Everything runs in
# the check's own folder. Message boxes are read through the clipboard,
# where the box puts its text on Ctrl+C.

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
    desk.launch([fifo])
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
    # The shell execs the game: the process started here is the game.
    desk.start_game(prefix=unshare + ['sh', '-c', script, 'sh', ro, full])
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


def push_up_at_top(desk, server, origin, layout, size, hear_thump):
    """A stone run into its neighbour (with hear_thump, the thump is heard)
    and pushed by hand, one press at a time, to the top of the board, where
    every Up press is a stop against the edge of the client area, with the
    buzz."""
    start = server.recorded_bytes()
    i, stopped = run_into_neighbour(desk, origin, layout, size)
    if hear_thump:
        low, buzz = listen(server, start, 'a stone ran into another')
        if low < 0.5:
            raise CheckFailed('a stone that runs into another should thump (most of the sound below 300 Hz), '
                              'but only %d%% of it is that low' % round(100 * low))
    desk.key(*(['Up'] * (stopped[1] - 1)))
    top = moved_to(stopped, stopped[0], 1)
    desk.wait_for(lambda: stone_problem(desk.shot(), origin, top, STONE_RGB[i], ring=False) is None,
                  'stone %d pushed by hand to the top of the board' % i,
                  describe=lambda: 'there ' + (stone_problem(desk.last_shot, origin, top, STONE_RGB[i],
                                                             ring=False) or ''))
    return i, top


def hears_buzz(desk, server, what):
    start = server.recorded_bytes()
    desk.key('Up')
    low, buzz = listen(server, start, what)
    if buzz < 0.5:
        raise CheckFailed('after %s the buzz should be heard (most of the sound between 450 and 1300 Hz), '
                          'but only %d%% of it is there' % (what, round(100 * buzz)))


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
    """The cues on a sound server of the check's own (kind, or pipewire where
    pulseaudio is not installed): silence before a stone moves, the thump of
    a stone run into another, the buzz of one pushed against the edge; with
    late, the server comes only after the game, with restart it is killed
    while cues play and started again. The game never waits for it and says
    nothing about sound on the terminal."""
    def check(desk, args):
        server = SoundServer(desk, kind)
        try:
            if not late:
                server.start()
            desk.start_game()
            origin, layout, size = start_board(desk)
            if not late and sound_bands(server.recorded_sound(server.recorded_bytes(), 0.3), [(0, 300)]):
                raise CheckFailed('the sound server hears something before any stone moved')
            i, top = push_up_at_top(desk, server, origin, layout, size, hear_thump=not late)
            if late:
                # Cues while there is no server: silent, and nothing waits.
                desk.key('Up', 'Up', 'Up')
                keeps_playing(desk, origin, i, top, 'with no sound server')
                server.start()
            hears_buzz(desk, server, 'a stone pushed against the edge')
            if restart:
                # Killed while cues play, then started again.
                start = server.recorded_bytes()
                pushes = subprocess.Popen(['xdotool', 'key', '--delay', '120'] + ['Up'] * 10, env=desk.env)
                desk.wait_for(lambda: sound_bands(server.recorded_sound(start), [(0, 300)]),
                              'the buzz of the pushes to reach the sound server')
                server.kill()
                pushes.wait(20)
                keeps_playing(desk, origin, i, top, 'with the sound server killed')
                server.start()
                hears_buzz(desk, server, 'the sound server was started again and a stone pushed against the edge')
            keeps_playing(desk, origin, i, top, 'at the end')
            about_sound = [line for line in desk.game_output() if re.search('pulse|audio|sound|pipewire', line, re.I)]
            if about_sound:
                raise CheckFailed('the game wrote about sound on the terminal:\n' + '\n'.join(about_sound))
        finally:
            server.close()
    return check


def print_dialog(desk, service):
    """Ctrl+P: the print dialog, with the keyboard, once it has asked the
    print service for its default printer's description (the last thing it
    asks)."""
    ppd = '/printers/%s.ppd' % service.QUEUE
    asked = service.requests(ppd)
    desk.run(['xdotool', 'windowactivate', desk.main_window], check=False)
    desk.key('ctrl+p')
    dialog = new_window(desk, [desk.main_window], 'a print dialog after Ctrl+P', DEFAULT_TIMEOUT)
    desk.wait_for(lambda: desk.run(['xdotool', 'getactivewindow'], check=False).strip() == dialog,
                  'the print dialog to get the keyboard focus')
    desk.wait_for(lambda: service.requests(ppd) > asked, 'the print dialog to ask the print service about %s'
                  % service.QUEUE)
    return dialog


def check_print_refused(desk, args):
    service = PrintService(desk)
    try:
        service.start()
        desk.start_game()
        wait_for_title(desk)
        dialog = print_dialog(desk, service)
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
        print_dialog(desk, service)
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
