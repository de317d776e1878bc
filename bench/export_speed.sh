#!/usr/bin/env bash
# lumshow export against ffmpeg, side by side in one run:
#  1. speed: six 1920x1080 photos, 5 s each with 1 s cross-fades (30 s at
#     30 fps), exported by lumshow export --preset ultrafast and by an ffmpeg
#     command line doing the same with xfade filters and the same encoder
#     settings (libx264 ultrafast, CRF 20, yuv420p, AAC from silence); the
#     ratio is ffmpeg's wall time over ours (target >= 2). lumshow encodes only
#     the frames that change (the still stretches are one long frame each),
#     ffmpeg every frame: the frames each side encoded are printed, and the
#     same export with --cfr (every frame, as ffmpeg) is timed beside it;
#     1b. motion: the same photos zooming slowly, so every frame changes,
#     against ffmpeg's zoompan before the xfades (target >= 1);
#     each run prints its system time (target <= 10 % of the export's wall
#     time) and page faults, where per-frame allocations show at once;
#  2. memory: peak RSS of exporting a show of 100 slides, each a distinct
#     24-megapixel JPEG (the player_memory.sh pictures), target <= 500 MB.
# Arguments pick figures (speed, motion, memory; all when none). The photos are made
# with ImageMagick's convert into BUILD/bench-cache and kept there. BUILD is
# build unless BUILD_DIR says otherwise. "ok" is printed
# only for a figure measured against its target; a missing reference tool
# makes a figure "not measured", never met. Exit status 0: every target met;
# 2: a target missed; 3: nothing missed but a figure not measured; 1: the
# benchmark itself failed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
lumshow=$build/apps/lumshow/lumshow
[ -x "$lumshow" ] || { echo "export_speed: $lumshow is not built" >&2; exit 1; }
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

figures=${*:-speed motion memory}
wants() { [[ " $figures " == *" $1 "* ]]; }
missed=0 unmeasured=0
have() { command -v "$1" >/dev/null; }
not_measured() {
  echo "   not measured: $*"
  unmeasured=1
}
# Sets judged to "(ok, TEXT)" or "(missed, TEXT)" for a condition awk
# evaluates, and counts a miss.
judge() {
  if awk "BEGIN { exit !($1) }"; then judged="(ok, $2)"; else judged="(missed, $3)"; missed=1; fi
}

cache=$build/bench-cache/export
mkdir -p "$cache"
work=$(mktemp -d /tmp/export_speed.XXXXXX)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
# Frames of the video stream as ffprobe counts them, and its duration.
frames() { ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
duration() { ffprobe -v error -select_streams v -show_entries stream=duration -of csv=p=0 "$1"; }
streams() { ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 "$1" | tr '\n' ' '; }

# Runs a command under /usr/bin/time; sets wall, sys (s) and faults (minor).
timed() {
  /usr/bin/time -f '%e %U %S %R %F' -o "$work/t.txt" "$@"
  read -r wall user sys faults major < "$work/t.txt"
}
# One line per run: wall time, CPU times, system share of wall, page faults.
report() {
  awk -v n="$1" -v w="$wall" -v u="$user" -v s="$sys" -v f="$faults" -v m="$major" \
      -v fr="$2" -v d="$3" 'BEGIN {
    printf "   %-22s %6.2f s wall, %6.2f s user, %5.2f s sys (%4.1f%% of wall), %7d page faults (%d major); %d frames, %.2f s of video\n",
           n, w, u, s, 100 * s / w, f, m, fr, d }'
}

# A show of the six photos, 5 s each with 1-s dissolves; with a zoom, each
# photo grows slowly from 100 % to 110 % over its 6 s, so every frame changes.
write_show() {
  local zoom=$1
  printf '[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\n'
  printf 'object TheEffect:AnEffect\ntime=1000\ncustom_count=0\nobject dissolve:dissolve\n'
  printf 'caption=Dissolve\nkey=checked\nchecked=1\ngroup=GroupBasic\nstdidx=2\nend\nend\n'
  printf '[Times]\nopt_slidescount=6\n'
  for i in 1 2 3 4 5 6; do printf 'opt_synchpos%d=%d\n' "$i" $(( i * 5000 )); done
  for i in 1 2 3 4 5 6; do
    printf '[Slide%d]\nbstyle=1\nbcolor=0\n' "$i"
    [ "$i" -gt 1 ] && printf 'object TheEffect:AnEffect\nref=dissolve\ntime=1000\nend\n'
    printf 'object Container:Root\nobject Photo:Image\nGUID={%08d-5A1D-4E00-8000-000000000000}\n' "$i"
    printf 'ImageName=p%d.jpg\nSize=1920,1080\nFitMode=Cover\n' "$i"
    if [ "$zoom" = 1 ]; then
      printf 'object K:KeyPoint\nTime=0\nScaleX=100\nScaleY=100\nend\n'
      printf 'object K2:KeyPoint\nTime=6000\nScaleX=110\nScaleY=110\nend\nend\nend\n'
    else
      printf 'object K:KeyPoint\nTime=0\nend\nend\nend\n'
    fi
  done
}

# Exports the show (VFR and --cfr) and ffmpeg's equivalent, each photo's clip
# passed through extra filters (a zoompan for motion) before the xfades.
# Prints the figures and judges ffmpeg / lumshow against target.
speed_case() {
  local name=$1 show=$2 extra=$3 target=$4
  timed "$lumshow" export "$show" -o "$work/ours.mp4" --preset ultrafast --crf 20
  local w1=$wall s1=$sys
  report "lumshow export" "$(frames "$work/ours.mp4")" "$(duration "$work/ours.mp4")"
  timed "$lumshow" export "$show" -o "$work/ours-cfr.mp4" --preset ultrafast --crf 20 --cfr
  local w1c=$wall
  report "lumshow export --cfr" "$(frames "$work/ours-cfr.mp4")" "$(duration "$work/ours-cfr.mp4")"
  # Clip k shows from 5k to 5k + 6 s (the last to 30 s); fade k starts at 5k.
  local inputs=() graph="" i len
  for i in 1 2 3 4 5 6; do
    len=6; [ "$i" -eq 6 ] && len=5
    inputs+=(-loop 1 -framerate 30 -t "$len" -i "$cache/p$i.jpg")
  done
  for i in 0 1 2 3 4 5; do
    local to=i$i; [ "$i" -eq 0 ] && to=v0
    graph+="[$i:v]${extra}format=yuv420p,settb=1/30[$to];"
  done
  for i in 1 2 3 4 5; do
    graph+="[v$(( i - 1 ))][i$i]xfade=transition=fade:duration=1:offset=$(( i * 5 ))[v$i];"
  done
  timed ffmpeg -v error -y "${inputs[@]}" -f lavfi -i anullsrc=r=44100:cl=stereo \
    -filter_complex "${graph%;}" -map '[v5]' -map 6:a -t 30 -c:v libx264 -preset ultrafast \
    -crf 20 -pix_fmt yuv420p -r 30 -color_primaries bt709 -color_trc bt709 -colorspace bt709 \
    -c:a aac -b:a 192k -movflags +faststart "$work/ffmpeg.mp4"
  local w2=$wall
  report "ffmpeg" "$(frames "$work/ffmpeg.mp4")" "$(duration "$work/ffmpeg.mp4")"
  echo "   streams: lumshow $(streams "$work/ours.mp4")| ffmpeg $(streams "$work/ffmpeg.mp4")"
  awk -v a="$w1c" -v b="$w2" 'BEGIN {
    printf "   like for like (--cfr, every frame): ffmpeg / lumshow %.2fx\n", b / a }'
  local ratio share
  ratio=$(awk -v a="$w1" -v b="$w2" 'BEGIN { printf "%.2f", b / a }')
  judge "$ratio >= $target" ">= $target" "target >= $target"
  echo "   $name: ffmpeg / lumshow ${ratio}x $judged"
  share=$(awk -v s="$s1" -v w="$w1" 'BEGIN { printf "%.1f", 100 * s / w }')
  judge "$share <= 10" "<= 10 %" "over 10 %"
  echo "   $name: system time ${share} % of the export's wall time $judged"
}

if wants speed || wants motion; then
  if ! have convert; then
    not_measured "ImageMagick's convert is missing to make the photos"
  elif ! have ffmpeg || ! have ffprobe || [ ! -x /usr/bin/time ]; then
    not_measured "the reference, ffmpeg (with ffprobe), or /usr/bin/time is missing"
  else
    for i in 1 2 3 4 5 6; do
      [ -s "$cache/p$i.jpg" ] ||
        convert -seed "$i" -size 480x270 plasma:fractal -resize '1920x1080!' -quality 90 "$cache/p$i.jpg"
    done
    if wants speed; then
      echo "1. export of six 1080p photos with cross-fades, 30 s at 30 fps, libx264 ultrafast CRF 20"
      write_show 0 > "$cache/Project.lum"
      speed_case "still photos" "$cache/Project.lum" "" 2
    fi
    if wants motion; then
      echo "1b. the same photos zooming slowly (every frame changes), against ffmpeg zoompan + xfade"
      write_show 1 > "$cache/Zoom.lum"
      # 100 % to 110 % over the clip's 180 frames, about the centre.
      zoom="zoompan=z='1+0.1*on/180':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=1:s=1920x1080:fps=30,"
      speed_case "zooming photos" "$cache/Zoom.lum" "$zoom" 1
    fi
  fi
fi

if wants memory; then
  echo "2. export of 100 slides of 24-megapixel JPEGs, 400 ms each (1920x1080, ultrafast)"
  if ! have convert; then
    not_measured "ImageMagick's convert is missing to make the pictures"
  elif [ ! -x /usr/bin/time ]; then
    not_measured "/usr/bin/time is missing to read the peak memory"
  else
    # The pictures and show of player_memory.sh, made the same way when missing.
    mem_show=$build/bench-cache/player-memory
    source "$(dirname "$0")/big_pictures.sh"
    make_big_pictures "$mem_show" 100
    {
      printf '[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\n'
      printf '[Times]\nopt_slidescount=100\n'
      for i in $(seq 1 100); do printf 'opt_synchpos%d=%d\n' "$i" $(( i * 400 )); done
      for i in $(seq 1 100); do
        printf '[Slide%d]\nbstyle=1\nbcolor=0\nobject Container:Root\n' "$i"
        printf 'object Photo:Image\nGUID={%08d-5A1D-4E00-8000-000000000000}\nImageName=p%d.jpg\n' "$i" "$i"
        printf 'Size=6000,4000\nFitMode=Cover\nobject K:KeyPoint\nTime=0\nend\nend\nend\n'
      done
    } > "$work/memory.lum"
    cp "$work/memory.lum" "$mem_show/Export.lum"
    /usr/bin/time -f '%M %e' -o "$work/time.txt" \
      "$lumshow" export "$mem_show/Export.lum" -o "$work/memory.mp4" --preset ultrafast
    read -r kb secs < "$work/time.txt"
    mb=$(awk -v kb="$kb" 'BEGIN { printf "%.1f", kb / 1024 }')
    judge "$mb <= 500" "<= 500" "over 500"
    echo "   peak RSS $mb MB in $secs s $judged"
  fi
fi

if [ "$missed" -ne 0 ]; then
  echo "export_speed: a target was missed"
  exit 2
elif [ "$unmeasured" -ne 0 ]; then
  echo "export_speed: a figure could not be measured"
  exit 3
fi
echo "export_speed: every target met"
