#pragma once
#include <memory>
#include <string>

#include "container/lum_show_locator.h"

namespace lum::lumshow {

// Opens SHOW in any of its forms; throws ELumError with the locator's message.
std::unique_ptr<TLumShowLocator> OpenShow(const std::string& path);
// Opens SHOW and requires a container.
std::unique_ptr<TLumShowLocator> OpenContainerShow(const std::string& path);

}  // namespace lum::lumshow
