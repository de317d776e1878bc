#include "imaging/color_lookup.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "imaging/color_management.h"
#include "imaging/icc_profiles.h"

namespace lum {

namespace {

uint8_t ClampByte(double v) {
  return static_cast<uint8_t>(std::clamp<long>(std::lround(v), 0, 255));
}

// The look-up volume through a transform; false when it stayed as it was.
bool TransformLookup(TBitmap& lookup, TColorTransform& transform) {
  // The transforms take the volume as packed BGR cells.
  std::vector<uint8_t> cells(size_t(kLookupRows) * kLookupSize * 3);
  for (int y = 0; y < kLookupRows; ++y) {
    const uint8_t* s = lookup.Row(y);
    uint8_t* d = &cells[size_t(y) * kLookupSize * 3];
    for (int x = 0; x < kLookupSize; ++x) std::memcpy(d + x * 3, s + x * 4, 3);
  }
  if (!transform.TransformLookupVolume(cells.data())) return false;
  for (int y = 0; y < kLookupRows; ++y) {
    uint8_t* d = lookup.Row(y);
    const uint8_t* s = &cells[size_t(y) * kLookupSize * 3];
    for (int x = 0; x < kLookupSize; ++x) {
      std::memcpy(d + x * 4, s + x * 3, 3);
      d[x * 4 + 3] = 255;
    }
  }
  return true;
}

struct TBaseCache {
  std::mutex lock;
  std::map<std::pair<TLookupBase, std::string>, TRef<const TBitmap>> converted;
  TRef<const TBitmap> plain[2];
};

TBaseCache& Cache() {
  static TBaseCache* c = new TBaseCache;
  return *c;
}

}  // namespace

TRef<TBitmap> MakeLookupBase(TLookupBase base) {
  auto bmp = MakeRef<TBitmap>(kLookupSize, kLookupRows, TPixelFormat::Bgra32);
  for (int i = 0; i < kLookupSize; ++i) {
    for (int j = 0; j < kLookupSize; ++j) {
      uint8_t* row = bmp->Row(i * kLookupSize + j);
      for (int k = 0; k < kLookupSize; ++k) {
        uint8_t* c = row + k * 4;
        if (base == TLookupBase::Identity) {
          c[0] = uint8_t(LookupLevel(i));
          c[1] = uint8_t(LookupLevel(j));
          c[2] = uint8_t(LookupLevel(k));
        } else {
          // Depth is luma, row the blue difference, column the red difference.
          const double y = (LookupLevel(i) - 16) * 1.1643835616438356;
          const double cb = LookupLevel(j) - 128, cr = LookupLevel(k) - 128;
          c[0] = ClampByte(y + 2.018 * cb);
          c[1] = ClampByte(y - 0.813 * cr - 0.391 * cb);
          c[2] = ClampByte(y + 1.596 * cr);
        }
        c[3] = 255;
      }
    }
  }
  return bmp;
}

TRef<const TBitmap> DisplayLookupBase(TLookupBase base) {
  TBaseCache& cache = Cache();
  const TColorManagement& cm = ColorManagement();
  std::lock_guard g(cache.lock);
  const TRef<TColorProfile> displayProfile = cm.DisplayProfile();
  if (!cm.Active() || !displayProfile) {
    TRef<const TBitmap>& plain = cache.plain[base == TLookupBase::Video ? 1 : 0];
    if (!plain) plain = MakeLookupBase(base);
    return plain;
  }
  const TColorProfile& display = *displayProfile;
  auto key = std::make_pair(base, display.Name());
  auto it = cache.converted.find(key);
  if (it != cache.converted.end()) return it->second;
  TRef<TBitmap> bmp = MakeLookupBase(base);
  // Pictures without a profile are sRGB; video is decoded to sRGB under
  // its own name, so that a show can carry a conversion made for it.
  auto source = MakeRef<TColorProfile>(BuiltinProfile("sRGB"),
                                       base == TLookupBase::Video ? "YUVsRGB" : "sRGB");
  if (TRef<TColorTransform> t = MakeColorTransform(*source, display)) TransformLookup(*bmp, *t);
  cache.converted.emplace(key, TRef<const TBitmap>(bmp));
  return bmp;
}

void ClearLookupBaseCache() {
  TBaseCache& cache = Cache();
  std::lock_guard g(cache.lock);
  cache.converted.clear();
  cache.plain[0] = cache.plain[1] = nullptr;
}

TRef<TBitmap> BuildProfileLookup(const std::string& icc, const std::string& name) {
  const TColorManagement& cm = ColorManagement();
  const TRef<TColorProfile> display = cm.DisplayProfile();
  if (!cm.Active() || !display || icc.empty()) return nullptr;
  auto source = MakeRef<TColorProfile>(icc, name);
  TRef<TColorTransform> t = MakeColorTransform(*source, *display);
  if (!t) return nullptr;
  TRef<TBitmap> bmp = MakeLookupBase(TLookupBase::Identity);
  return TransformLookup(*bmp, *t) ? bmp : nullptr;
}

}  // namespace lum
