# Sourced by the benchmarks: starts a private Xvfb (1920 x 1080, 24 bits),
# adds its process to the array `pids`, and exports DISPLAY and
# XDG_RUNTIME_DIR (the folder $work) for it; the environment's Qt platform
# choices are dropped. Needs $work and the array `pids` set.
start_xvfb() {
  exec 3<> "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  local num=""
  for _ in $(seq 200); do
    num=$(head -n1 "$work/displayfd" 2>/dev/null || true)
    [ -n "$num" ] && break
    sleep 0.05
  done
  [ -n "$num" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$num" XDG_RUNTIME_DIR="$work"
  unset QT_QPA_PLATFORM LUMIVORE_PLATFORM
}
