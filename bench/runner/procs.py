"""The processes the bench starts, and their stopping: every child is kept
in one list and stopped by its own id when its part ends, when the bench
fails, or when the bench itself is interrupted."""

import os
import signal
import subprocess
import time

_running = []


class Interrupted(Exception):
    """The bench was asked to stop (SIGINT or SIGTERM)."""


def _on_signal(number, _frame):
    # One stop is enough: a second signal must not cut the clean-up short.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    raise Interrupted(signal.Signals(number).name)


def install_signal_handlers():
    signal.signal(signal.SIGINT, _on_signal)
    signal.signal(signal.SIGTERM, _on_signal)


def start(args, cwd=None, env=None, stdout=None, stderr=None):
    """Starts a child in a session of its own, so that a Ctrl-C at the
    terminal reaches the bench alone and the bench stops the children in
    order. stdout/stderr: paths, or None to drop the output."""
    out = open(stdout, "wb") if stdout else subprocess.DEVNULL
    err = open(stderr, "wb") if stderr else subprocess.DEVNULL
    try:
        child = subprocess.Popen(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=err, start_new_session=True)
    finally:
        for f in (out, err):
            if f is not subprocess.DEVNULL:
                f.close()
    _running.append(child)
    return child


def stop(child, sig=signal.SIGINT, grace=20.0):
    """Sends sig, waits up to grace seconds, then kills. Returns the exit
    status, or None when it had to be killed."""
    if child is None:
        return None
    status = child.poll()
    if status is None:
        try:
            child.send_signal(sig)
        except ProcessLookupError:
            pass
        try:
            status = child.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
            status = None
    if child in _running:
        _running.remove(child)
    return status


def stop_all():
    """Stops every child still running, newest first."""
    for child in reversed(list(_running)):
        stop(child, grace=10.0)


def wait_until(check, timeout, step=0.05):
    """Polls check() until it is true or timeout seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        if check():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)


def run(args, timeout, cwd=None, env=None):
    """Runs a command to its end; returns (status, stdout, stderr) as text.
    A command that overruns timeout is killed and reported as status None."""
    child = start_piped(args, cwd, env)
    try:
        out, err = child.communicate(timeout=timeout)
        status = child.returncode
    except subprocess.TimeoutExpired:
        child.kill()
        out, err = child.communicate()
        status = None
    finally:
        if child in _running:
            _running.remove(child)
    return status, out.decode(errors="replace"), err.decode(errors="replace")


def start_piped(args, cwd=None, env=None):
    child = subprocess.Popen(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             start_new_session=True)
    _running.append(child)
    return child


def environment(**extra):
    env = dict(os.environ)
    env.update({k: str(v) for k, v in extra.items()})
    return env
