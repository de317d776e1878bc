#include "ui/system_dialog.h"

#include <algorithm>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/utf.h"
#include "text/rasterizer.h"

namespace lum {

namespace {

constexpr TColour kFace{240, 240, 240}, kInk{0, 0, 0}, kWhite{255, 255, 255},
    kEditBorder{122, 122, 122}, kAccent{0, 120, 215}, kButtonFace{225, 225, 225},
    kButtonBorder{173, 173, 173}, kPressedFace{204, 228, 247}, kPressedBorder{0, 84, 153},
    kBoxBorder{51, 51, 51};
// How long one wait of the modal loop lasts; posted requests wake it sooner.
constexpr int kPumpMs = 50;
// The bullet a masked edit shows for each character.
constexpr const char* kMaskBullet = "\xE2\x97\x8F";

std::atomic<int> gModalCount{0};
std::vector<TSystemDialog*> gDialogs;  // window thread only

size_t CountChars(std::string_view s) {
  return size_t(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Appends what a single-line edit takes of the input: up to the first line
// break, without control characters, up to kEditMaxChars in all.
void AppendEditText(std::string& text, std::string_view input) {
  size_t count = CountChars(text);
  size_t i = 0;
  while (i < input.size() && count < kEditMaxChars) {
    const char32_t cp = DecodeUtf8(input, i);
    if (cp == '\r' || cp == '\n' || cp == 0x2028 || cp == 0x2029) break;
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) continue;
    AppendUtf8(text, cp);
    ++count;
  }
}

// Texts from a show's document are drawn up to this many characters; more
// could never fit a dialog, and would only cost time.
constexpr size_t kMaxShownChars = 1024;

std::string Shown(std::string_view text) {
  size_t i = 0;
  for (size_t n = 0; i < text.size() && n < kMaxShownChars; ++n) DecodeUtf8(text, i);
  return std::string(text.substr(0, i));
}

void DropLastChar(std::string& text) {
  while (!text.empty() && (text.back() & 0xC0) == 0x80) text.pop_back();
  if (!text.empty()) text.pop_back();
}

// The window surface is filled in software; SDL must not put a renderer of
// its own (with a GL context) behind it on the player's GL windows.
void PreferSoftwareFramebuffer() {
  if (!SDL_GetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION))
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
}

TScreenRect DisplayBounds(int display) {
  SDL_Rect b{};
  if (SDL_GetDisplayUsableBounds(display, &b) != 0 || b.w <= 0 || b.h <= 0) return DesktopRect();
  return {b.x, b.y, b.x + b.w, b.y + b.h};
}

TWindowOptions WindowOptionsFor(const TDialogTemplate& t, int dpi, TWindow* owner) {
  TWindowOptions o;
  o.mode = TWindowMode::Framed;
  o.width = std::max(1, ScaleDesign(t.width, dpi));
  o.height = std::max(1, ScaleDesign(t.height, dpi));
  o.title = Shown(t.caption);
  o.hidden = true;
  const TScreenRect bounds = DisplayBounds(owner ? owner->MonitorIndex() : 0);
  TScreenRect over = bounds;
  if (owner) {
    int x = 0, y = 0;
    owner->ScreenOrigin(x, y);
    const TScreenRect c = owner->ClientRect();
    over = {x, y, x + c.Width(), y + c.Height()};
  }
  if (bounds.Width() > 0 && bounds.Height() > 0)
    CentreWindow(over, o.width, o.height, bounds, o.x, o.y);
  return o;
}

// A check mark in a box of `size` pixels, as coverage.
std::vector<uint8_t> CheckMark(int size) {
  TRasterHelper raster;
  raster.BeginPaint(size, size);
  const double s = size;
  raster.MoveTo(0.20 * s, 0.45 * s);
  raster.LineTo(0.42 * s, 0.66 * s);
  raster.LineTo(0.80 * s, 0.26 * s);
  raster.LineTo(0.80 * s, 0.42 * s);
  raster.LineTo(0.42 * s, 0.80 * s);
  raster.LineTo(0.20 * s, 0.59 * s);
  raster.FillPath();
  raster.EndPaint();
  return raster.TakeCoverage();
}

// Keeps the dialog on the stack of running dialogs while it runs.
class TRunningDialog {
 public:
  explicit TRunningDialog(TSystemDialog* d) { gDialogs.push_back(d); }
  ~TRunningDialog() { gDialogs.pop_back(); }

 private:
  TModalScope modal_;
};

}  // namespace

int ModalCount() {
  return gModalCount.load();
}

TSystemDialog* CurrentSystemDialog() {
  return gDialogs.empty() ? nullptr : gDialogs.back();
}

TModalScope::TModalScope() {
  ++gModalCount;
}

TModalScope::~TModalScope() {
  --gModalCount;
}

TSystemDialog::TSystemDialog(TDialogTemplate dialogTemplate, TWindow* owner,
                             TSystemDialogOptions options)
    : template_(std::move(dialogTemplate)),
      dpi_(options.dpi > 0 ? options.dpi : DisplayDialogDpi(owner ? owner->MonitorIndex() : 0)),
      owner_(owner),
      font_(kDialogFontFamily, DialogFontPixels(dpi_)) {
  for (const TDialogItem& item : template_.items) {
    TItemState s;
    s.checked = item.checked;
    if (item.kind == TDialogItemKind::Edit)
      AppendEditText(s.text, item.text);
    else
      s.text = item.text;
    state_.push_back(std::move(s));
  }
  const TWindowOptions wo = WindowOptionsFor(template_, dpi_, owner);
  canvas_ = std::make_unique<TDialogCanvas>(wo.width, wo.height);
  PreferSoftwareFramebuffer();
  window_ = std::make_unique<TWindow>(wo);
  if (owner_) SDL_SetWindowModalFor(window_->Handle(), owner_->Handle());
  TWindowListener& l = window_->Listener();
  l.key = [this](uint16_t key, uint32_t mods, bool down, bool) { Key(key, mods, down); };
  l.text = [this](const std::string& utf8) { Text(utf8); };
  l.mouseButton = [this](TMouseButton b, bool down, bool, int x, int y, uint32_t) {
    if (b == TMouseButton::Left) MouseButton(x, y, down);
  };
  l.mouseMove = [this](int x, int y, uint32_t) { MouseMove(x, y); };
  l.exposed = [this] { Invalidate(); };
  l.close = [this] { Command(kIdCancel); };
  MoveFocus(1);
}

TSystemDialog::~TSystemDialog() = default;

int TSystemDialog::RunModal() {
  if (running_) AssertFailed("system_dialog", "the dialog is already running");
  if (!TWindowThread::IsWindowThread())
    AssertFailed("system_dialog", "a modal dialog runs on the window thread");
  TRunningDialog current(this);
  // Hides the window however the run ends.
  struct TShown {
    TSystemDialog& d;
    bool textInput;
    ~TShown() { d.Hide(textInput); }
  } shown{*this, Show()};
  result_ = kIdCancel;
  ended_ = false;
  while (!ended_) {
    if (stale_) Present();
    if (!TWindowThread::Pump(kPumpMs) && !ended_) EndDialog(kIdCancel);
  }
  return result_;
}

bool TSystemDialog::Show() {
  running_ = true;
  const bool startTextInput = !SDL_IsTextInputActive();
  if (startTextInput) SDL_StartTextInput();
  SDL_ShowWindow(window_->Handle());
  if (owner_ && owner_->FullScreen()) SDL_SetWindowAlwaysOnTop(window_->Handle(), SDL_TRUE);
  Raise();
  Invalidate();
  return startTextInput;
}

void TSystemDialog::Hide(bool stopTextInput) {
  running_ = false;
  pressed_ = -1;
  SDL_HideWindow(window_->Handle());
  if (stopTextInput) SDL_StopTextInput();
}

void TSystemDialog::EndDialog(int result) {
  result_ = result;
  ended_ = true;
}

void TSystemDialog::Command(int command) {
  if (handler_)
    handler_(*this, command);
  else
    EndDialog(command);
}

void TSystemDialog::Key(uint16_t key, uint32_t mods, bool down) {
  if (!down) return;
  const bool ctrl = (mods & kModCtrl) != 0, shift = (mods & kModShift) != 0;
  const TDialogItemKind focused =
      focus_ >= 0 ? template_.items[focus_].kind : TDialogItemKind::Static;
  if (key == vk::kTab && !ctrl && !(mods & kModAlt)) MoveFocus(shift ? -1 : 1);
  if (key == vk::kReturn) Command(ReturnCommand());
  if (key == vk::kEscape) Command(kIdCancel);
  if (key == vk::kSpace && focused != TDialogItemKind::Edit && focus_ >= 0) Activate(focus_);
  if (key == vk::kBack && focused == TDialogItemKind::Edit) {
    DropLastChar(state_[focus_].text);
    Invalidate();
  }
  if ((key == 'V' && ctrl) || (key == vk::kInsert && shift)) Paste();
}

int TSystemDialog::ReturnCommand() const {
  // A focused button stands in for the default one.
  if (focus_ >= 0 && template_.items[focus_].kind == TDialogItemKind::Button)
    return template_.items[focus_].id;
  for (const TDialogItem& item : template_.items)
    if (item.kind == TDialogItemKind::Button && item.defaultButton) return item.id;
  return kIdOk;
}

void TSystemDialog::Text(std::string_view utf8) {
  if (focus_ < 0 || template_.items[focus_].kind != TDialogItemKind::Edit) return;
  AppendEditText(state_[focus_].text, utf8);
  Invalidate();
}

void TSystemDialog::Paste() {
  if (!SDL_HasClipboardText()) return;
  char* clip = SDL_GetClipboardText();
  if (!clip) return;
  const std::string text = clip;
  SDL_free(clip);
  Text(text);
}

void TSystemDialog::MouseButton(int x, int y, bool down) {
  const int hit = HitTest(x, y);
  Invalidate();
  if (down) {
    if (hit < 0) return;
    focus_ = hit;
    const TDialogItemKind kind = template_.items[hit].kind;
    if (kind == TDialogItemKind::Button || kind == TDialogItemKind::CheckBox) {
      pressed_ = hit;
      pressedInside_ = true;
    }
    return;
  }
  const int pressed = pressed_;
  pressed_ = -1;
  if (pressed >= 0 && hit == pressed) Activate(pressed);
}

void TSystemDialog::MouseMove(int x, int y) {
  if (pressed_ < 0) return;
  const bool inside = HitTest(x, y) == pressed_;
  if (inside != pressedInside_) Invalidate();
  pressedInside_ = inside;
}

void TSystemDialog::Activate(int index) {
  const TDialogItem& item = template_.items[index];
  if (item.kind == TDialogItemKind::Button) {
    Command(item.id);
  } else if (item.kind == TDialogItemKind::CheckBox) {
    state_[index].checked = !state_[index].checked;
    Invalidate();
  }
}

int TSystemDialog::IndexOf(int id) const {
  for (size_t i = 0; i < template_.items.size(); ++i)
    if (template_.items[i].id == id) return int(i);
  return -1;
}

int TSystemDialog::HitTest(int x, int y) const {
  for (size_t i = 0; i < template_.items.size(); ++i)
    if (TakesFocus(template_.items[i]) && Contains(ScaledItemRect(template_.items[i], dpi_), x, y))
      return int(i);
  return -1;
}

void TSystemDialog::MoveFocus(int direction) {
  const int n = int(template_.items.size());
  if (n == 0) return;
  int i = focus_ >= 0 ? focus_ : (direction > 0 ? -1 : n);
  for (int step = 0; step < n; ++step) {
    i = ((i + direction) % n + n) % n;
    if (TakesFocus(template_.items[i])) {
      focus_ = i;
      break;
    }
  }
  Invalidate();
}

TScreenRect TSystemDialog::ItemRect(int id) const {
  const int i = IndexOf(id);
  return i < 0 ? TScreenRect{} : ScaledItemRect(template_.items[i], dpi_);
}

std::string TSystemDialog::ItemText(int id) const {
  const int i = IndexOf(id);
  return i < 0 ? std::string() : state_[i].text;
}

void TSystemDialog::SetItemText(int id, std::string_view text) {
  const int i = IndexOf(id);
  if (i < 0) return;
  state_[i].text.clear();
  if (template_.items[i].kind == TDialogItemKind::Edit)
    AppendEditText(state_[i].text, text);
  else
    state_[i].text = text;
  Invalidate();
}

bool TSystemDialog::Checked(int id) const {
  const int i = IndexOf(id);
  return i >= 0 && state_[i].checked;
}

void TSystemDialog::SetChecked(int id, bool checked) {
  const int i = IndexOf(id);
  if (i < 0) return;
  state_[i].checked = checked;
  Invalidate();
}

int TSystemDialog::Focused() const {
  return focus_ < 0 ? 0 : template_.items[focus_].id;
}

bool TSystemDialog::SetFocus(int id) {
  const int i = IndexOf(id);
  if (i < 0 || !TakesFocus(template_.items[i])) return false;
  focus_ = i;
  Invalidate();
  return true;
}

void TSystemDialog::Raise() {
  SDL_RaiseWindow(window_->Handle());
}

TRef<TBitmap> TSystemDialog::Snapshot() {
  if (dirty_) Paint();
  const TBitmap& from = canvas_->Bitmap();
  auto copy = MakeRef<TBitmap>(from.Width(), from.Height(), TPixelFormat::Bgra32);
  for (int y = 0; y < from.Height(); ++y)
    std::memcpy(copy->Row(y), from.Row(y), size_t(from.Width()) * 4);
  return copy;
}

void TSystemDialog::Present() {
  if (dirty_) Paint();
  stale_ = false;
  SDL_Surface* surface = SDL_GetWindowSurface(window_->Handle());
  // Without a framebuffer nothing shows, but the dialog still works.
  if (!surface) return;
  const TBitmap& bmp = canvas_->Bitmap();
  SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(bmp.Data()),
                                                        bmp.Width(), bmp.Height(), 32,
                                                        int(bmp.Pitch()), SDL_PIXELFORMAT_BGRA32);
  if (!src) return;
  SDL_SetSurfaceBlendMode(src, SDL_BLENDMODE_NONE);
  SDL_BlitSurface(src, nullptr, surface, nullptr);
  SDL_FreeSurface(src);
  SDL_UpdateWindowSurface(window_->Handle());
}

void TSystemDialog::Paint() {
  canvas_->Fill({0, 0, canvas_->Width(), canvas_->Height()}, kFace);
  for (size_t i = 0; i < template_.items.size(); ++i) {
    const TScreenRect r = ScaledItemRect(template_.items[i], dpi_);
    switch (template_.items[i].kind) {
      case TDialogItemKind::Static:
        PaintStatic(int(i), r);
        break;
      case TDialogItemKind::Edit:
        PaintEdit(int(i), r);
        break;
      case TDialogItemKind::Button:
        PaintButton(int(i), r);
        break;
      case TDialogItemKind::CheckBox:
        PaintCheckBox(int(i), r);
        break;
    }
  }
  dirty_ = false;
}

void TSystemDialog::PaintStatic(int index, const TScreenRect& r) {
  canvas_->DrawText(font_.Line(Shown(state_[index].text)), r.left, r.top + font_.Ascent(), kInk, r);
}

std::string TSystemDialog::EditShown(int index) const {
  if (!template_.items[index].masked) return state_[index].text;
  std::string bullets;
  const size_t n = CountChars(state_[index].text);
  bullets.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) bullets += kMaskBullet;
  return bullets;
}

void TSystemDialog::PaintEdit(int index, const TScreenRect& r) {
  const bool focused = focus_ == index;
  canvas_->Fill(r, kWhite);
  canvas_->Frame(r, focused ? kAccent : kEditBorder);
  const int pad = 1 + ScaleDesign(2, dpi_);
  const TScreenRect inner{r.left + pad, r.top + 1, r.right - pad, r.bottom - 1};
  const TDialogText& line = font_.Line(EditShown(index));
  const double top = r.top + (r.Height() - font_.Height()) / 2;
  // The text scrolls left so that its end, where the caret is, stays in view.
  const double room = std::max(0, inner.Width() - 1);
  const double x = inner.left - std::max(0.0, line.width - room);
  canvas_->DrawText(line, x, top + font_.Ascent(), kInk, inner);
  if (!focused) return;
  const int caret = int(x + line.width + 0.5);
  canvas_->Fill(Intersect({caret, int(top), caret + 1, int(top + font_.Height() + 0.5)}, inner),
                kInk);
}

bool TSystemDialog::IsDefault(int index) const {
  if (focus_ >= 0 && template_.items[focus_].kind == TDialogItemKind::Button)
    return index == focus_;
  return template_.items[index].defaultButton;
}

void TSystemDialog::PaintButton(int index, const TScreenRect& r) {
  const bool pressed = pressed_ == index && pressedInside_;
  const bool accent = IsDefault(index);
  canvas_->Fill(r, pressed ? kPressedFace : kButtonFace);
  canvas_->Frame(r, pressed ? kPressedBorder : (accent ? kAccent : kButtonBorder), accent ? 2 : 1);
  const TDialogText& line = font_.Line(Shown(state_[index].text));
  const TScreenRect inner{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
  const double top = r.top + (r.Height() - font_.Height()) / 2;
  canvas_->DrawText(line, r.left + (r.Width() - line.width) / 2, top + font_.Ascent(), kInk, inner);
  if (focus_ == index) {
    const int inset = ScaleDesign(3, dpi_);
    canvas_->DottedFrame({r.left + inset, r.top + inset, r.right - inset, r.bottom - inset}, kInk);
  }
}

void TSystemDialog::PaintCheckBox(int index, const TScreenRect& r) {
  const int size = ScaleDesign(13, dpi_);
  const TScreenRect box{r.left, r.top + (r.Height() - size) / 2, r.left + size,
                        r.top + (r.Height() - size) / 2 + size};
  canvas_->Fill(box, pressed_ == index && pressedInside_ ? kPressedFace : kWhite);
  canvas_->Frame(box, kBoxBorder);
  if (state_[index].checked && size > 2) {
    const std::vector<uint8_t> mark = CheckMark(size);
    canvas_->DrawCoverage(mark.data(), size, size, size_t(size), 1, box.left, box.top, kInk, box);
  }
  const TDialogText& line = font_.Line(Shown(state_[index].text));
  const int x = box.right + ScaleDesign(5, dpi_);
  const double top = r.top + (r.Height() - font_.Height()) / 2;
  canvas_->DrawText(line, x, top + font_.Ascent(), kInk, r);
  if (focus_ == index)
    canvas_->DottedFrame(Intersect({x - 1, int(top) - 1, x + int(line.width + 0.5) + 1,
                                    int(top + font_.Height() + 0.5) + 1},
                                   r),
                         kInk);
}

}  // namespace lum
