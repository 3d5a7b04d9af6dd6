"""Editing commands end to end on Xvfb with openbox: a real window is captured,
an edit is chosen from the popup menu with real pointer or key events, the
image area's pixels are checked against the expected result, and Ctrl+Z
brings the picture back."""
import re
import subprocess
from pathlib import Path

import pytest

from conftest import start_client, wait_until

VIEW_TOP = 42 + 25 + 25  # tool panel, class-name row, text row
MENU_BUTTON = (1 + 2 + 2 * 33 + 16, 1 + 15)  # centre of the third tool button
CURSORS = Path(__file__).resolve().parents[2] / "resources" / "cursors"
# The size of the part of the picture checked: the captured window's client
# area from its top-left corner (the frame's look changes with the focus).
AREA_SIZE = (120, 100)


def crop(shot, x, y, w, h):
    width, _, pixels = shot
    return [tuple(pixels[((y + r) * width + x + c) * 3:((y + r) * width + x + c) * 3 + 3])
            for r in range(h) for c in range(w)]


def popups(desktop):
    """Lumivore's open menus as (x, y, width, height), in the order they opened."""
    boxes = []
    for line in desktop.x("xwininfo", "-root", "-children").splitlines():
        m = re.match(r'\s+(0x[0-9a-f]+) .*\("lumivore" "Lumivore"\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)',
                     line)
        if m and desktop.map_state(int(m.group(1), 16)) == "IsViewable":
            w, h, x, y = map(int, m.group(2, 3, 4, 5))
            boxes.append((x, y, w, h))
    return boxes


def entry_rows(desktop, box):
    """The vertical centres of a menu's entries, top to bottom: bands of rows
    holding pixels unlike the menu's background (text, enabled or not, and the
    highlight). Separators are only a line or two high and are left out."""
    x, y, w, h = box
    shot = desktop.screenshot()
    pixels = crop(shot, x + 4, y, w - 8, h)
    background = max(set(pixels), key=pixels.count)
    marked = [any(sum(abs(a - b) for a, b in zip(p, background)) > 90
                  for p in pixels[r * (w - 8):(r + 1) * (w - 8)]) for r in range(h)]
    bands, start = [], None
    for r, on in enumerate(marked + [False]):
        if on and start is None:
            start = r
        elif not on and start is not None:
            if r - start >= 6:
                bands.append(y + (start + r - 1) // 2)
            start = None
    return bands


def menu_rows(desktop, box, need):
    """entry_rows once the menu is painted: at least `need` entries, the same
    in two screenshots in a row."""
    seen = []

    def probe():
        seen.append(entry_rows(desktop, box))
        return len(seen) > 1 and len(seen[-1]) >= need and seen[-1] == seen[-2]

    wait_until(probe, 15)
    assert len(seen[-1]) >= need, f"menu {box} shows {len(seen[-1])} entries"
    return seen[-1]


def view_pixels(desktop, win, area):
    x, y, _, _ = desktop.client_geometry(win)
    return crop(desktop.screenshot(), x + area[0], y + VIEW_TOP + area[1], *area[2:])



@pytest.fixture
def captured(managed_desktop, new_copy):
    """Lumivore holding the picture of a coloured window: (desktop, window, checked
    area of the picture, its pixels, the captured window)."""
    desktop = managed_desktop
    logo = start_client(desktop, ["xlogo", "-fg", "#d02010", "-bg", "#30a0e0",
                                  "-geometry", "300x260+900+300"], "XLogo")
    app = new_copy(desktop)
    app.write_ini("[General]\nWinLeft=200\nWinTop=200\nWinWidth=320\nWinHeight=400\n")
    app.start()
    win = app.wait_window()
    # The frame is corrected shortly after mapping: press where the tool ends up.
    assert app.wait_outer(win, (200, 200, 320, 400)) == (200, 200, 320, 400)
    x, y, w, _ = desktop.client_geometry(win)
    lx, ly, lw, lh = desktop.client_geometry(logo)
    ox, oy, _, _ = desktop.outer_geometry(logo)
    area = (lx - ox, ly - oy) + AREA_SIZE
    empty = view_pixels(desktop, win, area)
    # Drag the capture tool onto the logo and release there.
    desktop.x("xdotool", "mousemove", str(x + w - 21), str(y + 21), "mousedown", "1")
    for step in range(1, 6):
        desktop.x("xdotool", "mousemove", str(x + w - 21 + (lx + 150 - x - w + 21) * step // 5),
                  str(y + 21 + (ly + 130 - y - 21) * step // 5))
    # The preview of the target shows in the view while the button is held.
    assert wait_until(lambda: view_pixels(desktop, win, area) != empty, 20), "no preview"
    desktop.x("xdotool", "mouseup", "1")
    assert wait_until(lambda: desktop.map_state(win) == "IsViewable", 20)
    picture = wait_until(lambda: (lambda p: p if p != empty and len(set(p)) > 1 else None)(
        view_pixels(desktop, win, area)), 10)
    assert picture, "the capture did not reach the view"
    # The picture is the window as it shows on the screen.
    assert wait_until(lambda: view_pixels(desktop, win, area) ==
                      crop(desktop.screenshot(), lx, ly, *AREA_SIZE), 20)
    picture = view_pixels(desktop, win, area)
    return desktop, win, area, picture, logo


def open_menu(desktop, win):
    x, y, _, _ = desktop.client_geometry(win)
    desktop.x("xdotool", "mousemove", str(x + MENU_BUTTON[0]), str(y + MENU_BUTTON[1]),
              "click", "1")
    menus = wait_until(lambda: popups(desktop), 15)
    assert len(menus) == 1, f"menu did not open: {menus}"
    return menus[0]


def choose(desktop, win, path):
    """Opens the menu and walks `path` (entry indices, separators not counted)
    with the pointer: hovering opens each submenu, the last entry is clicked."""
    box = open_menu(desktop, win)
    for depth, index in enumerate(path):
        rows = menu_rows(desktop, box, index + 1)
        px = box[0] + box[2] // 3
        if depth == len(path) - 1:
            desktop.x("xdotool", "mousemove", str(px), str(rows[index]), "click", "1")
            break
        desktop.x("xdotool", "mousemove", str(px), str(rows[index]))
        opened = wait_until(lambda: [m for m in popups(desktop) if m != box][:1], 15)
        assert opened, "submenu did not open"
        box = opened[0]
        desktop.x("xdotool", "mousemove", str(box[0] + box[2] // 3), str(box[1] + 4))


def undo(desktop, win):
    desktop.key(win, "ctrl+z")


@pytest.mark.parametrize("how", ["pointer", "keys"])
def test_negative_from_the_menu_and_undo(captured, how):
    desktop, win, area, picture, _ = captured
    if how == "pointer":
        choose(desktop, win, [2, 5])  # カラー(&C) > ネガポジ反転(&N)
    else:
        open_menu(desktop, win)
        desktop.x("xdotool", "key", "c")
        wait_until(lambda: len(popups(desktop)) == 2, 15)
        desktop.x("xdotool", "key", "n")
    expected = [tuple(255 - c for c in p) for p in picture]
    assert wait_until(lambda: view_pixels(desktop, win, area) == expected, 20), "not inverted"
    assert wait_until(lambda: not popups(desktop), 15)
    undo(desktop, win)
    assert wait_until(lambda: view_pixels(desktop, win, area) == picture, 20), "undo failed"


def test_mirror_from_the_menu_and_undo(captured):
    desktop, win, area, picture, logo = captured
    choose(desktop, win, [3, 2])  # イメージ(&I) > 左右反転
    # The view's left part now shows the right part of the window, reversed.
    ox, oy, ow, _ = desktop.outer_geometry(logo)
    ax, ay, aw, ah = area
    shot = desktop.screenshot()
    expected = [crop(shot, ox + ow - 1 - (ax + i), oy + ay + j, 1, 1)[0]
                for j in range(ah) for i in range(aw)]
    assert expected != picture
    assert wait_until(lambda: view_pixels(desktop, win, area) == expected, 20), "not mirrored"
    undo(desktop, win)
    assert wait_until(lambda: view_pixels(desktop, win, area) == picture, 20), "undo failed"


def shape_pixels(name):
    """The stamp image as rows of (r, g, b, a)."""
    raw = subprocess.run(["convert", str(CURSORS / f"{name}.png"), "-depth", "8", "rgba:-"],
                         capture_output=True, check=True, timeout=10).stdout
    return [[tuple(raw[(y * 32 + x) * 4:(y * 32 + x) * 4 + 4]) for x in range(32)]
            for y in range(32)]


def test_cursor_stamp_from_the_menu_and_undo(captured):
    desktop, win, area, picture, _ = captured
    x, y, _, _ = desktop.client_geometry(win)
    box = open_menu(desktop, win)
    rows = menu_rows(desktop, box, 5)
    desktop.x("xdotool", "mousemove", str(box[0] + box[2] // 3), str(rows[4]))
    grid = wait_until(lambda: [m for m in popups(desktop) if m != box][:1], 15)
    assert grid, "cursor submenu did not open"
    gx, gy, gw, gh = grid[0]
    assert 80 <= gw <= 110 and 360 <= gh <= 380, grid  # two columns of ten 40 x 36 entries
    # The first entry, the arrow, in the middle of its cell.
    desktop.x("xdotool", "mousemove", str(gx + 20 + (gw - 84) // 2),
              str(gy + 18 + (gh - 360) // 2), "click", "1")
    assert wait_until(lambda: not popups(desktop), 15)
    # The pointer is kept in the view; a press at (60, 50) of the picture
    # puts the arrow's top-left corner at (50, 40).
    desktop.x("xdotool", "mousemove", str(x + 60), str(y + VIEW_TOP + 50), "click", "1")
    shape = shape_pixels("arrow")
    ax, ay, aw, ah = area
    expected = list(picture)
    for sy in range(32):
        for sx in range(32):
            px, py = 50 + sx - ax, 40 + sy - ay
            if shape[sy][sx][3] == 255 and 0 <= px < aw and 0 <= py < ah:
                expected[py * aw + px] = shape[sy][sx][:3]
    assert expected != picture
    assert wait_until(lambda: view_pixels(desktop, win, area) == expected, 20), "not stamped"
    # Stamp mode is over: the pointer leaves the view freely.
    desktop.x("xdotool", "mousemove_relative", "--", "-100", "-150")
    assert wait_until(lambda: desktop.pointer() == (x - 40, y + VIEW_TOP - 100), 15)
    undo(desktop, win)
    assert wait_until(lambda: view_pixels(desktop, win, area) == picture, 20), "undo failed"
