#!/usr/bin/env python3
"""Pillow's PNG encoder on each picture given: prints one line per picture,
"name<TAB>bytes<TAB>milliseconds", the time being the median processor time
of several saves into memory with Pillow's defaults (as a user's script would
save). The pictures are read as RGB, as a screenshot reaches an encoder."""
import io
import statistics
import sys
import time
from pathlib import Path

from PIL import Image


def measure(path, runs):
    with Image.open(path) as original:
        image = original.convert("RGB")
    image.load()
    times = []
    size = 0
    for _ in range(runs):
        buffer = io.BytesIO()
        start = time.process_time()
        image.save(buffer, "PNG")
        times.append(time.process_time() - start)
        size = buffer.tell()
    return size, statistics.median(times) * 1000


def main():
    runs = 5
    for arg in sys.argv[1:]:
        if arg.startswith("--runs="):
            runs = int(arg.split("=", 1)[1])
            continue
        size, ms = measure(arg, runs)
        print(f"{Path(arg).stem}\t{size}\t{ms:.2f}", flush=True)


if __name__ == "__main__":
    main()
