#!/usr/bin/env bash
# "lumivore capture" against the tools people script for the same job, side by
# side in one run: in a private Xvfb (1920 x 1080, no window manager), one
# window of exactly 1920 x 1080 shows a real screenshot (bench/corpus), and
# each command writes that window to a PNG file, N times under hyperfine.
# Whole-process time (start to exit): median and p90, and the file's size.
#   bench/run-cli.sh [EXECUTABLE] [N]   (defaults: build/lumivore, 30)
# Needs hyperfine, maim, scrot and imagemagick (scripts/deps.sh test).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe="$(realpath "${1:-$root/build/lumivore}")"
runs="${2:-30}"
[ -x "$exe" ] || { echo "no executable at $exe (build first)" >&2; exit 1; }
for tool in hyperfine maim scrot import display xdotool python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/deps.sh test)" >&2; exit 1; }
done

source "$root/bench/x-session.sh"
start_x_session 1920x1080x24 no-wm

# The target: a window of exactly the screen's size at its corner, holding a
# screenshot of real clients (text, icons, gradients).
display -borderwidth 0 -geometry 1920x1080+0+0 "$root/bench/corpus/clients.png" >"$work/display.log" 2>&1 &
pids+=($!)
win=""
size=""
for _ in $(seq 200); do
  win=$(xdotool search --onlyvisible --class '^Display' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && size=$(xwininfo -id "$win" |
    awk '/ Width:/ { w = $2 } / Height:/ { h = $2 } END { print w "x" h }')
  [ "$size" = 1920x1080 ] && break
  sleep 0.05
done
[ "$size" = 1920x1080 ] || { echo "the target window is ${size:-missing}, not 1920x1080" >&2; exit 1; }
xdotool windowfocus --sync "$win"
# Lumivore's copy keeps no settings beside the built one.
cp "$exe" "$work/lumivore"
sleep 0.5

names=(
  "lumivore capture --window"
  "lumivore capture -o - (pipe)"
  "maim -i"
  "import -window"
  "scrot -u (focused window)"
)
commands=(
  "$work/lumivore capture --window $win -o $work/lumivore.png"
  "$work/lumivore capture --window $win -o - | cat > $work/lumivore-pipe.png"
  "maim -i $win $work/maim.png"
  "import -window $win $work/import.png"
  "scrot -o -u $work/scrot.png"
)
files=(lumivore.png lumivore-pipe.png maim.png import.png scrot.png)

for i in "${!commands[@]}"; do
  hyperfine --style none --warmup 3 --runs "$runs" --export-json "$work/run$i.json" \
    "${commands[$i]}" >/dev/null 2>"$work/hyperfine$i.log" || {
    echo "${names[$i]} failed:" >&2
    cat "$work/hyperfine$i.log" >&2
    exit 1
  }
done

python3 - "$work" "$runs" "${names[@]}" -- "${files[@]}" <<'EOF'
import json, os, sys
work, runs = sys.argv[1], int(sys.argv[2])
rest = sys.argv[3:]
split = rest.index("--")
names, files = rest[:split], rest[split + 1:]
print(f"1920 x 1080 window to a PNG file, {runs} runs each, whole process (hyperfine)")
print(f"{'command':32} {'median ms':>10} {'p90 ms':>8} {'file bytes':>11}")
medians, sizes = [], []
for i, (name, file) in enumerate(zip(names, files)):
    times = sorted(t * 1000 for t in json.load(open(f"{work}/run{i}.json"))["results"][0]["times"])
    n = len(times)
    median = times[n // 2] if n % 2 else (times[n // 2 - 1] + times[n // 2]) / 2
    p90 = times[min(n - 1, -(-9 * n // 10) - 1)]
    size = os.path.getsize(f"{work}/{file}")
    medians.append(median)
    sizes.append(size)
    print(f"{name:32} {median:10.1f} {p90:8.1f} {size:11d}")
# The goal: at most half the time of maim -i and of import -window, in a file no larger than
# theirs; into a pipe no slower than into a file.
print(f"lumivore / maim -i (median):        {medians[0] / medians[2]:.2f}  (goal: at most 0.5)")
print(f"lumivore / import -window (median): {medians[0] / medians[3]:.2f}  (goal: at most 0.5)")
print(f"pipe / file (median):               {medians[1] / medians[0]:.2f}  (goal: at most 1)")
print(f"file no larger than maim's and import's: {sizes[0] <= min(sizes[2], sizes[3])}")
EOF
# The pictures are the same window: every tool must have read the same pixels.
ref=$(convert "$work/import.png" -depth 8 rgb:- | md5sum)
for f in lumivore.png lumivore-pipe.png maim.png scrot.png; do
  [ "$(convert "$work/$f" -depth 8 rgb:- | md5sum)" = "$ref" ] || echo "note: $f differs from import's picture"
done
