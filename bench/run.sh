#!/usr/bin/env bash
# Benchmarks: bash bench/run.sh BUILD_DIR (terminal first, then observation)
#  1. the emulator alone against libvterm's screen layer and parser ceiling (Google Benchmark);
#  2. termbench at 120x40, DejaVu Sans Mono 11, under Xvfb when there is no display: MB/s =
#     bytes / (wall time of `termbench -- cat FILE` - wall time of `termbench -- true`), best
#     of 3, next to the bare pseudo-terminal's speed in the same run;
#  3. memory a terminal adds with a full 10,000-line scroll-back of 80-column text, and the
#     event loop's lateness during a flood.
set -euo pipefail
build=${1:-build-bench}
bin=$build/bench
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  for n in $(seq 90 99); do [ -e /tmp/.X11-unix/X$n ] || break; done
  Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi
[ -n "${DISPLAY:-}" ] && export QT_QPA_PLATFORM=xcb || export QT_QPA_PLATFORM=offscreen
echo "platform: $QT_QPA_PLATFORM"

echo "== emulator alone (8 MB streams, 120x40)"
"$bin/surface_bench" --benchmark_min_time=1 2>/dev/null | grep -E '^(VTerm|Surface)' |
  awk '{ printf "  %-28s %s\n", $1, $NF }'

for kind in plain color redraw; do "$bin/termgen" $kind 64 >"$work/$kind"; done
"$bin/termgen" text80 2 >"$work/text80"

opts=(--size 120x40 --font "DejaVu Sans Mono,11" --scrollback 10000)
best() {  # best wall time in ns of three runs of the command
  local b=0
  for _ in 1 2 3; do
    local s e
    s=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    e=$(date +%s%N)
    if [ "$b" = 0 ] || [ $((e - s)) -lt "$b" ]; then b=$((e - s)); fi
  done
  echo "$b"
}
mbps() { awk -v b="$1" -v t="$2" -v s="$3" 'BEGIN { d = t - s; if (d <= 0) d = 1; printf "%.1f", b / d * 1000 }'; }

echo "== termbench, 120x40 (MB/s, start-up subtracted)"
start=$(best "$bin/termbench" "${opts[@]}" -- true)
bare_start=$(best "$bin/termbench" --bare -- true)
printf "  start-up %.0f ms\n" "$(awk -v t="$start" 'BEGIN { print t / 1e6 }')"
for kind in plain color redraw; do
  size=$(stat -c %s "$work/$kind")
  t=$(best "$bin/termbench" "${opts[@]}" -- cat "$work/$kind")
  b=$(best "$bin/termbench" --bare -- cat "$work/$kind")
  printf "  %-7s %6s MB/s   bare pty %6s MB/s\n" "$kind" "$(mbps "$size" "$t" "$start")" "$(mbps "$size" "$b" "$bare_start")"
done

echo "== flood: paints and event-loop lateness (plain, 64 MB)"
"$bin/termbench" "${opts[@]}" --stats -- cat "$work/plain" 2>&1 >/dev/null |
  grep -E '^(paints-per-second|loop-late)' | sed 's/^/  /'

echo "== memory added by a terminal with a full 10,000-line scroll-back (80x24, 80-column text)"
"$bin/termbench" --size 80x24 --font "DejaVu Sans Mono,11" --scrollback 10000 --stats -- cat "$work/text80" 2>&1 >/dev/null |
  grep -E '^(rss-view-kib|rss-added-kib|scrollback-lines)' | sed 's/^/  /'

echo "== observation"
bash "$(dirname "$0")/observe/run.sh" "$build"
