#include "model/object_factory.h"

#include "model/lum_box.h"
#include "model/lum_button.h"
#include "model/lum_image.h"
#include "model/lum_text.h"
#include "model/lum_video.h"
#include "model/lum_view_port.h"

namespace lum {

void TObjectFactory::PushFront(TObjectCreator creator) {
  chain_.insert(chain_.begin(), std::move(creator));
}

TLumObject* TObjectFactory::Create(int kind, TLumObject* parent, TLumObjectProps* node) const {
  for (const TObjectCreator& c : chain_)
    if (TLumObject* o = c(kind, parent, node)) {
      // The last step of construction, where the class's own defaults apply.
      o->InitDefaults();
      return o;
    }
  return nullptr;
}

TLumObject* CreateBaseObject(int kind, TLumObject* parent, TLumObjectProps* node) {
  switch (kind) {
    case kKindFrame:
    case kKindBox:
    case kKindSplitter:
      return new TLumBox(parent, node);
    case kKindImage:
    case kKindAniImage:
      return new TLumImage(parent, node);
    case kKindText:
      return new TLumText(parent, node);
    case kKindButton:
      return new TLumButton(parent, node);
    default:
      return nullptr;
  }
}

TLumObject* CreateMaskObject(int kind, TLumObject* parent, TLumObjectProps* node) {
  switch (kind) {
    case kKindViewport:
      return new TLumViewPort(parent, node);
    case kKindMaskStencil:
      return new TLumMaskStencil(parent, node);
    case kKindMaskContent:
      return new TLumMaskContent(parent, node);
    default:
      return nullptr;
  }
}

TLumObject* CreateVideoObject(int kind, TLumObject* parent, TLumObjectProps* node) {
  return kind == kKindVideo ? new TLumVideo(parent, node) : nullptr;
}

const TObjectFactory& ObjectFactory() {
  static const TObjectFactory factory = [] {
    CheckLumKindTable();
    TObjectFactory f;
    f.PushFront(CreateBaseObject);
    f.PushFront(CreateMaskObject);
    f.PushFront(CreateVideoObject);
    return f;
  }();
  return factory;
}

}  // namespace lum
