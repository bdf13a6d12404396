#!/usr/bin/env bash
# The running mixer's CPU share beside GStreamer doing the same job, in the same run (one side after the
# other in each round, each side's whole process measured).
#
# The job, the same on both sides:
#   - seven live 768x576 capture inputs at 25/s. Talvor: the capture card stand-in's test card (a copy of a
#     kept picture plus a running clock); GStreamer: videotestsrc pattern=ball, as the reference pipeline
#     gst_live_mix.sh (a dearer picture: see the other ratios below);
#   - four network cameras, MJPEG over HTTP from the same kavro-camera-sim (768x576, 25/s), decoded;
#   - the eleven streams bilinear-scaled into a 4x3 grid at alpha 0.8 over black, 720x576, 25 pictures/s;
#   - a full-picture overlay at alpha 0.8, about 10 pictures/s. Talvor: the sensor filter's picture, black
#     keyed out; GStreamer: a 10/s test picture blended whole (its compositor takes no keyed input in this
#     output format), so GStreamer skips the key pass;
#   - the mixer's output scaled to 768x576 and JPEG-encoded (quality 75) 25 times a second. Talvor: its
#     return input (capture input 8, the shown picture) into the network sender, encoded for every picture
#     whether or not a viewer is connected (no viewer is); GStreamer: a tee after the compositor, videoscale
#     and jpegenc.
#   Talvor also hands each picture to its window (Qt offscreen); GStreamer's picture goes to a fakesink.
# Reported per round: each side's CPU share of one core; within Talvor, the share of its seven capture inputs'
# threads (named "adlink input"); the pictures per second GStreamer composed (a side that falls behind does less
# work); and GStreamer's seven test sources alone (a pipeline of their own, just after). Medians of the rounds
# give the ratio Talvor / GStreamer (target <= 0.5), the same without either side's test pictures (the
# comparison of everything else), and the strictest: Talvor whole against GStreamer without its test sources.
# Talvor and both pipelines run in a network namespace of their own (root), beside the camera simulator.
#   bench/mixer/talvor_bench.sh [--rounds R (3)] [--seconds S (20)]
set -euo pipefail
# Figures are written and read with a decimal point whatever the desktop's locale (awk follows it).
export LC_ALL=C
rounds=3 secs=20
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --seconds) secs=$2; shift 2 ;;
    *) echo "usage: $0 [--rounds R] [--seconds S]" >&2; exit 1 ;;
  esac
done
top=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "talvor_bench: needs root (network namespace)" >&2; exit 1; }
command -v gst-launch-1.0 >/dev/null || { echo "talvor_bench: gst-launch-1.0 missing (scripts/install-deps)" >&2; exit 1; }
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
cams=(127.0.0.21 127.0.0.22 127.0.0.23 127.0.0.24)
ip netns exec "$ns" "$bin/kavro-camera-sim" --camera "${cams[0]}:8080" --camera "${cams[1]}:8080" \
  --camera "${cams[2]}:8080" --camera "${cams[3]}:8080" >/dev/null 2>&1 &
pids+=($!)

ticks() { awk '{print $14+$15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
# share TICKS NANOSECONDS: CPU share of one core in per cent.
share() { awk -v dt="$1" -v hz="$hz" -v ns="$2" 'BEGIN { printf "%.1f", 100 * dt / hz / (ns / 1e9) }'; }

# named_ticks PID NAME: CPU ticks so far of the process's threads called NAME.
named_ticks() {
  local t sum=0
  for t in /proc/"$1"/task/*; do
    [ "$(cat "$t/comm" 2>/dev/null)" = "$2" ] && sum=$((sum + $(awk '{print $14+$15}' "$t/stat" 2>/dev/null || echo 0)))
  done
  echo "$sum"
}

# talvor_round: prints "<whole share> <share of its seven capture inputs' threads>".
talvor_round() {
  cp "$top/configs/mixer/kavro.xml" "$work/configs/kavro_old.xml"
  (cd "$work" && exec env QT_QPA_PLATFORM=offscreen KAVRO_MESSAGE_BOXES=stderr KAVRO_SHUTDOWN_RECORD=shutdown.log \
    ip netns exec "$ns" "$bin/Talvor") >"$work/talvor.log" 2>&1 &
  local pid=$!
  sleep 2
  ip netns exec "$ns" bash -c "printf '127 0 0 21 8080 2 127 0 0 22 8080 2 127 0 0 23 8080 2 127 0 0 24 8080 2' \
    >/dev/udp/127.0.0.1/10000"
  local t0 t1 s0 s1 c0 c1
  sleep 3
  t0=$(ticks "$pid"); c0=$(named_ticks "$pid" "adlink input"); s0=$(date +%s%N)
  sleep "$secs"
  t1=$(ticks "$pid"); c1=$(named_ticks "$pid" "adlink input"); s1=$(date +%s%N)
  ip netns exec "$ns" bash -c 'printf -- "-1" >/dev/udp/127.0.0.1/7000'
  wait "$pid" || true
  echo "$(share $((t1 - t0)) $((s1 - s0))) $(share $((c1 - c0)) $((s1 - s0)))"
}

W=720 H=576
capture="video/x-raw,format=BGRx,width=768,height=576,framerate=25/1"
gst_job() {
  local cw=$((W / 4)) ch=$((H / 3)) pads="" srcs="" i x y
  for i in $(seq 0 10); do
    x=$(( (i % 4) * cw )); y=$(( (i / 4) * ch ))
    pads="$pads sink_$i::xpos=$x sink_$i::ypos=$y sink_$i::width=$cw sink_$i::height=$ch sink_$i::alpha=0.8"
  done
  pads="$pads sink_11::xpos=0 sink_11::ypos=0 sink_11::width=$W sink_11::height=$H sink_11::alpha=0.8"
  for i in $(seq 0 6); do srcs="$srcs videotestsrc is-live=true pattern=ball ! $capture ! queue ! mix.sink_$i"; done
  for i in 0 1 2 3; do
    srcs="$srcs souphttpsrc is-live=true do-timestamp=true location=http://${cams[$i]}:8080/video.mjpg"
    srcs="$srcs ! multipartdemux ! jpegdec ! videoconvert ! video/x-raw,format=BGRx ! queue ! mix.sink_$((7 + i))"
  done
  srcs="$srcs videotestsrc is-live=true pattern=ball ! video/x-raw,format=BGRx,width=768,height=576,framerate=10/1"
  srcs="$srcs ! queue ! mix.sink_11"
  echo "compositor name=mix background=black $pads ! video/x-raw,format=BGRx,width=$W,height=$H,framerate=25/1"
  echo " ! tee name=t t. ! queue ! fakesink name=shown sync=true silent=false"
  echo " t. ! queue leaky=downstream max-size-buffers=2 ! videoscale method=nearest-neighbour"
  echo " ! video/x-raw,width=768,height=576 ! jpegenc quality=75 ! fakesink sync=false $srcs"
}
gst_sources() {
  local i p=""
  for i in $(seq 0 6); do p="$p videotestsrc is-live=true pattern=ball ! $capture ! fakesink sync=true"; done
  echo "$p"
}
# gst_round PIPELINE: prints "<share> <pictures per second>" (pictures counted at the sink named "shown", when
# there is one).
gst_round() {
  # shellcheck disable=SC2046
  ip netns exec "$ns" gst-launch-1.0 -v $1 >"$work/gst.log" 2>&1 &
  local pid=$!
  sleep 1
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "talvor_bench: GStreamer stopped:" >&2; grep -m3 -iE "error|erroneous" "$work/gst.log" >&2 || true
    echo "- -"; return
  fi
  local t0 t1 s0 s1 c0 c1
  sleep 2
  t0=$(ticks "$pid"); s0=$(date +%s%N); c0=$(grep -c "(shown:sink)" "$work/gst.log" || true)
  sleep "$secs"
  t1=$(ticks "$pid"); s1=$(date +%s%N); c1=$(grep -c "(shown:sink)" "$work/gst.log" || true)
  kill "$pid"; wait "$pid" 2>/dev/null || true
  local fps="-"
  [ "$c1" -gt 0 ] && fps=$(awk -v c=$((c1 - c0)) -v ns=$((s1 - s0)) 'BEGIN { printf "%.1f", c / (ns / 1e9) }')
  echo "$(share $((t1 - t0)) $((s1 - s0))) $fps"
}

printf "%-5s %9s %14s %12s %12s %14s  %s\n" round "Talvor %" "its sources %" "GStreamer %" "GSt pict/s" \
  "its sources %" "load (1 min)"
declare -a ours ours_sources theirs sources
for r in $(seq 1 "$rounds"); do
  l=$(cut -d' ' -f1 /proc/loadavg)
  read -r o os < <(talvor_round)
  read -r g f < <(gst_round "$(gst_job)")
  read -r gs _ < <(gst_round "$(gst_sources)")
  ours+=("$o"); ours_sources+=("$os"); theirs+=("$g"); sources+=("$gs")
  printf "%-5s %9s %14s %12s %12s %14s  %s\n" "$r" "$o" "$os" "$g" "$f" "$gs" "$l"
done
median() { printf "%s\n" "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
om=$(median "${ours[@]}"); osm=$(median "${ours_sources[@]}"); gm=$(median "${theirs[@]}")
sm=$(median "${sources[@]}")
awk -v o="$om" -v os="$osm" -v g="$gm" -v s="$sm" 'BEGIN {
  printf "medians of one core: Talvor %.1f %% (its seven capture inputs %.1f %%), GStreamer %.1f %% (its seven test", o, os, g
  printf " sources alone %.1f %%)\n", s
  printf "ratio Talvor / GStreamer: %.2f (target <= 0.5): %s\n", o / g, (o / g <= 0.5 ? "met" : "MISSED")
  if (g > s) {
    printf "ratio without either side'"'"'s test pictures, (Talvor - its inputs) / (GStreamer - its sources): %.2f\n", (o - os) / (g - s)
    printf "ratio without GStreamer'"'"'s only, Talvor / (GStreamer - its sources): %.2f\n", o / (g - s)
  } }'
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
