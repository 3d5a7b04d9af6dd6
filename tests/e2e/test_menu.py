"""The popup menu and the selection on a real X server (Xvfb) with a window manager (openbox)."""
import os
import re
import subprocess
import time

import pytest

from conftest import WM, copy_executable, start_window_manager, stop_group

EXE = os.environ.get("LUMIVORE_EXE", "")

# Layout of the main window's client area with the default settings: the tool
# bar row is 42 high and the class-name and text rows 25 each, so the view
# starts at y = 92. The tool bar sits at (1, 1); the menu button is its third
# 33-pixel button, 2 pixels in.
VIEW_TOP = 92
MENU_BUTTON = (1 + 2 + 2 * 33, 1 + 2, 33, 30)
MENU_ANCHOR = (1 + 2 + 2 * 33 + 16, 1 + 16)


def wait_for(predicate, timeout=5.0, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what}")


@pytest.fixture
def desktop(tmp_path):
    """A throwaway X server with the window manager of this round; both are always stopped."""
    procs = []
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
         "-noreset"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True)  # its own group, which stop_group ends
    procs.append(xvfb)
    os.close(write_fd)
    try:
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        assert number, "Xvfb did not start"
        env = dict(os.environ, DISPLAY=":" + number)
        for key in ("QT_QPA_PLATFORM", "QT_SCALE_FACTOR", "WAYLAND_DISPLAY"):
            env.pop(key, None)
        wm = start_window_manager(WM, env, tmp_path)
        assert wm, f"{WM} did not start"
        procs.append(wm)
        yield env, procs
    finally:
        for p in reversed(procs):
            stop_group(p)


def run(env, *args):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=10).stdout


def xdo(env, *args):
    subprocess.run(["xdotool", *map(str, args)], env=env, check=True, timeout=10)


@pytest.fixture
def lumivore(desktop, tmp_path):
    env, procs = desktop
    # The settings file lives beside the executable: run a copy.
    exe = tmp_path / "lumivore"
    copy_executable(EXE, exe)
    procs.append(subprocess.Popen([str(exe)], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, start_new_session=True))
    wid = wait_for(lambda: run(env, "xdotool", "search", "--onlyvisible", "--class",
                               "TLumivoreForm").split(), what="main window")[0]
    # Wait until the window manager has framed it (not every one publishes its
    # frame extents: i3 does not) and placed it.
    def framed():
        tree = run(env, "xwininfo", "-children", "-id", wid)
        parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree)
        root = re.search(r"Root window id: (0x[0-9a-f]+)", tree)
        return parent and root and parent.group(1) != root.group(1)

    wait_for(framed, what="frame")
    time.sleep(0.5)
    return env, wid


def client_box(env, wid):
    info = run(env, "xwininfo", "-id", wid)
    get = lambda key: int(re.search(key + r":\s+(-?\d+)", info).group(1))
    return get("Absolute upper-left X"), get("Absolute upper-left Y"), get("Width"), get("Height")


def open_popups(env):
    """Lumivore's mapped menus as (x, y, width, height)."""
    boxes = []
    for line in run(env, "xwininfo", "-root", "-children").splitlines():
        m = re.match(r'\s+(0x[0-9a-f]+) .*\("lumivore" "Lumivore"\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)',
                     line)
        if m and "IsViewable" in run(env, "xwininfo", "-id", m.group(1)):
            w, h, x, y = map(int, m.group(2, 3, 4, 5))
            boxes.append((x, y, w, h))
    return boxes


def pointer(env):
    out = run(env, "xdotool", "getmouselocation")
    return tuple(int(v) for v in re.findall(r"[xy]:(-?\d+)", out))


def close_menu(env):
    xdo(env, "key", "Escape")
    wait_for(lambda: not open_popups(env), what="menu to close")
    # Esc reached the menu, not the main window's cancel button.
    time.sleep(0.2)
    assert run(env, "xdotool", "search", "--onlyvisible", "--class", "TLumivoreForm").split()


def test_menu_button_opens_the_menu_at_the_same_point_wherever_it_is_clicked(lumivore):
    env, wid = lumivore
    x, y, _, _ = client_box(env, wid)
    bx, by, bw, bh = MENU_BUTTON
    expected = (x + MENU_ANCHOR[0], y + MENU_ANCHOR[1])
    sizes = set()
    for px, py in ((bx + 3, by + 3), (bx + bw - 4, by + bh - 4), (bx + bw // 2, by + 5)):
        xdo(env, "mousemove", x + px, y + py, "click", "1")
        popups = wait_for(lambda: open_popups(env), what="menu")
        assert len(popups) == 1
        assert popups[0][:2] == expected
        sizes.add(popups[0][2:])
        close_menu(env)
    assert len(sizes) == 1


def capture_xlogo(env, wid):
    """Drags the capture tool onto an xlogo window, giving the view a picture."""
    logo = subprocess.Popen(["xlogo", "-geometry", "200x150+60+450"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        lid = wait_for(lambda: run(env, "xdotool", "search", "--onlyvisible", "--class",
                                   "XLogo").split(), what="xlogo")[0]
        time.sleep(0.5)
        lx, ly, lw, lh = client_box(env, lid)
        x, y, w, _ = client_box(env, wid)
        # The capture tool is the 40 x 40 panel at the right end of the tool bar.
        xdo(env, "mousemove", x + w - 21, y + 21, "mousedown", "1")
        xdo(env, "mousemove", x - 100, y + 100)
        xdo(env, "mousemove", lx + lw // 2, ly + lh // 2)
        time.sleep(0.4)
        xdo(env, "mouseup", "1")
        time.sleep(0.6)
    except BaseException:
        logo.terminate()
        raise
    return logo


def test_right_click_on_the_picture_opens_the_short_menu_at_the_pointer(lumivore):
    env, wid = lumivore
    x, y, _, _ = client_box(env, wid)
    # Without a picture a right click on the view opens nothing.
    xdo(env, "mousemove", x + 40, y + VIEW_TOP + 30, "click", "3")
    time.sleep(0.5)
    assert open_popups(env) == []
    xdo(env, "mousemove", x + MENU_BUTTON[0] + 5, y + MENU_BUTTON[1] + 5, "click", "1")
    full = wait_for(lambda: open_popups(env), what="full menu")[0]
    close_menu(env)

    logo = capture_xlogo(env, wid)
    try:
        for point in ((x + 40, y + VIEW_TOP + 30), (x + 120, y + VIEW_TOP + 10)):
            xdo(env, "mousemove", *point, "click", "3")
            popups = wait_for(lambda: open_popups(env), what="short menu")
            assert len(popups) == 1
            assert popups[0][:2] == point
            # View, Options and About are left out.
            assert popups[0][3] < full[3]
            close_menu(env)
    finally:
        logo.terminate()
        logo.wait(timeout=5)


def test_drawing_a_selection_confines_the_pointer_until_the_release(lumivore):
    env, wid = lumivore
    logo = capture_xlogo(env, wid)
    try:
        x, y, _, _ = client_box(env, wid)
        xdo(env, "mousemove", x + 60, y + VIEW_TOP + 20, "mousedown", "1")
        time.sleep(0.2)
        # Relative motion, as a mouse moves, stops at the view's left and top edges.
        xdo(env, "mousemove_relative", "--", -500, -500)
        time.sleep(0.2)
        assert pointer(env) == (x, y + VIEW_TOP)
        xdo(env, "mouseup", "1")
        time.sleep(0.2)
        xdo(env, "mousemove_relative", "--", -30, -30)
        time.sleep(0.2)
        assert pointer(env) == (x - 30, y + VIEW_TOP - 30)
    finally:
        logo.terminate()
        logo.wait(timeout=5)
