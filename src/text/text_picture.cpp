#include "text/text_picture.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <set>

#include "container/file_accessor.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "text/rasterizer.h"
#include "text/vect_text_io.h"

namespace lum {

namespace {

// Members larger than this are not text a show can hold.
constexpr int64_t kMaxTextMemberBytes = int64_t(64) << 20;

void LogLine(const std::string& text) {
  if (Log().Enabled()) Log().Line("TTextPicture: " + text);
}

// The whole member, or nothing when it is missing or cannot be read.
std::optional<std::string> ReadMember(const TFileAccessor* accessor, const std::string& name) {
  if (!accessor) return std::nullopt;
  try {
    std::unique_ptr<TStream> s = accessor->OpenMember(name);
    if (!s) return std::nullopt;
    return ReadRest(*s, kMaxTextMemberBytes, "Text member too large");
  } catch (const ELumError& e) {
    LogLine("\"" + name + "\" unreadable: " + e.what());
    return std::nullopt;
  }
}

size_t CountCharacters(const std::vector<std::string>& lines) {
  size_t n = 0;
  for (const std::string& l : lines)
    for (char c : l)
      if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

struct TLineBox {
  double left = 0, right = 0, ascent = 0, descent = 0;
  std::vector<std::pair<const TPlacedGlyph*, TGlyphRef>> glyphs;
};

}  // namespace

bool LayoutVectText(const TVectText& text, const TTextParams& params, TTextLayout& out,
                    std::string* why) {
  out = TTextLayout();
  double s = params.scale;
  if (!(s > 0) || !std::isfinite(s)) {
    if (why) *why = "scale is not a positive number";
    return false;
  }
  double spacing = std::isfinite(params.lineSpacing)
                       ? std::clamp(params.lineSpacing, kMinLineSpacing, kMaxLineSpacing)
                       : 0.0;
  double textHeight = std::max(0.0, double(text.ascent) + double(text.descent)) * s;
  out.lineHeight = textHeight;

  TFontCache& cache = TFontCache::Instance();
  std::vector<TLineBox> boxes(text.lines.size());
  for (size_t i = 0; i < text.lines.size(); ++i) {
    TLineBox& box = boxes[i];
    bool first = true;
    for (const TPlacedGlyph& g : text.lines[i]) {
      TGlyphRef outline = cache.Find(g.cacheKey, g.index);
      if (!outline || !(outline->captureSize > 0)) continue;
      double f = g.size / outline->captureSize;
      double a = g.x + f * outline->a;
      double b = a + f * outline->b;
      double c = b + f * outline->c;
      double lo = std::min({a, b, c}), hi = std::max({a, b, c});
      box.left = first ? lo : std::min(box.left, lo);
      box.right = first ? hi : std::max(box.right, hi);
      box.ascent = first ? f * outline->ascent : std::max(box.ascent, f * outline->ascent);
      box.descent = first ? f * outline->descent : std::max(box.descent, f * outline->descent);
      first = false;
      out.fontSize = std::max(out.fontSize, g.size * s);
      box.glyphs.emplace_back(&g, std::move(outline));
    }
    if (first) {
      box.ascent = text.ascent;
      box.descent = text.descent;
    }
  }

  // Bars per line: middle (pixels below the line's baseline) and thickness.
  // Offsets are y-up from the baseline to the bar's middle, as fonts give
  // them; a font that gave none gets bars from the line's own metrics.
  struct TBarSpan {
    double mid, thickness;
  };
  auto barsOf = [&](const TLineBox& box) {
    std::vector<TBarSpan> spans;
    if (box.glyphs.empty()) return spans;
    auto add = [&](double offset, double thickness, double fallbackOffset) {
      if (!(thickness > 0)) {
        thickness = (box.ascent + box.descent) / 14;
        offset = fallbackOffset;
      }
      spans.push_back({-offset * s, std::max(1.0, thickness * s)});
    };
    if (params.style & tsUnderline) add(text.metrics[0], text.metrics[1], -0.4 * box.descent);
    if (params.style & tsStrikeOut) add(text.metrics[2], text.metrics[3], 0.3 * box.ascent);
    return spans;
  };

  // Lines stacked from the top; the block is as wide as the widest line and
  // reaches down to the lowest line or bar.
  std::vector<double> tops(boxes.size());
  double y = 0, blockW = 0, blockH = 0;
  for (size_t i = 0; i < boxes.size(); ++i) {
    double h = std::max(0.0, boxes[i].ascent + boxes[i].descent) * s;
    tops[i] = y;
    blockH = std::max(blockH, y + h);
    for (const TBarSpan& b : barsOf(boxes[i]))
      blockH = std::max(blockH, y + boxes[i].ascent * s + b.mid + b.thickness / 2);
    blockW = std::max(blockW, (boxes[i].right - boxes[i].left) * s);
    y = std::max(0.0, y + h + spacing / 100 * textHeight);
  }
  double w = std::ceil(blockW) + 2 * kTextPictureMargin;
  double h = std::ceil(blockH) + 2 * kTextPictureMargin;
  if (!(w <= INT_MAX && h <= INT_MAX) || !PictureSizeAllowed(int64_t(w), int64_t(h))) {
    if (why) *why = "picture of " + std::to_string(w) + " x " + std::to_string(h) + " too large";
    return false;
  }
  out.width = int(w);
  out.height = int(h);

  bool anyGlyph = false;
  for (size_t i = 0; i < boxes.size(); ++i) {
    const TLineBox& box = boxes[i];
    double lineW = (box.right - box.left) * s;
    double left = kTextPictureMargin;
    if (params.align == taCentre) left += (blockW - lineW) / 2;
    if (params.align == taRight) left += blockW - lineW;
    double top = kTextPictureMargin + tops[i];
    double lineH = std::max(0.0, box.ascent + box.descent) * s;
    double baseline = top + box.ascent * s;
    out.lineRects.push_back({left, top, left + lineW, top + lineH});
    out.baselines.push_back(baseline);
    for (const auto& [placed, outline] : box.glyphs) {
      double f = placed->size / outline->captureSize * s;
      double ox = left + (placed->x - box.left) * s;
      out.glyphs.push_back({outline, ox, baseline, f});
      TTextRect r{ox + f * outline->a, baseline - f * outline->ascent,
                  ox + f * (double(outline->a) + outline->b), baseline + f * outline->descent};
      if (r.left > r.right) std::swap(r.left, r.right);
      if (r.top > r.bottom) std::swap(r.top, r.bottom);
      TTextRect& u = out.glyphBounds;
      u = anyGlyph ? TTextRect{std::min(u.left, r.left), std::min(u.top, r.top),
                               std::max(u.right, r.right), std::max(u.bottom, r.bottom)}
                   : r;
      anyGlyph = true;
    }
    for (const TBarSpan& b : barsOf(box))
      out.bars.push_back({left, baseline + b.mid - b.thickness / 2, left + lineW,
                          baseline + b.mid + b.thickness / 2});
  }
  return true;
}

TTextPictureStore::TTextPictureStore(TTextLayout layout)
    : TBitmapStore({layout.width, layout.height, TPixelFormat::Bgra32}),
      layout_(std::move(layout)) {}

TRef<TBitmap> TTextPictureStore::DecodeLevel(int level) {
  if (level != 0) return nullptr;
  TRasterHelper raster;
  raster.BeginPaint(layout_.width, layout_.height);
  size_t done = 0, total = layout_.glyphs.size() + layout_.bars.size();
  for (const TTextLayout::TGlyph& g : layout_.glyphs) {
    const std::vector<TGlyphPoint>& pts = g.outline->points;
    raster.AddPath(pts.data(), pts.size(), g.scale, g.x, g.y);
    raster.FillPath();
    if (progress_ && (++done & 63) == 0) ReportProgress(double(done) / double(total));
  }
  for (const TTextRect& b : layout_.bars) raster.FillRect(b.left, b.top, b.right, b.bottom);
  raster.EndPaint();
  auto bmp = MakeRef<TBitmap>(layout_.width, layout_.height, TPixelFormat::Bgra32);
  const uint8_t* cov = raster.Coverage();
  for (int y = 0; y < layout_.height; ++y) {
    uint8_t* row = bmp->Row(y);
    const uint8_t* src = cov + size_t(y) * size_t(layout_.width);
    // White everywhere, so that filtering at the edges never pulls in black.
    for (int x = 0; x < layout_.width; ++x) {
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = 255;
      row[4 * x + 3] = src[x];
    }
  }
  ReportProgress(1);
  return bmp;
}

void LoadGlyphCaches(const TVectText& text, const TFileAccessor* accessor) {
  TFontCache& cache = TFontCache::Instance();
  std::set<std::string> tried;
  for (const auto& line : text.lines)
    for (const TPlacedGlyph& g : line) {
      if (!tried.insert(g.cacheKey).second || cache.Has(g.cacheKey)) continue;
      std::string name = std::string(kGlyphCachePrefix) + g.cacheKey;
      std::optional<std::string> bytes = ReadMember(accessor, name);
      if (!bytes) continue;
      TGlyphCache read;
      std::string why;
      if (!ReadGlyphCache(*bytes, read, &why)) {
        LogLine("\"" + name + "\" damaged: " + why);
        continue;
      }
      // The cache goes under the key it was asked for, whatever the member says.
      read.key = g.cacheKey;
      cache.Add(std::move(read));
    }
}

TRef<TTextPictureStore> MakeTextPicture(const TVectText& text, const TTextParams& params) {
  TTextLayout layout;
  std::string why;
  if (!LayoutVectText(text, params, layout, &why)) {
    LogLine("text refused: " + why);
    return nullptr;
  }
  return MakeRef<TTextPictureStore>(std::move(layout));
}

TRef<TTextPictureStore> MakeTextPicture(std::string_view description, const TFileAccessor* accessor,
                                        const TLiveVectorizer& liveVectorize,
                                        TImageProgress progress) {
  std::string key = VectTextKey(description);
  TTextParams params = ParseTextDescription(description);
  if (params.lines.size() > size_t(kMaxTextLines) ||
      CountCharacters(params.lines) > size_t(kMaxTextGlyphs)) {
    LogLine("text refused: " + std::to_string(params.lines.size()) + " lines, " +
            std::to_string(CountCharacters(params.lines)) + " characters");
    return nullptr;
  }
  auto vectorize = [&](TVectText& text) {
    if (!liveVectorize) return false;
    TVectText made;
    try {
      if (!liveVectorize(params.font, params.style, params.lines, made)) return false;
    } catch (const ELumError& e) {
      LogLine(std::string("live vectorisation failed: ") + e.what());
      return false;
    }
    // Through the stored form, so that live and stored texts pass the same checks.
    std::string why;
    if (ReadVectText(WriteVectText(made), text, &why)) return true;
    LogLine("live vectorisation unusable: " + why);
    return false;
  };

  TVectText text;
  bool stored = false;
  if (std::optional<std::string> bytes = ReadMember(accessor, key)) {
    std::string why;
    stored = ReadVectText(*bytes, text, &why);
    if (!stored) LogLine("\"" + key + "\" damaged: " + why);
  }
  if (stored) {
    LoadGlyphCaches(text, accessor);
    // Outlines whose cache member is missing may still come from the fonts.
    bool cachesMissing = false;
    for (const auto& line : text.lines)
      for (const TPlacedGlyph& g : line)
        cachesMissing = cachesMissing || !TFontCache::Instance().Has(g.cacheKey);
    TVectText live;
    if (cachesMissing && vectorize(live)) text = std::move(live);
  } else if (vectorize(text)) {
    LoadGlyphCaches(text, accessor);
  } else {
    LogLine("no stored or live outlines for \"" + key + "\"");
    return nullptr;
  }
  TRef<TTextPictureStore> store = MakeTextPicture(text, params);
  if (store && progress) store->SetProgress(std::move(progress));
  return store;
}

}  // namespace lum
