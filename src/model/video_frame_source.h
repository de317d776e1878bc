#pragma once
// What a video object needs of its file: decoded frames by video time and
// the file's rate and field order. The video layer implements it over the
// video library and installs a factory at start-up; without one, video
// objects show their placeholder, as when the library is missing.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ref_object.h"
#include "foundation/stream.h"

namespace lum {

// One decoded picture in planar YUV 4:2:0, tightly packed.
struct TVideoFrame {
  int64_t index = -2;  // -2 empty
  int width = 0, height = 0;
  std::vector<uint8_t> y, u, v;
  int ChromaWidth() const { return (width + 1) / 2; }
  int ChromaHeight() const { return (height + 1) / 2; }
  void Resize(int w, int h);
};

class TVideoFrameSource : public TRefObject {
 public:
  // Length of the file in ms (0 when unknown).
  virtual double DurationMs() const = 0;
  virtual int32_t RateNum() const = 0;
  virtual int32_t RateDen() const = 0;
  virtual bool Interlaced() const = 0;
  virtual bool TopFieldFirst() const = 0;
  // Index of the frame shown at video time ms.
  virtual int64_t IndexAt(double ms) const = 0;
  // A frame for video time ms, shown at displayRate frames a second: the
  // nearest one decoded (null while none is); exact tells whether it is the
  // wanted one. Callers give it back when done.
  virtual std::unique_ptr<TVideoFrame> Take(double ms, double displayRate,
                                            bool* exact = nullptr) = 0;
  virtual void Give(std::unique_ptr<TVideoFrame> frame) = 0;
  // Asks for the frame of ms; with wait, blocks until it is decoded, failed
  // or timeoutMs passed. True when it is ready.
  virtual bool Prepare(double ms, bool wait, int timeoutMs = 10000) = 0;
};

using TVideoStreamOpener = std::function<std::unique_ptr<TStream>()>;
// Opens the source of fileName (its bytes through openStream); objects
// giving the same key share one source. Null, with the reason logged, when
// the file cannot be shown.
using TVideoSourceFactory = std::function<TRef<TVideoFrameSource>(
    const std::string& key, const std::string& fileName, const TVideoStreamOpener& openStream)>;

// Installs the factory (an empty one removes it); thread-safe.
void SetVideoSourceFactory(TVideoSourceFactory factory);
// The installed factory's source, or null without one.
TRef<TVideoFrameSource> OpenVideoSource(const std::string& key, const std::string& fileName,
                                        const TVideoStreamOpener& openStream);

}  // namespace lum
