#pragma once
// Frame extraction ahead of drawing (TLumVideoExtractor, one per frame
// source): a worker thread decodes into a small pool of frame images, each
// tagged with the frame it holds, so that drawing never waits for the
// decoder. Callers take the nearest frame for a video time and give images
// back when done with them.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "video/video_source.h"

namespace lum {

class TLumVideoExtractor : public TRefObject {
 public:
  // loop: past the last frame the index wraps round instead of staying.
  explicit TLumVideoExtractor(TRef<TWinVideoSource> source, bool loop = false);
  ~TLumVideoExtractor() override;

  TWinVideoSource& Source() const { return *source_; }
  int64_t IndexAt(double ms) const;
  // The frame after n: the first again when looping, n itself at the end.
  int64_t NextIndex(int64_t n) const;

  // A frame for video time ms, shown at displayRate frames a second: the
  // pooled image nearest to the wanted index (null while none holds a frame).
  // exact tells whether it is the wanted one. The next frame is asked for.
  std::unique_ptr<TVideoFrame> Take(double ms, double displayRate, bool* exact = nullptr);
  // Returns an image to the pool; lost content (index -2) is decoded again.
  void Give(std::unique_ptr<TVideoFrame> frame);
  // Asks for the frame of ms unless pooled; with wait, blocks until it is
  // decoded, failed or timeoutMs passed. True when the frame is pooled.
  bool Prepare(double ms, bool wait, int timeoutMs = 10000);
  // Pool entries (held by the pool, not handed out).
  size_t PoolSize() const;

 private:
  void Run();
  void Grow();
  // Under the lock: index of the entry holding n, else -1.
  int FindEntry(int64_t n) const;
  int NearestEntry(int64_t n) const;
  int FarthestEntry(int64_t n) const;

  TRef<TWinVideoSource> source_;
  bool loop_;
  mutable std::mutex lock_;
  std::condition_variable wake_, done_;
  std::vector<std::unique_ptr<TVideoFrame>> pool_;
  size_t capacity_ = 4, outstanding_ = 0;
  int64_t wanted_ = -1, failed_ = -1;
  bool stop_ = false;
  std::thread worker_;
};

// The extractor of a file, shared by every object showing it; a new one is
// opened through open() when none is alive.
TRef<TLumVideoExtractor> SharedExtractor(const std::string& key,
                                         const std::function<TRef<TWinVideoSource>()>& open);

}  // namespace lum
