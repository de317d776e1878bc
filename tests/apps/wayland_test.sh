#!/bin/sh
# The player's viewer tests under a Wayland compositor: weston's headless back
# end (with the seat module the build makes, tests/apps/weston_seat.cpp) and
# SDL's Wayland driver. BUILD is the build folder; GTEST_OUTPUT, when set,
# collects the reports as for ctest.
set -eu
build=$(realpath "$1")
seat="$build/tests/libweston_test_seat.so"
[ -e "$seat" ] || { echo "wayland: $seat is missing (libweston-10-dev not installed?)" >&2; exit 1; }
# Weston wants a private runtime folder; the player keeps its own files there too.
runtime=$(mktemp -d)
chmod 700 "$runtime"
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --socket=wayland-lum \
  --idle-time=0 --no-config --modules="$seat" >"$runtime/weston.log" 2>&1 &
weston=$!
trap 'kill $weston 2>/dev/null; wait $weston 2>/dev/null; rm -rf "$runtime"' EXIT
i=0
until [ -S "$runtime/wayland-lum" ]; do
  i=$((i + 1))
  if [ $i -gt 100 ] || ! kill -0 $weston 2>/dev/null; then
    echo "wayland: weston did not start:" >&2
    cat "$runtime/weston.log" >&2
    exit 1
  fi
  sleep 0.1
done
# The socket by its full path: tests give the player runtime folders of their own.
export XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$runtime/wayland-lum" SDL_VIDEODRIVER=wayland \
  SDL_AUDIODRIVER=dummy
# What X11 runs under a virtual server, plus the media controls and the
# desktop session's own checks.
"$build/tests/lumviewer_tests" \
  --gtest_filter='LumviewerPlay.Demo*:LumviewerPlay.Keys*:LumviewerPlay.AFullScreen*:LumviewerFrames.*:MediaControls.*'
"$build/tests/lumviewer_desktop_tests"
