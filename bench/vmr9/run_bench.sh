#!/usr/bin/env bash
# Measures the mixing renderer's compositor and, in the same run, GStreamer's compositor on the same grid, both
# on frames prepared before timing (no per-frame hand-over). The live job, sources handing over new frames to the
# running renderer, is compared with GStreamer by bench/vmr9/live_bench.sh.
# Builds the bench preset and the reference program (into build/bench/anchors, never into the sources).
# Usage: bench/vmr9/run_bench.sh [reference source folder, default /work/shared/anchors]
set -euo pipefail
# Figures are written and read with a decimal point whatever the desktop's locale (awk follows it).
export LC_ALL=C

top=$(cd "$(dirname "$0")/../.." && pwd)
anchors=${1:-/work/shared/anchors}
build=$top/build/bench
cd "$top"

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target vmr9_bench noir >/dev/null

mkdir -p "$build/anchors"
gst=$build/anchors/gst_compose
if [ ! -x "$gst" ] || [ "$anchors/gst_compose.cpp" -nt "$gst" ]; then
  g++ -O2 -std=c++17 "$anchors/gst_compose.cpp" -o "$gst" \
    $(pkg-config --cflags --libs gstreamer-1.0 gstreamer-video-1.0)
fi

echo "== our compositor (one thread)"
ours=$("$build/bin/vmr9_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null)
echo "$ours"
echo
echo "== GStreamer compositor, grid without overlay"
with=$("$gst" --inputs 11 --grid 4x3 --buffers 500 --runs 3 --resampler bilinear)
echo "$with"
echo
echo "== GStreamer sources alone"
alone=$("$gst" --inputs 11 --grid 4x3 --buffers 500 --runs 3 --sources-only)
echo "$alone"
echo

# CPU milliseconds per frame: ours from the median line, GStreamer's from its MEDIAN lines.
to_ms() { awk -v v="$1" -v u="$2" 'BEGIN { f = u == "us" ? 0.001 : u == "ns" ? 0.000001 : u == "s" ? 1000 : 1; printf "%.3f", v * f }'; }
ours_line() { echo "$ours" | awk -v n="$1" '$1 ~ n"(/.*)?_median$" { print $4, $5; exit }'; }
read -r a_cpu a_unit <<<"$(ours_line BM_FullPictureWithOverlay)"
read -r b_cpu b_unit <<<"$(ours_line BM_GridWithoutOverlay)"
a_ms=$(to_ms "$a_cpu" "$a_unit")
b_ms=$(to_ms "$b_cpu" "$b_unit")
gst_with=$(echo "$with" | sed -n 's/^MEDIAN .*cpu_ms_per_frame=\([0-9.]*\).*/\1/p')
gst_alone=$(echo "$alone" | sed -n 's/^MEDIAN .*cpu_ms_per_frame=\([0-9.]*\).*/\1/p')
noir=$(echo "$ours" | sed -n 's/^BM_NoirIntoMixingRenderer.*core_percent=\([0-9.]*\).*/\1/p' | head -1)
live=$(echo "$ours" | sed -n 's/^BM_LiveMixerPicture\/0.*_median.*core_percent=\([0-9.]*\).*/\1/p' | head -1)
live_src=$(echo "$ours" | sed -n 's/^BM_LiveMixerPicture\/1.*_median.*core_percent=\([0-9.]*\).*/\1/p' | head -1)

awk -v a="$a_ms" -v b="$b_ms" -v w="$gst_with" -v s="$gst_alone" -v n="$noir" -v l="$live" -v ls="$live_src" 'BEGIN {
  g = w - s
  printf "(a) full picture with overlay: %.3f ms CPU per frame = %.0f frames/s on one core (target >= 300): %s\n",
         a, 1000 / a, (1000 / a >= 300 ? "met" : "MISSED")
  printf "(b) grid without overlay: %.3f ms CPU per frame\n", b
  printf "    GStreamer compositor: %.3f ms with sources - %.3f ms sources alone = %.3f ms\n", w, s, g
  printf "    ratio ours / GStreamer = %.3f (compositors alone on frames converted before timing; the live job\n", b / g
  printf "    with its per-frame hand-over is compared by bench/vmr9/live_bench.sh)\n"
  printf "running Noir -> mixing renderer graph: %.2f%% of a core (target < 3%%): %s\n", n, (n < 3 ? "met" : "MISSED")
  printf "live mixer picture (11 cameras at 25/s, overlay at 25/s): %.1f%% of a core, sources alone %.1f%%, renderer %.1f%%\n", l, ls, l - ls
}'
