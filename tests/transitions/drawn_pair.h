#pragma once
// The pair of a transition as the pixel tests draw it: each test draws its
// slides plainly; their pictures are those drawings in targets.
#include "render/3d_drawer.h"
#include "render/root_item.h"

namespace lum::test {

class TDrawnPair : public TTransitionSlides {
 public:
  explicit TDrawnPair(T3DDrawer& d) : d_(d) {}
  ~TDrawnPair() override {
    for (auto& p : pics_)
      if (p) d_.FullTargets().Release(p);
  }
  TDrawContainer& Container(int) override { return container_; }
  // Drawn once per pair, on the first request.
  TRenderTargetTexture* Picture(int which) override {
    auto& p = pics_[which];
    if (p) return p.Get();
    p = d_.FullTargets().Acquire();
    T3DScreen& s = d_.Screen();
    s.PushRenderTarget(p.Get());
    s.SetViewport(d_.FrameRect());
    s.Clear(0);
    DrawPlain(which);
    s.PopRenderTarget();
    s.SetViewport(d_.FrameRect());
    ++pictures;
    return p.Get();
  }
  // Slides drawn into targets so far.
  int pictures = 0;

 protected:
  T3DDrawer& d_;

 private:
  TDrawContainer container_;
  TRef<TRenderTargetTexture> pics_[2];
};

}  // namespace lum::test
