#include "model/lum_image.h"

namespace lum {

void TLumImage::ReadImageKeys(const TIniList* section) {
  imageName_ = ReadString(section, "ImageName", "");
  imageIndex_ = FindItem(section, "ImageIndex") ? ReadInteger(section, "ImageIndex", kIndexNotSet)
                                                : kIndexNotSet;
}

void TLumImage::LoadFromSection(const TIniList* section) {
  ReadImageKeys(section);
  TLumObject::LoadFromSection(section);
}

void TLumImage::DrawSelf(TObjectDrawer& drawer) {
  if (w_ > 0 && h_ > 0 && GetOpacity() > 0) drawer.DrawContent(*this);
}

void TLumText::LoadFromSection(const TIniList* section) {
  ReadImageKeys(section);
  TLumObject::LoadFromSection(section);
}

void TLumButton::LoadFromSection(const TIniList* section) {
  ReadImageKeys(section);
  TLumObject::LoadFromSection(section);
}

void TLumButton::SetPointerState(int state) {
  state_ = state;
  for (TLumObject* c : children_)
    if (c->Kind() == kKindText) c->SetPointerState(state);
}

}  // namespace lum
