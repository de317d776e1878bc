// Frames read back through the OpenGL back end's ring of pixel buffers, from
// the headless framebuffer (rows top first) and from a window's own surface
// (rows bottom up): orientation, buffers reused rather than made per frame,
// pixels lent to another thread, and a device lost while they are lent.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "gl_fixture.h"
#include "render/3d_screen.h"
#include "render/frame_reader.h"
#include "render/gl/gl_renderer.h"

namespace lum {
namespace {

constexpr int kSize = 64;

// A frame whose top eight rows are one colour and the rest another.
struct TBands {
  TColor top, rest;
};

class GLReadback : public test::THeadlessGL, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    SetGLForceWindowSurface(GetParam());
    THeadlessGL::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    OpenWindow(kSize);
    screen = std::make_unique<T3DScreen>(TRef<T3DEngine>(engine));
    screen->Attach(device.Get());
    ASSERT_TRUE(screen->DeviceReady());
    reader = std::make_unique<TFrameReader>(*screen, 3);
  }
  void TearDown() override {
    reader.reset();
    screen.reset();
    CloseWindow();
    SetGLForceWindowSurface(false);
  }
  bool Draw(TBands b) {
    if (!screen->BeginScene()) return false;
    screen->Clear(b.rest);
    screen->ClearRects({TRect{0, 0, kSize, 8}}, b.top);
    return screen->EndScene();
  }
  // Checks the frame's top band and the rest, channel by channel (BGRA).
  static void Expect(const TFramePixels& f, TBands b) {
    ASSERT_EQ(f.Width(), kSize);
    ASSERT_EQ(f.Height(), kSize);
    for (auto [y, c] : {std::pair{0, b.top}, {7, b.top}, {8, b.rest}, {kSize - 1, b.rest}}) {
      const uint8_t* p = f.Rows().Row(y) + 5 * 4;
      EXPECT_EQ(p[0], c & 0xFF) << "row " << y;
      EXPECT_EQ(p[1], (c >> 8) & 0xFF) << "row " << y;
      EXPECT_EQ(p[2], (c >> 16) & 0xFF) << "row " << y;
    }
  }
  static TBands Bands(int i) {
    return {0xFF000000u | TColor(i * 40) << 16 | 0x20, 0xFF000000u | TColor(200 - i * 30) << 8};
  }

  std::unique_ptr<T3DScreen> screen;
  std::unique_ptr<TFrameReader> reader;
};

TEST_P(GLReadback, FramesComeBackTheRightWayUpInTheSameBuffersFrameAfterFrame) {
  std::vector<const uint8_t*> tops;
  TRef<TFramePixels> first;
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(Draw(Bands(i)));
    ASSERT_TRUE(reader->Start(kSize, kSize));
    // One frame in flight while the next is drawn, as the export reads.
    if (i == 0) continue;
    TRef<TFramePixels> f = reader->Take();
    ASSERT_TRUE(f) << "frame " << i - 1;
    Expect(*f, Bands(i - 1));
    tops.push_back(f->Rows().top);
    if (i == 1) first = f;  // lent on while the next frames are read
    if (i == 2) {
      // Its pixels stayed as they were while the other slots were read into;
      // back before its slot comes round again.
      Expect(*first, Bands(0));
      first = nullptr;
    }
  }
  ASSERT_EQ(reader->Pending(), 1u);
  TRef<TFramePixels> last = reader->Take();
  ASSERT_TRUE(last);
  Expect(*last, Bands(5));
  EXPECT_FALSE(reader->Take());
  // Three buffers, taken in turn: frame n reads into frame n - 3's buffer.
  tops.push_back(last->Rows().top);
  for (size_t i = 3; i < tops.size(); ++i) EXPECT_EQ(tops[i], tops[i - 3]) << i;
  EXPECT_NE(tops[0], tops[1]);
}

TEST_P(GLReadback, ASlotIsReadIntoAgainOnlyOnceItsPixelsAreBack) {
  ASSERT_TRUE(Draw(Bands(0)));
  ASSERT_TRUE(reader->Start(kSize, kSize));
  TRef<TFramePixels> held = reader->Take();
  ASSERT_TRUE(held);
  std::atomic<bool> go{false}, returned{false};
  // Another thread reads the pixels until told, as an encoder would.
  std::thread user([&, f = std::move(held)]() mutable {
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Expect(*f, Bands(0));
    returned = true;
    f = nullptr;
  });
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(Draw(Bands(i)));
    if (i == 3) go = true;
    ASSERT_TRUE(reader->Start(kSize, kSize));  // the third waits for slot 0
    EXPECT_EQ(returned.load(), i == 3) << "frame " << i;
    EXPECT_TRUE(reader->Take());
  }
  user.join();
}

TEST_P(GLReadback, ALostDeviceWaitsForLentPixelsAndReadsAgainAfter) {
  ASSERT_TRUE(Draw(Bands(1)));
  ASSERT_TRUE(reader->Start(kSize, kSize));
  TRef<TFramePixels> held = reader->Take();
  ASSERT_TRUE(held);
  std::atomic<bool> returned{false};
  std::thread user([&, f = std::move(held)]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Expect(*f, Bands(1));
    returned = true;
    f = nullptr;
  });
  static_cast<T3DRendererGL*>(screen->Renderer())->DeclareLost();
  EXPECT_FALSE(screen->BeginScene());
  // Releasing the lost device's buffers waited for the pixels in use.
  EXPECT_TRUE(returned.load());
  user.join();
  ASSERT_TRUE(Draw(Bands(2)));
  ASSERT_TRUE(reader->Start(kSize, kSize));
  TRef<TFramePixels> again = reader->Take();
  ASSERT_TRUE(again);
  Expect(*again, Bands(2));
}

INSTANTIATE_TEST_SUITE_P(Surfaces, GLReadback, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Window" : "Headless"; });

}  // namespace
}  // namespace lum
