#pragma once
// The object tree of a slide: one object per property node, of the class the
// node's kind selects. Objects read their keys from the node's section, lay
// themselves out from the node's current animated values and hand their
// drawing to an abstract drawer that the renderer implements.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "document/ini_file.h"
#include "foundation/ref_object.h"
#include "model/lum_object_kind.h"
#include "model/shadow.h"
#include "project/lum_action_info.h"

namespace lum {

class TLumObjectProps;
class TLumObject;
class TLumSlide;
class TLumSlideHost;
class TShadowService;
class TLumBox;
class TLumImage;
struct TSlideBackground;

// Objects nest at most as deep as a document may nest them (the slide counts
// as the first level); deeper trees fail the slide.
inline constexpr int kMaxObjectDepth = kMaxObjectNesting;
inline constexpr const char* kTooDeepMessage = kObjectsTooDeepMessage;

struct TVec3 {
  double x = 0, y = 0, z = 0;
};
inline TVec3 operator+(TVec3 a, TVec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline TVec3 operator-(TVec3 a, TVec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline TVec3 operator*(TVec3 a, double k) {
  return {a.x * k, a.y * k, a.z * k};
}
inline double Dot(TVec3 a, TVec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline TVec3 Cross(TVec3 a, TVec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

using TMatrix3 = std::array<std::array<double, 3>, 3>;  // row vectors
TMatrix3 Multiply(const TMatrix3& a, const TMatrix3& b);
inline constexpr TMatrix3 kIdentity3 = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

// Where an object sits: its origin and the world vectors of one local unit.
struct TWorldTransform {
  TVec3 origin;
  TVec3 axisX{1, 0, 0}, axisY{0, 1, 0}, axisZ{0, 0, 1};
  TVec3 Map(double u, double v, double w = 0) const {
    return origin + axisX * u + axisY * v + axisZ * w;
  }
};

struct TRectF {
  double left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const TRectF&) const = default;
};

// The smallest rectangle holding the four points (x, y only).
TRectF BoundsOf(const std::array<TVec3, 4>& points);

// "r,g,b" as r | g << 8 | b << 16; def when missing or short.
uint32_t ReadObjectColor(const TIniList* section, std::string_view key, uint32_t def);

// What a drawer implements; the objects call it for their own content.
class TObjectDrawer {
 public:
  virtual ~TObjectDrawer() = default;
  // Hands a child over; a drawer normally calls object.Draw(*this).
  virtual void DrawItem(TLumObject& object);
  virtual void DrawBackground(TLumSlide& slide, const TSlideBackground& background) = 0;
  virtual void DrawBox(TLumBox& box) = 0;
  // Pictures (and the texts and buttons built on them).
  virtual void DrawImage(TLumImage& image);
  // Everything else with content of its own (pictures, texts, buttons, videos,
  // view ports) until the renderer knows them.
  virtual void DrawContent(TLumObject& object) = 0;
  // A slide serving as a transition effect draws another slide's objects into
  // an off-screen target and blends it over its own (alpha 0-255).
  virtual void BeginOffscreen(TLumSlide& /*slide*/) {}
  virtual void EndOffscreen(TLumSlide& /*slide*/) {}
  virtual void BlendOffscreen(TLumSlide& /*slide*/, int /*alpha*/, bool /*backgroundOnly*/) {}
};

// Accepts or rejects an object found by a hit test.
using THitFilter = std::function<bool(const TLumObject&)>;
// The click filter: objects transparent for clicks are passed over.
bool ClickFilter(const TLumObject& object);

enum class TFitMode : int { None = 0, PlaceInto = 1, Cover = 2 };
enum class TPosMode : int { Absolute = 0, Percent = 1 };

// Read access to the 15 current animated values of the object's node.
class TDrawItem : public TRefObject {};

class TLumParams : public TDrawItem {
 public:
  double Value(int field) const {
    if (scaleOverride_ && (field == 4 || field == 5)) return areaScale_[field - 4];
    return ValueOfNode(field);
  }
  double Opacity() const { return Value(0); }
  double PosX() const { return Value(1); }
  double PosY() const { return Value(2); }
  double PosZ() const { return Value(3); }
  double ScaleX() const { return Value(4); }
  double ScaleY() const { return Value(5); }
  double Angle() const { return Value(6); }
  double AngleX() const { return Value(7); }
  double AngleY() const { return Value(8); }
  double CenterX() const { return Value(9); }
  double CenterY() const { return Value(10); }
  double Blur() const { return Value(11); }
  double FrameZoom() const { return Value(12); }
  double FrameX() const { return Value(13); }
  double FrameY() const { return Value(14); }
  TLumObjectProps* Props() const { return props_; }

 protected:
  double ValueOfNode(int field) const;
  TLumObjectProps* props_ = nullptr;
  // The slide's scale to the presentation area stands in for its node's
  // scale values (the root has no key frames).
  bool scaleOverride_ = false;
  double areaScale_[2] = {100, 100};
};

struct TDropShadow {
  bool enabled = false;
  float size = 16;
  uint32_t color = 0;  // r | g << 8 | b << 16
  uint32_t shownColor = 0;
  float opacity = 59;
  float distance = 1.5f;
  float angle = 45;
  int32_t spread = 0;
  bool shadow3D = false;
};

// Largest on-screen size and nearest depth of an object over its key frames.
struct TDisplayMaxima {
  double width = 0, height = 0;
  double nearestDepth = 1000000;
  double scaleX = 0, scaleY = 0;  // the resulting display scale
};

class TLumObject : public TLumParams {
 public:
  // Binds itself to the node and joins the parent's child list.
  TLumObject(TLumObject* parent, TLumObjectProps* props);
  TLumObject(const TLumObject&) = delete;
  TLumObject& operator=(const TLumObject&) = delete;

  // What the class is called in listings ("TLumBox").
  virtual const char* ClassName() const { return "TLumObject"; }
  int Kind() const;

  virtual bool IsChanged() const;
  virtual double GetBlur() const;
  virtual void StopMedia();
  virtual void Draw(TObjectDrawer& drawer);
  virtual double GetOpacity() const;
  virtual bool UpdateLayout(bool recursive);
  virtual double GetAnchorTime(int anchor) const;
  virtual std::pair<double, double> GetContainerSize() const;
  virtual TWorldTransform GetParentTransform() const;
  virtual bool HitTest(double x, double y) const;
  virtual void DrawSelf(TObjectDrawer& drawer);
  // Colour-management lookup of the object's picture; none without one.
  virtual const TRefObject* GetColorLut() const { return nullptr; }
  virtual void CreateChildren(bool reloading);
  virtual void LoadFromSection(const TIniList* section);
  virtual void Load(bool reloading);
  virtual void SetTime(bool recursive, double time);
  // Runs once construction is complete (the factory calls it).
  virtual void InitDefaults() {}
  virtual std::pair<double, double> GetNaturalSize() const { return {0, 0}; }
  void SetPressed(bool pressed) { pressed_ = pressed; }
  virtual TLumSlideHost* GetHost() const;
  virtual TLumSlide* GetSlide() const;
  bool IsHostTracked() const;
  virtual void PrepareResources(TObjectDrawer& drawer);
  virtual void ProcessFrame(double time);
  virtual void ReleaseResources();
  TLumObject* FindObjectAt(double x, double y, const THitFilter& filter);
  TLumObject* HitTestPoint(double x, double y, bool deep);
  virtual bool SetTimeAndLayout(bool recursive, double time);
  virtual void TakeSnapshot(bool recursive);

  // Tree.
  TLumObject* Parent() const { return parent_; }
  const std::vector<TLumObject*>& Children() const { return children_; }
  int Depth() const { return depth_; }

  // Keys.
  const std::string& Name() const { return name_; }
  const std::string& ActionText() const { return action_; }
  bool TranspForClick() const { return transpForClick_; }
  bool TreeNode() const { return treeNode_; }
  const TDropShadow& Shadow() const { return shadow_; }
  void SetShadow(const TDropShadow& shadow);
  // The shadow cast now; its picture is null while there is none.
  const TShadow& CastShadow() const { return cast_; }
  // Brings the cast shadow up to date with the object (nothing by default).
  virtual void PrepareShadow() {}
  int HideMode() const { return hideMode_; }
  bool ChildInvis() const { return childInvis_; }
  TFitMode FitMode() const { return fitMode_; }
  TPosMode PosMode() const { return posMode_; }
  TPosMode CenterMode() const { return centerMode_; }
  double Width() const { return w_; }
  double Height() const { return h_; }

  // Layout results.
  double FitFactor() const { return fit_; }
  double EffScaleX() const { return effScaleX_; }
  double EffScaleY() const { return effScaleY_; }
  const TMatrix3& WorldMatrix() const { return world_; }
  const TWorldTransform& Transform() const { return transform_; }
  double RectLeft() const { return left_; }
  double RectTop() const { return top_; }
  // Corners of the rectangle in world space: left-top, right-top,
  // right-bottom, left-bottom.
  std::array<TVec3, 4> WorldCorners() const;
  // The same corners projected to window pixels.
  std::array<TVec3, 4> ScreenCorners() const;
  bool InView() const { return inView_; }
  bool HiddenByAncestor() const { return hiddenByAncestor_; }
  bool VisibleInTime() const { return visibleInTime_; }
  bool Pressed() const { return pressed_; }
  // Whether the HideMode hides the object now.
  bool HiddenByHideMode() const;
  // Visible in time, not hidden by its HideMode and not by an ancestor.
  bool Visible() const;
  TDisplayMaxima& Maxima() { return maxima_; }
  const TDisplayMaxima& Maxima() const { return maxima_; }

  // Button and text objects show a normal (0), hover (1) or pressed (2) state.
  virtual bool HasPointerStates() const { return false; }
  virtual void SetPointerState(int /*state*/) {}
  virtual int PointerState() const { return 0; }

 protected:
  ~TLumObject() override;
  // Where the ray from the camera through window point x, y meets the
  // object's plane, in its own units; false when it does not.
  bool PlanePoint(double x, double y, double& u, double& v) const;
  // The fit factor for a container of pw x ph ("FitMode").
  virtual double FitFor(double pw, double ph) const;
  // Called by classes that read "Size".
  void SetNominalSize(double w, double h) { w_ = w, h_ = h; }
  // Raised by setters of drawn values.
  void MarkChanged() { changed_ = true; }
  bool LayoutSelf();
  void ReadCommonKeys(const TIniList* section);
  // Keeps the shadow held when its parameters are equal, else makes a new
  // one: from the host's pictures when they have it, else from source (the
  // object's own picture; null for shapes). blurScale is in object units;
  // unit is object units per source pixel.
  void RequestShadow(TShadowParams params, const TImage* source, double blurScale, double unit);
  // Takes the pending shadow when the service has it ready (or gave up).
  void TakeShadow(TShadowService& service);
  // Draws this picture (null: none) as made for the current parameters.
  void ShowShadow(TRef<TImage> picture);
  friend class TLumSlide;

  TLumObject* parent_ = nullptr;
  TLumSlide* slide_ = nullptr;         // the root, known from construction
  std::vector<TLumObject*> children_;  // owned by the slide
  std::string name_, action_;
  bool transpForClick_ = false;
  bool treeNode_ = true;
  TDropShadow shadow_;
  TShadow cast_;
  bool defaultShadow_ = false;  // "ShadowEnable" when the key is missing
  int hideMode_ = 0;
  bool childInvis_ = false;
  TFitMode fitMode_ = TFitMode::PlaceInto;
  TPosMode posMode_ = TPosMode::Percent;
  TPosMode centerMode_ = TPosMode::Percent;
  double w_ = 0, h_ = 0;
  int depth_ = 0;

  // Layout.
  double fit_ = 0, effScaleX_ = 0, effScaleY_ = 0;
  double sinZ_ = 0, cosZ_ = 1, sinX_ = 0, cosX_ = 1, sinY_ = 0, cosY_ = 1;
  TMatrix3 world_ = kIdentity3;
  TWorldTransform transform_;
  double left_ = 0, top_ = 0;
  bool inView_ = false;
  bool hiddenByAncestor_ = false;

  // State.
  bool visibleInTime_ = false;
  bool pressed_ = false;
  bool changed_ = false;        // by a setter
  bool layoutChanged_ = false;  // since the last snapshot
  struct TSnapshot {
    double opacity = -1, blur = -1;
    std::array<TVec3, 4> corners{};
    TRectF bounds;
    bool visible = false;
  } snapshot_;
  TDisplayMaxima maxima_;
};

}  // namespace lum
