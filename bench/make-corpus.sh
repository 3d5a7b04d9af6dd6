#!/usr/bin/env bash
# Makes the screenshot corpus of the imaging benchmark and of the PNG
# round-trip test: real X clients on a private Xvfb with openbox, grabbed from
# the X server by ImageMagick's `import`. Nothing here draws pixels itself.
#   make-corpus.sh [output folder] [lumivore executable]
# Defaults: bench/corpus and build/lumivore; the photo comes from the image
# suites in $LUMIVORE_TESTDATA (default ../shared/testdata). Each scene gives
# one PNG:
#   terminals.png   1920x1080: six xterms (bitmap and anti-aliased fonts) listing
#                   files, xclock, xlogo
#   clients.png     1920x1080: xeyes, xclock, xlogo, a terminal, a photo in `display`
#   lumivore.png    1920x1080: Lumivore's window with its popup menu and a submenu open
#   dialog.png      1920x1080: Lumivore's colour dialog (a Qt widget dialog)
#   plain.png       1920x1080: xterms with bitmap fonts, xclock, a smooth xlogo, no window
#                   manager (at most 256 colours)
#   grey.png        1920x1080: the same kind in black and white on a grey root
#   photo.png       1280x800:  a photo shown by `display`, filling most of the screen
#   desktop4k.png   3840x2160: terminals, clocks, eyes, a photo and Lumivore together
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-bench/corpus}")"
exe="$(realpath "${2:-build/lumivore}")"
# The photo: the IJG test picture from the third-party image suites.
photo="$(realpath -m "${LUMIVORE_TESTDATA:-../shared/testdata}/jpeg/testorig.jpg")"
[ -x "$exe" ] || { echo "no Lumivore executable at $exe (build it first)" >&2; exit 1; }
[ -f "$photo" ] || { echo "no photo at $photo" >&2; exit 1; }
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -- "-$p" 2>/dev/null || kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a process in a group of its own, so that it and its children can be ended.
start() {
  setsid "$@" >>"$work/clients.log" 2>&1 &
  pids+=($!)
}

# waitfor <seconds> <xdotool search arguments...>: the first matching visible window.
waitfor() {
  local limit=$1 win=""
  shift
  for _ in $(seq $((limit * 10))); do
    win=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && { echo "$win"; return 0; }
    sleep 0.1
  done
  echo "window did not appear: $*" >&2
  return 1
}

# Waits until two grabs of the whole screen agree (clients finished drawing),
# then keeps that grab.
grab() {
  local name=$1 previous="" current
  sleep 0.5
  for _ in $(seq 40); do
    current=$(xwd -root -silent | md5sum)
    [ "$current" = "$previous" ] && break
    previous=$current
    sleep 0.25
  done
  import -window root -strip "$out/$name.png"
  echo "$out/$name.png: $(identify -format '%wx%h, %k colours' "$out/$name.png")"
}

# desktop <width>x<height> <background> [bare]: a fresh X server, with openbox
# unless "bare" is given.
desktop() {
  for p in "${pids[@]}"; do kill -- "-$p" 2>/dev/null || kill "$p" 2>/dev/null || true; done
  pids=()
  sleep 0.3
  # A display number of its own, far from those that other servers on this
  # machine take first; a number that is in use makes Xvfb exit at once.
  local num="" pid
  for _ in $(seq 20); do
    num=$((200 + RANDOM % 700))
    setsid Xvfb ":$num" -screen 0 "$1x24" -nolisten tcp >>"$work/xvfb.log" 2>&1 &
    pid=$!
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      xdpyinfo -display ":$num" >/dev/null 2>&1 && break
      sleep 0.1
    done
    sleep 0.3
    if kill -0 "$pid" 2>/dev/null && xdpyinfo -display ":$num" >/dev/null 2>&1; then
      pids+=("$pid")
      break
    fi
    kill "$pid" 2>/dev/null || true
    num=""
  done
  [ -n "$num" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$num"
  unset QT_QPA_PLATFORM
  if [ "${3:-}" != bare ]; then
    start openbox
    local managed=""
    for _ in $(seq 300); do
      managed=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null || true)
      [[ $managed == *window* ]] && break
      sleep 0.1
    done
    [[ $managed == *window* ]] || { echo "openbox did not start" >&2; exit 1; }
  fi
  if [ "$2" = gray ]; then xsetroot -gray; else xsetroot -solid "$2"; fi
}

listing_xterm() {  # geometry, font options, command
  local geometry=$1 font=$2
  shift 2
  # shellcheck disable=SC2086
  start xterm -geometry "$geometry" $font -e sh -c "$*; exec sleep 600"
}

# Starts a private copy of Lumivore (its settings file lives beside it).
lumivore() {
  mkdir -p "$work/app"
  cp "$exe" "$work/app/lumivore"
  start "$work/app/lumivore"
}

# ---------------------------------------------------------------- scenes

desktop 1920x1080 '#2e5a7c'
aa="-fa Monospace -fs 10"
listing_xterm 90x30+10+10 "" "ls -l /usr/bin | head -40"
listing_xterm 90x30+620+10 "$aa" "ls -l --color=always /usr/lib | head -40"
listing_xterm 80x25+1280+10 "$aa" "ls -la --color=always /etc | head -40"
listing_xterm 90x28+10+560 "-bg #fdf6e3 -fg #333333 $aa" "ls -l /usr/share | head -40"
listing_xterm 90x28+620+560 "" "ls -lR /usr/include/X11 | head -60"
listing_xterm 70x20+1280+480 "-bg black -fg #33ff66 $aa" "ls -l /var/lib | head -40"
start xclock -geometry 200x200+1680+820
start xlogo -geometry 200x200+1440+840
waitfor 10 --class '^XClock$' >/dev/null
waitfor 10 --class '^XLogo$' >/dev/null
grab terminals

desktop 1920x1080 '#3b4252'
start xeyes -geometry 300x200+40+40
start xclock -render -update 1 -geometry 220x220+380+30
start xlogo -render -geometry 200x200+640+40
listing_xterm 100x35+40+300 "$aa" "ls -l --color=always /usr/share/doc | head -60"
start display -geometry +900+60 -resize 400% "$photo"
waitfor 10 --class '^XEyes$' >/dev/null
waitfor 10 --name '^ImageMagick' >/dev/null
grab clients

desktop 1920x1080 '#476e8e'
listing_xterm 100x40+700+100 "$aa" "ls -l --color=always /usr/bin | head -60"
lumivore
win=$(waitfor 20 --class '^TLumivoreForm$')
xdotool windowactivate --sync "$win" windowmove --sync "$win" 200 150
# The menu button is the third of the tool bar's 33-pixel buttons.
xdotool mousemove --window "$win" 85 17 click 1
sleep 0.5
xdotool key v
grab lumivore
# The submenu's background colour entry opens the colour dialog.
xdotool key b
waitfor 10 --name 'Select Colo|色の選択' >/dev/null
grab dialog

desktop 1920x1080 '#5f7f9f' bare
listing_xterm 100x40+20+20 "" "ls -l /usr/bin | head -60"
listing_xterm 100x40+700+20 "-bg #ffffdd" "ls -l /usr/lib | head -60"
start xclock -norender -geometry 200x200+1500+40
start xlogo -render -fg navy -geometry 200x200+1500+300
listing_xterm 80x20+300+700 "-bg #000080 -fg yellow" "ls -l /etc | head -40"
waitfor 10 --class '^XLogo$' >/dev/null
grab plain

desktop 1920x1080 gray bare
listing_xterm 100x40+20+20 "" "ls -l /usr/bin | head -60"
listing_xterm 90x30+760+300 "-bg #c0c0c0" "ls -l /usr/share | head -60"
start xclock -geometry 200x200+1600+40
start xlogo -geometry 250x250+1550+600
waitfor 10 --class '^XLogo$' >/dev/null
grab grey

desktop 1280x800 '#202020'
start display -geometry +40+20 -resize 1200x760 "$photo"
waitfor 10 --name '^ImageMagick' >/dev/null
grab photo

desktop 3840x2160 '#35516b'
listing_xterm 120x50+20+20 "$aa" "ls -l --color=always /usr/bin | head -80"
listing_xterm 120x50+1000+20 "" "ls -lR /usr/include | head -80"
listing_xterm 100x45+1860+20 "-bg #fdf6e3 -fg #333333 $aa" "ls -l /usr/share | head -80"
listing_xterm 120x40+20+1100 "-bg black -fg #33ff66 $aa" "ls -la /etc | head -60"
start xclock -render -geometry 300x300+3400+40
start xeyes -geometry 400x260+3350+400
start xlogo -render -geometry 300x300+3450+700
start display -geometry +1100+1100 -resize 300% "$photo"
waitfor 10 --name '^ImageMagick' >/dev/null
lumivore
win=$(waitfor 20 --class '^TLumivoreForm$')
xdotool windowactivate --sync "$win" windowmove --sync "$win" 2600 1200
grab desktop4k
