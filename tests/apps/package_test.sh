#!/bin/sh
# Checks the Debian package scripts/package made: its fields and contents,
# lintian, an install into an empty root with dpkg --root (no chroot or
# container needed), the installed programs run, and apt's verdict that the
# package's dependencies are met on this Debian system.
set -eu
deb=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

fields=$(dpkg-deb -f "$deb" Package Version Architecture Depends Recommends)
echo "$fields"
for want in 'Package: lumviewer' 'Architecture: amd64'; do
  printf '%s\n' "$fields" | grep -q "^$want\$" || { echo "package: no '$want'" >&2; exit 1; }
done
# Worked out from the binaries: the libraries the player and the plugin link.
for lib in libsdl2-2.0-0 libsystemd0 libpng16-16 libavcodec59 libc6; do
  printf '%s\n' "$fields" | grep -q "^Depends:.*\b$lib\b" || {
    echo "package: Depends lacks $lib" >&2; exit 1; }
done

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/lumviewer ./usr/bin/lumshow \
         ./usr/lib/x86_64-linux-gnu/lumviewer/liblumvideo.so \
         ./usr/share/lumviewer/demo.lumshow ./usr/share/applications/lumviewer.desktop \
         ./usr/share/mime/packages/lumviewer.xml ./usr/share/thumbnailers/lumviewer.thumbnailer \
         ./usr/share/icons/hicolor/scalable/apps/lumviewer.svg \
         ./usr/share/man/man1/lumviewer.1.gz ./usr/share/man/man1/lumshow.1.gz \
         ./usr/share/doc/lumviewer/copyright ./usr/share/doc/lumviewer/changelog.gz; do
  printf '%s\n' "$contents" | grep -qx "$f" || { echo "package: missing $f" >&2; exit 1; }
done

if command -v lintian >/dev/null; then
  lintian --fail-on error --suppress-tags-from-file /dev/null "$deb"
else
  echo "package: lintian is not installed (scripts/install-deps installs it)" >&2
  exit 1
fi

# An empty root: dpkg's database and nothing else.
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: > "$root/var/lib/dpkg/status"
# The root lacks the libraries, so dpkg's complaints about them are expected.
dpkg --root="$root" --force-depends --log=/dev/null -i "$deb" >"$root/dpkg.txt" 2>&1 || {
  cat "$root/dpkg.txt" >&2; exit 1; }
dpkg --root="$root" -s lumviewer | grep -q '^Status: install ok installed$'
"$root/usr/bin/lumviewer" --help 2>&1 | grep -q '^usage: lumviewer'
"$root/usr/bin/lumshow" info "$root/usr/share/lumviewer/demo.lumshow" >/dev/null
PATH="$root/usr/bin:$PATH" lumshow thumbnail "$root/usr/share/lumviewer/demo.lumshow" \
  "$root/thumb.png" --size 64
dpkg --root="$root" --log=/dev/null -r lumviewer >/dev/null
[ ! -e "$root/usr/bin/lumviewer" ] || { echo "package: removal left lumviewer" >&2; exit 1; }

# apt would install it here: every dependency resolves (simulated, nothing changes).
apt-get install -s "$(realpath "$deb")" > "$root/apt.txt" 2>&1 || {
  cat "$root/apt.txt" >&2; exit 1; }
grep -q '^Inst lumviewer ' "$root/apt.txt" || { cat "$root/apt.txt" >&2; exit 1; }
echo "package checked: $deb"
