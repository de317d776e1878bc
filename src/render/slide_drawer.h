#pragma once
// Draws slides and their objects through the slide drawer: backgrounds,
// boxes, pictures and view ports, each object with its own blur.
#include "model/lum_object.h"
#include "render/3d_drawer.h"

namespace lum {

class TLumSlide;
class TLumViewPort;
class TCustomColorGradeTexture;
class TBitmap;

class TSlideDrawer : public TObjectDrawer {
 public:
  explicit TSlideDrawer(T3DDrawer& drawer) : drawer_(drawer) {}
  ~TSlideDrawer() override;

  // Draws a slide with its whole tree, clipped to the presentation area.
  void DrawSlide(TLumSlide& slide);

  void DrawItem(TLumObject& object) override;
  void DrawBackground(TLumSlide& slide, const TSlideBackground& background) override;
  void DrawBox(TLumBox& box) override;
  void DrawImage(TLumImage& image) override;
  void DrawContent(TLumObject& object) override;
  // A slide serving as a transition effect: another slide's objects drawn
  // into a full-size target and blended over the slide.
  void BeginOffscreen(TLumSlide& slide) override;
  void EndOffscreen(TLumSlide& slide) override;
  void BlendOffscreen(TLumSlide& slide, int alpha, bool backgroundOnly) override;

 private:
  void DrawViewPort(TLumViewPort& port);

 protected:
  T3DDrawer& Drawer() { return drawer_; }

 private:
  // The object's drop shadow, tinted and offset, at the object's opacity
  // (0..1) times the shadow's.
  void DrawShadow(TLumObject& object, double opacity);
  // A text picture as premultiplied white (kept while it is drawn).
  TRef<TBitmap> PremultipliedWhite(const TBitmap& text);
  // The look-up texture of baked grade cells (mode 2 curves, 3 volumes),
  // made once per cells.
  TCustomColorGradeTexture* GradeTextureOf(const TBitmap& cells, int mode);
  // Draws children of an object into a cleared full-size target; null when
  // no target could be had.
  TRef<TRenderTargetTexture> DrawIntoTarget(TLumObject& parent);

  T3DDrawer& drawer_;
  TRef<TRenderTargetTexture> offscreen_;
  TRect offscreenClip_;
};

// The corners of a rectangle in an object's own units, in world pixels.
TQuad3 ObjectQuad(const TLumObject& object, double left, double top, double right, double bottom);

}  // namespace lum
