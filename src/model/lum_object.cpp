#include "model/lum_object.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/errors.h"
#include "model/displayed_color.h"
#include "model/lum_image.h"
#include "model/lum_object_props.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "model/object_factory.h"
#include "model/shadow_service.h"
#include "model/special_pictures.h"

namespace lum {

namespace {

constexpr double kDegToRad = std::numbers::pi / 180.0;

}  // namespace

uint32_t ReadObjectColor(const TIniList* section, std::string_view key, uint32_t def) {
  std::vector<std::string> parts = ReadList(section, key);
  if (parts.size() < 3) return def;
  uint32_t c = 0;
  for (int i = 0; i < 3; ++i)
    c |= uint32_t(std::clamp(ValueToInt(parts[size_t(i)], 0), 0, 255)) << (8 * i);
  return c;
}

TRectF BoundsOf(const std::array<TVec3, 4>& points) {
  TRectF b{points[0].x, points[0].y, points[0].x, points[0].y};
  for (const TVec3& p : points) {
    b.left = std::min(b.left, p.x);
    b.top = std::min(b.top, p.y);
    b.right = std::max(b.right, p.x);
    b.bottom = std::max(b.bottom, p.y);
  }
  return b;
}

TMatrix3 Multiply(const TMatrix3& a, const TMatrix3& b) {
  TMatrix3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
  return r;
}

void TObjectDrawer::DrawItem(TLumObject& object) {
  object.Draw(*this);
}

void TObjectDrawer::DrawImage(TLumImage& image) {
  DrawContent(image);
}

bool ClickFilter(const TLumObject& object) {
  return !object.TranspForClick();
}

double TLumParams::ValueOfNode(int field) const {
  return props_ ? props_->Value(field) : 0.0;
}

TLumObject::TLumObject(TLumObject* parent, TLumObjectProps* props) : parent_(parent) {
  props_ = props;
  if (parent_) {
    slide_ = parent_->slide_;
    depth_ = parent_->depth_ + 1;
    parent_->children_.push_back(this);
  }
  // The node keeps its object alive: objects live as long as their nodes.
  if (props_) props_->BindObject(this, TRef<TRefObject>(this));
}

TLumObject::~TLumObject() {
  for (TLumObject* c : children_) c->parent_ = nullptr;
  if (props_) props_->UnbindObject(this);
  if (parent_) {
    auto& list = parent_->children_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

int TLumObject::Kind() const {
  return props_ ? props_->Kind() : kKindNone;
}

bool TLumObject::IsChanged() const {
  if (changed_ || layoutChanged_) return true;
  for (const TLumObject* c : children_)
    if (c->IsChanged()) return true;
  return false;
}

double TLumObject::GetBlur() const {
  TLumSlide* slide = GetSlide();
  return Blur() * (slide ? slide->BlurScale() : 1.0);
}

void TLumObject::StopMedia() {
  for (TLumObject* c : children_) c->StopMedia();
}

void TLumObject::Draw(TObjectDrawer& drawer) {
  try {
    if (Visible()) DrawSelf(drawer);
  } catch (const std::exception&) {
    // A broken object loses its own content for this frame, nothing else.
  }
  TakeSnapshot(false);
  for (TLumObject* c : children_) drawer.DrawItem(*c);
}

double TLumObject::GetOpacity() const {
  TLumSlide* slide = GetSlide();
  double base = slide ? slide->GetOpacityBase() : 100.0;
  return base * Opacity() / 100.0;
}

bool TLumObject::UpdateLayout(bool recursive) {
  bool changed = LayoutSelf();
  if (recursive)
    for (TLumObject* c : children_) changed = c->UpdateLayout(true) || changed;
  return changed;
}

double TLumObject::FitFor(double pw, double ph) const {
  const double w = w_, h = h_;
  switch (fitMode_) {
    case TFitMode::PlaceInto:
      return (w > 0 && h > 0) ? std::min(pw / w, ph / h) : 0.0;
    case TFitMode::Cover:
      return (w > 0 && h > 0 && pw > 0 && ph > 0) ? 1.0 / std::min(w / pw, h / ph) : 0.0;
    case TFitMode::None:
      return 1.0;
  }
  return 1.0;
}

bool TLumObject::LayoutSelf() {
  TLumSlide* slide = GetSlide();
  auto [pw, ph] = GetContainerSize();
  const double w = w_, h = h_;
  fit_ = FitFor(pw, ph);
  effScaleX_ = ScaleX() * fit_ / 100.0;
  effScaleY_ = ScaleY() * fit_ / 100.0;
  sinZ_ = std::sin(Angle() * kDegToRad), cosZ_ = std::cos(Angle() * kDegToRad);
  sinX_ = std::sin(AngleX() * kDegToRad), cosX_ = std::cos(AngleX() * kDegToRad);
  sinY_ = std::sin(AngleY() * kDegToRad), cosY_ = std::cos(AngleY() * kDegToRad);
  const double sx = effScaleX_, sy = effScaleY_;
  TMatrix3 local = {{
      {sx * cosY_ * cosZ_, sx * cosY_ * sinZ_, sx * sinY_},
      {sy * (sinX_ * sinY_ * cosZ_ - cosX_ * sinZ_), sy * (sinX_ * sinY_ * sinZ_ + cosX_ * cosZ_),
       -sy * sinX_ * cosY_},
      {-sy * (cosX_ * sinY_ * cosZ_ + sinX_ * sinZ_), sy * (sinX_ * cosZ_ - cosX_ * sinY_ * sinZ_),
       sy * cosX_ * cosY_},
  }};
  world_ = parent_ ? Multiply(local, parent_->world_) : local;
  const double depth = slide ? slide->DepthFactor() : 1.0;
  TWorldTransform parentTransform = GetParentTransform();
  double px, py;
  if (posMode_ == TPosMode::Percent) {
    px = PosX() * pw * 0.005;
    py = PosY() * ph * 0.005;
  } else {
    px = PosX();
    py = PosY();
  }
  double pz = PosZ() * ph / 200.0;
  transform_.origin = parentTransform.Map(px, py, pz);
  transform_.axisX = {world_[0][0], world_[0][1], world_[0][2] * depth};
  transform_.axisY = {world_[1][0], world_[1][1], world_[1][2] * depth};
  transform_.axisZ = {world_[2][0], world_[2][1], world_[2][2] * depth};
  if (centerMode_ == TPosMode::Percent) {
    left_ = -w / 2 - CenterX() * w * 0.005;
    top_ = -h / 2 - CenterY() * h * 0.005;
  } else {
    // An absolute centre counts in the object's own units.
    left_ = -w / 2 - CenterX();
    top_ = -h / 2 - CenterY();
  }

  std::array<TVec3, 4> corners = WorldCorners();
  std::array<TVec3, 4> screen = corners;
  if (slide)
    for (TVec3& p : screen) p = slide->Project(p);
  TRectF bounds = BoundsOf(screen);
  TRectF view = slide && slide->GetHost() ? slide->GetHost()->View() : TRectF{};
  inView_ = fit_ != 0 && bounds.right >= view.left && bounds.left <= view.right &&
            bounds.bottom >= view.top && bounds.top <= view.bottom;
  hiddenByAncestor_ =
      (childInvis_ && HiddenByHideMode()) || (parent_ && parent_->hiddenByAncestor_);

  bool differs = snapshot_.opacity != GetOpacity() || snapshot_.blur != GetBlur() ||
                 snapshot_.bounds != bounds || snapshot_.visible != Visible();
  for (int i = 0; i < 4 && !differs; ++i)
    differs = corners[size_t(i)].x != snapshot_.corners[size_t(i)].x ||
              corners[size_t(i)].y != snapshot_.corners[size_t(i)].y ||
              corners[size_t(i)].z != snapshot_.corners[size_t(i)].z;
  if (differs) layoutChanged_ = true;
  return changed_ || differs;
}

std::array<TVec3, 4> TLumObject::WorldCorners() const {
  return {transform_.Map(left_, top_), transform_.Map(left_ + w_, top_),
          transform_.Map(left_ + w_, top_ + h_), transform_.Map(left_, top_ + h_)};
}

std::array<TVec3, 4> TLumObject::ScreenCorners() const {
  std::array<TVec3, 4> c = WorldCorners();
  if (TLumSlide* slide = GetSlide())
    for (TVec3& p : c) p = slide->Project(p);
  return c;
}

bool TLumObject::HiddenByHideMode() const {
  if (hideMode_ == 0) return false;
  TLumSlide* slide = GetSlide();
  TVec3 camera = slide ? slide->Camera() : TVec3{0, 0, -1};
  TVec3 normal = Cross(transform_.axisX, transform_.axisY);
  bool backFaces = Dot(camera - transform_.origin, normal) > 0;
  return ((hideMode_ & 1) && backFaces) || (hideMode_ > 1 && !backFaces);
}

bool TLumObject::Visible() const {
  return visibleInTime_ && !hiddenByAncestor_ && !HiddenByHideMode();
}

double TLumObject::GetAnchorTime(int anchor) const {
  TLumSlide* slide = GetSlide();
  return slide ? slide->GetAnchorTime(anchor) : 0.0;
}

std::pair<double, double> TLumObject::GetContainerSize() const {
  if (!parent_) return {w_, h_};
  return {parent_->w_, parent_->h_};
}

TWorldTransform TLumObject::GetParentTransform() const {
  return parent_ ? parent_->transform_ : TWorldTransform{};
}

bool TLumObject::PlanePoint(double x, double y, double& u, double& v) const {
  TLumSlide* slide = GetSlide();
  if (!slide) return false;
  // The ray from the camera through the window point meets the object's plane
  // at origin + u X + v Y.
  TVec3 camera = slide->Camera();
  TVec3 dir = TVec3{x, y, 0} - camera;
  TVec3 a = transform_.axisX, b = transform_.axisY, c = dir * -1.0;
  TVec3 r = camera - transform_.origin;
  double det = Dot(a, Cross(b, c));
  if (std::abs(det) < 1e-12) return false;
  u = Dot(r, Cross(b, c)) / det;
  v = Dot(a, Cross(r, c)) / det;
  return Dot(a, Cross(b, r)) / det > 0;
}

bool TLumObject::HitTest(double x, double y) const {
  if (!inView_ && !IsHostTracked()) return false;
  double u = 0, v = 0;
  if (!PlanePoint(x, y, u, v)) return false;
  constexpr double kEps = 1e-9;
  return u >= left_ - kEps && u <= left_ + w_ + kEps && v >= top_ - kEps && v <= top_ + h_ + kEps;
}

void TLumObject::DrawSelf(TObjectDrawer&) {}

void TLumObject::CreateChildren(bool reloading) {
  children_.clear();
  if (!props_) return;
  for (const TRef<TLumObjectProps>& ref : props_->Children()) {
    TLumObjectProps* node = ref.Get();
    if (TLumObject* bound = node->Object()) {
      children_.push_back(bound);
      bound->Load(true);
      continue;
    }
    if (depth_ + 1 >= kMaxObjectDepth) throw ELumError(kTooDeepMessage);
    TLumObject* created = ObjectFactory().Create(node->Kind(), this, node);
    if (!created) continue;
    created->Load(reloading);
  }
}

void TLumObject::SetShadow(const TDropShadow& shadow) {
  shadow_ = shadow;
  MarkChanged();
}

void TLumObject::RequestShadow(TShadowParams params, const TImage* source, double blurScale,
                               double unit) {
  // NaN never equals itself: it would make a new shadow every frame.
  for (float* v : {&params.left, &params.top, &params.right, &params.bottom, &params.marginX,
                   &params.marginY})
    if (!std::isfinite(*v)) *v = 0;
  if (!std::isfinite(params.blurSize)) params.blurSize = 0;
  cast_.blurScale = std::isfinite(blurScale) ? blurScale : 0;
  cast_.unit = unit;
  TLumSlideHost* host = GetHost();
  TShadowService* service = host ? host->Shadows() : nullptr;
  // One that could not be made is not tried again until something changes.
  if (cast_.requested && cast_.params == params) {
    if (cast_.pending && service) TakeShadow(*service);
    return;
  }
  // A superseded request that has not started is not worth making.
  if (cast_.pending && service) service->Withdraw(cast_.name);
  cast_.requested = true;
  cast_.params = params;
  cast_.fromShape = params.source == kShapeShadowSource;
  cast_.pending = false;
  cast_.source = nullptr;
  const std::string name = ShadowDescription(params);
  if (service) {
    // Made off this thread; until it is ready the previous shadow is drawn
    // (as it was made), so an animated object keeps its shadow.
    cast_.pending = true;
    cast_.name = name;
    cast_.source = TRef<const TImage>(source);
    TakeShadow(*service);
    return;
  }
  TRef<TImage> picture;
  TRef<TImage> shared = host ? host->OpenPicture(name) : nullptr;
  // The cache answers unknown names with a placeholder: only the shadow counts.
  if (shared && GeneratedPictureName(*shared) == name) {
    picture = std::move(shared);
  } else if (TRef<TBitmap> made = GenerateShadow(params, source, [host] {
               return host && host->LoadingCancelled();
             })) {
    picture = MakeRef<TImage>(MakeRef<TGeneratedBitmapStore>(made, name));
  }
  ShowShadow(std::move(picture));
}

void TLumObject::ShowShadow(TRef<TImage> picture) {
  cast_.picture = std::move(picture);
  cast_.shownParams = cast_.params;
  cast_.shownUnit = cast_.unit;
  MarkChanged();
}

void TLumObject::TakeShadow(TShadowService& service) {
  TRef<TImage> picture;
  const TShadowService::TState state =
      service.Request(cast_.name, cast_.params, cast_.source, picture);
  if (state == TShadowService::TState::Pending) return;
  cast_.pending = false;
  cast_.source = nullptr;
  // One that cannot be made leaves the object unshadowed.
  ShowShadow(std::move(picture));
}

void TLumObject::LoadFromSection(const TIniList* section) {
  ReadCommonKeys(section);
}

void TLumObject::ReadCommonKeys(const TIniList* section) {
  name_ = props_ ? std::string(props_->Name()) : std::string();
  fitMode_ = TFitMode(ReadChoice(section, "FitMode", {"None", "PlaceInto", "Cover"}, false, 1));
  posMode_ = TPosMode(ReadChoice(section, "PosMode", {"Absolute", "Percent"}, false, 1));
  centerMode_ = TPosMode(ReadChoice(section, "CenterMode", {"Absolute", "Percent"}, false, 1));
  transpForClick_ = ReadBool(section, "TranspForClick", transpForClick_);
  treeNode_ = ReadBool(section, "TreeNode", true);
  shadow_.enabled = ReadBool(section, "ShadowEnable", defaultShadow_);
  shadow_.size = float(ReadFloat(section, "ShadowSize", 16));
  shadow_.color = ReadObjectColor(section, "ShadowColor", 0);
  shadow_.shownColor = DisplayedColor(shadow_.color);
  shadow_.opacity = float(ReadFloat(section, "ShadowOpacity", 59));
  shadow_.distance = float(ReadFloat(section, "ShadowDistance", 1.5));
  shadow_.angle = float(ReadFloat(section, "ShadowAngle", 45));
  shadow_.spread = ReadInteger(section, "ShadowSpreadIndex", 0);
  shadow_.shadow3D = ReadBool(section, "3DShadow", false);
  hideMode_ = ReadInteger(section, "HideMode", 0);
  childInvis_ = ReadBool(section, "ChildInvis", false);
  action_ = ReadString(section, "Action", "");
  MarkChanged();
}

void TLumObject::Load(bool reloading) {
  LoadFromSection(props_ ? props_->Section() : nullptr);
  CreateChildren(reloading);
}

void TLumObject::SetTime(bool recursive, double time) {
  TLumSlide* slide = GetSlide();
  double begin = slide ? slide->BeginTime() : 0.0;
  double end = slide ? slide->GetAnchorTime(kAnchorSlideEnd) : 0.0;
  if (props_) props_->Evaluate(time - begin, false);
  double dt1 = props_ ? props_->DeltaTime1() : 0.0;
  double dt2 = props_ ? props_->DeltaTime2() : 0.0;
  bool visible = (time - (begin + dt1)) > -0.00001 && (time - (end - dt2)) < 0.00001;
  if (visible != visibleInTime_) {
    visibleInTime_ = visible;
    MarkChanged();
  }
  if (recursive)
    for (TLumObject* c : children_) c->SetTime(true, time);
}

TLumSlideHost* TLumObject::GetHost() const {
  TLumSlide* slide = GetSlide();
  return slide ? slide->GetHost() : nullptr;
}

TLumSlide* TLumObject::GetSlide() const {
  // Only slides are roots of object trees.
  if (!slide_) AssertFailed("kvLumObjects", "LumObject root is not a slide");
  return slide_;
}

bool TLumObject::IsHostTracked() const {
  TLumSlideHost* host = GetHost();
  return host && host->tracking && host->tracking(*this);
}

void TLumObject::PrepareResources(TObjectDrawer& drawer) {
  for (TLumObject* c : children_) c->PrepareResources(drawer);
}

void TLumObject::ProcessFrame(double time) {
  for (TLumObject* c : children_) c->ProcessFrame(time);
}

void TLumObject::ReleaseResources() {
  cast_ = {};
  for (TLumObject* c : children_) c->ReleaseResources();
}

TLumObject* TLumObject::FindObjectAt(double x, double y, const THitFilter& filter) {
  for (auto it = children_.rbegin(); it != children_.rend(); ++it)
    if (TLumObject* hit = (*it)->FindObjectAt(x, y, filter)) return hit;
  // Objects that are not shown cannot be clicked.
  if (!Visible()) return nullptr;
  if (filter && !filter(*this)) return nullptr;
  return HitTest(x, y) ? this : nullptr;
}

TLumObject* TLumObject::HitTestPoint(double x, double y, bool deep) {
  if (deep) return FindObjectAt(x, y, nullptr);
  return HitTest(x, y) ? this : nullptr;
}

bool TLumObject::SetTimeAndLayout(bool recursive, double time) {
  SetTime(recursive, time);
  return UpdateLayout(recursive);
}

void TLumObject::TakeSnapshot(bool recursive) {
  snapshot_.opacity = GetOpacity();
  snapshot_.blur = GetBlur();
  snapshot_.corners = WorldCorners();
  std::array<TVec3, 4> screen = ScreenCorners();
  TRectF b = BoundsOf(screen);
  snapshot_.bounds = b;
  snapshot_.visible = Visible();
  changed_ = layoutChanged_ = false;
  if (recursive)
    for (TLumObject* c : children_) c->TakeSnapshot(true);
}

}  // namespace lum
