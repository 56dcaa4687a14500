"""A desktop for the window tests: Xvfb with a window manager, or a headless Wayland
compositor, a private home, and the built program started in it."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77


def need(*tools):
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        print("skipped: not installed: " + " ".join(missing))
        sys.exit(SKIP)


def wait_for(condition, timeout=20.0, step=0.1, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    raise AssertionError("timed out waiting for " + what)


def run(*args, env=None, check=True):
    return subprocess.run(list(args), env=env, check=check, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True).stdout


def start_xvfb(size="1280x1024"):
    """Starts Xvfb on a free display; returns (process, display).

    -noreset: without it the server starts afresh whenever its last client leaves (the
    probe below, a helper that only sets a property and goes) and refuses whoever
    connects meanwhile. A server that takes no clients is started again."""
    for _ in range(3):
        read, write = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24", "-noreset", "-nolisten",
                                 "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise AssertionError("Xvfb did not start")
        time.sleep(0.2)
        if subprocess.run(["xdpyinfo", "-display", ":" + number], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            return xvfb, ":" + number
        xvfb.terminate()
        xvfb.wait()
    raise AssertionError("Xvfb takes no clients")


class Session:
    """Processes started here end with the session, whatever the test did."""

    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="velmora-desktop-")
        self.env = dict(os.environ)
        for name in ("WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME", "XDG_STATE_HOME"):
            self.env.pop(name, None)
        runtime = os.path.join(self.home, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.env.update(HOME=self.home, XDG_RUNTIME_DIR=runtime, LC_ALL="C.UTF-8")
        self.processes = []

    def start(self, args, env=None, log=None):
        out = open(log or os.devnull, "w")
        process = subprocess.Popen(args, env=env or self.env, stdout=out, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        self.processes.append(process)
        return process

    def start_x(self, window_manager="openbox", size="1600x1000"):
        xvfb, self.display = start_xvfb(size)
        self.processes.append(xvfb)
        self.env["DISPLAY"] = self.display
        self.env["QT_QPA_PLATFORM"] = "xcb"
        if window_manager:
            self.start([window_manager], log=os.path.join(self.home, "window-manager.log"))
            # A window manager owns the screen once it has set its check window.
            wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in run("xprop", "-root", env=self.env, check=False),
                     what="the window manager")

    def start_wayland(self, width=1280, height=800, scale=1):
        socket = "velmora-test"
        self.start(["weston", "--backend=headless-backend.so", "--socket=" + socket, "--width=%d" % width,
                    "--height=%d" % height, "--scale=%d" % scale, "--use-pixman", "--debug", "--no-config",
                    "--idle-time=0"], log=os.path.join(self.home, "weston.log"))
        wait_for(lambda: os.path.exists(os.path.join(self.env["XDG_RUNTIME_DIR"], socket)), what="weston")
        self.env["WAYLAND_DISPLAY"] = socket
        self.env["QT_QPA_PLATFORM"] = "wayland"

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
        shutil.rmtree(self.home, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        # What the screen showed when a test failed, kept for whoever reads the log.
        if kind is not None and getattr(self, "display", None):
            shot = os.path.join(tempfile.gettempdir(), "velmora-desktop-failure-%d.png" % os.getpid())
            subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-i", self.display, "-frames:v", "1",
                            shot], env=self.env, check=False)
            print("the screen at the failure: " + shot)
            for name in ("window-manager.log", "velmora.log", "weston.log"):
                path = os.path.join(self.home, name)
                if os.path.exists(path):
                    with open(path, errors="replace") as log:
                        print("---- %s\n%s" % (name, log.read()[-3000:]))
        self.close()
        return False


class XTool:
    """The X display seen as a user sees it: windows, keys, and the pixels on screen."""

    def __init__(self, session):
        self.env = session.env
        self.display = session.display

    def xdotool(self, *args, check=True):
        return run("xdotool", *args, env=self.env, check=check)

    def key(self, *keys, pause=0.25):
        for key in keys:
            self.xdotool("key", "--clearmodifiers", key)
            time.sleep(pause)

    def type(self, text):
        self.xdotool("type", "--delay", "20", text)
        time.sleep(0.2)

    def windows(self, pid):
        """Visible windows of the process: id -> (name, x, y, width, height)."""
        found = {}
        ids = self.xdotool("search", "--all", "--onlyvisible", "--pid", str(pid), "--name", "", check=False).split()
        for window in ids:
            geometry = self.xdotool("getwindowgeometry", "--shell", window, check=False)
            values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
            if not values:
                continue
            name = self.xdotool("getwindowname", window, check=False).strip()
            found[window] = (name, int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))
        return found

    def wait_window(self, pid, name, timeout=20.0):
        def find():
            for window, value in self.windows(pid).items():
                if value[0] == name and value[3] > 10:
                    return window, value
            return None
        return wait_for(find, timeout, what="window " + repr(name))

    def active_name(self):
        return self.xdotool("getactivewindow", "getwindowname", check=False).strip()

    def grab_gray(self, x, y, width, height):
        """The screen's pixels in a rectangle, one byte of brightness each."""
        data = subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "x11grab", "-video_size",
                               "%dx%d" % (width, height), "-i", "%s+%d,%d" % (self.display, x, y),
                               "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"],
                              env=self.env, check=True, stdout=subprocess.PIPE).stdout
        return data


def make_tone(path, seconds):
    run("ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
        "sine=frequency=440:duration=%g" % seconds, path)


def duration(path):
    return float(run("ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path).strip())
