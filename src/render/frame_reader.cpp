#include "render/frame_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/bitmap.h"
#include "render/3d_screen.h"

namespace lum {

namespace {

// Read-back for back ends without buffers of their own: the surface's pixels
// copied into buffers kept per slot (their size stays, so they are made once).
class TSurfaceReadback : public T3DReadback {
 public:
  TSurfaceReadback(int width, int height, int slots)
      : width_(width), height_(height), slots_(size_t(slots)) {}
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int Slots() const override { return int(slots_.size()); }
  bool Start(int slot, T3DSurface& source) override {
    if (slot < 0 || slot >= Slots()) return false;
    WaitReturned(slot);
    TSlot& s = slots_[size_t(slot)];
    s.width = source.Width();
    if (s.width < width_ || source.Height() < height_) return false;
    return s.read = source.CopyToBitmap(s.pixels);
  }
  bool Map(int slot, TFrameRows& rows) override {
    if (slot < 0 || slot >= Slots() || !slots_[size_t(slot)].read || Lent(slot)) return false;
    TSlot& s = slots_[size_t(slot)];
    s.read = false;
    rows = {s.pixels.data(), width_, height_, ptrdiff_t(s.width) * 4};
    Lend(slot);
    return true;
  }

 private:
  struct TSlot {
    std::vector<uint8_t> pixels;
    int width = 0;
    bool read = false;
  };
  int width_, height_;
  std::vector<TSlot> slots_;
};

}  // namespace

TRef<TBitmap> OpaqueBitmap(const TFrameRows& rows) {
  auto bmp = MakeRef<TBitmap>(rows.width, rows.height, TPixelFormat::Bgra32);
  for (int y = 0; y < rows.height; ++y) {
    uint8_t* row = bmp->Row(y);
    std::memcpy(row, rows.Row(y), size_t(rows.width) * 4);
    for (int x = 0; x < rows.width; ++x) row[x * 4 + 3] = 255;
  }
  return bmp;
}

TFrameReader::TFrameReader(T3DScreen& screen, int slots)
    : screen_(screen), slots_(std::clamp(slots, 1, 8)) {}

TFrameReader::~TFrameReader() {
  Reset();
}

void TFrameReader::Reset() {
  pending_.clear();
  // The lent pixels point into the ring: it goes only once they are back.
  if (ring_) ring_->WaitReturned(-1);
  ring_ = nullptr;
  madeOn_ = nullptr;
}

T3DReadback* TFrameReader::Ring(int width, int height) {
  T3DRenderer* renderer = screen_.Renderer();
  if (!renderer) return nullptr;
  if (ring_ && !ring_->Released() && madeOn_ == renderer && ring_->Width() == width &&
      ring_->Height() == height)
    return ring_.Get();
  // Frames started on the ring before are lost with it.
  Reset();
  ring_ = renderer->CreateReadback(width, height, slots_);
  if (!ring_) ring_ = MakeRef<TSurfaceReadback>(width, height, slots_);
  madeOn_ = renderer;
  next_ = 0;
  return ring_.Get();
}

bool TFrameReader::Start(int width, int height) {
  if (width <= 0 || height <= 0 || int(pending_.size()) >= slots_) return false;
  TRef<T3DSurface> target = screen_.TargetSurface();
  if (!target) return false;
  TRef<T3DReadback> ring(Ring(width, height));
  if (!ring) return false;
  const int slot = next_;
  if (!ring->Start(slot, *target)) return false;
  next_ = (next_ + 1) % slots_;
  pending_.push_back(slot);
  return true;
}

TRef<TFramePixels> TFrameReader::Take() {
  if (pending_.empty()) return nullptr;
  const int slot = pending_.front();
  pending_.pop_front();
  TRef<T3DReadback> ring = ring_;
  TFrameRows rows;
  if (!ring || ring->Released() || !ring->Map(slot, rows)) return nullptr;
  return MakeRef<TFramePixels>(ring.Get(), slot, rows);
}

}  // namespace lum
