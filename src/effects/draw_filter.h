#pragma once
// The transition filters: an object made for one transition from its
// description, told the elapsed time every frame, that draws a slide's
// picture into the device's target as triangles carrying a position, the
// slide's texture coordinates and an alpha.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "render/3d_drawer.h"
#include "render/slide_drawer.h"
#include "transitions/lum_effect.h"

namespace lum {

class TDrawContainer;
class TTransitionSlides;

// A rectangle in target pixels (fractions allowed).
struct TFilterRect {
  double left = 0, top = 0, right = 0, bottom = 0;
  double Width() const { return right - left; }
  double Height() const { return bottom - top; }
};

// A vertex as filters emit it: slide pixels (z away from the viewer), the
// texture position in slide pixels, alpha 0..255 and a shade 0..1 that
// darkens the colour (page curl).
struct TFilterVertex {
  double x = 0, y = 0, z = 0;
  double u = 0, v = 0;
  double alpha = 255;
  double shade = 1;
};

// The device's target as a filter draws into it: one batch of triangles on
// the source slide's picture. Without a drawer the triangles are only
// counted and kept (the geometry tests and the set-up benchmark).
class TFilterTarget {
 public:
  // source: where the slide is sampled (a picture with frame pixels at its
  // top left, or the slide's own picture and its map); empty draws nothing.
  TFilterTarget(T3DDrawer* drawer, const TSlideSource& source);
  ~TFilterTarget();
  TFilterTarget(const TFilterTarget&) = delete;
  TFilterTarget& operator=(const TFilterTarget&) = delete;

  void Begin();
  void Triangle(const TFilterVertex& a, const TFilterVertex& b, const TFilterVertex& c);
  void Quad(const TFilterVertex& a, const TFilterVertex& b, const TFilterVertex& c,
            const TFilterVertex& d) {
    Triangle(a, b, c);
    Triangle(a, c, d);
  }
  // An untextured triangle in a colour 0xRRGGBB with its vertices' alphas
  // and shades (the back of a rolled page).
  void ColorTriangle(const TFilterVertex& a, const TFilterVertex& b, const TFilterVertex& c,
                     uint32_t rgb);
  void End();

  // Triangles emitted since construction.
  int64_t Triangles() const { return triangles_; }
  // Kept vertices (three per triangle) when recording.
  void SetRecording(bool on) { recording_ = on; }
  const std::vector<TFilterVertex>& Recorded() const { return recorded_; }

 private:
  TVertex Convert(const TFilterVertex& v, uint32_t rgb, bool textured) const;
  // Ends the textured batch.
  void Close();
  void FlushColor();

  T3DDrawer* drawer_;
  TSlideSource source_;
  bool open_ = false;
  bool straight_ = false;  // an opaque straight texture read as premultiplied
  bool recording_ = false;
  int64_t triangles_ = 0;
  std::vector<TFilterVertex> recorded_;
  std::vector<TVertex> colored_;
};

// How the drawer lays the two slides out while a filter runs.
class TDrawFilter {
 public:
  virtual ~TDrawFilter() = default;
  virtual const char* ClassName() const = 0;

  // slide: the slide rectangle; edge: the soft-edge width in pixels;
  // duration in ms.
  virtual void Initialize(const TFilterRect& slide, double edge, double duration);
  // Elapsed ms, clamped to 0..duration.
  virtual void SetTime(double elapsed);
  // Draws the filtered slide.
  virtual void Draw(TFilterTarget& target) = 0;
  virtual void Reserved() {}

  // Draws the pair: normally the outgoing slide plainly and the incoming one
  // through the filter; reversed the other way round. Flip, swap, push and
  // slide-based filters lay the pair out their own way.
  virtual void DrawPair(T3DDrawer& drawer, TTransitionSlides& slides);

  // The device's output rectangle (where the slide rectangle is shown).
  void SetOutput(const TFilterRect& r) { output_ = r; }
  double Progress() const { return elapsed_ * inverse_; }
  double Elapsed() const { return elapsed_; }
  double Duration() const { return duration_; }
  double Edge() const { return edge_; }
  bool Reverse() const { return reverse_; }
  void SetReverse(bool r) { reverse_ = r; }
  const TFilterRect& Slide() const { return slide_; }
  const TFilterRect& Output() const { return output_; }

 protected:
  // Slide pixels to output pixels (scaling about the centres).
  TFilterVertex Map(TFilterVertex v) const;
  // A vertex at slide point (x, y) showing the slide there.
  TFilterVertex At(double x, double y, double alpha = 255) const;
  // Draws the filtered slide of the pair (incoming, or outgoing reversed).
  void DrawThrough(T3DDrawer& drawer, TTransitionSlides& slides, int which);

  TFilterRect slide_, output_;
  double edge_ = 0;
  double duration_ = 0, inverse_ = 0, elapsed_ = 0;
  bool reverse_ = false;
};

// Why a parameter was changed (logged by the factory and kept for tests).
void FilterWarning(const std::string& text);

// The hook that turns a custom transition (type 12) into a filter; the
// slide-based effects install it. Without it, or when it gives nothing,
// custom transitions cross-fade.
struct TCustomFilterContext {
  TDrawContainer* previous = nullptr;
  TDrawContainer* current = nullptr;
  TRect area;
};
using TCustomFilterHook = std::function<std::unique_ptr<TDrawFilter>(
    const TLumEffect& effect, const TCustomFilterContext& context)>;
void SetCustomFilterHook(TCustomFilterHook hook);

// The factory: the filter of a description, initialised with (rectangle,
// width x edge factor, duration); null for no description and for one
// without any set flag.
std::unique_ptr<TDrawFilter> CreateDrawFilter(const TLumEffect* effect, const TFilterRect& slide,
                                              double edgeFactor, double duration,
                                              const TCustomFilterContext* context = nullptr);

// The root item's transitions drawn through these filters (process-wide).
void InstallTransitionEffects();

}  // namespace lum
