#include "model/lum_video.h"

namespace lum {

void TLumVideo::LoadFromSection(const TIniList* section) {
  fileName_ = ReadString(section, "FileName", "");
  imageIndex_ = FindItem(section, "ImageIndex") ? ReadInteger(section, "ImageIndex", kIndexNotSet)
                                                : kIndexNotSet;
  TLumObject::LoadFromSection(section);
}

void TLumVideo::DrawSelf(TObjectDrawer& drawer) {
  if (w_ > 0 && h_ > 0 && GetOpacity() > 0) drawer.DrawContent(*this);
}

}  // namespace lum
