#!/usr/bin/env bash
# The console's composite view live, measured beside GStreamer doing the same job in the same run: eight panes
# (the capture card's four inputs and four simulated network cameras, MJPEG over HTTP, decoded) mixed over black
# with the sensor overlay at alpha 0.8, 25 pictures a second into a window on a virtual 1280x1024 desktop (Xvfb
# with openbox). Ours: the whole InterfaceKAVRO process in its "KAVRO" view. GStreamer: four videotestsrc,
# four souphttpsrc ! multipartdemux ! jpegdec from the same camera simulator, an overlay source at alpha 0.8,
# compositor into ximagesink. Each side's CPU share of one core over the same number of seconds, alternating
# rounds; the verdict uses the medians (target: ours at most half of GStreamer's).
#   bench/console/composite_bench.sh [--rounds 3] [--seconds 15]
set -euo pipefail
# Figures are written and read with a decimal point whatever the desktop's locale (awk follows it).
export LC_ALL=C
cd "$(dirname "$0")/../.."
root="$PWD"
rounds=3
secs=15
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds="$2"; shift 2 ;;
    --seconds) secs="$2"; shift 2 ;;
    *) echo "usage: $0 [--rounds N] [--seconds S]" >&2; exit 2 ;;
  esac
done
bindir="$root/build/default/bin"
for b in InterfaceKAVRO regsvr32 reg kavro-camera-sim; do
  [ -x "$bindir/$b" ] || { echo "composite_bench: build the default preset first ($b)" >&2; exit 1; }
done
command -v xdotool >/dev/null || { echo "composite_bench: needs xdotool (scripts/install-deps)" >&2; exit 1; }
command -v gst-launch-1.0 >/dev/null && gst-inspect-1.0 ximagesink >/dev/null 2>&1 ||
  { echo "composite_bench: needs gstreamer1.0-tools and gstreamer1.0-x" >&2; exit 1; }

work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=92
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
unset QT_QPA_PLATFORM
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.05; done
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

export KAVRO_REGISTRY="$work/registry.xml" KAVRO_DRIVE_C="$work/drive_c"
mkdir -p "$KAVRO_DRIVE_C" "$work/install/Images" "$work/configs"
cp "$root/filters/mesh/Images/mesh.ppm" "$work/install/Images/"
"$bindir/reg" add 'HKLM\SOFTWARE\KAVRO' /v Installation /d "$work/install/" /f
for plugin in noir.ax capTelcar.ax Mesh.ax WinGraphviz.dll Adlink.ax camIP.ax camIP2.ax camIP3.ax camIP4.ax \
              JPEG_Receiver.ax VitaminCtrl.dll; do
  "$bindir/regsvr32" /s "$bindir/$plugin"
done
# The cameras where the shipped settings look for them.
"$bindir/kavro-camera-sim" --camera 127.0.0.21:8080 --camera 127.0.0.22:8080 --camera 127.0.0.23:8080 \
  --camera 127.0.0.24:8080 >/dev/null 2>&1 &
pids+=($!)
sleep 1

hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# CPU share (% of one core) of process $1 over $secs seconds.
measure() {
  local t0 s0 t1 s1
  t0=$(cpu_ticks "$1"); s0=$(date +%s%N)
  sleep "$secs"
  t1=$(cpu_ticks "$1"); s1=$(date +%s%N)
  awk -v dt=$((t1 - t0)) -v hz="$hz" -v ns=$((s1 - s0)) 'BEGIN { printf "%.1f", 100 * dt / hz / (ns / 1e9) }'
}

# Eight panes in a 4x2 grid, every one shown, and the overlay at 0.8 (sensor settings all 0).
layout() {
  local msg="2" k
  for k in 0 1 2 3; do msg="$msg $(awk -v k=$k 'BEGIN{printf "%g 0 %g 0.5 1 %d", k/4, (k+1)/4, k}')"; done
  for k in $(seq 25 48); do msg="$msg 0"; done
  for k in 0 1 2 3; do msg="$msg $(awk -v k=$k 'BEGIN{printf "%g 0.5 %g 1 1 %d", k/4, (k+1)/4, k+4}')"; done
  msg="$msg 0.8"
  for k in $(seq 1 48); do msg="$msg 0"; done
  printf '%s' "$msg"
}

ours_round() {
  rm -rf "$work/run" && mkdir -p "$work/run/configs" && cp "$root"/configs/*.xml "$work/run/configs/"
  (cd "$work/run" && exec "$bindir/InterfaceKAVRO") >"$work/console.log" 2>&1 &
  local pid=$!
  for _ in $(seq 600); do
    xwininfo -root -tree 2>/dev/null | grep -q 'Interface KAVRO' && break
    sleep 0.05
  done
  sleep 2
  xdotool mousemove 1099 53 click 1   # "KAVRO"
  sleep 1
  layout >/dev/udp/127.0.0.1/7000
  sleep 3
  measure "$pid"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

gst_round() {
  local pads="" srcs="" k x y
  for k in 0 1 2 3 4 5 6 7; do
    x=$(( (k % 4) * 192 )); y=$(( (k / 4) * 288 ))
    pads="$pads sink_$k::xpos=$x sink_$k::ypos=$y sink_$k::width=192 sink_$k::height=288"
  done
  pads="$pads sink_8::xpos=0 sink_8::ypos=0 sink_8::width=768 sink_8::height=576 sink_8::alpha=0.8"
  for k in 0 1 2 3; do
    srcs="$srcs videotestsrc is-live=true pattern=smpte ! video/x-raw,width=768,height=576,framerate=25/1 ! mix.sink_$k"
  done
  for k in 1 2 3 4; do
    srcs="$srcs souphttpsrc location=http://127.0.0.2$k:8080/zoom.mjpg is-live=true do-timestamp=true ! multipartdemux ! jpegdec ! queue ! mix.sink_$((k + 3))"
  done
  srcs="$srcs videotestsrc is-live=true pattern=ball background-color=0 ! video/x-raw,format=BGRA,width=768,height=576,framerate=10/1 ! mix.sink_8"
  gst-launch-1.0 -q compositor name=mix background=black $pads ! video/x-raw,width=768,height=576,framerate=25/1 \
    ! videoconvert ! ximagesink sync=true $srcs >/dev/null 2>&1 &
  local pid=$!
  sleep 3
  measure "$pid"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

ours=(); gst=()
for r in $(seq "$rounds"); do
  o=$(ours_round); g=$(gst_round)
  load=$(cut -d' ' -f1 /proc/loadavg)
  echo "round $r: ours $o % of one core, GStreamer $g % (load average $load)"
  ours+=("$o"); gst+=("$g")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
mo=$(median "${ours[@]}"); mg=$(median "${gst[@]}")
awk -v o="$mo" -v g="$mg" 'BEGIN { printf "medians: ours %.1f %%, GStreamer %.1f %%: ours / GStreamer = %.2f (target <= 0.5): %s\n", o, g, o / g, (o / g <= 0.5 ? "met" : "MISSED") }'
