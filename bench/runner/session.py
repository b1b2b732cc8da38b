"""One run of the real processes in a folder of its own: skerrow-rig (trigger
line, laser line, camera card), the stand-in camera module beside the
configuration, and skerrow, driven with skerrowctl as an operator would."""

import os
import shutil
import socket

import procs
import server_log

READY_LINES = (
    "] CameraWorkerThread(): Connected to camera on thread start.\n",
    "] TriggerWorkerThread(): Laser power serial port configured and open",
    "] SocketInitialize(): listen() successful.\n",
)


def free_port():
    """A loopback port nobody listens on now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Session:
    def __init__(self, build, folder, rig_options=(), module_env=None, camera=None):
        self.build = build
        self.folder = folder
        self.rig_options = list(rig_options)
        self.module_env = dict(module_env or {})
        self.camera = dict(camera or {})
        self.rig = None
        self.server = None
        self.port = None
        self.error = ""

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def start(self):
        """Starts the rig, then the server; False, with self.error, when
        either does not come up."""
        os.makedirs(self.folder, exist_ok=True)
        shutil.copy(os.path.join(self.build, "sim", "camera", "Type0001.md3"), self.folder)
        ports = self.path("rig-ports")
        self.rig = procs.start(
            [os.path.join(self.build, "sim", "rig", "skerrow-rig"), "--card", self.path("card"),
             "--log", self.path("rig-log.csv"), "--ports-file", ports] + self.rig_options,
            cwd=self.folder, stdout=self.path("rig-out.txt"), stderr=self.path("rig-err.txt"))
        if not procs.wait_until(lambda: os.path.exists(ports) or self.rig.poll() is not None, 20):
            self.error = "skerrow-rig is not ready"
            return False
        if self.rig.poll() is not None:
            self.error = "skerrow-rig ended: " + read(self.path("rig-err.txt"))
            return False
        lines = dict(l.split("=", 1) for l in read(ports).splitlines() if "=" in l)
        self.port = free_port()
        camera = "".join(f"{k}={v}\n" for k, v in self.camera.items())
        with open(self.path("Skerrow.ini"), "w") as f:
            f.write(f"[server]\nport={self.port}\nbindaddress=127.0.0.1\n"
                    f"[camera]\n{camera}"
                    f"[trigger]\nserialport={lines.get('trigger', '')}\n"
                    f"[laserpower]\nserialport={lines.get('laser', '')}\n")
        # The module completes on later processing calls, as a real one does,
        # unless a benchmark says otherwise.
        module_env = {"SKERROW_CAM_ASYNC": "1", **self.module_env}
        env = procs.environment(SKERROW_CAM_CARD=self.path("card"), **module_env)
        self.server = procs.start([os.path.join(self.build, "skerrow"), "Skerrow.ini"],
                                  cwd=self.folder, env=env, stdout=self.path("console.txt"),
                                  stderr=self.path("server-err.txt"))
        ready = lambda: all(n in self.console() for n in READY_LINES)
        if not procs.wait_until(lambda: ready() or self.server.poll() is not None, 30):
            self.error = "skerrow did not come up; see " + self.path("console.txt")
            return False
        if self.server.poll() is not None:
            self.error = "skerrow ended at start; see " + self.path("console.txt")
            return False
        return True

    def console(self):
        return read(self.path("console.txt"))

    def log(self):
        """The server log as entries (see server_log)."""
        return server_log.entries(self.console())

    def ctl(self, *words):
        """Runs skerrowctl; returns its reply line, or None on failure."""
        status, out, _ = procs.run(
            [os.path.join(self.build, "tools", "skerrowctl", "skerrowctl"), "--port",
             str(self.port), "--timeout", "10000"] + [str(w) for w in words], timeout=30)
        return out.strip() if status == 0 else None

    def rig_rows(self, event):
        return server_log.rig_rows(read(self.path("rig-log.csv")), event)

    def stop(self):
        """Stops the server (SIGINT: its orderly shutdown), then the rig.
        True when both ended with status 0."""
        server = procs.stop(self.server, grace=30)
        rig = procs.stop(self.rig, grace=15)
        self.server = self.rig = None
        return server == 0 and rig == 0


def read(path):
    try:
        with open(path, "r", errors="replace") as f:
            return f.read()
    except OSError:
        return ""
