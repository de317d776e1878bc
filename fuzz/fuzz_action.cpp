// Action texts from project documents: any text parses to some record.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "project/lum_action_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lum::TLumActionInfo a =
      lum::ParseActionText(std::string_view(reinterpret_cast<const char*>(data), size));
  if (a.type > lum::kActionPanelPointer || a.textArg.size() > size) __builtin_trap();
  return 0;
}
