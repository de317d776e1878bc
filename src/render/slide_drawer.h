#pragma once
// Draws slides and their objects through the slide drawer: backgrounds,
// boxes, pictures and view ports, each object with its own blur.
#include "model/lum_object.h"
#include "render/3d_drawer.h"

namespace lum {

class TLumSlide;
class TLumViewPort;
class TTransitionSlides;
class TCustomColorGradeTexture;
class TBitmap;
struct TImageDrawParams;

// Where an effect samples a slide: a texture, and the map from target
// pixels to its texture pixels (texel = scale * pixel + offset).
struct TSlideSource {
  TSlideSource(TCustomTexture* t = nullptr) : texture(t) {}
  TCustomTexture* texture;
  double scaleX = 1, offsetX = 0, scaleY = 1, offsetY = 0;
  // Every texel opaque: read straight or premultiplied alike.
  bool opaque = false;
  explicit operator bool() const { return texture != nullptr; }
  double U(double x) const { return scaleX * x + offsetX; }
  double V(double y) const { return scaleY * y + offsetY; }
  // The texture pixels under target pixels r.
  TTexRect Map(const TRect& r) const { return {U(r.left), V(r.top), U(r.right), V(r.bottom)}; }
};

// How a picture is drawn: the level's texture, the part of it shown and the
// object's rectangle inside its border band.
struct TImageLayout {
  TRef<const TBitmap> level;  // null once the device alone holds the picture
  TCustomTexture* texture = nullptr;
  TTexRect source;
  double left = 0, top = 0, right = 0, bottom = 0, band = 0;
};

class TSlideDrawer : public TObjectDrawer {
 public:
  explicit TSlideDrawer(T3DDrawer& drawer) : drawer_(drawer) {}
  ~TSlideDrawer() override;

  // Draws a slide with its whole tree, clipped to the presentation area.
  void DrawSlide(TLumSlide& slide);
  // The slides of the running transition: pictures asking for effect buffer
  // 1 show the outgoing slide, 2 the incoming one, and a view port with an
  // empty content shows the incoming one. Without them (no transition)
  // effect-buffer pictures show their stand-in.
  void SetEffectBuffers(TTransitionSlides* slides) { buffers_ = slides; }

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
  // False when the picture has no buffer to show here (its own is drawn).
  bool DrawEffectBuffer(TLumImage& image);

 protected:
  T3DDrawer& Drawer() { return drawer_; }

 private:
  // The object's drop shadow, tinted and offset, at the object's opacity
  // (0..1) times the shadow's.
  void DrawShadow(TLumObject& object, double opacity);
  // Draws children of an object into a cleared full-size target; null when
  // no target could be had.
  TRef<TRenderTargetTexture> DrawIntoTarget(TLumObject& parent);

  T3DDrawer& drawer_;
  TRef<TRenderTargetTexture> offscreen_;
  TTransitionSlides* buffers_ = nullptr;
  TRect offscreenClip_;
};

// The corners of a rectangle in an object's own units, in world pixels.
TQuad3 ObjectQuad(const TLumObject& object, double left, double top, double right, double bottom);

// A text picture as premultiplied white (kept while it is drawn).
TRef<TBitmap> PremultipliedWhiteOf(T3DDrawer& drawer, const TBitmap& text);

// The texture and layout a picture is drawn with (the texture made or kept
// by the drawer); false when it has nothing to show.
bool LayoutImage(T3DDrawer& drawer, TLumImage& image, const TImageDrawParams& params,
                 TImageLayout& out);

// Makes the textures a slide's drawing asks for (its pictures, texts,
// backgrounds and shadows) without drawing, for T3DDrawer::UploadAhead to
// fill before the slide's first frame.
void PrepareSlideTextures(T3DDrawer& drawer, TLumSlide& slide);

// What a slide comes down to over `area` when it is one fully opaque
// picture, flat and unturned, covering the area with nothing drawn over it
// (what lies beneath is hidden): that picture's texture and map. Empty for
// any other slide. Draws nothing.
TSlideSource SolePicture(T3DDrawer& drawer, TLumSlide& slide, const TRect& area);

}  // namespace lum
