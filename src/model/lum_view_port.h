#pragma once
// Mask containers: a view port shows its content through its stencil.
#include "model/lum_object.h"

namespace lum {

class TLumViewPort : public TLumObject {
 public:
  using TLumObject::TLumObject;
  const char* ClassName() const override { return "TLumViewPort"; }
  void LoadFromSection(const TIniList* section) override;
  void Draw(TObjectDrawer& drawer) override;
  void DrawSelf(TObjectDrawer& drawer) override;
  // Drawn only with both a stencil and a content child.
  TLumObject* Stencil() const;
  TLumObject* Content() const;
};

// Stencil and content take their size from the view port and ignore clicks.
class TLumMaskStencil : public TLumObject {
 public:
  TLumMaskStencil(TLumObject* parent, TLumObjectProps* props);
  const char* ClassName() const override { return "TLumMaskStencil"; }
  void LoadFromSection(const TIniList* section) override;
};

class TLumMaskContent : public TLumObject {
 public:
  TLumMaskContent(TLumObject* parent, TLumObjectProps* props);
  const char* ClassName() const override { return "TLumMaskContent"; }
  void LoadFromSection(const TIniList* section) override;
};

}  // namespace lum
