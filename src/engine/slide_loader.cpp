#include "engine/slide_loader.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>

#include "document/ini_file.h"
#include "document/ini_values.h"
#include "effects/real_slide_filter.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "model/lum_slide.h"
#include "project/lum_source.h"

namespace lum {

namespace {
// Walking the timeline never needs more steps than this.
constexpr int kMaxCursorSteps = 1 << 20;
// A slide waits at most this long for shadows made off its thread.
constexpr auto kShadowWait = std::chrono::milliseconds(2000);
constexpr auto kShadowPoll = std::chrono::milliseconds(2);

bool ShadowsPending(const TLumSlide& slide) {
  const std::vector<TLumObject*> objects = slide.AllObjects();
  return std::any_of(objects.begin(), objects.end(),
                     [](const TLumObject* o) { return o->CastShadow().pending; });
}
}  // namespace

std::vector<int64_t> SlidesOfTheMoment(const TLumSource& source, double x) {
  const double t = std::round(x);
  // A show that does not repeat rests on its last slide after its end.
  const int64_t last = source.Repeats() ? INT64_MAX : source.SlideCount() - 1;
  auto visibleUntil = [&](int64_t i) { return std::round(source.Slide(i).endWithNext); };
  int64_t c = std::min(source.SlideAt(t), last);
  for (int k = 0; k < kMaxCursorSteps && c > -1 && visibleUntil(c - 1) > t; ++k) --c;
  for (int k = 0; k < kMaxCursorSteps && c < last && visibleUntil(c) < t; ++k) ++c;
  std::vector<int64_t> out{c};
  if (c >= last) return out;
  const TLumSlideRecord next = source.Slide(c + 1);
  if (t >= next.start && t <= next.endWithNext) out.push_back(c + 1);
  return out;
}

TSlideCache::TSlideCache(TRef<TSlideProducer> producer, TLumSource& source, int depth)
    : producer_(std::move(producer)), source_(source), depth_(depth) {
  if (depth < 1 || depth > 3) AssertFailed("TSlideCache", "cache depth out of range");
  if (!producer_) AssertFailed("TSlideCache", "no slide producer");
}

std::pair<int64_t, int64_t> TSlideCache::Range(double t) const {
  const int64_t first = SlidesOfTheMoment(source_, t).front();
  int64_t last = first + depth_ - 1;
  if (!source_.Repeats()) last = std::min<int64_t>(last, source_.SlideCount() - 1);
  return {first, std::max(first, last)};
}

int TSlideCache::Wanted(double t) const {
  const auto [first, last] = Range(t);
  return int(last - first + 1);
}

bool TSlideCache::Holds(int64_t index) const {
  return std::any_of(slides_.begin(), slides_.end(), [&](auto& c) { return c->index == index; });
}

void TSlideCache::Insert(TRef<TDrawContainer> c) {
  auto at = std::find_if(slides_.begin(), slides_.end(),
                         [&](auto& s) { return s->index > c->index; });
  slides_.insert(at, std::move(c));
}

TRef<TDrawContainer> TSlideCache::Prepare(int64_t index) {
  Log().Line("....................................... " + std::to_string(index));
  TRef<TDrawContainer> c = producer_->Produce(index);
  if (c) {
    // A slide-based transition's effect slide is made here, off the
    // drawing thread, rather than on its first frame.
    PrepareSlideEffect(*c);
    return c;
  }
  // A slide that cannot be made still keeps its time: the show goes on
  // over a blank slide instead of waiting for it forever.
  failure_ = "slide " + std::to_string(index) + " could not be prepared: " + producer_->LastError();
  Log().Line("TSlideCache: " + failure_);
  c = producer_->ProduceBlank(index);
  c->failure = failure_;
  return c;
}

// An object drawn without its shadow is a wrong frame, not a slow one: the
// first frame after a jump (and a capture of it) shows the shadows too.
// Objects that change size later draw their previous shadow until the new
// one is made, as the player always did.
void TSlideCache::AwaitShadows(TDrawContainer& c, double t) {
  if (!c.slide) return;
  const double at = std::clamp(t, c.record.start, c.record.endWithNext);
  c.slide->SetTimeAndLayout(true, at);
  const auto until = std::chrono::steady_clock::now() + kShadowWait;
  while (ShadowsPending(*c.slide) && std::chrono::steady_clock::now() < until &&
         !(cancelled && cancelled())) {
    std::this_thread::sleep_for(kShadowPoll);
    // Laying out again takes the shadows that are ready.
    c.slide->SetTimeAndLayout(true, at);
  }
}

bool TSlideCache::Update(double t) {
  const auto [first, last] = Range(t);
  bool changed = false;
  for (size_t i = 0; slides_.size() >= 2 && i < slides_.size();) {
    const int64_t n = slides_[i]->index;
    if (n >= first && n <= last) {
      ++i;
      continue;
    }
    slides_.erase(slides_.begin() + ptrdiff_t(i));
    changed = true;
    if (onSetChanged) onSetChanged(slides_);
  }
  for (int64_t n = first; n <= last; ++n) {
    if (Holds(n)) continue;
    TRef<TDrawContainer> c = Prepare(n);
    if (onSlidePrepared) onSlidePrepared(*c);
    AwaitShadows(*c, t);
    Insert(std::move(c));
    if (onSetChanged) onSetChanged(slides_);
    return true;
  }
  return changed;
}

void TSlideCache::Fill(double t) {
  const std::vector<int64_t> needed = SlidesOfTheMoment(source_, t);
  auto ready = [&] {
    return std::all_of(needed.begin(), needed.end(), [&](int64_t n) { return Holds(n); });
  };
  // Each update either drops or prepares; the range is finite, so this ends.
  for (int k = 0; k < 2 * depth_ + 2 && !ready(); ++k) Update(t);
}

TWindowRequest ReadWindowRequest(const TIniFile& document, int screenW, int screenH) {
  const TIniList* main = document.Section("main");
  TWindowRequest r;
  r.mode = ReadInteger(main, "opt_scr_full", 1);
  r.bordered = r.mode == 0 && !ReadBool(main, "opt_withoutborder", true);
  if (r.bordered)
    r.caption = ReadString(main, "opt_scr_caption", ReadString(main, "projectname", "LumShow"));
  r.width = screenW;
  r.height = screenH;
  if (r.mode == 0 || r.mode == 3) {
    r.width = ReadInteger(main, "opt_scr_width", 640);
    r.height = ReadInteger(main, "opt_scr_height", 480);
  }
  return r;
}

TLumSlideLoader::TLumSlideLoader(TLumSource& source, TTiming& timing, int depth,
                                 std::function<void(const TSlideSet&)> sink)
    : source_(source), timing_(timing), cache_(MakeRef<TSlideProducer>(source), source, depth) {
  cache_.onSetChanged = std::move(sink);
  cache_.cancelled = [this] { return Terminated(); };
}

TLumSlideLoader::~TLumSlideLoader() {
  Stop();
}

void TLumSlideLoader::SetFrameSize(int width, int height) {
  frameW_ = std::max(10, width);
  frameH_ = std::max(10, height);
  cache_.Producer().SetFrame(frameW_, frameH_);
}

TRect TLumSlideLoader::SlideRect() const {
  const TPresentationArea a = const_cast<TSlideCache&>(cache_).Producer().Area();
  return {a.left, a.top, a.right, a.bottom};
}

void TLumSlideLoader::LoopBody() {
  // With every wanted slide held the loader looks less often; a jump in
  // time wakes it (Wake).
  const bool busy = cache_.Update(timing_.current.load());
  Events().WaitFor(std::chrono::milliseconds(busy ? kBusyWaitMs : kIdleWaitMs));
  Events().Drain();
}

void TLumSlideLoader::Wake() {
  Events().Post(kWakeCode);
}

}  // namespace lum
