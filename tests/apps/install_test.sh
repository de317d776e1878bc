#!/bin/sh
# Installs the build into a fresh prefix and checks what a desktop needs:
# both programs, the video plugin, the demo, the desktop entry, the show type, the icon, the
# thumbnailer and the manual pages, with the desktop's own validators where they are installed.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/lumviewer bin/lumshow share/lumviewer/demo.lumshow \
         share/applications/lumviewer.desktop share/mime/packages/lumviewer.xml \
         share/icons/hicolor/scalable/apps/lumviewer.svg \
         share/man/man1/lumviewer.1 share/man/man1/lumshow.1 \
         share/thumbnailers/lumviewer.thumbnailer \
         share/doc/lumviewer/copyright share/doc/lumviewer/changelog; do
  [ -s "$prefix/$f" ] || { echo "missing: $f" >&2; exit 1; }
done
[ -x "$prefix/bin/lumviewer" ] || { echo "lumviewer is not executable" >&2; exit 1; }
grep -q '^MimeType=application/x-lumshow;$' "$prefix/share/applications/lumviewer.desktop"
grep -q 'pattern="\*.lumshow"' "$prefix/share/mime/packages/lumviewer.xml"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/lumviewer.desktop"
fi
if command -v xmllint >/dev/null; then
  xmllint --noout "$prefix/share/mime/packages/lumviewer.xml" "$prefix/share/icons/hicolor/scalable/apps/lumviewer.svg"
fi
# The video plugin, where one was built, goes to the player's library folder.
if [ -e "$build/plugins/lumvideo/liblumvideo.so" ]; then
  ls "$prefix"/lib*/lumviewer/liblumvideo.so >/dev/null || { echo "missing: the video plugin" >&2; exit 1; }
fi
# The installed lumshow still finds what it needs, away from the build tree.
"$prefix/bin/lumshow" info "$prefix/share/lumviewer/demo.lumshow" >/dev/null
# A file manager's run of the thumbnailer: its Exec line with the file, the
# output and the size put in, the program found on the search path.
thumbnailer="$prefix/share/thumbnailers/lumviewer.thumbnailer"
grep -q '^MimeType=application/x-lumshow;$' "$thumbnailer"
exec_line=$(sed -n 's/^Exec=//p' "$thumbnailer")
out="$prefix/thumbnail.png"
cmd=$(printf '%s\n' "$exec_line" | sed -e "s|%i|$prefix/share/lumviewer/demo.lumshow|" \
        -e "s|%o|$out|" -e 's|%s|128|')
# shellcheck disable=SC2086 # the Exec line is split as the file manager splits it
PATH="$prefix/bin:$PATH" SDL_VIDEODRIVER=x11 $cmd
# PNG, 128 wide (the demo is 16:9): bytes 16-19 of the header hold the width.
[ "$(od -An -tx1 -j16 -N4 "$out" | tr -d ' \n')" = "00000080" ] || {
  echo "the thumbnail is not a 128 pixel wide PNG" >&2; exit 1; }
echo "installed and checked in $prefix"
