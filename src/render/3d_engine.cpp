#include "render/3d_engine.h"

#include <atomic>

namespace lum {

int T3DVertexList::Stride() const {
  uint32_t f = Flags();
  int stride = 12;
  if (f & vfNormal) stride += 12;
  if (f & vfDiffuse) stride += 4;
  if (f & vfSpecular) stride += 4;
  return stride + 8 * TexturePairs();
}

void T3DReadback::Return(int slot) {
  // Notified under the lock: a waiter that wakes may free the ring at once.
  std::lock_guard g(lentLock_);
  lent_ &= ~(uint64_t(1) << slot);
  returned_.notify_all();
}

void T3DReadback::Lend(int slot) {
  std::lock_guard g(lentLock_);
  lent_ |= uint64_t(1) << slot;
}

bool T3DReadback::Lent(int slot) {
  std::lock_guard g(lentLock_);
  return (lent_ >> slot) & 1;
}

void T3DReadback::WaitReturned(int slot) {
  const uint64_t mask = slot < 0 ? ~uint64_t(0) : uint64_t(1) << slot;
  std::unique_lock l(lentLock_);
  returned_.wait(l, [&] { return (lent_ & mask) == 0; });
}

int QualityLevelFor(int pixelShaderVersion, int vendorId) {
  if (pixelShaderVersion < 0x200) return 0;
  if (vendorId == 0x8086 && pixelShaderVersion < 0x300) return 1;
  return 2;
}

namespace {
std::atomic<int64_t> gTextureBytes{0};
}  // namespace

int64_t TextureBytes() {
  return gTextureBytes.load();
}

void CountTextureBytes(int64_t delta) {
  gTextureBytes += delta;
}

}  // namespace lum
