#include "text/live_vectorizer.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "foundation/log.h"
#include "foundation/utf.h"
#include "text/text_params.h"
#include "text/vect_text_io.h"

namespace lum {
namespace {

// FreeType faces, HarfBuzz fonts over them and fontconfig are only used under it.
std::mutex gLock;

// Sorted font lists and open faces are kept between texts; past these
// counts they are dropped (at the start of a text, when nothing uses them).
constexpr size_t kMaxLists = 64, kMaxFaces = 64;
// Fallback candidates considered per font and style.
constexpr size_t kMaxCandidates = 256;
// Code points of a cluster a fallback face must cover.
constexpr size_t kMaxClusterCheck = 16;

void LogLine(const std::string& text) {
  Log().Line("live text: " + text);
}

// A face as fontconfig hands it out: file, index and the synthetic styling
// it asks for.
struct TFaceId {
  std::string file;
  int index = 0;
  bool embolden = false;
  FcMatrix matrix{1, 0, 0, 1};

  bool operator==(const TFaceId& o) const {
    return file == o.file && index == o.index && embolden == o.embolden &&
           matrix.xx == o.matrix.xx && matrix.xy == o.matrix.xy && matrix.yx == o.matrix.yx &&
           matrix.yy == o.matrix.yy;
  }
  bool Transformed() const {
    return matrix.xx != 1 || matrix.xy != 0 || matrix.yx != 0 || matrix.yy != 1;
  }
  std::string Key() const {
    char m[128];
    snprintf(m, sizeof m, "|%d|%d|%g|%g|%g|%g", index, int(embolden), matrix.xx, matrix.xy,
             matrix.yx, matrix.yy);
    return file + m;
  }
};

struct TCandidate {
  TFaceId id;
  std::vector<std::string> families;
  std::string postscript;
  FcCharSet* charset = nullptr;  // owned reference
};

// A font name and style resolved by fontconfig: the best face first, then
// the faces that cover what it lacks.
struct TFontList {
  std::vector<TCandidate> fonts;
  TFontList() = default;
  TFontList(const TFontList&) = delete;
  TFontList& operator=(const TFontList&) = delete;
  ~TFontList() {
    for (TCandidate& c : fonts)
      if (c.charset) FcCharSetDestroy(c.charset);
  }
};

struct TFace {
  FT_Face face = nullptr;
  hb_font_t* hb = nullptr;
  TFaceId id;
  int32_t ascent = 0, descent = 0;  // pixels at the capture size
  FT_Pos emboldenStrength = 0;      // 26.6; added to every advance when emboldened
  TFace() = default;
  TFace(const TFace&) = delete;
  TFace& operator=(const TFace&) = delete;
  ~TFace() {
    if (hb) hb_font_destroy(hb);
    if (face) FT_Done_Face(face);
  }
};

FcPattern* Query(const std::string& family, int style) {
  FcPattern* p = FcPatternCreate();
  if (!family.empty())
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(p, FC_WEIGHT, style & tsBold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(p, FC_SLANT, style & tsItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  return p;
}

// A rendered pattern as a candidate; false for faces without outlines.
bool ToCandidate(FcPattern* r, int style, TCandidate& c) {
  FcBool outline = FcFalse;
  FcChar8* file = nullptr;
  if (FcPatternGetBool(r, FC_OUTLINE, 0, &outline) != FcResultMatch || !outline) return false;
  if (FcPatternGetString(r, FC_FILE, 0, &file) != FcResultMatch) return false;
  c.id.file = reinterpret_cast<const char*>(file);
  FcPatternGetInteger(r, FC_INDEX, 0, &c.id.index);
  FcBool embolden = FcFalse;
  FcPatternGetBool(r, FC_EMBOLDEN, 0, &embolden);
  FcMatrix* m = nullptr;
  if (FcPatternGetMatrix(r, FC_MATRIX, 0, &m) == FcResultMatch && m) c.id.matrix = *m;
  // Without the usual synthetic rules in the configuration, style the face ourselves.
  int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(r, FC_WEIGHT, 0, &weight);
  FcPatternGetInteger(r, FC_SLANT, 0, &slant);
  c.id.embolden = embolden || ((style & tsBold) && weight < FC_WEIGHT_DEMIBOLD);
  if ((style & tsItalic) && slant == FC_SLANT_ROMAN && !c.id.Transformed())
    c.id.matrix = FcMatrix{1, 0.2, 0, 1};
  FcChar8* s = nullptr;
  for (int i = 0; FcPatternGetString(r, FC_FAMILY, i, &s) == FcResultMatch; ++i)
    c.families.emplace_back(reinterpret_cast<const char*>(s));
  if (FcPatternGetString(r, FC_POSTSCRIPT_NAME, 0, &s) == FcResultMatch)
    c.postscript = reinterpret_cast<const char*>(s);
  FcCharSet* cs = nullptr;
  if (FcPatternGetCharSet(r, FC_CHARSET, 0, &cs) == FcResultMatch && cs)
    c.charset = FcCharSetCopy(cs);
  return true;
}

// Family names compare as fontconfig compares them: blanks and ASCII case ignored.
bool SameFamily(const std::string& a, const std::string& b) {
  auto squeeze = [](const std::string& s) {
    std::string out;
    for (char c : s)
      if (c != ' ') out.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
    return out;
  };
  return squeeze(a) == squeeze(b);
}

class TEngine {
 public:
  // Null when FreeType or fontconfig cannot start, and after exit began. Under gLock.
  static TEngine* Get() {
    static bool started = false;
    if (!started) {
      started = true;
      auto* e = new TEngine;
      if (FT_Init_FreeType(&e->lib_) != 0 || !FcInit()) {
        LogLine("FreeType or fontconfig did not start");
        return nullptr;
      }
      engine_ = e;
      // fontconfig keeps its configuration where leak checkers cannot see
      // it; give everything back at exit (texts still being made then fail).
      atexit(Shutdown);
    }
    return engine_;
  }

  static void Shutdown() {
    std::lock_guard<std::mutex> guard(gLock);
    if (!engine_) return;
    engine_->lists_.clear();
    engine_->faces_.clear();
    FT_Done_FreeType(engine_->lib_);
    delete engine_;
    engine_ = nullptr;
    FcFini();
  }

  void Trim() {
    if (lists_.size() > kMaxLists) lists_.clear();
    if (faces_.size() > kMaxFaces) faces_.clear();
  }

  const TFontList& List(const std::string& family, int style) {
    std::string key = family + '\n' + std::to_string(style & (tsBold | tsItalic));
    std::unique_ptr<TFontList>& list = lists_[key];
    if (list) return *list;
    list = std::make_unique<TFontList>();
    FcPattern* q = Query(family, style);
    FcResult result;
    if (FcFontSet* set = FcFontSort(nullptr, q, FcTrue, nullptr, &result)) {
      for (int i = 0; i < set->nfont && list->fonts.size() < kMaxCandidates; ++i) {
        FcPattern* r = FcFontRenderPrepare(nullptr, q, set->fonts[i]);
        if (!r) continue;
        TCandidate c;
        if (ToCandidate(r, style, c)) list->fonts.push_back(std::move(c));
        FcPatternDestroy(r);
      }
      FcFontSetDestroy(set);
    }
    FcPatternDestroy(q);
    return *list;
  }

  // The open face of a candidate; null when FreeType cannot use it.
  TFace* Face(const TFaceId& id) {
    std::unique_ptr<TFace>& f = faces_[id.Key()];
    if (f) return f->face ? f.get() : nullptr;
    f = std::make_unique<TFace>();
    f->id = id;
    FT_Face face = nullptr;
    if (FT_New_Face(lib_, id.file.c_str(), id.index, &face) != 0) return nullptr;
    f->face = face;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0 ||
        FT_Set_Pixel_Sizes(face, 0, FT_UInt(kLiveCaptureSize)) != 0) {
      FT_Done_Face(face);
      f->face = nullptr;
      return nullptr;
    }
    f->hb = hb_ft_font_create_referenced(face);
    hb_ft_font_set_load_flags(f->hb, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);
    f->ascent = int32_t(std::ceil(face->size->metrics.ascender / 64.0));
    f->descent = int32_t(std::ceil(-face->size->metrics.descender / 64.0));
    // The strength FreeType's own emboldening uses.
    if (id.embolden)
      f->emboldenStrength = FT_MulFix(face->units_per_EM, face->size->metrics.y_scale) / 24;
    return f.get();
  }

  // The first candidate of a list that FreeType can open; -1 when none.
  int Primary(const TFontList& list) {
    for (size_t i = 0; i < list.fonts.size(); ++i)
      if (Face(list.fonts[i].id)) return int(i);
    return -1;
  }

  // The font name under which a candidate's glyphs are cached: a name that
  // resolves back to this very face, so that a key always means one face.
  std::string KeyName(const TFontList& list, int pos, bool primary, const std::string& requested,
                      int style) {
    const TCandidate& c = list.fonts[size_t(pos)];
    if (primary)
      for (const std::string& f : c.families)
        if (SameFamily(f, requested)) return requested;
    for (const std::string& f : c.families) {
      const TFontList& other = List(f, style);
      int p = Primary(other);
      if (p >= 0 && other.fonts[size_t(p)].id == c.id) return f;
    }
    if (!c.postscript.empty()) return c.postscript;
    return c.id.file + "#" + std::to_string(c.id.index);
  }

 private:
  static inline TEngine* engine_ = nullptr;
  FT_Library lib_ = nullptr;
  std::map<std::string, std::unique_ptr<TFontList>> lists_;
  std::map<std::string, std::unique_ptr<TFace>> faces_;
};

struct TShaped {
  int cand = 0;  // position in the font list
  uint32_t index = 0;
  uint32_t cluster = 0;             // byte offset of the cluster in the line
  int32_t advance = 0, offset = 0;  // 26.6
};

std::vector<char32_t> CodePoints(const std::string& s, size_t from, size_t to, size_t max) {
  std::vector<char32_t> out;
  hb_buffer_t* b = hb_buffer_create();
  hb_buffer_add_utf8(b, s.data() + from, int(to - from), 0, int(to - from));
  unsigned n = 0;
  hb_glyph_info_t* info = hb_buffer_get_glyph_infos(b, &n);
  for (unsigned i = 0; i < n && out.size() < max; ++i) out.push_back(info[i].codepoint);
  hb_buffer_destroy(b);
  return out;
}

class TShaper {
 public:
  TShaper(TEngine& engine, const TFontList& list, const std::string& line,
          const hb_segment_properties_t& props)
      : engine_(engine), list_(list), line_(line), props_(props) {}

  // Shapes [start, end) of the line with candidate pos; runs of clusters the
  // face lacks go to the next candidate that has them. Each level of
  // recursion moves further down the list, so it ends.
  void Shape(int pos, size_t start, size_t end, std::vector<TShaped>& out) {
    TFace* face = engine_.Face(list_.fonts[size_t(pos)].id);
    if (!face) return;  // callers only pass faces that opened
    std::vector<TShaped> g;
    hb_buffer_t* buf = hb_buffer_create();
    hb_buffer_add_utf8(buf, line_.data(), int(line_.size()), unsigned(start), int(end - start));
    hb_buffer_set_segment_properties(buf, &props_);
    int flags = HB_BUFFER_FLAG_REMOVE_DEFAULT_IGNORABLES;
    if (start == 0) flags |= HB_BUFFER_FLAG_BOT;
    if (end == line_.size()) flags |= HB_BUFFER_FLAG_EOT;
    hb_buffer_set_flags(buf, hb_buffer_flags_t(flags));
    hb_shape(face->hb, buf, nullptr, 0);
    unsigned n = 0;
    hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf, &n);
    hb_glyph_position_t* at = hb_buffer_get_glyph_positions(buf, &n);
    g.reserve(n);
    for (unsigned i = 0; i < n; ++i)
      g.push_back({pos, info[i].codepoint, info[i].cluster, at[i].x_advance, at[i].x_offset});
    hb_buffer_destroy(buf);

    // Clusters come out in visual order: monotonic for one direction.
    size_t i = 0;
    while (i < g.size()) {
      size_t j = ClusterEnd(g, i);
      if (!Missing(g, i, j)) {
        out.insert(out.end(), g.begin() + i, g.begin() + j);
        i = j;
        continue;
      }
      size_t k = j;
      uint32_t lo = g[i].cluster, hi = g[i].cluster;
      while (k < g.size()) {
        size_t m = ClusterEnd(g, k);
        if (!Missing(g, k, m)) break;
        lo = std::min(lo, g[k].cluster);
        hi = std::max(hi, g[k].cluster);
        k = m;
      }
      // Where the run and its first cluster end in the text: the nearest
      // larger cluster, inside the run or next to it (clusters are monotonic,
      // so looking at the run and its two neighbours keeps this linear).
      size_t runEnd = end, firstEnd = end;
      auto consider = [&](uint32_t c) {
        if (c > hi) runEnd = std::min<size_t>(runEnd, c);
        if (c > lo) firstEnd = std::min<size_t>(firstEnd, c);
      };
      for (size_t t = i; t < k; ++t) consider(g[t].cluster);
      if (i > 0) consider(g[i - 1].cluster);
      if (k < g.size()) consider(g[k].cluster);
      int next = Fallback(pos + 1, lo, firstEnd);
      if (next >= 0) {
        Shape(next, lo, runEnd, out);
      } else {
        out.insert(out.end(), g.begin() + i, g.begin() + k);  // nobody has it: the face's own
      }
      i = k;
    }
  }

 private:
  static size_t ClusterEnd(const std::vector<TShaped>& g, size_t i) {
    size_t j = i;
    while (j < g.size() && g[j].cluster == g[i].cluster) ++j;
    return j;
  }
  static bool Missing(const std::vector<TShaped>& g, size_t i, size_t j) {
    for (; i < j; ++i)
      if (g[i].index == 0) return true;
    return false;
  }

  // The first candidate from `from` on that has every code point of the
  // cluster [start, end), else one that has its first; -1 when none.
  int Fallback(int from, size_t start, size_t end) {
    std::vector<char32_t> cps = CodePoints(line_, start, end, kMaxClusterCheck);
    if (cps.empty()) return -1;
    // Lines repeat their characters: each cluster is looked up once.
    if (memo_.size() > 4096) memo_.clear();
    auto [memo, fresh] = memo_.try_emplace({from, std::u32string(cps.begin(), cps.end())}, -1);
    if (!fresh) return memo->second;
    memo->second = Search(from, cps);
    return memo->second;
  }

  int Search(int from, const std::vector<char32_t>& cps) {
    for (size_t need : {cps.size(), size_t(1)}) {
      for (size_t q = size_t(from); q < list_.fonts.size(); ++q) {
        const TCandidate& c = list_.fonts[q];
        bool covered = c.charset != nullptr;
        for (size_t k = 0; covered && k < need; ++k) covered = FcCharSetHasChar(c.charset, cps[k]);
        if (!covered) continue;
        TFace* f = engine_.Face(c.id);
        for (size_t k = 0; f && k < need; ++k)
          if (FT_Get_Char_Index(f->face, cps[k]) == 0) f = nullptr;
        if (f) return int(q);
      }
    }
    return -1;
  }

  TEngine& engine_;
  const TFontList& list_;
  const std::string& line_;
  hb_segment_properties_t props_;
  std::map<std::pair<int, std::u32string>, int> memo_;
};

// Outline decomposition into path commands: y downwards, pixels.
struct TPathSink {
  std::vector<TGlyphPoint>& pts;
  bool open = false;
  float startX = 0, startY = 0;

  void Add(const FT_Vector* v, int32_t command) {
    pts.push_back({float(v->x / 64.0), float(-v->y / 64.0), command});
  }
  void Close() {
    if (open) pts.push_back({startX, startY, pcClose});
    open = false;
  }
  static TPathSink& Of(void* user) { return *static_cast<TPathSink*>(user); }
  static int MoveTo(const FT_Vector* to, void* user) {
    TPathSink& s = Of(user);
    s.Close();
    s.Add(to, pcMoveTo);
    s.startX = s.pts.back().x;
    s.startY = s.pts.back().y;
    s.open = true;
    return 0;
  }
  static int LineTo(const FT_Vector* to, void* user) {
    Of(user).Add(to, pcLineTo);
    return 0;
  }
  static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    Of(user).Add(control, pcQuadTo);
    Of(user).Add(to, pcQuadTo);
    return 0;
  }
  static int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    Of(user).Add(c1, pcCubicTo);
    Of(user).Add(c2, pcCubicTo);
    Of(user).Add(to, pcCubicTo);
    return 0;
  }
};

TGlyphOutline MakeOutline(const TFace& f, uint32_t index) {
  TGlyphOutline g;
  g.index = uint16_t(index);
  g.ascent = f.ascent;
  g.descent = f.descent;
  g.captureSize = kLiveCaptureSize;
  FT_Face face = f.face;
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_NO_AUTOHINT) != 0)
    return g;
  FT_GlyphSlot slot = face->glyph;
  FT_Pos advance = (slot->linearHoriAdvance >> 10) + f.emboldenStrength;  // 16.16 -> 26.6
  FT_BBox box{0, 0, 0, 0};
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE && slot->outline.n_points > 0) {
    FT_Outline* o = &slot->outline;
    if (f.id.embolden) FT_Outline_EmboldenXY(o, f.emboldenStrength, f.emboldenStrength);
    if (f.id.Transformed()) {
      FT_Matrix m{FT_Fixed(f.id.matrix.xx * 65536), FT_Fixed(f.id.matrix.xy * 65536),
                  FT_Fixed(f.id.matrix.yx * 65536), FT_Fixed(f.id.matrix.yy * 65536)};
      FT_Outline_Transform(o, &m);
    }
    FT_Outline_Get_BBox(o, &box);
    TPathSink sink{g.points};
    FT_Outline_Funcs funcs{
        &TPathSink::MoveTo, &TPathSink::LineTo, &TPathSink::ConicTo, &TPathSink::CubicTo, 0, 0};
    if (FT_Outline_Decompose(o, &funcs, &sink) != 0) {
      g.points.clear();
    } else {
      sink.Close();
    }
  }
  int32_t adv = int32_t(std::lround(advance / 64.0));
  if (g.points.empty()) {
    g.c = adv;
  } else {
    g.a = int32_t(std::floor(box.xMin / 64.0));
    int32_t right = int32_t(std::ceil(box.xMax / 64.0));
    g.b = right - g.a;
    g.c = adv - right;
  }
  return g;
}

// Underline and strike-out middles (y up) and thicknesses, pixels at the capture size.
void FaceMetrics(const TFace& f, float metrics[4]) {
  FT_Face face = f.face;
  double em = face->units_per_EM, k = kLiveCaptureSize / em;
  // FreeType gives the underline's middle already.
  double underline = face->underline_position, uThick = face->underline_thickness;
  if (uThick <= 0) {
    uThick = em / 20;
    underline = -em / 10;
  }
  double strike = 0, sThick = 0;
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
    sThick = os2->yStrikeoutSize;
    strike = os2->yStrikeoutPosition - sThick / 2;  // the table gives the bar's top
  } else {
    sThick = uThick;
    strike = os2 && os2->version != 0xFFFF && os2->version >= 2 && os2->sxHeight > 0
                 ? os2->sxHeight / 2.0
                 : em / 4;
  }
  metrics[0] = float(underline * k);
  metrics[1] = float(uThick * k);
  metrics[2] = float(strike * k);
  metrics[3] = float(sThick * k);
}

// A stretch of a line in one writing direction, byte offsets.
struct TDirectionRun {
  size_t start = 0, end = 0;
  hb_direction_t direction = HB_DIRECTION_LTR;
};

// A two-level approximation of the bidirectional algorithm, enough for
// right-to-left text with Latin words and numbers in it: letters take their
// script's direction, digits read left to right, marks follow their base,
// other characters take the direction around them when both sides agree and
// the line's (its first strong letter's) otherwise. Runs come in visual order.
std::vector<TDirectionRun> VisualRuns(const std::string& line) {
  enum : uint8_t { kNeutral, kLtr, kRtl, kMark };
  hb_unicode_funcs_t* uf = hb_unicode_funcs_get_default();
  std::vector<size_t> offsets;
  std::vector<uint8_t> cls;
  for (size_t i = 0; i < line.size();) {
    offsets.push_back(i);
    char32_t cp = DecodeUtf8(line, i);
    hb_unicode_general_category_t cat = hb_unicode_general_category(uf, cp);
    hb_direction_t d = hb_script_get_horizontal_direction(hb_unicode_script(uf, cp));
    if (cat == HB_UNICODE_GENERAL_CATEGORY_DECIMAL_NUMBER || d == HB_DIRECTION_LTR)
      cls.push_back(kLtr);
    else if (d == HB_DIRECTION_RTL)
      cls.push_back(kRtl);
    else if (cat == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
             cat == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
             cat == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK)
      cls.push_back(kMark);
    else
      cls.push_back(kNeutral);
  }
  offsets.push_back(line.size());
  uint8_t paragraph = kLtr;
  for (uint8_t c : cls)
    if (c == kLtr || c == kRtl) {
      paragraph = c;
      break;
    }
  size_t n = cls.size();
  for (size_t i = 0; i < n;) {
    if (cls[i] == kLtr || cls[i] == kRtl) {
      ++i;
      continue;
    }
    if (cls[i] == kMark) {
      cls[i] = i > 0 ? cls[i - 1] : paragraph;
      ++i;
      continue;
    }
    // Neutrals and the marks on them resolve together.
    size_t j = i;
    while (j < n && (cls[j] == kNeutral || cls[j] == kMark)) ++j;
    uint8_t before = i > 0 ? cls[i - 1] : paragraph;
    uint8_t after = j < n ? cls[j] : paragraph;
    uint8_t resolved = before == after ? before : paragraph;
    for (size_t m = i; m < j; ++m) cls[m] = resolved;
    i = j;
  }
  std::vector<TDirectionRun> runs;
  for (size_t i = 0; i < n;) {
    size_t j = i;
    while (j < n && cls[j] == cls[i]) ++j;
    runs.push_back({offsets[i], offsets[j], cls[i] == kRtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR});
    i = j;
  }
  if (paragraph == kRtl) std::reverse(runs.begin(), runs.end());
  return runs;
}

size_t CountCodePoints(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += (uint8_t(c) & 0xC0) != 0x80;
  return n;
}

// The engine, the faces fontconfig lists for a font and style, and the first
// usable one; false when there is none. Runs under gLock.
bool FindPrimary(const std::string& font, int style, TEngine*& engine, const TFontList*& list,
                 int& primary) {
  engine = TEngine::Get();
  if (!engine) return false;
  engine->Trim();
  list = &engine->List(font, style);
  primary = engine->Primary(*list);
  return primary >= 0;
}

}  // namespace

bool LiveVectorize(const std::string& font, int style, const std::vector<std::string>& lines,
                   TVectText& out, TFontCache& cache) {
  out = TVectText();
  if (lines.size() > size_t(kMaxTextLines)) {
    LogLine("refused: " + std::to_string(lines.size()) + " lines");
    return false;
  }
  size_t chars = 0;
  for (const std::string& line : lines) chars += CountCodePoints(line);
  if (chars > size_t(kMaxTextGlyphs)) {
    LogLine("refused: " + std::to_string(chars) + " characters");
    return false;
  }

  std::lock_guard<std::mutex> guard(gLock);
  TEngine* engine = nullptr;
  const TFontList* fonts = nullptr;
  int primary = -1;
  if (!FindPrimary(font, style, engine, fonts, primary)) {
    LogLine("no usable font for \"" + font + "\"");
    return false;
  }
  const TFontList& list = *fonts;
  const TFace& face = *engine->Face(list.fonts[size_t(primary)].id);
  out.ascent = face.ascent;
  out.descent = face.descent;
  FaceMetrics(face, out.metrics);

  // By candidate, filled as glyphs of a candidate turn up.
  std::vector<TFace*> faces(list.fonts.size());
  std::vector<std::string> keys(list.fonts.size());
  std::set<std::pair<int, uint32_t>> seen;
  for (const std::string& line : lines) {
    std::vector<TPlacedGlyph>& placed = out.lines.emplace_back();
    if (line.empty()) continue;
    std::vector<TShaped> glyphs;
    for (const TDirectionRun& run : VisualRuns(line)) {
      hb_buffer_t* probe = hb_buffer_create();
      hb_buffer_add_utf8(probe, line.data() + run.start, int(run.end - run.start), 0,
                         int(run.end - run.start));
      hb_buffer_guess_segment_properties(probe);
      hb_segment_properties_t props;
      hb_buffer_get_segment_properties(probe, &props);
      hb_buffer_destroy(probe);
      props.direction = run.direction;
      TShaper(*engine, list, line, props).Shape(primary, run.start, run.end, glyphs);
    }
    int64_t pen = 0;  // 26.6
    placed.reserve(glyphs.size());
    for (const TShaped& g : glyphs) {
      size_t c = size_t(g.cand);
      if (!faces[c]) {
        faces[c] = engine->Face(list.fonts[c].id);
        keys[c] =
            GlyphCacheKey(engine->KeyName(list, g.cand, g.cand == primary, font, style), style);
      }
      TFace* f = faces[c];
      const std::string& key = keys[c];
      placed.push_back({int32_t(std::llround((pen + g.offset) / 64.0)), kLiveCaptureSize,
                        uint16_t(g.index), key});
      pen += g.advance + (g.advance != 0 ? f->emboldenStrength : 0);
      if (seen.insert({g.cand, g.index}).second && !cache.HasGlyph(key, uint16_t(g.index)))
        cache.AddGlyph(key, MakeOutline(*f, g.index));
    }
  }
  return true;
}

TLiveVectorizer MakeLiveVectorizer() {
  return
      [](const std::string& font, int style, const std::vector<std::string>& lines,
         TVectText& out) { return LiveVectorize(font, style, lines, out, TFontCache::Instance()); };
}

bool ResolveLiveFont(const std::string& font, int style, TLiveFont& out) {
  std::lock_guard<std::mutex> guard(gLock);
  TEngine* engine = nullptr;
  const TFontList* fonts = nullptr;
  int primary = -1;
  if (!FindPrimary(font, style, engine, fonts, primary)) return false;
  const TFontList& list = *fonts;
  const TCandidate& c = list.fonts[size_t(primary)];
  out = TLiveFont();
  out.file = c.id.file;
  out.faceIndex = c.id.index;
  out.family = c.families.empty() ? std::string() : c.families[0];
  for (const std::string& f : c.families)
    out.requestedFound = out.requestedFound || SameFamily(f, font);
  out.keyName = engine->KeyName(list, primary, true, font, style);
  out.syntheticBold = c.id.embolden;
  out.syntheticItalic = c.id.Transformed();
  return true;
}

}  // namespace lum
