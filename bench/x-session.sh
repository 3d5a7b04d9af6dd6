# Sourced by the benchmarks that need a throwaway X server. Gives `work`, a
# scratch folder, and stops everything started here (and whatever the caller
# adds to `pids`) when the script exits.
#   start_x_session WIDTHxHEIGHTxDEPTH [no-wm]   Xvfb, with openbox unless
#                                                told not; exports DISPLAY
#   start_xterm CLASS [xterm arguments]  an xterm of that class, drawn
work="$(mktemp -d)"
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_x_session() {
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  unset LUMIVORE_PLATFORM
  export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
  export DISPLAY=":$(head -n1 "$work/display")"
  [ "${2:-}" = no-wm ] && return
  openbox --sm-disable >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q '#' && break
    sleep 0.05
  done
}

start_xterm() {
  local class="$1"
  shift
  xterm -class "$class" "$@" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do xdotool search --class "$class" >/dev/null 2>&1 && break; sleep 0.05; done
  sleep 1  # let it draw and settle
}
