#include "video/ffmpeg_dll.h"

#include "foundation/log.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <vector>

namespace lum {

namespace {

struct TShared {
  std::mutex lock;
  std::string path;
  bool tried = false;
  // Loaded once and kept for the run: users share it through their own
  // references, and a reload per user would cost a dlopen each time.
  TRef<TFFMpegDll> lib;
};

TShared& Shared() {
  static TShared s;
  return s;
}

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string p(buf, size_t(n));
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

constexpr const char* kPluginName = "liblumvideo.so";

}  // namespace

TRef<TFFMpegDll> TFFMpegDll::Load(const std::string& path, std::string* errorText) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    if (errorText) *errorText = dlerror();
    return nullptr;
  }
  TRef<TFFMpegDll> lib(new TFFMpegDll());
  lib->handle_ = h;
#define LUM_VIDEO_RESOLVE(name, ret, params)                    \
  lib->name = reinterpret_cast<ret(*) params>(dlsym(h, #name)); \
  if (!lib->name) {                                             \
    if (errorText) *errorText = "missing function " #name;      \
    return nullptr;                                             \
  }
  LUM_VIDEO_FUNCTIONS(LUM_VIDEO_RESOLVE)
#undef LUM_VIDEO_RESOLVE
  return lib;
}

TFFMpegDll::~TFFMpegDll() {
  if (handle_) dlclose(handle_);
}

void TFFMpegDll::SetPluginPath(const std::string& path) {
  TShared& s = Shared();
  std::lock_guard guard(s.lock);
  s.path = path;
  s.tried = false;
  s.lib = nullptr;
}

TRef<TFFMpegDll> TFFMpegDll::Acquire() {
  TShared& s = Shared();
  std::lock_guard guard(s.lock);
  if (s.lib || s.tried) return s.lib;
  s.tried = true;
  std::vector<std::string> candidates;
  if (!s.path.empty()) {
    candidates.push_back(s.path);
  } else {
    if (const char* env = std::getenv("LUM_VIDEO_PLUGIN"); env && *env) candidates.push_back(env);
    std::string dir = ExecutableFolder();
    if (!dir.empty()) candidates.push_back(dir + "/" + kPluginName);
    candidates.push_back(kPluginName);
  }
  std::string why;
  for (const std::string& c : candidates) {
    if (TRef<TFFMpegDll> lib = Load(c, &why)) {
      s.lib = lib;
      return lib;
    }
  }
  Log().Line("Video library not available (" + why + "): videos are not shown");
  return nullptr;
}

}  // namespace lum
