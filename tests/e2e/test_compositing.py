"""End to end with compositing on: picom (xrender, with shadows) beside the window
manager of the round, and xfwm4's and KWin's own compositors in their rounds. A translucent
terminal over a coloured desktop is captured as the user sees it."""
import pytest

from conftest import WM, Desktop, not_under, spawn, start_window_manager, stop_group, wait_until
from test_capture import (capture_with_new_copy, crop, looks_with_and_without_focus, start_client,
                          view_shows)


# Window managers with a compositor of their own, by the name that starts them with it on.
COMPOSITING_ITSELF = {"xfwm4": "xfwm4-compositing", "kwin": "kwin"}


class CompositedDesktop(Desktop):
    """The round's window manager with a compositor: xfwm4 and KWin composite
    themselves, every other one runs beside picom."""

    def __init__(self, wm, workdir):
        super().__init__(None, workdir)
        self.wm = wm
        self.x("xsetroot", "-solid", "#2060c0")
        if wm in COMPOSITING_ITSELF:
            self.wm_proc = start_window_manager(COMPOSITING_ITSELF[wm], self.env, self.workdir)
        else:
            self.wm_proc = start_window_manager(wm, self.env, self.workdir)
            # Kept apart from the clients, which every test stops at its end.
            self.compositor = spawn(["picom", "--backend", "xrender", "--shadow",
                                     "--no-fading-openclose"], self.env,
                                    self.workdir / "picom.log")
        if not self.wm_proc:
            self.stop()
            raise RuntimeError(f"{wm} did not come up")
        # The test itself waits until compositing shows: a translucent window.

    def stop(self):
        if getattr(self, "compositor", None):
            stop_group(self.compositor)
        super().stop()


@pytest.fixture(scope="module")
def composited_desktop(tmp_path_factory):
    if WM == "i3":
        pytest.skip("i3 tiles the target over the whole screen")
    desktop = CompositedDesktop(WM, tmp_path_factory.mktemp(WM + "-composited"))
    yield desktop
    desktop.stop()


@not_under("fluxbox", reason="fluxbox puts an opacity of its own on its frames, and picom then "
                             "shows the terminal opaque")
def test_translucent_window_is_captured_as_it_appears(composited_desktop, new_copy):
    desktop = composited_desktop
    term = start_client(desktop, ["xterm", "-class", "XTermGlass", "-title", "glass",
                                  "-bg", "yellow", "-geometry", "50x8+40+40", "-e", "sh", "-c",
                                  "printf 'Lumivore composited\\033[?25l'; sleep 120"], "XTermGlass")
    left, top, width, height = desktop.outer_geometry(term)
    opaque = crop(desktop.settled_screenshot(), left, top, width, height)
    # 60 % opaque: the desktop's blue shows through the yellow.
    desktop.x("xprop", "-id", str(term), "-f", "_NET_WM_WINDOW_OPACITY", "32c", "-set",
              "_NET_WM_WINDOW_OPACITY", str(int(0xFFFFFFFF * 0.6)))
    assert wait_until(lambda: crop(desktop.settled_screenshot(), left, top, width, height)
                      != opaque, 5), "the terminal did not turn translucent"
    expected = looks_with_and_without_focus(desktop, term)

    win = capture_with_new_copy(desktop, new_copy, (left + width + 40, top),
                                (left + width // 2, top + height // 2), (width, height))
    assert view_shows(desktop, win, (width, height)) in expected
