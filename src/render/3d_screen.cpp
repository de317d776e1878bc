#include "render/3d_screen.h"

#include <algorithm>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/log.h"

namespace lum {

namespace {

constexpr const char* kModule = "3DScreen";

std::string RectText(const TRect& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

}  // namespace

// ---- vertex batches ----

TVertexBuffer::TVertexBuffer(T3DScreen* screen) : TScreenResource(screen) {}

bool TVertexBuffer::MakeList(int vertices, int pairs) {
  list_ = nullptr;
  capacity_ = 0;
  if (!screen_ || !screen_->DeviceReady()) return false;
  list_ = screen_->Renderer()->CreateVertexList(vertices, vfDiffuse, pairs);
  if (!list_) return false;
  list_->owner = this;
  list_->onLost = [this] { list_ = nullptr; };
  capacity_ = vertices;
  return true;
}

void TVertexBuffer::EnsureRoom(int vertices, int texturePairs) {
  if (list_ && list_->Capacity() >= vertices && list_->TexturePairs() >= texturePairs) return;
  MakeList(std::max({vertices, capacity_, 3072}),
           std::max(texturePairs, list_ ? list_->TexturePairs() : 0));
}

void TVertexBuffer::Begin(const std::vector<TCustomTexture*>& textures, int count) {
  if (count > static_cast<int>(textures.size()) || count < 0)
    AssertFailed("VertexBuffer", "Texture count larger than the texture list");
  if (!vertices_.empty()) Flush();
  textures_.assign(textures.begin(), textures.begin() + count);
  // The previous capacity, or 1024 triangles.
  if (!list_) MakeList(capacity_ > 0 ? capacity_ : 3072, std::max(3, count));
}

void TVertexBuffer::AddTriangle(const TVertex& a, const TVertex& b, const TVertex& c) {
  vertices_.push_back(a);
  vertices_.push_back(b);
  vertices_.push_back(c);
}

void TVertexBuffer::AddQuad(const TVertex& a, const TVertex& b, const TVertex& c,
                            const TVertex& d) {
  AddTriangle(a, b, c);
  AddTriangle(a, c, d);
}

bool TVertexBuffer::Flush() {
  if (vertices_.empty()) return false;
  struct TClear {
    std::vector<TVertex>& v;
    ~TClear() { v.clear(); }
  } clear{vertices_};
  if (!screen_ || !screen_->DeviceReady()) return false;
  T3DRenderer* r = screen_->Renderer();
  T3DTexture* backs[3] = {};
  const int count = std::min<int>(3, static_cast<int>(textures_.size()));
  bool premul = false;
  for (int i = 0; i < count; ++i) {
    T3DTexture* t = textures_[i]->BackEnd();
    if (!t) return false;  // not drawn
    t->addressU = t->addressV = TTextureAddress::Clamp;
    t->nearest = textures_[i]->nearest;
    t->useMipMaps = textures_[i]->MipMaps();
    t->lodBias = textures_[i]->lodBias;
    t->premultiplied = textures_[i]->premultiplied;
    premul = premul || textures_[i]->premultiplied;
    backs[i] = t;
  }
  const int n = static_cast<int>(vertices_.size());
  const int pairs = std::max(1, count);
  if (!list_ || list_->Capacity() < n || list_->TexturePairs() < pairs) {
    int cap = std::max(capacity_, 3072);
    while (cap < n) cap *= 2;
    if (!MakeList(cap, std::max(3, pairs))) return false;
  }
  uint8_t* p = list_->Lock(n);
  if (!p) return false;
  const int stride = list_->Stride(), lp = list_->TexturePairs();
  for (const TVertex& v : vertices_) {
    std::memcpy(p, &v.x, 12);
    std::memcpy(p + 12, &v.color, 4);
    std::memcpy(p + 16, v.uv, 8 * std::min(3, lp));
    p += stride;
  }
  if (!list_->Unlock()) return false;
  uint32_t flags;
  if (count == 0)
    flags = dfVertexColor | dfVertexAlpha;
  else if (premul)
    flags = dfTexture | dfVertexColor | dfVertexAlpha;
  else if (count == 1)
    flags = dfTexture | dfVertexAlpha;
  else
    flags = dfTexture;
  // The list may go away if the draw loses the device, so keep it alive.
  TRef<T3DVertexList> list = list_;
  return r->DrawVertexList(backs, n / 3, flags, list.Get(), count);
}

void TVertexBuffer::ReleaseBackEnd() {
  if (list_) {
    list_->onLost = nullptr;
    list_ = nullptr;
  }
}

// ---- shaders ----

TShader::TShader(T3DScreen* screen, std::string code, int kind)
    : TScreenResource(screen), code_(std::move(code)), kind_(kind) {
  if (screen_ && screen_->Renderer()) BackEnd();
}

T3DShader* TShader::BackEnd() {
  if (backEnd_) return backEnd_.Get();
  if (!screen_ || !screen_->DeviceReady()) return nullptr;
  backEnd_ = screen_->Renderer()->CreateShader(code_, kind_);
  if (!backEnd_) return nullptr;
  backEnd_->owner = this;
  backEnd_->onLost = [this] { backEnd_ = nullptr; };
  return backEnd_.Get();
}

void TShader::ReleaseBackEnd() {
  if (backEnd_) {
    backEnd_->onLost = nullptr;
    backEnd_ = nullptr;
  }
}

void TDeviceKilledMessenger::DeviceClosing(TDrawDevice* device) {
  if (screen && screen->Device() == device) screen->ForgetDevice();
}

// ---- screen ----

T3DScreen::T3DScreen(TRef<T3DEngine> engine) : engine_(std::move(engine)) {
  batch_ = MakeRef<TVertexBuffer>(this);
}

T3DScreen::~T3DScreen() {
  FreeRenderer();
  deadRenderer_ = nullptr;
  if (device_ && messenger_) device_->Detach(messenger_.Get());
  if (messenger_) messenger_->screen = nullptr;
  auto resources = resources_;
  for (TScreenResource* r : resources) {
    r->ReleaseBackEnd();
    r->ForgetScreen();
  }
  resources_.clear();
}

void T3DScreen::Unregister(TScreenResource* r) {
  std::erase(resources_, r);
}

void T3DScreen::ReleaseResources() {
  auto resources = resources_;
  for (TScreenResource* r : resources) r->ReleaseBackEnd();
}

TRect T3DScreen::DeviceRect() const {
  if (!device_) return {};
  if (device_->FullScreen() && engine_) {
    TRect c = device_->ClientRect();
    TRect s{c.left + device_->OriginX(), c.top + device_->OriginY(), c.right + device_->OriginX(),
            c.bottom + device_->OriginY()};
    TDisplayMode mode;
    if (engine_->DisplayMode(engine_->AdapterForRect(s), mode) && !mode.monitor.Empty()) {
      const TRect& m = mode.monitor;
      return {m.left - device_->OriginX(), m.top - device_->OriginY(), m.right - device_->OriginX(),
              m.bottom - device_->OriginY()};
    }
  }
  return device_->ClientRect();
}

void T3DScreen::Attach(TDrawDevice* device) {
  if (!device) AssertFailed(kModule, "DrawDevice=nil");
  TRect r;
  bool changed = device != device_;
  if (changed) {
    if (device_ && messenger_) device_->Detach(messenger_.Get());
    if (messenger_) messenger_->screen = nullptr;
    device_ = device;
    messenger_ = MakeRef<TDeviceKilledMessenger>(this);
    device_->Attach(messenger_);
  }
  r = DeviceRect();
  changed =
      changed || device->FullScreen() != fullScreen_ || r != rect_ || device->Handle() != handle_;
  if (!changed && renderer_) return;
  rect_ = r;
  fullScreen_ = device->FullScreen();
  handle_ = device->Handle();
  ReleaseResources();
  CreateRenderer();
}

void T3DScreen::ForgetDevice() {
  FreeRenderer();
  device_ = nullptr;
  // The device may keep the messenger after the screen has gone.
  if (messenger_) messenger_->screen = nullptr;
  messenger_ = nullptr;
}

void T3DScreen::FreeRenderer() {
  targets_.clear();
  inScene_ = false;
  if (renderer_) {
    renderer_->onLost = nullptr;
    ReleaseResources();
    renderer_ = nullptr;
  }
  shadersRestored_ = false;
}

void T3DScreen::CreateRenderer() {
  ReleaseResources();
  FreeRenderer();
  if (!device_) {
    Log().Line("No window to draw");
    return;
  }
  if (!engine_ || !engine_->DeviceReady()) {
    std::string why = engine_ ? engine_->InitFailure() : std::string("no engine");
    Log().Line(why.empty() ? "Can't init" : "Can't init: " + why);
    return;
  }
  TRect s{rect_.left + device_->OriginX(), rect_.top + device_->OriginY(),
          rect_.right + device_->OriginX(), rect_.bottom + device_->OriginY()};
  TDisplayMode mode;
  if (!engine_->DisplayMode(engine_->AdapterForRect(s), mode)) {
    Log().Line("Can't GetDisplayMode");
    return;
  }
  renderer_ = engine_->CreateRenderer(device_, mode);
  if (renderer_) renderer_->onLost = [this] { RendererLost(); };
}

void T3DScreen::RendererLost() {
  // The renderer is inside one of its calls: keep it alive until the next begin scene.
  deadRenderer_ = renderer_;
  if (renderer_) renderer_->onLost = nullptr;
  renderer_ = nullptr;
  targets_.clear();
  inScene_ = false;
  shadersRestored_ = false;
  if (onLost) onLost();
}

bool T3DScreen::DeviceReady() const {
  return renderer_ && renderer_->State() == TRendererState::Ready;
}

bool T3DScreen::BeginScene() {
  deadRenderer_ = nullptr;
  if (!device_) {
    if (renderer_) FreeRenderer();
    return false;
  }
  if (device_->IsMinimized()) return false;
  TRect r = DeviceRect();
  const bool fs = device_->FullScreen();
  // A renderer whose device went away or never came (failed creation) is replaced.
  if (renderer_ && renderer_->State() == TRendererState::DeviceLost) FreeRenderer();
  if (renderer_) {
    bool rebuild = (r != rect_ && !r.Empty()) || device_->Handle() != handle_ || fs != fullScreen_;
    if (rebuild) {
      Log().Line("T3DScreen.BeginScene, R= " + RectText(r));
      if (fs || fullScreen_) ReleaseResources();
      rect_ = r;
      fullScreen_ = fs;
      handle_ = device_->Handle();
      CreateRenderer();
    }
  } else if (!r.Empty()) {
    rect_ = r;
    fullScreen_ = fs;
    handle_ = device_->Handle();
    CreateRenderer();
  }
  if (DeviceReady() && !shadersRestored_) {
    auto resources = resources_;
    for (TScreenResource* res : resources)
      if (auto* s = dynamic_cast<TShader*>(res)) s->BackEnd();
    shadersRestored_ = true;
  }
  if (!DeviceReady()) return false;
  renderer_->SetDefaultStates();
  batch_->EnsureRoom(32, 2);
  if (!DeviceReady()) return false;
  if (targets_.empty()) {
    TRef<T3DSurface> back = renderer_->BackBuffer();
    if (!back) return false;
    targets_.push_back(MakeRef<TRenderTargetWrapper>(back, 0, 0));
    renderer_->SetRenderTarget(nullptr);
    SetViewport(TargetRect());
  }
  TRect t = TargetRect();
  invWidth_ = t.Width() > 0 ? 1.0f / t.Width() : 1;
  invHeight_ = t.Height() > 0 ? 1.0f / t.Height() : 1;
  clip_ = t;
  renderer_->SetClip(nullptr);
  TRef<T3DRenderer> keep = renderer_;
  inScene_ = keep->BeginScene();
  return inScene_ && DeviceReady();
}

bool T3DScreen::EndScene() {
  if (!renderer_) return false;
  batch_->Flush();
  if (!renderer_) return false;
  TRef<T3DRenderer> keep = renderer_;
  inScene_ = false;
  return keep->EndScene() && DeviceReady();
}

bool T3DScreen::Present() {
  if (!DeviceReady()) return false;
  TRef<T3DRenderer> keep = renderer_;
  return keep->Present(nullptr, nullptr) && DeviceReady();
}

bool T3DScreen::Clear(TColor color, bool depth) {
  if (!DeviceReady()) return false;
  batch_->Flush();
  if (!DeviceReady()) return false;
  TRef<T3DRenderer> keep = renderer_;
  return keep->Clear(nullptr, 0, cfTarget | (depth ? uint32_t{cfDepth} : 0u), color, 1.0f);
}

bool T3DScreen::ClearRects(const std::vector<TRect>& rects, TColor color) {
  if (!DeviceReady() || rects.empty()) return false;
  batch_->Flush();
  if (!DeviceReady()) return false;
  TRef<T3DRenderer> keep = renderer_;
  return keep->Clear(rects.data(), static_cast<int>(rects.size()), cfTarget, color, 1.0f);
}

void T3DScreen::SetViewport(const TRect& r, float minZ, float maxZ) {
  viewport_ = r;
  if (!DeviceReady()) return;
  batch_->Flush();
  if (!DeviceReady()) return;
  renderer_->SetViewport(r, minZ, maxZ);
  invWidth_ = r.Width() > 0 ? 1.0f / r.Width() : 1;
  invHeight_ = r.Height() > 0 ? 1.0f / r.Height() : 1;
  float w = static_cast<float>(r.Width()), h = static_cast<float>(r.Height());
  SetCamera(w, h, w, h, 0, 0);
}

void T3DScreen::SetClip(const TRect& r) {
  if (DeviceReady()) batch_->Flush();
  clip_ = r;
  if (!DeviceReady()) return;
  renderer_->SetClip(&r);
}

TRect T3DScreen::TargetRect() const {
  if (targets_.empty() || !targets_.back()->surface) return {};
  const auto& s = targets_.back()->surface;
  return {0, 0, s->Width(), s->Height()};
}

bool T3DScreen::PushRenderTarget(TRenderTargetTexture* target, int offsetX, int offsetY) {
  if (!target || !DeviceReady()) return false;
  batch_->Flush();
  TRef<T3DSurface> surface = target->Surface();
  if (!surface || !DeviceReady()) return false;
  if (!renderer_->SetRenderTarget(surface.Get())) return false;
  targets_.push_back(MakeRef<TRenderTargetWrapper>(surface, offsetX, offsetY));
  targets_.back()->savedViewport = viewport_;
  SetViewport(TRect{0, 0, target->Width(), target->Height()});
  clip_ = TargetRect();
  renderer_->SetClip(nullptr);
  return true;
}

void T3DScreen::PopRenderTarget() {
  if (targets_.size() <= 1) AssertFailed(kModule, "Render target stack underflow");
  if (DeviceReady()) batch_->Flush();
  const TRect saved = targets_.back()->savedViewport;
  targets_.pop_back();
  if (!DeviceReady()) return;
  T3DSurface* s = targets_.back()->surface.Get();
  renderer_->SetRenderTarget(targets_.size() == 1 ? nullptr : s);
  SetViewport(saved.Empty() ? TargetRect() : saved);
  clip_ = TargetRect();
  renderer_->SetClip(nullptr);
}

void T3DScreen::SetCamera(float viewWidth, float viewHeight, float targetWidth, float targetHeight,
                          float offsetX, float offsetY) {
  if (!(viewWidth > 0 && viewHeight > 0 && targetWidth > 0 && targetHeight > 0) || !DeviceReady())
    return;
  float tx = 0, ty = 0;
  renderer_->TexelOffset(tx, ty);
  const float sx = -2 * tx / targetWidth, sy = 2 * ty / targetHeight;
  world_ = TMatrix4::Identity();
  world_.m[2][0] = world_.m[3][0] = sx;
  world_.m[2][1] = world_.m[3][1] = sy;
  world_.m[3][2] = 1;
  view_ = TMatrix4::Identity();
  view_.m[2][0] = 1 - (targetWidth + 2 * offsetX) / viewWidth;
  view_.m[2][1] = (targetHeight + 2 * offsetY) / viewHeight - 1;
  const float q = 1000000.0f / (1000000.0f - 0.01f);
  projection_ = TMatrix4{};
  projection_.m[0][0] = viewWidth / targetWidth;
  projection_.m[1][1] = viewHeight / targetHeight;
  projection_.m[2][2] = q;
  projection_.m[2][3] = 1;
  projection_.m[3][2] = -0.01f * q;
  camOffsetX_ = offsetX;
  camOffsetY_ = offsetY;
  camScaleX_ = targetWidth / viewWidth;
  camScaleY_ = targetHeight / viewHeight;
  viewWidth_ = viewWidth;
  viewHeight_ = viewHeight;
  targetWidth_ = targetWidth;
  targetHeight_ = targetHeight;
  batch_->Flush();
  if (!DeviceReady()) return;
  renderer_->SetTransform(TTransformKind::World, world_);
  renderer_->SetTransform(TTransformKind::View, view_);
  renderer_->SetTransform(TTransformKind::Projection, projection_);
}

void T3DScreen::Project(const float p[3], float& sx, float& sy) const {
  float out[4];
  (world_ * view_ * projection_).Transform(p, out);
  if (out[3] == 0) AssertFailed(kModule, "  Camera.Z = 0  ");
  sx = (out[0] / out[3] + 1) * 0.5f * targetWidth_;
  sy = (1 - out[1] / out[3]) * 0.5f * targetHeight_;
}

void T3DScreen::Unproject(float sx, float sy, float z, float p[3]) const {
  // Camera Z after the world shift; x and y map affinely for a fixed z.
  const float w = z * world_.m[2][2] + world_.m[3][2];
  if (w == 0) AssertFailed(kModule, "  Camera.Z = 0  ");
  const float ndcX = 2 * sx / targetWidth_ - 1, ndcY = 1 - 2 * sy / targetHeight_;
  // ndc = ((x + wx·w) + vx·w)·px / w  (world shift wx, view shift vx, projection scale px).
  p[0] = (ndcX / projection_.m[0][0] - view_.m[2][0] - world_.m[2][0]) * w;
  p[1] = (ndcY / projection_.m[1][1] - view_.m[2][1] - world_.m[2][1]) * w;
  p[2] = z;
}

void T3DScreen::SetBlendMode(TBlendMode mode) {
  if (!DeviceReady()) return;
  batch_->Flush();
  if (DeviceReady()) renderer_->SetBlendMode(mode);
}

bool T3DScreen::SetShader(TShader* shader) {
  if (!DeviceReady()) return false;
  batch_->Flush();
  if (!DeviceReady()) return false;
  T3DShader* s = shader ? shader->BackEnd() : nullptr;
  if (shader && !s) return false;
  return renderer_->SetShader(s);
}

bool T3DScreen::SetShaderConstants(int first, const float* values, int count) {
  if (!DeviceReady()) return false;
  batch_->Flush();
  return DeviceReady() && renderer_->SetShaderConstants(first, values, count, true);
}

TRef<T3DSurface> T3DScreen::TargetSurface() {
  if (!DeviceReady() || targets_.empty()) return {};
  batch_->Flush();
  if (!DeviceReady() || targets_.empty()) return {};
  return targets_.back()->surface;
}

bool T3DScreen::ReadTarget(std::vector<uint8_t>& pixels, int& width, int& height) {
  TRef<T3DSurface> s = TargetSurface();
  if (!s) return false;
  width = s->Width();
  height = s->Height();
  return s->CopyToBitmap(pixels);
}

}  // namespace lum
