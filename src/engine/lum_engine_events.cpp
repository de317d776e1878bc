// The engine's requests and the events it sends the window thread.
#include "engine/lum_engine.h"

#include "foundation/errors.h"
#include "toolkit/window.h"

namespace lum {

TRef<TOpenParams> TOpenParams::Clone() {
  auto c = MakeRef<TOpenParams>();
  c->paused = paused;
  c->requestNumber = requestNumber;
  c->accessor = std::move(accessor);
  c->document = std::move(document);
  c->position = position;
  return c;
}

TSlideData::TSlideData(TSlideSet s) : set(std::move(s)) {
  if (set.size() > 3) AssertFailed("TLumEngine", "more than three slides in a set");
}

TCustomLumEngine::TCustomLumEngine() : channel_(std::make_shared<TEngineChannel>()) {
  channel_->deliver = [this](TLumEventData& e) { Deliver(e); };
}

TCustomLumEngine::~TCustomLumEngine() {
  std::lock_guard g(channel_->lock);
  channel_->deliver = nullptr;
}

void TCustomLumEngine::PostEvent(TRef<TLumEventData> e) {
  std::shared_ptr<TEngineChannel> ch = channel_;
  TWindowThread::Post([ch, e] {
    std::function<void(TLumEventData&)> deliver;
    {
      std::lock_guard g(ch->lock);
      deliver = ch->deliver;
    }
    if (deliver) deliver(*e);
  });
}

void TCustomLumEngine::Deliver(TLumEventData& e) {
  if (e.code == kEventFirstFrame) {
    if (onFirstFrame) onFirstFrame(e);
  } else if (e.code == kEventPosition) {
    if (e.ints.size() >= 4 && e.ints[0] == requestNumber_.load() && onPosition)
      onPosition(int(e.ints[0]), e.ints[1], e.ints[2], e.ints[3] != 0);
  } else if (onEvent) {
    onEvent(e);
  }
}

}  // namespace lum
