"""Trigger spacing of the Windows builds, run under Wine: the plain
trigger_spacing program (the trigger worker on fake lines with the
platform's timer, 300 triggers at 100 ms) of the 32-bit and the 64-bit
build. These are figures of Wine on this machine, not of Windows: they show
that the Windows timer path works, not how a field PC keeps time."""

import os
import re
import shutil
import subprocess
import tempfile

import procs
import results

PART = "4 Trigger spacing"
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LINE = re.compile(r"mean error ([0-9.]+) ms, max error ([0-9.]+) ms")


def _build(preset):
    """The program's path, built with the preset; None and why on failure."""
    folder = os.path.join(ROOT, "build", preset)
    status, _, err = procs.run(["cmake", "--preset", preset], timeout=600, cwd=ROOT)
    if status == 0:
        status, _, err = procs.run(["cmake", "--build", folder, "-j", "2", "--target",
                                    "trigger_spacing"], timeout=1200, cwd=ROOT)
    if status != 0:
        return None, f"the {preset} build failed: {err.strip()[-200:]}"
    return os.path.join(folder, "bench", "trigger", "trigger_spacing.exe"), None


def measure():
    if shutil.which("wine") is None or shutil.which("wineserver") is None:
        return [results.failed(PART, "Wine: trigger spacing", "wine is not installed "
                               "(scripts/lib/packages.sh installs it with the Windows packages)")]
    prefix = tempfile.mkdtemp(prefix="skerrow-bench-wine-")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEARCH="win64",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    rows = []
    # The server and the services wineboot starts outlive the command: with
    # their output on a pipe, reading it to its end would never finish.
    quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL)
    try:
        subprocess.run(["wineserver", "-p"], timeout=60, check=False, **quiet)
        subprocess.run(["wineboot", "-i"], timeout=300, check=False, **quiet)
        for arch, preset in (("x86", "mingw32"), ("x64", "mingw64")):
            figure = f"Wine {arch} (figures of Wine, not of Windows): 100 ms, mean / max error"
            program, why = _build(preset)
            if program is None:
                rows.append(results.failed(PART, figure, why))
                continue
            status, out, err = procs.run(["wine", program], timeout=300, env=env)
            found = LINE.search(out)
            if status != 0 or not found:
                rows.append(results.failed(PART, figure, (out + err).strip()[-200:]))
                continue
            rows.append(results.Row(PART, figure, f"{float(found.group(1)):.3f} / "
                                    f"{float(found.group(2)):.3f}", "ms"))
    finally:
        subprocess.run(["wineserver", "-k"], timeout=60, check=False, **quiet)
        shutil.rmtree(prefix, ignore_errors=True)
    return rows
