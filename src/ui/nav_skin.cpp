#include "ui/nav_skin.h"

#include <algorithm>
#include <cctype>

#include "document/ini_file.h"
#include "document/ini_values.h"

namespace lum {

namespace {

constexpr const char* kStateNames[kNavStates] = {"Normal", "Hover", "Pressed", "Disabled"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// The numbers of a comma list; empty for an empty value.
std::vector<int32_t> Numbers(const std::string& value) {
  std::vector<int32_t> out;
  if (value.empty()) return out;
  for (const std::string& part : SplitValue(value, ',')) out.push_back(ValueToInt(part, 0));
  return out;
}

// Sizes and offsets beyond any real skin picture; keeps the layout's sums
// far from overflowing.
constexpr int32_t kMaxExtent = 16384;

int32_t Extent(int32_t v) {
  return std::clamp(v, -kMaxExtent, kMaxExtent);
}

TNavBounds ToBounds(const std::vector<int32_t>& n) {
  // Negative sizes draw nothing; they must not size anything either.
  return {n[0], n[1], std::clamp(n[2], 0, kMaxExtent), std::clamp(n[3], 0, kMaxExtent)};
}

// A button's bounds key: four numbers or the author-facing assertion.
TNavBounds ButtonBounds(const std::string& value) {
  const std::vector<int32_t> n = Numbers(value);
  if (n.size() != 4)
    throw ENavSkinError(
        "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But "
        "LUM found only " +
        std::to_string(n.size()) + " values.");
  return ToBounds(n);
}

int32_t GridSide(const TIniFile& skin, const char* key) {
  const int32_t n = skin.ReadInteger("Common", key, 0);
  if (n > kMaxNavGridSide)
    throw ENavSkinError("Skin grid too large: " + std::string(key) + "=" + std::to_string(n) +
                        " (at most " + std::to_string(kMaxNavGridSide) + ")");
  return std::max(n, 0);
}

void ReadObjectsCell(const TIniFile& skin, TNavSkin& s) {
  if (!skin.Section("CellWithObjects")) return;
  const std::vector<int32_t> cell = Numbers(skin.ReadString("CellWithObjects", "Cell", ""));
  if (cell.size() != 2) throw ENavSkinError("Incorrect number of parameters in field \"Cell\"");
  s.objectsCol = cell[0];
  s.objectsRow = cell[1];
  s.leftOffset = Extent(skin.ReadInteger("CellWithObjects", "LeftOffset", 0));
  s.topOffset = Extent(skin.ReadInteger("CellWithObjects", "TopOffset", 0));
  s.rightOffset = Extent(skin.ReadInteger("CellWithObjects", "RightOffset", 0));
  s.bottomOffset = Extent(skin.ReadInteger("CellWithObjects", "BottomOffset", 0));
}

TNavCellSpec ReadCell(const TIniFile& skin, int32_t c, int32_t r) {
  const std::string section = "Cell(" + std::to_string(c) + ":" + std::to_string(r) + ")";
  const std::vector<int32_t> b = Numbers(skin.ReadString(section, "Bounds", ""));
  if (b.size() != 4)
    throw ENavSkinError("Incorrect number of parameters in field \"Bounds\" in [" + section + "]");
  TNavCellSpec cell;
  cell.bounds = ToBounds(b);
  cell.texture = skin.ReadString(section, "flnm_Texture", "");
  cell.tiled = Lower(skin.ReadString(section, "TextureType", "")) == "repeat";
  return cell;
}

// One kind of picture ("Btn" or "Bg"): later states default to the normal one.
TNavPictures ReadPictures(const TIniFile& skin, const std::string& section, const std::string& kind) {
  TNavPictures p;
  for (int i = 0; i < kNavStates; ++i) {
    const std::string state = kStateNames[i];
    const std::string bounds = skin.ReadString(section, kind + "Texture" + state + "Bounds", "");
    p.bounds[size_t(i)] = i > 0 && bounds.empty() ? p.bounds[0] : ButtonBounds(bounds);
    const std::string file = skin.ReadString(section, "flnm_" + kind + "Texture" + state, "");
    p.files[size_t(i)] = i > 0 && file.empty() ? p.files[0] : file;
  }
  return p;
}

TNavActionSpec ReadAction(const TIniFile& skin, const std::string& section, std::string name) {
  TNavActionSpec a;
  a.name = std::move(name);
  a.actionType = NavActionType(skin.ReadString(section, "ActionType", ""));
  a.action = skin.ReadString(section, "Action", "");
  a.button = ReadPictures(skin, section, "Btn");
  a.background = ReadPictures(skin, section, "Bg");
  for (int i = 0; i < kNavStates; ++i)
    a.playFiles[size_t(i)] =
        skin.ReadString(section, "flnm_BtnTexture" + std::string(kStateNames[i]) + "Play", "");
  a.hasPlay = !a.playFiles[0].empty();
  for (int i = 1; i < kNavStates; ++i)
    if (a.playFiles[size_t(i)].empty()) a.playFiles[size_t(i)] = a.playFiles[0];
  return a;
}

void ReadActions(const TIniFile& skin, TNavSkin& s) {
  const auto& known = KnownNavButtons();
  for (const TIniSection* sec : skin.Sections()) {
    const std::string section(sec->Name());
    // Authors write the prefix in any case ("Action-home", "ACTION-HOME").
    if (section.size() <= 7 || Lower(section.substr(0, 7)) != "action-") continue;
    std::string name = Lower(section.substr(7));
    if (std::find(known.begin(), known.end(), name) == known.end() || s.actions.count(name)) continue;
    s.actions[name] = ReadAction(skin, section, name);
  }
}

}  // namespace

const std::vector<std::string>& KnownNavButtons() {
  static const std::vector<std::string> names = {"home",  "backward", "forward", "pause",
                                                 "print", "help",     "exit"};
  return names;
}

int32_t NavActionType(const std::string& text) {
  const auto& known = KnownNavButtons();
  auto it = std::find(known.begin(), known.end(), Lower(text));
  return it == known.end() ? 0 : int32_t(it - known.begin()) + 1;
}

TNavSkin ReadNavSkin(const TIniFile& skin) {
  TNavSkin s;
  s.recommendedScale = skin.ReadFloat("Common", "RecommendedScale", 8);
  s.cols = GridSide(skin, "ColsCount");
  s.rows = GridSide(skin, "RowsCount");
  s.videoStyle = skin.ReadBool("Common", "VideoStyle", false);
  ReadObjectsCell(skin, s);
  for (int32_t r = 1; r <= s.rows; ++r)
    for (int32_t c = 1; c <= s.cols; ++c) s.cells.push_back(ReadCell(skin, c, r));
  const int32_t count =
      std::clamp(skin.ReadInteger("Objects", "Count", 0), 0, int32_t(KnownNavButtons().size()));
  for (int32_t i = 1; i <= count; ++i) {
    const std::string section = "Object" + std::to_string(i);
    s.objects.push_back({Extent(skin.ReadInteger(section, "ShiftPressed", 0)),
                         skin.ReadBool(section, "GrayNormal", false),
                         skin.ReadBool(section, "GrayDisabled", false),
                         skin.ReadInteger(section, "Left", 0), skin.ReadInteger(section, "Top", 0),
                         Extent(skin.ReadInteger(section, "Space", 0))});
  }
  ReadActions(skin, s);
  return s;
}

std::vector<std::string> ShownNavButtons(const TNavSkin& skin,
                                         const std::vector<std::string>& requested) {
  std::vector<std::string> shown;
  for (const std::string& r : requested) {
    const std::string name = Lower(r);
    if (skin.actions.count(name) && std::find(shown.begin(), shown.end(), name) == shown.end())
      shown.push_back(name);
  }
  return shown;
}

}  // namespace lum
