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

class TLumVideoExtractor : public TVideoFrameSource {
 public:
  // loop: past the last frame the index wraps round instead of staying.
  explicit TLumVideoExtractor(TRef<TWinVideoSource> source, bool loop = false);
  ~TLumVideoExtractor() override;

  TWinVideoSource& Source() const { return *source_; }
  double DurationMs() const override { return source_->DurationMs(); }
  int32_t RateNum() const override { return source_->RateNum(); }
  int32_t RateDen() const override { return source_->RateDen(); }
  bool Interlaced() const override { return source_->Interlaced(); }
  bool TopFieldFirst() const override { return source_->TopFieldFirst(); }
  int64_t IndexAt(double ms) const override;
  // The frame after n: the first again when looping, n itself at the end.
  int64_t NextIndex(int64_t n) const;

  // The pooled image nearest to the wanted index; the next frame is asked for.
  std::unique_ptr<TVideoFrame> Take(double ms, double displayRate, bool* exact = nullptr) override;
  // Returns an image to the pool; lost content (index -2) is decoded again.
  void Give(std::unique_ptr<TVideoFrame> frame) override;
  // True when the frame of ms is pooled.
  bool Prepare(double ms, bool wait, int timeoutMs = 10000) override;
  // Pool entries (held by the pool, not handed out).
  size_t PoolSize() const;

 private:
  void Run();
  void Grow();
  // Under the lock: index of the entry holding n, else -1.
  int FindEntry(int64_t n) const;
  int NearestEntry(int64_t n) const;
  int FarthestEntry(int64_t n) const;
  // Under the lock: an image that is empty or holds a frame before the one
  // shown (not the one prepared), else -1.
  int StaleEntry() const;
  // Under the lock: the first frame after the one shown, within kReadAhead,
  // that is neither pooled nor failed while a stale image can take it; -1
  // when there is none.
  int64_t AheadTarget() const;

  TRef<TWinVideoSource> source_;
  bool loop_;
  mutable std::mutex lock_;
  std::condition_variable wake_, done_;
  std::vector<std::unique_ptr<TVideoFrame>> pool_;
  size_t capacity_ = 4, outstanding_ = 0;
  int64_t wanted_ = -1, failed_ = -1;
  // The frame last taken for its time: the worker decodes a little past it
  // so that the next ones are there by their time.
  int64_t playing_ = -1;
  // The frame last prepared: kept from reuse until another is prepared, so
  // that reading ahead for a later position cannot take it before it is shown.
  int64_t prepared_ = -1;
  static constexpr int kReadAhead = 2;
  bool stop_ = false;
  std::thread worker_;
};

// The extractor of a file, shared by every object showing it; a new one is
// opened through open() when none is alive.
TRef<TLumVideoExtractor> SharedExtractor(const std::string& key,
                                         const std::function<TRef<TWinVideoSource>()>& open);

// Closes the extractors no object uses any more (their decoding threads
// end here, not at process exit). Shows call it when they close.
void ReleaseUnusedVideoExtractors();

// Makes video objects take their frames from shared extractors over the
// video library (once; later calls do nothing).
void InstallVideoFrameSources();

}  // namespace lum
