# Sourced by the memory benchmarks: make_big_pictures DIR COUNT [SIZE] makes
# COUNT distinct JPEGs p1.jpg … in DIR (kept there for later runs): a fractal
# plasma of its own seed, enlarged to SIZE (default 6000x4000, 24 megapixels,
# which still compresses to about half a megabyte at quality 60).
make_big_picture() {
  local out=$1/p$2.jpg
  [ -s "$out" ] && return 0
  convert -seed "$2" -size 600x400 plasma:fractal -resize "${3:-6000x4000}!" -quality 60 "$out.part.jpg"
  mv "$out.part.jpg" "$out"
}
export -f make_big_picture

make_big_pictures() {
  mkdir -p "$1"
  seq 1 "$2" | xargs -P 2 -I{} bash -c 'make_big_picture "$0" {} "$1"' "$1" "${3:-6000x4000}"
}
