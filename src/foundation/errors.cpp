#include "foundation/errors.h"

namespace lum {

EAssertion::EAssertion(std::string_view module, std::string_view message)
    : ELumError(std::string(message) + " (" + std::string(module) + ")"), module_(module) {}

void AssertFailed(std::string_view module, std::string_view message) {
  throw EAssertion(module, message);
}

}  // namespace lum
