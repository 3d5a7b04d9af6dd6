"""End to end on Xvfb with openbox: files dragged from another X client over
XDND onto Lumivore, and the options dialog opened from the menu by keyboard."""
import itertools
import os
import re
import struct
import zlib
from pathlib import Path

import pytest

from conftest import spawn, stop_group, wait_until

VIEW_TOP = 42 + 25 + 25  # tool panel, class-name row, text row
MENU_BUTTON_CENTRE = (1 + 2 + 2 * 33 + 16, 1 + 2 + 15)
DRAG_SOURCE = os.environ.get("DRAG_SOURCE", "")
SOURCE_POINT = (700, 200)  # inside the drag source's window
SOURCE_NUMBERS = itertools.count(1)


def png_bytes(width, height, colour_at):
    """An RGB PNG written by hand (no imaging library involved)."""
    rows = b"".join(b"\0" + b"".join(bytes(colour_at(x, y)) for x in range(width))
                    for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def ico_bytes(rgb):
    """A .ico file with one opaque 32 x 32 24-bit image of one colour."""
    r, g, b = rgb
    dib = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 24, 0, 0, 0, 0, 0, 0)
    dib += bytes((b, g, r)) * 32 * 32 + b"\0" * 4 * 32  # colour rows, then the AND mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 24,
                                                      len(dib), 22) + dib


def crop(shot, x, y, w, h):
    width, _, pixels = shot
    return b"".join(pixels[((y + r) * width + x) * 3:((y + r) * width + x + w) * 3]
                    for r in range(h))


@pytest.fixture
def drag_source(managed_desktop, tmp_path):
    """Starts the drag source offering `paths`; returns a reader of its reports."""
    if not DRAG_SOURCE or not os.access(DRAG_SOURCE, os.X_OK):
        pytest.fail("DRAG_SOURCE must name the built drag_source program")
    desktop = managed_desktop
    running = []

    def start(paths):
        # One source at a time, each with a report file of its own.
        while running:
            stop_group(running.pop())
        log = f"drag-source-{next(SOURCE_NUMBERS)}.log"
        running.append(desktop.spawn([DRAG_SOURCE, *[os.fsencode(p) for p in paths]], log))
        path = desktop.workdir / log
        reports = lambda: path.read_text(errors="replace").split("\n") if path.exists() else []
        assert wait_until(lambda: "ready" in reports(), 10), "the drag source did not show"
        assert wait_until(lambda: desktop.search("--name", "^drag source$"), 10)
        return reports

    return start


def drag_and_drop(desktop, reports, target):
    """Presses in the drag source, moves onto `target` with real pointer events,
    and releases once the target has accepted the drag."""
    desktop.x("xdotool", "mousemove", *map(str, SOURCE_POINT))
    desktop.x("xdotool", "mousedown", "1")
    x0, y0 = SOURCE_POINT
    for step in range(1, 13):
        desktop.x("xdotool", "mousemove", str(x0 + (target[0] - x0) * step // 12),
                  str(y0 + (target[1] - y0) * step // 12))
    # Every motion makes the source ask the target again; wiggle until it said yes.
    wiggle = [0]

    def accepted():
        wiggle[0] ^= 1
        desktop.x("xdotool", "mousemove", str(target[0] + wiggle[0]), str(target[1]))
        return "action 1" in reports()

    ok = wait_until(accepted, 10, interval=0.1)
    desktop.x("xdotool", "mouseup", "1")
    assert ok, f"Lumivore did not accept the drag: {reports()}"
    assert wait_until(lambda: "done 1" in reports(), 10), f"the drop did not finish: {reports()}"


def open_menus(desktop):
    """Lumivore's mapped popup menus (children of the root with its class)."""
    menus = re.findall(r'^\s+(0x[0-9a-f]+) .*\("lumivore" "Lumivore"\)',
                       desktop.x("xwininfo", "-root", "-children"), re.M)
    return [m for m in menus if desktop.map_state(int(m, 16)) == "IsViewable"]


def start_lumivore(desktop, new_copy, data_dir=None):
    """A Lumivore at (60, 60), 400 x 400, on a green view; `data_dir` is put first
    among the desktop's data folders (where icon themes are found)."""
    app = new_copy(desktop)
    app.write_ini("[General]\nWinLeft=60\nWinTop=60\nWinWidth=400\nWinHeight=400\n"
                  "ImgBgColor=0x00ff00\n")
    if data_dir:
        env = dict(desktop.env, XDG_DATA_DIRS=f"{data_dir}:/usr/local/share:/usr/share")
        proc = spawn([str(app.exe)], env, desktop.workdir / f"lumivore-{os.getpid()}-themed.log")
        desktop.procs.append(proc)
    else:
        proc = app.start()
    win = app.wait_window()
    # The window manager frames the window and Lumivore corrects its place once.
    assert wait_until(lambda: app.wait_outer(win, (60, 60, 400, 400)) == (60, 60, 400, 400), 5)
    return app, proc, win


def test_a_dragged_image_and_icon_file_become_the_picture(managed_desktop, new_copy, drag_source,
                                                          tmp_path):
    desktop = managed_desktop
    quadrant = lambda x, y: ((250, 20, 20) if x < 20 else (20, 20, 250)) if y < 15 else (
        (240, 240, 40) if x < 20 else (40, 200, 90))
    image = tmp_path / "写真 1%.png"
    image.write_bytes(png_bytes(40, 30, quadrant))
    expected = b"".join(bytes(quadrant(x, y)) for y in range(30) for x in range(40))
    # A name whose bytes are no UTF-8 is used exactly.
    icon = os.path.join(os.fsencode(tmp_path), b"icon-\xff.ico")
    Path(os.fsdecode(icon)).write_bytes(ico_bytes((200, 30, 160)))

    app, _, win = start_lumivore(desktop, new_copy)
    cx, cy, _, _ = desktop.client_geometry(win)
    target = (cx + 200, cy + VIEW_TOP + 120)

    drag_and_drop(desktop, drag_source([str(image), str(tmp_path / "ignored.png")]), target)
    assert wait_until(lambda: crop(desktop.screenshot(), cx, cy + VIEW_TOP, 40, 30) == expected,
                      10), "the dropped picture is not shown"
    assert wait_until(lambda: desktop.active_window() == win, 5)

    drag_and_drop(desktop, drag_source([os.fsdecode(icon)]), target)
    # The icon on a 32 x 32 picture; beyond it the view's background (green).
    icon_cell = bytes((200, 30, 160)) * 32 * 32
    assert wait_until(lambda: crop(desktop.screenshot(), cx, cy + VIEW_TOP, 32, 32) == icon_cell,
                      10), "the dropped icon is not shown"
    shot = desktop.screenshot()
    assert crop(shot, cx + 32, cy + VIEW_TOP, 1, 1) != bytes((200, 30, 160))


def test_launchers_and_other_files_show_the_icon_themes_icons(managed_desktop, new_copy,
                                                              drag_source, tmp_path):
    desktop = managed_desktop
    # A theme of our own under the name every lookup falls back to.
    theme = tmp_path / "share" / "icons" / "hicolor"
    (theme / "32x32" / "apps").mkdir(parents=True)
    (theme / "32x32" / "mimetypes").mkdir(parents=True)
    (theme / "index.theme").write_text(
        "[Icon Theme]\nName=Hicolor\nDirectories=32x32/apps,32x32/mimetypes\n\n"
        "[32x32/apps]\nSize=32\nType=Fixed\n\n[32x32/mimetypes]\nSize=32\nType=Fixed\n")
    app_colour, text_colour = (30, 90, 210), (220, 120, 20)
    (theme / "32x32" / "apps" / "lumivore-e2e-app.png").write_bytes(
        png_bytes(32, 32, lambda x, y: app_colour))
    (theme / "32x32" / "mimetypes" / "text-plain.png").write_bytes(
        png_bytes(32, 32, lambda x, y: text_colour))
    launcher = tmp_path / "editor.desktop"
    launcher.write_text("[Desktop Entry]\nType=Application\nName=Editor\n"
                        "Icon=lumivore-e2e-app\nExec=true\n")
    notes = tmp_path / "notes.txt"
    notes.write_text("plain words\n")

    _, _, win = start_lumivore(desktop, new_copy, data_dir=tmp_path / "share")
    cx, cy, _, _ = desktop.client_geometry(win)
    target = (cx + 200, cy + VIEW_TOP + 120)
    for path, colour in ((launcher, app_colour), (notes, text_colour)):
        drag_and_drop(desktop, drag_source([str(path)]), target)
        cell = bytes(colour) * 32 * 32
        assert wait_until(lambda: crop(desktop.screenshot(), cx, cy + VIEW_TOP, 32, 32) == cell,
                          10), f"the icon of {path.name} is not shown"


def test_options_dialog_from_the_menu_by_keyboard_stores_the_value(managed_desktop, new_copy):
    desktop = managed_desktop
    app, proc, win = start_lumivore(desktop, new_copy)
    cx, cy, _, _ = desktop.client_geometry(win)
    desktop.x("xdotool", "mousemove", str(cx + MENU_BUTTON_CENTRE[0]),
              str(cy + MENU_BUTTON_CENTRE[1]), "click", "1")
    assert wait_until(lambda: open_menus(desktop), 5), "the menu did not open"
    desktop.x("xdotool", "key", "o")
    dialogs = wait_until(lambda: desktop.search("--name", "^オプション設定$"), 10)
    assert len(dialogs) == 1, "the options dialog did not open"
    dialog = dialogs[0]
    assert desktop.client_geometry(dialog)[2:] == (414, 323)
    assert wait_until(lambda: desktop.active_window() == dialog, 5)

    # Another window takes the focus; a second start brings the dialog back.
    _, xterm = desktop.start_xterm()
    assert wait_until(lambda: desktop.active_window() == xterm, 5)
    second = app.start()
    assert app.wait_exit(second) == 255
    assert wait_until(lambda: desktop.active_window() == dialog, 5)

    # OK, Cancel, the page control, then the hide time; Enter presses OK.
    desktop.x("xdotool", "key", "--delay", "50", "Tab", "Tab", "Tab", "ctrl+a")
    desktop.x("xdotool", "type", "--delay", "50", "x250")
    desktop.x("xdotool", "key", "Return")
    assert wait_until(lambda: not desktop.search("--name", "^オプション設定$"), 5)
    assert app.ini_value("Option", "HideWait") is None  # written only at close
    assert app.close_with_esc(proc, win) == 0
    assert app.ini_value("Option", "HideWait") == "250"
