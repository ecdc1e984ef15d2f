"""Failures and processes: what every part of the checks shares."""

import ctypes
import os
import pwd
import signal
import subprocess
import sys


class CheckFailed(Exception):
    pass


# The exit status of a check that cannot run on this machine and says why;
# CTest shows it as skipped.
SKIPPED = 77


class CheckSkipped(Exception):
    pass


DEFAULT_TIMEOUT = 15.0


# --- Processes -------------------------------------------------------------

LIBC = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1


def die_with_parent():
    # A child of a check that is killed outright goes with it.
    LIBC.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def stop(proc, grace=3.0):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(grace)


def unprivileged():
    """The argv prefix that runs a program as nobody when the check runs as
    root, and the uid and gid it runs with."""
    if os.geteuid() != 0:
        return [], os.getuid(), os.getgid()
    user = pwd.getpwnam('nobody')
    return ['setpriv', '--reuid=%d' % user.pw_uid, '--regid=%d' % user.pw_gid, '--clear-groups'], \
        user.pw_uid, user.pw_gid


def gi_python():
    """A Python that has GObject introspection (Gio, GStreamer): this one,
    or the system's where this one is a private build."""
    prefix = unprivileged()[0]
    for exe in (sys.executable, '/usr/bin/python3'):
        if exe and subprocess.run(prefix + [exe, '-c', 'import gi'], capture_output=True).returncode == 0:
            return exe
    raise CheckFailed('no Python with GObject introspection (python3-gi) to talk to the compositor')
