"""Start-up, single instance, main window placement and the settings file, as a
user sees them: the real executable on a real X server, with openbox and with no
window manager at all."""

import os
import subprocess
import time

import pytest

from conftest import (MAIN_CLASS, SCREEN_H, SCREEN_W, WM, Desktop, copy_executable, not_under,
                      start_window_manager, wait_until)

SECOND_START_EXIT = 255  # -1 as a process exit status

# Every key a first run writes, in file order, with its default.
DEFAULT_FILE = [
    ("General", "Version", "155"),
    ("General", "WinState", "0"),
    ("General", "WinLeft", "850"),
    ("General", "WinTop", "420"),
    ("General", "WinWidth", "220"),
    ("General", "WinHeight", "240"),
    ("General", "ShowClsName", "1"),
    ("General", "ShowWndText", "1"),
    ("General", "ShowSttBar", "1"),
    ("General", "LastDir", ""),
    ("General", "LastDefExt", "BMP"),
    ("General", "ImgBgColor", "0"),
    ("General", "ColValFmt", "0"),
    ("Option", "HideWait", "100"),
    ("Option", "CaptureWait", "3000"),
    ("Option", "JpegQuality", "100"),
    ("Option", "ScaleOpt", "0"),
    ("Option", "ExtAllIcon", "1"),
    ("Sound", "ChgImage", ""),
    ("Sound", "CapImage", ""),
    ("OnCopy", "ActWndClass", ""),
    ("OnCopy", "ActWndTitle", ""),
    ("OnCopy", "ActWndTitleR", ""),
    ("OnCopy", "CmdLine", ""),
    ("OnCopy", "SendKey", ""),
    ("OnSave", "CmdLine", ""),
]

CENTRED = ((SCREEN_W - 220) // 2, (SCREEN_H - 240) // 2, 220, 240)


def capture_tool_centre(client):
    """Screen point of the capture tool's centre for a main window whose client area is
    `client` (x, y, width, height). The tool panel runs along the top of the client
    area, 42 high, with a one-pixel raised bevel; the 40x40 capture tool panel sits
    right-aligned inside that bevel, so its left is width - 1 - 40 and its top 1. The
    pointer goes to the panel's own centre, (40 / 2, 40 / 2)."""
    x, y, width, _ = client
    return (x + width - 1 - 40 + 20, y + 1 + 20)


def placement_ini(left, top, width=220, height=240):
    return (f"[General]\nVersion=155\nWinState=0\nWinLeft={left}\nWinTop={top}\n"
            f"WinWidth={width}\nWinHeight={height}\n")


def test_FirstStart_NoIni_CentredOnTopWithPointerOnCaptureTool(desktop, new_copy):
    app = new_copy(desktop)
    proc = app.start()
    win = app.wait_window()

    assert app.wait_outer(win, CENTRED) == CENTRED
    if desktop.wm:
        left, right, top, bottom = desktop.frame_extents(win)
        assert top > 0, "openbox gives the window a title bar"
    client = desktop.client_geometry(win)
    assert wait_until(lambda: desktop.pointer() == capture_tool_centre(client), 3), \
        f"pointer at {desktop.pointer()}, capture tool centre {capture_tool_centre(client)}"
    assert "_NET_WM_STATE_ABOVE" in desktop.net_wm_state(win)
    assert desktop.wm_class(win)[1:] == [MAIN_CLASS]
    # The version is recorded as soon as the program starts.
    assert app.read_ini() == [("General", "Version", "155")]
    assert proc.poll() is None


def test_WindowManagerStartedAfterLumivore_FrameStillCentred(new_copy, tmp_path):
    """A session's autostart may start Lumivore before the window manager, or a busy
    machine may let the window manager frame it late: the window is corrected to the
    centred outer bounds whenever its frame arrives."""
    (tmp_path / "late-wm").mkdir()
    desktop = Desktop(None, tmp_path / "late-wm")
    try:
        app = new_copy(desktop)
        app.start()
        win = app.wait_window()
        assert app.wait_outer(win, CENTRED) == CENTRED
        # The window manager comes up a while after the window was placed.
        time.sleep(1.5)
        desktop.wm_proc = start_window_manager(WM, desktop.env, desktop.workdir)
        assert desktop.wm_proc, f"{WM} did not come up"
        assert wait_until(lambda: desktop.frame_extents(win)[2] > 0, 10), "no frame built"
        assert app.wait_outer(win, CENTRED, timeout=5) == CENTRED
    finally:
        desktop.stop()


def test_Esc_ClosesAndWritesEveryKeyInOrder(desktop, new_copy):
    app = new_copy(desktop)
    proc = app.start()
    win = app.wait_window()
    assert app.wait_outer(win, CENTRED) == CENTRED

    assert app.close_with_esc(proc, win) == 0
    assert app.read_ini() == DEFAULT_FILE
    assert desktop.main_windows() == []


def start_copy_behind_xterm(desktop, new_copy):
    """A running Lumivore and an xterm that has the focus: (app, process, window, xterm)."""
    app = new_copy(desktop)
    proc = app.start()
    win = app.wait_window()
    _, term = desktop.start_xterm()
    return app, proc, win, term


# An activation request sent just before the second copy ends used to be lost at
# random: every check runs a few rounds.
ROUNDS = 4


def test_SecondStart_WithWindowManager_ActivatesAndRestoresRunningCopy(managed_desktop, new_copy):
    desktop = managed_desktop
    app, first, win, term = start_copy_behind_xterm(desktop, new_copy)
    ini_before = app.ini.read_bytes()

    for _ in range(ROUNDS):
        desktop.x("xdotool", "windowactivate", str(term))
        assert wait_until(lambda: desktop.active_window() == term, 5), "xterm has no focus"
        # Even behind the active window, Lumivore stays on top.
        assert desktop.is_above(win, term)
        assert app.wait_exit(app.start()) == SECOND_START_EXIT
        assert wait_until(lambda: desktop.active_window() == win, 5)

    # i3 does not minimise (iconify) windows: nothing there to restore.
    for _ in range(ROUNDS if WM != "i3" else 0):
        desktop.x("xdotool", "windowminimize", str(win))
        assert wait_until(lambda: "_NET_WM_STATE_HIDDEN" in desktop.net_wm_state(win), 5)
        assert app.wait_exit(app.start()) == SECOND_START_EXIT
        assert wait_until(lambda: desktop.active_window() == win, 5)
        assert "_NET_WM_STATE_HIDDEN" not in desktop.net_wm_state(win)
        assert desktop.map_state(win) == "IsViewable"

    # The second copies never touched the settings file, and the first runs on.
    assert app.ini.read_bytes() == ini_before
    assert first.poll() is None
    assert app.close_with_esc(first, win) == 0


def test_SecondStart_WithoutWindowManager_RaisesAndFocusesRunningCopy(bare_desktop, new_copy):
    desktop = bare_desktop
    app, first, win, term = start_copy_behind_xterm(desktop, new_copy)

    for _ in range(ROUNDS):
        desktop.x("xdotool", "windowraise", str(term))
        desktop.x("xdotool", "windowfocus", "--sync", str(term))
        assert desktop.focus_window() == term
        assert desktop.top_level_order()[0] == term
        assert app.wait_exit(app.start()) == SECOND_START_EXIT
        assert wait_until(lambda: desktop.focus_window() == win, 5)
        assert desktop.top_level_order()[0] == win
        assert desktop.map_state(win) == "IsViewable"
    assert app.close_with_esc(first, win) == 0


def test_SecondStart_OtherSpellingOfDisplayAndOtherTempFolders_FindsRunningCopy(
        managed_desktop, new_copy, tmp_path):
    desktop = managed_desktop
    app, first, win, term = start_copy_behind_xterm(desktop, new_copy)
    number = desktop.display.lstrip(":")
    for n, spelling in enumerate((f":{number}.0", f"unix:{number}", f":{number}")):
        desktop.x("xdotool", "windowactivate", str(term))
        assert wait_until(lambda: desktop.active_window() == term, 5), "xterm has no focus"
        private = tmp_path / f"elsewhere{n}"
        private.mkdir(mode=0o700)
        env = dict(desktop.env, DISPLAY=spelling, XDG_RUNTIME_DIR=str(private),
                   TMPDIR=str(private))
        assert app.wait_exit(app.start(env)) == SECOND_START_EXIT, spelling
        assert wait_until(lambda: desktop.active_window() == win, 5), spelling
    assert app.close_with_esc(first, win) == 0


def free_display():
    """A display number that no X server on this machine serves."""
    n = 5000
    while os.path.exists(f"/tmp/.X11-unix/X{n}") or os.path.exists(f"/tmp/.X{n}-lock"):
        n += 1
    return f":{n}"


@pytest.mark.parametrize("display", [None, "free"])
def test_NoXServer_SaysSoInOneLineAndExits1(lumivore_exe, tmp_path, display):
    exe = tmp_path / "lumivore"
    copy_executable(lumivore_exe, exe)
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LUMIVORE_PLATFORM")}
    if display:
        env["DISPLAY"] = display = free_display()
    done = subprocess.run([str(exe)], env=env, capture_output=True, text=True, timeout=30)
    assert done.returncode == 1
    lines = done.stderr.splitlines()
    assert len(lines) == 1, done.stderr
    assert "X11 display" in lines[0]
    assert (f"DISPLAY={display} " if display else "DISPLAY is not set") in lines[0]
    assert not (tmp_path / "lumivore.INI").exists()


def test_SimultaneousStarts_LeaveExactlyOneCopy(desktop, new_copy):
    app = new_copy(desktop)
    for _ in range(3):
        pair = [app.start(), app.start()]
        exits = wait_until(lambda: [p for p in pair if p.poll() is not None], 10)
        assert [p.returncode for p in exits] == [SECOND_START_EXIT]
        survivor = next(p for p in pair if p.poll() is None)
        win = app.wait_window()
        assert survivor.poll() is None
        assert app.close_with_esc(survivor, win) == 0


def test_Restart_RestoresMovedPosition(desktop, new_copy):
    app = new_copy(desktop)
    proc = app.start()
    win = app.wait_window()
    assert app.wait_outer(win, CENTRED) == CENTRED

    desktop.x("xdotool", "windowmove", "--sync", str(win), "300", "200")
    moved = wait_until(lambda: desktop.outer_geometry(win) != CENTRED and
                       desktop.outer_geometry(win), 5)
    assert moved and moved[2:] == (220, 240)
    assert app.close_with_esc(proc, win) == 0
    assert (app.ini_value("General", "WinLeft"), app.ini_value("General", "WinTop")) == \
        (str(moved[0]), str(moved[1]))

    proc = app.start()
    win = app.wait_window()
    assert app.wait_outer(win, moved) == moved
    assert app.close_with_esc(proc, win) == 0


MAXIMISED = {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"}


def set_maximised(desktop, win, on):
    """Asks the window manager to maximise or restore `win`, as a task bar does."""
    desktop.x("wmctrl", "-i", "-r", str(win), "-b",
              ("add" if on else "remove") + ",maximized_vert,maximized_horz")


def stored_placement(app):
    return [app.ini_value("General", k)
            for k in ("WinState", "WinLeft", "WinTop", "WinWidth", "WinHeight")]


NORMAL = (300, 200, 400, 300)


def start_in_normal_bounds(desktop, new_copy):
    """A Lumivore whose settings place it at NORMAL: (app, process, window)."""
    app = new_copy(desktop)
    app.write_ini(placement_ini(*NORMAL))
    proc = app.start()
    win = app.wait_window()
    assert app.wait_outer(win, NORMAL) == NORMAL
    return app, proc, win


@not_under("i3", reason="i3 neither maximises nor minimises (iconifies) windows")
def test_Restart_RestoresMaximisedStateAndNormalBounds(managed_desktop, new_copy):
    desktop = managed_desktop
    app, proc, win = start_in_normal_bounds(desktop, new_copy)

    set_maximised(desktop, win, True)
    assert wait_until(lambda: MAXIMISED <= desktop.net_wm_state(win), 5)
    assert app.close_with_esc(proc, win) == 0
    assert stored_placement(app) == ["2"] + [str(v) for v in NORMAL]

    # Started maximised, closed maximised: the normal bounds stay as they were.
    proc = app.start()
    win = app.wait_window()
    assert wait_until(lambda: MAXIMISED <= desktop.net_wm_state(win), 5)
    full = desktop.work_area()
    assert app.wait_outer(win, full) == full
    assert app.close_with_esc(proc, win) == 0
    assert stored_placement(app) == ["2"] + [str(v) for v in NORMAL]

    # Started maximised and restored by the user: back to the stored normal bounds.
    proc = app.start()
    win = app.wait_window()
    assert wait_until(lambda: MAXIMISED <= desktop.net_wm_state(win), 5)
    set_maximised(desktop, win, False)
    assert wait_until(lambda: not MAXIMISED & desktop.net_wm_state(win), 5)
    assert app.wait_outer(win, NORMAL) == NORMAL
    assert app.close_with_esc(proc, win) == 0
    assert stored_placement(app) == ["0"] + [str(v) for v in NORMAL]


@pytest.mark.parametrize("stored, shown", [
    ((-50, 100), (0, 100)),                           # left of the screen
    ((1800, 300), (SCREEN_W - 220, 300)),             # right edge beyond the screen
    ((100, -30), (100, 0)),                           # above the screen
    ((500, 1000), (500, SCREEN_H - 240)),             # bottom edge below the screen
], ids=["left", "right", "top", "bottom"])
def test_StoredPositionOffScreen_IsPulledBackOnScreen(desktop, new_copy, stored, shown):
    app = new_copy(desktop)
    app.write_ini(placement_ini(*stored))
    proc = app.start()
    win = app.wait_window()
    expected = shown + (220, 240)
    assert app.wait_outer(win, expected) == expected
    assert app.close_with_esc(proc, win) == 0
    assert (app.ini_value("General", "WinLeft"), app.ini_value("General", "WinTop")) == \
        tuple(str(v) for v in shown)


def test_DamagedIni_StartsWithDefaults(desktop, new_copy):
    app = new_copy(desktop)
    app.write_ini(b"\xef\xbb\xbf garbage without equals\n[General\n=no key\n"
                  b"[General]\nWinWidth=abc\nWinHeight=\xff\xfe\xfd\nWinLeft=12x\nWinTop=\n"
                  b"ShowClsName=\xc3\x28\nWinState=\x80\x80\n[Option]\nHideWait=1e3\n"
                  b"\x00\x01\x02 binary \xf0\x28\x8c\x28\n[\xff]\nJpegQuality=\xe2\x82\n")
    proc = app.start()
    win = app.wait_window()
    assert app.wait_outer(win, CENTRED) == CENTRED
    assert app.close_with_esc(proc, win) == 0
    values = app.ini_values()
    for section, key, default in DEFAULT_FILE:
        assert values[(section, key)] == default, (section, key)


def test_UnwritableIni_ReportsAndStillCloses(managed_desktop, new_copy):
    desktop = managed_desktop
    app = new_copy(desktop)
    # Root ignores file permissions; a folder where the file should be is unwritable for all.
    app.ini.mkdir()
    proc = app.start()

    def message_boxes():
        return [w for w in desktop.search("--name", "^Lumivore$")
                if desktop.wm_class(w)[1:] != [MAIN_CLASS]]

    # Recording the version fails at start: the message box comes first.
    boxes = wait_until(message_boxes, 10)
    assert len(boxes) == 1
    desktop.key(boxes[0], "Return")
    win = app.wait_window()
    assert app.wait_outer(win, CENTRED) == CENTRED

    desktop.key(win, "Escape")
    boxes = wait_until(message_boxes, 10)
    assert len(boxes) == 1
    assert proc.poll() is None, "the message waits for the user"
    desktop.key(boxes[0], "Return")
    assert app.wait_exit(proc) == 0
    assert app.ini.is_dir()


@not_under("i3", reason="i3 neither maximises nor minimises (iconifies) windows")
@pytest.mark.parametrize("minimised_from, state", [("normal", "0"), ("maximised", "2")])
def test_CloseWhileMinimised_WritesStateAndNormalBounds(managed_desktop, new_copy,
                                                        minimised_from, state):
    desktop = managed_desktop
    app, proc, win = start_in_normal_bounds(desktop, new_copy)
    if minimised_from == "maximised":
        set_maximised(desktop, win, True)
        assert wait_until(lambda: MAXIMISED <= desktop.net_wm_state(win), 5)

    desktop.x("xdotool", "windowminimize", str(win))
    assert wait_until(lambda: "_NET_WM_STATE_HIDDEN" in desktop.net_wm_state(win), 5)
    # Closed from outside, as a task bar does.
    desktop.x("wmctrl", "-i", "-c", str(win))
    assert app.wait_exit(proc) == 0
    assert stored_placement(app) == [state] + [str(v) for v in NORMAL]


@not_under("i3", reason="i3 keeps the client at its minimum width but cuts its frame to the "
                        "narrower size another program asked for")
def test_ResizeNarrowerThanMinimum_StopsAt218(managed_desktop, new_copy):
    desktop = managed_desktop
    app = new_copy(desktop)
    proc = app.start()
    win = app.wait_window()
    assert app.wait_outer(win, CENTRED) == CENTRED

    desktop.x("xdotool", "windowsize", str(win), "100", "300")
    # The height shows the request was handled; the width stops at the minimum
    # (where the window manager lets the request through, the window itself
    # takes its minimum back a moment later).
    assert wait_until(lambda: desktop.client_geometry(win)[3] == 300, 5)
    assert wait_until(lambda: desktop.outer_geometry(win)[2] == 218, 5)
    assert app.close_with_esc(proc, win) == 0
    assert app.ini_value("General", "WinWidth") == "218"


RED = bytes((255, 0, 0))


def view_rows(desktop, win):
    """The rows of the client area (first, last + 1) that show the view's red background,
    found in the client's rightmost column, where no control but the view reaches."""
    x, y, width, height = desktop.client_geometry(win)
    shot_w, shot_h, pixels = desktop.screenshot()
    if not pixels:
        return None
    column = x + width - 1
    red = [row for row in range(height)
           if pixels[3 * ((y + row) * shot_w + column):][:3] == RED]
    return (red[0], red[-1] + 1) if red else None


@pytest.mark.parametrize("view_keys, rows_above, status_bar", [
    ("", 2, True),
    ("ShowClsName=0\nShowWndText=0\nShowSttBar=0\n", 0, False),
    ("ShowWndText=0\nColValFmt=3\n", 2, True),
    ("ColValFmt=1\nShowSttBar=0\n", 3, False),
], ids=["defaults", "all-hidden", "colour-line", "colour-line-no-status"])
def test_ViewSettings_ShapeTheWindowAndAreWrittenBack(desktop, new_copy, view_keys, rows_above,
                                                      status_bar):
    app = new_copy(desktop)
    # $FF is the colour value 255: red, where the view shows no picture.
    app.write_ini("[General]\nImgBgColor=$FF\n" + view_keys)
    proc = app.start()
    win = app.wait_window()
    assert app.wait_outer(win, CENTRED) == CENTRED
    height = desktop.client_geometry(win)[3]
    # Tool panel 42 high, then 25 for each line shown; the status bar is 19 high.
    expected = (42 + 25 * rows_above, height - (19 if status_bar else 0))
    seen = []
    wait_until(lambda: seen.append(view_rows(desktop, win)) or seen[-1] == expected, 5)
    assert seen[-1] == expected

    assert app.close_with_esc(proc, win) == 0
    written = app.ini_values()
    assert written[("General", "ImgBgColor")] == "255"
    for line in view_keys.split():
        key, value = line.split("=")
        assert written[("General", key)] == value
