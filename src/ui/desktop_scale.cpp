#include "ui/desktop_scale.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace lum {

namespace {

// The X resources of the display SDL uses, read over a connection of our
// own: libX11 is opened at run time, as SDL opens it, so the player has no
// link-time tie to X11.
std::string XResources() {
  using OpenFn = void* (*)(const char*);
  using CloseFn = int (*)(void*);
  using ResourcesFn = char* (*)(void*);
  void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return {};
  auto open = reinterpret_cast<OpenFn>(dlsym(lib, "XOpenDisplay"));
  auto close = reinterpret_cast<CloseFn>(dlsym(lib, "XCloseDisplay"));
  auto resources = reinterpret_cast<ResourcesFn>(dlsym(lib, "XResourceManagerString"));
  std::string out;
  if (void* display = open && close && resources ? open(nullptr) : nullptr) {
    if (const char* text = resources(display)) out = text;
    close(display);
  }
  dlclose(lib);
  return out;
}

}  // namespace

std::optional<double> XftDpi(std::string_view resources) {
  constexpr std::string_view kName = "Xft.dpi:";
  for (size_t start = 0; start < resources.size();) {
    size_t end = resources.find('\n', start);
    if (end == std::string_view::npos) end = resources.size();
    const std::string_view line = resources.substr(start, end - start);
    start = end + 1;
    if (line.substr(0, kName.size()) != kName) continue;
    const std::string value(line.substr(kName.size()));
    char* rest = nullptr;
    const double dpi = std::strtod(value.c_str(), &rest);
    if (rest == value.c_str() || !(dpi >= 24 && dpi <= 960)) return std::nullopt;
    return dpi;
  }
  return std::nullopt;
}

std::optional<double> DesktopDpi() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0) return std::nullopt;
  return XftDpi(XResources());
}

}  // namespace lum
