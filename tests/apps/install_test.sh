#!/bin/sh
# Installs the build into a fresh prefix and checks what a desktop needs:
# both programs, the video plugin, the demo, the desktop entry, the show type, the icon and the
# manual pages, with the desktop's own validators where they are installed.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/lumviewer bin/lumshow share/lumviewer/demo.lumshow \
         share/applications/lumviewer.desktop share/mime/packages/lumviewer.xml \
         share/icons/hicolor/scalable/apps/lumviewer.svg \
         share/man/man1/lumviewer.1 share/man/man1/lumshow.1; do
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
echo "installed and checked in $prefix"
