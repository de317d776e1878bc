#include "model/lum_box.h"

#include <algorithm>

#include "model/displayed_color.h"

namespace lum {

std::pair<double, double> ReadObjectSize(const TIniList* section) {
  std::vector<std::string> parts = ReadList(section, "Size");
  if (parts.size() < 2) return {0, 0};
  return {double(std::max(ValueToInt(parts[0], 0), 0)),
          double(std::max(ValueToInt(parts[1], 0), 0))};
}

void TLumBox::LoadFromSection(const TIniList* section) {
  auto [w, h] = ReadObjectSize(section);
  SetNominalSize(w, h);
  fill_ = TBoxFill(ReadChoice(section, "FillMode",
                              {"Solid", "HGradient", "VGradient", "TLBRGradient", "TRBLGradient"},
                              false, 0));
  color1_ = ReadObjectColor(section, "Color1", 0);
  color2_ = ReadObjectColor(section, "Color2", 0);
  alpha1_ = std::clamp(ReadInteger(section, "Alpha1", 255), 0, 255);
  alpha2_ = std::clamp(ReadInteger(section, "Alpha2", 255), 0, 255);
  antialiased_ = ReadBool(section, "Antialiased", false);
  // Converted once here, not per frame; a colour no one sees stays as read.
  shown1_ = alpha1_ != 0 ? DisplayedColor(color1_) : color1_;
  shown2_ = color2_ == color1_ ? shown1_ : alpha2_ != 0 ? DisplayedColor(color2_) : color2_;
  TLumObject::LoadFromSection(section);
}

bool TLumBox::Drawn() const {
  if (Kind() == kKindSplitter) return false;
  if (GetOpacity() <= 0.00196) return false;
  if (fill_ == TBoxFill::Solid) return alpha1_ != 0;
  return alpha1_ != 0 || alpha2_ != 0;
}

void TLumBox::DrawSelf(TObjectDrawer& drawer) {
  if (Drawn()) drawer.DrawBox(*this);
}

bool TLumBox::UpdateLayout(bool recursive) {
  PrepareShadow();
  return TLumObject::UpdateLayout(recursive);
}

void TLumBox::PrepareShadow() {
  double scale = 0;
  TShadowParams p = ShapeShadowParams(Width(), Height(), 0, 0, scale);
  if (!shadow_.enabled || !Drawn() || !(scale > 0)) {
    cast_ = {};
    return;
  }
  const double blurScale = BoxBlurScale(p.right, p.bottom);
  p.blurSize = shadow_.size * blurScale;
  p.spread = shadow_.spread;
  p.alpha1 = uint8_t(std::clamp(Alpha1(), 0, 255));
  p.alpha2 = uint8_t(std::clamp(Alpha2(), 0, 255));
  p.fillMode = fill_ == TBoxFill::Solid ? kSolidShadowFill : uint8_t(fill_);
  RequestShadow(p, nullptr, blurScale / scale, 1 / scale);
}

}  // namespace lum
