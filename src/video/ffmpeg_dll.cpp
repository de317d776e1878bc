#include "video/ffmpeg_dll.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/log.h"
#include "foundation/paths.h"
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

constexpr const char* kPluginName = "liblumvideo.so";

// The installed plugin folder (absolute, fixed when the build was configured)
// and the build folder, whose programs use the copy the build puts beside them.
#ifndef LUM_PLUGIN_DIR
#define LUM_PLUGIN_DIR "/usr/local/lib/lumviewer"
#endif
#ifndef LUM_BUILD_TREE
#define LUM_BUILD_TREE ""
#endif

bool InsideBuildTree(const std::string& executable) {
  const std::string tree = LUM_BUILD_TREE;
  return !tree.empty() && executable.size() > tree.size() + 1 &&
         executable.compare(0, tree.size() + 1, tree + "/") == 0;
}

// Never the running program's folder in general: a self-playing show is a
// program, and a library planted beside a downloaded one would run its code.
std::vector<std::string> PluginCandidates() {
  std::vector<std::string> out;
  if (const char* env = std::getenv("LUM_VIDEO_PLUGIN"); env && *env) out.push_back(env);
  if (InsideBuildTree(ExecutablePath())) out.push_back(ExecutableFolder() + kPluginName);
  out.push_back(std::string(LUM_PLUGIN_DIR) + "/" + kPluginName);
  return out;
}

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
  const std::vector<std::string> candidates =
      s.path.empty() ? PluginCandidates() : std::vector<std::string>{s.path};
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
