"""Driver of run-handoff.sh: see there for what is measured."""
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

EXE, RUNS = sys.argv[1], int(sys.argv[2])
W, H = 3840, 2160
work = Path(tempfile.mkdtemp(prefix="lumivore-handoff-bench-"))
procs = []


def start(cmd, **kw):
    p = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, start_new_session=True, **kw)
    procs.append(p)
    return p


def stop(p):
    try:
        os.killpg(p.pid, signal.SIGTERM)
        p.wait(5)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        pass


def x(*cmd, data=None):
    return subprocess.run(cmd, env=env, input=data, capture_output=True, timeout=60).stdout


def wait(probe, timeout=30, interval=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(interval)
    raise SystemExit("timed out")


try:
    # The X server.
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                             f"{W}x{H}x24", "-nolisten", "tcp", "-noreset"],
                            pass_fds=(write_fd,), stderr=subprocess.DEVNULL,
                            start_new_session=True)
    procs.append(xvfb)
    os.close(write_fd)
    with os.fdopen(read_fd) as f:
        display_number = f.readline().strip()
    env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
    env.update(DISPLAY=":" + display_number, XDG_RUNTIME_DIR=str(work))

    # A screenshot-like picture: lines of text over white, a gradient band.
    text = x("ls", "-l", "/usr/bin").decode(errors="replace")[:60000]
    text = text.replace("%", "").replace("\\", "")  # ImageMagick escapes
    picture = work / "screen.png"
    subprocess.run(["convert", "-size", f"{W}x{H}", "xc:white",
                    "(", "-size", f"{W}x300", "gradient:#3060c0-#f0f0f0", ")",
                    "-geometry", f"+0+{H - 300}", "-composite", "-fill", "black",
                    "-pointsize", "14", "-annotate", "+10+20", text, str(picture)],
                   check=True, timeout=120)
    start(["display", "-geometry", "+0+0", "-title", "bench-picture", str(picture)])
    shown = wait(lambda: x("xdotool", "search", "--onlyvisible", "--name", "bench-picture").split())

    folder = work / "app"
    folder.mkdir()
    shutil.copy2(EXE, folder / "lumivore")
    typed = work / "typed"
    (folder / "lumivore.INI").write_text(
        "[General]\nWinLeft=100\nWinTop=100\nWinWidth=300\nWinHeight=200\n"
        "[OnCopy]\nActWndClass=BenchTarget\nSendKey=A,/A\n")
    start([str(folder / "lumivore")])
    main = wait(lambda: x("xdotool", "search", "--onlyvisible", "--class", "^TLumivoreForm$").split())[0]
    time.sleep(1.5)  # the first placement settles

    def client():
        out = x("xwininfo", "-id", main).decode()
        get = lambda k: int(out.split(k + ":")[1].split()[0])
        return get("Absolute upper-left X"), get("Absolute upper-left Y"), get("Width")

    cx, cy, cw = client()
    # Capture the picture window with the wand.
    tool = (cx + cw - 21, cy + 21)
    x("xdotool", "mousemove", str(tool[0]), str(tool[1]), "mousedown", "1")
    for step in range(1, 11):
        x("xdotool", "mousemove", str(tool[0] + (2000 - tool[0]) * step // 10),
          str(tool[1] + (1500 - tool[1]) * step // 10))
        time.sleep(0.05)
    time.sleep(0.5)
    x("xdotool", "mouseup", "1")
    time.sleep(3)
    cx, cy, cw = client()
    copy_button = (cx + 19, cy + 18)

    reader = ("import sys,time,tty,os;tty.setraw(0);os.read(0,1);"
              f"open('{typed}','w').write(repr(time.time()))")

    def key_latency(trigger):
        """Seconds from the trigger to the first key arriving in a fresh target xterm."""
        if typed.exists():
            typed.unlink()
        term = start(["xterm", "-class", "BenchTarget", "-geometry", "40x5+2000+100",
                      "-e", "python3", "-c", reader])
        win = wait(lambda: x("xdotool", "search", "--onlyvisible", "--class",
                             "^BenchTarget$").split())[0]
        time.sleep(0.3)  # the reader is waiting on its terminal
        began = time.time()
        trigger(win)
        wait(lambda: typed.exists() and typed.read_text())
        arrived = float(typed.read_text())
        stop(term)
        wait(lambda: not x("xdotool", "search", "--onlyvisible", "--class", "^BenchTarget$"))
        return arrived - began

    def copy_click(_win):
        x("xdotool", "mousemove", str(copy_button[0]), str(copy_button[1]), "click", "1")

    def xdotool_key(win):
        x("xdotool", "windowfocus", "--sync", win)
        x("xdotool", "key", "a")

    lumivore_keys = [key_latency(copy_click) for _ in range(RUNS)]
    xdotool_keys = [key_latency(xdotool_key) for _ in range(RUNS)]

    # Lumivore owns the clipboard now (the last copy above).
    def answer():
        began = time.perf_counter()
        data = x("xclip", "-selection", "clipboard", "-t", "image/png", "-o")
        return time.perf_counter() - began, data

    # The first request encodes the picture; later ones are answered from it.
    first = answer()
    ours = [answer() for _ in range(RUNS)]
    png = ours[-1][1]
    assert png.startswith(b"\x89PNG"), "the clipboard held no PNG"
    (work / "clip.png").write_bytes(png)
    identify = x("identify", "-format", "%w %h", str(work / "clip.png")).decode()
    xclip_owner = start(["xclip", "-selection", "clipboard", "-t", "image/png", "-i",
                         str(work / "clip.png")])
    wait(lambda: answer()[1] == png)
    theirs = [answer() for _ in range(RUNS)]
    stop(xclip_owner)

    ms = lambda values: statistics.median(values) * 1000
    print(f"picture {identify}, PNG on the clipboard {len(png) / 1e6:.2f} MB "
          f"(ImageMagick's file of the same picture: {picture.stat().st_size / 1e6:.2f} MB)")
    print(f"{'measure':52} {'median ms':>10} {'min':>8} {'max':>8}")
    rows = [
        ("copy click -> first key in target (Lumivore)", lumivore_keys),
        ("xdotool key -> key in target (peer)", xdotool_keys),
        ("image/png first answer (encodes), Lumivore owning", [first[0]]),
        ("image/png answer, Lumivore owning", [t for t, _ in ours]),
        ("image/png answer, xclip -i owning (peer)", [t for t, _ in theirs]),
    ]
    for name, values in rows:
        print(f"{name:52} {ms(values):10.1f} {min(values) * 1000:8.1f} {max(values) * 1000:8.1f}")
finally:
    for p in reversed(procs):
        stop(p)
    shutil.rmtree(work, ignore_errors=True)
