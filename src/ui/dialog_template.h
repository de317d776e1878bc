#pragma once
// In-memory dialog templates of the player's system dialogs: items with
// positions and sizes in design pixels (96 dpi), scaled to the screen's dpi
// when the dialog is built.
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/window.h"

namespace lum {

enum class TDialogItemKind : uint8_t { Static, Edit, Button, CheckBox };

struct TDialogItem {
  TDialogItemKind kind = TDialogItemKind::Static;
  int id = 0;                               // a button's command number; names the item
  int x = 0, y = 0, width = 0, height = 0;  // design pixels in the client area
  std::string text;
  bool masked = false;         // edit: shows bullets instead of what was typed
  bool defaultButton = false;  // button: Enter presses it
  bool checked = false;        // check box: initial state
};

struct TDialogTemplate {
  std::string caption;
  int width = 0, height = 0;       // client area, design pixels
  std::vector<TDialogItem> items;  // in tab order
};

// Commands of the standard buttons; Escape and closing the window send kIdCancel.
inline constexpr int kIdOk = 1, kIdCancel = 2;
inline constexpr int kDesignDpi = 96;
// The most characters an edit holds; longer input is cut there.
inline constexpr size_t kEditMaxChars = 1024;

// value * dpi / 96, rounded half away from zero. A dpi below 1 counts as 96.
int ScaleDesign(int value, int dpi);
// An item's rectangle in client pixels at that dpi.
TScreenRect ScaledItemRect(const TDialogItem& item, int dpi);
// The dialog font: 8 points, 9 points at 120 dpi; its em in pixels.
int DialogFontPoints(int dpi);
double DialogFontPixels(int dpi);
// The installed family drawn in place of the dialog font; fontconfig falls
// back to another sans face when it is missing.
inline constexpr const char* kDialogFontFamily = "Liberation Sans";

// A display's dpi for dialogs: the desktop's scale setting (DesktopDpi), else
// the display's reported horizontal dpi, rounded down to a step of 24 within
// 96..288; 96 when neither is known, and under Wayland, whose compositor
// scales the window itself.
int DisplayDialogDpi(int display);
// Top-left of a width x height window centred over `over`, moved inside
// `bounds` as far as it fits (its top-left corner stays visible).
void CentreWindow(const TScreenRect& over, int width, int height, const TScreenRect& bounds, int& x,
                  int& y);

// Whether Tab can stop on the item.
bool TakesFocus(const TDialogItem& item);

}  // namespace lum
