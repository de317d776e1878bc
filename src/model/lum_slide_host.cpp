#include "model/lum_slide_host.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "imaging/picture_cache.h"
#include "model/button_producer.h"
#include "model/shadow_service.h"
#include "model/special_pictures.h"

namespace lum {

// What the resolver needs of a host, kept apart so that a host may go while
// a picture of its source is being decoded.
struct TPictureResolverState {
  TRef<TFileAccessor> accessor;
  std::atomic<int> width{0}, height{0};
};

namespace {

// One callback per file source, handing names to the first host attached to
// it: the cache keeps callbacks per source and can only drop them all.
struct TResolverRegistry {
  std::mutex lock;
  std::unordered_map<uint64_t, std::vector<std::shared_ptr<TPictureResolverState>>> hosts;
};

TResolverRegistry& Registry() {
  static TResolverRegistry* r = new TResolverRegistry;  // outlives static destructors
  return *r;
}

TRef<TImage> Resolve(uint64_t sequence, std::string_view name) {
  std::shared_ptr<TPictureResolverState> state;
  {
    TResolverRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.hosts.find(sequence);
    if (it == r.hosts.end() || it->second.empty()) return nullptr;
    state = it->second.front();
  }
  TSpecialPictureContext context;
  context.accessor = state->accessor.Get();
  context.bufferWidth = state->width.load();
  context.bufferHeight = state->height.load();
  return ResolveSpecialPicture(name, context);
}

}  // namespace

TLumSlideHost::TLumSlideHost() : resolver_(std::make_shared<TPictureResolverState>()) {}

TLumSlideHost::~TLumSlideHost() {
  DetachResolver();
}

namespace {
std::atomic<bool> synchronousShadows{false};
}  // namespace

void TLumSlideHost::SetSynchronousShadows(bool on) {
  synchronousShadows = on;
}

TShadowService* TLumSlideHost::Shadows() const {
  if (synchronousShadows) return nullptr;
  std::call_once(shadowsMade_, [this] { shadows_ = std::make_unique<TShadowService>(); });
  return shadows_.get();
}

void TLumSlideHost::SetAccessor(TRef<TFileAccessor> accessor) {
  DetachResolver();
  buttons_.reset();
  accessor_ = std::move(accessor);
  resolver_->accessor = accessor_;
  if (!accessor_) return;
  const TFileSource& source = accessor_->Source();
  const uint64_t sequence = source.Sequence();
  TResolverRegistry& r = Registry();
  // The cache's lock is taken inside ours, never the other way round: the
  // cache calls resolvers after letting go of its lock.
  std::lock_guard<std::mutex> guard(r.lock);
  auto& list = r.hosts[sequence];
  if (list.empty())
    AddImageCallback(source, [sequence](std::string_view name) { return Resolve(sequence, name); });
  list.push_back(resolver_);
}

void TLumSlideHost::DetachResolver() {
  if (!accessor_) return;
  const TFileSource& source = accessor_->Source();
  TResolverRegistry& r = Registry();
  {
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.hosts.find(source.Sequence());
    if (it != r.hosts.end()) {
      auto& list = it->second;
      list.erase(std::remove(list.begin(), list.end(), resolver_), list.end());
      if (list.empty()) {
        r.hosts.erase(it);
        RemoveImageCallbacks(source);
      }
    }
  }
  // A resolver still running for this host keeps its own copy of the state.
  auto fresh = std::make_shared<TPictureResolverState>();
  fresh->width = resolver_->width.load();
  fresh->height = resolver_->height.load();
  resolver_ = fresh;
}

TRef<TImage> TLumSlideHost::OpenPicture(std::string_view name) const {
  if (!accessor_) return nullptr;
  if (name.starts_with(kButtonPrefix))
    return ButtonProducers().Picture(name.substr(kButtonPrefix.size()));
  return OpenImage(*accessor_, name);
}

void TLumSlideHost::SetPathToButtons(std::string path) {
  pathToButtons_ = std::move(path);
  buttons_.reset();
}

TButtonProducerHost& TLumSlideHost::ButtonProducers() const {
  if (!buttons_) buttons_ = std::make_unique<TButtonProducerHost>(accessor_, pathToButtons_);
  return *buttons_;
}

void TLumSlideHost::SetPictureSize(int width, int height) {
  resolver_->width = std::max(width, 0);
  resolver_->height = std::max(height, 0);
}

std::pair<int, int> TLumSlideHost::PictureSize() const {
  return {resolver_->width.load(), resolver_->height.load()};
}

}  // namespace lum
