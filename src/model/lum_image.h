#pragma once
// Picture objects and the classes built on them. Their pictures come later;
// until one is held their nominal size is 0 and nothing is drawn.
#include "model/lum_object.h"

namespace lum {

class TLumImage : public TLumObject {
 public:
  static constexpr int32_t kIndexNotSet = -2147483647;
  using TLumObject::TLumObject;
  const char* ClassName() const override { return "TLumImage"; }
  void LoadFromSection(const TIniList* section) override;
  void DrawSelf(TObjectDrawer& drawer) override;

  const std::string& ImageName() const { return imageName_; }
  int32_t ImageIndex() const { return imageIndex_; }
  // Pixel size of the held picture; 0 x 0 while none is held.
  std::pair<double, double> GetNaturalSize() const override { return {0, 0}; }

 protected:
  void ReadImageKeys(const TIniList* section);
  std::string imageName_;
  int32_t imageIndex_ = kIndexNotSet;
};

class TLumText : public TLumImage {
 public:
  using TLumImage::TLumImage;
  const char* ClassName() const override { return "TLumText"; }
  void LoadFromSection(const TIniList* section) override;
  // Texts cast a shadow unless told otherwise.
  void InitDefaults() override { defaultShadow_ = true; }
  bool HasPointerStates() const override { return true; }
  void SetPointerState(int state) override { state_ = state; }
  int PointerState() const override { return state_; }
  // Set when the display scale moved after the text was first rendered.
  bool RenderRequested() const { return renderRequested_; }
  void RequestRender(bool on = true) { renderRequested_ = on; }

 private:
  int state_ = 0;
  bool renderRequested_ = false;
};

class TLumButton : public TLumImage {
 public:
  using TLumImage::TLumImage;
  const char* ClassName() const override { return "TLumButton"; }
  void LoadFromSection(const TIniList* section) override;
  bool HasPointerStates() const override { return true; }
  // The state is passed on to the button's caption text.
  void SetPointerState(int state) override;
  int PointerState() const override { return state_; }

 private:
  int state_ = 0;
};

}  // namespace lum
