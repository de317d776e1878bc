#pragma once
// Binding of the video library plugin, loaded at run time with dlopen and
// shared by all users. Every exported function must resolve, otherwise the
// library is released and counts as absent.
#include <mutex>
#include <string>

#include "foundation/ref_object.h"
#include "video/lumvideo_api.h"
#include "video/lumvideo_encoder_api.h"

namespace lum {

class TStream;

// A reader over one of our streams for OpenMediaFile; the stream must
// outlive the media opened through it. Errors of the stream read as -1.
LumVideoReader StreamReader(TStream& stream);

class TFFMpegDll : public TRefObject {
 public:
  // The process-wide library, loading it on first use from the plugin path
  // (SetPluginPath, else $LUM_VIDEO_PLUGIN, else liblumvideo.so in the
  // installed plugin folder; a program run from the build folder also takes
  // the copy beside it). Nothing when it is absent; absence is remembered
  // until SetPluginPath is called again.
  static TRef<TFFMpegDll> Acquire();
  // Chooses where Acquire looks; an empty path restores the search.
  static void SetPluginPath(const std::string& path);
  // Loads one file; nothing when it cannot be loaded or lacks a function.
  // errorText gets the reason.
  static TRef<TFFMpegDll> Load(const std::string& path, std::string* errorText = nullptr);

  ~TFFMpegDll() override;

#define LUM_VIDEO_MEMBER(name, ret, params) ret(*name) params = nullptr;
  LUM_VIDEO_FUNCTIONS(LUM_VIDEO_MEMBER)
  // The encoder is optional: null members when the library has none.
  LUM_VIDEO_ENCODER_FUNCTIONS(LUM_VIDEO_MEMBER)
#undef LUM_VIDEO_MEMBER

  // Whether every encoder function resolved.
  bool HasEncoder() const { return hasEncoder_; }

  // Opening media files is serialised process-wide.
  std::mutex& OpenLock() {
    return openLock_;
  }

 private:
  TFFMpegDll() = default;
  void* handle_ = nullptr;
  bool hasEncoder_ = false;
  std::mutex openLock_;
};

}  // namespace lum
