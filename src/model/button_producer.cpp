#include "model/button_producer.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "container/file_accessor.h"
#include "document/ini_file.h"
#include "document/ini_values.h"
#include "imaging/bitmap_store.h"
#include "imaging/tiny_font.h"
#include "model/lum_object.h"

namespace lum {

namespace {

constexpr const char* kStateSections[3] = {"NormalState", "HoverState", "ClickState"};
constexpr const char* kPieceKeys[9] = {"LeftTop", "Top",        "RightTop", "Right", "RightBottom",
                                       "Bottom",  "LeftBottom", "Left",     "Center"};
// Composed pictures kept per host before the oldest are dropped.
constexpr size_t kMaxHeldPictures = 256;
constexpr int kMaxShift = 1000;

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  for (size_t at; (at = s.find(sep)) != std::string_view::npos; s.remove_prefix(at + 1))
    out.push_back(s.substr(0, at));
  out.push_back(s);
  return out;
}

// Bilinear sample of channel c at (x, y) in the piece's own coordinates.
double Sample(const TBitmap& src, const TSkinPiece& p, double x, double y, int c) {
  x = std::clamp(x, 0.0, p.width - 1.0), y = std::clamp(y, 0.0, p.height - 1.0);
  const int x0 = int(x), y0 = int(y);
  const int x1 = std::min(x0 + 1, p.width - 1), y1 = std::min(y0 + 1, p.height - 1);
  const double fx = x - x0, fy = y - y0;
  auto at = [&](int xx, int yy) { return src.Row(p.top + yy)[4 * (p.left + xx) + c]; };
  return (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) +
         (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
}

// Scales the piece into the rectangle of dst (nothing for an empty one).
void Place(const TBitmap& src, const TSkinPiece& p, TBitmap& dst, int x0, int y0, int w, int h) {
  if (w <= 0 || h <= 0) return;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = dst.Row(y0 + y) + 4 * x0;
    const double sy = (y + 0.5) * p.height / h - 0.5;
    for (int x = 0; x < w; ++x) {
      const double sx = (x + 0.5) * p.width / w - 0.5;
      for (int c = 0; c < 4; ++c) row[4 * x + c] = uint8_t(std::lround(Sample(src, p, sx, sy, c)));
    }
  }
}

double HueChannel(double p, double q, double t) {
  t -= std::floor(t);
  if (t < 1.0 / 6) return p + (q - p) * 6 * t;
  if (t < 0.5) return q;
  if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
  return p;
}

}  // namespace

TSkinPiece ParseSkinPiece(std::string_view value) {
  TSkinPiece p;
  p.text = std::string(value);
  std::vector<std::string_view> f = Split(value, ',');
  if (f.size() < 5) return p;
  // The name may hold commas; the four numbers are the last fields.
  const size_t n = f.size() - 4;
  p.picture = std::string(value.substr(0, size_t(f[n].data() - value.data()) - 1));
  p.left = ValueToInt(f[n], 0), p.top = ValueToInt(f[n + 1], 0);
  p.width = ValueToInt(f[n + 2], 0), p.height = ValueToInt(f[n + 3], 0);
  return p;
}

int TButtonTheme::BaseWidth() const {
  const auto& n = pieces[0];
  const int64_t w = int64_t(n[kLeftTop].width) + n[kTop].width + n[kRightTop].width;
  return int(std::clamp<int64_t>(w, 0, kMaxSkinSide + 1));
}

int TButtonTheme::BaseHeight() const {
  const auto& n = pieces[0];
  const int64_t h = int64_t(n[kLeftTop].height) + n[kLeft].height + n[kLeftBottom].height;
  return int(std::clamp<int64_t>(h, 0, kMaxSkinSide + 1));
}

TButtonTheme ReadButtonTheme(const TIniFile& ini) {
  TButtonTheme t;
  for (int s = 0; s < 3; ++s)
    for (int k = 0; k < 9; ++k)
      t.pieces[size_t(s)][size_t(k)] =
          ParseSkinPiece(ini.ReadString(kStateSections[s], kPieceKeys[k], ""));
  const TIniList* text = ini.Section("TextParams");
  t.textColor = ReadObjectColor(text, "Color", 0);
  auto finite = [](double v) { return std::isfinite(v) ? float(std::clamp(v, -1e4, 1e4)) : 0.0f; };
  t.btnOffset = finite(ReadFloat(text, "BtnOffset", 0));
  t.btnMinWidth = finite(ReadFloat(text, "BtnMinWidth", 0));
  t.filtering = ReadChoice(text, "Filtering", {"Nearest", "Bilinear", "Default"}, false, 2);
  return t;
}

std::string ButtonPictureName(const TButtonRequest& r) {
  return std::string(kButtonPrefix) + r.theme + ":" + std::to_string(r.state) + ":" +
         std::to_string(r.width) + ":" + std::to_string(r.hue) + ":" +
         std::to_string(r.saturation) + ":" + std::to_string(r.lightness);
}

TButtonRequest ParseButtonPictureName(std::string_view fields) {
  TButtonRequest r;
  std::vector<std::string_view> f = Split(fields, ':');
  if (f.size() < 6) return r;
  const size_t n = f.size() - 5;
  r.theme = std::string(fields.substr(0, size_t(f[n].data() - fields.data()) - 1));
  r.state = std::clamp(ValueToInt(f[n], 0), 0, 2);
  r.width = ValueToInt(f[n + 1], 0);
  r.hue = ValueToInt(f[n + 2], 0);
  r.saturation = ValueToInt(f[n + 3], 0);
  r.lightness = ValueToInt(f[n + 4], 0);
  return r;
}

int ButtonWidth(int skinHeight, double minWidth, double captionRatio, double captionScaleX,
                double offsetX) {
  const double H = skinHeight;
  auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
  const double m = 100 - finite(captionScaleX);
  const double caption =
      (H - std::round(m * H / 100)) * finite(captionRatio) + H * finite(offsetX) / 100;
  const double w = std::max({H, std::round(H * finite(minWidth) / 100), std::round(caption)});
  return int(std::clamp(w, 1.0, double(kMaxSkinSide)));
}

void ShiftHsl(TBitmap& bitmap, int hue, int saturation, int lightness) {
  if ((hue == 0 && saturation == 0 && lightness == 0) || bitmap.Format() != TPixelFormat::Bgra32)
    return;
  const double dh = std::clamp(hue, -kMaxShift, kMaxShift) / 360.0;
  const double ds = std::clamp(saturation, -100, 100) / 100.0;
  const double dl = std::clamp(lightness, -100, 100) / 100.0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* px = bitmap.Row(y);
    for (int x = 0; x < bitmap.Width(); ++x, px += 4) {
      const double b = px[0] / 255.0, g = px[1] / 255.0, r = px[2] / 255.0;
      const double hi = std::max({r, g, b}), lo = std::min({r, g, b});
      double h = 0, s = 0, l = (hi + lo) / 2;
      if (hi > lo) {
        const double d = hi - lo;
        s = l > 0.5 ? d / (2 - hi - lo) : d / (hi + lo);
        h = hi == r ? (g - b) / d + (g < b ? 6 : 0) : hi == g ? (b - r) / d + 2 : (r - g) / d + 4;
        h /= 6;
      }
      h += dh;
      // Shifts move towards the end of the scale by their fraction of the way.
      s = ds >= 0 ? s + (1 - s) * ds : s * (1 + ds);
      l = dl >= 0 ? l + (1 - l) * dl : l * (1 + dl);
      const double q = l < 0.5 ? l * (1 + s) : l + s - l * s, p = 2 * l - q;
      px[2] = uint8_t(std::lround(255 * HueChannel(p, q, h + 1.0 / 3)));
      px[1] = uint8_t(std::lround(255 * HueChannel(p, q, h)));
      px[0] = uint8_t(std::lround(255 * HueChannel(p, q, h - 1.0 / 3)));
    }
  }
}

TRef<TBitmap> SkinMessagePicture(std::string_view words) {
  const int w = std::clamp(TinyTextLength(words) * kTinyFontCellWidth + 4, 8, kMaxSkinSide);
  auto bmp = MakeRef<TBitmap>(w, kTinyFontCellHeight + 4, TPixelFormat::Bgra32);
  bmp->Fill(0, 0, 255);
  DrawTinyText(*bmp, 2, 2, words, 1, 255, 255, 0);
  return bmp;
}

TButtonProducer::TButtonProducer(TRef<TFileAccessor> accessor, std::string skinPath,
                                 std::string theme)
    : accessor_(std::move(accessor)), path_(std::move(skinPath)), theme_(std::move(theme)) {
  if (!accessor_) return;
  try {
    std::unique_ptr<TStream> s = accessor_->OpenMember(path_ + theme_ + "\\btn.ini");
    TIniFile ini;
    if (!s || !ini.Load(*s)) return;
    skin_ = ReadButtonTheme(ini);
    loaded_ = true;
  } catch (const std::exception&) {
    // A damaged skin file counts as missing.
  }
}

TRef<TBitmap> TButtonProducer::Piece(const TSkinPiece& piece) {
  if (piece.picture.empty() || piece.width <= 0 || piece.height <= 0 || piece.left < 0 ||
      piece.top < 0)
    return nullptr;
  auto it = pictures_.find(piece.picture);
  if (it == pictures_.end()) {
    TRef<TImage> image = LoadImageByName(*accessor_, path_ + theme_ + "\\" + piece.picture);
    TRef<TBitmap> bmp = image ? image->GetMipLevel(0, TPixelFormat::Bgra32) : nullptr;
    it = pictures_.emplace(piece.picture, bmp).first;
  }
  const TRef<TBitmap>& bmp = it->second;
  if (!bmp || bmp->Format() != TPixelFormat::Bgra32 ||
      int64_t(piece.left) + piece.width > bmp->Width() ||
      int64_t(piece.top) + piece.height > bmp->Height())
    return nullptr;
  return bmp;
}

TRef<TBitmap> TButtonProducer::Draw(int state, int width, int hue, int saturation, int lightness) {
  if (!loaded_) return nullptr;
  const auto& pieces = skin_.pieces[size_t(std::clamp(state, 0, 2))];
  std::array<TRef<TBitmap>, 9> src;
  for (size_t k = 0; k < 9; ++k) {
    src[k] = Piece(pieces[k]);
    if (!src[k]) return SkinMessagePicture("Incorrect Image: " + pieces[k].text);
  }
  const int W = std::clamp(width, 1, kMaxSkinSide), H = skin_.BaseHeight();
  if (H <= 0 || H > kMaxSkinSide)
    return SkinMessagePicture("Incorrect Image: " + pieces[kLeft].text);
  // Corners keep their size unless the button is narrower or lower than them.
  auto split = [](int total, int64_t a, int64_t b, int& first, int& last) {
    const double k = a + b > total ? double(total) / double(a + b) : 1.0;
    first = int(double(a) * k), last = int(double(b) * k);
  };
  int lw, rw, th, bh;
  split(W, pieces[kLeftTop].width, pieces[kRightTop].width, lw, rw);
  split(H, pieces[kLeftTop].height, pieces[kLeftBottom].height, th, bh);
  const int mw = W - lw - rw, mh = H - th - bh;
  auto bmp = MakeRef<TBitmap>(W, H, TPixelFormat::Bgra32);
  bmp->Fill(0, 0, 0, 0);
  const int xs[3] = {0, lw, lw + mw}, ws[3] = {lw, mw, rw};
  const int ys[3] = {0, th, th + mh}, hs[3] = {th, mh, bh};
  const TSkinPieceIndex grid[3][3] = {
      {kLeftTop, kTop, kRightTop}, {kLeft, kCenter, kRight}, {kLeftBottom, kBottom, kRightBottom}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const TSkinPieceIndex k = grid[r][c];
      Place(*src[size_t(k)], pieces[size_t(k)], *bmp, xs[c], ys[r], ws[c], hs[r]);
    }
  ShiftHsl(*bmp, hue, saturation, lightness);
  return bmp;
}

TButtonProducer* TButtonProducerHost::Load(const std::string& theme) {
  auto it = producers_.find(theme);
  if (it == producers_.end())
    it =
        producers_.emplace(theme, std::make_unique<TButtonProducer>(accessor_, path_, theme)).first;
  return it->second->Loaded() ? it->second.get() : nullptr;
}

TButtonProducer* TButtonProducerHost::Find(const std::string& theme) {
  std::lock_guard<std::mutex> guard(lock_);
  TButtonProducer* p = Load(theme);
  return p ? p : Load(kFallbackTheme);
}

TRef<TImage> TButtonProducerHost::Picture(std::string_view fields) {
  const std::string key(fields);
  TButtonRequest r = ParseButtonPictureName(fields);
  TButtonProducer* producer = Find(r.theme);
  std::lock_guard<std::mutex> guard(lock_);
  auto it = pictures_.find(key);
  if (it != pictures_.end()) return it->second;
  TRef<TBitmap> bmp =
      producer ? producer->Draw(r.state, r.width, r.hue, r.saturation, r.lightness) : nullptr;
  if (!bmp) return nullptr;
  if (pictures_.size() >= kMaxHeldPictures) pictures_.clear();
  TRef<TImage> image = MakeRef<TImage>(MakeRef<TSysBitmapStore>(bmp));
  pictures_.emplace(key, image);
  return image;
}

}  // namespace lum
