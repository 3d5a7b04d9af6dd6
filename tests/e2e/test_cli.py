"""End to end: "lumivore capture" and "lumivore inspect" from a script, on Xvfb
with a window manager (and without one), checked against what other tools
read from the same X server: the screen through ImageMagick's import, window
facts through xprop and xwininfo, the clipboard through xclip."""
import json
import os
import re
import subprocess
import time

import pytest

from conftest import WM, copy_executable, not_under, start_client, stop_group, wait_until

KEEPER = os.environ.get("LUMIVORE_CLIPBOARD_KEEPER", "")


def crop(shot, x, y, w, h):
    width, _, pixels = shot
    return b"".join(pixels[((y + r) * width + x) * 3:((y + r) * width + x + w) * 3]
                    for r in range(h))


def decode(data):
    """(width, height, RGB bytes) of an encoded picture, through ImageMagick."""
    if not data:
        return 0, 0, b""
    done = subprocess.run(["convert", "-", "-depth", "8", "ppm:-"], input=data,
                          capture_output=True, timeout=20)
    parts = done.stdout.split(maxsplit=4)
    if done.returncode or len(parts) < 5:
        return 0, 0, b""
    return int(parts[1]), int(parts[2]), parts[4]


def run(desktop, exe, *args, env=None, timeout=20):
    return subprocess.run([exe, *args], env=env or desktop.env, capture_output=True,
                          timeout=timeout)


def still_term(desktop, cls, geometry="50x8+40+40", title=None, bg="yellow"):
    """An xterm that shows a fixed text and no cursor, so its pixels stand still."""
    cmd = ["xterm", "-class", cls, "-bg", bg, "-geometry", geometry]
    if title:
        cmd += ["-title", title]
    cmd += ["-e", "sh", "-c", f"printf '{cls} from a script\\033[?25l'; sleep 600"]
    win = start_client(desktop, cmd, cls)
    # Placed, painted, and with the pointer away from it.
    desktop.x("xdotool", "mousemove", "1900", "1070")
    return win


def rects(desktop, win):
    """(outer, client) rectangles of a window: outer with the window manager's
    frame, or without one with the window's own X border, which it shows on
    the screen. xwininfo's upper-left corner is that of the border (which i3,
    for one, gives its clients)."""
    x, y, w, h = desktop.client_geometry(win)
    b = int(re.search(r"Border width:\s+(\d+)", desktop.x("xwininfo", "-id", str(win))).group(1))
    whole = desktop.outer_geometry(win) if desktop.wm else (x, y, w + 2 * b, h + 2 * b)
    return whole, (x + b, y + b, w, h)


def screen_rect(desktop, rect):
    """The pixels of `rect` on the screen once the screen stands still."""
    return crop(desktop.settled_screenshot(), *rect)


def assert_capture_equals_screen(desktop, data, rect, before):
    """`data` holds exactly the screen's pixels in `rect`, as they were just
    before or are just after the capture."""
    got = decode(data)
    assert got[:2] == rect[2:], f"size {got[:2]}, expected {rect[2:]}"
    assert got[2] in (before, screen_rect(desktop, rect)), "pixels differ from the screen"


@pytest.fixture(scope="module")
def exe(tmp_path_factory):
    """A private copy of the executable: the clipboard's keeper is found by it."""
    built = os.environ.get("LUMIVORE_EXE")
    if not built or not os.access(built, os.X_OK):
        pytest.fail("LUMIVORE_EXE must name the built lumivore executable")
    copy = tmp_path_factory.mktemp("cli") / "lumivore"
    copy_executable(built, copy)
    return str(copy)


@pytest.fixture
def term(managed_desktop):
    """A terminal to capture, closed after the test."""
    desktop = managed_desktop
    win = still_term(desktop, "LumiCli", title="lumivore cli target")
    proc = desktop.procs[-1]
    yield win
    if proc in desktop.procs:
        desktop.procs.remove(proc)
        stop_group(proc)


@pytest.mark.parametrize("how", ["class", "title", "title-prefix", "title-suffix",
                                 "class-and-title", "id", "hex-id", "active", "pointer"])
def test_capture_of_each_target_to_a_file_equals_the_window_on_screen(managed_desktop, term,
                                                                       exe, tmp_path,
                                                                       how):
    desktop = managed_desktop
    rect = desktop.outer_geometry(term)
    target = {
        "class": ["--class", "LumiCli"],
        "title": ["--title", "lumivore cli target"],
        "title-prefix": ["--title", "lumivore cli*"],
        "title-suffix": ["--title", "*cli target"],
        "class-and-title": ["--class", "LumiCli", "--title", "lumi*"],
        "id": ["--window", str(term)],
        "hex-id": ["--window", hex(term)],
        "active": ["--active"],
        "pointer": [],  # the default
    }[how]
    if how == "active":
        desktop.x("xdotool", "windowactivate", "--sync", str(term))
        assert wait_until(lambda: desktop.active_window() == term, 5)
    if how == "pointer":
        desktop.x("xdotool", "mousemove", str(rect[0] + rect[2] // 2), str(rect[1] + rect[3] // 2))
    before = screen_rect(desktop, rect)
    out = tmp_path / "shot.png"
    done = run(desktop, exe, "capture", *target, "-o", str(out))
    assert done.returncode == 0, done.stderr
    assert done.stdout == b"" and done.stderr == b""
    assert_capture_equals_screen(desktop, out.read_bytes(), rect, before)
    desktop.x("xdotool", "mousemove", "1900", "1070")


def test_capture_to_standard_output_and_client_area(desktop, exe, tmp_path):
    win = still_term(desktop, "LumiPipe", geometry="40x6+200+300", bg="cyan")
    whole, client = rects(desktop, win)
    before = screen_rect(desktop, whole)
    done = run(desktop, exe, "capture", "--class", "LumiPipe", "-o", "-")
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith(b"\x89PNG")
    assert_capture_equals_screen(desktop, done.stdout, whole, before)

    before = screen_rect(desktop, client)
    done = run(desktop, exe, "capture", "--class", "LumiPipe", "--client", "-o", "-")
    assert done.returncode == 0, done.stderr
    assert_capture_equals_screen(desktop, done.stdout, client, before)
    assert client != whole, "the frame or border should add to the window"
    stop_group(desktop.procs.pop())


def test_whole_screen_and_the_other_file_types(managed_desktop, term, exe, tmp_path):
    desktop = managed_desktop

    # The bottom of the screen is left out: fluxbox shows a ticking clock there.
    top = (0, 0, 1920, 1000)

    def screen_as_captured():
        # The window manager may still repaint a frame after the terminal
        # came up: a capture between two equal screens shows the screen.
        before = screen_rect(desktop, top)
        done = run(desktop, exe, "capture", "--screen", "-o", str(tmp_path / "all.bmp"))
        assert done.returncode == 0, done.stderr
        data = (tmp_path / "all.bmp").read_bytes()
        assert data.startswith(b"BM")
        width, height, pixels = decode(data)
        assert (width, height) == (1920, 1080)
        return (before == screen_rect(desktop, top) and
                crop((width, height, pixels), *top) == before)

    assert wait_until(screen_as_captured, 20, interval=0.5)
    # Each type by its extension, in any letter case, with the quality for JPEG.
    for name, magic in [("a.JPG", b"\xff\xd8"), ("a.gif", b"GIF8"), ("a.tif", b"II*\0"),
                        ("a.jpeg", b"\xff\xd8")]:
        done = run(desktop, exe, "capture", "--window", str(term), "--quality", "50",
                   "-o", str(tmp_path / name))
        assert done.returncode == 0, (name, done.stderr)
        assert (tmp_path / name).read_bytes().startswith(magic), name
    w, h, _ = decode((tmp_path / "a.JPG").read_bytes())
    assert (w, h) == desktop.outer_geometry(term)[2:]


@not_under("i3", reason="i3 tiles the windows side by side: none covers another")
def test_covered_window_with_its_own_pixels_equals_its_uncovered_picture(managed_desktop,
                                                                          exe,
                                                                          tmp_path):
    desktop = managed_desktop
    win = still_term(desktop, "LumiCovered", geometry="50x8+600+500", bg="pink")
    # Another window takes the focus, so the terminal's frame looks the same
    # before and after it is covered.
    logo = start_client(desktop, ["xlogo", "-geometry", "200x150+1500+800"], "XLogo")
    assert wait_until(lambda: desktop.active_window() == logo, 5)
    rect = desktop.outer_geometry(win)
    uncovered = screen_rect(desktop, rect)
    # Now over the middle of the terminal.
    desktop.x("xdotool", "windowmove", "--sync", str(logo), str(rect[0] + 60), str(rect[1] + 30))
    assert wait_until(lambda: screen_rect(desktop, rect) != uncovered, 5), "not covered"

    plain = run(desktop, exe, "capture", "--window", str(win), "-o", "-")
    assert plain.returncode == 0, plain.stderr
    assert decode(plain.stdout)[2] != uncovered, "the plain capture shows what covers it"
    own = run(desktop, exe, "capture", "--window", str(win), "--own-pixels", "-o", "-")
    assert own.returncode == 0, own.stderr
    assert decode(own.stdout) == (rect[2], rect[3], uncovered)
    # The screen is as it was: the window is back in its place, still covered.
    assert wait_until(lambda: screen_rect(desktop, rect) != uncovered, 5)
    client = desktop.client_geometry(win)
    own = run(desktop, exe, "capture", "--window", str(win), "--own-pixels", "--client",
              "-o", "-")
    assert own.returncode == 0, own.stderr
    x, y = client[0] - rect[0], client[1] - rect[1]
    assert decode(own.stdout) == (client[2], client[3],
                                  crop((rect[2], rect[3], uncovered), x, y, client[2], client[3]))
    stop_group(desktop.procs.pop())
    stop_group(desktop.procs.pop())


@not_under("i3", reason="i3 does not minimise windows")
def test_minimised_target_exits_1_with_its_reason(managed_desktop, exe, tmp_path):
    desktop = managed_desktop
    win = still_term(desktop, "LumiHidden", geometry="30x4+300+600")
    desktop.x("xdotool", "windowminimize", "--sync", str(win))
    assert wait_until(lambda: desktop.map_state(win) != "IsViewable", 5)
    out = tmp_path / "never.png"
    for extra in ([], ["--own-pixels"]):
        done = run(desktop, exe, "capture", "--class", "LumiHidden", *extra, "-o",
                   str(out))
        assert done.returncode == 1, done
        message = done.stderr.decode()
        assert message.count("\n") == 1 and message.startswith("lumivore: "), message
        assert "minimised" in message, message
        assert not out.exists()
    stop_group(desktop.procs.pop())


def test_errors_exit_with_their_status_and_leave_files_alone(managed_desktop, term,
                                                             exe, tmp_path):
    desktop = managed_desktop

    def fails(status, *args, env=None):
        done = run(desktop, exe, *args, env=env)
        assert done.returncode == status, (args, done)
        message = done.stderr.decode()
        assert message.startswith("lumivore: ") and message.count("\n") == 1, (args, message)
        assert done.stdout == b""
        return message

    assert "no window matches the class 'NoSuchClass'" in fails(
        1, "capture", "--class", "NoSuchClass", "-o", str(tmp_path / "x.png"))
    assert "no window matches the title 'nothing*'" in fails(
        1, "capture", "--title", "nothing*", "--copy")
    assert "there is no window 0x1" in fails(1, "inspect", "--window", "1")
    assert "unknown option" in fails(2, "capture", "--bogus")
    assert "cannot tell the picture's type" in fails(2, "capture", "-o", str(tmp_path / "x.tiff"))
    assert not (tmp_path / "x.png").exists() and not (tmp_path / "x.tiff").exists()
    # No display: the window's own message.
    env = {k: v for k, v in desktop.env.items() if k != "DISPLAY"}
    assert fails(1, "capture", "--copy", env=env) == \
        "lumivore: needs an X11 display, and DISPLAY is not set\n"
    # A file that cannot be written keeps its old content, and no other file appears.
    folder = tmp_path / "locked"
    folder.mkdir()
    old = folder / "old.png"
    old.write_bytes(b"old picture")
    folder.chmod(0o500)
    # root writes into a read-only folder: an immutable one stops it too.
    immutable = os.access(folder, os.W_OK) and subprocess.run(
        ["chattr", "+i", str(folder)], capture_output=True).returncode == 0
    try:
        if os.access(folder, os.W_OK) and not immutable:
            pytest.skip("this user writes into any folder")
        assert "cannot write" in fails(1, "capture", "--window", str(term), "-o", str(old))
        assert old.read_bytes() == b"old picture"
        assert sorted(p.name for p in folder.iterdir()) == ["old.png"]
    finally:
        if immutable:
            subprocess.run(["chattr", "-i", str(folder)], capture_output=True)
        folder.chmod(0o700)
    # A name no shell would leave alone is just a name.
    odd = tmp_path / "-o $(touch pwned); 'x'.png"
    done = run(desktop, exe, "capture", "--window", str(term), "-o", str(odd))
    assert done.returncode == 0, done.stderr
    assert odd.read_bytes().startswith(b"\x89PNG")
    assert not (tmp_path / "pwned").exists() and not os.path.exists("pwned")


def test_works_while_lumivore_runs_and_opens_no_window(managed_desktop, term, new_copy,
                                                       exe, tmp_path):
    desktop = managed_desktop
    app = new_copy(desktop)
    app.write_ini("[General]\nWinLeft=900\nWinTop=100\n")
    proc = app.start()
    main = app.wait_window()
    windows = set(desktop.search("--name", "."))
    done = run(desktop, exe, "capture", "--class", "TLumivoreForm", "-o",
               str(tmp_path / "main.png"))
    assert done.returncode == 0, done.stderr
    assert decode((tmp_path / "main.png").read_bytes())[:2] == desktop.outer_geometry(main)[2:]
    assert set(desktop.search("--name", ".")) == windows
    assert proc.poll() is None, "the running copy was disturbed"


def test_capture_runs_without_qt(managed_desktop, term, exe, tmp_path):
    """The commands start in a fraction of the window's time: they load neither Qt nor the
    window's module (only --copy does, for the clipboard's keeper), nor libhwy, whose start-up
    calibrates a timer, for a PNG."""
    desktop = managed_desktop
    out = tmp_path / "noqt.png"
    proc = subprocess.Popen([exe, "capture", "--window", str(term), "--delay", "1500", "-o",
                             str(out)], env=desktop.env, stderr=subprocess.PIPE)

    def maps():
        try:
            with open(f"/proc/{proc.pid}/maps") as f:
                return f.read()
        except OSError:
            return ""
    try:
        # Loaded and waiting out its delay.
        assert wait_until(lambda: "libxcb.so" in maps(), 5)
        loaded = maps()
    finally:
        _, err = proc.communicate(timeout=20)
    assert proc.returncode == 0, err
    for library in ("libQt6", "liblumivore-window", "libhwy"):
        assert library not in loaded
    assert out.read_bytes().startswith(b"\x89PNG")


def processes_of(exe):
    """Pids of processes running the executable `exe`."""
    found = []
    for pid in os.listdir("/proc"):
        try:
            if pid.isdigit() and os.readlink(f"/proc/{pid}/exe") == os.path.realpath(exe):
                found.append(int(pid))
        except OSError:
            pass
    return found


def test_copy_returns_at_once_and_the_clipboard_holds_the_picture(managed_desktop, term,
                                                                  exe):
    desktop = managed_desktop
    rect = desktop.outer_geometry(term)
    before = screen_rect(desktop, rect)
    started = time.monotonic()
    # Its output is a pipe: the command returns, and the pipe closes with it.
    done = run(desktop, exe, "capture", "--window", str(term), "--copy")
    assert done.returncode == 0, done.stderr
    assert time.monotonic() - started < 10
    assert "image/png" in desktop.clipboard("TARGETS").decode().split()
    assert_capture_equals_screen(desktop, desktop.clipboard("image/png"), rect, before)
    assert decode(desktop.clipboard("image/bmp"))[:2] == rect[2:]
    keepers = processes_of(exe)
    assert len(keepers) == 1, keepers
    # Another program takes the clipboard: the keeper has nothing left to do.
    subprocess.run(["xclip", "-selection", "clipboard", "-i"], input=b"text", env=desktop.env,
                   timeout=10)
    assert wait_until(lambda: not processes_of(exe), 10), "the keeper stays"
    assert desktop.clipboard("UTF8_STRING") == b"text"


def test_copy_hands_the_picture_to_a_clipboard_manager(managed_desktop, term, exe,
                                                       tmp_path):
    assert KEEPER, "LUMIVORE_CLIPBOARD_KEEPER must name the built clipboard keeper"
    desktop = managed_desktop
    log = tmp_path / "keeper.out"
    manager = subprocess.Popen([KEEPER], env=desktop.env, stdout=open(log, "wb"),
                               stderr=subprocess.STDOUT, start_new_session=True)
    desktop.procs.append(manager)
    assert wait_until(lambda: b"ready" in log.read_bytes(), 10)
    done = run(desktop, exe, "capture", "--window", str(term), "--copy")
    assert done.returncode == 0, done.stderr
    # Handed over, the keeper ends; the manager serves the picture.
    assert wait_until(lambda: not processes_of(exe), 10), "the keeper stays"
    assert b"saved" in log.read_bytes()
    assert decode(desktop.clipboard("image/png"))[:2] == desktop.outer_geometry(term)[2:]
    stop_group(desktop.procs.pop())


def xprop_value(desktop, win, prop):
    out = desktop.x("xprop", "-id", str(win), prop)
    return out.split("=", 1)[1].strip() if "=" in out else None


def test_inspect_json_matches_xprop_and_xwininfo(desktop, exe):
    win = still_term(desktop, "LumiFacts", geometry="45x7+120+140", bg="red")
    # A title that JSON must escape, in UTF-8, as a toolkit's program names itself.
    title = 'ファクト "quoted" \\ and\ttab'
    desktop.x("xprop", "-id", str(win), "-f", "_NET_WM_NAME", "8u", "-set", "_NET_WM_NAME", title)
    info = desktop.x("xwininfo", "-id", str(win))
    done = run(desktop, exe, "inspect", "--window", hex(win), "--json", "--at",
               "1919,1079")
    assert done.returncode == 0, done.stderr
    facts = json.loads(done.stdout)
    assert facts["id"] == win and facts["id_hex"] == f"0x{win:08x}"
    assert [facts["instance"], facts["class"]] == desktop.wm_class(win)
    assert facts["title"] == title
    assert '\\"quoted\\" \\\\ and\\ttab' in done.stdout.decode()
    assert facts["pid"] == int(xprop_value(desktop, win, "_NET_WM_PID"))
    assert facts["depth"] == int(re.search(r"Depth: (\d+)", info).group(1))
    frame, client = rects(desktop, win)
    x, y, w, h = client
    assert facts["client"] == {"x": x, "y": y, "width": w, "height": h}
    x, y, w, h = frame
    assert facts["frame"] == {"x": x, "y": y, "width": w, "height": h}
    assert (facts["shaped"], facts["minimised"], facts["maximised"], facts["above"]) == \
        (False, False, False, False)
    corner = crop(desktop.settled_screenshot(), 1919, 1079, 1, 1)
    assert facts["pixel"]["x"] == 1919 and facts["pixel"]["y"] == 1079
    assert facts["pixel"]["html"] == "#" + corner.hex()

    # The pixel under the pointer, in all three formats, and the window there.
    x, y, w, h = client
    desktop.x("xdotool", "mousemove", str(x + w // 2), str(y + h - 3))
    done = run(desktop, exe, "inspect", "--json")
    facts = json.loads(done.stdout)
    assert facts["id"] == win
    assert facts["pixel"] == {"x": x + w // 2, "y": y + h - 3, "rgb": "255,  0,  0",
                              "colorref": "0x000000ff", "html": "#ff0000"}
    desktop.x("xdotool", "mousemove", "1900", "1070")

    if desktop.wm and WM != "i3":
        desktop.x("wmctrl", "-i", "-r", str(win), "-b", "add,maximized_vert,maximized_horz")
        desktop.x("wmctrl", "-i", "-r", str(win), "-b", "add,above")
        states = lambda: desktop.net_wm_state(win) >= {
            "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ", "_NET_WM_STATE_ABOVE"}
        assert wait_until(states, 5)
        facts = json.loads(run(desktop, exe, "inspect", "--class", "LumiFacts",
                               "--json").stdout)
        assert facts["maximised"] and facts["above"]
        desktop.x("xdotool", "windowminimize", "--sync", str(win))
        facts = json.loads(run(desktop, exe, "inspect", "--class", "LumiFacts",
                               "--json").stdout)
        assert facts["minimised"]
    stop_group(desktop.procs.pop())


def test_inspect_all_lists_the_windows_topmost_first(managed_desktop, term, exe):
    desktop = managed_desktop
    other = still_term(desktop, "LumiSecond", geometry="20x3+900+600")
    done = run(desktop, exe, "inspect", "--all", "--json")
    assert done.returncode == 0, done.stderr
    listed = [w["id"] for w in json.loads(done.stdout)]
    assert listed == list(reversed(desktop.stacking()))
    assert listed.index(other) < listed.index(term)
    # The text form names the same windows, one block each.
    text = run(desktop, exe, "inspect", "--all").stdout.decode()
    assert [int(v, 16) for v in re.findall(r"^id:\s+(0x[0-9a-f]+)", text, re.M)] == listed
    stop_group(desktop.procs.pop())
