#!/usr/bin/env bash
# lumshow new against cp, side by side in one run:
#  1. speed: a show made from PHOTOS (default 1000) distinct 24-megapixel
#     JPEGs by lumshow new, against cp -r of the same files to the same disk;
#     the ratio is lumshow's wall time over cp's (target <= 1.5). Both read
#     from a warm page cache and are timed up to a sync of what they wrote.
#  2. memory: peak RSS of lumshow new for MANY (default 10000) distinct
#     640x480 photos (target <= 100 MB); the count, not the size, is what
#     the inputs' bookkeeping grows with.
# The photos are made once into BUILD/bench-cache/new-show and kept: a few
# pictures from ImageMagick's convert (big_pictures.sh), then copies that
# differ by a JPEG comment, so that every file is its own member. BUILD is
# build unless BUILD_DIR says otherwise. Arguments pick figures (speed,
# memory; both when none). Exit status 0: every target met; 2: a target
# missed; 3: nothing missed but a figure not measured; 1: the benchmark
# itself failed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
lumshow=$build/apps/lumshow/lumshow
[ -x "$lumshow" ] || { echo "new_show: $lumshow is not built" >&2; exit 1; }
photos=${PHOTOS:-1000}
many=${MANY:-10000}
figures=${*:-speed memory}
wants() { [[ " $figures " == *" $1 "* ]]; }
missed=0 unmeasured=0
not_measured() {
  echo "   not measured: $*"
  unmeasured=1
}
judge() {
  if awk "BEGIN { exit !($1) }"; then judged="(ok, $2)"; else judged="(missed, $3)"; missed=1; fi
}

cache=$build/bench-cache/new-show
# The output goes to the disk the photos are on, as cp's copy does.
work=$(mktemp -d "$build/new_show.XXXXXX")
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }

# variants BASE DIR COUNT: COUNT files p1.jpg … in DIR, each BASE with a
# comment segment holding its number after the start marker.
variants() {
  local base=$1 dir=$2 count=$3
  [ -f "$dir/.complete-$count" ] && return 0
  mkdir -p "$dir"
  local i
  for i in $(seq 1 "$count"); do
    { head -c 2 "$base"; printf '\xff\xfe\x00\x0a%08d' "$i"; tail -c +3 "$base"; } > "$dir/p$i.jpg"
  done
  touch "$dir/.complete-$count"
}

if ! command -v convert >/dev/null; then
  not_measured "ImageMagick's convert is missing to make the photos"
  figures=""
fi

if wants speed; then
  echo "1. lumshow new of $photos distinct 24-megapixel JPEGs against cp -r to the same disk"
  source "$(dirname "$0")/big_pictures.sh"
  make_big_pictures "$cache/base" 1
  variants "$cache/base/p1.jpg" "$cache/big" "$photos"
  bytes=$(du -sb "$cache/big" | cut -f1)
  cat "$cache/big"/*.jpg > /dev/null  # both start from a warm cache
  sync
  t0=$(now)
  cp -r "$cache/big" "$work/copy"
  sync
  t1=$(now)
  "$lumshow" new "$cache/big" -o "$work/big.lumshow" 2> "$work/new.txt"
  sync
  t2=$(now)
  awk -v c="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
      -v n="$(awk -v a="$t1" -v b="$t2" 'BEGIN { print b - a }')" -v mb="$((bytes >> 20))" 'BEGIN {
    printf "   cp -r        %6.2f s (%d MB)\n   lumshow new  %6.2f s\n", c, mb, n }'
  ratio=$(awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.2f", (c - b) / (b - a) }')
  judge "$ratio <= 1.5" "<= 1.5" "target <= 1.5"
  echo "   lumshow new / cp ${ratio}x $judged"
  tail -n 1 "$work/new.txt" | sed 's/^/   /'
fi

if wants memory; then
  echo "2. peak memory of lumshow new for $many distinct 640x480 photos"
  if [ ! -x /usr/bin/time ]; then
    not_measured "/usr/bin/time is missing to read the peak memory"
  else
    mkdir -p "$cache/small-base"
    [ -s "$cache/small-base/p.jpg" ] ||
      convert -seed 7 -size 160x120 plasma:fractal -resize '640x480!' -quality 85 \
        "$cache/small-base/p.jpg"
    variants "$cache/small-base/p.jpg" "$cache/many" "$many"
    /usr/bin/time -f '%M %e' -o "$work/time.txt" \
      "$lumshow" new "$cache/many" -o "$work/many.lumshow" 2> "$work/many.txt"
    read -r kb secs < "$work/time.txt"
    mb=$(awk -v kb="$kb" 'BEGIN { printf "%.1f", kb / 1024 }')
    judge "$mb <= 100" "<= 100" "over 100"
    echo "   peak RSS $mb MB in $secs s $judged"
    tail -n 1 "$work/many.txt" | sed 's/^/   /'
  fi
fi

if [ "$missed" -ne 0 ]; then
  echo "new_show: a target was missed"
  exit 2
elif [ "$unmeasured" -ne 0 ]; then
  echo "new_show: a figure could not be measured"
  exit 3
fi
echo "new_show: every target met"
