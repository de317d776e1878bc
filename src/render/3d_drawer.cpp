#include "render/3d_drawer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

#include "foundation/log.h"
#include "imaging/bitmap.h"
#include "imaging/image.h"
#include "render/bitmap_texture.h"

namespace lum {

namespace {

// Textures not drawn for this many frames give their memory back.
constexpr uint64_t kTextureIdleFrames = 120;

// Premultiplied textures take the opacity in their colour as well.
// A tint (r | g << 8 | b << 16) reaches premultiplied textures only.
TColor OpacityColor(const TCustomTexture& texture, double opacity, uint32_t tint = 0xFFFFFF) {
  const auto a = uint32_t(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
  if (!texture.premultiplied) return (a << 24) | 0xFFFFFFu;
  auto channel = [&](int shift) { return (((tint >> shift) & 0xFF) * a + 127) / 255; };
  return (a << 24) | (channel(0) << 16) | (channel(8) << 8) | channel(16);
}

// The whole used area of a target: frame pixels at its top left.
TTexRect Area(int w, int h) {
  return {0, 0, double(w), double(h)};
}

}  // namespace

// ---- shared textures ----

TCustomTexture* TTextureStore2::Find(const std::string& name) const {
  for (const auto& t : items_)
    if (t.name == name) return t.texture.Get();
  return nullptr;
}

void TTextureStore2::Add(const std::string& name, TRef<TCustomTexture> texture) {
  for (auto& t : items_) {
    if (t.name == name) {
      t.texture = std::move(texture);
      return;
    }
  }
  items_.push_back({name, std::move(texture)});
}

// ---- blur arithmetic ----

TBlurPlan PlanBlur(double radius) {
  TBlurPlan p;
  p.radius = radius;
  if (radius > 7) {
    const double l = std::log2(radius / 7);
    p.doublingPasses = static_cast<int>(std::ceil(l));
    p.lastStrength = l - (p.doublingPasses - 1);
  } else {
    p.lastStrength = std::max(0.0, (radius - 1) / 6);
  }
  p.lastStep = 1 << std::min(p.doublingPasses, 30);
  return p;
}

std::array<float, 4> BlurWeights(double h) {
  return {float(0.065722 * h), float(0.108356 * h), float(0.17865 * h),
          float(0.294544 * h + (1 - h))};
}

double BlurRadius(double blur, double scale) {
  return (blur / 1000 * scale) / 2;
}

double ItemUnsharpAmount(double blur, double scale) {
  return (-blur / 100 * scale) / 100;
}

double FrameUnsharpAmount(double u) {
  return u / 100;
}

// ---- drawer ----

std::recursive_mutex& T3DDrawer::DrawingLock() {
  static std::recursive_mutex lock;
  return lock;
}

T3DDrawer::T3DDrawer(TRef<T3DEngine> engine)
    : screen_(std::make_unique<T3DScreen>(std::move(engine))),
      frames_(std::make_unique<TFrameReader>(*screen_)),
      full_(std::make_unique<TRenderTargetManager>(screen_.get(), true)),
      half_(std::make_unique<TRenderTargetManager>(screen_.get(), true)) {}

T3DDrawer::~T3DDrawer() {
  DropTextures();
  shaders_.clear();
}

void T3DDrawer::DropTextures() {
  textures_.clear();
  cached_.clear();
  store_.Clear();
  full_->Clear();
  half_->Clear();
  layer_ = nullptr;
}

void T3DDrawer::Attach(TDrawDevice* device) {
  std::lock_guard g(lock_);
  screen_->Attach(device);
  shaders_.resize(shCount);
  for (int i = 0; i < shCount; ++i)
    if (!shaders_[size_t(i)])
      shaders_[size_t(i)] = MakeRef<TShader>(screen_.get(), std::string(DrawerShaderCode(i)));
  SizePools();
}

void T3DDrawer::Close() {
  std::lock_guard g(lock_);
  Log().Line("T3DDrawer.Close");
  frames_->Reset();
  DropTextures();
  screen_->ReleaseResources();
  screen_->ForgetDevice();
}

bool T3DDrawer::DeviceReady() const {
  return screen_->DeviceReady();
}

int T3DDrawer::QualityLevel() const {
  T3DEngine* e = screen_->Engine();
  return e ? e->QualityLevel(0) : 0;
}

TShader* T3DDrawer::Shader(int id) {
  return id >= 0 && size_t(id) < shaders_.size() ? shaders_[size_t(id)].Get() : nullptr;
}

TRect T3DDrawer::FrameRect() const {
  TDrawDevice* d = screen_->Device();
  if (!d) return {};
  const TRect& c = d->ClientRect();
  return {0, 0, c.Width(), c.Height()};
}

void T3DDrawer::SizePools() {
  TRect f = FrameRect();
  if (f.Empty()) return;
  full_->SetSize(f.Width(), f.Height());
  half_->SetSize((f.Width() + 1) / 2, (f.Height() + 1) / 2);
}

bool T3DDrawer::DrawItem(TDrawerItem& item) {
  std::lock_guard g(DrawingLock());
  if (depth_ > 0) {
    if (!DeviceReady()) return false;
    return DrawItemGuarded(item) && DeviceReady();
  }
  ++depth_;
  ++frame_;
  struct TDepth {
    int& d;
    ~TDepth() { --d; }
  } leave{depth_};
  bool drawn = true;
  if (screen_->BeginScene()) {
    SizePools();
    screen_->SetViewport(FrameRect());
    drawn = DrawItemGuarded(item);
  }
  while (screen_->TargetDepth() > 1) screen_->PopRenderTarget();
  screen_->SetShader(nullptr);
  bool ok = screen_->EndScene();
  if (ok && !capture_) ok = screen_->Present();
  item.ItemDrawn();
  EvictTextures();
  return ok && drawn;
}

bool T3DDrawer::DrawItemGuarded(TDrawerItem& item) {
  const size_t targets = std::max<size_t>(1, screen_->TargetDepth());
  const TRect viewport = screen_->Viewport(), clip = screen_->Clip();
  const bool hadLayer = static_cast<bool>(layer_), blurring = blurring_;
  try {
    item.DrawOn(*this);
    return true;
  } catch (const std::exception& e) {
    Log().Line(std::string("T3DDrawer.DrawItem: ") + e.what());
  }
  // Undo what the item left open, so that the items after it draw where
  // they should.
  while (screen_->TargetDepth() > targets) screen_->PopRenderTarget();
  if (!hadLayer) layer_ = nullptr;
  blurring_ = blurring;
  screen_->SetShader(nullptr);
  if (DeviceReady()) {
    screen_->SetViewport(viewport);
    screen_->SetClip(clip);
  }
  return false;
}

TRef<TBitmap> T3DDrawer::ReadFrame() {
  if (!capture_ || frames_->Pending() > 0) return nullptr;
  const TRect f = FrameRect();
  if (!frames_->Start(f.Width(), f.Height())) return nullptr;
  TRef<TFramePixels> pixels = frames_->Take();
  return pixels ? OpaqueBitmap(pixels->Rows()) : nullptr;
}

bool T3DDrawer::Clear(TColor color) {
  return screen_->Clear(color);
}

bool T3DDrawer::ClearRect(const TRect& r, TColor color) {
  return screen_->ClearRects({r}, color);
}

void T3DDrawer::DrawBorders() {
  TRect f = FrameRect(), v = viewport_;
  if (v.Empty() || (v.left <= 0 && v.top <= 0 && v.right >= f.right && v.bottom >= f.bottom))
    return;
  const TColor c = background_ | 0xFF000000;
  screen_->SetClip(f);
  FillRect({0, 0, f.right, v.top}, c);
  FillRect({0, v.bottom, f.right, f.bottom}, c);
  FillRect({0, v.top, v.left, v.bottom}, c);
  FillRect({v.right, v.top, f.right, v.bottom}, c);
}

void T3DDrawer::SetCamera(double x, double y, double z) {
  camX_ = x;
  camY_ = y;
  camZ_ = z < -1e-6 ? z : -1e-6;
}

TVertex T3DDrawer::WorldVertex(const TPoint3& p, TColor color, float u, float v) const {
  const TRect& vp = screen_->Viewport();
  const double hw = std::max(1, vp.Width()) / 2.0, hh = std::max(1, vp.Height()) / 2.0;
  // The screen's space sees z = 0 as the target plane from one unit in front;
  // scaling z by the camera distance keeps the slide's own perspective.
  const double w = 1 + p.z / -camZ_;
  TVertex r;
  r.x = float((p.x - camX_ + (camX_ - hw) * w) / hw);
  r.y = float(-(p.y - camY_ + (camY_ - hh) * w) / hh);
  r.z = float(w - 1);
  r.color = color;
  for (auto& uv : r.uv) uv[0] = u, uv[1] = v;
  return r;
}

TVertex T3DDrawer::PixelVertex(double x, double y, TColor color, float u, float v) const {
  const TRect& vp = screen_->Viewport();
  const double w = std::max(1, vp.Width()), h = std::max(1, vp.Height());
  TVertex r;
  r.x = float(2 * x / w - 1);
  r.y = float(1 - 2 * y / h);
  r.color = color;
  for (auto& uv : r.uv) uv[0] = u, uv[1] = v;
  return r;
}

void T3DDrawer::FillQuad(const TQuad3& q, const std::array<TColor, 4>& colors, bool antialiased) {
  screen_->Batch().Begin({});
  AddQuad({WorldVertex(q[0], colors[0]), WorldVertex(q[1], colors[1]), WorldVertex(q[2], colors[2]),
           WorldVertex(q[3], colors[3])},
          antialiased, false);
  screen_->Batch().Flush();
}

void T3DDrawer::DrawTexture(const TQuad3& q, TCustomTexture& texture, const TTexRect& s,
                            double opacity, bool antialiased, uint32_t tint) {
  if (opacity <= 0) return;
  const float u0 = float(s.left * texture.ScaleX()), u1 = float(s.right * texture.ScaleX());
  const float v0 = float(s.top * texture.ScaleY()), v1 = float(s.bottom * texture.ScaleY());
  const TColor c = OpacityColor(texture, opacity, tint);
  screen_->Batch().Begin({&texture});
  AddQuad({WorldVertex(q[0], c, u0, v0), WorldVertex(q[1], c, u1, v0), WorldVertex(q[2], c, u1, v1),
           WorldVertex(q[3], c, u0, v1)},
          antialiased, texture.premultiplied);
  screen_->Batch().Flush();
}

void T3DDrawer::AddQuad(const std::array<TVertex, 4>& q, bool antialiased, bool premultiplied) {
  TVertexBuffer& batch = screen_->Batch();
  batch.AddQuad(q[0], q[1], q[2], q[3]);
  if (!antialiased) return;
  // The band lies outside each edge in window pixels: a vertex at clip depth
  // w moves w times as far before the division.
  const TRect& vp = screen_->Viewport();
  const double hw = std::max(1, vp.Width()) / 2.0, hh = std::max(1, vp.Height()) / 2.0;
  double sx[4], sy[4], area = 0;
  for (int i = 0; i < 4; ++i) {
    const double w = q[size_t(i)].z + 1;
    if (w <= 0.01) return;
    sx[i] = q[size_t(i)].x / w * hw;
    sy[i] = -q[size_t(i)].y / w * hh;
  }
  for (int i = 0; i < 4; ++i) area += sx[i] * sy[(i + 1) % 4] - sx[(i + 1) % 4] * sy[i];
  if (std::abs(area) < 1e-6) return;
  const double side = area > 0 ? 1 : -1;
  auto faded = [&](TVertex v, double nx, double ny) {
    const double w = v.z + 1;
    v.x += float(nx * w / hw);
    v.y -= float(ny * w / hh);
    v.color = premultiplied ? 0 : (v.color & 0x00FFFFFF);
    return v;
  };
  for (int i = 0; i < 4; ++i) {
    const int j = (i + 1) % 4;
    double ex = sx[j] - sx[i], ey = sy[j] - sy[i];
    const double len = std::hypot(ex, ey);
    if (len < 1e-6) continue;
    const double nx = side * ey / len, ny = -side * ex / len;
    const TVertex& a = q[size_t(i)];
    const TVertex& b = q[size_t(j)];
    batch.AddQuad(a, b, faded(b, nx, ny), faded(a, nx, ny));
  }
}

void T3DDrawer::DrawPixels(TCustomTexture& texture, const TRect& r, const TTexRect& s,
                           double opacity) {
  if (opacity <= 0 || r.Empty()) return;
  const float u0 = float(s.left * texture.ScaleX()), u1 = float(s.right * texture.ScaleX());
  const float v0 = float(s.top * texture.ScaleY()), v1 = float(s.bottom * texture.ScaleY());
  const TColor c = OpacityColor(texture, opacity);
  screen_->Batch().Begin({&texture});
  screen_->Batch().AddQuad(
      PixelVertex(r.left, r.top, c, u0, v0), PixelVertex(r.right, r.top, c, u1, v0),
      PixelVertex(r.right, r.bottom, c, u1, v1), PixelVertex(r.left, r.bottom, c, u0, v1));
  screen_->Batch().Flush();
}

void T3DDrawer::FillRect(const TRect& r, TColor color) {
  if (r.Empty()) return;
  screen_->Batch().Begin({});
  screen_->Batch().AddQuad(PixelVertex(r.left, r.top, color), PixelVertex(r.right, r.top, color),
                           PixelVertex(r.right, r.bottom, color),
                           PixelVertex(r.left, r.bottom, color));
  screen_->Batch().Flush();
}

void T3DDrawer::DrawShaderRect(int shader, const std::vector<TCustomTexture*>& textures,
                               const TRect& r, const std::vector<TTexRect>& sources,
                               const std::vector<float>& constants, TColor color) {
  TShader* s = Shader(shader);
  if (!s || !screen_->SetShader(s)) return;
  SetConstants(constants);
  TVertex q[4] = {PixelVertex(r.left, r.top, color), PixelVertex(r.right, r.top, color),
                  PixelVertex(r.right, r.bottom, color), PixelVertex(r.left, r.bottom, color)};
  for (size_t i = 0; i < std::min<size_t>(3, textures.size()); ++i) {
    const TTexRect& src = sources[std::min(i, sources.size() - 1)];
    const float sx = textures[i]->ScaleX(), sy = textures[i]->ScaleY();
    const float u[4] = {float(src.left * sx), float(src.right * sx), float(src.right * sx),
                        float(src.left * sx)};
    const float v[4] = {float(src.top * sy), float(src.top * sy), float(src.bottom * sy),
                        float(src.bottom * sy)};
    for (int k = 0; k < 4; ++k) q[k].uv[i][0] = u[k], q[k].uv[i][1] = v[k];
  }
  screen_->Batch().Begin(textures);
  screen_->Batch().AddQuad(q[0], q[1], q[2], q[3]);
  screen_->Batch().Flush();
  screen_->SetShader(nullptr);
}

bool T3DDrawer::SetConstants(const std::vector<float>& constants) {
  if (constants.empty()) return true;
  // Whole registers only.
  std::vector<float> c(constants);
  c.resize((c.size() + 3) / 4 * 4, 0.0f);
  return screen_->SetShaderConstants(0, c.data(), int(c.size() / 4));
}

bool T3DDrawer::DrawShaderQuad(int shader, const std::vector<TCustomTexture*>& textures,
                               const TQuad3& q, const std::vector<TTexRect>& sources,
                               const std::vector<float>& constants, TColor color,
                               const std::vector<TVolumeTexture*>& volumes, int firstVolumeStage,
                               bool antialiased) {
  TShader* s = Shader(shader);
  if (!s || !screen_->SetShader(s)) return false;
  bool ok = SetConstants(constants);
  // The batch binds only its own textures: volumes go to their stages now,
  // after every back end exists (creating one rebinds the active stage).
  std::vector<T3DTexture*> backs;
  for (TVolumeTexture* v : volumes) {
    backs.push_back(v ? v->BackEnd() : nullptr);
    ok = ok && backs.back();
  }
  T3DRenderer* r = screen_->Renderer();
  for (size_t i = 0; ok && i < backs.size(); ++i)
    ok = r && r->SetTexture(firstVolumeStage + int(i), backs[i]);
  if (ok) {
    TVertex v[4] = {WorldVertex(q[0], color), WorldVertex(q[1], color), WorldVertex(q[2], color),
                    WorldVertex(q[3], color)};
    for (size_t i = 0; i < std::min<size_t>(3, textures.size()); ++i) {
      const TCustomTexture& t = *textures[i];
      const TTexRect src = sources.empty() ? TTexRect{0, 0, double(t.Width()), double(t.Height())}
                                           : sources[std::min(i, sources.size() - 1)];
      const float u0 = float(src.left * t.ScaleX()), u1 = float(src.right * t.ScaleX());
      const float v0 = float(src.top * t.ScaleY()), v1 = float(src.bottom * t.ScaleY());
      const float u[4] = {u0, u1, u1, u0}, w[4] = {v0, v0, v1, v1};
      for (int k = 0; k < 4; ++k) v[k].uv[i][0] = u[k], v[k].uv[i][1] = w[k];
    }
    const bool premultiplied =
        std::any_of(textures.begin(), textures.end(), [](auto* t) { return t->premultiplied; });
    screen_->Batch().Begin(textures);
    AddQuad({v[0], v[1], v[2], v[3]}, antialiased, premultiplied);
    ok = screen_->Batch().Flush();
  }
  screen_->SetShader(nullptr);
  return ok;
}

bool T3DDrawer::BeginPostLayer() {
  if (layer_ || QualityLevel() < 2) return false;
  TRect f = FrameRect();
  TRef<TRenderTargetTexture> t = full_->Acquire();
  if (!t || !screen_->PushRenderTarget(t.Get())) return false;
  layer_ = t;
  screen_->SetViewport(f);
  screen_->Clear(0);
  screen_->SetClip(viewport_.Empty() ? f : viewport_);
  return true;
}

void T3DDrawer::EndPostLayer(double amount) {
  if (!layer_) return;
  TRef<TRenderTargetTexture> t = std::move(layer_);
  screen_->PopRenderTarget();
  TRect f = FrameRect();
  screen_->SetViewport(f);
  const float c[12] = {1.0f / float(t->TextureWidth()),
                       1.0f / float(t->TextureHeight()),
                       0,
                       0,
                       0,
                       0,
                       0,
                       0,
                       float(amount),
                       0,
                       0,
                       0};
  DrawShaderRect(shUnsharp, {t.Get()}, f, {Area(f.Width(), f.Height())},
                 std::vector<float>(c, c + 12));
  full_->Release(t);
}

void T3DDrawer::BlurPass(TRenderTargetTexture& from, bool vertical, double strength, int step,
                         const TRect& area) {
  const auto w = BlurWeights(strength);
  const double size = vertical ? from.TextureHeight() : from.TextureWidth();
  const std::vector<float> c = {w[0], w[1], w[2], w[3], float(step / size), 0, 0, 0};
  DrawShaderRect(vertical ? shGaussBlurV7 : shGaussBlurH7, {&from}, area,
                 {Area(area.Width(), area.Height())}, c);
}

void T3DDrawer::DrawBlurred(double b, const std::function<void()>& draw) {
  if ((b >= 0 && b < 0.00001) || (b < 0 && PostLayerOpen()) || blurring_ || std::isnan(b)) {
    draw();
    return;
  }
  if (b < 0) {
    if (!BeginPostLayer()) {
      draw();
      return;
    }
    draw();
    EndPostLayer(ItemUnsharpAmount(b, scale_));
    return;
  }
  const TBlurPlan plan = PlanBlur(BlurRadius(b, scale_));
  const TRect f = FrameRect();
  const TRect halfRect{0, 0, (f.Width() + 1) / 2, (f.Height() + 1) / 2};
  TRef<TRenderTargetTexture> a = full_->Acquire(), h1 = half_->Acquire(), h2 = half_->Acquire();
  // Without targets the item is not drawn this frame.
  if (!a || !h1 || !h2) return;
  blurring_ = true;
  const TRect clip = screen_->Clip();
  auto into = [&](TRenderTargetTexture* t, const TRect& area) {
    if (!screen_->PushRenderTarget(t)) return false;
    screen_->SetViewport(area);
    screen_->Clear(0);
    return true;
  };
  if (into(a.Get(), f)) {
    screen_->SetClip(clip);
    draw();
    screen_->PopRenderTarget();
    if (into(h1.Get(), halfRect)) {
      DrawShaderRect(shCopy, {a.Get()}, halfRect, {Area(f.Width(), f.Height())}, {});
      screen_->PopRenderTarget();
    }
    screen_->SetViewport(f);
    screen_->SetClip(clip);
    if (plan.radius >= 1) {
      for (int i = 0; i < plan.doublingPasses; ++i) {
        if (into(h2.Get(), halfRect)) {
          BlurPass(*h1, false, 1, 1 << i, halfRect);
          screen_->PopRenderTarget();
        }
        if (into(h1.Get(), halfRect)) {
          BlurPass(*h2, true, 1, 1 << i, halfRect);
          screen_->PopRenderTarget();
        }
      }
      if (into(h2.Get(), halfRect)) {
        BlurPass(*h1, false, plan.lastStrength, plan.lastStep, halfRect);
        screen_->PopRenderTarget();
      }
      // The last pass stays at half size too; one bilinear copy brings it
      // up, which a blur of at least a pixel cannot tell from a full-size pass.
      if (into(h1.Get(), halfRect)) {
        BlurPass(*h2, true, plan.lastStrength, plan.lastStep, halfRect);
        screen_->PopRenderTarget();
      }
      screen_->SetViewport(f);
      screen_->SetClip(clip);
      DrawPixels(*h1, f, Area(halfRect.right, halfRect.bottom), 1);
    } else {
      const float alpha = float((plan.radius - 0.00001) / 0.99999);
      DrawShaderRect(shGaussMix, {a.Get(), h1.Get()}, f,
                     {Area(f.Width(), f.Height()), Area(halfRect.right, halfRect.bottom)},
                     {std::max(0.0f, alpha), 0, 0, 0});
    }
  }
  full_->Release(a);
  half_->Release(h1);
  half_->Release(h2);
  blurring_ = false;
}

TCustomTexture* T3DDrawer::TextureFor(const TRefObject* owner, const TBitmap& bitmap,
                                      bool mipMaps) {
  for (auto& t : textures_) {
    if (t.owner == owner && t.bitmap == &bitmap) {
      t.lastFrame = frame_;
      return t.texture.Get();
    }
  }
  if (bitmap.Format() != TPixelFormat::Bgra32) return nullptr;
  auto tex = MakeRef<TBitmapTexture>(screen_.get(), TRef<const TBitmap>(&bitmap), mipMaps);
  textures_.push_back({owner, &bitmap, tex, frame_});
  return tex.Get();
}

TBitmapTexture* T3DDrawer::PictureTextureFor(const TRefObject* owner, const TImage& picture,
                                             int level) {
  const TBitmapStore* store = &picture.Store();
  for (auto& t : textures_) {
    if (t.owner == owner && !t.bitmap && t.store == store && t.level == level) {
      t.lastFrame = frame_;
      return static_cast<TBitmapTexture*>(t.texture.Get());
    }
  }
  TRef<TBitmap> pixels = picture.GetMipLevel(level, TPixelFormat::Bgra32);
  if (!pixels) pixels = picture.GetMipLevel(0, TPixelFormat::Bgra32);
  if (!pixels || pixels->Format() != TPixelFormat::Bgra32) return nullptr;
  // Pixels with alpha stay: the sole-picture probe reads them.
  const bool forget = store->Params().format != TPixelFormat::Bgra32;
  auto tex = MakeRef<TBitmapTexture>(screen_.get(), picture.StoreRef(), TRef<const TBitmap>(pixels),
                                     true, forget);
  textures_.push_back({owner, nullptr, tex, frame_, store, level});
  return tex.Get();
}

bool T3DDrawer::UploadAhead(double ms) {
  // Bands small enough to stop near the budget, large enough to cost little
  // more than their bytes.
  constexpr int64_t kBandBytes = 1 << 20;
  const auto start = std::chrono::steady_clock::now();
  auto spent = [&] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  };
  for (TImageTexture& t : textures_) {
    int64_t band = kBandBytes;
    while (!t.texture->UploadAhead(band)) {
      if (spent() >= ms) return false;
      band = kBandBytes;
    }
    if (spent() >= ms) return &t == &textures_.back();
  }
  return true;
}

void T3DDrawer::ReleaseTextures(const TRefObject* owner) {
  std::erase_if(textures_, [&](const TImageTexture& t) { return t.owner == owner; });
  // Objects kept for the owner itself (a video's frame surfaces) go with it.
  std::erase_if(cached_, [&](const TCachedObject& c) { return c.key == owner; });
}

TRefObject* T3DDrawer::Cached(const void* key) {
  for (auto& c : cached_) {
    if (c.key == key) {
      c.lastFrame = frame_;
      return c.object.Get();
    }
  }
  return nullptr;
}

void T3DDrawer::SetCached(const void* key, TRef<TRefObject> object) {
  std::erase_if(cached_, [&](const TCachedObject& c) { return c.key == key; });
  cached_.push_back({key, std::move(object), frame_});
}

void T3DDrawer::EvictTextures() {
  std::erase_if(textures_,
                [&](const TImageTexture& t) { return frame_ - t.lastFrame > kTextureIdleFrames; });
  std::erase_if(cached_,
                [&](const TCachedObject& c) { return frame_ - c.lastFrame > kTextureIdleFrames; });
}

}  // namespace lum
