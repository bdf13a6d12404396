#!/usr/bin/env bash
# Network cameras, measured in one run beside GStreamer doing the same job:
#  1. JPEG decoding: the decoder filter's core vs libjpeg-turbo's own decode of the same frames (target <= 1.2x);
#  2. four simulated cameras at 25/s (MJPEG over HTTP) into a four-input mixing renderer: the CPU share of our
#     whole graph vs a GStreamer pipeline doing the same (souphttpsrc, multipartdemux, jpegdec, compositor),
#     both against the same simulator process (target: ours at most half).
# Usage: bench/camip/run_bench.sh [SECONDS=10]
set -euo pipefail
# Figures are written and read with a decimal point whatever the desktop's locale (awk follows it).
export LC_ALL=C
top=$(cd "$(dirname "$0")/../.." && pwd)
secs=${1:-10}
build=$top/build/bench
cd "$top"
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target jpeg_decode_bench camip_graph_bench kavro-camera-sim >/dev/null

echo "== JPEG decoding, 768x576 quality 75"
dec=$("$build/bin/jpeg_decode_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null)
echo "$dec"
ours=$(echo "$dec" | awk '$1 ~ /^BM_DecoderFilterCore_median$/ { print $4 }')
ref=$(echo "$dec" | awk '$1 ~ /^BM_LibjpegTurboDecode_median$/ { print $4 }')
awk -v o="$ours" -v r="$ref" 'BEGIN { printf "decoder / libjpeg-turbo = %.3f (target <= 1.2): %s\n\n", o / r, (o / r <= 1.2 ? "met" : "MISSED") }'

base=$((20000 + RANDOM % 20000))
cams=(); for k in 1 2 3 4; do cams+=(--camera "127.0.0.1:$((base + k))"); done
"$build/bin/kavro-camera-sim" "${cams[@]}" 2>/dev/null & sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
sleep 1

echo "== four cameras into a four-input mixing renderer, ${secs} s"
ours_line=$("$build/bin/camip_graph_bench" "${cams[@]}" --seconds "$secs")
echo "$ours_line"

pads=""; srcs=""
for k in 0 1 2 3; do
  x=$(( (k % 2) * 384 )); y=$(( (k / 2) * 288 ))
  pads="$pads sink_$k::xpos=$x sink_$k::ypos=$y sink_$k::width=384 sink_$k::height=288"
  srcs="$srcs souphttpsrc location=http://127.0.0.1:$((base + k + 1))/video.mjpg is-live=true do-timestamp=true ! multipartdemux ! jpegdec ! queue ! mix.sink_$k"
done
gst-launch-1.0 -q compositor name=mix background=black $pads ! video/x-raw,format=BGRx,width=768,height=576,framerate=25/1 ! fakesink sync=true $srcs >/dev/null 2>&1 & gst=$!
sleep 2
t0=$(awk '{print $14+$15}' /proc/$gst/stat); s0=$(date +%s%N)
sleep "$secs"
t1=$(awk '{print $14+$15}' /proc/$gst/stat); s1=$(date +%s%N)
kill $gst; wait $gst 2>/dev/null || true
hz=$(getconf CLK_TCK)
gst_pct=$(awk -v dt=$((t1 - t0)) -v hz="$hz" -v ns=$((s1 - s0)) 'BEGIN { printf "%.1f", 100 * dt / hz / (ns / 1e9) }')
echo "gstreamer: $gst_pct % of one core"
ours_pct=$(echo "$ours_line" | sed -n 's/^ours: \([0-9.]*\) %.*/\1/p')
awk -v o="$ours_pct" -v g="$gst_pct" 'BEGIN { printf "ours / GStreamer = %.3f (target <= 0.5): %s\n", o / g, (o / g <= 0.5 ? "met" : "MISSED") }'
