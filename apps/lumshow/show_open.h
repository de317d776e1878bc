#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "container/lum_show_locator.h"
#include "container/lum_unpack.h"
#include "terminal_text.h"

namespace lum::lumshow {

// Opens SHOW in any of its forms; throws ELumError with the locator's message.
std::unique_ptr<TLumShowLocator> OpenShow(const std::string& path);
// Opens SHOW for a command that plays it. A show that asks for a password
// opens only when password is given and matches as the player compares it;
// otherwise throws ELumError saying so.
std::unique_ptr<TLumShowLocator> OpenShowToPlay(const std::string& path,
                                                const std::optional<std::string>& password);
// Opens the container of SHOW alone, without its project document, so that a
// show whose project is damaged can still be listed and salvaged. Throws with
// a clear message when SHOW holds no readable container.
std::unique_ptr<TLumUnpack> OpenContainerReader(const std::string& path);

// Members of SHOW by name: through the show's accessor (its file map applies),
// or, when the show's project cannot be read, straight from its container.
struct TMemberSource {
  std::unique_ptr<TLumShowLocator> show;
  std::unique_ptr<TLumUnpack> container;
  std::unique_ptr<TStream> Open(const std::string& name) const;
};
// Says on stderr when it falls back to the container alone.
TMemberSource OpenMembers(const std::string& path);

// "WxH" with both sides positive and at most limit; a usage error otherwise.
std::pair<int32_t, int32_t> ParseSize(const std::string& text, int limit);

}  // namespace lum::lumshow
