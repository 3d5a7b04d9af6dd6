"""Throwaway X desktops and a driver for the real Lumivore executable.

Every desktop is a private Xvfb (with openbox, or with no window manager at
all); every Lumivore runs from its own copy of the executable in a temporary
folder, so the lumivore.INI beside it belongs to the test alone. Every wait
is bounded, and every process started here is stopped by its process group
when the fixture ends, whether the test passed, failed or timed out.
"""

import ctypes
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

SCREEN_W, SCREEN_H = 1920, 1080
# The window, which the executable loads from beside itself when not installed.
WINDOW_MODULE = "liblumivore-window.so"

# The window manager of the managed desktops: LUMIVORE_WM names one of these
# (openbox when unset). The suites run once per window manager; the desktop
# without any window manager runs with openbox's round only.
WM = os.environ.get("LUMIVORE_WM", "openbox")
# A plain i3: new windows tile, dialogs float, and so does Lumivore, by the
# rule an i3 user writes for a small always-on-top tool window.
I3_CONFIG = """# i3 config file (v4)
font pango:monospace 8
focus_follows_mouse no
for_window [class="^TLumivoreForm$"] floating enable
"""


def window_manager_command(name, workdir):
    """The command line that starts window manager `name` on a fresh Xvfb."""
    if name == "openbox":
        return ["openbox", "--sm-disable"]
    if name == "xfwm4":
        # xfwm4 exits at once without a session bus; its compositor stays off,
        # as with Lumivore's other desktops.
        return ["dbus-run-session", "--", "xfwm4", "--replace", "--compositor=off"]
    if name == "xfwm4-compositing":
        return ["dbus-run-session", "--", "xfwm4", "--replace", "--compositor=on"]
    if name == "fluxbox":
        return ["fluxbox", "-no-slit", "-no-toolbar"]
    if name == "i3":
        config = Path(workdir) / "i3.config"
        config.write_text(I3_CONFIG)
        return ["i3", "-c", str(config)]
    if name == "kwin":
        # KWin composites (OpenGL, on Xvfb through Mesa's software renderer) and runs its
        # D-Bus services on a session bus of its own. Its settings are a user's who turned
        # animations off, so a window shows at once at its final look.
        config = Path(workdir) / "wm-home" / ".config"
        config.mkdir(parents=True, exist_ok=True)
        (config / "kdeglobals").write_text("[KDE]\nAnimationDurationFactor=0\n")
        return ["env", f"XDG_CONFIG_HOME={config}", "dbus-run-session", "--",
                "kwin_x11", "--replace"]
    raise ValueError(f"unknown window manager {name}")


def start_window_manager(name, env, workdir, log_name="wm.log"):
    """Starts window manager `name` and waits until it announces itself on the root;
    returns its process, or None when it did not come up."""
    home = Path(workdir) / "wm-home"  # fluxbox and i3 write their settings there
    home.mkdir(exist_ok=True)
    proc = spawn(window_manager_command(name, workdir), dict(env, HOME=str(home)),
                 Path(workdir) / log_name)

    def announced():
        out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                             capture_output=True, text=True, timeout=X_TOOL_TIMEOUT).stdout
        return "window id" in out

    if not wait_until(announced, 15):
        stop_group(proc)
        return None
    return proc
MAIN_CLASS = "TLumivoreForm"
X_TOOL_TIMEOUT = 10  # seconds for one xdotool/xprop/xwininfo call
STILL_FOR = 0.8  # seconds a screenshot must stay the same under KWin to count as settled


def copy_executable(exe, to):
    """Copies the built executable to `to` (its settings then live beside the copy), with its
    window module beside it, where the executable looks for it outside an installation."""
    to = Path(to)
    shutil.copy2(exe, to)
    module = Path(exe).resolve().with_name(WINDOW_MODULE)
    (to.parent / WINDOW_MODULE).unlink(missing_ok=True)
    (to.parent / WINDOW_MODULE).symlink_to(module)
    return to


def _die_with_parent():
    """Runs in the child: if pytest dies (even by SIGKILL), the child gets SIGTERM."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def spawn(cmd, env, log_path, **kwargs):
    """Starts `cmd` as the leader of a new process group, output to `log_path`."""
    with open(log_path, "ab") as log:
        return subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT, start_new_session=True,
                                preexec_fn=_die_with_parent, **kwargs)


def stop_group(proc, grace=2.0):
    """Ends `proc` and everything in its process group; never waits unbounded. What is
    still in the group once `proc` has ended is killed too: KWin, when it crashes on its
    way out, starts a new copy of itself in the group before it dies, and that copy would
    take over the next X server to get the same display number."""
    for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
        try:
            os.killpg(proc.pid, sig)
        except (ProcessLookupError, PermissionError):
            pass
        try:
            proc.wait(wait)
            break
        except subprocess.TimeoutExpired:
            continue
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def wait_until(probe, timeout, interval=0.05):
    """Polls `probe` until it returns something truthy or `timeout` seconds pass.
    Returns the last value, so the caller asserts on what was really seen."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def start_client(desktop, cmd, cls, wait=10):
    """Starts a client and returns its window once viewable. A client mapped in
    the first moments after the window manager came up is now and then never
    managed (and so never shown): a second one is."""
    for _ in range(3):
        before = set(desktop.search("--class", f"^{cls}$"))
        proc = desktop.spawn(cmd, f"{cls}.log")
        fresh = wait_until(lambda: set(desktop.search("--class", f"^{cls}$")) - before, wait / 2)
        if fresh:
            return fresh.pop()
        desktop.procs.remove(proc)
        stop_group(proc)
    raise AssertionError(f"{cls} did not show a window")


class Desktop:
    """One Xvfb 1920x1080 screen, managed by window manager `wm` (a name of
    window_manager_command) or by none."""

    def __init__(self, wm, workdir, depth=24):
        self.wm = wm
        self.workdir = Path(workdir)
        self.wm_proc = None
        self.procs = []  # clients started by tests
        read_fd, write_fd = os.pipe()
        try:
            self.xvfb = spawn(self.server_command(write_fd, depth), os.environ.copy(),
                              self.workdir / "xvfb.log", pass_fds=(write_fd,))
            os.close(write_fd)
            write_fd = -1
            number = b""
            deadline = time.monotonic() + 15
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([read_fd], [], [], 0.2)
                if ready:
                    chunk = os.read(read_fd, 16)
                    if not chunk:
                        break
                    number += chunk
        finally:
            os.close(read_fd)
            if write_fd >= 0:
                os.close(write_fd)
        if not number.strip():
            self.stop()
            raise RuntimeError("the X server did not report a display number")
        self.display = ":" + number.decode().strip()
        runtime = self.workdir / "runtime"
        runtime.mkdir(mode=0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("QT_QPA_PLATFORM", "LUMIVORE_PLATFORM", "WAYLAND_DISPLAY",
                                 "QT_SCALE_FACTOR", "XAUTHORITY")}
        # The settings of a copy that cannot write beside itself live under
        # XDG_CONFIG_HOME: keep them private.
        self.env.update(DISPLAY=self.display, XDG_RUNTIME_DIR=str(runtime),
                        XDG_CONFIG_HOME=str(self.workdir / "config"))
        self.prepare_screen()
        if wm:
            self.wm_proc = start_window_manager(wm, self.env, self.workdir)
            if not self.wm_proc:
                self.stop()
                raise RuntimeError(f"{wm} did not come up")

    def server_command(self, display_fd, depth):
        """The X server to start; it writes its display number to `display_fd`."""
        return ["Xvfb", "-displayfd", str(display_fd), "-screen", "0",
                f"{SCREEN_W}x{SCREEN_H}x{depth}", "-nolisten", "tcp", "-noreset"]

    def prepare_screen(self):
        """Sets the screen up once the server runs, before the window manager comes."""

    def stop_clients(self):
        while self.procs:
            stop_group(self.procs.pop())

    def stop(self):
        self.stop_clients()
        if self.wm_proc:
            stop_group(self.wm_proc)
        stop_group(self.xvfb)

    def spawn(self, cmd, log_name, env=None):
        proc = spawn(cmd, env or self.env, self.workdir / log_name)
        self.procs.append(proc)
        return proc

    # -- X queries -------------------------------------------------------------------

    def x(self, *cmd):
        """Runs an X client tool on this display and returns its standard output."""
        try:
            done = subprocess.run(cmd, env=self.env, capture_output=True, text=True,
                                  timeout=X_TOOL_TIMEOUT)
        except subprocess.TimeoutExpired:
            return ""
        return done.stdout

    def search(self, *criteria):
        """Viewable windows matching xdotool search criteria (xdotool may name one
        twice)."""
        found = self.x("xdotool", "search", "--onlyvisible", *criteria).split()
        return list(dict.fromkeys(int(w) for w in found))

    def main_windows(self):
        return self.search("--class", f"^{MAIN_CLASS}$")

    def client_geometry(self, win):
        """Client area (x, y, width, height) in root coordinates."""
        info = self.x("xwininfo", "-id", str(win))
        get = lambda name: int(re.search(rf"{name}:\s+(-?\d+)", info).group(1))
        return (get("Absolute upper-left X"), get("Absolute upper-left Y"), get("Width"),
                get("Height"))

    def map_state(self, win):
        match = re.search(r"Map State:\s+(\w+)", self.x("xwininfo", "-id", str(win)))
        return match.group(1) if match else None

    def frame_extents(self, win):
        """Window manager frame (left, right, top, bottom); zeros without a frame.
        A window manager that does not publish them (i3) has them measured on
        its frame window."""
        match = re.search(r"=\s*(\d+), (\d+), (\d+), (\d+)",
                          self.x("xprop", "-id", str(win), "_NET_FRAME_EXTENTS"))
        if match:
            return tuple(int(v) for v in match.groups())
        frame = self.frame(win)
        if frame == win:
            return (0, 0, 0, 0)
        x, y, w, h = self.client_geometry(win)
        fx, fy, fw, fh = self.client_geometry(frame)
        return (x - fx, fx + fw - x - w, y - fy, fy + fh - y - h)

    def outer_geometry(self, win):
        """Outer bounds (left, top, width, height): client area plus frame."""
        x, y, w, h = self.client_geometry(win)
        left, right, top, bottom = self.frame_extents(win)
        return (x - left, y - top, w + left + right, h + top + bottom)

    def net_wm_state(self, win):
        return set(re.findall(r"_NET_WM_STATE_\w+",
                              self.x("xprop", "-id", str(win), "_NET_WM_STATE")))

    def wm_class(self, win):
        return re.findall(r'"([^"]*)"', self.x("xprop", "-id", str(win), "WM_CLASS"))

    def active_window(self):
        match = re.search(r"# (0x[0-9a-f]+)", self.x("xprop", "-root", "_NET_ACTIVE_WINDOW"))
        return int(match.group(1), 16) if match else None

    def stacking(self):
        """Managed clients from bottom to top, as the window manager stacks them."""
        out = self.x("xprop", "-root", "_NET_CLIENT_LIST_STACKING")
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]

    def frame(self, win):
        """The top-level window that holds `win`: its window manager's frame, or
        `win` itself without one."""
        while True:
            tree = self.x("xwininfo", "-children", "-id", str(win))
            parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree)
            root = re.search(r"Root window id: (0x[0-9a-f]+)", tree)
            if not parent or not root or parent.group(1) == root.group(1):
                return win
            win = int(parent.group(1), 16)

    def is_above(self, win, other):
        """Whether `win` is stacked above `other`, as the server stacks their frames
        (some window managers leave the layers out of _NET_CLIENT_LIST_STACKING)."""
        order = [int(w, 16) for w in re.findall(r"^\s+(0x[0-9a-f]+)",
                                                 self.x("xwininfo", "-root", "-children"),
                                                 re.M)]
        return order.index(self.frame(win)) < order.index(self.frame(other))

    def work_area(self):
        """What the window manager gives maximised windows (left, top, width, height)."""
        match = re.search(r"=\s*(\d+), (\d+), (\d+), (\d+)",
                          self.x("xprop", "-root", "_NET_WORKAREA"))
        return tuple(int(v) for v in match.groups()) if match else (0, 0, SCREEN_W, SCREEN_H)

    def focus_window(self):
        out = self.x("xdotool", "getwindowfocus").strip()
        return int(out) if out else None

    def pointer(self):
        out = self.x("xdotool", "getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def top_level_order(self):
        """Viewable children of the root, topmost first (without a window manager
        are the clients themselves)."""
        out = self.x("xwininfo", "-root", "-children")
        ids = [int(m, 16) for m in re.findall(r"^\s+(0x[0-9a-f]+)", out, re.M)]
        return [w for w in ids if self.map_state(w) == "IsViewable"]

    def screenshot(self):
        """The root window as (width, height, RGB bytes)."""
        try:
            ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                                 env=self.env, capture_output=True,
                                 timeout=X_TOOL_TIMEOUT).stdout
        except subprocess.TimeoutExpired:
            return 0, 0, b""
        parts = ppm.split(maxsplit=4)  # P6, width, height, maximum, pixels
        if len(parts) < 5 or parts[0] != b"P6" or parts[3] != b"255":
            return 0, 0, b""
        return int(parts[1]), int(parts[2]), parts[4]

    def settled_screenshot(self, timeout=5):
        """A screenshot once those taken one after the other agree: windows that just
        mapped or changed focus have repainted. Under KWin they must agree for
        STILL_FOR seconds: its compositor, drawing with Mesa's software renderer on a
        virtual X server, shows a whole black screen for a few tenths of a second now
        and then when it repaints everything."""
        still_for = STILL_FOR if self.wm == "kwin" else 0
        last, since, count = self.screenshot(), time.monotonic(), 1

        def still():
            nonlocal last, since, count
            shot = self.screenshot()
            if shot == last:
                count += 1
            else:
                last, since, count = shot, time.monotonic(), 1
            return count >= 2 and time.monotonic() - since >= still_for

        wait_until(still, timeout, interval=0.1)
        return last

    def clipboard(self, target):
        """The clipboard's contents as type `target`, read by xclip (b"" when none)."""
        try:
            return subprocess.run(["xclip", "-selection", "clipboard", "-t", target, "-o"],
                                  env=self.env, capture_output=True, timeout=10).stdout
        except subprocess.TimeoutExpired:
            return b""

    # -- input -----------------------------------------------------------------------

    def key(self, win, keysym):
        """Focuses `win` and types `keysym` through XTEST, as a real keyboard would."""
        self.x("xdotool", "windowfocus", "--sync", str(win))
        self.x("xdotool", "key", keysym)

    def start_xterm(self):
        """An ordinary client window that takes the focus; returns (process, window)."""
        before = set(self.search("--class", "^XTerm$"))
        proc = self.spawn(["xterm", "-geometry", "60x10+40+40"], "xterm.log")
        fresh = wait_until(lambda: set(self.search("--class", "^XTerm$")) - before, 10)
        assert fresh, "xterm did not show a window"
        return proc, fresh.pop()


class Lumivore:
    """A private copy of the executable with its own settings file."""

    def __init__(self, desktop, folder, exe):
        self.desktop = desktop
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.exe = self.folder / "lumivore"
        copy_executable(exe, self.exe)
        self.ini = self.folder / "lumivore.INI"
        self.procs = []

    def write_ini(self, content):
        data = content.encode() if isinstance(content, str) else content
        self.ini.write_bytes(data)

    def start(self, env=None):
        """Starts this copy, in the desktop's environment or in `env`."""
        proc = self.desktop.spawn([str(self.exe)], f"lumivore-{id(self)}-{len(self.procs)}.log",
                                  env)
        self.procs.append(proc)
        return proc

    def wait_window(self, timeout=10):
        """The main window once it is viewable (exactly one may exist)."""
        found = wait_until(self.desktop.main_windows, timeout)
        assert len(found) == 1, f"expected one main window, found {found}"
        return found[0]

    def wait_outer(self, win, expected, timeout=3):
        """Outer geometry once it equals `expected` (the frame is corrected shortly after
        mapping), else the last geometry seen."""
        seen = []

        def probe():
            seen.append(self.desktop.outer_geometry(win))
            return seen[-1] == expected

        wait_until(probe, timeout)
        return seen[-1]

    @staticmethod
    def wait_exit(proc, timeout=10):
        """Exit status, or None when the process still runs after `timeout`."""
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def close_with_esc(self, proc, win):
        self.desktop.key(win, "Escape")
        return self.wait_exit(proc)

    def read_ini(self):
        """[(section, key, value)] in file order; bytes that are not UTF-8 are kept as
        surrogate escapes, and a section line may lack its closing bracket."""
        entries, section = [], None
        text = self.ini.read_bytes().decode("utf-8", "surrogateescape")
        for line in text.splitlines():
            if line.startswith("["):
                section = line[1:].split("]", 1)[0]
            elif "=" in line:
                key, value = line.split("=", 1)
                entries.append((section, key, value))
        return entries

    def ini_values(self):
        """{(section, key): value}; as in reading, the first occurrence counts."""
        values = {}
        for section, key, value in self.read_ini():
            values.setdefault((section, key), value)
        return values

    def ini_value(self, section, key):
        return self.ini_values().get((section, key))


def not_under(*names, reason):
    """Marks a test as not applying under the window managers `names`."""
    return pytest.mark.skipif(WM in names, reason=f"not under {WM}: {reason}")


@pytest.fixture(scope="module")
def managed_desktop(tmp_path_factory):
    desktop = Desktop(WM, tmp_path_factory.mktemp(WM))
    yield desktop
    desktop.stop()


@pytest.fixture(scope="module")
def openbox_desktop(managed_desktop):
    """The managed desktop under its former name (openbox in openbox's round)."""
    return managed_desktop


@pytest.fixture(scope="module")
def bare_desktop(tmp_path_factory):
    if WM != "openbox":
        pytest.skip("the desktop without a window manager runs in openbox's round")
    desktop = Desktop(None, tmp_path_factory.mktemp("bare"))
    yield desktop
    desktop.stop()


@pytest.fixture(scope="module", params=[WM, "no-wm"])
def desktop(request):
    return request.getfixturevalue("bare_desktop" if request.param == "no-wm"
                                   else "managed_desktop")


@pytest.fixture
def lumivore_exe():
    exe = os.environ.get("LUMIVORE_EXE")
    if not exe or not os.access(exe, os.X_OK):
        pytest.fail("LUMIVORE_EXE must name the built lumivore executable")
    return exe


@pytest.fixture
def new_copy(lumivore_exe, tmp_path):
    """Factory of private Lumivore copies on a desktop. Whatever a test started on that
    desktop is stopped afterwards, so the next test finds a clean screen."""
    started = []

    def make(desktop, name="app"):
        copy = Lumivore(desktop, tmp_path / name, lumivore_exe)
        started.append(desktop)
        return copy

    yield make
    for desktop in started:
        desktop.stop_clients()


class WestonDesktop(Desktop):
    """A Wayland session: weston's headless compositor with a rootless Xwayland, whose
    display the X clients of the tests use. The headless back end has no seat: the
    pointer is driven through XTEST (a core pointer warp would take Xwayland down),
    and the root holds no pixels, so pictures are read from windows."""

    def __init__(self, workdir):
        self.wm = "weston"
        self.workdir = Path(workdir)
        self.wm_proc = None
        self.procs = []
        runtime = self.workdir / "runtime"
        runtime.mkdir(mode=0o700)
        log = self.workdir / "weston.log"
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LUMIVORE_PLATFORM",
                            "QT_SCALE_FACTOR", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS")}
        env["XDG_RUNTIME_DIR"] = str(runtime)
        self.xvfb = spawn(["weston", "--backend=headless-backend.so", "--xwayland",
                           "--socket=wayland-lumivore", f"--width={SCREEN_W}",
                           f"--height={SCREEN_H}", f"--log={log}"], env,
                          self.workdir / "weston.out")

        def display():
            text = log.read_text(errors="replace") if log.exists() else ""
            match = re.search(r"xserver listening on display (:\d+)", text)
            return match.group(1) if match else None

        self.display = wait_until(display, 15)
        if not self.display:
            self.stop()
            raise RuntimeError("weston did not start Xwayland")
        self.env = dict(env, DISPLAY=self.display, XDG_CONFIG_HOME=str(self.workdir / "config"))

    def xwayland_running(self):
        """Whether the session's X server still answers."""
        return subprocess.run(["xdpyinfo"], env=self.env, capture_output=True,
                              timeout=X_TOOL_TIMEOUT).returncode == 0

    def xtest(self, *events):
        """Sends pointer events through XTEST: ("move", x, y), ("down", button),
        ("up", button)."""
        x11 = ctypes.CDLL("libX11.so.6")
        xtst = ctypes.CDLL("libXtst.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        display = ctypes.c_void_p(x11.XOpenDisplay(self.display.encode()))
        assert display, f"cannot open {self.display}"
        try:
            for event in events:
                if event[0] == "move":
                    xtst.XTestFakeMotionEvent(display, -1, event[1], event[2], 0)
                else:
                    xtst.XTestFakeButtonEvent(display, event[1], event[0] == "down", 0)
                x11.XSync(display, 0)
        finally:
            x11.XCloseDisplay(display)

    def window_image(self, win):
        """The window's own contents as (width, height, RGBA bytes), read with Xlib's
        GetImage (ImageMagick's import drops the alpha of a 32-bit frame). Pixels of
        a window without alpha are opaque."""
        x11 = ctypes.CDLL("libX11.so.6")
        # A window unmapped or resized meanwhile fails the request (BadMatch), and
        # Xlib's own error handler would end the whole test run for it.
        x11.XSetErrorHandler(_IGNORE_X_ERRORS)
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XGetImage.restype = ctypes.POINTER(_XImage)
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        info = self.x("xwininfo", "-id", str(win))
        width = int(re.search(r"Width:\s+(\d+)", info).group(1))
        height = int(re.search(r"Height:\s+(\d+)", info).group(1))
        display = ctypes.c_void_p(x11.XOpenDisplay(self.display.encode()))
        assert display, f"cannot open {self.display}"
        try:
            image = x11.XGetImage(display, win, 0, 0, width, height, 0xFFFFFFFF, 2)  # ZPixmap
            if not image:
                return width, height, b""
            i = image.contents
            assert i.bits_per_pixel == 32 and i.byte_order == 0, "expected 32-bit LSB pixels"
            raw = ctypes.string_at(i.data, i.bytes_per_line * height)
            x11.XFree(i.data)
            x11.XFree(image)
        finally:
            x11.XCloseDisplay(display)
        rgba = bytearray(width * height * 4)
        for y in range(height):
            row = raw[y * i.bytes_per_line:y * i.bytes_per_line + width * 4]
            out = rgba[y * width * 4:(y + 1) * width * 4]
            out[0::4], out[1::4], out[2::4] = row[2::4], row[1::4], row[0::4]
            out[3::4] = row[3::4] if i.depth == 32 else b"\xff" * width
            rgba[y * width * 4:(y + 1) * width * 4] = out
        return width, height, bytes(rgba)


def start_session_bus(desktop):
    """A private session bus (dbus-daemon) among the desktop's processes; returns its
    address."""
    with open(desktop.workdir / "dbus.log", "ab") as log:
        proc = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                                env=desktop.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=log, start_new_session=True,
                                preexec_fn=_die_with_parent)
    desktop.procs.append(proc)
    line = b""
    deadline = time.monotonic() + 15
    while not line.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], 0.2)
        if ready:
            chunk = os.read(proc.stdout.fileno(), 256)
            if not chunk:
                break
            line += chunk
    assert line.strip(), "dbus-daemon did not report its address"
    return line.decode().strip()


class FakePortal:
    """The tests' own desktop portal (fake_portal.py) on a private session bus of the
    desktop: what it answers is set with answer(), the calls it got are in calls()."""

    def __init__(self, desktop, workdir):
        self.desktop = desktop
        self.address = start_session_bus(desktop)
        self.answer_file = Path(workdir) / "portal-answer"
        self.log = Path(workdir) / "portal-calls.log"
        self.answer("cancel")
        self.proc = desktop.spawn([sys.executable, str(Path(__file__).with_name("fake_portal.py")),
                                   self.address, str(self.answer_file), str(self.log)],
                                  "fake-portal.log")
        assert wait_until(lambda: self.log.exists() and "ready" in self.log.read_text(), 15), \
            "the tests' portal did not take its name on the bus"

    def answer(self, text):
        self.answer_file.write_text(text)

    def calls(self):
        return [json.loads(line) for line in self.log.read_text().splitlines()
                if line.startswith("{")]

    def leave(self):
        """Ends the portal; the bus stays."""
        self.desktop.procs.remove(self.proc)
        stop_group(self.proc)


# An Xlib error handler that lets the failing call return its failure.
_IGNORE_X_ERRORS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(
    lambda display, event: 0)


class _XImage(ctypes.Structure):
    """The leading fields of Xlib's XImage."""
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


@pytest.fixture(scope="module")
def weston_desktop(tmp_path_factory):
    for program in ("weston", "Xwayland"):
        if not shutil.which(program):
            pytest.fail(f"{program} is not installed (scripts/deps.sh test installs it)")
    desktop = WestonDesktop(tmp_path_factory.mktemp("weston"))
    yield desktop
    desktop.stop()
