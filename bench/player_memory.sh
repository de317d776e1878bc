#!/usr/bin/env bash
# Peak memory of the player, and whether loading keeps up, on a show of 100
# slides of 400 ms, each a distinct 24-megapixel JPEG (6000 x 4000):
#  1. lumviewer as a user starts it: the show asks for a 1920 x 1080 window,
#     which the player fits into the display (1024 x 576 on the offscreen
#     display); VmHWM of the process when the show has ended;
#  2. bench_player --play: the same player in this machine's process at a
#     1920 x 1080 window.
# The pictures are made once with ImageMagick's convert into
# BUILD/bench-cache/player-memory and kept there. The show clock follows the
# audio device; under SDL's dummy audio driver it runs about 4 % fast, so a
# show that keeps up plays in about 0.96 of its show time. BUILD is build unless
# BUILD_DIR says otherwise. Exit status 2: over 400 MB or the show did not end;
# 3: nothing missed, but a figure could not be measured.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
lumviewer=$build/apps/lumviewer/lumviewer
lumshow=$build/apps/lumshow/lumshow
bench=$build/bench/bench_player
for p in "$lumviewer" "$lumshow" "$bench"; do
  [ -x "$p" ] || { echo "player_memory: $p is not built" >&2; exit 1; }
done
command -v convert >/dev/null || { echo "player_memory: ImageMagick's convert is missing" >&2; exit 1; }
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

slides=100
slide_ms=400
limit_mb=400
show=$build/bench-cache/player-memory
mkdir -p "$show"

source "$(dirname "$0")/big_pictures.sh"
started=$(date +%s)
make_big_pictures "$show" "$slides"
echo "pictures: $slides JPEGs 6000x4000 in $show, $(du -sm "$show" | cut -f1) MB" \
     "(made or found in $(( $(date +%s) - started )) s)"

# Cut slides, each a picture covering the 1920 x 1080 design; the key frame
# lets the picture be decoded at the size it is shown.
{
  printf '[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\nopt_scr_full=0\n'
  printf 'opt_withoutborder=1\nopt_pausewheninactive=0\nopt_repeat=stop\n'
  printf '[Times]\nopt_slidescount=%d\n' "$slides"
  for i in $(seq 1 "$slides"); do printf 'opt_synchpos%d=%d\n' "$i" $(( i * slide_ms )); done
  for i in $(seq 1 "$slides"); do
    printf '[Slide%d]\nbstyle=1\nbcolor=0\nobject Container:Root\n' "$i"
    printf 'object Photo:Image\nGUID={%08d-5A1D-4E00-8000-000000000000}\nImageName=p%d.jpg\n' "$i" "$i"
    printf 'Size=6000,4000\nFitMode=Cover\nobject K:KeyPoint\nTime=0\nend\nend\nend\n'
  done
} > "$show/Project.lum"
duration_ms=$(( slides * slide_ms ))

work=$(mktemp -d /tmp/player_memory.XXXXXX)
player=
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
sock=$work/control.sock
status() { "$lumshow" control "$sock" '{"command":"status"}' 2>/dev/null || true; }

t0=$(now)
"$lumviewer" "$show/Project.lum" -control "$sock" -log 2>"$work/lumviewer.log" &
player=$!
for _ in $(seq 500); do
  [ -S "$sock" ] && break
  kill -0 "$player" 2>/dev/null || { tail "$work/lumviewer.log" >&2; exit 1; }
  sleep 0.02
done
active_at=
active_pos=0
ended_at=
deadline=$(( duration_ms / 1000 * 4 + 120 ))
s=
while :; do
  s=$(status)
  if [ -z "$active_at" ] && [[ $s == *'"active":true'* ]]; then
    active_at=$(now)
    active_pos=$(sed -n 's/.*"position":\([0-9.]*\).*/\1/p' <<<"$s")
  fi
  if [[ $s == *'"ended":true'* ]]; then ended_at=$(now); break; fi
  awk -v a="$t0" -v b="$(now)" -v d="$deadline" 'BEGIN { exit !(b - a > d) }' && break
  kill -0 "$player" 2>/dev/null || break
  sleep 0.2
done
hwm_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$player/status" 2>/dev/null || true)
window=$(sed -n 's/.*"window":\(\[[0-9]*,[0-9]*\]\).*/\1/p' <<<"$s")
frames=$(sed -n 's/.*"framesDrawn":\([0-9]*\).*/\1/p' <<<"$s")
"$lumshow" control "$sock" '{"command":"quit"}' >/dev/null 2>&1 || true
wait "$player" || true
player=

slow=$(grep -c "a frame took" "$work/lumviewer.log" || true)
stands=$(grep -c "SetActive(False)" "$work/lumviewer.log" || true)
prepared=$(grep -c '\.\.\.\.\.\.\. [0-9-]' "$work/lumviewer.log" || true)
failed=$(grep -c "could not be prepared" "$work/lumviewer.log" || true)
rc=0
echo "1. lumviewer, window ${window:-?} (the show asks for 1920x1080; the display is 1024x768)"
if [ -z "$hwm_kb" ]; then
  echo "   peak memory not measured: the player's /proc status could not be read"
  rc=3
else
  awk -v kb="$hwm_kb" -v lim="$limit_mb" 'BEGIN {
    printf "   peak memory VmHWM %.1f MB %s\n", kb / 1024, kb / 1024 <= lim ? "(ok, <= " lim ")" : "(missed, over " lim ")" }'
  awk -v kb="$hwm_kb" -v lim="$limit_mb" 'BEGIN { exit !(kb / 1024 > lim) }' && rc=2
fi
if [ -n "$ended_at" ]; then
  awk -v t0="$t0" -v a="${active_at:-$t0}" -v p="${active_pos:-0}" -v e="$ended_at" -v d="$duration_ms" 'BEGIN {
    printf "   played the show from %.0f ms to its end (%.1f s of show time) in %.1f s: %.2fx; %.1f s from launch\n",
      p, (d - p) / 1000, e - a, (e - a) * 1000 / (d - p), e - t0 }'
else
  echo "   the show did not end within ${deadline} s (missed)"
  rc=2
fi
echo "   frames drawn ${frames:-?}; slides prepared $prepared (failed $failed); frames over 50 ms $slow;" \
     "clock stopped $stands times"

echo "2. the player at 1920x1080 (bench_player --play)"
bench_rc=0
"$bench" --play "$show/Project.lum" --size 1920x1080 | sed 1d || bench_rc=$?
# A miss on either side outweighs a figure that could not be measured.
if [ "$bench_rc" -ne 0 ] && [ "$rc" -ne 2 ]; then
  if [ "$bench_rc" -eq 3 ]; then rc=3; else rc=2; fi
fi
exit $rc
