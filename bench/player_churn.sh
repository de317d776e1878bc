#!/usr/bin/env bash
# Churn: a lumviewer opens three shows in turn (pictures with music, pictures
# with a clip, and both) 1,000 times through its control socket and takes
# 10,000 random seeks among them; player_churn.py samples /proc/PID after ten
# warm-up cycles and at the end and judges that descriptors and threads are no
# more than at the start, none is left on a closed show, and the resident size
# grew by at most 2 %.
#
# usage: bench/player_churn.sh           (1,000 opens, 10,000 seeks; CHURN_OPENS
#                                         and CHURN_SEEKS set others)
#        bench/player_churn.sh --short   (60 opens, 600 seeks, resident size
#                                         within 5 %: the suite's run)
# The shows are made once with lumshow new under BUILD/bench-cache/churn.
# BUILD is build unless BUILD_DIR says otherwise. Exit status 0: the targets
# hold; 2: one is missed; 1: the run could not be made.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
lumviewer=$build/apps/lumviewer/lumviewer
lumshow=$build/apps/lumshow/lumshow
for p in "$lumviewer" "$lumshow"; do
  [ -x "$p" ] || { echo "churn: $p is not built" >&2; exit 1; }
done
for tool in ffmpeg python3; do
  command -v "$tool" >/dev/null || { echo "churn: $tool is missing" >&2; exit 1; }
done
opens=${CHURN_OPENS:-1000} seeks=${CHURN_SEEKS:-10000} growth=2
# Sixty opens tell a leak (a megabyte an open) from the allocator's swing of a
# few MB, not 2 % from it.
[ "${1:-}" = "--short" ] && opens=60 seeks=600 growth=5

cache=$build/bench-cache/churn
mkdir -p "$cache/in"
make_input() {  # OUT then ffmpeg's input arguments
  local out=$1
  shift
  [ -s "$out" ] && return 0
  ffmpeg -v error -y "$@" "$out.part.${out##*.}"
  mv "$out.part.${out##*.}" "$out"
}
for i in 1 2 3 4; do
  make_input "$cache/in/p$i.jpg" -f lavfi -i "testsrc2=size=800x600:rate=1" -vf "hue=h=$((i * 90))" \
    -frames:v 1
done
make_input "$cache/in/clip.mp4" -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p
make_input "$cache/in/music.wav" -f lavfi -i "sine=frequency=440:duration=8" -ac 2 -ar 44100

make_show() {  # NAME then lumshow new's inputs and options
  local out=$cache/$1.lumshow
  shift
  [ -s "$out" ] && return 0
  "$lumshow" new "$@" --slide-time 1500 --size 640x360 --loop -o "$out.part.lumshow" >/dev/null
  mv "$out.part.lumshow" "$out"
}
make_show music "$cache"/in/p1.jpg "$cache"/in/p2.jpg "$cache"/in/p3.jpg --music "$cache/in/music.wav"
make_show clip "$cache"/in/p2.jpg "$cache"/in/clip.mp4 "$cache"/in/p4.jpg
make_show both "$cache"/in/p3.jpg "$cache"/in/clip.mp4 "$cache"/in/p1.jpg --music "$cache/in/music.wav"
shows=("$(realpath "$cache/music.lumshow")" "$(realpath "$cache/clip.lumshow")"
       "$(realpath "$cache/both.lumshow")")

socket=$(mktemp -u /tmp/churn.XXXXXX.sock)
log=$(mktemp /tmp/churn.XXXXXX.log)
player=
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null || true
  rm -f "$socket"
}
trap cleanup EXIT
SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} \
  "$lumviewer" "${shows[0]}" -control "$socket" > "$log" 2>&1 &
player=$!
status=0
python3 bench/player_churn.py "$socket" "$player" "$opens" "$seeks" --rss-growth "$growth" \
  "${shows[@]}" || status=$?
if [ "$status" = 1 ]; then
  echo "churn: the player log ends:" >&2
  tail -5 "$log" >&2
fi
rm -f "$log"
exit "$status"
