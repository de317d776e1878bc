#include "model/lum_text.h"

#include <algorithm>
#include <cmath>

#include "container/file_accessor.h"
#include "document/ini_file.h"
#include "foundation/log.h"
#include "model/animated_field_desk.h"
#include "model/displayed_color.h"
#include "model/lum_button.h"
#include "model/lum_key_frame.h"
#include "model/lum_object_props.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "model/text_macros.h"
#include "text/live_vectorizer.h"
#include "text/text_picture.h"

namespace lum {

namespace {

// "FontStyle": the names exactly as written, any order.
int ReadFontStyle(const TIniList* section) {
  int style = 0;
  for (std::string word : ReadList(section, "FontStyle")) {
    while (!word.empty() && word.front() == ' ') word.erase(word.begin());
    while (!word.empty() && word.back() == ' ') word.pop_back();
    if (word == "Bold") style |= tsBold;
    if (word == "Italic") style |= tsItalic;
    if (word == "Underline") style |= tsUnderline;
    if (word == "StrikeOut") style |= tsStrikeOut;
  }
  return style;
}

// The "Text" value: one line with "\n" breaks and doubled backslashes when
// it was written that way, else the value as it stands.
std::vector<std::string> ReadTextLines(const TIniList* section) {
  const std::string raw = ReadString(section, "Text", "");
  std::string decoded;
  if (!TIniFile::DecodeOneValue(raw, decoded)) decoded = raw;
  return SplitTextLines(decoded);
}

}  // namespace

void TLumText::LoadFromSection(const TIniList* section) {
  std::vector<std::string> lines = ReadTextLines(section);
  colors_[0] = ReadObjectColor(section, "TextColor", 0xFFFFFF);
  colors_[1] = ReadObjectColor(section, "TextColorHover", colors_[0]);
  colors_[2] = ReadObjectColor(section, "TextColorClick", colors_[0]);
  ShowColors();
  font_ = ReadString(section, "FontName", "Arial");
  if (font_.empty()) font_ = "Arial";
  style_ = ReadFontStyle(section);
  align_ = ReadChoice(section, "TextAlign", {"Left", "Center", "Right"}, false, taCentre);
  lineSpacing_ = ReadInteger(section, "LineSpacing", 0);
  rasterize_ = ReadBool(section, "Rasterize", false);
  rasterizedGuid_ = ReadString(section, "RasterizedGUID", "");
  const bool comment = ReadBool(section, "IsComment", false);
  ReadImageKeys(section);
  TLumObject::LoadFromSection(section);
  antialiased_ = false;
  // A button's caption is its first child: one line, no clicks, no shadow.
  if (IsButtonCaption()) {
    if (lines.size() > 1) lines.resize(1);
    transpForClick_ = true;
    TDropShadow none = shadow_;
    none.enabled = false;
    SetShadow(none);
  }
  SetLines(std::move(lines));
  if (comment && slide_) {
    // A slide has at most one comment: the text loaded last.
    for (TLumObject* o : slide_->AllObjects())
      if (o != this && o->Kind() == kKindText) static_cast<TLumText*>(o)->SetComment(false);
  }
  isComment_ = comment;
}

bool TLumText::IsButtonCaption() const {
  return parent_ && parent_->Kind() == kKindButton && !parent_->Children().empty() &&
         parent_->Children().front() == this;
}

double TLumText::GetDrawOpacity() const {
  const auto* button = IsButtonCaption() ? dynamic_cast<const TLumButton*>(parent_) : nullptr;
  if (!button) return GetOpacity();
  // A caption fades with its button, and by the button's caption opacity.
  return GetOpacity() * button->GetOpacity() / 100 * button->TextOpacity() / 100;
}

void TLumText::SetLines(std::vector<std::string> lines) {
  const bool allEmpty =
      std::all_of(lines.begin(), lines.end(), [](const std::string& l) { return l.empty(); });
  if (allEmpty) lines = {" "};
  if (lines == lines_) return;
  lines_ = std::move(lines);
  givenUp_ = false;
  if (!rasterize_) DropPicture();
}

void TLumText::SetColors(uint32_t color) {
  colors_[0] = colors_[1] = colors_[2] = color;
  ShowColors();
  MarkChanged();
}

void TLumText::ShowColors() {
  shown_[0] = DisplayedColor(colors_[0]);
  for (size_t i = 1; i < 3; ++i)
    shown_[i] = colors_[i] == colors_[0] ? shown_[0] : DisplayedColor(colors_[i]);
}

void TLumText::SetPointerState(int state) {
  state = std::clamp(state, 0, 2);
  if (state == state_) return;
  state_ = state;
  MarkChanged();
}

std::string TLumText::MacroValue(std::string_view macro) const {
  TMainImageFacts facts;
  const int index = slide_ ? slide_->Index() : 0;
  const int count = slide_ ? slide_->SlideCount() : 0;
  if (std::optional<TMainImage> main = slide_ ? slide_->MainImage() : std::nullopt) {
    facts.present = true;
    facts.path = main->file;
    facts.width = int(main->width);
    facts.height = int(main->height);
    // The picture's own data only for the macros that read it.
    const bool metadata = macro.find(".Exif.") != std::string_view::npos ||
                          macro.find(".IPTC.") != std::string_view::npos ||
                          macro == kExifDateTimeQuery;
    TLumSlideHost* host = slide_->GetHost();
    if (metadata && host && host->Accessor()) {
      try {
        if (std::unique_ptr<TStream> s = host->Accessor()->OpenMember(main->file))
          ReadMainImageMetadata(*s, facts);
      } catch (const std::exception&) {
        // Unreadable metadata leaves the macro empty.
      }
    }
  }
  return ResolveTextMacro(macro, index, count, facts);
}

std::vector<std::string> TLumText::ExpandedLines() const {
  std::vector<std::string> lines =
      ExpandTextMacros(lines_, [this](std::string_view macro) { return MacroValue(macro); });
  for (std::string& l : lines)
    if (l.empty()) l = " ";
  return lines;
}

double TLumText::LargestKeyFrameScale() const {
  double r = 0;
  bool any = false;
  if (props_)
    for (const auto& k : props_->KeyFrames())
      if (k->SetsGroup(kGroupScale)) {
        any = true;
        r = std::max({r, std::abs(double(k->Value(4))), std::abs(double(k->Value(5)))});
      }
  return any && std::isfinite(r) ? r : 100.0;
}

double TLumText::RenderScale(double width, double height) const {
  if (!(height > 0) || !(width > 0)) return 0;
  const double parentY = parent_ ? parent_->Maxima().scaleY : 0;
  double scale = LargestKeyFrameScale() * parentY / 100 / height;
  if (!std::isfinite(scale) || scale <= 0) return 0;
  while (scale > 1e-9 &&
         (width * scale > kMaxTextPictureSide || height * scale > kMaxTextPictureSide ||
          width * height * scale * scale > kMaxTextPicturePixels))
    scale /= 2;
  return scale;
}

bool TLumText::RequestPicture() {
  if (rasterize_) return TLumImage::RequestPicture();
  if (picture_ && !renderRequested_) return true;
  if (givenUp_ && !renderRequested_) return false;
  TLumSlideHost* host = slide_ ? slide_->GetHost() : nullptr;
  // The resolution follows the parent's display scale, known once the
  // slide's pre-pass has run.
  if (!host || !parent_ || !(parent_->Maxima().scaleY > 0)) return false;
  TTextParams p = DefaultTextParams();
  p.font = font_;
  p.style = style_;
  p.align = uint8_t(std::clamp(align_, 0, 2));
  p.lineSpacing = lineSpacing_;
  p.lines = ExpandedLines();
  p.scale = 1;
  const TFileAccessor* accessor = host->Accessor().Get();
  // The text's own size at scale 1: laid out only, never rasterised.
  TRef<TTextPictureStore> base =
      MakeTextPicture(BuildTextDescription(p), accessor, MakeLiveVectorizer());
  const TTextRect bounds = base ? base->GlyphBounds() : TTextRect{};
  p.scale = RenderScale(bounds.Width(), bounds.Height());
  TRef<TImage> picture = p.scale > 0 ? host->OpenPicture(BuildTextDescription(p)) : nullptr;
  if (!picture || !dynamic_cast<const TTextPictureStore*>(&picture->Store())) {
    givenUp_ = true;
    renderRequested_ = false;
    UpdateGeometry(100, 0, 0);
    return false;
  }
  picture_ = std::move(picture);
  previous_ = nullptr;
  params_ = std::move(p);
  renderRequested_ = false;
  UpdateGeometry(100, 0, 0);
  MarkChanged();
  return true;
}

const TTextPictureStore* TLumText::TextStore() const {
  return picture_ ? dynamic_cast<const TTextPictureStore*>(&picture_->Store()) : nullptr;
}

void TLumText::UpdateGeometry(float zoom, float panX, float panY) {
  const TTextPictureStore* store = TextStore();
  if (!store) {
    TLumImage::UpdateGeometry(zoom, panX, panY);
    return;
  }
  // The glyphs' box is the text's size; the picture's margin stays outside.
  const TTextRect& b = store->GlyphBounds();
  visible_ = {b.left, b.top, b.right, b.bottom};
  borderPx_ = 0;
  SetNominalSize(std::max(0.0, b.Width()), std::max(0.0, b.Height()));
}

double TLumText::ShadowBlurScale() const {
  return TextBlurScale(FontSize(), MipLevel());
}

double TLumText::FontSize() const {
  if (const TTextPictureStore* store = TextStore()) return store->FontSize();
  // A pre-rendered text: its lines share the picture's height.
  const double n = double(std::max<size_t>(1, lines_.size()));
  const double lines = n + (n - 1) * lineSpacing_ / 200.0;
  return lines > 0 ? Height() / lines : Height();
}

bool TLumText::UpdateLayout(bool recursive) {
  // Texts have no framing of their own: no zoom, pan, crop or border.
  RequestPicture();
  PrepareShadow();
  return TLumObject::UpdateLayout(recursive);
}

double TLumText::FitFor(double /*pw*/, double ph) const {
  // Sized by the container's height: scale 100 fills it.
  return h_ > 0 ? ph / h_ : 0.0;
}

void TLumText::FillDrawParams(TImageDrawParams& params) const {
  TLumImage::FillDrawParams(params);
  params.antialiased = false;
  params.hasTextColor = !rasterize_;
  params.textColor = ShownColor(state_);
}

bool TLumText::HitTest(double x, double y) const {
  if (!TLumObject::HitTest(x, y)) return false;
  const TTextPictureStore* store = TextStore();
  double u = 0, v = 0;
  if (!store || store->LineRects().empty() || !PlanePoint(x, y, u, v)) return true;
  // Only the lines' own boxes take the pointer.
  const TTextRect& b = store->GlyphBounds();
  const double px = u - left_ + b.left, py = v - top_ + b.top;
  for (const TTextRect& r : store->LineRects())
    if (px >= r.left && px <= r.right && py >= r.top && py <= r.bottom) return true;
  return false;
}

}  // namespace lum
