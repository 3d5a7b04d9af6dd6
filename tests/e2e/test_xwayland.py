"""End to end in a Wayland session: Lumivore as an X client of Xwayland under weston's
headless compositor, driven through XTEST, checked through the windows' own contents
(the root of a rootless Xwayland holds no pixels)."""
import re

import pytest
from PIL import Image

import conftest
from conftest import FakePortal, wait_until

VIEW_TOP = 42 + 25 + 25  # tool panel, class-name row, text row


def rgba_crop(image, x, y, w, h):
    width, _, data = image
    return [data[((y + r) * width + x) * 4:((y + r) * width + x + w) * 4] for r in range(h)]


def rgb(rows):
    """The colour bytes of RGBA rows, without the alpha."""
    return [bytes(b for i, b in enumerate(row) if i % 4 != 3) for row in rows]


def opaque_box(image):
    """(left, top, right, bottom) of the wholly opaque pixels of an RGBA image."""
    width, height, data = image
    xs, ys = [], []
    for y in range(height):
        for x in range(width):
            if data[(y * width + x) * 4 + 3] == 255:
                xs.append(x)
                ys.append(y)
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def drag_wand(desktop, win, aim, on_the_wand=None, before_release=None, steps=8):
    """Presses on the wand of Lumivore's window `win`, drags it to `aim` in `steps` moves
    and releases it there; `on_the_wand` runs once the button is down, before the drag,
    and `before_release` while the button is still held over `aim`."""
    cx, cy, cw, _ = desktop.client_geometry(win)
    desktop.xtest(("move", cx + cw - 21, cy + 21), ("down", 1))
    if on_the_wand:
        on_the_wand()
    for step in range(1, steps + 1):
        desktop.xtest(("move", cx + cw - 21 + (aim[0] - cx - cw + 21) * step // steps,
                       cy + 21 + (aim[1] - cy - 21) * step // steps))
    if before_release:
        before_release()
    desktop.xtest(("up", 1))


def shown_size(desktop, win):
    """The size of the opaque part of the window's frame, or None."""
    image = desktop.window_image(desktop.frame(win))
    if not image[2] or 255 not in image[2][3::4]:
        return None  # resized while being read, or not painted yet
    left, top, right, bottom = opaque_box(image)
    return right - left, bottom - top


@pytest.mark.parametrize("ini, size", [
    ("", (220, 240)),
    ("[General]\nWinWidth=300\nWinHeight=260\n", (300, 260)),
    ("[General]\nWinWidth=100\nWinHeight=250\n", (218, 250)),
], ids=["default", "stored", "below-minimum"])
def test_window_keeps_its_size_and_minimum_inside_westons_frame(weston_desktop, new_copy,
                                                                ini, size):
    """weston draws a see-through shadow around its frames; the size the user sees is
    the frame's opaque part."""
    desktop = weston_desktop
    app = new_copy(desktop)
    if ini:
        app.write_ini(ini)
    app.start()
    win = app.wait_window()
    seen = []

    def outer():
        seen.append(shown_size(desktop, win))
        return seen[-1] == size

    assert wait_until(outer, 10), f"the window shows as {seen[-1]}, not {size}"
    # The minimum the window manager is told keeps the same frame at 218 wide.
    hints = desktop.x("xprop", "-id", str(win), "WM_NORMAL_HINTS")
    minimum = int(re.search(r"minimum size: (\d+) by", hints).group(1))
    _, _, client_width, _ = desktop.client_geometry(win)
    assert minimum + size[0] - client_width == 218


def test_wand_capture_of_an_xterm_gives_its_own_pixels_and_xwayland_survives(weston_desktop,
                                                                             new_copy):
    desktop = weston_desktop
    # Yellow, with its text and cursor: what a black root grab cannot give.
    term = conftest.start_client(
        desktop, ["xterm", "-class", "XTermWayland", "-title", "wayland me", "-bg", "yellow",
                  "-geometry", "50x8", "-e", "sh", "-c",
                  "printf 'Lumivore on Xwayland\\033[?25l'; sleep 120"], "XTermWayland")
    frame = desktop.frame(term)
    assert frame != term, "weston draws the frame of an X client as its parent X window"

    def painted():
        image = desktop.window_image(frame)
        again = desktop.window_image(frame)
        return image if image[2] and image == again else None

    frame_image = wait_until(painted, 10)
    assert frame_image, "the terminal's frame did not settle"

    app = new_copy(desktop)
    app.start()
    win = app.wait_window()
    assert desktop.xwayland_running(), "Xwayland died when Lumivore started"

    cx, cy, cw, _ = desktop.client_geometry(win)
    tx, ty, tw, th = desktop.client_geometry(term)
    lumivore_frame = desktop.frame(win)
    lx, ly, lw, lh = desktop.client_geometry(lumivore_frame)
    # weston places X windows as it likes: aim at a part of the terminal that
    # Lumivore's frame (its see-through shadow included) does not cover.
    free = [(x, ty + th // 2) for x in (tx + tw - 20, tx + 20)]
    free = [(x, y) for x, y in free if not (lx <= x < lx + lw and ly <= y < ly + lh)]
    assert free, "Lumivore's window covers the whole terminal"
    aim = free[0]

    drag_wand(desktop, win, aim)

    # The picture is the frame as drawn, cut to its opaque part (the shadow
    # around it is see-through); the view shows it from its top-left corner.
    left, top, right, bottom = opaque_box(frame_image)
    w, h = min(100, right - left), min(40, bottom - top)
    expected = rgb(rgba_crop(frame_image, left, top, w, h))

    def view_shows_it():
        if desktop.map_state(win) != "IsViewable":
            return False
        return rgb(rgba_crop(desktop.window_image(win), 0, VIEW_TOP, w, h)) == expected

    assert wait_until(view_shows_it, 10), "the view does not show the terminal's own pixels"
    assert desktop.xwayland_running(), "Xwayland died during the capture"


# -- pictures of what X does not show, through the desktop portal -----------------------

STATUS_HEIGHT = 19


def view(desktop, win, w, h, top=VIEW_TOP):
    """The colours of the view's top-left w x h pixels (the view beginning at `top`)."""
    return rgb(rgba_crop(desktop.window_image(win), 0, top, w, h))


def status_line(desktop, win):
    """The status bar's left 180 pixels, the start of its text's picture (alike in
    windows of other widths)."""
    image = desktop.window_image(win)
    return rgb(rgba_crop(image, 0, image[1] - STATUS_HEIGHT, min(180, image[0]), STATUS_HEIGHT))


def has_text(strip):
    """Whether a strip of the window shows more than its background and border."""
    pixels = b"".join(strip)
    return len({pixels[i:i + 3] for i in range(0, len(pixels), 3)}) > 4


def settled_view(desktop, win, w, h, top=VIEW_TOP):
    """The view's pixels once two reads a timer tick apart agree."""
    seen = [view(desktop, win, w, h, top)]

    def still():
        seen.append(view(desktop, win, w, h, top))
        return seen[-1] == seen[-2] and seen[-1][0]

    assert wait_until(still, 10, interval=0.15), "the view does not settle"
    return seen[-1]


def empty_desktop_point(desktop, win):
    """A point of weston's desktop that no X window covers: across the screen from
    Lumivore's frame (its shadow included)."""
    fx, fy, fw, fh = desktop.client_geometry(desktop.frame(win))
    x = 1700 if fx + fw < 1500 else 150
    y = 950 if fy + fh < 850 else 100
    return x, y


def make_png(path, size, seed):
    """A picture every pixel of which tells its place."""
    w, h = size
    image = Image.new("RGB", size)
    image.putdata([((x * 7 + seed) % 256, (y * 11 + seed) % 256, (x * y + seed) % 256)
                   for y in range(h) for x in range(w)])
    image.save(path)
    return [bytes(b for x in range(w) for b in image.getpixel((x, y))) for y in range(h)]


def start_lumivore(desktop, new_copy, portal=None, ini=None):
    app = new_copy(desktop)
    if ini:
        app.write_ini(ini)
    env = dict(desktop.env, DBUS_SESSION_BUS_ADDRESS=portal.address) if portal else None
    proc = app.start(env)
    win = app.wait_window()
    # Placed in its frame at its default size, painted and settled: a press on the
    # wand before that may find no capture tool, and the window may still change.
    assert wait_until(lambda: shown_size(desktop, win) == (220, 240), 15)
    seen = [None]

    def painted():
        image = desktop.window_image(win)
        panel = rgba_crop(image, 0, 0, image[0], 42) if image[2] else []
        seen.append(panel)
        return has_text(panel) and seen[-1] == seen[-2]

    assert wait_until(painted, 15, interval=0.2), "Lumivore's window is not painted"
    return proc, win


def test_wand_dropped_on_the_desktop_takes_the_portals_picture(weston_desktop, new_copy,
                                                              tmp_path):
    desktop = weston_desktop
    portal = FakePortal(desktop, tmp_path)
    png = tmp_path / "desktop shot.png"
    expected = make_png(png, (120, 80), 40)
    stored = png.read_bytes()
    portal.answer(f"file {png}")
    _, win = start_lumivore(desktop, new_copy, portal)

    drag_wand(desktop, win, empty_desktop_point(desktop, win))
    assert wait_until(lambda: desktop.map_state(win) == "IsViewable" and
                      view(desktop, win, 120, 80) == expected, 20), \
        "the portal's picture is not the working image"
    calls = portal.calls()
    assert len(calls) == 1, calls
    assert calls[0]["parent_window"] == "" and calls[0]["options"]["interactive"] is True
    # The picture's size in the status line, and the file left where the desktop put it.
    assert wait_until(lambda: has_text(status_line(desktop, win)), 10)
    assert png.read_bytes() == stored
    assert desktop.xwayland_running()


@pytest.mark.timeout(240)  # six starts of Lumivore
def test_no_picture_from_the_desktop_changes_nothing_and_says_why(weston_desktop, new_copy,
                                                                 tmp_path):
    desktop = weston_desktop
    portal = FakePortal(desktop, tmp_path)

    def capture(answer, bus=True):
        """Drops the wand of a new Lumivore on the desktop while the portal answers
        `answer`; returns the status line once the window is back, after checking that
        the view kept what it showed at the release. (weston places the window anew
        each time it is shown again: a new copy for each drop keeps the drag simple.)"""
        if answer:
            portal.answer(answer)
        calls = len(portal.calls()) if portal.proc in desktop.procs else 0
        proc, win = start_lumivore(desktop, new_copy, portal if bus else None)
        shown = []
        # The wand rests on Lumivore's own window until the view, black at the start,
        # previews the window, so that the view holds a picture when the wand is
        # dropped on the desktop, where the preview stays; it goes there in one move,
        # over nothing else that could be previewed on the way.
        drag_wand(desktop, win, empty_desktop_point(desktop, win),
                  on_the_wand=lambda: wait_until(lambda: has_text(view(desktop, win, 200, 90)),
                                                 10) or pytest.fail(
                      f"{answer}: the press on the wand did not start a capture"),
                  before_release=lambda: shown.append(settled_view(desktop, win, 200, 90)),
                  steps=1)
        assert has_text(shown[0]), f"{answer}: no preview in the view"
        lines = [None]

        def message():
            lines.append(status_line(desktop, win) if desktop.map_state(win) == "IsViewable"
                         else None)
            return lines[-1] is not None and lines[-1] == lines[-2] and has_text(lines[-1])

        assert wait_until(message, 20, interval=0.15), f"{answer}: no message"
        if portal.proc in desktop.procs:
            assert len(portal.calls()) == calls + 1
        assert wait_until(lambda: view(desktop, win, 200, 90) == shown[0], 10), \
            f"{answer}: the picture changed"
        conftest.stop_group(proc)
        return lines[-1]

    cancelled = capture("cancel")
    failed = capture("fail")
    # Only a local file is read, whatever the portal says.
    assert capture("uri https://example.org/shot.png") == failed
    assert capture(f"uri file://elsewhere{tmp_path}/shot.png") == failed
    portal.leave()
    no_portal = capture(None)
    assert len({bytes(b"".join(s)) for s in (cancelled, failed, no_portal)}) == 3, \
        "the three outcomes do not say three things"
    # Without any session bus: the same words as without a portal.
    assert capture(None, bus=False) == no_portal
    assert desktop.xwayland_running()
