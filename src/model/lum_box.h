#pragma once
// Rectangles: frames (containers), filled boxes and splitters (never drawn).
#include "model/lum_object.h"

namespace lum {

enum class TBoxFill : int { Solid = 0, HGradient, VGradient, TLBRGradient, TRBLGradient };

class TLumBox : public TLumObject {
 public:
  using TLumObject::TLumObject;
  const char* ClassName() const override { return "TLumBox"; }
  void LoadFromSection(const TIniList* section) override;
  void DrawSelf(TObjectDrawer& drawer) override;
  bool UpdateLayout(bool recursive) override;
  // A generated shape of the box's fill and end alphas, at a fixed pixel count.
  void PrepareShadow() override;

  TBoxFill Fill() const { return fill_; }
  uint32_t Color1() const { return color1_; }  // r | g << 8 | b << 16
  uint32_t Color2() const { return fill_ == TBoxFill::Solid ? color1_ : color2_; }
  // The colours as the display shows them (colour management).
  uint32_t ShownColor1() const { return shown1_; }
  uint32_t ShownColor2() const { return fill_ == TBoxFill::Solid ? shown1_ : shown2_; }
  int Alpha1() const { return alpha1_; }
  int Alpha2() const { return fill_ == TBoxFill::Solid ? alpha1_ : alpha2_; }
  bool Antialiased() const { return antialiased_; }
  // Whether DrawSelf hands anything to the drawer.
  bool Drawn() const;

 private:
  TBoxFill fill_ = TBoxFill::Solid;
  uint32_t color1_ = 0, color2_ = 0;
  uint32_t shown1_ = 0, shown2_ = 0;
  int alpha1_ = 255, alpha2_ = 255;
  bool antialiased_ = false;
};

// "w,h" as two integers, 0,0 when missing or malformed.
std::pair<double, double> ReadObjectSize(const TIniList* section);

}  // namespace lum
