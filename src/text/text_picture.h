#pragma once
// Text pictures: a text description turned into a white picture whose
// alpha is the anti-aliased coverage of the text's glyph outlines. The
// outlines come from the show's "VectTxt2: " and "VectTextCache: " members,
// or, when those are missing, from live vectorisation of installed fonts.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/bitmap_store.h"
#include "text/font_cache.h"
#include "text/text_params.h"
#include "text/vector_text.h"

namespace lum {

class TFileAccessor;

struct TTextRect {
  double left = 0, top = 0, right = 0, bottom = 0;
  double Width() const { return right - left; }
  double Height() const { return bottom - top; }
  bool operator==(const TTextRect&) const = default;
};

// A text laid out in picture pixels (y downwards, the picture's top-left at 0, 0).
struct TTextLayout {
  struct TGlyph {
    TGlyphRef outline;
    double x = 0, y = 0;  // origin on the baseline
    double scale = 0;     // outline units to pixels
  };
  int width = 0, height = 0;         // picture size
  TTextRect glyphBounds;             // union of the glyphs' boxes; empty when none
  std::vector<TTextRect> lineRects;  // line boxes, one per line
  std::vector<double> baselines;     // per line
  double fontSize = 0;               // largest glyph size, pixels; 0 without glyphs
  double lineHeight = 0;             // the text's (ascent + descent) x scale
  std::vector<TGlyph> glyphs;
  std::vector<TTextRect> bars;  // underline and strike-out
};

// Room left around the laid-out block on every side, pixels.
inline constexpr int kTextPictureMargin = 1;
// Line spacing is clamped to this range (percent of the line height).
inline constexpr double kMinLineSpacing = -100, kMaxLineSpacing = 1000;

// Lays a text out with the outlines of the process-wide font cache; a glyph
// whose cache or index is missing is skipped. Line i + 1 starts lineSpacing
// percent of the text's line height below the bottom of line i. False (why
// set) when the picture would exceed the picture budget.
bool LayoutVectText(const TVectText& text, const TTextParams& params, TTextLayout& out,
                    std::string* why = nullptr);

// The picture of a laid-out text: level 0 is rasterised on first request as
// 32-bit BGRA, white, with coverage as alpha; lower levels are halved from it.
class TTextPictureStore : public TBitmapStore {
 public:
  explicit TTextPictureStore(TTextLayout layout);
  const char* ClassName() const override { return "TTextPictureStore"; }

  const TTextLayout& Layout() const { return layout_; }
  const TTextRect& GlyphBounds() const { return layout_.glyphBounds; }
  const std::vector<TTextRect>& LineRects() const { return layout_.lineRects; }
  double FontSize() const { return layout_.fontSize; }
  double LineHeight() const { return layout_.lineHeight; }

 protected:
  TRef<TBitmap> DecodeLevel(int level) override;

 private:
  TTextLayout layout_;
};

// Vectorises lines with installed fonts: fills `out` (glyph-cache keys are
// GlyphCacheKey(font actually used, style)) and adds the outlines it takes
// to TFontCache::Instance(). False when nothing could be made.
using TLiveVectorizer = std::function<bool(const std::string& font, int style,
                                           const std::vector<std::string>& lines, TVectText& out)>;

// The picture of a text description ("Text: ..."): the "VectTxt2: " member
// named by its key, else live vectorisation (when given); glyph caches
// missing from the font cache are read from "VectTextCache: " members.
// Nothing (logged) when there is no way to make the text, or it is too large
// (over kMaxTextLines lines, kMaxTextGlyphs characters or the picture budget).
// accessor may be null (live vectorisation only).
TRef<TTextPictureStore> MakeTextPicture(std::string_view description, const TFileAccessor* accessor,
                                        const TLiveVectorizer& liveVectorize = {},
                                        TImageProgress progress = {});
// The same from an already laid-out text; nothing when too large.
TRef<TTextPictureStore> MakeTextPicture(const TVectText& text, const TTextParams& params);

// Reads the "VectTextCache: " member of every glyph-cache key the text
// names that the font cache lacks.
void LoadGlyphCaches(const TVectText& text, const TFileAccessor* accessor);

}  // namespace lum
