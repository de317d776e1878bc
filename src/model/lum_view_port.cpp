#include "model/lum_view_port.h"

#include "model/lum_box.h"

namespace lum {

void TLumViewPort::LoadFromSection(const TIniList* section) {
  auto [w, h] = ReadObjectSize(section);
  SetNominalSize(w, h);
  TLumObject::LoadFromSection(section);
}

TLumObject* TLumViewPort::Stencil() const {
  for (TLumObject* c : children_)
    if (c->Kind() == kKindMaskStencil) return c;
  return nullptr;
}

TLumObject* TLumViewPort::Content() const {
  for (TLumObject* c : children_)
    if (c->Kind() == kKindMaskContent) return c;
  return nullptr;
}

void TLumViewPort::Draw(TObjectDrawer& drawer) {
  // The drawer composes stencil and content itself; children are not handed
  // over one by one.
  try {
    if (Visible()) DrawSelf(drawer);
  } catch (const std::exception&) {
  }
  TakeSnapshot(true);
}

void TLumViewPort::DrawSelf(TObjectDrawer& drawer) {
  if (Stencil() && Content()) drawer.DrawContent(*this);
}

TLumMaskStencil::TLumMaskStencil(TLumObject* parent, TLumObjectProps* props)
    : TLumObject(parent, props) {
  transpForClick_ = true;
}

void TLumMaskStencil::LoadFromSection(const TIniList* section) {
  if (parent_) SetNominalSize(parent_->Width(), parent_->Height());
  TLumObject::LoadFromSection(section);
}

TLumMaskContent::TLumMaskContent(TLumObject* parent, TLumObjectProps* props)
    : TLumObject(parent, props) {
  transpForClick_ = true;
}

void TLumMaskContent::LoadFromSection(const TIniList* section) {
  if (parent_) SetNominalSize(parent_->Width(), parent_->Height());
  TLumObject::LoadFromSection(section);
}

}  // namespace lum
