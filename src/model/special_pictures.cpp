#include "model/special_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "document/ini_values.h"
#include "imaging/picture_budget.h"
#include "imaging/picture_cache.h"
#include "imaging/tiny_font.h"
#include "model/shadow.h"
#include "text/live_vectorizer.h"
#include "text/text_picture.h"

namespace lum {

namespace {

constexpr std::string_view kMask = "Mask: ";
constexpr std::string_view kPresetMask = "PresetedMask:";
constexpr std::string_view kSlideEffectBuffer = "SlideEffectBuffer";
constexpr std::string_view kEffectResource = "EffectResource";
constexpr std::string_view kTextWithSize = "TextWithSize:";

bool SideAllowed(int64_t side) {
  return side >= 1 && side <= kMaxGeneratedSide;
}

TRef<TImage> Generated(TRef<TBitmap> bitmap, std::string name) {
  if (!bitmap) return nullptr;
  return MakeRef<TImage>(MakeRef<TGeneratedBitmapStore>(std::move(bitmap), std::move(name)));
}

std::vector<std::string_view> SplitFields(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  size_t start = 0;
  while (true) {
    size_t end = s.find(sep, start);
    out.push_back(s.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return out;
    start = end + 1;
  }
}

double FiniteOr(double v, double def) {
  return std::isfinite(v) ? v : def;
}

// "W, H" at the end of an effect-buffer name ("SlideEffectBuffer1, 1024, 768").
bool SizeFromName(std::string_view name, int& w, int& h) {
  std::vector<std::string_view> parts = SplitFields(name, ',');
  if (parts.size() < 3) return false;
  w = ValueToInt(parts[parts.size() - 2], 0);
  h = ValueToInt(parts[parts.size() - 1], 0);
  return w > 0 && h > 0;
}

TRef<TImage> EffectBufferStandIn(std::string_view name, const TSpecialPictureContext& context,
                                 bool opaque = true) {
  int w = context.bufferWidth, h = context.bufferHeight;
  if ((w <= 0 || h <= 0) && !SizeFromName(name, w, h)) return nullptr;
  if (!SideAllowed(w) || !SideAllowed(h)) return nullptr;
  auto bmp = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
  bmp->Fill(0, 0, 0, opaque ? 255 : 0);
  return Generated(bmp, opaque ? kEffectBufferPictureName : kEffectResourcePictureName);
}

TRef<TImage> MaskPicture(std::string_view name, const TSpecialPictureContext& context) {
  // A mask of a mask is never asked for; refusing it keeps hostile names
  // from recursing once per prefix.
  if (!context.accessor || name.empty() || name.starts_with(kMask)) return nullptr;
  TRef<TImage> picture = OpenImage(*context.accessor, name);
  TRef<TBitmap> mask = MakeMaskBitmap(*picture);
  // The picture's size either way: a mask made coarser keeps the layout.
  const TImageParams size{picture->Width(), picture->Height(), TPixelFormat::Bgra32};
  return mask ? MakeRef<TImage>(MakeRef<TSysBitmapStore>(mask, size)) : nullptr;
}

TRef<TImage> SizedText(std::string_view description) {
  // Font, scale, then the two size values of the text description.
  std::vector<std::string_view> fields = SplitFields(description, ':');
  if (fields.size() < 4) return nullptr;
  double w = FiniteOr(ValueToFloat(fields[2], 0), 0), h = FiniteOr(ValueToFloat(fields[3], 0), 0);
  if (!(w > 0) || !(h > 0)) return nullptr;
  double cw = std::ceil(w), ch = std::ceil(h);
  if (cw > kMaxGeneratedSide || ch > kMaxGeneratedSide) return nullptr;
  return Generated(MakeSizedTextPlaceholder(int(cw), int(ch)), kSizedTextPictureName);
}

}  // namespace

std::string_view GeneratedPictureName(const TImage& image) {
  if (auto* g = dynamic_cast<const TGeneratedBitmapStore*>(&image.Store())) return g->Name();
  return {};
}

namespace {

// Shadows are cached under their description like any picture; one that
// cannot be made leaves its object unshadowed.
TRef<TImage> ShadowPicture(std::string_view name, const TSpecialPictureContext& context) {
  TShadowParams p = ParseShadowDescription(name.substr(kShadowPrefix.size()));
  TRef<TImage> source;
  if (p.source != kShapeShadowSource) {
    // Button skins and video frames are not in the picture cache: their
    // objects make those.
    if (!context.accessor || p.source.empty() || p.source.starts_with("Button: ") ||
        p.source.starts_with(kVideoShadowSource))
      return nullptr;
    source = OpenImage(*context.accessor, p.source);
  }
  TRef<TBitmap> shadow = GenerateShadow(p, source.Get());
  return shadow ? MakeRef<TImage>(MakeRef<TGeneratedBitmapStore>(shadow, std::string(name)))
                : nullptr;
}

}  // namespace

TRef<TImage> ResolveSpecialPicture(std::string_view name, const TSpecialPictureContext& context) {
  if (name.starts_with(kMask)) return MaskPicture(name.substr(kMask.size()), context);
  if (name.starts_with(kPresetMask)) {
    TRef<TBitmap> mask = MakePresetMask(ParsePresetMask(name.substr(kPresetMask.size())));
    return mask ? MakeRef<TImage>(MakeRef<TSysBitmapStore>(mask)) : nullptr;
  }
  if (name.starts_with(kSlideEffectBuffer)) return EffectBufferStandIn(name, context);
  if (name.starts_with(kEffectResource)) {
    // The drawer shows the running transition's slide in its place (nothing
    // outside transitions); this gives the picture its size.
    const std::string_view rest = name.substr(kEffectResource.size());
    if (rest.empty() || rest[0] < '0' || rest[0] > '9') return nullptr;
    return EffectBufferStandIn(name, context, false);
  }
  if (name.starts_with(kTextWithSize)) return SizedText(name.substr(kTextWithSize.size()));
  if (name.starts_with(kTextPrefix)) {
    // Stored outlines first, installed fonts when the show has none.
    TRef<TTextPictureStore> text = MakeTextPicture(name, context.accessor, MakeLiveVectorizer());
    return text ? MakeRef<TImage>(text) : nullptr;
  }
  if (name.starts_with(kShadowPrefix)) return ShadowPicture(name, context);
  // "Button: " pictures are made by their theme's producer.
  return nullptr;
}

TPresetMask ParsePresetMask(std::string_view fields) {
  TPresetMask m;
  std::vector<std::string_view> f = SplitFields(fields, ':');
  auto field = [&](size_t i) { return i < f.size() ? f[i] : std::string_view(); };
  m.width = ValueToInt(field(0), 512);
  m.height = ValueToInt(field(1), 512);
  m.shape = ValueToInt(field(2), 0) == 1 ? 1 : 0;
  m.p1 = FiniteOr(ValueToFloat(field(3), 0), 0);
  m.p2 = FiniteOr(ValueToFloat(field(4), 0), 0);
  return m;
}

double SoftBandEase(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
}

TRef<TBitmap> MakePresetMask(const TPresetMask& m) {
  if (!SideAllowed(m.width) || !SideAllowed(m.height)) return nullptr;
  const int w = m.width, h = m.height;
  const double half = std::min(w, h) / 2.0;
  const double p1 = std::clamp(m.p1, 0.0, 100.0), p2 = std::clamp(m.p2, 0.0, 100.0);
  auto bmp = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
  // d: distance inside the edge; the band of width s lies inside it.
  auto level = [](double d, double s) -> uint8_t {
    if (s <= 0) return d >= 0 ? 255 : 0;
    return uint8_t(std::lround(255 * (1 - SoftBandEase(1 - d / s))));
  };
  if (m.shape == 1) {
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, r = (w - 1) / 2.0;
    const double stretch = double(w) / h, s = p1 / 100 * half;
    for (int y = 0; y < h; ++y) {
      uint8_t* row = bmp->Row(y);
      const double dy = (y - cy) * stretch;
      for (int x = 0; x < w; ++x) {
        uint8_t v = level(r - std::hypot(x - cx, dy), s);
        row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = v;
        row[4 * x + 3] = 255;
      }
    }
  } else {
    const double r = p2 / 100 * half, s = p1 / 100 * r + 1;
    const double right = w - 1, bottom = h - 1;
    for (int y = 0; y < h; ++y) {
      uint8_t* row = bmp->Row(y);
      for (int x = 0; x < w; ++x) {
        // Corner regions measure to the corner circle, the rest to the nearest side.
        double ccx = x < r ? r : (x > right - r ? right - r : -1);
        double ccy = y < r ? r : (y > bottom - r ? bottom - r : -1);
        double d = (ccx >= 0 && ccy >= 0)
                       ? r - std::hypot(x - ccx, y - ccy)
                       : std::min(std::min(double(x), right - x), std::min(double(y), bottom - y));
        uint8_t v = level(d, s);
        row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = v;
        row[4 * x + 3] = 255;
      }
    }
  }
  return bmp;
}

void AlphaFromColor(TBitmap& bitmap) {
  if (bitmap.Format() != TPixelFormat::Bgra32) return;
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* p = bitmap.Row(y);
    for (int x = 0; x < bitmap.Width(); ++x, p += 4) {
      const int b = p[0], g = p[1], r = p[2];
      p[3] = uint8_t(std::max({b, g, r}));
      if (b == g && g == r) {
        p[0] = p[1] = p[2] = 255;
        continue;
      }
      const int64_t m =
          int64_t(255 - std::abs(r - b)) * (255 - std::abs(b - g)) * (255 - std::abs(g - r));
      for (int c = 0; c < 3; ++c) p[c] = uint8_t(p[c] + m * (255 - p[c]) / 16581375);
    }
  }
}

TRef<TBitmap> MakeMaskBitmap(const TImage& picture) {
  // The copy and the level it is made from must fit the picture budget.
  const TPictureBudget& budget = TPictureBudget::Process();
  const int w = picture.Width(), h = picture.Height();
  int level = 0;
  while (!budget.Fits(2 * LevelBytes(w, h, TPixelFormat::Bgra32, level)) &&
         (MipDimension(w, level) > 1 || MipDimension(h, level) > 1))
    ++level;
  TRef<TBitmap> level0 = picture.GetMipLevel(level);
  if (!level0) return nullptr;
  // Always a copy: the level is shared with every other user of the picture.
  TRef<TBitmap> out = ConvertBitmap(*level0, TPixelFormat::Bgra32);
  bool usableAlpha = false;
  if (level0->Format() == TPixelFormat::Bgra32)
    for (int y = 0; y < out->Height() && !usableAlpha; ++y) {
      const uint8_t* p = out->Row(y);
      for (int x = 0; x < out->Width(); ++x)
        if (p[4 * x + 3] != 255) {
          usableAlpha = true;
          break;
        }
    }
  if (!usableAlpha) AlphaFromColor(*out);
  return out;
}

TRef<TBitmap> MakeSizedTextPlaceholder(int w, int h) {
  if (!SideAllowed(w) || !SideAllowed(h)) return nullptr;
  auto bmp = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
  bmp->Fill(170, 170, 170);
  const int frame = std::max(1, int(std::lround(h * 0.02)));
  for (int y = frame; y < h - frame; ++y) {
    uint8_t* row = bmp->Row(y);
    for (int x = frame; x < w - frame; ++x) {
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = 100;
    }
  }
  constexpr std::string_view kText = "Text Zaglushka";
  // The font's cells end in one column and two rows of spacing.
  const int textW = int(kText.size()) * kTinyFontCellWidth - 1;
  const int textH = kTinyFontCellHeight - 2;
  const int scale = int(std::min(w * 0.9 / textW, h * 0.2 / textH));
  if (scale >= 1)
    DrawTinyText(*bmp, (w - textW * scale) / 2, (h - textH * scale) / 2, kText, scale, 170, 170,
                 170);
  return bmp;
}

}  // namespace lum
