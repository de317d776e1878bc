#pragma once
// The scale the user chose for the desktop, as the dpi applications are
// asked to draw at. Physical display figures say little on Linux: the
// desktop's own setting is what users expect dialogs to follow.
#include <optional>
#include <string_view>

namespace lum {

// Under X11 the "Xft.dpi" X resource, which GNOME, KDE and Xfce set from
// their scale and text size settings; nothing when it is not set or under
// another video driver.
std::optional<double> DesktopDpi();

// The Xft.dpi value of an X resource database string (lines "name:\tvalue");
// nothing when it is absent or not a number from 24 to 960.
std::optional<double> XftDpi(std::string_view resources);

}  // namespace lum
