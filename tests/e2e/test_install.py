"""Lumivore as an installed application: the Debian package built by CPack from this build,
unpacked with dpkg -x, its desktop entry, metainfo and man page checked by their validators,
and the installed executable run from a program folder it cannot write, on Xvfb with openbox,
keeping its settings in the user's configuration folder."""

import configparser
import os
import re
import shlex
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path

import pytest

from conftest import MAIN_CLASS, SCREEN_H, SCREEN_W, Lumivore, spawn, wait_until

VERSION = os.environ.get("LUMIVORE_VERSION", "")
CENTRED = ((SCREEN_W - 220) // 2, (SCREEN_H - 240) // 2, 220, 240)
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
NOBODY = 65534


def run(cmd, env=None, timeout=120):
    return subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=timeout)


@pytest.fixture(scope="module")
def package():
    """The .deb built from this build tree into a folder of its own."""
    build, cpack = os.environ.get("LUMIVORE_BUILD_DIR"), os.environ.get("LUMIVORE_CPACK")
    if not build or not cpack or not VERSION:
        pytest.fail("LUMIVORE_BUILD_DIR, LUMIVORE_CPACK and LUMIVORE_VERSION must be set")
    out = Path(tempfile.mkdtemp(prefix="lumivore-deb-"))
    try:
        done = run([cpack, "-G", "DEB", "--config", str(Path(build) / "CPackConfig.cmake"),
                    "-B", str(out)], timeout=240)
        assert done.returncode == 0, done.stdout + done.stderr
        debs = sorted(out.glob("*.deb"))
        assert len(debs) == 1, debs
        yield debs[0]
    finally:
        shutil.rmtree(out, ignore_errors=True)


@pytest.fixture(scope="module")
def root(package):
    """The package unpacked into a throw-away root that any user may read: (root, usr)."""
    folder = Path(tempfile.mkdtemp(prefix="lumivore-root-"))
    os.chmod(folder, 0o755)
    try:
        done = run(["dpkg", "-x", str(package), str(folder)])
        assert done.returncode == 0, done.stderr
        # The program folder is read-only, as /usr/bin is for anyone but root.
        os.chmod(folder / "usr" / "bin", 0o555)
        yield folder / "usr"
    finally:
        os.chmod(folder / "usr" / "bin", 0o755)
        shutil.rmtree(folder, ignore_errors=True)


def test_Package_NamedAfterTheVersion_DeclaresWhatItNeeds(package):
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    assert package.name == f"lumivore_{VERSION}_{arch}.deb"
    field = lambda name: run(["dpkg-deb", "-f", str(package), name]).stdout.strip()
    assert field("Package") == "lumivore"
    assert field("Version") == VERSION
    depends = [d.strip().split()[0] for d in field("Depends").split(",")]
    # The font is named by hand; the libraries come from the executable's own links.
    for needed in ("fonts-ipafont-gothic", "libqt6widgets6", "libcanberra0", "libxcb1"):
        assert needed in depends, depends
    # Every dependency is a real package: here, where the program was built, all are installed.
    for name in depends:
        status = run(["dpkg-query", "-W", "-f=${Status}", name]).stdout
        assert status.endswith("installed"), f"{name}: {status!r}"

    files = set(re.findall(r"\s\./(\S+)$", run(["dpkg-deb", "-c", str(package)]).stdout, re.M))
    # The window is a module the executable loads from the package's own library folder.
    expected = {"usr/bin/lumivore", "usr/lib/lumivore/liblumivore-window.so",
                "usr/share/applications/lumivore.desktop",
                "usr/share/man/man1/lumivore.1.gz",
                "usr/share/bash-completion/completions/lumivore",
                "usr/share/metainfo/example.lumivore.Lumivore.metainfo.xml"}
    expected |= {f"usr/share/icons/hicolor/{s}x{s}/apps/lumivore.png" for s in ICON_SIZES}
    assert expected <= files, sorted(expected - files)


def test_DesktopEntryMetainfoAndManPage_PassTheirValidators(root):
    share = root / "share"
    entry = share / "applications" / "lumivore.desktop"
    done = run(["desktop-file-validate", str(entry)])
    assert done.returncode == 0 and not re.search(r": (error|warning):", done.stdout), done.stdout
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(entry, encoding="utf-8")
    desktop = parser["Desktop Entry"]
    assert (desktop["Name"], desktop["Name[ja]"]) == ("Lumivore", "ルミボア")
    assert desktop["Comment"] and desktop["Comment[ja]"]
    assert desktop["Categories"] == "Graphics;Utility;"
    # What the entry starts and shows is in the package.
    assert (root / "bin" / desktop["Exec"]).is_file()
    for size in ICON_SIZES:
        png = (share / "icons" / "hicolor" / f"{size}x{size}" / "apps" /
               (desktop["Icon"] + ".png")).read_bytes()
        assert png[:8] == b"\x89PNG\r\n\x1a\n"
        assert struct.unpack(">II", png[16:24]) == (size, size)

    metainfo = share / "metainfo" / "example.lumivore.Lumivore.metainfo.xml"
    done = run(["appstreamcli", "validate", "--no-net", str(metainfo)])
    assert done.returncode == 0, done.stdout + done.stderr
    assert "<launchable type=\"desktop-id\">lumivore.desktop</launchable>" in metainfo.read_text()

    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    done = run(["man", "--warnings", "-l", str(share / "man" / "man1" / "lumivore.1.gz")], env)
    assert done.returncode == 0 and done.stderr == "", done.stderr
    assert re.search(rf"Lumivore {re.escape(VERSION)}\s", done.stdout), done.stdout[-300:]
    for option in ("--help", "--version", "capture", "inspect", "--own-pixels", "--json"):
        assert option in done.stdout


def test_BashCompletion_OffersTheCommandsAndTheirOptions(root):
    script = root / "share" / "bash-completion" / "completions" / "lumivore"
    framework = "/usr/share/bash-completion/bash_completion"

    def complete(*words):
        line = " ".join(("lumivore",) + words)
        quoted = " ".join(shlex.quote(w) for w in ("lumivore",) + words)
        code = (f"source {framework}; source {shlex.quote(str(script))}; "
                f"COMP_WORDS=({quoted}); COMP_CWORD={len(words)}; "
                f"COMP_LINE={shlex.quote(line)}; COMP_POINT={len(line)}; "
                "_lumivore; printf '%s\\n' \"${COMPREPLY[@]}\"")
        done = run(["bash", "-c", code])
        assert done.returncode == 0, done.stderr
        return sorted(done.stdout.split())

    assert complete("") == ["--help", "--version", "capture", "inspect"]
    assert complete("capture", "--c") == ["--class", "--client", "--copy"]
    assert complete("inspect", "--") == ["--active", "--all", "--at", "--class", "--help",
                                         "--json", "--pointer", "--title", "--window"]


def test_HelpVersionAndUnknownOption_AnswerWithoutDisplayOrMarker(root, tmp_path):
    runtime = tmp_path / "runtime"
    runtime.mkdir(mode=0o700)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(XDG_RUNTIME_DIR=str(runtime), XDG_CONFIG_HOME=str(tmp_path / "config"),
               QT_QPA_PLATFORM="xcb")
    exe = str(root / "bin" / "lumivore")

    done = run([exe, "--help"], env, timeout=10)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.startswith("Usage: lumivore [OPTION]\n")
    assert "--version" in done.stdout
    done = run([exe, "--version"], env, timeout=10)
    assert (done.returncode, done.stdout, done.stderr) == (0, f"lumivore {VERSION}\n", "")
    done = run([exe, "--no-such-option"], env, timeout=10)
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr.count("\n") == 1 and "--no-such-option" in done.stderr, done.stderr
    # Neither the single-instance marker nor the settings were touched.
    assert list(runtime.iterdir()) == []
    assert not (tmp_path / "config").exists()


class InstalledRun(Lumivore):
    """The installed executable run by an ordinary user: as root, the user "nobody" (root may
    write anywhere); otherwise the test's own user, for whom the program folder is read-only.
    Its home, configuration and runtime folders belong to that user."""

    def __init__(self, desktop, root, base):
        self.desktop = desktop
        self.exe = root / "bin" / "lumivore"
        self.folder = base
        self.config = base / "config"
        self.ini = self.config / "lumivore" / "lumivore.INI"
        self.procs = []
        folders = {name: base / name for name in ("home", "config", "runtime")}
        for folder in folders.values():
            folder.mkdir(mode=0o700)
            if os.geteuid() == 0:
                os.chown(folder, NOBODY, NOBODY)
        self.env = dict(desktop.env, HOME=str(folders["home"]), XDG_CONFIG_HOME=str(self.config),
                        XDG_RUNTIME_DIR=str(folders["runtime"]))
        self.prefix = (["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
                       if os.geteuid() == 0 else [])

    def start(self):
        proc = spawn(self.prefix + [str(self.exe)], self.env,
                     self.folder / f"lumivore-{len(self.procs)}.log")
        self.procs.append(proc)
        self.desktop.procs.append(proc)
        return proc


def capture_tool_centre(client):
    x, y, width, _ = client
    return (x + width - 1 - 40 + 20, y + 1 + 20)


def drag_title_bar(desktop, win, dx, dy):
    """Presses on the middle of the window's title bar, moves the pointer by (dx, dy) in steps,
    each once the window manager has followed the last, and releases."""
    x, y, width, _ = desktop.client_geometry(win)
    _, _, top, _ = desktop.frame_extents(win)
    start = (x + width // 2, y - top // 2)
    desktop.x("xdotool", "mousemove", str(start[0]), str(start[1]), "mousedown", "1")
    before = desktop.outer_geometry(win)
    for step in range(1, 5):
        px, py = start[0] + dx * step // 4, start[1] + dy * step // 4
        desktop.x("xdotool", "mousemove", str(px), str(py))
        wait_until(lambda: desktop.pointer() == (px, py), 3)
        # The first steps pass the window manager's drag threshold; from then on the window
        # follows the pointer.
        if step > 1:
            wanted = (before[0] + px - start[0], before[1] + py - start[1])
            wait_until(lambda: desktop.outer_geometry(win)[:2] == wanted, 3)
    desktop.x("xdotool", "mouseup", "1")


def test_InstalledCopy_ReadOnlyProgramFolder_KeepsThePlacementInTheUserConfigFolder(
        managed_desktop, root):
    desktop = managed_desktop
    base = Path(tempfile.mkdtemp(prefix="lumivore-user-"))
    os.chmod(base, 0o755)
    app = InstalledRun(desktop, root, base)
    try:
        proc = app.start()
        win = app.wait_window()
        assert app.wait_outer(win, CENTRED) == CENTRED
        # Start-up has settled once the pointer sits on the capture tool of the framed window.
        assert wait_until(lambda: desktop.pointer() ==
                          capture_tool_centre(desktop.client_geometry(win)), 5)
        # The configuration folder was made private, and the version recorded at once.
        assert app.ini.is_file()
        assert (app.config / "lumivore").stat().st_mode & 0o777 == 0o700

        drag_title_bar(desktop, win, -300, -200)
        moved = (CENTRED[0] - 300, CENTRED[1] - 200, 220, 240)
        assert app.wait_outer(win, moved) == moved
        # A message box left open would keep the program running.
        assert app.close_with_esc(proc, win) == 0
        assert (app.ini_value("General", "WinLeft"), app.ini_value("General", "WinTop")) == \
            (str(moved[0]), str(moved[1]))
        assert app.ini_value("General", "Version") == "".join(VERSION.split("."))[:3]
        assert sorted(p.name for p in (root / "bin").iterdir()) == ["lumivore"]

        proc = app.start()
        win = app.wait_window()
        assert app.wait_outer(win, moved) == moved
        assert desktop.wm_class(win)[1:] == [MAIN_CLASS]
        assert app.close_with_esc(proc, win) == 0
    finally:
        desktop.stop_clients()
        shutil.rmtree(base, ignore_errors=True)
