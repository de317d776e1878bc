#include "model/text_macros.h"

#include <cstdint>
#include <utility>

#include "imaging/picture_metadata.h"

namespace lum {
namespace {

constexpr std::string_view kPathNameExt = "<%MainImg.PathNameExt%>";

struct TIptcMacro {
  std::string_view name;
  int dataset;
};
constexpr TIptcMacro kIptcMacros[] = {
    {"<%MainImg.IPTC.DocumentTitle%>", kIptcDocumentTitle},
    {"<%MainImg.IPTC.SpecialInstructions%>", kIptcSpecialInstructions},
    {"<%MainImg.IPTC.AuthorByline%>", kIptcByline},
    {"<%MainImg.IPTC.AuthorTitle%>", kIptcBylineTitle},
    {"<%MainImg.IPTC.City%>", kIptcCity},
    {"<%MainImg.IPTC.Sublocation%>", kIptcSublocation},
    {"<%MainImg.IPTC.ProvinceState%>", kIptcProvinceState},
    {"<%MainImg.IPTC.Country%>", kIptcCountry},
    {"<%MainImg.IPTC.OTR%>", kIptcTransmissionReference},
    {"<%MainImg.IPTC.Headline%>", kIptcHeadline},
    {"<%MainImg.IPTC.Credits%>", kIptcCredit},
    {"<%MainImg.IPTC.Source%>", kIptcSource},
    {"<%MainImg.IPTC.Copyright%>", kIptcCopyright},
    {"<%MainImg.IPTC.CaptionDescription%>", kIptcCaption},
    {"<%MainImg.IPTC.CaptionWriter%>", kIptcCaptionWriter},
};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

size_t FindAsciiNoCase(std::string_view s, std::string_view what, size_t from) {
  if (what.empty() || what.size() > s.size()) return std::string_view::npos;
  for (size_t i = from; i + what.size() <= s.size(); ++i)
    if (EqualsAsciiNoCase(s.substr(i, what.size()), what)) return i;
  return std::string_view::npos;
}

// Blanks and control characters at either end go.
std::string Trimmed(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && uint8_t(s[b]) <= ' ') ++b;
  while (e > b && uint8_t(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

// The extension starts at the last "." of the file part.
size_t ExtensionStart(std::string_view p) {
  size_t slash = p.rfind('\\');
  size_t dot = p.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    return p.size();
  return dot;
}

struct TDerivedMacro {
  std::string_view name;
  std::string (*derive)(std::string_view);
  std::string_view source;  // the value it is derived from
};
const TDerivedMacro kDerivedMacros[] = {
    {"<%MainImg.FileName%>", PathFileName, kPathNameExt},
    {"<%MainImg.PathName%>", PathWithoutExt, kPathNameExt},
    {"<%MainImg.FileNameExt%>", PathFileNameExt, kPathNameExt},
    {"<%MainImg.FolderPath%>", PathFolderPath, kPathNameExt},
    {"<%MainImg.FolderName%>", PathFolderName, kPathNameExt},
    {"<%MainImg.Exif.Date%>", DatePart, kExifDateTimeQuery},
    {"<%MainImg.Exif.Time%>", TimePart, kExifDateTimeQuery},
};

}  // namespace

const std::vector<std::string_view>& ResolvedMacros() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> v = {
        "<%SlideIndex%>",     "<%SlidesCount%>",          "<%MainImg.Width%>",
        "<%MainImg.Height%>", "<%MainImg.Exif.Comment%>", "<%MainImg.Exif.Description%>",
        kPathNameExt};
    for (const TIptcMacro& m : kIptcMacros) v.push_back(m.name);
    return v;
  }();
  return names;
}

const std::vector<std::string_view>& DerivedMacros() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> v;
    for (const TDerivedMacro& m : kDerivedMacros) v.push_back(m.name);
    return v;
  }();
  return names;
}

std::string ReplaceMacro(std::string_view line, std::string_view macro,
                         const std::function<std::string()>& value) {
  std::string out;
  size_t pos = 0;
  for (size_t at; (at = FindAsciiNoCase(line, macro, pos)) != std::string_view::npos;
       pos = at + macro.size()) {
    out.append(line.substr(pos, at - pos));
    out += value();
  }
  out.append(line.substr(pos));
  return out;
}

std::string ExpandTextMacros(std::string_view line, const TMacroResolver& resolve) {
  std::string s(line);
  // Macros start with "<%": a line without it (most lines) asks nothing.
  if (s.find("<%") != std::string::npos) {
    for (std::string_view m : ResolvedMacros()) s = ReplaceMacro(s, m, [&] { return resolve(m); });
    for (const TDerivedMacro& m : kDerivedMacros)
      s = ReplaceMacro(s, m.name, [&] { return m.derive(resolve(m.source)); });
  }
  if (s.empty()) s = " ";
  return s;
}

std::vector<std::string> ExpandTextMacros(const std::vector<std::string>& lines,
                                          const TMacroResolver& resolve) {
  std::vector<std::string> out;
  out.reserve(lines.size());
  for (const std::string& line : lines) out.push_back(ExpandTextMacros(line, resolve));
  return out;
}

std::string PathFileName(std::string_view p) {
  p = p.substr(0, ExtensionStart(p));
  size_t slash = p.rfind('\\');
  return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

std::string PathWithoutExt(std::string_view p) {
  return std::string(p.substr(0, ExtensionStart(p)));
}

std::string PathFileNameExt(std::string_view p) {
  if (!p.empty() && p.back() == '\\') p.remove_suffix(1);
  size_t slash = p.rfind('\\');
  return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

std::string PathFolderPath(std::string_view p) {
  size_t slash = p.rfind('\\');
  return slash == std::string_view::npos ? std::string() : std::string(p.substr(0, slash + 1));
}

std::string PathFolderName(std::string_view p) {
  size_t last = p.rfind('\\');
  if (last == std::string_view::npos) return {};
  std::string_view folder = p.substr(0, last);
  size_t before = folder.rfind('\\');
  if (before != std::string_view::npos) return std::string(folder.substr(before + 1));
  // A relative name's first folder counts; a drive ("C:") is no folder.
  if (!folder.empty() && folder.back() == ':') return {};
  return std::string(folder);
}

std::string DatePart(std::string_view dateTime) {
  return std::string(dateTime.substr(0, dateTime.find(' ')));
}

std::string TimePart(std::string_view dateTime) {
  size_t blank = dateTime.find(' ');
  return blank == std::string_view::npos ? std::string() : std::string(dateTime.substr(blank + 1));
}

void ReadMainImageMetadata(TStream& stream, TMainImageFacts& facts) {
  TPictureMetadata meta = ReadPictureMetadata(stream);
  facts.exifComment = std::move(meta.exif.userComment);
  facts.exifDescription = std::move(meta.exif.imageDescription);
  facts.exifDateTime = std::move(meta.exif.dateTime);
  facts.iptc = std::move(meta.iptc);
}

std::string ResolveTextMacro(std::string_view macro, int slideIndex, int slidesCount,
                             const TMainImageFacts& main) {
  if (EqualsAsciiNoCase(macro, "<%SlideIndex%>")) return std::to_string(slideIndex + 1);
  if (EqualsAsciiNoCase(macro, "<%SlidesCount%>")) return std::to_string(slidesCount);
  if (!main.present) return {};
  if (EqualsAsciiNoCase(macro, "<%MainImg.Width%>")) return std::to_string(main.width);
  if (EqualsAsciiNoCase(macro, "<%MainImg.Height%>")) return std::to_string(main.height);
  if (EqualsAsciiNoCase(macro, kPathNameExt)) return main.path;
  if (EqualsAsciiNoCase(macro, "<%MainImg.Exif.Comment%>")) return Trimmed(main.exifComment);
  if (EqualsAsciiNoCase(macro, "<%MainImg.Exif.Description%>"))
    return Trimmed(main.exifDescription);
  if (EqualsAsciiNoCase(macro, kExifDateTimeQuery)) return main.exifDateTime;
  for (const TIptcMacro& m : kIptcMacros) {
    if (!EqualsAsciiNoCase(macro, m.name)) continue;
    auto it = main.iptc.find(m.dataset);
    return it == main.iptc.end() ? std::string() : Trimmed(it->second);
  }
  // Derived macros are answered through the values they derive from.
  for (const TDerivedMacro& m : kDerivedMacros)
    if (EqualsAsciiNoCase(macro, m.name))
      return m.derive(ResolveTextMacro(m.source, slideIndex, slidesCount, main));
  return {};
}

}  // namespace lum
