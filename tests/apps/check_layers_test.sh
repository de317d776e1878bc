#!/bin/sh
# scripts/check-layers against a tiny tree that uses the real layer table:
# a wrong-way include fails naming its line, a downward one passes, and the
# real tree passes.
# usage: check_layers_test.sh SOURCE_DIR
set -eu
src=$1
check="$src/scripts/check-layers"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$tree/docs" "$tree/src/model" "$tree/src/engine" "$tree/apps/tool"
cp "$src/docs/architecture.md" "$tree/docs/"
printf '#pragma once\n' > "$tree/src/engine/engine.h"
printf '#pragma once\n#include "model/object.h"\n#include <vector>\n' > "$tree/src/engine/player.h"
printf '#pragma once\n#include "generated_config.h"\n' > "$tree/src/model/object.h"
printf '#include "engine/player.h"\n#include "helper.h"\n' > "$tree/apps/tool/main.cpp"
printf '#pragma once\n' > "$tree/apps/tool/helper.h"
"$check" "$tree" > "$tree/out" 2>&1 || fail "a tree in order was refused: $(cat "$tree/out")"

# The model reaching up into the engine: refused, naming the line.
printf '#pragma once\n#include "generated_config.h"\n  #  include "engine/engine.h"\n' \
  > "$tree/src/model/object.h"
if "$check" "$tree" > "$tree/out" 2>&1; then fail "a wrong-way include passed"; fi
grep -q '^src/model/object.h:3: #  include "engine/engine.h"' "$tree/out" ||
  fail "the offending line is not named: $(cat "$tree/out")"
[ "$(grep -c '^src/' "$tree/out")" -eq 1 ] || fail "more than the one line: $(cat "$tree/out")"

# A back end is reached only through the render table: even the programs may
# not include its headers.
printf '#pragma once\n' > "$tree/src/model/object.h"
mkdir -p "$tree/src/render/gl" && printf '#pragma once\n' > "$tree/src/render/gl/engine_gl.h"
printf '#include "render/gl/engine_gl.h"\n' > "$tree/apps/tool/main.cpp"
if "$check" "$tree" > "$tree/out" 2>&1; then fail "an include of the GL back end passed"; fi
grep -q '^apps/tool/main.cpp:1: .*apps (floor 18) includes src/render/gl' "$tree/out" ||
  fail "the back-end include is not named: $(cat "$tree/out")"
rm -r "$tree/src/render"

# A source in a folder the table does not name is refused too.
mkdir -p "$tree/src/stray" && printf '\n' > "$tree/src/stray/x.h"
if "$check" "$tree" > "$tree/out" 2>&1; then fail "a folder outside the table passed"; fi
grep -q '^src/stray/x.h: in no folder of the layer table' "$tree/out" ||
  fail "the stray folder is not named: $(cat "$tree/out")"

# No table at all is an error of its own.
rm "$tree/docs/architecture.md"
set +e; "$check" "$tree" > /dev/null 2>&1; rc=$?; set -e
[ "$rc" -eq 2 ] || fail "a tree without its table gave $rc, not 2"

"$check" "$src" || fail "the real tree breaks the layer order"
echo "check-layers tests passed"
