#include "render/custom_texture.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/errors.h"
#include "foundation/log.h"
#include "render/3d_screen.h"

namespace lum {

namespace {

constexpr const char* kModule = "CustomTexture";

TSurfaceFormat FormatOfKind(uint8_t kind) {
  switch (kind) {
    case tkManagedGray:
      return TSurfaceFormat::Gray8;
    case tkManaged16:
      return TSurfaceFormat::RGB565;
    default:
      return TSurfaceFormat::BGRA8;
  }
}

// One pixel of a view as B, G, R, A.
void ReadBGRA(const TPixelView& v, int x, int y, uint8_t out[4]) {
  const uint8_t* p = v.pixels + static_cast<size_t>(y) * v.pitch;
  switch (v.format) {
    case TSurfaceFormat::BGRA8:
      std::memcpy(out, p + x * 4, 4);
      break;
    case TSurfaceFormat::RGBA8:
      out[0] = p[x * 4 + 2], out[1] = p[x * 4 + 1], out[2] = p[x * 4], out[3] = p[x * 4 + 3];
      break;
    case TSurfaceFormat::Gray8:
      out[0] = out[1] = out[2] = p[x], out[3] = 255;
      break;
    case TSurfaceFormat::RGB565: {
      uint16_t s;
      std::memcpy(&s, p + x * 2, 2);
      out[2] = static_cast<uint8_t>(((s >> 11) & 31) * 255 / 31);
      out[1] = static_cast<uint8_t>(((s >> 5) & 63) * 255 / 63);
      out[0] = static_cast<uint8_t>((s & 31) * 255 / 31);
      out[3] = 255;
      break;
    }
  }
}

void WritePixel(TSurfaceFormat f, uint8_t* p, const uint8_t bgra[4]) {
  switch (f) {
    case TSurfaceFormat::BGRA8:
      std::memcpy(p, bgra, 4);
      break;
    case TSurfaceFormat::RGBA8:
      p[0] = bgra[2], p[1] = bgra[1], p[2] = bgra[0], p[3] = bgra[3];
      break;
    case TSurfaceFormat::Gray8:
      // Luma weights of the common conversion.
      p[0] = static_cast<uint8_t>((bgra[2] * 77 + bgra[1] * 150 + bgra[0] * 29 + 128) >> 8);
      break;
    case TSurfaceFormat::RGB565: {
      uint16_t s =
          static_cast<uint16_t>(((bgra[2] * 31 + 127) / 255) << 11 |
                                ((bgra[1] * 63 + 127) / 255) << 5 | ((bgra[0] * 31 + 127) / 255));
      std::memcpy(p, &s, 2);
      break;
    }
  }
}

}  // namespace

int TextureSizeFor(int n) {
  int s = 32;
  while (s < n && s < (1 << 30)) s <<= 1;
  return s;
}

void BoxFilterHalf(const TBitmapBuffer& src, TBitmapBuffer& dst) {
  const int bpp = BytesPerPixel(src.format);
  for (int y = 0; y < dst.height; ++y) {
    int y0 = std::min(2 * y, src.height - 1), y1 = std::min(2 * y + 1, src.height - 1);
    for (int x = 0; x < dst.width; ++x) {
      int x0 = std::min(2 * x, src.width - 1), x1 = std::min(2 * x + 1, src.width - 1);
      const uint8_t* p[4] = {
          src.data + y0 * src.pitch + x0 * bpp, src.data + y0 * src.pitch + x1 * bpp,
          src.data + y1 * src.pitch + x0 * bpp, src.data + y1 * src.pitch + x1 * bpp};
      uint8_t* d = dst.data + y * dst.pitch + x * bpp;
      if (src.format == TSurfaceFormat::RGB565) {
        int c[3] = {0, 0, 0};
        for (auto* q : p) {
          uint16_t s;
          std::memcpy(&s, q, 2);
          c[0] += s >> 11, c[1] += (s >> 5) & 63, c[2] += s & 31;
        }
        uint16_t s = static_cast<uint16_t>(((c[0] + 2) / 4) << 11 | ((c[1] + 2) / 4) << 5 |
                                           ((c[2] + 2) / 4));
        std::memcpy(d, &s, 2);
      } else {
        for (int k = 0; k < bpp; ++k)
          d[k] = static_cast<uint8_t>((p[0][k] + p[1][k] + p[2][k] + p[3][k] + 2) / 4);
      }
    }
  }
}

TScreenResource::TScreenResource(T3DScreen* screen) : screen_(screen) {
  if (screen_) screen_->Register(this);
}

TScreenResource::~TScreenResource() {
  if (screen_) screen_->Unregister(this);
}

TCustomTexture::TCustomTexture(T3DScreen* screen, uint8_t kind, int width, int height, bool mipMaps)
    : TScreenResource(screen), kind_(kind), mipMaps_(mipMaps) {
  if (kind > tkManaged16) AssertFailed(kModule, "Texture kind out of range");
  premultiplied = kind == tkRenderTargetPremul;
  TCustomTexture::SetSize(width, height);
}

TCustomTexture::~TCustomTexture() {
  ReleaseBackEnd();
}

void TCustomTexture::SetSize(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  int tw = exactSize_ ? std::max(1, width) : TextureSizeFor(width);
  int th = exactSize_ ? std::max(1, height) : TextureSizeFor(height);
  if (tw != texWidth_ || th != texHeight_ || backEnd_) ReleaseBackEnd();
  texWidth_ = tw;
  texHeight_ = th;
  scaleX_ = 1.0f / tw;
  scaleY_ = 1.0f / th;
}

void TCustomTexture::ReleaseBackEnd() {
  if (backEnd_) {
    backEnd_->onLost = nullptr;
    backEnd_ = nullptr;
  }
}

void TCustomTexture::Refresh() {
  if (backEnd_ && IsManaged()) Upload();
}

void TCustomTexture::Upload() {
  if (!backEnd_ || !IsManaged()) return;
  int levels = backEnd_->LevelCount();
  std::vector<TBitmapBuffer> locked(levels);
  int ok = 0;
  for (; ok < levels; ++ok)
    if (!backEnd_->LockLevel(ok, locked[ok])) break;
  if (ok > 0) {
    TBitmapBuffer& l0 = locked[0];
    for (int y = 0; y < l0.height; ++y)
      std::memset(l0.data + static_cast<size_t>(y) * l0.pitch, 0,
                  static_cast<size_t>(l0.width) * BytesPerPixel(l0.format));
    FillLevel0(l0);
    for (int i = 1; i < ok; ++i) BoxFilterHalf(locked[i - 1], locked[i]);
  }
  for (int i = 0; i < ok; ++i) backEnd_->UnlockLevel(i);
}

T3DTexture* TCustomTexture::BackEnd() {
  if (backEnd_) return backEnd_.Get();
  if (!MakeBackEnd()) return nullptr;
  if (IsManaged()) Upload();
  return backEnd_.Get();
}

bool TCustomTexture::UploadAhead(int64_t& bytes) {
  if (backEnd_ || !BackEnd()) return true;
  bytes -= int64_t(texWidth_) * texHeight_ * 4;
  return true;
}

bool TCustomTexture::MakeBackEnd() {
  if (width_ <= 0 || height_ <= 0 || !screen_ || !screen_->DeviceReady()) return false;
  T3DRenderer* r = screen_->Renderer();
  backEnd_ = r->CreateTexture(kind_, texWidth_, mipMaps_, texHeight_);
  const bool target = kind_ == tkRenderTarget || kind_ == tkRenderTargetPremul;
  if (target) {
    Log().Line(std::string("Rt Create First Attempt Ok= ") + (backEnd_ ? "True" : "False"));
    if (!backEnd_ && r->LastResult() == rrOutOfVideoMemory) {
      // Make room by dropping managed textures, the upper half of what is left each time.
      std::vector<TRef<TCustomTexture>> managed;
      for (TScreenResource* res : screen_->Resources())
        if (auto* t = dynamic_cast<TCustomTexture*>(res))
          if (t->kind_ == tkManagedColor || t->kind_ == tkManagedGray)
            managed.push_back(TRef<TCustomTexture>(t));
      const int n = static_cast<int>(managed.size());
      Log().Line("tmpTexListcount= " + std::to_string(n));
      for (int s = 1; !backEnd_ && (1 << (s - 1)) < n; ++s) {
        int first = (n >> (s - 1)) - 1, last = n >> s;
        for (int i = first; i >= last; --i) managed[i]->ReleaseBackEnd();
        backEnd_ = r->CreateTexture(kind_, texWidth_, mipMaps_, texHeight_);
        Log().Line("Released Managed Texs from " + std::to_string(first) + " to " +
                   std::to_string(last) + "; Rt Create " + std::to_string(s) +
                   "nd Attempt Ok= " + (backEnd_ ? "True" : "False"));
      }
    }
  }
  if (!backEnd_) return false;
  backEnd_->premultiplied = premultiplied;
  backEnd_->owner = this;
  backEnd_->onLost = [this] { backEnd_ = nullptr; };
  return true;
}

TPixelTexture::TPixelTexture(T3DScreen* screen, uint8_t kind, int width, int height, bool mipMaps)
    : TCustomTexture(screen, kind, 0, 0, mipMaps) {
  if (!IsManaged()) AssertFailed(kModule, "Pixel texture of a render-target kind");
  TPixelTexture::SetSize(width, height);
}

void TPixelTexture::SetSize(int width, int height) {
  TCustomTexture::SetSize(width, height);
  pitch_ = width_ * BytesPerPixel(FormatOfKind(kind_));
  pixels_.assign(static_cast<size_t>(pitch_) * height_, 0);
}

void TPixelTexture::SetPixels(const TPixelView& v) {
  if (v.width != width_ || v.height != height_) SetSize(v.width, v.height);
  const TSurfaceFormat f = FormatOfKind(kind_);
  const int bpp = BytesPerPixel(f);
  if (v.format == f) {
    for (int y = 0; y < height_; ++y)
      std::memcpy(pixels_.data() + static_cast<size_t>(y) * pitch_,
                  v.pixels + static_cast<size_t>(y) * v.pitch, pitch_);
  } else {
    uint8_t bgra[4];
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        ReadBGRA(v, x, y, bgra);
        WritePixel(f, pixels_.data() + static_cast<size_t>(y) * pitch_ + x * bpp, bgra);
      }
  }
  Refresh();
}

void TPixelTexture::FillLevel0(TBitmapBuffer& level) {
  const int rows = std::min(height_, level.height);
  const size_t bytes =
      std::min<size_t>(pitch_, static_cast<size_t>(level.width) * BytesPerPixel(level.format));
  for (int y = 0; y < rows; ++y)
    std::memcpy(level.data + static_cast<size_t>(y) * level.pitch,
                pixels_.data() + static_cast<size_t>(y) * pitch_, bytes);
}

TVolumeTexture::TVolumeTexture(T3DScreen* screen, int width, int height, int depth)
    : TScreenResource(screen),
      width_(std::max(1, width)),
      height_(std::max(1, height)),
      depth_(std::max(1, depth)),
      cells_(static_cast<size_t>(width_) * height_ * depth_ * 4, 0) {}

T3DTexture* TVolumeTexture::BackEnd() {
  if (backEnd_) return backEnd_.Get();
  if (!screen_ || !screen_->DeviceReady()) return nullptr;
  backEnd_ = screen_->Renderer()->CreateVolumeTexture(width_, height_, depth_);
  if (!backEnd_) return nullptr;
  backEnd_->owner = this;
  backEnd_->onLost = [this] { backEnd_ = nullptr; };
  Refresh();
  return backEnd_.Get();
}

void TVolumeTexture::Refresh() {
  if (!backEnd_) return;
  TBitmapBuffer b;
  if (!backEnd_->LockLevel(0, b)) return;
  for (int row = 0; row < height_ * depth_; ++row)
    std::memcpy(b.data + static_cast<size_t>(row) * b.pitch,
                cells_.data() + static_cast<size_t>(row) * width_ * 4,
                static_cast<size_t>(width_) * 4);
  backEnd_->UnlockLevel(0);
}

void TVolumeTexture::ReleaseBackEnd() {
  if (backEnd_) {
    backEnd_->onLost = nullptr;
    backEnd_ = nullptr;
  }
}

TRenderTargetTexture::TRenderTargetTexture(T3DScreen* screen, int width, int height,
                                           bool premultipliedAlpha)
    : TCustomTexture(screen, premultipliedAlpha ? tkRenderTargetPremul : tkRenderTarget, width,
                     height, false) {
  premultiplied = premultipliedAlpha;
}

TRef<T3DSurface> TRenderTargetTexture::Surface() {
  T3DTexture* t = BackEnd();
  // Drawing into a premultiplied target keeps its alpha as coverage.
  if (t) t->premultiplied = premultiplied;
  return t ? t->Surface(0) : TRef<T3DSurface>();
}

void TRenderTargetManager::SetSize(int width, int height) {
  int w = TextureSizeFor(width), h = TextureSizeFor(height);
  if (w == width_ && h == height_) return;
  width_ = w;
  height_ = h;
  free_.clear();
}

TRef<TRenderTargetTexture> TRenderTargetManager::Acquire() {
  TRef<TRenderTargetTexture> t;
  if (!free_.empty()) {
    t = std::move(free_.back());
    free_.pop_back();
  } else {
    t = MakeRef<TRenderTargetTexture>(screen_, width_, height_, premultiplied_);
    t->pool = this;
  }
  t->BackEnd();
  return t;
}

void TRenderTargetManager::Release(TRef<TRenderTargetTexture> target) {
  if (!target) return;
  if (target->Width() != width_ || target->Height() != height_ ||
      target->premultiplied != premultiplied_)
    AssertFailed("RenderTargetManager", "Render target of another size returned to the pool");
  free_.push_back(std::move(target));
}

}  // namespace lum
