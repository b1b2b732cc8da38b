"""The rig and the server as child processes of the soak, each in a session
of its own (a Ctrl-C at the terminal reaches only the soak, which then
stops them in order), with their output in files of the run folder."""

import os
import signal
import socket
import subprocess
import time


def free_port():
    """A loopback port free at the time of asking."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until(condition, deadline_s, step_s=0.1):
    end = time.monotonic() + deadline_s
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step_s)
    return condition()


def start(argv, cwd, name, env=None):
    """Starts argv in cwd with standard output and error in cwd/name.out and
    cwd/name.err, standard input from /dev/null."""
    with open(os.path.join(cwd, name + ".out"), "wb") as out, \
            open(os.path.join(cwd, name + ".err"), "wb") as err:
        return subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=err, start_new_session=True)


def stop(process, deadline_s):
    """SIGINT, then waits. Returns the exit status, or None when it had to
    be killed (SIGKILL) after the deadline."""
    if process.poll() is not None:
        return process.returncode
    try:
        process.send_signal(signal.SIGINT)
        return process.wait(timeout=deadline_s)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def start_rig(rig, run, options):
    """Starts skerrow-rig and waits for its ports file. Returns the process
    and the trigger and laser port names (None when it did not come up)."""
    ports = os.path.join(run, "rig-ports")
    process = start([rig, "--card", os.path.join(run, "card"), "--log",
                     os.path.join(run, "rig-log.csv"), "--ports-file", ports] + options, run, "rig")
    if not wait_until(lambda: os.path.exists(ports) or process.poll() is not None, 30):
        return process, None, None
    names = {}
    if os.path.exists(ports):
        with open(ports, encoding="utf-8") as text:
            for line in text:
                key, _, value = line.strip().partition("=")
                names[key] = value
    return process, names.get("trigger"), names.get("laser")


def ctl(binary, port, *args):
    """Runs skerrowctl once: (exit status, printed line)."""
    try:
        done = subprocess.run([binary, "--port", str(port), "--timeout", "20000"] + list(args),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=120)
    except subprocess.TimeoutExpired:
        return None, "skerrowctl did not end"
    return done.returncode, (done.stdout + done.stderr).strip()
