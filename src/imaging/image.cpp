#include "imaging/image.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "container/file_accessor.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "imaging/loaders.h"

namespace lum {

TImage::TImage(TRef<TBitmapStore> store, std::shared_ptr<void> keepAlive)
    : store_(std::move(store)), params_(store_->Params()), keepAlive_(std::move(keepAlive)) {}

namespace {

struct TLoaderEntry {
  TImageLoader loader;
  std::vector<std::string> extensions;
};

struct TRegistry {
  std::mutex lock;
  std::vector<TLoaderEntry> entries;
  bool standard = false;
  TRegistry() { entries.reserve(8); }
};

TRegistry& Registry() {
  static TRegistry* r = new TRegistry;  // outlives static destructors of other modules
  return *r;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

}  // namespace

std::string NormalizeExtension(std::string_view ext) {
  size_t i = 0;
  while (i < ext.size() && static_cast<unsigned char>(ext[i]) < 33) ++i;
  ext.remove_prefix(i);
  while (!ext.empty() && static_cast<unsigned char>(ext.back()) < 33) ext.remove_suffix(1);
  if (!ext.empty() && ext[0] == '*') ext.remove_prefix(1);
  if (ext.empty()) return {};
  std::string out = Lower(ext);
  if (out[0] != '.') out.insert(out.begin(), '.');
  return out;
}

void RegisterImageLoader(TImageLoader loader, std::string_view extensions) {
  TLoaderEntry entry{loader, {}};
  size_t start = 0;
  while (start <= extensions.size()) {
    size_t end = extensions.find_first_of(",;", start);
    if (end == std::string_view::npos) end = extensions.size();
    std::string ext = NormalizeExtension(extensions.substr(start, end - start));
    if (!ext.empty()) entry.extensions.push_back(std::move(ext));
    start = end + 1;
  }
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  if (r.entries.size() == r.entries.capacity()) r.entries.reserve(r.entries.capacity() * 2);
  r.entries.push_back(std::move(entry));
}

void ClearImageLoaders() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.entries.clear();
  r.standard = false;
}

void RegisterStandardLoaders() {
  TRegistry& r = Registry();
  {
    std::lock_guard<std::mutex> guard(r.lock);
    if (r.standard) return;
    r.standard = true;
  }
  RegisterImageLoader(LoadGfxPicture, ".kvgfx,.bmp,.dib,.png,.gif|framesatlas");
  RegisterImageLoader(LoadBmpPicture, ".bmp,.dib");
  RegisterImageLoader(LoadJpegPicture, ".jpg,.jpeg,.jpe,.jfif");
  RegisterImageLoader(LoadGifPicture, ".gif");
  RegisterImageLoader(LoadGifFirstFrame, ".gif_first_frame");
  RegisterImageLoader(LoadGifFramesAtlas, ".gif|framesatlas");
  // Stands where the external PNG library is registered at program start.
  RegisterImageLoader(LoadPngPicture, ".png");
}

std::string ImageExtension(TStream& stream, std::string_view name) {
  std::string_view file = name;
  size_t sep = file.find_last_of("\\/");
  if (sep != std::string_view::npos) file.remove_prefix(sep + 1);
  size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext = Lower(file.substr(dot));
  if (ext == ".bmp") {
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    unsigned char head[8];
    try {
      int64_t pos = stream.Position();
      size_t n = stream.Read(head, 8);
      stream.SetPosition(pos);
      if (n == 8 && std::memcmp(head, kPng, 8) == 0) return ".png";
    } catch (const ELumError&) {
    }
  }
  return ext;
}

TRef<TBitmapStore> LoadBitmapStore(TStream& stream, std::string_view name,
                                   std::unique_ptr<TStream>* owned, bool headerOnly) {
  RegisterStandardLoaders();
  std::string ext = ImageExtension(stream, name);
  std::vector<TImageLoader> candidates;
  {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const TLoaderEntry& e : r.entries) {
      if (ext.empty() ||
          std::find(e.extensions.begin(), e.extensions.end(), ext) != e.extensions.end())
        candidates.push_back(e.loader);
    }
  }
  for (TImageLoader loader : candidates) {
    TLoadRequest request{stream, name, owned, nullptr, headerOnly};
    TRef<TBitmapStore> store;
    try {
      store = loader(request);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      // A loader that raises counts as declining.
      if (Log().Enabled()) Log().Line("Image loader failed: " + std::string(e.what()));
    }
    if (store) return store;
    if (owned && !*owned) break;  // a loader took the stream and then failed
  }
  return nullptr;
}

TRef<TImage> LoadImage(TStream& stream, std::string_view name, bool headerOnly) {
  TRef<TBitmapStore> store = LoadBitmapStore(stream, name, nullptr, headerOnly);
  return store ? MakeRef<TImage>(store) : nullptr;
}

TRef<TImage> LoadImage(std::unique_ptr<TStream> stream, std::string_view name) {
  if (!stream) return nullptr;
  TStream& s = *stream;
  TRef<TBitmapStore> store = LoadBitmapStore(s, name, &stream);
  return store ? MakeRef<TImage>(store) : nullptr;
}

TRef<TImage> LoadImageByName(const TFileAccessor& accessor, std::string_view name) {
  try {
    return LoadImage(accessor.OpenMember(name), name);
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace lum
