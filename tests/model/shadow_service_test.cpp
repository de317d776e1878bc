// Shadows made off the engine thread: made once per description and shared,
// failures remembered, bytes and waiting requests bounded, and objects that
// draw unshadowed until their shadow is ready (or at once when asked to).
#include <gtest/gtest.h>

#include <cstring>

#include "model/lum_box.h"
#include "model/shadow_service.h"
#include "show_fixture.h"

namespace lum {
namespace {

TShadowParams Shape(double w, double h, double blur) {
  double scale = 0;
  TShadowParams p = ShapeShadowParams(w, h, 0, 0, scale);
  p.blurSize = blur;
  return p;
}

using TState = TShadowService::TState;

TState Ask(TShadowService& s, const TShadowParams& p, TRef<TImage>& picture) {
  return s.Request(ShadowDescription(p), p, nullptr, picture);
}

TEST(ShadowService, MakesEachShadowOnceAndRemembersFailures) {
  TShadowService service;
  const TShadowParams p = Shape(200, 100, 12);
  TRef<TImage> picture;
  EXPECT_EQ(Ask(service, p, picture), TState::Pending);
  // Asked again while on its way: not queued twice (the worker may be done).
  const TState second = Ask(service, p, picture);
  EXPECT_TRUE(second == TState::Pending || second == TState::Ready);
  EXPECT_LE(service.Busy(), 1u);
  service.WaitIdle();
  ASSERT_EQ(Ask(service, p, picture), TState::Ready);
  TRef<TBitmap> made = picture->GetMipLevel(0, TPixelFormat::Bgra32);
  TRef<TBitmap> direct = GenerateShadow(p, nullptr);
  ASSERT_TRUE(made && direct);
  ASSERT_EQ(made->Width(), direct->Width());
  for (int y = 0; y < direct->Height(); ++y)
    ASSERT_EQ(std::memcmp(made->Row(y), direct->Row(y), size_t(direct->Width()) * 4), 0) << y;
  TRef<TImage> again;
  EXPECT_EQ(Ask(service, p, again), TState::Ready);
  EXPECT_EQ(again.Get(), picture.Get());  // shared by description
  // A picture shadow without its picture cannot be made: said once, kept.
  TShadowParams missing = p;
  missing.source = "gone.png";
  EXPECT_EQ(Ask(service, missing, picture), TState::Pending);
  service.WaitIdle();
  EXPECT_EQ(Ask(service, missing, picture), TState::Failed);
  EXPECT_EQ(service.Busy(), 0u);
}

TEST(ShadowService, KeepsBytesAndWaitingRequestsBounded) {
  const size_t one = [] {
    TRef<TBitmap> b = GenerateShadow(Shape(200, 100, 4), nullptr);
    return size_t(b->Width()) * size_t(b->Height()) * 4;
  }();
  TShadowService service(2 * one + one / 2, 2);
  std::vector<TShadowParams> all;
  for (int i = 0; i < 6; ++i) all.push_back(Shape(200, 100, 4 + 0.01 * i));
  std::vector<bool> seen(all.size(), false);
  // As objects do: asking every layout until they hold their shadow.
  for (int round = 0; round < 20; ++round) {
    for (size_t i = 0; i < all.size(); ++i) {
      if (seen[i]) continue;
      TRef<TImage> picture;
      const TState s = Ask(service, all[i], picture);
      if (s == TState::Ready) seen[i] = true;
      EXPECT_NE(s, TState::Failed);
      // Two waiting and one being made; the rest were refused, to be asked again.
      EXPECT_LE(service.Busy(), 3u);
    }
    EXPECT_LE(service.Bytes(), 2 * one + one / 2);
    service.WaitIdle();
  }
  for (size_t i = 0; i < all.size(); ++i) EXPECT_TRUE(seen[i]) << i;
}

// An absurd blur on a large opaque picture: a shadow that takes a while.
struct TSlowShadow {
  TRef<TImage> image;
  TShadowParams p;
  TSlowShadow() {
    auto bmp = MakeRef<TBitmap>(2000, 1500, TPixelFormat::Bgra32);
    bmp->Fill(255, 255, 255, 255);
    image = MakeRef<TImage>(MakeRef<TSysBitmapStore>(bmp));
    p.source = "big.png";
    p.right = 2000, p.bottom = 1500;
    p.blurSize = 1e6;
  }
};

TEST(ShadowService, GoesAwayWhileMakingAShadow) {
  // Closing does not wait for the shadow being made.
  TSlowShadow slow;
  TShadowParams& p = slow.p;
  const TRef<TImage>& image = slow.image;
  for (int i = 0; i < 3; ++i) {
    TShadowService service;
    TRef<TImage> picture;
    p.spread = i;
    EXPECT_EQ(service.Request(ShadowDescription(p), p, image, picture), TState::Pending);
  }
}

TEST(ShadowService, WithdrawnRequestsAreNotMade) {
  TSlowShadow big;
  const TShadowParams& slow = big.p;
  const TRef<TImage>& image = big.image;
  TShadowService service;
  TRef<TImage> picture;
  service.Request(ShadowDescription(slow), slow, image, picture);
  const TShadowParams moved = Shape(100, 100, 3);
  EXPECT_EQ(Ask(service, moved, picture), TState::Pending);
  service.Withdraw(ShadowDescription(moved));
  service.WaitIdle();
  EXPECT_EQ(service.Request(ShadowDescription(slow), slow, image, picture), TState::Ready);
  EXPECT_EQ(Ask(service, moved, picture), TState::Pending);  // asked anew
  service.WaitIdle();
  EXPECT_EQ(Ask(service, moved, picture), TState::Ready);
}

std::string ShadowedBox() {
  return "object B:Box\nGUID={1}\nSize=200,100\nFitMode=None\nColor1=255,255,255\n"
         "ShadowEnable=1\n" +
         test::Key(0, "") + "end\n";
}

TEST(ShadowService, ObjectsDrawUnshadowedUntilTheirShadowIsReady) {
  test::TModelShow show(800, 400);
  TLumSlide& s = show.Slide(ShadowedBox());
  auto* box = static_cast<TLumBox*>(s.AllObjects()[1]);
  ASSERT_NE(show.host->Shadows(), nullptr);
  show.host->Shadows()->WaitIdle();
  if (!box->CastShadow().picture) {
    EXPECT_TRUE(box->CastShadow().pending);
    s.TakeSnapshot(true);
    s.SetTimeAndLayout(true, 0);
  }
  ASSERT_TRUE(box->CastShadow().picture);
  EXPECT_FALSE(box->CastShadow().pending);
  EXPECT_EQ(box->CastShadow().picture->Width(),
            GenerateShadow(box->CastShadow().params, nullptr)->Width());
  EXPECT_TRUE(s.IsChanged());  // the frame is drawn again with it

  // A new shadow on its way: the previous one is drawn, as it was made.
  const TShadowParams first = box->CastShadow().params;
  TRef<TImage> shown = box->CastShadow().picture;
  TDropShadow d = box->Shadow();
  d.size = 40;
  box->SetShadow(d);
  s.SetTimeAndLayout(true, 0);
  EXPECT_TRUE(box->CastShadow().pending);
  EXPECT_EQ(box->CastShadow().picture.Get(), shown.Get());
  EXPECT_EQ(box->CastShadow().shownParams, first);
  EXPECT_NE(box->CastShadow().params, first);
  show.host->Shadows()->WaitIdle();
  s.SetTimeAndLayout(true, 0);
  EXPECT_NE(box->CastShadow().picture.Get(), shown.Get());
  EXPECT_EQ(box->CastShadow().shownParams, box->CastShadow().params);

  // Made at once where every frame must be complete.
  TLumSlideHost::SetSynchronousShadows(true);
  test::TModelShow now(800, 400);
  TLumSlide& s2 = now.Slide(ShadowedBox());
  EXPECT_EQ(now.host->Shadows(), nullptr);
  EXPECT_TRUE(static_cast<TLumBox*>(s2.AllObjects()[1])->CastShadow().picture);
  TLumSlideHost::SetSynchronousShadows(false);
}

}  // namespace
}  // namespace lum
