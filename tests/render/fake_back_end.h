#pragma once
// A back end without a device: records what the screen asks of it, so the
// device-independent layer can be checked without GL.
#include <memory>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "render/3d_engine.h"
#include "render/draw_device.h"

namespace lum::test {

// Collects log lines for checks.
class TCaptureLog : public TExclLog {
 public:
  explicit TCaptureLog(std::shared_ptr<std::vector<std::string>> lines)
      : lines_(std::move(lines)) {}

 protected:
  void Emit(std::string_view line) override { lines_->emplace_back(line); }

 private:
  std::shared_ptr<std::vector<std::string>> lines_;
};

// Installs a capturing log for the scope and answers whether a line contains a text.
class TLogCapture {
 public:
  TLogCapture() : lines_(std::make_shared<std::vector<std::string>>()) {
    auto log = std::make_unique<TCaptureLog>(lines_);
    log->SetThreadIds(false);
    log->SetTimes(false);
    SetLog(std::move(log));
  }
  ~TLogCapture() { SetLog(std::make_unique<TLog>()); }
  bool Has(const std::string& text) const {
    for (const auto& l : *lines_)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
  const std::vector<std::string>& Lines() const { return *lines_; }

 private:
  std::shared_ptr<std::vector<std::string>> lines_;
};

class TFakeRenderer;

class TFakeSurface : public T3DSurface {
 public:
  TFakeSurface(int w, int h) : w_(w), h_(h) {}
  int Width() const override { return w_; }
  int Height() const override { return h_; }
  bool Lock(const TRect*, TBitmapBuffer&) override { return false; }
  bool Unlock() override { return false; }
  bool CopyToBitmap(std::vector<uint8_t>& p) override {
    p.assign(static_cast<size_t>(w_) * h_ * 4, 0);
    return true;
  }
  bool CopyFromBitmap(const TPixelView&) override { return true; }
  void MarkReleased() { released_ = true; }

 private:
  int w_, h_;
};

class TFakeTexture : public T3DTexture {
 public:
  TFakeTexture(int kind, int w, int h, int levels) : kind_(kind), w_(w), h_(h), levels_(levels) {}
  int Kind() const override { return kind_; }
  int Width() const override { return w_; }
  int Height() const override { return h_; }
  int LevelCount() const override { return levels_; }
  bool LockLevel(int level, TBitmapBuffer& out) override {
    if (level >= levels_) return false;
    if (data.size() < static_cast<size_t>(levels_)) data.resize(levels_);
    out.width = std::max(1, w_ >> level);
    out.height = std::max(1, h_ >> level);
    out.format = kind_ == 3 ? TSurfaceFormat::Gray8 : TSurfaceFormat::BGRA8;
    out.pitch = out.width * BytesPerPixel(out.format);
    data[level].assign(static_cast<size_t>(out.pitch) * out.height, 0xEE);
    out.data = data[level].data();
    return true;
  }
  bool UnlockLevel(int) override {
    ++uploads;
    return true;
  }
  TRef<T3DSurface> Surface(int) override {
    if (!surface) surface = MakeRef<TFakeSurface>(w_, h_);
    return surface;
  }
  void MarkReleased() { released_ = true; }
  std::vector<std::vector<uint8_t>> data;
  int uploads = 0;
  TRef<TFakeSurface> surface;

 private:
  int kind_, w_, h_, levels_;
};

class TFakeVertexList : public T3DVertexList {
 public:
  TFakeVertexList(int cap, uint32_t flags, int pairs) : cap_(cap), flags_(flags), pairs_(pairs) {}
  int Capacity() const override { return cap_; }
  uint32_t Flags() const override { return flags_; }
  int TexturePairs() const override { return pairs_; }
  uint8_t* Lock(int count) override {
    bytes.assign(static_cast<size_t>(count) * Stride(), 0);
    return bytes.data();
  }
  bool Unlock() override { return true; }
  std::vector<uint8_t> bytes;

 private:
  int cap_;
  uint32_t flags_;
  int pairs_;
};

class TFakeShader : public T3DShader {
 public:
  int Kind() const override { return 0; }
};

struct TDrawCall {
  int primitives;
  uint32_t flags;
  int textureCount;
};

class TFakeRenderer : public T3DRenderer {
 public:
  explicit TFakeRenderer(TDrawDevice* d) : T3DRenderer(d) {
    back = MakeRef<TFakeSurface>(d ? d->ClientRect().Width() : 0, d ? d->ClientRect().Height() : 0);
    if (d) d->AddRenderer(this);
  }
  ~TFakeRenderer() override {
    if (device_) device_->RemoveRenderer(this);
  }

  // Render targets fail for lack of memory while more managed textures than
  // this stay alive.
  int managedLimit = 1 << 30;
  float texelOffset = 0;
  std::vector<TDrawCall> draws;
  std::vector<TRef<T3DBackendObject>> objects;
  int deviceChanges = 0;
  bool loseOnBegin = false;

  int LiveManaged() const {
    int n = 0;
    for (auto& o : objects)
      if (auto* t = dynamic_cast<TFakeTexture*>(o.Get()))
        if ((t->Kind() == 0 || t->Kind() == 3) && o->RefCount() > 1) ++n;
    return n;
  }
  void MarkLost() { state_ = TRendererState::DeviceLost; }
  // Releases every device object as a lost device does.
  void Lose() {
    state_ = TRendererState::DeviceLost;
    auto held = std::move(objects);
    for (auto& o : held) o->NotifyLost();
    auto cb = onLost;
    if (cb) cb();
  }

  void SetPanelBounds(const TRect&) override {}
  bool BeginScene() override {
    if (loseOnBegin) {
      Lose();
      return false;
    }
    return true;
  }
  bool EndScene() override { return true; }
  bool Present(const TRect*, const TRect*) override { return true; }
  bool Clear(const TRect*, int, uint32_t, TColor, float) override { return true; }
  void SetDefaultStates() override {}
  bool SetRenderTarget(T3DSurface* s) override {
    target = TRef<T3DSurface>(s);
    return true;
  }
  TRef<T3DSurface> RenderTarget() override { return target ? target : TRef<T3DSurface>(back); }
  TRef<T3DSurface> BackBuffer() override { return TRef<T3DSurface>(back); }
  bool SetViewport(const TRect& r, float, float) override {
    viewport = r;
    return true;
  }
  void SetClip(const TRect*) override {}
  bool DrawVertexList(T3DTexture* const*, int count, uint32_t flags, T3DVertexList*, int tc,
                      TPrimitive) override {
    draws.push_back({count, flags, tc});
    return true;
  }
  bool SetTexture(int, T3DTexture*) override { return true; }
  TRef<T3DTexture> CreateTexture(int kind, int w, bool mip, int h) override {
    if ((kind == 1 || kind == 2) && LiveManaged() > managedLimit) {
      lastResult_ = rrOutOfVideoMemory;
      ++failedTargets;
      return {};
    }
    lastResult_ = rrOk;
    int levels = 1;
    if (mip && kind != 1 && kind != 2)
      for (int s = std::max(w, h); s > 1; s >>= 1) ++levels;
    auto t = MakeRef<TFakeTexture>(kind, w, h, levels);
    objects.emplace_back(t.Get());
    return t;
  }
  TRef<T3DTexture> CreateVolumeTexture(int w, int h, int d) override {
    auto t = MakeRef<TFakeTexture>(0, w, h * d, 1);
    objects.emplace_back(t.Get());
    return t;
  }
  TRef<T3DVertexList> CreateVertexList(int count, uint32_t flags, int pairs) override {
    auto l = MakeRef<TFakeVertexList>(count, flags, pairs);
    objects.emplace_back(l.Get());
    ++listsCreated;
    return l;
  }
  bool StretchRect(T3DSurface*, const TRect*, T3DSurface*, const TRect*) override { return true; }
  void SetBlendMode(TBlendMode) override {}
  void SetTransform(TTransformKind, const TMatrix4&) override {}
  void SetCullMode(TCullMode) override {}
  void TexelOffset(float& x, float& y) const override { x = y = texelOffset; }
  TRef<T3DShader> CreateShader(std::string_view, int) override {
    if (refuseShaders) return {};
    auto s = MakeRef<TFakeShader>();
    objects.emplace_back(s.Get());
    ++shadersCreated;
    return s;
  }
  bool SetShader(T3DShader*) override { return true; }
  bool SetShaderConstants(int, const float*, int, bool) override { return true; }
  void DeviceChanged() override { ++deviceChanges; }

  TRef<TFakeSurface> back;
  TRef<T3DSurface> target;
  TRect viewport;
  int failedTargets = 0, listsCreated = 0, shadersCreated = 0;
  bool refuseShaders = false;  // a device that can make none
};

class TFakeEngine : public T3DEngine {
 public:
  bool ready = true;
  bool hasMode = true;
  float texelOffset = 0;
  int managedLimit = 1 << 30;
  bool refuseShaders = false;
  int renderersCreated = 0;
  TFakeRenderer* last = nullptr;

  int AdapterForRect(const TRect&) override { return 0; }
  int64_t CapabilityValue(std::string_view, int) override { return 0; }
  std::string CapabilityText(std::string_view, int) override { return {}; }
  bool DisplayMode(int, TDisplayMode& m) override {
    m.monitor = {0, 0, 1920, 1080};
    m.refreshRate = 60;
    return hasMode;
  }
  TRef<T3DRenderer> CreateRenderer(TDrawDevice* d, const TDisplayMode&) override {
    auto r = MakeRef<TFakeRenderer>(d);
    r->texelOffset = texelOffset;
    r->managedLimit = managedLimit;
    r->refuseShaders = refuseShaders;
    last = r.Get();
    ++renderersCreated;
    return r;
  }
  bool DeviceReady() override { return ready; }
  int QualityLevel(int) override { return 2; }
  std::string InitFailure() const override { return ready ? "" : "no device for tests"; }
};

}  // namespace lum::test
