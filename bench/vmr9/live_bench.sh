#!/usr/bin/env bash
# The mixer's live job measured both ways in one run, in alternating rounds (ours, GStreamer, ours, ...):
# eleven live 768x576 32-bit sources at 25 frames/s, each scaled (bilinear) into a cell of a 4x3 grid at
# alpha 0.8 over black, composed to 720x576 and presented 25 times a second.
#   ours:      build/bench/bin/vmr9_live_mix (the running mixing renderer graph, pictures into a ui window)
#   GStreamer: gst_live_mix.sh from the reference folder (compositor, sink synchronised to the clock)
# Each side is also run with its sources alone (our cameras into null renderers; --sources-only); the mixing is
# the whole run minus the sources alone of the same round. Figures are CPU shares of one core; the 1-minute
# load average is printed beside each run. The verdict uses the medians of the rounds.
#
# Usage: bench/vmr9/live_bench.sh [--rounds R (3)] [--seconds S (20)] [--anchors DIR]
# The reference folder defaults to ../shared/anchors beside the clone, else /work/shared/anchors.
set -euo pipefail
# Figures are written and read with a decimal point whatever the desktop's locale (awk follows it).
export LC_ALL=C

top=$(cd "$(dirname "$0")/../.." && pwd)
rounds=3
secs=20
anchors=""
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --seconds) secs=$2; shift 2 ;;
    --anchors) anchors=$2; shift 2 ;;
    *) echo "usage: $0 [--rounds R] [--seconds S] [--anchors DIR]" >&2; exit 1 ;;
  esac
done
case "$rounds$secs" in *[!0-9]*) echo "live_bench: rounds and seconds are whole numbers" >&2; exit 1 ;; esac
if [ "$rounds" -lt 1 ] || [ "$secs" -lt 1 ]; then
  echo "live_bench: rounds and seconds must be at least 1" >&2
  exit 1
fi
if [ -z "$anchors" ]; then
  for d in "$top/../shared/anchors" /work/shared/anchors; do
    if [ -f "$d/gst_live_mix.sh" ]; then anchors=$d; break; fi
  done
fi
if [ -z "$anchors" ] || [ ! -f "$anchors/gst_live_mix.sh" ]; then
  echo "live_bench: gst_live_mix.sh not found (give its folder with --anchors)" >&2
  exit 1
fi
if ! command -v gst-launch-1.0 >/dev/null; then
  echo "live_bench: gst-launch-1.0 missing (scripts/install-deps installs gstreamer1.0-tools)" >&2
  exit 1
fi

cd "$top"
echo "building vmr9_live_mix (bench preset)..." >&2
cmake --preset bench >/dev/null
cmake --build --preset bench --target vmr9_live_mix >/dev/null
ours=$top/build/bench/bin/vmr9_live_mix
gst=$anchors/gst_live_mix.sh

load() { cut -d' ' -f1 /proc/loadavg; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" <<<"$2"; }
percent() { sed -n 's/.*: \([0-9.]*\) % of one core.*/\1/p' <<<"$1"; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a - b }'; }

# How many pictures GStreamer composes a second: the same pipeline as the reference script, its sink reporting
# every buffer; the buffers reaching the sink are counted by the wall clock over S seconds after the same two
# seconds of start-up (a run of its own right after the timed one, since the reference script does not count).
gst_pictures_per_s() {
  local secs=$1 n=11 W=720 H=576 cw=180 ch=192 pads="" srcs="" i x y line
  local caps="video/x-raw,format=BGRx,width=768,height=576,framerate=25/1"
  for i in $(seq 0 $((n - 1))); do
    x=$(( (i % 4) * cw )); y=$(( (i / 4) * ch ))
    pads="$pads sink_$i::xpos=$x sink_$i::ypos=$y sink_$i::width=$cw sink_$i::height=$ch sink_$i::alpha=0.8"
    srcs="$srcs videotestsrc is-live=true pattern=ball ! $caps ! mix.sink_$i"
  done
  # shellcheck disable=SC2086
  { timeout -s INT $((secs + 2)) gst-launch-1.0 -v compositor name=mix background=black $pads \
      ! video/x-raw,format=BGRx,width=$W,height=$H,framerate=25/1 ! fakesink sync=true silent=false $srcs \
      2>/dev/null || true; } |
    { t0=$EPOCHREALTIME; while IFS= read -r line; do [[ $line == *"last-message = chain"* ]] && echo "$EPOCHREALTIME"; done
      echo "start $t0"; } |
    awk -v s="$secs" '$1 == "start" { t0 = $2; next } { t[++n] = $1 }
         END { c = 0; for (i = 1; i <= n; i++) if (t[i] >= t0 + 2 && t[i] < t0 + 2 + s) c++; printf "%.2f", c / s }'
}

# CPU milliseconds of mixing per composed picture: 1 % of a core is 10 ms a second.
per_picture() { awk -v m="$1" -v p="$2" 'BEGIN { if (p > 0) printf "%.2f", m * 10 / p; else printf "-" }'; }

declare -a o_whole o_src o_mix o_pics o_ms g_whole g_src g_mix g_pics g_ms
row="%-5s %-9s %8s %10s %9s %11s %11s  %s\n"
printf "$row" round side "whole %" "sources %" "mixing %" "pictures/s" "ms/picture" \
  "load (1 min) at the start of the whole / sources-alone run"
for r in $(seq 1 "$rounds"); do
  l1=$(load); a=$("$ours" --seconds "$secs") || true
  l2=$(load); b=$("$ours" --seconds "$secs" --sources-only) || true
  if ! grep -q "picture=ok" <<<"$a" || ! grep -q "picture=ok" <<<"$b"; then
    echo "live_bench: our run failed: ${a:-no output} / ${b:-no output}" >&2
    exit 2
  fi
  w=$(field core_percent "$a"); s=$(field core_percent "$b"); p=$(field pictures_per_s "$a"); m=$(minus "$w" "$s")
  o_whole+=("$w"); o_src+=("$s"); o_pics+=("$p"); o_mix+=("$m"); o_ms+=("$(per_picture "$m" "$p")")
  printf "$row" "$r" ours "$w" "$s" "$m" "$p" "${o_ms[-1]}" "$l1 / $l2   (frames in place $(field in_place_per_s "$a")/s, converted $(field converted_per_s "$a")/s)"

  l1=$(load); a=$("$gst" "$secs" 11) || true
  l2=$(load); b=$("$gst" "$secs" 11 --sources-only) || true
  if [ -z "$(percent "$a")" ] || [ -z "$(percent "$b")" ]; then
    echo "live_bench: the reference run failed: ${a:-no output} / ${b:-no output}" >&2
    exit 2
  fi
  w=$(percent "$a"); s=$(percent "$b"); p=$(gst_pictures_per_s "$secs"); m=$(minus "$w" "$s")
  g_whole+=("$w"); g_src+=("$s"); g_mix+=("$m"); g_pics+=("$p"); g_ms+=("$(per_picture "$m" "$p")")
  printf "$row" "$r" gstreamer "$w" "$s" "$m" "$p" "${g_ms[-1]}" "$l1 / $l2"
done

median() {
  printf "%s\n" "$@" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
om=$(median "${o_mix[@]}"); gm=$(median "${g_mix[@]}"); op=$(median "${o_pics[@]}"); gp=$(median "${g_pics[@]}")
echo
echo "medians of $rounds rounds of ${secs} s each:"
printf "  ours:      whole %s %%, sources alone %s %%, mixing %s %% of one core; %s pictures/s composed, %s ms each\n" \
  "$(median "${o_whole[@]}")" "$(median "${o_src[@]}")" "$om" "$op" "$(median "${o_ms[@]}")"
printf "  GStreamer: whole %s %%, sources alone %s %%, mixing %s %% of one core; %s pictures/s composed, %s ms each\n" \
  "$(median "${g_whole[@]}")" "$(median "${g_src[@]}")" "$gm" "$gp" "$(median "${g_ms[@]}")"
awk -v o="$om" -v g="$gm" -v op="$op" -v gp="$gp" 'BEGIN {
  if (g <= 0) { print "  ratio: GStreamer mixing measured at or below zero: no ratio (machine too loaded?)"; exit }
  printf "  ratio ours / GStreamer mixing = %.3f (target <= 0.333): %s\n", o / g, (o / g <= 1 / 3 ? "met" : "MISSED")
  if (op < 24.5 || gp < 24.5)
    print "  (a side composed fewer than 25 pictures/s: the machine was too busy for the shares to compare the same job)"
}'
echo "  load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
