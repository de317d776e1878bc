#!/bin/sh
# Runs every example of README.md and docs/*.md so the documentation cannot go
# stale: each fenced block marked ```sh is run by itself (sh -eu) in a new
# temporary folder holding the demo show as demo.lumshow and its project
# folder as demo/, with the built lumshow and lumviewer first on PATH, off
# screen, with no sound device. Blocks marked ```text or ```console are not
# run. A lumviewer example must end itself: every line that starts lumviewer
# names -control (and the block sends "quit") or runs it under timeout. A block
# that fails, or runs past 300 s (a hang), fails the test.
# Usage: doc_examples_test.sh SOURCE_DIR BUILD_DIR
set -eu
src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
PATH="$build/apps/lumshow:$build/apps/lumviewer:$PATH"
SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy LUM_GL_DEBUG=1
export PATH SDL_VIDEODRIVER SDL_AUDIODRIVER LUM_GL_DEBUG

# Splits the runnable blocks of one page into $work/blocks/<page>-<n>.sh.
extract() {
  awk -v out="$work/blocks/$(basename "$1" .md)" '
    /^```sh[ \t]*$/ { n++; file = out "-" n ".sh"; inside = 1; next }
    /^```/ && inside { inside = 0; close(file); next }
    inside { print > file }' "$1"
}

mkdir "$work/blocks"
for page in "$src/README.md" "$src"/docs/*.md; do [ ! -f "$page" ] || extract "$page"; done
count=$(find "$work/blocks" -name '*.sh' | wc -l)
[ "$count" -ge 5 ] || { echo "only $count runnable examples found"; exit 1; }

failed=0
for block in "$work"/blocks/*.sh; do
  name=$(basename "$block" .sh)
  if grep -n 'lumviewer' "$block" | grep -v -e '-control' -e 'timeout' | grep -q .; then
    echo "FAIL $name: lumviewer without -control or timeout"; failed=1; continue
  fi
  dir="$work/run-$name"
  mkdir "$dir"
  cp "$build/data/demo/demo.lumshow" "$dir/"
  cp -R "$src/data/demo" "$dir/demo"
  if (cd "$dir" && timeout 300 sh -eu "$block") >"$dir.log" 2>&1; then
    echo "ok   $name"
  else
    echo "FAIL $name:"; sed 's/^/    /' "$block"; echo "  output:"; tail -20 "$dir.log" | sed 's/^/    /'
    failed=1
  fi
done
exit $failed
