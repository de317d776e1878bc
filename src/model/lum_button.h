#pragma once
// Skinned buttons: a picture drawn from a theme's skin at the width its
// caption (the first child, a text) needs, with a normal, hover and pressed
// look prepared together so that pointer states switch without loading.
#include <array>
#include <string>

#include "model/lum_image.h"

namespace lum {

class TLumText;

class TLumButton : public TLumImage {
 public:
  using TLumImage::TLumImage;
  const char* ClassName() const override { return "TLumButton"; }
  void LoadFromSection(const TIniList* section) override;
  // Prepares the three state pictures for the current width; true when the
  // state's picture is held.
  bool RequestPicture() override;
  bool UpdateLayout(bool recursive) override;
  // Sized like a text: scale 100 is the container's height.
  double FitFor(double pw, double ph) const override;
  double GetDrawOpacity() const override { return GetOpacity() * btnOpacity_ / 100; }
  bool HasPointerStates() const override { return true; }
  // Shows the state's prepared picture; the caption follows.
  void SetPointerState(int state) override;
  int PointerState() const override { return state_; }

  const std::string& Theme() const { return theme_; }
  float TextOpacity() const { return txtOpacity_; }
  // Width in skin pixels of the pictures held; 0 without a skin.
  int SkinWidth() const { return width_; }
  int SkinHeight() const { return skinHeight_; }
  const TRef<TImage>& StatePicture(int state) const {
    return states_[size_t(std::clamp(state, 0, 2))];
  }
  TLumText* Caption() const;
  double ShadowBlurScale() const override;
  std::string ShadowSourceName() const override;

 protected:
  void UpdateGeometry(float zoom, float panX, float panY) override;

 private:
  // The width the caption asks for now.
  int WantedWidth() const;
  // The theme's caption offset as the caption's first key-frame scale.
  void WriteCaptionScale();

  std::string theme_;
  int state_ = 0;
  float btnOpacity_ = 100, txtOpacity_ = 100;
  int hue_ = 0, saturation_ = 0, lightness_ = 0;
  float minWidth_ = 0, offsetX_ = 100;
  bool minWidthSet_ = false;
  int width_ = 0, skinHeight_ = 0;
  double captionScale_ = 100;  // 100 - the theme's "BtnOffset"
  uint64_t captionRevision_ = ~uint64_t(0);
  std::array<TRef<TImage>, 3> states_;
};

}  // namespace lum
