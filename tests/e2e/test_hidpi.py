"""End to end on a 3840 x 2160 screen at the desktop's scale: Xft.dpi 96 (100 %),
144 (150 %) and 192 (200 %) in the X resources, as desktops write them for their
scale setting. The window grows with the scale; the picture keeps the screen's
own pixels, in the view, in the selection and on the clipboard."""
import subprocess
import time

import pytest

from conftest import WM, Desktop, not_under, wait_until
from test_capture import crop, looks_with_and_without_focus, settled_client, start_client

SCREEN = (3840, 2160)
# The tool panel and the class-name and text rows above the view, in logical pixels.
VIEW_TOP = 42 + 25 + 25


class ScaledDesktop(Desktop):
    """A large Xvfb whose X resources give Qt the scale `dpi / 96`, merged before any
    client (the window manager included) starts."""

    def __init__(self, wm, workdir, dpi):
        self.dpi = dpi
        super().__init__(wm, workdir)

    def server_command(self, display_fd, depth):
        return ["Xvfb", "-displayfd", str(display_fd), "-screen", "0",
                f"{SCREEN[0]}x{SCREEN[1]}x{depth}", "-nolisten", "tcp", "-noreset"]

    def prepare_screen(self):
        subprocess.run(["xrdb", "-merge"], input=f"Xft.dpi: {self.dpi}\n", text=True,
                       env=self.env, check=True, timeout=10)
        if f"Xft.dpi:\t{self.dpi}" not in self.x("xrdb", "-query"):
            self.stop()
            raise RuntimeError("the X resources did not take Xft.dpi")


@pytest.fixture(scope="module", params=[96, 144, 192], ids=["100%", "150%", "200%"])
def scaled(request, tmp_path_factory):
    desktop = ScaledDesktop(WM, tmp_path_factory.mktemp(f"dpi{request.param}"), request.param)
    yield desktop, request.param / 96
    desktop.stop()


def device(logical, scale):
    return int(logical * scale)


def test_window_grows_with_the_scale(scaled, new_copy):
    desktop, scale = scaled
    app = new_copy(desktop)
    app.start()
    win = app.wait_window()
    # The designed 220 x 240 at the scale, centred on the screen.
    size = (round(220 * scale), round(240 * scale))
    centred = ((SCREEN[0] - size[0]) // 2, (SCREEN[1] - size[1]) // 2) + size
    seen = app.wait_outer(win, centred)
    # Above 100 % Qt places the client area on whole logical pixels: next to a frame
    # of an odd width its edges may lie a screen pixel off.
    slack = 0 if scale == 1 else 1
    assert all(abs(a - b) <= slack for a, b in zip(seen, centred)), seen
    # The INI keeps screen pixels.
    assert app.close_with_esc(app.procs[-1], win) == 0
    stored = tuple(int(app.ini_value("General", k)) for k in ("WinWidth", "WinHeight"))
    assert all(abs(a - b) <= slack for a, b in zip(stored, size)), stored


def png_pixels(data):
    """A PNG's size and RGB bytes, read by ImageMagick."""
    ppm = subprocess.run(["convert", "png:-", "-depth", "8", "ppm:-"], input=data,
                         capture_output=True, timeout=20, check=True).stdout
    magic, width, height, _, pixels = ppm.split(maxsplit=4)
    assert magic == b"P6"
    return int(width), int(height), pixels


def drag(desktop, start, end, steps=8, hover=0.0):
    desktop.x("xdotool", "mousemove", str(start[0]), str(start[1]))
    desktop.x("xdotool", "mousedown", "1")
    for step in range(1, steps + 1):
        desktop.x("xdotool", "mousemove", str(start[0] + (end[0] - start[0]) * step // steps),
                  str(start[1] + (end[1] - start[1]) * step // steps))
        time.sleep(0.03)
    time.sleep(hover)
    desktop.x("xdotool", "mouseup", "1")


@not_under("i3", reason="i3 tiles the target over the whole screen, and the test needs all of "
                        "it inside Lumivore's view")
def test_capture_view_and_selection_keep_screen_pixels(scaled, new_copy, tmp_path):
    desktop, scale = scaled
    # A yellow terminal with text, its cursor hidden: its client pixels do not change
    # with the focus.
    term = start_client(desktop, ["xterm", "-class", "XTermScaled", "-title", "scaled",
                                  "-bg", "yellow", "-fa", "DejaVu Sans Mono", "-fs", "11",
                                  "-geometry", "40x8+60+60", "-e", "sh", "-c",
                                  "printf 'Lumivore 200%%\\033[?25l'; sleep 120"], "XTermScaled")
    left, top, width, height = desktop.outer_geometry(term)
    looks = looks_with_and_without_focus(desktop, term)

    app = new_copy(desktop)
    app.write_ini("[General]\nWinLeft=1400\nWinTop=100\nWinWidth=1600\nWinHeight=1400\n")
    app.start()
    win = app.wait_window()
    # Press on the capture tool once Lumivore has put the pointer there.
    client, pointer = [], []

    def on_the_tool():
        client[:] = settled_client(desktop, win)
        pointer[:] = desktop.pointer()
        cx, cy, cw, _ = client
        tool = device(40, scale)
        return cx + cw - tool <= pointer[0] < cx + cw and cy <= pointer[1] < cy + tool

    assert wait_until(on_the_tool, 10), f"the pointer {pointer} is not on the tool of {client}"
    # Hover as a user does: the preview grabs the target meanwhile.
    drag(desktop, tuple(pointer), (left + width // 2, top + height // 2), hover=0.4)
    # Back beside the tool bar when the capture has ended. Shown again after the
    # grab, the window may stand a pixel or two elsewhere at a fractional scale:
    # what follows uses its place now.
    def ended():
        client[:] = settled_client(desktop, win)
        back = (client[0] + device(119, scale), client[1] + device(21, scale))
        return all(abs(a - b) <= 1 for a, b in zip(desktop.pointer(), back))

    assert wait_until(ended, 10), f"the pointer {desktop.pointer()} is not beside {client}"
    cx, cy, cw, ch = client

    # The view shows the picture pixel for pixel at its top-left corner.
    view = (cx, cy + round(VIEW_TOP * scale))
    shown = wait_until(lambda: (shot := desktop.settled_screenshot()) and
                       crop(shot, *view, width, height) in looks and shot, 10)
    assert shown, "the view does not show the terminal pixel for pixel"
    subprocess.run(["convert", "-size", f"{SCREEN[0]}x{SCREEN[1]}", "-depth", "8", "rgb:-",
                    "-crop", f"{cw + 40}x{ch + 60}+{cx - 20}+{cy - 40}",
                    str(tmp_path / f"lumivore-{round(scale * 100)}.png")],
                   input=shown[2], check=True, timeout=20)

    # A selection dragged over the view covers the picture pixels under the pointer:
    # copied, it equals the terminal's pixels there (inside its client area, which
    # looks the same with and without the focus).
    tx, ty, _, _ = desktop.client_geometry(term)
    inside = (tx - left + 7, ty - top + 5)  # a picture pixel inside the client area
    part = (101, 37)  # odd on purpose: half a logical pixel at 200 %
    drag(desktop, (view[0] + inside[0], view[1] + inside[1]),
         (view[0] + inside[0] + part[0], view[1] + inside[1] + part[1]))
    copy_button = (cx + device(3 + 16, scale), cy + device(3 + 15, scale))
    desktop.x("xdotool", "mousemove", str(copy_button[0]), str(copy_button[1]), "click", "1")
    copied = wait_until(lambda: desktop.clipboard("image/png"), 10)
    assert copied, "nothing was copied"
    w, h, pixels = png_pixels(copied)
    assert (w, h) == part
    screen = desktop.settled_screenshot()
    assert pixels == crop(screen, left + inside[0], top + inside[1], *part)


@pytest.fixture(scope="module")
def mixed_monitors(tmp_path_factory):
    """The two-monitor desktop with the primary monitor at 200 % and the one left of
    it at 100 %, as QT_SCREEN_SCALE_FACTORS tells Qt."""
    from test_monitors import MonitorsDesktop
    desktop = MonitorsDesktop(WM, tmp_path_factory.mktemp("mixed"))
    desktop.env["QT_SCREEN_SCALE_FACTORS"] = "DUMMY1=1;DUMMY0=2"
    yield desktop
    desktop.stop()


@pytest.mark.parametrize("stored, expected", [
    # No stored bounds: the designed size at the primary monitor's 200 %, centred on it.
    ("", (960 + (1920 - 440) // 2, (1080 - 480) // 2, 440, 480)),
    # Stored on the left monitor at 100 %: there, as stored.
    ("WinLeft=100\nWinTop=300\nWinWidth=300\nWinHeight=400\n", (100, 300, 300, 400)),
], ids=["primary-200%", "left-100%"])
def test_each_monitor_has_its_own_scale(mixed_monitors, new_copy, stored, expected):
    app = new_copy(mixed_monitors)
    app.write_ini("[General]\n" + stored)
    app.start()
    win = app.wait_window()
    seen = app.wait_outer(win, expected)
    # At 200 % the client area lies on even screen pixels, next to a frame of odd width.
    assert all(abs(a - b) <= 1 for a, b in zip(seen, expected)), seen
    assert app.close_with_esc(app.procs[-1], win) == 0
    values = [int(app.ini_value("General", k)) for k in ("WinLeft", "WinTop", "WinWidth",
                                                           "WinHeight")]
    assert all(abs(a - b) <= 1 for a, b in zip(values, expected)), values
