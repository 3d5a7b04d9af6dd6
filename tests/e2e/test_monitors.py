"""End to end on a desktop of two monitors: a real X server (Xorg with the dummy
video driver) whose RandR monitors are a 960 x 1080 one on the left and the
primary 1920 x 1080 one beside it, so the primary does not start at the origin."""
import pytest

from conftest import WM, Desktop, not_under, wait_until
from test_capture import (capture_with_new_copy, looks_with_and_without_focus, settled_client,
                          start_client, view_shows)

PRIMARY = (960, 0, 1920, 1080)

XORG_CONF = """Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual 4000 2200
  EndSubSection
EndSection
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
EndSection
"""


class MonitorsDesktop(Desktop):
    """Xorg with the dummy driver: output DUMMY0 shows the primary monitor and
    DUMMY1 the one left of it, each with a display controller of its own, so
    the pointer reaches both, and Qt and (through Xinerama) the window manager
    see both."""

    def server_command(self, display_fd, depth):
        conf = self.workdir / "xorg.conf"
        conf.write_text(XORG_CONF)
        return ["Xorg", "-displayfd", str(display_fd), "-config", str(conf), "-noreset",
                "-nolisten", "tcp", "-logfile", str(self.workdir / "xorg.log")]

    def prepare_screen(self):
        # The driver offers 16 outputs; the second one needs a mode of its own.
        for step in (["--newmode", "960x1080", "85.00", "960", "1000", "1100", "1200",
                      "1080", "1083", "1093", "1110"],
                     ["--addmode", "DUMMY1", "960x1080"],
                     ["--output", "DUMMY0", "--mode", "1920x1080", "--pos", "960x0", "--primary",
                      "--output", "DUMMY1", "--mode", "960x1080", "--pos", "0x0"]):
            self.x("xrandr", *step)
        monitors = self.x("xrandr", "--listmonitors")
        if "Monitors: 2" not in monitors:
            self.stop()
            raise RuntimeError(f"the two monitors were not set up: {monitors}")


@pytest.fixture(scope="module")
def monitors_desktop(tmp_path_factory):
    desktop = MonitorsDesktop(WM, tmp_path_factory.mktemp("monitors"))
    yield desktop
    desktop.stop()


def test_first_start_is_centred_on_the_primary_monitor(monitors_desktop, new_copy):
    app = new_copy(monitors_desktop)
    app.start()
    win = app.wait_window()
    centred = (PRIMARY[0] + (PRIMARY[2] - 220) // 2, PRIMARY[1] + (PRIMARY[3] - 240) // 2,
               220, 240)
    assert app.wait_outer(win, centred) == centred


@pytest.mark.parametrize("stored", [
    (100, 300),     # on the left monitor
    (900, 300),     # across both monitors
    (2800, 300),    # beyond the desktop's right edge: kept with several monitors
])
def test_stored_position_is_kept_with_several_monitors(monitors_desktop, new_copy, stored):
    app = new_copy(monitors_desktop)
    app.write_ini(f"[General]\nWinLeft={stored[0]}\nWinTop={stored[1]}\n")
    app.start()
    win = app.wait_window()
    expected = stored + (220, 240)
    assert app.wait_outer(win, expected) == expected


def settled_outer(desktop, win):
    """The outer geometry of `win` once the window manager stopped moving it."""
    settled_client(desktop, win)
    return desktop.outer_geometry(win)


@not_under("i3", reason="i3 tiles the target, which then lies on one monitor")
def test_window_across_two_monitors_is_captured_whole(monitors_desktop, new_copy):
    desktop = monitors_desktop
    # The terminal spans the border between the monitors at x = 960.
    term = start_client(desktop, ["xterm", "-class", "XTermAcross", "-title", "across",
                                  "-bg", "yellow", "-geometry", "50x8+800+500", "-e", "sh", "-c",
                                  "printf 'two monitors\\033[?25l'; sleep 120"], "XTermAcross")
    # Some window managers keep a new window on one monitor: move it across.
    desktop.x("xdotool", "windowmove", str(term), "800", "500")
    spans = lambda: (g := desktop.outer_geometry(term))[0] < PRIMARY[0] < g[0] + g[2]
    assert wait_until(spans, 5), "the terminal does not span both monitors"
    left, top, width, height = settled_outer(desktop, term)
    expected = looks_with_and_without_focus(desktop, term)

    win = capture_with_new_copy(desktop, new_copy, (1300, 100),
                                (left + width - 30, top + height // 2), (width, height))
    assert view_shows(desktop, win, (width, height)) in expected
