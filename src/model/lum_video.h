#pragma once
// Video objects; the clip itself is played by the video layer later.
#include "model/lum_object.h"

namespace lum {

class TLumVideo : public TLumObject {
 public:
  static constexpr int32_t kIndexNotSet = -2147483647;
  using TLumObject::TLumObject;
  const char* ClassName() const override { return "TLumVideo"; }
  void LoadFromSection(const TIniList* section) override;
  void DrawSelf(TObjectDrawer& drawer) override;
  void StopMedia() override { TLumObject::StopMedia(); }

  const std::string& FileName() const { return fileName_; }
  int32_t ImageIndex() const { return imageIndex_; }

 private:
  std::string fileName_;
  int32_t imageIndex_ = kIndexNotSet;
};

}  // namespace lum
