#include "video/ffmpeg_dll.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/log.h"
#include "foundation/stream.h"

namespace lum {

namespace {

int32_t ReaderRead(void* user, uint8_t* buffer, int32_t size) {
  try {
    return size <= 0 ? 0 : int32_t(static_cast<TStream*>(user)->Read(buffer, size_t(size)));
  } catch (const std::exception&) {
    return -1;
  }
}

int64_t ReaderSeek(void* user, int64_t offset, int32_t whence) {
  try {
    auto* s = static_cast<TStream*>(user);
    if (whence == 0x10000) return s->Size();
    const TSeekOrigin o = whence == SEEK_SET   ? TSeekOrigin::Begin
                          : whence == SEEK_CUR ? TSeekOrigin::Current
                                               : TSeekOrigin::End;
    return s->Seek(offset, o);
  } catch (const std::exception&) {
    return -1;
  }
}

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

// Where cmake --install puts the plugin, relative to the programs' folder.
#ifndef LUM_PLUGIN_RELDIR
#define LUM_PLUGIN_RELDIR "../lib/lumviewer"
#endif

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
  lib->hasEncoder_ = true;
#define LUM_VIDEO_RESOLVE_OPTIONAL(name, ret, params)           \
  lib->name = reinterpret_cast<ret(*) params>(dlsym(h, #name)); \
  lib->hasEncoder_ = lib->hasEncoder_ && lib->name;
  LUM_VIDEO_ENCODER_FUNCTIONS(LUM_VIDEO_RESOLVE_OPTIONAL)
#undef LUM_VIDEO_RESOLVE_OPTIONAL
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

LumVideoReader StreamReader(TStream& stream) {
  return LumVideoReader{&stream, ReaderRead, ReaderSeek};
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
    if (!dir.empty()) {
      candidates.push_back(dir + "/" + kPluginName);
      candidates.push_back(dir + "/" LUM_PLUGIN_RELDIR "/" + kPluginName);
    }
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
