#include "ui/nav_layout.h"

#include <algorithm>
#include <cmath>

namespace lum {

namespace {

struct TAnchorRule {
  const char* name;
  TNavAnchor anchor;
  // Anchor (ax, ay) = sign x (100 - offset) or 0; alignment (bx, by).
  int sx, sy;
};

constexpr TAnchorRule kAnchors[] = {
    {"Left-Top", TNavAnchor::LeftTop, -1, -1},   {"Top", TNavAnchor::Top, 0, -1},
    {"Right-Top", TNavAnchor::RightTop, 1, -1},  {"Right", TNavAnchor::Right, 1, 0},
    {"Right-Bottom", TNavAnchor::RightBottom, 1, 1}, {"Bottom", TNavAnchor::Bottom, 0, 1},
    {"Left-Bottom", TNavAnchor::LeftBottom, -1, 1}, {"Left", TNavAnchor::Left, -1, 0},
    {"Center", TNavAnchor::Center, 0, 0}};

const TAnchorRule& Rule(TNavAnchor a) {
  for (const TAnchorRule& r : kAnchors)
    if (r.anchor == a) return r;
  return kAnchors[8];
}

// One axis of the placement rule.
int32_t Place(int32_t areaStart, int32_t areaSize, int32_t size, int sign, double offset) {
  const double anchor = sign * (100 - offset), align = sign * 100.0;
  return int32_t(std::lround((anchor / 100 + 1) * areaSize / 2)) + areaStart -
         int32_t(std::lround(size * (align + 100) / 200));
}

TRect Union(const TRect& a, const TRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

}  // namespace

TRect TNavLayout::Cell(int32_t col, int32_t row) const {
  const size_t c = size_t(col - 1), r = size_t(row - 1);
  return {colX[c], rowY[r], colX[c] + colW[c], rowY[r] + rowH[r]};
}

TNavLayout LayoutNavBar(const TNavSkin& skin, const std::vector<std::string>& shown) {
  TNavLayout l;
  const size_t cols = size_t(skin.cols), rows = size_t(skin.rows);
  l.colW.assign(cols, 0);
  l.rowH.assign(rows, 0);
  for (size_t r = 0; r < rows; ++r)
    for (size_t c = 0; c < cols; ++c) {
      const TNavBounds& b = skin.cells[r * cols + c].bounds;
      l.colW[c] = std::max(l.colW[c], b.width);
      l.rowH[r] = std::max(l.rowH[r], b.height);
    }
  // The objects cell sets its column's width and its row's height.
  int32_t objectsW = skin.leftOffset + skin.rightOffset, firstH = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    const TNavBounds& b = skin.actions.at(shown[i]).background.bounds[kNavNormal];
    const int32_t space = i < skin.objects.size() ? skin.objects[i].space : 0;
    objectsW += b.width + space;
    if (i == 0) firstH = b.height;
  }
  const bool hasObjects = skin.objectsCol >= 1 && size_t(skin.objectsCol) <= cols &&
                          skin.objectsRow >= 1 && size_t(skin.objectsRow) <= rows;
  if (hasObjects) {
    l.colW[size_t(skin.objectsCol - 1)] = objectsW;
    l.rowH[size_t(skin.objectsRow - 1)] = skin.topOffset + skin.bottomOffset + firstH;
  }
  for (int32_t w : l.colW) l.colX.push_back(l.width), l.width += w;
  for (int32_t h : l.rowH) l.rowY.push_back(l.height), l.height += h;
  if (!hasObjects) return l;
  const TRect cell = l.Cell(skin.objectsCol, skin.objectsRow);
  int32_t x = cell.left + skin.leftOffset;
  for (size_t i = 0; i < shown.size(); ++i) {
    const TNavBounds& b = skin.actions.at(shown[i]).background.bounds[kNavNormal];
    const int32_t y = cell.top + skin.topOffset;
    l.buttons.push_back({x, y, x + b.width, y + b.height});
    x += b.width + (i < skin.objects.size() ? skin.objects[i].space : 0);
  }
  return l;
}

TNavAnchor NavAnchorOfName(const std::string& name) {
  for (const TAnchorRule& r : kAnchors)
    if (name == r.name) return r.anchor;
  return TNavAnchor::Center;
}

TNavAnchor NavAnchorOfCode(int32_t code) {
  static constexpr TNavAnchor kCodes[] = {
      TNavAnchor::Left,     TNavAnchor::Top,      TNavAnchor::Right,
      TNavAnchor::Bottom,   TNavAnchor::Center,   TNavAnchor::LeftTop,
      TNavAnchor::RightTop, TNavAnchor::RightBottom, TNavAnchor::LeftBottom};
  return code >= 0 && code < 9 ? kCodes[code] : TNavAnchor::Center;
}

TRect PlaceInArea(const TRect& area, int32_t width, int32_t height, TNavAnchor anchor,
                  double offset) {
  const TAnchorRule& r = Rule(anchor);
  const int32_t left = Place(area.left, area.Width(), width, r.sx, offset);
  const int32_t top = Place(area.top, area.Height(), height, r.sy, offset);
  return {left, top, left + width, top + height};
}

TNavPointer::TNavPointer(std::vector<TRect> buttons, int32_t width, int32_t height)
    : buttons_(std::move(buttons)), states_(buttons_.size(), kNavNormal), width_(width), height_(height) {}

void TNavPointer::SetDisabled(size_t button, bool disabled) {
  if (button >= states_.size()) return;
  if (disabled) {
    Set(button, kNavDisabled);
    if (pressed_ == int(button)) pressed_ = -1;
  } else if (states_[button] == kNavDisabled) {
    Set(button, kNavNormal);
  }
}

bool TNavPointer::Inside(int32_t x, int32_t y) const {
  return x >= 0 && y >= 0 && x < width_ && y < height_;
}

int TNavPointer::Hit(int32_t x, int32_t y) const {
  for (size_t i = 0; i < buttons_.size(); ++i) {
    if (states_[i] != kNavDisabled && buttons_[i].Contains(x, y)) return int(i);
  }
  return -1;
}

void TNavPointer::Set(size_t button, int state) {
  if (states_[button] == state) return;
  if (states_[button] == kNavDisabled && state != kNavNormal) return;
  states_[button] = state;
  dirty_ = Union(dirty_, buttons_[button]);
}

void TNavPointer::ShowHover(int hit) {
  for (size_t i = 0; i < states_.size(); ++i)
    if (states_[i] != kNavDisabled) Set(i, int(i) == hit ? kNavHover : kNavNormal);
}

void TNavPointer::Down(int32_t x, int32_t y) {
  if (!Inside(x, y)) return;
  captured_ = true;
  pressed_ = Hit(x, y);
  for (size_t i = 0; i < states_.size(); ++i)
    if (states_[i] != kNavDisabled) Set(i, int(i) == pressed_ ? kNavPressed : kNavNormal);
}

void TNavPointer::Move(int32_t x, int32_t y, bool leftDown) {
  if (captured_) {
    if (pressed_ >= 0) Set(size_t(pressed_), Hit(x, y) == pressed_ ? kNavPressed : kNavNormal);
    return;
  }
  if (leftDown) return;
  if (Inside(x, y))
    ShowHover(Hit(x, y));
  else
    Leave();
}

int TNavPointer::Up(int32_t x, int32_t y) {
  if (!captured_) return -1;
  const int clicked = pressed_ >= 0 && Hit(x, y) == pressed_ ? pressed_ : -1;
  captured_ = false;
  pressed_ = -1;
  if (Inside(x, y))
    ShowHover(Hit(x, y));
  else
    Leave();
  return clicked;
}

void TNavPointer::Leave() {
  if (!captured_) ShowHover(-1);
}

TRect TNavPointer::TakeDirty() {
  TRect d = dirty_;
  dirty_ = {};
  return d;
}

TNavFader::TNavFader(bool autoHide, double idleMs, double fadeOutMs, double fadeInMs)
    : autoHide_(autoHide),
      idleMs_(std::max(idleMs, 0.0)),
      outMs_(std::max(fadeOutMs, 0.0)),
      inMs_(std::max(fadeInMs, 0.0)) {}

void TNavFader::Update(double now, double lastMove, bool over) {
  if (!autoHide_) return;
  const bool idle = !over && now - lastMove >= idleMs_;
  if (idle == idle_) return;
  // The new ramp is placed so that it starts from the opacity reached.
  const double o = Opacity(now) / 100;
  idle_ = idle;
  rampStart_ = idle ? now - (1 - o) * outMs_ : now - o * inMs_;
}

double TNavFader::Opacity(double now) const {
  if (!autoHide_) return 100;
  const double length = idle_ ? outMs_ : inMs_;
  const double t = length > 0 ? std::clamp((now - rampStart_) / length, 0.0, 1.0) : 1.0;
  return 100 * (idle_ ? 1 - t : t);
}

}  // namespace lum
