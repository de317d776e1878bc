#pragma once
// The chain of object creators: each makes an object for the kinds it knows
// or passes the request on. Assembled once: video creator in front, then the
// mask creator, then the base creator.
#include <functional>
#include <string_view>
#include <vector>

#include "model/lum_object.h"

namespace lum {

// Returns a new object bound to the node and appended to the parent, or null.
using TObjectCreator =
    std::function<TLumObject*(int kind, TLumObject* parent, TLumObjectProps* node)>;

class TObjectFactory {
 public:
  // Puts a creator in front of the chain.
  void PushFront(TObjectCreator creator);
  // Null when no creator handles the kind.
  TLumObject* Create(int kind, TLumObject* parent, TLumObjectProps* node) const;

 private:
  std::vector<TObjectCreator> chain_;  // first asked first
};

// The process-wide chain.
const TObjectFactory& ObjectFactory();

TLumObject* CreateBaseObject(int kind, TLumObject* parent, TLumObjectProps* node);
TLumObject* CreateMaskObject(int kind, TLumObject* parent, TLumObjectProps* node);
TLumObject* CreateVideoObject(int kind, TLumObject* parent, TLumObjectProps* node);

}  // namespace lum
