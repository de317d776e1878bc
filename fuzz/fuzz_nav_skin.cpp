// Navigation bar skins from show containers: any document reads as a skin
// or fails with a skin error, and the layout of what was read stays sane.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/ini_file.h"
#include "ui/nav_layout.h"
#include "ui/nav_skin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lum::TIniFile ini;
  ini.LoadText(std::string(reinterpret_cast<const char*>(data), size));
  try {
    const lum::TNavSkin skin = lum::ReadNavSkin(ini);
    if (skin.cells.size() != size_t(skin.cols) * size_t(skin.rows)) __builtin_trap();
    const auto shown = lum::ShownNavButtons(skin, lum::KnownNavButtons());
    const lum::TNavLayout l = lum::LayoutNavBar(skin, shown);
    if (l.colW.size() != size_t(skin.cols) || l.rowH.size() != size_t(skin.rows)) __builtin_trap();
  } catch (const lum::ENavSkinError&) {
  }
  return 0;
}
