#!/usr/bin/env bash
# An hour of a real-sized show: lumshow new makes a show of 200 photos of 24
# megapixels (5 s each), 6 H.264 1080p clips of 30 s, a caption on every
# slide, every transition family and an hour of music, repeating (about 20
# minutes a pass, so the hour goes round three times); lumviewer plays it in a
# 1920 x 1080 window (in a real X11 window under Xvfb when xvfb-run is here,
# else off screen) while endurance_report.py samples the control socket's
# status and /proc every 5 s into a CSV, then draws the chart and judges the
# targets.
#
# usage: bench/endurance.sh [MINUTES]   (default 60)
#        bench/endurance.sh --short     (60 s of a small show going round
#                                        twice: 10 photos of 1024 x 768 of
#                                        2 s, one 10 s clip, 36 s of music,
#                                        sampled every 2 s; the timing targets
#                                        and RSS growth are only reported;
#                                        peak RSS, descriptors and threads
#                                        are judged)
# ENDURANCE_SIZE=WxH plays the show at another size (default 1920x1080; the
# late-video target is set at 1280x720).
# The inputs and the show are made once under BUILD/bench-cache/endurance*.
# Writes BUILD/endurance/endurance.csv, endurance.png and the player's log
# (frames over 50 ms among it) player.log. BUILD is build unless
# BUILD_DIR says otherwise. Exit status 0: the targets hold; 2: one is missed;
# 1: the run could not be made.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
lumviewer=$build/apps/lumviewer/lumviewer
lumshow=$build/apps/lumshow/lumshow
report=bench/endurance_report.py
for p in "$lumviewer" "$lumshow"; do
  [ -x "$p" ] || { echo "endurance: $p is not built" >&2; exit 1; }
done
for tool in convert ffmpeg python3; do
  command -v "$tool" >/dev/null || { echo "endurance: $tool is missing" >&2; exit 1; }
done
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

if [ "${1:-}" = "--short" ]; then
  seconds=60 photos=10 photo_size=1024x768 clips=1 clip_s=10 clip_size=640x360 music_s=36
  slide_ms=2000 every=2 timing=report growth=report cache=$build/bench-cache/endurance-short
else
  seconds=$(( ${1:-60} * 60 )) photos=200 photo_size=6000x4000 clips=6 clip_s=30
  clip_size=1920x1080 music_s=3600 slide_ms=5000 every=5 timing=check growth=2
  cache=$build/bench-cache/endurance
fi
size=${ENDURANCE_SIZE:-1920x1080}
[[ $size =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || { echo "endurance: ENDURANCE_SIZE is not WxH: $size" >&2; exit 1; }
out=$build/endurance
mkdir -p "$cache/in" "$out"

# Inputs: plasma photos of their own seed, test-pattern clips, a tone.
source bench/big_pictures.sh
make_big_pictures "$cache/in" "$photos" "$photo_size"
for i in $(seq 1 "$clips"); do
  clip=$cache/in/clip$i.mp4
  [ -s "$clip" ] && continue
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$clip_size:rate=30:duration=$clip_s" \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p "$clip.part.mp4"
  mv "$clip.part.mp4" "$clip"
done
music=$cache/music.mp3
if [ ! -s "$music" ]; then
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=$music_s" \
    -ac 2 -ar 44100 -c:a libmp3lame -b:a 64k "$music.part.mp3"
  mv "$music.part.mp3" "$music"
fi

show=$cache/show.lumshow
[ "$size" = 1920x1080 ] || show=$cache/show-$size.lumshow
if [ ! -s "$show" ]; then
  started=$(date +%s)
  "$lumshow" new "$cache/in" --music "$music" --slide-time "$slide_ms" --captions name \
    --transition all --size "$size" --loop --sort name -o "$show"
  echo "endurance: show made in $(( $(date +%s) - started )) s: $(du -m "$show" | cut -f1) MB"
fi

socket=$(mktemp -u /tmp/endurance.XXXXXX.sock)
player= pid=
cleanup() {
  # Under xvfb-run the player is the wrapper's child: it is stopped itself.
  for p in $pid $player; do kill "$p" 2>/dev/null || true; done
  rm -f "$socket"
}
trap cleanup EXIT

if command -v xvfb-run >/dev/null && [ -z "${SDL_VIDEODRIVER:-}" ]; then
  where="a $size X11 window under Xvfb"
  xvfb-run -a -s "-screen 0 ${size}x24" env SDL_VIDEODRIVER=x11 \
    "$lumviewer" "$show" -control "$socket" -log > "$out/player.log" 2>&1 &
else
  where="$size off screen"
  SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} \
    "$lumviewer" "$show" -control "$socket" -log > "$out/player.log" 2>&1 &
fi
player=$!
echo "endurance: playing for $seconds s in $where (player log $out/player.log)"
# Under xvfb-run the player is a child of the wrapper: sample the player itself.
pid=$player
for _ in $(seq 50); do
  child=$(pgrep -n -f "^$lumviewer $show -control $socket" || true)
  [ -n "$child" ] && { pid=$child; break; }
  sleep 0.1
done
python3 "$report" sample "$socket" "$pid" "$seconds" "$out/endurance.csv" --every "$every" ||
  { echo "endurance: sampling failed; the player log ends:" >&2; tail -5 "$out/player.log" >&2; exit 1; }
python3 "$report" judge "$out/endurance.csv" "$out/endurance.png" --timing "$timing" \
  --rss-growth "$growth"
