#include "show_open.h"

#include "foundation/errors.h"

namespace lum::lumshow {

std::unique_ptr<TLumShowLocator> OpenShow(const std::string& path) {
  std::string message;
  auto loc = TLumShowLocator::OpenAny(path, message);
  if (!loc) throw ELumError(message);
  return loc;
}

std::unique_ptr<TLumShowLocator> OpenContainerShow(const std::string& path) {
  auto loc = OpenShow(path);
  if (!loc->IsContainer()) {
    throw ELumError("\"" + path + "\" is a project document, not a show container");
  }
  return loc;
}

}  // namespace lum::lumshow
