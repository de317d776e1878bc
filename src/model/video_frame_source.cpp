#include "model/video_frame_source.h"

#include <mutex>

namespace lum {

namespace {

std::mutex gFactoryLock;
TVideoSourceFactory gFactory;

}  // namespace

void TVideoFrame::Resize(int w, int h) {
  width = w;
  height = h;
  y.resize(size_t(w) * size_t(h));
  u.resize(size_t(ChromaWidth()) * size_t(ChromaHeight()));
  v.resize(u.size());
}

void SetVideoSourceFactory(TVideoSourceFactory factory) {
  std::lock_guard<std::mutex> l(gFactoryLock);
  gFactory = std::move(factory);
}

TRef<TVideoFrameSource> OpenVideoSource(const std::string& key, const std::string& fileName,
                                        const TVideoStreamOpener& openStream) {
  TVideoSourceFactory f;
  {
    std::lock_guard<std::mutex> l(gFactoryLock);
    f = gFactory;
  }
  return f ? f(key, fileName, openStream) : nullptr;
}

}  // namespace lum
