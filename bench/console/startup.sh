#!/usr/bin/env bash
# Start-up time of InterfaceKAVRO: from starting the process to its operator window shown (mapped and
# viewable) on a virtual 1280x1024 desktop (Xvfb with openbox). Each run starts in a fresh working folder with
# the shipped configs/. Beside each time, the processor time the console and its helper processes (the browser
# engine's) had used when the window was shown, which a loaded machine disturbs less than the time.
#   bench/console/startup.sh [RUNS]      default 10 runs; prints each time and the medians
set -euo pipefail
cd "$(dirname "$0")/../.."
root="$PWD"
runs="${1:-10}"
bin="${KAVRO_CONSOLE_BIN:-$root/build/default/bin/InterfaceKAVRO}"
[ -x "$bin" ] || { echo "startup.sh: build InterfaceKAVRO first (cmake --build --preset default)" >&2; exit 1; }

work="$(mktemp -d)"
xvfb_pid=""
wm_pid=""
console_pid=""
cleanup() {
  for p in "$console_pid" "$wm_pid" "$xvfb_pid"; do [ -n "$p" ] && kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=91
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
unset QT_QPA_PLATFORM
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.05; done
if command -v openbox >/dev/null; then
  openbox --sm-disable >/dev/null 2>&1 &
  wm_pid=$!
  sleep 0.5
fi

# A network namespace of its own, so that a console running elsewhere on this host does not refuse the start.
isolate=""
if unshare -rn true 2>/dev/null; then isolate="unshare -rn"; fi

shown() { xwininfo -name "Interface KAVRO v3.0" 2>/dev/null | grep -q 'Map State: IsViewable'; }

hz=$(getconf CLK_TCK)
# Processor time (ms) used so far by process $1 and every process under it.
tree_cpu_ms() {
  local ticks=0 p
  for p in $1 $(pgrep -P "$1" 2>/dev/null); do
    [ "$p" = "$1" ] || { ticks=$((ticks + $(tree_cpu_ms "$p") * hz / 1000)); continue; }
    ticks=$((ticks + $(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null || echo 0)))
  done
  echo $((ticks * 1000 / hz))
}

times=()
cpus=()
for i in $(seq "$runs"); do
  dir="$work/run$i"
  mkdir -p "$dir/configs"
  cp "$root"/configs/*.xml "$dir/configs/"
  start=$(date +%s%N)
  (cd "$dir" && exec $isolate "$bin") >"$dir/console.log" 2>&1 &
  console_pid=$!
  until shown; do
    kill -0 "$console_pid" 2>/dev/null || { cat "$dir/console.log" >&2; exit 1; }
    [ $(( ($(date +%s%N) - start) / 1000000 )) -lt 10000 ] || { echo "startup.sh: no window after 10 s" >&2; exit 1; }
    sleep 0.01  # leave the processor to the console between probes
  done
  end=$(date +%s%N)
  cpu=$(tree_cpu_ms "$console_pid")
  kill "$console_pid"
  wait "$console_pid" 2>/dev/null || true
  console_pid=""
  ms=$(( (end - start) / 1000000 ))
  times+=("$ms")
  cpus+=("$cpu")
  echo "run $i: ${ms} ms (processor ${cpu} ms)"
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
cpu_sorted=($(printf '%s\n' "${cpus[@]}" | sort -n))
echo "start-up to shown window: median ${sorted[$(( ${#sorted[@]} / 2 ))]} ms, min ${sorted[0]} ms, max ${sorted[-1]} ms;" \
  "processor time median ${cpu_sorted[$(( ${#cpu_sorted[@]} / 2 ))]} ms (${runs} runs, load average $(cut -d' ' -f1 /proc/loadavg))"
