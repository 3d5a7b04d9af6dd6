"""The README's first command without a display: scripts/demo.sh shows Lumivore working in a
virtual display of its own and saves screenshots of it, with a copy of the built program."""
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def png_size(path):
    """Width and height from a PNG file's header."""
    data = Path(path).read_bytes()[:24]
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is no PNG"
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def test_demo_without_a_display_shows_lumivore_and_saves_screenshots(tmp_path):
    exe = os.environ.get("LUMIVORE_EXE")
    if not exe:
        pytest.fail("LUMIVORE_EXE must name the built lumivore executable")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["LUMIVORE_DEMO_DIR"] = str(tmp_path)
    done = subprocess.run(["bash", str(ROOT / "scripts" / "demo.sh"), exe], env=env,
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    for name in ("started", "window", "dragging", "captured"):
        shot = tmp_path / f"lumivore-{name}.png"
        assert str(shot) in done.stdout, f"the demo does not say where {shot.name} is"
        assert shot.exists()
    # The window's own screenshot holds at least Lumivore's smallest window, frame included.
    width, height = png_size(tmp_path / "lumivore-window.png")
    assert width >= 218 and height >= 200
