#include "engine/stats_overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/lum_engine_parts.h"
#include "text/live_vectorizer.h"
#include "text/text_picture.h"

namespace lum {

namespace {

// Digits keep their columns from one refresh to the next.
constexpr const char* kStatsFont = "Liberation Mono";
constexpr uint8_t kPanelAlpha = 0xB8, kPanelGrey = 0x10 * kPanelAlpha / 255;  // premultiplied
// Tints of the picture's white texel, premultiplied.
constexpr TColor kGuide = 0x80505050, kBar = 0xFF58C878, kSlowBar = 0xFFE85048;
// A bar this many times the span's mean interval is a stutter.
constexpr double kSlowFactor = 1.5;
constexpr double kDisplayFrameMs = 1000.0 / 60;

std::string Format(const char* format, auto... values) {
  char buf[96];
  std::snprintf(buf, sizeof buf, format, values...);
  return buf;
}

double MiB(int64_t bytes) {
  return double(bytes) / (1 << 20);
}

// White text with its coverage as alpha; null when no font could make it.
TRef<TBitmap> TextPicture(const std::vector<std::string>& lines, double em) {
  TVectText text;
  if (!LiveVectorize(kStatsFont, 0, lines, text, TFontCache::Instance())) return nullptr;
  TTextParams params;
  params.font = kStatsFont;
  params.scale = em / kLiveCaptureSize;
  params.align = taLeft;
  params.lines = lines;
  TRef<TTextPictureStore> store = MakeTextPicture(text, params);
  return store ? store->GetMipLevel(0, TPixelFormat::Bgra32) : nullptr;
}

// The panel, premultiplied: the text (white, coverage as alpha) over the dark
// translucent ground, with room for the graph below it; one picture, so that
// the window's pixels under it are blended once, not once per layer. Below the
// panel a row of opaque white, never shown, that the graph's bars are tinted
// from.
TRef<TBitmap> PanelPicture(const TBitmap* text, int pad, int graphH) {
  const int textW = text ? text->Width() : 0, textH = text ? text->Height() : 0;
  const int w = std::max(textW, graphH * 4) + 2 * pad, h = textH + graphH + 3 * pad;
  auto panel = MakeRef<TBitmap>(w, h + 1, TPixelFormat::Bgra32);
  panel->Fill(kPanelGrey, kPanelGrey, kPanelGrey, kPanelAlpha);
  std::fill_n(panel->Row(h), 4 * w, uint8_t(255));
  for (int y = 0; y < textH; ++y) {
    const uint8_t* from = text->Row(y);
    uint8_t* to = panel->Row(y + pad) + 4 * pad;
    for (int x = 0; x < textW; ++x, from += 4, to += 4) {
      // White over the ground.
      const unsigned a = from[3];
      to[0] = to[1] = to[2] = uint8_t(a + kPanelGrey * (255 - a) / 255);
      to[3] = uint8_t(a + kPanelAlpha * (255 - a) / 255);
    }
  }
  return panel;
}

// Frame pixels r showing texture coordinates uv, tinted.
void AddQuad(T3DDrawer& d, const TTexRect& r, TColor c, const TTexRect& uv) {
  const auto u0 = float(uv.left), u1 = float(uv.right), v0 = float(uv.top), v1 = float(uv.bottom);
  d.Screen().Batch().AddQuad(
      d.PixelVertex(r.left, r.top, c, u0, v0), d.PixelVertex(r.right, r.top, c, u1, v0),
      d.PixelVertex(r.right, r.bottom, c, u1, v1), d.PixelVertex(r.left, r.bottom, c, u0, v1));
}

}  // namespace

TPacing PacingOf(const TIntervalHistory& intervals, size_t count) {
  TPacing p;
  double sum = 0;
  for (size_t i = 0; i < count; ++i) {
    sum += intervals[i].ms;
    p.max = std::max(p.max, intervals[i].ms);
  }
  if (count == 0 || sum <= 0) return p;
  p.mean = sum / double(count);
  p.fps = 1000 / p.mean;
  return p;
}

void GraphColumns(const TIntervalHistory& intervals, size_t count, double from,
                  TGraphColumns& out) {
  out.fill(0);
  const double span = kStatsGraphMs / kStatsGraphColumns;
  auto column = [&](double t) {
    return std::clamp(int((t - from) / span), 0, kStatsGraphColumns - 1);
  };
  for (size_t i = 0; i < count; ++i) {
    const TFrameInterval& v = intervals[i];
    // A long interval covers every column of the time it took.
    for (int c = column(v.end - v.ms), last = column(v.end); c <= last; ++c)
      out[c] = std::max(out[c], v.ms);
  }
}

std::vector<std::string> StatsLines(const TStatsFigures& f, const TPacing& p) {
  return {
      p.mean > 0 ? Format("%.1f fps %.1f ms max %.1f", p.fps, p.mean, p.max)
                 : std::string("0 fps (a still frame)"),
      Format("video late %lld dropped %lld/%lld", (long long)f.videoLate, (long long)f.videoSkipped,
             (long long)(f.videoShown + f.videoSkipped)),
      // Rounded first, so that a hair below zero does not read "-0.0".
      Format("A/V %+.1f ms slides %d/%d ahead", std::round(f.audioOffset * 10) / 10 + 0.0,
             f.slidesAhead, f.slidesHeld),
      Format("tex %.1f MiB RSS %.1f MiB", MiB(f.textureBytes), MiB(f.rssBytes)),
  };
}

void TStatsOverlay::ShowFor(double ms) {
  until_ = NowMs() + ms;
}

void TStatsOverlay::Toggle() {
  const bool on = !on_.load();
  on_ = on;
  if (!on) until_ = -1;
}

bool TStatsOverlay::Shown(double now) const {
  return on_.load() || now < until_.load();
}

bool TStatsOverlay::Due(double now) const {
  return now - updated_ >= kStatsRefreshMs;
}

void TStatsOverlay::Update(const TStatsFigures& f, double now) {
  updated_ = now;
  const size_t n = figures_.IntervalsSince(now - kStatsGraphMs, history_);
  lines_ = StatsLines(f, PacingOf(history_, n));
}

void TStatsOverlay::ReleaseTextures(T3DDrawer& drawer) {
  if (picture_) drawer.ReleaseTextures(picture_.Get());
}

void TStatsOverlay::MakePicture(T3DDrawer& drawer, double em) {
  ReleaseTextures(drawer);
  const TRef<TBitmap> text = TextPicture(lines_, em);
  // Tight: on software GL the panel costs what its pixels cost.
  pad_ = int(std::lround(em / 3));
  graphH_ = int(em * 2);
  picture_ = PanelPicture(text.Get(), pad_, graphH_);
  madeLines_ = lines_;
  madeEm_ = em;
}

void TStatsOverlay::DrawOn(T3DDrawer& drawer) {
  if (below_)
    drawer.DrawItem(*below_);
  else
    drawer.DrawBorders();
  const TRect f = drawer.FrameRect();
  if (f.Empty()) return;
  // Legible at any window size, and no larger.
  const double em = std::clamp(std::round(f.Height() / 72.0), 10.0, 24.0);
  if (lines_ != madeLines_ || em != madeEm_) MakePicture(drawer, em);
  TCustomTexture* t = picture_ ? drawer.TextureFor(picture_.Get(), *picture_, false) : nullptr;
  if (!t) return;
  // Drawn texel for pixel; the bars sample the picture's white texel.
  t->nearest = true;
  t->premultiplied = true;
  const int w = picture_->Width(), h = picture_->Height() - 1;
  const double sx = t->ScaleX(), sy = t->ScaleY();
  const TTexRect white{0.5 * sx, (h + 0.5) * sy, 0.5 * sx, (h + 0.5) * sy};
  const TTexRect panel{double(f.left + pad_), double(f.top + pad_), double(f.left + pad_ + w),
                       double(f.top + pad_ + h)};
  T3DScreen& s = drawer.Screen();
  const TRect clip = s.Clip();
  s.SetClip(f);
  // One draw call: on software GL a call costs about as much as the panel's pixels.
  s.Batch().Begin({t});
  AddQuad(drawer, panel, 0xFFFFFFFF, {0, 0, w * sx, h * sy});
  AddGraph(
      drawer,
      {panel.left + pad_, panel.bottom - pad_ - graphH_, panel.right - pad_, panel.bottom - pad_},
      white);
  s.Batch().Flush();
  s.SetClip(clip);
}

void TStatsOverlay::AddGraph(T3DDrawer& drawer, const TTexRect& graph, const TTexRect& white) {
  const double now = NowMs(), from = now - kStatsGraphMs;
  const size_t n = figures_.IntervalsSince(from, history_);
  const double slow = kSlowFactor * PacingOf(history_, n).mean;
  GraphColumns(history_, n, from, columns_);
  const double width = (graph.right - graph.left) / kStatsGraphColumns,
               yScale = (graph.bottom - graph.top) / kStatsGraphTopMs;
  for (int i = 0; i < kStatsGraphColumns; ++i) {
    if (columns_[i] <= 0) continue;
    const double top = graph.bottom - std::min(columns_[i], kStatsGraphTopMs) * yScale;
    AddQuad(drawer, {graph.left + i * width, top, graph.left + (i + 1) * width, graph.bottom},
            columns_[i] > slow ? kSlowBar : kBar, white);
  }
  const double guide = graph.bottom - kDisplayFrameMs * yScale;
  AddQuad(drawer, {graph.left, guide, graph.right, guide + 1}, kGuide, white);
}

}  // namespace lum
