"""End to end in a Wayland session: Lumivore as an X client of Xwayland under weston's
headless compositor, driven through XTEST, checked through the windows' own contents
(the root of a rootless Xwayland holds no pixels)."""
import conftest
from conftest import wait_until

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

    desktop.xtest(("move", cx + cw - 21, cy + 21), ("down", 1))
    for step in range(1, 9):
        desktop.xtest(("move", cx + cw - 21 + (aim[0] - cx - cw + 21) * step // 8,
                       cy + 21 + (aim[1] - cy - 21) * step // 8))
    desktop.xtest(("up", 1))

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
