#include "text/text_params.h"

#include <utf8proc.h>

#include <cmath>
#include <mutex>

#include <fmt/format.h>

#include "document/ini_values.h"
#include "foundation/utf.h"

namespace lum {

namespace {

std::mutex& DefaultsLock() {
  static std::mutex lock;
  return lock;
}

TTextParams& Defaults() {
  static TTextParams params = [] {
    TTextParams p;
    p.font = "Arial";
    return p;
  }();
  return params;
}

constexpr std::string_view kStyleNames[] = {"Bold", "Italic", "Underline", "StrikeOut"};

bool AsciiEqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// True when the code point at s[i] changes under lower-casing; advances i
// past it and reports its bytes.
bool NextChangesCase(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    return c >= 'A' && c <= 'Z';
  }
  size_t start = i;
  char32_t cp = DecodeUtf8(s, i);
  if (cp == 0xFFFD && i == start + 1) return false;  // malformed byte: kept, never a capital
  return utf8proc_tolower(utf8proc_int32_t(cp)) != utf8proc_int32_t(cp);
}

struct TDescriptionFields {
  std::string_view fields[8];
  std::string_view lines;
  int count = 0;  // fields present, lines included (0..9)
};

TDescriptionFields SplitDescription(std::string_view d) {
  if (d.substr(0, kTextPrefix.size()) == kTextPrefix) d.remove_prefix(kTextPrefix.size());
  TDescriptionFields f;
  for (int k = 0; k < 8; ++k) {
    size_t colon = d.find(':');
    if (colon == std::string_view::npos) {
      if (!d.empty() || k > 0) f.fields[f.count++] = d;
      return f;
    }
    f.fields[f.count++] = d.substr(0, colon);
    d.remove_prefix(colon + 1);
  }
  f.lines = d;
  f.count = 9;
  return f;
}

double ReadReal(std::string_view v, double def) {
  double r = ValueToFloat(Trim(v), def);
  return std::isfinite(r) ? r : def;
}

}  // namespace

TTextParams DefaultTextParams() {
  std::lock_guard<std::mutex> guard(DefaultsLock());
  return Defaults();
}

void SetDefaultTextParams(const TTextParams& params) {
  std::lock_guard<std::mutex> guard(DefaultsLock());
  Defaults() = params;
}

std::string FormatTextNumber(double value, int decimals) {
  if (!std::isfinite(value)) return "0";
  std::string s = fmt::format("{:.{}f}", value, decimals);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string StyleField(int style) {
  std::string out;
  for (int k = 0; k < 4; ++k) {
    if (!(style & (1 << k))) continue;
    if (!out.empty()) out += ',';
    out += kStyleNames[k];
  }
  return out;
}

int ParseStyleField(std::string_view field) {
  int style = 0;
  for (const std::string& word : SplitValue(field, ',')) {
    std::string_view w = Trim(word);
    for (int k = 0; k < 4; ++k)
      if (AsciiEqualsIgnoreCase(w, kStyleNames[k])) style |= 1 << k;
  }
  return style;
}

std::string EscapeTextLine(std::string_view line) {
  std::string out;
  out.reserve(line.size() + 8);
  bool open = false;
  for (size_t i = 0; i < line.size();) {
    char c = line[i];
    if (c == '<' || c == '>') {
      if (open) out += '>';
      open = false;
      out += c;
      out += c;
      ++i;
      continue;
    }
    size_t start = i;
    bool capital = NextChangesCase(line, i);
    if (capital && !open) out += '<';
    if (!capital && open) out += '>';
    open = capital;
    out.append(line.substr(start, i - start));
  }
  if (open) out += '>';
  return out;
}

std::string UnescapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool open = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (open) {
      if (c == '>')
        open = false;
      else
        out += c;
      continue;
    }
    bool doubled = i + 1 < text.size() && text[i + 1] == c;
    if (c == '<') {
      if (doubled) {
        out += '<';
        ++i;
      } else {
        open = true;
      }
    } else if (c == '>') {
      out += '>';
      if (doubled) ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\r' && c != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    // CR LF and LF CR are one break each.
    if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') && text[i + 1] != c)
      ++i;
    start = i + 1;
  }
  lines.emplace_back(text.substr(start));
  return lines;
}

std::string BuildTextDescription(const TTextParams& p) {
  std::string d(kTextPrefix);
  d += p.font;
  d += ':';
  d += FormatTextNumber(p.scale, 6);
  d += ':';
  d += FormatTextNumber(p.value1, 6);
  d += ':';
  d += FormatTextNumber(p.value2, 6);
  d += ':';
  d += StyleField(p.style);
  d += ':';
  d += std::to_string(int(p.align));
  d += ':';
  d += FormatTextNumber(p.value6, 6);
  d += ':';
  d += FormatTextNumber(p.lineSpacing, 2);
  d += ":\"";
  for (size_t i = 0; i < p.lines.size(); ++i) {
    if (i) d += "\r\n";
    d += EscapeTextLine(p.lines[i]);
  }
  d += '"';
  return d;
}

TTextParams ParseTextDescription(std::string_view description, const TTextParams& defaults) {
  TTextParams p = defaults;
  p.lines.clear();
  TDescriptionFields f = SplitDescription(description);
  if (f.count > 0 && !f.fields[0].empty()) p.font = std::string(f.fields[0]);
  if (f.count > 1) {
    double s = ReadReal(f.fields[1], p.scale);
    if (s > 0) p.scale = s;  // a picture cannot be drawn at zero or negative scale
  }
  // Single-precision fields: values beyond float range are unreadable.
  auto readFloat = [](std::string_view v, float def) {
    double r = ReadReal(v, def);
    return std::fabs(r) <= 3.4e38 ? float(r) : def;
  };
  if (f.count > 2) p.value1 = readFloat(f.fields[2], p.value1);
  if (f.count > 3) p.value2 = readFloat(f.fields[3], p.value2);
  if (f.count > 4) p.style = ParseStyleField(f.fields[4]);
  if (f.count > 5) {
    double a = ReadReal(f.fields[5], -1);
    if (a == 0 || a == 1 || a == 2) p.align = uint8_t(a);  // left, centre, right
  }
  if (f.count > 6) p.value6 = ReadReal(f.fields[6], p.value6);
  if (f.count > 7) p.lineSpacing = ReadReal(f.fields[7], p.lineSpacing);
  if (f.count > 8) {
    std::string_view l = f.lines;
    if (l.size() > 1) {
      if (l.front() == '"') l.remove_prefix(1);
      if (!l.empty() && l.back() == '"') l.remove_suffix(1);
    }
    p.lines = SplitTextLines(UnescapeText(l));
  }
  return p;
}

TTextParams ParseTextDescription(std::string_view description) {
  return ParseTextDescription(description, DefaultTextParams());
}

std::string VectTextKey(std::string_view description) {
  TDescriptionFields f = SplitDescription(description);
  std::string key(kVectTextPrefix);
  if (f.count > 0) key += f.fields[0];
  key += ':';
  if (f.count > 4) key += f.fields[4];
  key += ':';
  key += f.lines;
  return key;
}

std::string GlyphCacheKey(std::string_view font, int style) {
  std::string key(font);
  key += ':';
  key += StyleField(style);
  return key;
}

}  // namespace lum
