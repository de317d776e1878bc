#include "imaging/picture_cache.h"

#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "foundation/case_fold.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "imaging/tiny_font.h"

namespace lum {

namespace {

struct THandle;

struct TCache {
  std::mutex lock;
  // case-folded name -> source sequence -> handle
  std::unordered_map<std::string, std::map<uint64_t, std::weak_ptr<THandle>>> entries;
  std::unordered_map<uint64_t, std::vector<TImageCallback>> callbacks;
  TCache() { entries.reserve(9997); }
};

TCache& Cache() {
  static TCache* c = new TCache;
  return *c;
}

struct THandle {
  std::string key;
  uint64_t source;
  std::mutex lock;
  bool loaded = false;
  TRef<TBitmapStore> store;

  ~THandle() {
    // Last user gone: drop the entry unless a new handle already took it.
    TCache& c = Cache();
    std::lock_guard<std::mutex> guard(c.lock);
    auto it = c.entries.find(key);
    if (it == c.entries.end()) return;
    auto h = it->second.find(source);
    if (h != it->second.end() && h->second.expired()) it->second.erase(h);
    if (it->second.empty()) c.entries.erase(it);
  }
};

}  // namespace

void AddImageCallback(const TFileSource& source, TImageCallback callback) {
  TCache& c = Cache();
  std::lock_guard<std::mutex> guard(c.lock);
  c.callbacks[source.Sequence()].push_back(std::move(callback));
}

void RemoveImageCallbacks(const TFileSource& source) {
  TCache& c = Cache();
  std::lock_guard<std::mutex> guard(c.lock);
  c.callbacks.erase(source.Sequence());
}

size_t PictureCacheSize() {
  TCache& c = Cache();
  std::lock_guard<std::mutex> guard(c.lock);
  size_t n = 0;
  for (auto& [key, bySource] : c.entries)
    for (auto& [seq, weak] : bySource)
      if (!weak.expired()) ++n;
  return n;
}

TRef<TBitmap> MakePlaceholderBitmap(std::string_view status, std::string_view name) {
  constexpr int kScale = 2, kMargin = 8, kMaxChars = 200;
  std::string lines[2] = {" " + std::string(status) + " ",
                          " " + std::string(ExtractFileName(name)) + " "};
  int chars = 1;
  for (const std::string& l : lines)
    chars = std::max(chars, std::min(TinyTextLength(l), kMaxChars));
  int w = chars * kTinyFontCellWidth * kScale + 2 * kMargin;
  int h = 2 * kTinyFontCellHeight * kScale + 2 * kMargin;
  auto bmp = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
  bmp->Fill(100, 100, 100);
  for (int i = 0; i < 2; ++i)
    DrawTinyText(*bmp, kMargin, kMargin + i * kTinyFontCellHeight * kScale, lines[i], kScale, 230,
                 230, 230);
  return bmp;
}

TRef<TImage> OpenImage(const TFileAccessor& accessor, std::string_view name, bool video) {
  TCache& c = Cache();
  const uint64_t seq = accessor.Source().Sequence();
  std::string key = FoldCase(name);
  std::shared_ptr<THandle> handle;
  std::vector<TImageCallback> callbacks;
  {
    std::lock_guard<std::mutex> guard(c.lock);
    std::weak_ptr<THandle>& slot = c.entries[key][seq];
    handle = slot.lock();
    if (!handle) {
      handle = std::make_shared<THandle>();
      handle->key = key;
      handle->source = seq;
      slot = handle;
    }
    if (auto it = c.callbacks.find(seq); it != c.callbacks.end()) callbacks = it->second;
  }
  std::lock_guard<std::mutex> guard(handle->lock);
  if (!handle->loaded) {
    for (const TImageCallback& cb : callbacks) {
      try {
        if (TRef<TImage> img = cb(name)) {
          handle->store = img->StoreRef();
          break;
        }
      } catch (const std::exception& e) {
        Log().Line("Image callback failed for \"" + std::string(name) + "\": " + e.what());
      }
    }
    const char* status = nullptr;
    if (!handle->store) {
      int rotation = 1;
      std::unique_ptr<TStream> stream;
      // "x.gif|framesatlas" is the file "x.gif" decoded by the loader of the
      // whole name; it is cached under the whole name.
      const std::string_view file = name.substr(0, name.find('|'));
      try {
        stream = accessor.OpenMember(file, &rotation);
      } catch (const std::exception& e) {
        Log().Line("Picture \"" + std::string(name) + "\" not opened: " + e.what());
      }
      if (!stream) {
        status = video ? kVideoNotFound : kImageNotFound;
      } else {
        try {
          handle->store = LoadBitmapStore(*stream, name, &stream);
        } catch (const std::exception& e) {
          Log().Line("Picture \"" + std::string(name) + "\" not decoded: " + e.what());
        }
        if (!handle->store) {
          status = video ? kVideoLoadError : kImageLoadError;
        } else if (rotation == 3 || rotation == 6 || rotation == 8) {
          handle->store = MakeRef<TRotatedBitmapStore>(handle->store, rotation);
        }
      }
    }
    if (!handle->store)
      handle->store = MakeRef<TSysBitmapStore>(MakePlaceholderBitmap(status, name));
    handle->loaded = true;
  }
  return MakeRef<TImage>(handle->store, handle);
}

}  // namespace lum
