#pragma once
// Text objects: lines with macros, a font, style, alignment and three
// colours (normal, hover, pressed), shown as a text picture made at the
// largest size the text reaches on its slide and sized by its container's
// height.
#include <string>
#include <vector>

#include "model/lum_image.h"
#include "text/text_params.h"

namespace lum {

class TTextPictureStore;

// Text pictures are halved while they would be larger than this.
inline constexpr double kMaxTextPictureSide = 30000;
inline constexpr double kMaxTextPicturePixels = 10000000;

class TLumText : public TLumImage {
 public:
  using TLumImage::TLumImage;
  const char* ClassName() const override { return "TLumText"; }
  void LoadFromSection(const TIniList* section) override;
  bool RequestPicture() override;
  void FillDrawParams(TImageDrawParams& params) const override;
  // A button's caption is drawn at its own opacity times the button's and
  // the button's "TxtOpacity".
  double GetDrawOpacity() const override;
  bool IsButtonCaption() const;
  // Follows the font size, so that a text of many lines is as soft as one.
  double ShadowBlurScale() const override;
  // Picture pixels: the rendered font's, or for a pre-rendered text its
  // height shared among its lines.
  double FontSize() const;
  double FitFor(double pw, double ph) const override;
  bool UpdateLayout(bool recursive) override;
  bool HitTest(double x, double y) const override;
  // Texts cast a shadow unless told otherwise.
  void InitDefaults() override { defaultShadow_ = true; }
  bool HasPointerStates() const override { return true; }
  void SetPointerState(int state) override;
  int PointerState() const override { return state_; }
  // Set when the display scale moved after the text was first rendered.
  bool RenderRequested() const { return renderRequested_; }
  void RequestRender(bool on = true) {
    renderRequested_ = on;
    if (on) givenUp_ = false;
  }

  const std::vector<std::string>& Lines() const { return lines_; }
  void SetLines(std::vector<std::string> lines);
  // The lines with their macros replaced, as the picture shows them.
  std::vector<std::string> ExpandedLines() const;
  // r | g << 8 | b << 16 of state 0, 1 or 2.
  uint32_t Color(int state) const { return colors_[size_t(std::clamp(state, 0, 2))]; }
  // The same as the display shows it (colour management).
  uint32_t ShownColor(int state) const { return shown_[size_t(std::clamp(state, 0, 2))]; }
  // One colour for all three states (a button caption takes its theme's).
  void SetColors(uint32_t color);
  const std::string& FontName() const { return font_; }
  int Style() const { return style_; }
  int Align() const { return align_; }
  int LineSpacing() const { return lineSpacing_; }
  bool Rasterized() const { return rasterize_; }
  bool IsComment() const { return isComment_; }
  void SetComment(bool on) { isComment_ = on; }
  // The parameters of the last picture (scale = the render scale).
  const TTextParams& Params() const { return params_; }
  // The text picture's store; null while none is held or it is rasterised.
  const TTextPictureStore* TextStore() const;

  // The render scale for a text whose laid-out height at scale 1 is height:
  // the largest key-frame scale times the parent's display height, halved
  // while the picture would be too large.
  double RenderScale(double width, double height) const;

 protected:
  void UpdateGeometry(float zoom, float panX, float panY) override;

 private:
  // The largest absolute "ScaleX"/"ScaleY" of the key frames that set the
  // scale group (100 without any).
  double LargestKeyFrameScale() const;
  std::string MacroValue(std::string_view macro) const;
  // Converts the three colours for the display, once.
  void ShowColors();

  std::vector<std::string> lines_;
  uint32_t colors_[3] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
  uint32_t shown_[3] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
  std::string font_ = "Arial";
  int style_ = 0;
  int align_ = taCentre;
  int lineSpacing_ = 0;
  bool rasterize_ = false;
  std::string rasterizedGuid_;
  bool isComment_ = false;
  int state_ = 0;
  bool renderRequested_ = false;
  // The last try could not make a picture; not tried again until the text
  // or its display scale changes.
  bool givenUp_ = false;
  TTextParams params_;
};

}  // namespace lum
