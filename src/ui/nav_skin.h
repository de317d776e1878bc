#pragma once
// The skin document of the navigation bar: the grid of background cells, the
// cell that holds the buttons, and each button's pictures per state. Reading
// checks the shapes of "Cell" and "Bounds" values: a malformed skin is an
// error with the author-facing message, so only that show's panel fails.
#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace lum {

class TIniFile;

// A malformed skin; what() is the message for the log.
class ENavSkinError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A rectangle of a skin texture: left, top, width, height.
struct TNavBounds {
  int32_t left = 0, top = 0, width = 0, height = 0;
  bool operator==(const TNavBounds&) const = default;
};

struct TNavCellSpec {
  TNavBounds bounds;
  std::string texture;  // picture member of the show
  bool tiled = false;   // "repeat": tiled, else stretched
};

// Button states, in the order of the skin's keys.
enum TNavState { kNavNormal = 0, kNavHover = 1, kNavPressed = 2, kNavDisabled = 3 };
inline constexpr int kNavStates = 4;

// Pictures of one kind (the button, or its background) for the four states.
struct TNavPictures {
  std::array<TNavBounds, kNavStates> bounds;
  std::array<std::string, kNavStates> files;
};

struct TNavActionSpec {
  std::string name;        // known button name, lower case
  int32_t actionType = 0;  // from "ActionType": home 1 … exit 7, other 0
  std::string action;
  TNavPictures button, background;
  // Shown while the show is not playing (the pause button); only when the
  // skin names the normal one.
  bool hasPlay = false;
  std::array<std::string, kNavStates> playFiles;
};

struct TNavObjectSpec {
  int32_t shiftPressed = 0;
  bool grayNormal = false, grayDisabled = false;
  int32_t left = 0, top = 0, space = 0;
};

// Grids larger than this are refused (a hostile skin must not size memory).
inline constexpr int32_t kMaxNavGridSide = 64;

struct TNavSkin {
  double recommendedScale = 8;
  int32_t cols = 0, rows = 0;
  bool videoStyle = false;
  int32_t objectsCol = 0, objectsRow = 0;  // 1-based; 0 without the section
  int32_t leftOffset = 0, topOffset = 0, rightOffset = 0, bottomOffset = 0;
  std::vector<TNavCellSpec> cells;  // row by row, cols x rows
  std::vector<TNavObjectSpec> objects;
  std::map<std::string, TNavActionSpec> actions;  // by button name

  const TNavCellSpec& Cell(int32_t col, int32_t row) const {  // 1-based
    return cells[size_t((row - 1) * cols + (col - 1))];
  }
};

// The button names a skin may have, in the player's order.
const std::vector<std::string>& KnownNavButtons();
// "ActionType" values: "home" 1, "backward" 2, "forward" 3, "pause" 4,
// "print" 5, "help" 6, "exit" 7, anything else 0 (case-insensitive).
int32_t NavActionType(const std::string& text);

// Reads a skin document; throws ENavSkinError for malformed "Cell" or
// "Bounds" values and for grids beyond kMaxNavGridSide.
TNavSkin ReadNavSkin(const TIniFile& skin);

// The requested button names ("opt_newnavbutton" order) the skin has.
std::vector<std::string> ShownNavButtons(const TNavSkin& skin,
                                         const std::vector<std::string>& requested);

}  // namespace lum
