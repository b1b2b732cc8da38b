"""The Wine side of a run: the environment Windows programs get, a prefix of
the run's own when none is given, the PE machine of a Windows file, and a
COM port of the prefix that leads to a Linux pseudo-terminal."""

import os
import shutil
import subprocess
import tempfile

# IMAGE_FILE_HEADER.Machine of the two Windows builds.
PE_MACHINES = {"x86": 0x014C, "x64": 0x8664}


def pe_machine(path):
    """The machine field of a PE file, or None when the file is no PE file.

    Layout: "MZ" at 0; at 0x3C the 32-bit little-endian offset of the PE
    header; there "PE\\0\\0", then the 16-bit machine."""
    try:
        with open(path, "rb") as f:
            head = f.read(0x40)
            if len(head) < 0x40 or head[:2] != b"MZ":
                return None
            f.seek(int.from_bytes(head[0x3C:0x40], "little"))
            pe = f.read(6)
    except OSError:
        return None
    if len(pe) < 6 or pe[:4] != b"PE\0\0":
        return None
    return int.from_bytes(pe[4:6], "little")


def wine_environment(base):
    """base with what an unattended Windows run needs: no debug channels
    unless asked for, no Mono or Gecko installer dialogs, and no display,
    so nothing waits for a window nobody sees."""
    env = dict(base)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    return env


class OwnPrefix:
    """A throw-away prefix with one wine server kept up while it lives, for
    runs outside the test leg (which brings its own)."""

    def __init__(self, env, deadline_s):
        self.root = tempfile.mkdtemp(prefix="skerrow-wineprefix-")
        self.env = dict(env, WINEPREFIX=os.path.join(self.root, "prefix"))
        os.mkdir(self.env["WINEPREFIX"])
        # The persistent server first: one that wineboot started would end
        # a few seconds after it, and a second server refuses to start
        # while it runs, so every later program would start a new one.
        server = subprocess.run(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if server.returncode != 0:
            self.close()
            raise RuntimeError("wineserver -p failed (%d)" % server.returncode)
        log = os.path.join(self.root, "wineboot.log")
        with open(log, "wb") as out:
            try:
                done = subprocess.run(["wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL,
                                      stdout=out, stderr=subprocess.STDOUT, timeout=deadline_s)
                status = done.returncode
            except subprocess.TimeoutExpired:
                status = "no end within %d s" % deadline_s
        if status != 0:
            with open(log, "rb") as f:
                tail = f.read()[-2000:].decode("utf-8", "replace")
            self.close()
            raise RuntimeError("wineboot -i failed (%s):\n%s" % (status, tail))

    def close(self):
        # Ends this prefix's wine server and every Windows process in it,
        # all of them started by this run. The server lists what it still
        # held on standard error as it goes: of no interest here.
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        shutil.rmtree(self.root, ignore_errors=True)


def ensure_server(env):
    """Makes sure a wine server runs for env's prefix before the program
    starts. A server that the program started would write to the program's
    standard error and end with it; one started here ends on its own ten
    seconds after its last process. A server already running (the test
    leg's) is left as it is: the second one exits at once."""
    subprocess.run(["wineserver", "-p10"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


class ComLink:
    """dosdevices/comN in the prefix, a symlink to a serial device path.

    COM1 to COM9 are the names a program may open without the \\\\.\\ form.
    Wine's mount manager links the ports it finds under /dev at start-up
    from COM1 upwards, so the search runs downwards from COM9 and takes the
    first name the prefix does not have."""

    def __init__(self, prefix, target):
        self.path = None
        self.target = target
        dosdevices = os.path.join(prefix, "dosdevices")
        if not os.path.isdir(dosdevices):
            raise RuntimeError("WINEPREFIX %s is no Wine prefix (no dosdevices folder): make it "
                               "with wineboot -i, or leave WINEPREFIX unset" % prefix)
        for number in range(9, 1, -1):
            path = os.path.join(dosdevices, "com%d" % number)
            try:
                os.symlink(target, path)
            except FileExistsError:
                continue
            self.path = path
            self.name = "COM%d" % number
            return
        raise RuntimeError("no free COM2 to COM9 in %s" % dosdevices)

    def intact(self):
        return os.path.islink(self.path) and os.readlink(self.path) == self.target

    def remove(self):
        # Only the link this run made: a port the prefix had is never touched.
        if self.path is not None and self.intact():
            os.unlink(self.path)
