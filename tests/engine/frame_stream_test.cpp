// Frames streamed by the offline frame driver, as the export takes them:
// delivered in order with the pixels lumshow render draws, and read back
// into reused buffers, so that a hundred frames take at most a handful of
// large allocations (a copy per frame once made export slow).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/offline_frame_driver.h"
#include "imaging/bitmap.h"
#include "render/frame_reader.h"
#include "support/player_shows.h"

namespace {
// Allocations of at least 1 MB through new, from any thread.
std::atomic<int64_t> gLargeNews{0};
constexpr size_t kLarge = size_t(1) << 20;

void* Allocate(size_t size) {
  if (size >= kLarge) gLargeNews.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t size) {
  return Allocate(size);
}
void* operator new[](size_t size) {
  return Allocate(size);
}
// Every form that pairs with the deletes below, so that no library's
// allocation is freed by another allocator than the one that made it.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}

namespace lum {
namespace {

constexpr int kW = 1280, kH = 720;

// The pixel at the frame's centre, 0xRRGGBB.
uint32_t Centre(const TFrameRows& rows) {
  const uint8_t* p = rows.Row(rows.height / 2) + (rows.width / 2) * 4;
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

uint32_t Centre(const TBitmap& b) {
  const uint8_t* p = b.Row(b.Height() / 2) + (b.Width() / 2) * 4;
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

TEST(FrameStream, FramesComeInOrderFromReusedBuffers) {
  // Three slides with a second's dissolve into each: most frames differ.
  test::TShowFiles show(test::SlideShowText(3, 2000, 1000, false));
  TOfflineFrameDriver driver(show.Source(), kW, kH);
  auto time = [](int n) { return n * 1000.0 / 30; };
  std::vector<uint32_t> centres;
  auto sink = [&centres](TRef<TFramePixels> f) {
    ASSERT_EQ(f->Width(), kW);
    ASSERT_EQ(f->Height(), kH);
    centres.push_back(Centre(f->Rows()));
  };
  // The first frames make the slides, textures and the ring.
  for (int n = 0; n < 5; ++n) driver.Stream(time(n), sink);
  const int64_t news = gLargeNews.load(), mapped = MappedBitmapCount();
  for (int n = 5; n < 105; ++n) driver.Stream(time(n), sink);
  driver.Flush();
  EXPECT_LE(gLargeNews.load() - news + MappedBitmapCount() - mapped, 4);

  ASSERT_EQ(centres.size(), 105u);
  // Each frame is the one of its own time: mid-dissolve, a held slide, the end.
  for (int n : {15, 45, 75, 104}) {
    TRef<TBitmap> drawn = driver.Render(time(n));
    EXPECT_EQ(centres[size_t(n)], Centre(*drawn)) << "frame " << n;
  }
  EXPECT_EQ(centres[45], test::SlideColor(0));
  EXPECT_EQ(centres[104], test::SlideColor(1));
}

}  // namespace
}  // namespace lum
