#pragma once
// Drop shadows: the description a shadow picture goes by, and the generator
// that turns an object's alpha (or a box's filled shape) into a soft white
// picture the drawer tints and places under the object.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "imaging/bitmap.h"
#include "imaging/image.h"

namespace lum {

inline constexpr std::string_view kShadowPrefix = "Shadow: ";
// Source name of shadows made from a generated shape (boxes).
inline constexpr std::string_view kShapeShadowSource = "N\\A";
// Video objects' sources begin with this: their shape is the frame the
// object holds, never a picture loaded by name.
inline constexpr std::string_view kVideoShadowSource = "Video: ";
inline constexpr uint8_t kSolidShadowFill = 8;

struct TShadowParams {
  std::string source;                              // picture name, or kShapeShadowSource
  float left = 0, top = 0, right = 0, bottom = 0;  // source pixels of level 0
  float marginX = 0, marginY = 0;
  int backgroundAlpha = 255;
  double blurSize = 0;
  int spread = 0;
  uint8_t alpha1 = 255, alpha2 = 255, fillMode = kSolidShadowFill;
  int mipLevel = 0;
  bool operator==(const TShadowParams&) const = default;
};

// "Shadow: " and the fields separated by ':' (the source name last, so that
// it may hold ':' itself).
std::string ShadowDescription(const TShadowParams& params);
// The fields after "Shadow: "; unreadable numbers give 0, the background
// alpha 255 and the fill mode 8.
TShadowParams ParseShadowDescription(std::string_view fields);

// How a shadow is generated and placed, derived from its parameters.
struct TShadowGeometry {
  int width = 0, height = 0;  // work size of the mask
  int halvings = 0;           // n; the work size is 1/2^n of the source size
  double blurStep = 1;        // s: the blur in work pixels, plus one
  int border = 0;             // blur border on each side, work pixels
  bool valid = false;         // false: no shadow can be made
  double Factor() const { return double(int64_t(1) << halvings); }
};
// Absurd sizes, margins and blurs are clamped so that the work stays bounded;
// non-finite or empty rectangles give an invalid geometry.
TShadowGeometry ShadowGeometryOf(const TShadowParams& params);

// Shapes are generated at about this many pixels whatever the box's size.
inline constexpr double kShapeShadowPixels = 40000;
// The parameters of a box of w x h with margins mx, my: the rectangle starts
// at 0,0 and is scaled to about kShapeShadowPixels, all rounded to whole
// pixels. scale receives the factor from box units to shadow units.
TShadowParams ShapeShadowParams(double w, double h, double mx, double my, double& scale);

// The shadow picture: white, its alpha the blurred mask, of
// (width + 2 border) x (height + 2 border) work pixels. source is the named
// picture (ignored for shapes); cancelled is asked after each row. Nothing
// when the geometry is invalid, the source is missing or it was cancelled.
TRef<TBitmap> GenerateShadow(const TShadowParams& params, const TImage* source,
                             const std::function<bool()>& cancelled = {});

// One shadowed object's shadow.
struct TShadow {
  TShadowParams params;
  TRef<TImage> picture;
  bool fromShape = false;
  bool requested = false;     // made, or tried, for these parameters
  bool pending = false;       // on its way from the host's shadow service
  std::string name;           // the description, while pending
  TRef<const TImage> source;  // the picture it is made from, while pending
  double blurScale = 0;       // object units per unit of "ShadowSize"
  double unit = 1;            // object units per source pixel
  // What the picture was made for: while a new one is on its way, the
  // previous one is drawn by these.
  TShadowParams shownParams;
  double shownUnit = 1;
};

// Blur scales by object kind: the shadow's blur per unit of "ShadowSize".
double PictureBlurScale(double width, double height, int mipLevel);
double ButtonBlurScale(double height, int mipLevel);
double TextBlurScale(double fontSize, int mipLevel);
double BoxBlurScale(double width, double height);

// Where the shadow lands relative to its object: the offset in the plane of
// the screen (or the object's with "3DShadow") for the given transform
// scale, distance, blur scale and angle in degrees: distance x blur scale
// world units per unit of the object.
struct TShadowOffset {
  double x = 0, y = 0;
};
TShadowOffset ShadowOffset(double axisScale, double distance, double blurScale, double angle);

}  // namespace lum
