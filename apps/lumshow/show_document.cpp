// The project document of a made show: one slide per picture or video, the
// music as one track laid over the show, the transition catalogue, and key
// frames that let the player's own animation do the slow zoom and pan.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "document/ini_file.h"
#include "foundation/errors.h"
#include "show_maker.h"

namespace lum::lumshow {

namespace {

// Slide times stretched to the music never go below this.
constexpr int64_t kMinFitSlideMs = 2000;
// Longest cross-fade between music items and fade at a cut.
constexpr int64_t kMusicFadeMs = 2000;
// A music list repeated to fill a long show stops after this many items.
constexpr size_t kMaxMusicItems = 20000;
// Design sizes beyond this are refused (the renderer's texture limit).
constexpr int kMaxDesignSide = 16384;

// ---- document text --------------------------------------------------------

// Lines with CR LF ends and the object nesting as indentation; one buffer
// that only grows at its end.
class TDocText {
 public:
  void Line(std::string_view text) {
    Indent();
    buf_.append(text);
    buf_.append(std::string_view("\r\n"));
    ++lines_;
  }
  // key=value, the value formatted straight into the buffer.
  template <typename... A>
  void Key(std::string_view key, fmt::format_string<A...> format, A&&... args) {
    Indent();
    buf_.append(key);
    buf_.push_back('=');
    fmt::format_to(std::back_inserter(buf_), format, std::forward<A>(args)...);
    buf_.append(std::string_view("\r\n"));
    ++lines_;
  }
  void Begin(std::string_view name, std::string_view kind) {
    Line(fmt::format("object {}:{}", name, kind));
    ++depth_;
  }
  void End() {
    --depth_;
    Line("end");
  }
  // A unique object identity within the document.
  std::string Guid() { return fmt::format("{{6C756D73-6E65-7700-0000-{:012X}}}", ++guids_); }
  void Reserve(size_t bytes) { buf_.reserve(bytes); }
  size_t Lines() const { return lines_; }
  size_t Bytes() const { return buf_.size(); }
  std::string Take() { return std::string(buf_.data(), buf_.size()); }

 private:
  void Indent() {
    buf_.append(std::string_view(kSpaces.data(), std::min<size_t>(depth_ * 2, kSpaces.size())));
  }
  static constexpr std::array<char, 32> kSpaces = {
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  fmt::memory_buffer buf_;
  size_t depth_ = 0;
  size_t lines_ = 0;
  uint64_t guids_ = 0;
};

// Document values have no quoting: a line break would start a new key and
// edge blanks are trimmed on reading, so such names cannot be written.
const std::string& CheckedName(const std::string& name) {
  bool bad = name.empty() || uint8_t(name.front()) <= ' ' || uint8_t(name.back()) <= ' ';
  for (char c : name) bad = bad || c == '\r' || c == '\n' || c == '\0';
  if (bad) throw ELumError("cannot store the name \"" + name + "\" in a show document");
  return name;
}

// A text as one value: backslashes doubled, line breaks as \n.
std::string TextValue(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\\n";
    } else if (uint8_t(c) >= ' ' || c == '\t') {
      out += c;
    }
  }
  return out;
}

// A one-line value: control characters become blanks.
std::string PlainValue(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (uint8_t(c) < ' ') c = ' ';
  return out;
}

// The file part of a member name without its extension.
std::string BaseName(std::string_view name) {
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name);
}

// ---- options --------------------------------------------------------------

struct TSize {
  int width = 0, height = 0;
};

TSize ParseSize(const std::string& text) {
  TSize s;
  char x = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%n", &s.width, &x, &s.height, &used) != 3 ||
      size_t(used) != text.size() || (x != 'x' && x != 'X') || s.width < 16 || s.height < 16 ||
      s.width > kMaxDesignSide || s.height > kMaxDesignSide)
    throw ELumError("--size must be WIDTHxHEIGHT, 16 to 16384 each (got \"" + text + "\")");
  return s;
}

// Colour as the document stores it in backgrounds: red in the low byte.
int ParseColour(const std::string& text) {
  struct TNamed {
    const char* name;
    unsigned rgb;
  };
  static constexpr TNamed kNames[] = {{"black", 0x000000}, {"white", 0xFFFFFF}, {"grey", 0x808080},
                                      {"gray", 0x808080},  {"red", 0xFF0000},   {"green", 0x008000},
                                      {"blue", 0x0000FF},  {"navy", 0x000080}};
  std::string lower;
  for (char c : text) lower += char(std::tolower(uint8_t(c)));
  unsigned rgb = 0;
  bool ok = false;
  for (const TNamed& n : kNames)
    if (lower == n.name) rgb = n.rgb, ok = true;
  std::string_view hex(lower);
  if (!ok && !hex.empty() && hex.front() == '#') hex.remove_prefix(1);
  if (!ok && (hex.size() == 6 || hex.size() == 3) &&
      hex.find_first_not_of("0123456789abcdef") == std::string_view::npos) {
    rgb = unsigned(std::stoul(std::string(hex), nullptr, 16));
    if (hex.size() == 3)
      rgb = ((rgb >> 8) & 0xF) * 0x110000 + ((rgb >> 4) & 0xF) * 0x1100 + (rgb & 0xF) * 0x11;
    ok = true;
  }
  if (!ok)
    throw ELumError("--background must be #RRGGBB, #RGB or a colour name (got \"" + text + "\")");
  return int(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

// ---- transitions ----------------------------------------------------------

// One built-in family: its variant flag strings (name and length) and the
// parameters we give it.
struct TFamily {
  const char* name;
  const char* caption;
  int stdidx;
  std::array<const char*, 2> flagKeys;  // "action", "direction" or "checked"
  std::array<int, 2> flagLengths;       // variants = product of the lengths
  const char* params;                   // extra key=value lines, ';' separated
};

// clang-format off
constexpr std::array<TFamily, 11> kFamilies = {{
    {"dissolve", "Dissolve", 2, {"checked", nullptr}, {1, 0}, ""},
    {"hourhand", "Clock", 4, {"action", "direction"}, {2, 9}, "offset=0.1;smoothline=0.35"},
    {"shapes", "Shapes", 5, {"action", "direction"}, {2, 3}, "centerx=50;centery=50;smoothline=0.1"},
    {"gates", "Gates", 6, {"direction", nullptr}, {8, 0}, "smoothline=0.1"},
    {"page", "Page", 7, {"direction", nullptr}, {8, 0}, "smoothline=0.1"},
    {"mosaic", "Mosaic", 8, {"checked", nullptr}, {1, 0}, "cols=16;rows=9;appearence=40"},
    {"push", "Push", 9, {"direction", nullptr}, {4, 0}, ""},
    {"slide", "Slide", 10, {"direction", nullptr}, {4, 0}, ""},
    {"curling", "Page curl", 11, {"action", "direction"}, {2, 8},
     "pipe=0;radius=0.08;3dvolume=0.125;usecolor=0;usevolume=1"},
    {"flip", "Flip", 12, {"direction", nullptr}, {4, 0}, "3dvolume=0.5;nonlinear_speed=1"},
    {"swap", "Swap", 13, {"direction", nullptr}, {4, 0}, "depth=4;distance=1;angle=60"},
}};
// clang-format on

int VariantCount(const TFamily& f) {
  return f.flagLengths[0] * std::max(1, f.flagLengths[1]);
}

void WriteParams(TDocText& doc, const TFamily& f) {
  std::string_view rest(f.params);
  while (!rest.empty()) {
    const size_t end = std::min(rest.find(';'), rest.size());
    doc.Line(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
}

// The flag strings of variant v (-1: every variant on).
void WriteFlags(TDocText& doc, const TFamily& f, int v) {
  const int inner = std::max(1, f.flagLengths[1]);
  const int pick[2] = {v < 0 ? -1 : v / inner, v < 0 ? -1 : v % inner};
  for (int k = 0; k < 2 && f.flagKeys[k]; ++k) {
    std::string flags(size_t(f.flagLengths[k]), '0');
    for (int c = 0; c < f.flagLengths[k]; ++c)
      if (pick[k] < 0 || pick[k] == c) flags[size_t(c)] = '1';
    doc.Key(f.flagKeys[k], "{}", flags);
  }
}

const TFamily* FindFamily(std::string_view name) {
  for (const TFamily& f : kFamilies)
    if (name == f.name) return &f;
  return nullptr;
}

// What each slide's incoming transition is: the rotation, one family with
// its variants in turn, or every family in turn.
class TTransitionPlan {
 public:
  TTransitionPlan(const std::string& mode, int timeMs, uint64_t seed)
      : mode_(mode), timeMs_(timeMs), seed_(seed) {
    if (mode_ == "default" || mode_ == "all") return;
    family_ = FindFamily(mode_);
    if (!family_) {
      std::string names = "default, all";
      for (const TFamily& f : kFamilies) names += std::string(", ") + f.name;
      throw ELumError("unknown transition \"" + mode_ + "\" (known: " + names + ")");
    }
  }

  void WriteCatalogue(TDocText& doc) const {
    doc.Begin("TheEffect", "AnEffect");
    doc.Key("time", "{}", timeMs_);
    doc.Key("custom_count", "0");
    for (const TFamily& f : kFamilies) {
      doc.Begin(f.name, f.name);
      doc.Key("caption", "{}", f.caption);
      doc.Key("key", "{}",
              f.flagKeys[1] ? fmt::format("{},{}", f.flagKeys[0], f.flagKeys[1])
                            : std::string(f.flagKeys[0]));
      WriteFlags(doc, f, -1);
      doc.Key("group", "GroupBasic");
      doc.Key("stdidx", "{}", f.stdidx);
      WriteParams(doc, f);
      doc.End();
    }
    doc.End();
  }

  // Transition of the n-th slide (0-based).
  void WriteSlide(TDocText& doc, size_t n) const {
    doc.Begin("TheEffect", "AnEffect");
    if (mode_ == "default") {
      doc.Key("ref", "default");
    } else {
      const TFamily& f = family_ ? *family_ : kFamilies[n % kFamilies.size()];
      // The seed decides where the run of variants starts.
      const uint64_t turn = (family_ ? n : n / kFamilies.size()) + seed_;
      doc.Key("ref", "{}", f.name);
      doc.Key("time", "{}", timeMs_);
      WriteFlags(doc, f, int(turn % uint64_t(VariantCount(f))));
      WriteParams(doc, f);
    }
    doc.End();
  }

 private:
  std::string mode_;
  int timeMs_;
  uint64_t seed_;
  const TFamily* family_ = nullptr;
};

// ---- motion ---------------------------------------------------------------

// Deterministic numbers for one slide from the seed and the slide's number.
class TSlideRandom {
 public:
  TSlideRandom(uint64_t seed, uint64_t slide) : state_(seed * 0x9E3779B97F4A7C15ull ^ slide) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform(double lo, double hi) {
    return lo + (hi - lo) * double(Next() >> 11) / 9007199254740992.0;
  }
  bool Coin() { return Next() & 1; }

 private:
  uint64_t state_;
};

// One framing of a picture: zoom in percent (100 = the whole screen-shaped
// crop) and pan offsets -100..100.
struct TFraming {
  int zoom = 100, x = 0, y = 0;
};

struct TMotion {
  TFraming from, to;
};

// Pictures much taller than the screen pan vertically, much wider ones
// horizontally; the rest zoom in or out with a gentle drift.
TMotion ChooseMotion(TSlideRandom& rnd, double pictureAspect, double screenAspect) {
  TMotion m;
  const int sign = rnd.Coin() ? 1 : -1;
  if (pictureAspect < screenAspect * 0.8 || pictureAspect > screenAspect * 1.25) {
    const int reach = int(std::lround(rnd.Uniform(60, 90)));
    const int zoom = int(std::lround(rnd.Uniform(100, 108)));
    m.from.zoom = m.to.zoom = zoom;
    int& a = pictureAspect < screenAspect ? m.from.y : m.from.x;
    int& b = pictureAspect < screenAspect ? m.to.y : m.to.x;
    a = -sign * reach;
    b = sign * reach;
    return m;
  }
  TFraming wide, close;
  close.zoom = int(std::lround(rnd.Uniform(115, 130)));
  close.x = int(std::lround(rnd.Uniform(-60, 60)));
  close.y = int(std::lround(rnd.Uniform(-60, 60)));
  wide.x = int(std::lround(rnd.Uniform(-20, 20)));
  wide.y = int(std::lround(rnd.Uniform(-20, 20)));
  m.from = sign > 0 ? wide : close;
  m.to = sign > 0 ? close : wide;
  return m;
}

// EXIF orientation split into what the decoder turns (the document's
// rotation table: 1, 3, 6, 8) and a mirror the object applies.
struct TOrientation {
  int turn = 1;
  bool mirror = false;
  bool swapsSides = false;
};

TOrientation SplitOrientation(int exif) {
  switch (exif) {
    case 2:
      return {1, true, false};
    case 3:
      return {3, false, false};
    case 4:
      return {3, true, false};
    case 5:
      return {6, true, true};
    case 6:
      return {6, false, true};
    case 7:
      return {8, true, true};
    case 8:
      return {8, false, true};
    default:
      return {};
  }
}

// ---- timing ---------------------------------------------------------------

struct TSlide {
  const TMediaItem* item = nullptr;  // none: the title slide
  int64_t lengthMs = 0;
};

// A music item laid on the track.
struct TMusicPiece {
  const TMediaItem* item;
  int64_t durationMs, crossMs, fadeOutMs;
};

// Durations come from file headers: a stranger's number is kept within
// what a show can last, so sums of them cannot overflow.
int64_t HeaderMs(int64_t ms) {
  return std::clamp<int64_t>(ms, 0, INT_MAX);
}

std::vector<const TMediaItem*> MusicItems(const std::vector<TMediaItem>& items) {
  std::vector<const TMediaItem*> music;
  for (const TMediaItem& it : items)
    if (it.kind == TMediaKind::Music && it.durationMs > 0) music.push_back(&it);
  return music;
}

int64_t CrossFade(int64_t a, int64_t b) {
  return std::min({kMusicFadeMs, a / 2, b / 2});
}

// Length of one pass through the music, cross-fades overlapping.
int64_t MusicLength(const std::vector<const TMediaItem*>& music) {
  int64_t total = 0;
  for (size_t i = 0; i < music.size(); ++i) {
    const int64_t ms = HeaderMs(music[i]->durationMs);
    total += ms - (i ? CrossFade(HeaderMs(music[i - 1]->durationMs), ms) : 0);
  }
  return total;
}

// The music repeated as needed to fill the show, the last piece cut at the
// show's end with a fade.
std::vector<TMusicPiece> LayMusic(const std::vector<const TMediaItem*>& music, int64_t showMs) {
  std::vector<TMusicPiece> pieces;
  int64_t end = 0;
  for (size_t i = 0; !music.empty() && end < showMs && pieces.size() < kMaxMusicItems; ++i) {
    const TMediaItem* it = music[i % music.size()];
    const int64_t ms = HeaderMs(it->durationMs);
    const int64_t cross = pieces.empty() ? 0 : CrossFade(pieces.back().durationMs, ms);
    const int64_t start = end - cross;
    TMusicPiece p{it, ms, cross, 0};
    if (start + p.durationMs > showMs) {
      p.durationMs = showMs - start;
      p.fadeOutMs = std::min(kMusicFadeMs, p.durationMs / 2);
    }
    end = start + p.durationMs;
    pieces.push_back(p);
  }
  return pieces;
}

std::vector<TSlide> PlanSlides(const std::vector<TMediaItem>& items, const TNewArgs& args,
                               int64_t musicMs) {
  std::vector<TSlide> slides;
  slides.reserve(items.size() + 1);
  if (!args.title.empty()) slides.push_back({nullptr, args.slideTimeMs});
  for (const TMediaItem& it : items) {
    if (it.kind == TMediaKind::Picture) slides.push_back({&it, args.slideTimeMs});
    // A clip shorter than its transitions still gets room for them.
    if (it.kind == TMediaKind::Video)
      slides.push_back(
          {&it, std::max(HeaderMs(it.durationMs), 2 * int64_t(args.transitionTimeMs) + 500)});
  }
  if (!args.fitMusic) return slides;
  // Stretch the still slides so that the show ends with the music.
  int64_t fixed = 0, still = 0;
  for (const TSlide& s : slides) {
    if (s.item && s.item->kind == TMediaKind::Video)
      fixed += s.lengthMs;
    else
      ++still;
  }
  if (still == 0) return slides;
  const int64_t room = std::clamp<int64_t>(musicMs - fixed, 0, INT_MAX);
  const bool fits = room / still >= kMinFitSlideMs;
  int64_t k = 0;
  for (TSlide& s : slides) {
    if (s.item && s.item->kind == TMediaKind::Video) continue;
    s.lengthMs = fits ? room * (k + 1) / still - room * k / still : kMinFitSlideMs;
    ++k;
  }
  return slides;
}

// ---- sections -------------------------------------------------------------

struct TContext {
  const TNewArgs& args;
  TSize size;
  TTransitionPlan transitions;
  std::vector<TSlide> slides;
  std::vector<TMusicPiece> music;
  int64_t showMs = 0;
};

void WriteMusic(TDocText& doc, const TContext& c) {
  if (c.music.empty()) return;
  doc.Begin("Music", "Music");
  doc.Begin("Options", "TMusicOptions");
  doc.Key("IsRepeat", "0");
  doc.End();
  doc.Begin("Track", "TMusicTrack");
  size_t n = 0;
  for (const TMusicPiece& p : c.music) {
    doc.Begin(fmt::format("Tune{}", ++n), "TMusicItem");
    doc.Key("GUID", "{}", doc.Guid());
    doc.Key("FileName", "{}", CheckedName(p.item->member));
    doc.Key("StartTime", "0");
    doc.Key("Duration", "{}", p.durationMs);
    doc.Key("CrossMode", "{}", p.crossMs > 0 ? 0 : 2);
    doc.Key("Cross", "{}", p.crossMs);
    doc.Key("FadeIn", "0");
    doc.Key("FadeOut", "{}", p.fadeOutMs);
    doc.Key("Volume", "100");
    doc.End();
  }
  doc.End();
  doc.End();
}

void WriteMain(TDocText& doc, const TContext& c) {
  doc.Line("[Main]");
  doc.Key("LumVersion", "5.6");
  doc.Key("MinorVersion", "13");
  doc.Key("projectname", "{}", c.args.title.empty() ? "Slideshow" : PlainValue(c.args.title));
  doc.Key("opt_scr_width", "{}", c.size.width);
  doc.Key("opt_scr_height", "{}", c.size.height);
  doc.Key("opt_scr_full", "1");
  doc.Key("opt_repeat", "{}", c.args.loop ? "repeat" : "stop");
  doc.Key("opt_bstyle", "1");
  doc.Key("opt_bcolor", "{}", ParseColour(c.args.background));
  doc.Key("opt_syncmode", "1");
  WriteMusic(doc, c);
  c.transitions.WriteCatalogue(doc);
}

void WriteTimes(TDocText& doc, const TContext& c) {
  doc.Line("[Times]");
  doc.Key("opt_slidescount", "{}", c.slides.size());
  int64_t end = 0;
  for (size_t i = 0; i < c.slides.size(); ++i) {
    end += c.slides[i].lengthMs;
    doc.Key(fmt::format("opt_synchpos{}", i + 1), "{}", end);
  }
}

// Pictures taken with the camera turned are turned back by the decoder.
void WriteRotations(TDocText& doc, const TContext& c) {
  bool any = false;
  for (const TSlide& s : c.slides) {
    if (!s.item || s.item->kind != TMediaKind::Picture) continue;
    const int turn = SplitOrientation(s.item->orientation).turn;
    if (turn == 1) continue;
    if (!any) doc.Line("[RotationState]");
    any = true;
    doc.Line(fmt::format(";\"{}\"={}", s.item->member, turn));
  }
}

void WriteKeyPoint(TDocText& doc, std::string_view name, std::string_view origin, const TFraming& f,
                   bool mirror, bool framed) {
  doc.Begin(name, "KeyPoint");
  doc.Key("Time", "0");
  doc.Key("Origin", "{}", origin);
  doc.Key("ScaleX", "{}", mirror ? -100 : 100);
  doc.Key("ScaleY", "100");
  if (framed) {
    doc.Key("Zoom", "{}", f.zoom);
    doc.Key("OffsX", "{}", f.x);
    doc.Key("OffsY", "{}", f.y);
  }
  doc.End();
}

void WritePicture(TDocText& doc, const TContext& c, const TMediaItem& it, size_t n) {
  const TOrientation o = SplitOrientation(it.orientation);
  const double w = std::max(1, o.swapsSides ? it.height : it.width);
  const double h = std::max(1, o.swapsSides ? it.width : it.height);
  const double screen = double(c.size.width) / c.size.height;
  doc.Begin("Photo", "Image");
  doc.Key("GUID", "{}", doc.Guid());
  doc.Key("ImageName", "{}", CheckedName(it.member));
  doc.Key("ImageIndex", "0");
  doc.Key("FitMode", "PlaceInto");
  if (c.args.motion) {
    // The picture is cropped to the screen's shape; zoom and pan move the crop.
    TSlideRandom rnd(c.args.seed, n);
    const TMotion m = ChooseMotion(rnd, w / h, screen);
    doc.Key("EnableAspect", "1");
    doc.Key("Aspect", "{:.6f}", screen);
    WriteKeyPoint(doc, "From", "SlideBegin", m.from, o.mirror, true);
    WriteKeyPoint(doc, "To", "SlideEnd", m.to, o.mirror, true);
  } else {
    WriteKeyPoint(doc, "Still", "SlideBegin", {}, o.mirror, false);
  }
  doc.End();
}

void WriteVideo(TDocText& doc, const TMediaItem& it) {
  doc.Begin("Clip", "Video");
  doc.Key("GUID", "{}", doc.Guid());
  doc.Key("FileName", "{}", CheckedName(it.member));
  doc.Key("Duration", "{}", HeaderMs(it.durationMs));
  doc.Key("ImageIndex", "0");
  doc.Key("FitMode", "PlaceInto");
  doc.Begin("Place", "KeyPoint");
  doc.Key("Time", "0");
  doc.End();
  doc.End();
}

// A line of text in the installed sans-serif face over a soft shadow;
// height in percent of the screen, y in percent of half the screen.
void WriteText(TDocText& doc, std::string_view name, std::string_view value, int height, int y,
               bool bold) {
  doc.Begin(name, "Text");
  doc.Key("GUID", "{}", doc.Guid());
  doc.Key("Text", "{}", value);
  doc.Key("TextColor", "255,255,255");
  doc.Key("FontName", "Liberation Sans");
  if (bold) doc.Key("FontStyle", "Bold");
  doc.Key("ShadowEnable", "1");
  doc.Key("ShadowSize", "60");
  doc.Key("ShadowOpacity", "80");
  doc.Key("ShadowDistance", "4");
  doc.Begin("Place", "KeyPoint");
  doc.Key("Time", "0");
  doc.Key("Position", "0,{}", y);
  doc.Key("ScaleX", "{}", height);
  doc.Key("ScaleY", "{}", height);
  doc.End();
  doc.End();
}

std::string_view CaptionMacro(const std::string& captions) {
  if (captions == "name") return "<%MainImg.FileName%>";
  if (captions == "date") return "<%MainImg.Exif.Date%>";
  if (captions == "caption") return "<%MainImg.IPTC.CaptionDescription%>";
  if (captions == "none") return {};
  throw ELumError("--captions must be none, name, date or caption (got \"" + captions + "\")");
}

void WriteSlide(TDocText& doc, const TContext& c, size_t n) {
  const TMediaItem* it = c.slides[n].item;
  doc.Line(fmt::format("[Slide{}]", n + 1));
  doc.Key("slideid", "{}", it ? BaseName(it->member) : "Title");
  if (it && it->kind == TMediaKind::Picture) doc.Key("Picture", "{}", CheckedName(it->member));
  c.transitions.WriteSlide(doc, n);
  doc.Begin("Container", "Root");
  if (!it) {
    WriteText(doc, "Title", TextValue(c.args.title), 10, 0, true);
  } else {
    if (it->kind == TMediaKind::Video)
      WriteVideo(doc, *it);
    else
      WritePicture(doc, c, *it, n);
    const std::string_view macro = CaptionMacro(c.args.captions);
    if (!macro.empty()) WriteText(doc, "Caption", macro, 5, 86, false);
  }
  doc.End();
}

void CheckArgs(const TNewArgs& args) {
  if (args.slideTimeMs < 100 || args.slideTimeMs > 86400000)
    throw ELumError("--slide-time must be 100 to 86400000 ms");
  if (args.transitionTimeMs < 0 || args.transitionTimeMs > args.slideTimeMs)
    throw ELumError("--transition-time must be 0 to the slide time");
  CaptionMacro(args.captions);
  ParseColour(args.background);
}

}  // namespace

std::string BuildShowDocument(const std::vector<TMediaItem>& items, const TNewArgs& args) {
  CheckArgs(args);
  const std::vector<const TMediaItem*> music = MusicItems(items);
  if (args.fitMusic && music.empty()) throw ELumError("--fit-music needs music");
  TContext c{args,
             ParseSize(args.size),
             TTransitionPlan(args.transition, args.transitionTimeMs, args.seed),
             PlanSlides(items, args, MusicLength(music)),
             {},
             0};
  if (c.slides.empty() || (c.slides.size() == 1 && !args.title.empty()))
    throw ELumError("no pictures or videos to show");
  for (const TSlide& s : c.slides) c.showMs += s.lengthMs;
  // Slide end times are stored as 32-bit milliseconds.
  if (c.showMs > INT_MAX) throw ELumError("the show would be longer than 596 hours");
  c.music = LayMusic(music, c.showMs);

  TDocText doc;
  doc.Reserve(2048 + c.slides.size() * 1200 + c.music.size() * 300);
  doc.Line("\xEF\xBB\xBF; Made by lumshow new from photos, videos and music.");
  WriteMain(doc, c);
  WriteTimes(doc, c);
  WriteRotations(doc, c);
  for (size_t n = 0; n < c.slides.size(); ++n) WriteSlide(doc, c, n);
  // A document the player would refuse to read is no show.
  if (doc.Lines() > kMaxDocumentLines || doc.Bytes() >= size_t(kMaxDocumentSize))
    throw ELumError(
        fmt::format("{} slides are more than one show document can hold", c.slides.size()));
  return doc.Take();
}

}  // namespace lum::lumshow
