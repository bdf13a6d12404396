#!/usr/bin/env bash
# The running mixer's CPU share beside GStreamer doing the same job, in one run.
#   Talvor: the shipped layout (eleven streams in a 4x3 grid at alpha 0.8, the sensor overlay at 0.8): seven
#   capture-card inputs (the stand-in's moving test pictures) and four network cameras served over HTTP by
#   kavro-camera-sim, with the overlay drawn 25 times a second at most (the sensor delivers about 10 frames/s),
#   composed into its 720x576 window (Qt offscreen) 25 times a second. The whole process is measured.
#   GStreamer: gst_live_mix.sh from the reference folder, eleven live sources composed the same way (whole).
# Talvor runs in a network namespace of its own (root), so its UDP ports and cameras stay apart from anything
# else on the machine.
#   bench/mixer/talvor_bench.sh [--rounds R (3)] [--seconds S (20)] [--anchors DIR]
set -euo pipefail
rounds=3 secs=20 anchors=""
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --seconds) secs=$2; shift 2 ;;
    --anchors) anchors=$2; shift 2 ;;
    *) echo "usage: $0 [--rounds R] [--seconds S] [--anchors DIR]" >&2; exit 1 ;;
  esac
done
top=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "$anchors" ]; then
  for d in "$top/../shared/anchors" /work/shared/anchors; do
    if [ -f "$d/gst_live_mix.sh" ]; then anchors=$d; break; fi
  done
fi
[ -n "$anchors" ] && [ -f "$anchors/gst_live_mix.sh" ] || { echo "talvor_bench: gst_live_mix.sh not found" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "talvor_bench: needs root (network namespace)" >&2; exit 1; }
bin=$top/build/default/bin
for p in Talvor regsvr32 kavro-camera-sim; do
  [ -x "$bin/$p" ] || { echo "talvor_bench: build the default preset first ($p)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/kavro-talvor-bench-XXXXXX)
ns="kavro-bench-$$"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  ip netns delete "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$ns"
ip netns exec "$ns" ip link set lo up
export KAVRO_REGISTRY="$work/registry.xml" KAVRO_DRIVE_C="$work/drive_c"
for p in noir.ax Adlink.ax SenderJPEG.ax camIP.ax camIP2.ax camIP3.ax camIP4.ax capTelcar.ax; do
  "$bin/regsvr32" /s "$bin/$p"
done
mkdir -p "$work/configs"
ip netns exec "$ns" "$bin/kavro-camera-sim" --camera 127.0.0.21:8080 --camera 127.0.0.22:8080 \
  --camera 127.0.0.23:8080 --camera 127.0.0.24:8080 >/dev/null 2>&1 &
pids+=($!)

ticks() { awk '{print $14+$15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
share() { awk -v dt="$1" -v hz="$hz" -v s="$2" 'BEGIN { printf "%.1f", 100 * dt / hz / s }'; }

talvor_round() {
  cp "$top/configs/mixer/kavro.xml" "$work/configs/kavro_old.xml"
  (cd "$work" && exec env QT_QPA_PLATFORM=offscreen KAVRO_MESSAGE_BOXES=stderr KAVRO_SHUTDOWN_RECORD=shutdown.log \
    ip netns exec "$ns" "$bin/Talvor") >"$work/talvor.log" 2>&1 &
  local pid=$!
  sleep 2
  ip netns exec "$ns" bash -c 'printf "127 0 0 21 8080 2 127 0 0 22 8080 2 127 0 0 23 8080 2 127 0 0 24 8080 2" \
    >/dev/udp/127.0.0.1/10000'
  sleep 3 # cameras connected, steady state
  local t0 t1 s0 s1
  t0=$(ticks "$pid"); s0=$(date +%s%N)
  sleep "$secs"
  t1=$(ticks "$pid"); s1=$(date +%s%N)
  ip netns exec "$ns" bash -c 'printf -- "-1" >/dev/udp/127.0.0.1/7000'
  wait "$pid" || true
  share $((t1 - t0)) "$(awk -v ns=$((s1 - s0)) 'BEGIN { print ns / 1e9 }')"
}

printf "%-5s %12s %14s  %s\n" round "Talvor %" "GStreamer %" "load (1 min)"
declare -a ours theirs
for r in $(seq 1 "$rounds"); do
  l=$(cut -d' ' -f1 /proc/loadavg)
  o=$(talvor_round)
  g=$("$anchors/gst_live_mix.sh" "$secs" 11 | sed -n 's/.*: \([0-9.]*\) % of one core.*/\1/p')
  ours+=("$o"); theirs+=("$g")
  printf "%-5s %12s %14s  %s\n" "$r" "$o" "$g" "$l"
done
median() { printf "%s\n" "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
om=$(median "${ours[@]}"); gm=$(median "${theirs[@]}")
awk -v o="$om" -v g="$gm" 'BEGIN {
  printf "medians: Talvor %.1f %%, GStreamer %.1f %% of one core; ratio %.2f (target <= 0.5): %s\n", o, g, o / g,
         (o / g <= 0.5 ? "met" : "MISSED") }'
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
