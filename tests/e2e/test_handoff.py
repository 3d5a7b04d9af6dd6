"""End to end: handing a captured picture on, on Xvfb with openbox. The copy
button types into a real xterm and fills the clipboard (read back with
xclip), the clipboard outlives the program when a clipboard manager runs, and
the save button writes files through the real dialog and starts the program
set for after saving."""
import json
import os
import subprocess
import time

from conftest import start_client, stop_group, wait_until

VIEW_TOP = 42 + 25 + 25  # tool panel, class-name row, text row
COPY_BUTTON = (1 + 2 + 16, 1 + 2 + 15)  # centres, in the client area
SAVE_BUTTON = (1 + 2 + 33 + 16, 1 + 2 + 15)
KEEPER = os.environ.get("LUMIVORE_CLIPBOARD_KEEPER", "")


def crop(shot, x, y, w, h):
    width, _, pixels = shot
    return b"".join(pixels[((y + r) * width + x) * 3:((y + r) * width + x + w) * 3]
                    for r in range(h))


def decode(data, fmt):
    """(width, height, RGB bytes) of an encoded picture, through ImageMagick."""
    if not data:
        return 0, 0, b""
    done = subprocess.run(["convert", f"{fmt}:-", "-depth", "8", "ppm:-"], input=data,
                          capture_output=True, timeout=20)
    parts = done.stdout.split(maxsplit=4)
    if done.returncode or len(parts) < 5:
        return 0, 0, b""
    return int(parts[1]), int(parts[2]), parts[4]



def settled_client(desktop, win):
    """The client geometry once the window manager stopped moving the window."""
    seen = []

    def stable():
        seen.append(desktop.client_geometry(win))
        time.sleep(0.1)
        return len(seen) > 2 and seen[-1] == seen[-2] == seen[-3]

    assert wait_until(stable, 10), "the main window kept moving"
    return seen[-1]


def click(desktop, x, y):
    desktop.x("xdotool", "mousemove", str(x), str(y))
    desktop.x("xdotool", "click", "1")


def capture(desktop, win, target):
    """Drags the capture tool onto `target` with real pointer events and
    returns (client geometry, the picture as the view shows it)."""
    cx, cy, cw, ch = settled_client(desktop, win)
    tool = (cx + cw - 41 + 20, cy + 1 + 20)
    desktop.x("xdotool", "mousemove", str(tool[0]), str(tool[1]))
    desktop.x("xdotool", "mousedown", "1")
    for step in range(1, 9):
        desktop.x("xdotool", "mousemove", str(tool[0] + (target[0] - tool[0]) * step // 8),
                  str(tool[1] + (target[1] - tool[1]) * step // 8))
    view = (cx + 4, cy + VIEW_TOP + 4)
    # The view previews the window under the pointer once the tracking timer saw it.
    assert wait_until(lambda: crop(desktop.screenshot(), *view, 1, 1) != b"\0\0\0", 10)
    desktop.x("xdotool", "mouseup", "1")
    # Shown again after the grab, with the picture in its view.
    assert wait_until(lambda: desktop.map_state(win) == "IsViewable", 10)
    shots = []

    def still():
        shots.append(desktop.screenshot())
        return len(shots) > 1 and shots[-1] == shots[-2]

    assert wait_until(still, 10, interval=0.2)
    return (cx, cy, cw, ch), shots[-1]


def picture_in_view(shot, client, size):
    cx, cy, _, _ = client
    return crop(shot, cx, cy + VIEW_TOP, *size)


def test_copy_types_into_the_target_window_and_the_clipboard_holds_the_picture(
        openbox_desktop, new_copy, tmp_path):
    desktop = openbox_desktop
    typed = tmp_path / "typed.txt"
    term = start_client(desktop, [
        "xterm", "-class", "LumivoreTarget", "-title", "paste here", "-geometry", "40x6+40+40",
        "-e", "sh", "-c", f"IFS= read -r line; printf %s \"$line\" > '{typed}'; sleep 120"],
        "LumivoreTarget")
    left, top, width, height = desktop.outer_geometry(term)

    app = new_copy(desktop)
    app.write_ini("[General]\nWinLeft=700\nWinTop=100\nWinWidth=760\nWinHeight=620\n"
                  "[OnCopy]\nActWndClass=LumivoreTarget\n"
                  "SendKey=shift,h,/h,/shift,i,/i,SHIFT,1,/1,/SHIFT,ENTER,/ENTER\n")
    app.start()
    win = app.wait_window()
    client, shot = capture(desktop, win, (left + width // 2, top + height // 2))
    shown = picture_in_view(shot, client, (width, height))

    click(desktop, client[0] + COPY_BUTTON[0], client[1] + COPY_BUTTON[1])
    # The target was brought forward and the sequence typed into it.
    assert wait_until(lambda: typed.exists() and typed.read_text() == "Hi!", 15), \
        typed.read_text() if typed.exists() else "nothing typed"
    assert desktop.active_window() == term

    targets = desktop.clipboard("TARGETS").decode().split()
    assert "image/png" in targets and "image/bmp" in targets
    png = desktop.clipboard("image/png")
    assert png.startswith(b"\x89PNG")
    assert decode(png, "png") == (width, height, shown)
    assert decode(desktop.clipboard("image/bmp"), "bmp") == (width, height, shown)


def test_clipboard_outlives_the_program_only_with_a_clipboard_manager(openbox_desktop, new_copy,
                                                                      tmp_path):
    assert KEEPER, "LUMIVORE_CLIPBOARD_KEEPER must name the built clipboard keeper"
    desktop = openbox_desktop
    term = start_client(desktop, ["xterm", "-class", "LumivoreSource", "-geometry", "30x4+40+40"],
                        "LumivoreSource")
    left, top, width, height = desktop.outer_geometry(term)

    def copy_and_quit(name):
        app = new_copy(desktop, name)
        app.write_ini("[General]\nWinLeft=700\nWinTop=100\nWinWidth=700\nWinHeight=500\n")
        proc = app.start()
        win = app.wait_window()
        client, shot = capture(desktop, win, (left + width // 2, top + height // 2))
        click(desktop, client[0] + COPY_BUTTON[0], client[1] + COPY_BUTTON[1])
        png = wait_until(lambda: desktop.clipboard("image/png"), 10)
        assert decode(png, "png") == (width, height, picture_in_view(shot, client, (width, height)))
        assert app.close_with_esc(proc, win) == 0
        return png

    # Without a manager the picture goes with the program, as on any X desktop.
    copy_and_quit("alone")
    assert desktop.clipboard("image/png") == b""

    log = tmp_path / "keeper.out"
    keeper = subprocess.Popen([KEEPER], env=desktop.env, stdout=open(log, "wb"),
                              stderr=subprocess.STDOUT, start_new_session=True)
    desktop.procs.append(keeper)
    assert wait_until(lambda: b"ready" in log.read_bytes(), 10)
    png = copy_and_quit("kept")
    assert b"saved" in log.read_bytes()
    assert desktop.clipboard("image/png") == png


def test_save_through_the_dialog_writes_png_and_jpeg_and_runs_the_program_on_the_name(
        openbox_desktop, new_copy, tmp_path):
    desktop = openbox_desktop
    pictures = tmp_path / "pictures"
    pictures.mkdir()
    got = tmp_path / "argv.json"
    term = start_client(desktop, ["xterm", "-class", "LumivoreSaved", "-geometry", "30x4+40+40"],
                        "LumivoreSaved")
    left, top, width, height = desktop.outer_geometry(term)

    app = new_copy(desktop)
    script = "import sys,json;open(sys.argv[1],'w').write(json.dumps(sys.argv[2:]))"
    app.write_ini("[General]\nWinLeft=700\nWinTop=100\nWinWidth=700\nWinHeight=500\n"
                  f"LastDir={pictures}\nLastDefExt=PNG\n"
                  f"[OnSave]\nCmdLine=python3 -c \"{script}\" {got} $F\n")
    proc = app.start()
    win = app.wait_window()
    client, shot = capture(desktop, win, (left + width // 2, top + height // 2))
    shown = picture_in_view(shot, client, (width, height))

    def save_as(name):
        if got.exists():
            got.unlink()
        click(desktop, client[0] + SAVE_BUTTON[0], client[1] + SAVE_BUTTON[1])
        dialog = wait_until(lambda: desktop.search("--name", "^画像を保存$"), 10)
        assert dialog, "the save dialog did not open"
        assert wait_until(lambda: desktop.focus_window() is not None and
                          desktop.x("xdotool", "getactivewindow").strip() == str(dialog[0]), 10)
        desktop.x("xdotool", "key", "--clearmodifiers", "ctrl+a")
        desktop.x("xdotool", "type", "--delay", "20", name)
        desktop.x("xdotool", "key", "Return")
        assert wait_until(lambda: got.exists() and got.read_text(), 15), "no program was started"
        return json.loads(got.read_text())

    assert save_as("my shot.png") == [str(pictures / "my shot.png")]
    data = (pictures / "my shot.png").read_bytes()
    assert decode(data, "png") == (width, height, shown)

    assert save_as("my shot.jpg") == [str(pictures / "my shot.jpg")]
    w, h, pixels = decode((pictures / "my shot.jpg").read_bytes(), "jpg")
    assert (w, h) == (width, height)
    # Quality 100 (colour edges still blur with the halved chroma resolution).
    mean = sum(abs(a - b) for a, b in zip(pixels, shown)) / len(shown)
    assert mean < 2, mean

    assert app.close_with_esc(proc, win) == 0
    assert app.ini_value("General", "LastDefExt") == "JPG"
    assert app.ini_value("General", "LastDir") == str(pictures)
