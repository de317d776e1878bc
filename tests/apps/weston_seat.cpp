// A weston module that gives the compositor one seat with a pointer and a
// keyboard. Weston's headless back end has no seat, and SDL's Wayland driver
// (2.26, Debian 12) crashes at start without one; the viewer's Wayland run
// (tests/apps/wayland_test.sh) loads this with --modules.
#include <cstdlib>
extern "C" {
#include <libweston/libweston.h>
// Exported by libweston, declared only in its private headers.
void weston_seat_init(struct weston_seat* seat, struct weston_compositor* ec, const char* name);
int weston_seat_init_pointer(struct weston_seat* seat);
int weston_seat_init_keyboard(struct weston_seat* seat, struct xkb_keymap* keymap);
WL_EXPORT int wet_module_init(struct weston_compositor* compositor, int*, char**);
}
WL_EXPORT int wet_module_init(struct weston_compositor* compositor, int*, char**) {
  auto* seat = static_cast<weston_seat*>(std::calloc(1, sizeof(weston_seat)));
  if (!seat) return -1;
  weston_seat_init(seat, compositor, "default");
  weston_seat_init_pointer(seat);
  return weston_seat_init_keyboard(seat, nullptr) < 0 ? -1 : 0;
}
