#pragma once
// Prepares slides ahead of the play position: the slide cache keeps up to
// three produced slides around the show time (the nearest missing one is made
// first) and reports each change of its set; the slide loader runs the cache
// on a thread of its own and hands the sets to the engine's queue.
#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/lum_thread.h"
#include "model/slide_producer.h"
#include "render/3d_types.h"

namespace lum {

class TIniFile;

// Show time shared by the engine (writer) and the loader (reader).
struct TTiming {
  std::atomic<double> current{0};
  std::atomic<double> requested{0};
};

// The virtual slide numbers shown at show time t: the slide whose time holds
// t (walking back while the one before is still visible), and the next one
// once its transition has begun. A show that does not repeat stays on its
// last slide past its end.
std::vector<int64_t> SlidesOfTheMoment(const TLumSource& source, double t);

using TSlideSet = std::vector<TRef<TDrawContainer>>;

class TSlideCache {
 public:
  // depth is 1 to 3; anything else is an assertion failure.
  TSlideCache(TRef<TSlideProducer> producer, TLumSource& source, int depth);

  // The virtual numbers wanted at time t: [first, first + depth - 1], not
  // past the last slide of a show that does not repeat.
  std::pair<int64_t, int64_t> Range(double t) const;
  // How many slides that range holds.
  int Wanted(double t) const;
  // Drops slides outside the range and prepares the first missing one (one
  // per call); false when nothing changed.
  bool Update(double t);
  // Updates until the slides of the moment at t are all held (synchronous
  // use: frames without a player).
  void Fill(double t);
  const TSlideSet& Slides() const { return slides_; }
  int Depth() const { return depth_; }
  TSlideProducer& Producer() { return *producer_; }
  // Why the last slide that fell back to a blank one could not be made.
  const std::string& LastFailure() const { return failure_; }

  // Called after each change of the set, with the new set.
  std::function<void(const TSlideSet&)> onSetChanged;
  // Called for each freshly prepared slide.
  std::function<void(TDrawContainer&)> onSlidePrepared;
  // Ends a wait for shadows early (the loader is stopping).
  std::function<bool()> cancelled;

 private:
  bool Holds(int64_t index) const;
  void Insert(TRef<TDrawContainer> c);
  TRef<TDrawContainer> Prepare(int64_t index);
  // Lays the slide out at time t (within its own time) and waits a while for
  // the shadows that asks for, as it waited for its pictures.
  void AwaitShadows(TDrawContainer& c, double t);

  TRef<TSlideProducer> producer_;
  TLumSource& source_;
  int depth_;
  TSlideSet slides_;
  std::string failure_;
};

// How the show asks for its window, read when the loader is made.
struct TWindowRequest {
  int mode = 1;  // "opt_scr_full"
  bool bordered = false;
  int width = 0, height = 0;
  std::string caption;
  // The mode the viewer places the window in: 0 full screen, 1 framed, 2 borderless.
  int ViewerMode() const { return mode == 1 ? 0 : bordered ? 1 : 2; }
};
// screenW x screenH is the size of the screen the show plays on.
TWindowRequest ReadWindowRequest(const TIniFile& document, int screenW, int screenH);

class TLumSlideLoader : public TLumThread {
 public:
  static constexpr int kSlideSetCode = 101;

  // sink receives each new set on the loader thread (a blocking send to the
  // engine in the player). The source and timing must outlive the loader.
  TLumSlideLoader(TLumSource& source, TTiming& timing, int depth,
                  std::function<void(const TSlideSet&)> sink);
  ~TLumSlideLoader() override;

  // The frame the slides are drawn in; the slide rectangle follows.
  void SetFrameSize(int width, int height);
  int FrameWidth() const { return frameW_; }
  int FrameHeight() const { return frameH_; }
  TRect SlideRect() const;
  TSlideCache& Cache() { return cache_; }
  // Any thread: the show time jumped; look at the cache now.
  void Wake();

 protected:
  void LoopBody() override;

 private:
  static constexpr int kBusyWaitMs = 10, kIdleWaitMs = 50, kWakeCode = 1;
  TLumSource& source_;
  TTiming& timing_;
  TSlideCache cache_;
  int frameW_ = 0, frameH_ = 0;
};

}  // namespace lum
