#include "imaging/color_transform.h"

#include <dlfcn.h>
#include <lcms2.h>

#include <cstring>
#include <mutex>

#include "container/file_accessor.h"
#include "foundation/log.h"
#include "imaging/image.h"

namespace lum {

namespace {

// The functions we call in the colour engine, one table for the library.
#define LUM_LCMS_FUNCTIONS(X) \
  X(cmsGetColorSpace)         \
  X(cmsGetDeviceClass)        \
  X(cmsGetProfileInfo)        \
  X(cmsCloseProfile)          \
  X(cmsOpenProfileFromMem)    \
  X(cmsSetAdaptationState)    \
  X(cmsCreateTransform)       \
  X(cmsDoTransform)           \
  X(cmsDeleteTransform)

struct TLcmsApi {
#define LUM_LCMS_POINTER(name) decltype(&::name) name = nullptr;
  LUM_LCMS_FUNCTIONS(LUM_LCMS_POINTER)
#undef LUM_LCMS_POINTER
};

struct TEngine {
  std::mutex lock;
  std::vector<std::string> paths = {"liblcms2.so.2"};
  bool tried = false;
  void* handle = nullptr;
  TLcmsApi api;
  TColorTransformFactory factory;
  int quality = 0;
};

TEngine& Engine() {
  static TEngine* e = new TEngine;
  return *e;
}

bool Bind(void* handle, TLcmsApi& api) {
#define LUM_LCMS_BIND(name)                                              \
  api.name = reinterpret_cast<decltype(api.name)>(dlsym(handle, #name)); \
  if (!api.name) return false;
  LUM_LCMS_FUNCTIONS(LUM_LCMS_BIND)
#undef LUM_LCMS_BIND
  return true;
}

// The engine's functions, or nothing when it cannot be opened.
const TLcmsApi* EngineApi() {
  TEngine& e = Engine();
  std::lock_guard<std::mutex> guard(e.lock);
  if (!e.tried) {
    e.tried = true;
    for (const std::string& path : e.paths) {
      void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!h) continue;
      TLcmsApi api;
      if (Bind(h, api)) {
        e.handle = h;
        e.api = api;
        break;
      }
      dlclose(h);
    }
    if (!e.handle) Log().Line("Colour engine not available: pictures are shown unconverted");
  }
  return e.handle ? &e.api : nullptr;
}

bool SameFormat24or32(const TBitmap& a, const TBitmap& b) {
  return a.Format() == b.Format() &&
         (a.Format() == TPixelFormat::Bgr24 || a.Format() == TPixelFormat::Bgra32);
}

// Clips the rectangle to both bitmaps; false when nothing is left.
bool ClipRect(const TBitmap& src, TPixelRect& r, const TBitmap& dst, int& dx, int& dy) {
  if (r.x < 0) {
    dx -= r.x;
    r.width += r.x;
    r.x = 0;
  }
  if (r.y < 0) {
    dy -= r.y;
    r.height += r.y;
    r.y = 0;
  }
  if (dx < 0) {
    r.x -= dx;
    r.width += dx;
    dx = 0;
  }
  if (dy < 0) {
    r.y -= dy;
    r.height += dy;
    dy = 0;
  }
  r.width = std::min({r.width, src.Width() - r.x, dst.Width() - dx});
  r.height = std::min({r.height, src.Height() - r.y, dst.Height() - dy});
  return r.width > 0 && r.height > 0;
}

}  // namespace

void SetColorEngineLibraries(std::vector<std::string> paths) {
  TEngine& e = Engine();
  std::lock_guard<std::mutex> guard(e.lock);
  if (e.handle) dlclose(e.handle);
  e.handle = nullptr;
  e.api = {};
  e.tried = false;
  e.paths = std::move(paths);
}

bool ColorEngineAvailable() {
  return EngineApi() != nullptr;
}

void CopyRect(const TBitmap& src, TPixelRect rect, TBitmap& dst, int dx, int dy) {
  if (src.Format() != dst.Format() || !ClipRect(src, rect, dst, dx, dy)) return;
  int bpp = BytesPerPixel(src.Format());
  size_t n = size_t(rect.width) * size_t(bpp);
  // Bottom-up when the target lies below within the same bitmap.
  bool up = &src == &dst && dy > rect.y;
  for (int i = 0; i < rect.height; ++i) {
    int k = up ? rect.height - 1 - i : i;
    std::memmove(dst.Row(dy + k) + size_t(dx) * bpp, src.Row(rect.y + k) + size_t(rect.x) * bpp, n);
  }
}

bool TColorTransform::TransformLookupVolume(uint8_t*) {
  return false;
}

bool TEngineColorTransform::TransformRect(const TBitmap& src, TPixelRect rect, TBitmap& dst, int dx,
                                          int dy) {
  const TLcmsApi* api = EngineApi();
  TPixelRect r = rect;
  int x2 = dx, y2 = dy;
  if (!SameFormat24or32(src, dst) || !ClipRect(src, r, dst, x2, y2)) {
    CopyRect(src, rect, dst, dx, dy);
    return false;
  }
  if (!api) {
    CopyRect(src, r, dst, x2, y2);
    return false;
  }
  api->cmsSetAdaptationState(0);
  cmsHPROFILE in =
      api->cmsOpenProfileFromMem(source_->Icc().data(), cmsUInt32Number(source_->Icc().size()));
  cmsHPROFILE out =
      api->cmsOpenProfileFromMem(output_->Icc().data(), cmsUInt32Number(output_->Icc().size()));
  cmsHTRANSFORM t = nullptr;
  if (in && out) {
    cmsUInt32Number flags = quality_ == 1   ? cmsFLAGS_NOOPTIMIZE
                            : quality_ == 2 ? cmsFLAGS_HIGHRESPRECALC
                            : quality_ == 3 ? cmsFLAGS_LOWRESPRECALC
                                            : 0;
    cmsUInt32Number type = src.Format() == TPixelFormat::Bgr24 ? TYPE_BGR_8 : TYPE_BGRA_8;
    t = api->cmsCreateTransform(in, type, out, type, 0, flags);
  }
  if (t) {
    int bpp = BytesPerPixel(src.Format());
    std::unique_ptr<uint8_t[]> row(new uint8_t[size_t(r.width) * bpp]);
    bool up = &src == &dst && y2 > r.y;
    for (int i = 0; i < r.height; ++i) {
      int k = up ? r.height - 1 - i : i;
      api->cmsDoTransform(t, src.Row(r.y + k) + size_t(r.x) * bpp, row.get(),
                          cmsUInt32Number(r.width));
      if (bpp == 4) {
        // The engine leaves the extra channel alone in its output buffer: keep alpha.
        const uint8_t* s = src.Row(r.y + k) + size_t(r.x) * 4;
        for (int x = 0; x < r.width; ++x) row[size_t(x) * 4 + 3] = s[x * 4 + 3];
      }
      std::memcpy(dst.Row(y2 + k) + size_t(x2) * bpp, row.get(), size_t(r.width) * bpp);
    }
    api->cmsDeleteTransform(t);
  } else {
    CopyRect(src, r, dst, x2, y2);
  }
  if (in) api->cmsCloseProfile(in);
  if (out) api->cmsCloseProfile(out);
  return t != nullptr;
}

bool TEngineColorTransform::TransformLookupVolume(uint8_t* volume) {
  auto bmp = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgr24);
  for (int y = 0; y < 1024; ++y) std::memcpy(bmp->Row(y), volume + size_t(y) * 96, 96);
  if (!TransformRect(*bmp, {0, 0, 32, 1024}, *bmp, 0, 0)) return false;
  for (int y = 0; y < 1024; ++y) std::memcpy(volume + size_t(y) * 96, bmp->Row(y), 96);
  return true;
}

TLookupColorTransform::TLookupColorTransform(const TBitmap& lookup) {
  if (lookup.Width() != 32 || lookup.Height() != 1024)
    throw EImageError("Colour look-up picture must be 32 x 1024");
  lookup_ = ConvertBitmap(lookup, TPixelFormat::Bgr24);
}

bool TLookupColorTransform::TransformRect(const TBitmap& src, TPixelRect rect, TBitmap& dst, int dx,
                                          int dy) {
  TPixelRect r = rect;
  int x2 = dx, y2 = dy;
  if (!SameFormat24or32(src, dst) || !ClipRect(src, r, dst, x2, y2)) {
    CopyRect(src, rect, dst, dx, dy);
    return false;
  }
  int bpp = BytesPerPixel(src.Format());
  std::unique_ptr<uint8_t[]> row(new uint8_t[size_t(r.width) * bpp]);
  bool up = &src == &dst && y2 > r.y;
  for (int i = 0; i < r.height; ++i) {
    int k = up ? r.height - 1 - i : i;
    const uint8_t* s = src.Row(r.y + k) + size_t(r.x) * bpp;
    std::memcpy(row.get(), s, size_t(r.width) * bpp);
    for (int x = 0; x < r.width; ++x) {
      uint8_t* p = row.get() + size_t(x) * bpp;
      const uint8_t* e = lookup_->Row((p[1] >> 3) + 32 * (p[0] >> 3)) + (p[2] >> 3) * 3;
      p[0] = e[0];
      p[1] = e[1];
      p[2] = e[2];
    }
    std::memcpy(dst.Row(y2 + k) + size_t(x2) * bpp, row.get(), size_t(r.width) * bpp);
  }
  return true;
}

bool TLookupColorTransform::TransformLookupVolume(uint8_t* volume) {
  for (int y = 0; y < 1024; ++y) std::memcpy(volume + size_t(y) * 96, lookup_->Row(y), 96);
  return true;
}

TRef<TColorTransform> DefaultColorTransformFactory(const TColorProfile& source,
                                                   const TColorProfile& output) {
  if (!ColorEngineAvailable()) return nullptr;
  return MakeRef<TEngineColorTransform>(MakeRef<TColorProfile>(source.Icc(), source.Name()),
                                        MakeRef<TColorProfile>(output.Icc(), output.Name()),
                                        Engine().quality);
}

std::string PrecomputedTransformMemberName(std::string_view profileName) {
  return "ColorSpaceExe_" + std::string(profileName) + "].KVGFX";
}

TColorTransformFactory ContainerColorTransformFactory(TRef<TFileAccessor> accessor) {
  return [accessor](const TColorProfile& source, const TColorProfile&) -> TRef<TColorTransform> {
    std::string member = PrecomputedTransformMemberName(source.Name());
    TRef<TImage> image = LoadImageByName(*accessor, member);
    if (!image) return nullptr;
    try {
      return MakeRef<TLookupColorTransform>(*image->GetMipLevel(0, TPixelFormat::Bgr24));
    } catch (const ELumError& e) {
      Log().Line("Colour look-up \"" + member + "\" refused: " + e.what());
      return nullptr;
    }
  };
}

void SetColorTransformFactory(TColorTransformFactory factory) {
  TEngine& e = Engine();
  std::lock_guard<std::mutex> guard(e.lock);
  e.factory = std::move(factory);
}

void SetColorTransformQuality(int quality) {
  Engine().quality = quality;
}

TRef<TColorTransform> MakeColorTransform(const TColorProfile& source, const TColorProfile& output) {
  TColorTransformFactory f;
  {
    TEngine& e = Engine();
    std::lock_guard<std::mutex> guard(e.lock);
    f = e.factory;
  }
  return f ? f(source, output) : DefaultColorTransformFactory(source, output);
}

}  // namespace lum
