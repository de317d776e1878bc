#include "media_facts.h"

#include <algorithm>
#include <map>
#include <vector>

#include "foundation/case_fold.h"
#include "foundation/memory_stream.h"
#include "imaging/bitmap.h"
#include "imaging/gfx_bitmap_store.h"
#include "imaging/image.h"
#include "imaging/picture_metadata.h"

namespace lum::lumshow {

namespace {

uint32_t Le(std::string_view d, size_t off, size_t n) {
  uint32_t v = 0;
  for (size_t i = n; i-- > 0;) v = v << 8 | uint8_t(d[off + i]);
  return v;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

bool BmpFacts(std::string_view h, int64_t fileSize, TPictureFacts& f) {
  if (h.size() < 26) return f.problem = kCutShort, false;
  const uint32_t offset = Le(h, 10, 4), infoSize = Le(h, 14, 4);
  int64_t w, hgt;
  uint32_t bits, compression = 0;
  if (infoSize == 12) {
    w = Le(h, 18, 2), hgt = Le(h, 20, 2), bits = Le(h, 24, 2);
  } else if (infoSize >= 40 && h.size() >= 34) {
    w = int32_t(Le(h, 18, 4)), hgt = int32_t(Le(h, 22, 4));
    bits = Le(h, 28, 2), compression = Le(h, 30, 4);
  } else {
    return f.problem = "unknown header", false;
  }
  hgt = hgt < 0 ? -hgt : hgt;
  const bool rle = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
  const bool plain = compression == 0 || (compression == 3 && (bits == 16 || bits == 32));
  const bool known = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (!known || !(rle || plain)) return f.problem = "unsupported kind of BMP", false;
  if (!PictureSizeAllowed(w, hgt)) return f.problem = "impossible size", false;
  if (plain && int64_t(offset) + (bits * w + 31) / 32 * 4 * hgt > fileSize)
    return f.problem = kCutShort, false;
  f.width = int(w), f.height = int(hgt);
  return true;
}

bool GifFacts(std::string_view h, std::string_view tail, int64_t fileSize, TPictureFacts& f) {
  if (h.size() < 13) return f.problem = kCutShort, false;
  const int w = int(Le(h, 6, 2)), hgt = int(Le(h, 8, 2));
  if (!PictureSizeAllowed(w, hgt)) return f.problem = "impossible size", false;
  // As the loader judges: a vast screen from a small file is a decoy.
  if (int64_t(w) * hgt > std::max<int64_t>(int64_t(1) << 22, fileSize * 1024))
    return f.problem = "screen too large for the file", false;
  // The trailer byte ends every whole file (writers may pad after it).
  if (tail.substr(tail.size() > 16 ? tail.size() - 16 : 0).find(';') == std::string_view::npos)
    return f.problem = kCutShort, false;
  f.width = w, f.height = hgt;
  return true;
}

// JPEG, PNG and .kvgfx headers through the player's own loaders, so that a
// picture taken here is one the player opens.
bool LoaderFacts(std::string_view head, TPictureFacts& f) {
  TMemoryStream s(head);
  TRef<TImage> image;
  try {
    image = LoadImage(s, "picture" + f.format, true);
  } catch (const std::exception&) {
  }
  if (!image) return f.problem = kDamagedHeader, false;
  f.width = image->Width(), f.height = image->Height();
  return true;
}

// Where the first scan's data starts (after the SOS segment), walking the
// header's segments by their lengths so that a thumbnail inside one is
// stepped over; -1 when the head ends first.
int64_t JpegImageData(std::string_view h) {
  size_t at = 2;
  while (at + 4 <= h.size()) {
    if (uint8_t(h[at]) != 0xFF) return -1;
    const uint8_t marker = uint8_t(h[at + 1]);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    const size_t len = size_t(uint8_t(h[at + 2])) << 8 | uint8_t(h[at + 3]);
    if (len < 2) return -1;
    at += 2 + len;
    if (marker == 0xDA) return at <= h.size() ? int64_t(at) : -1;
  }
  return -1;
}

}  // namespace

std::string_view ExtensionOf(std::string_view name) {
  const size_t part = name.find_last_of("\\/") + 1;
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot <= part) return {};
  return name.substr(dot);
}

TPictureFacts ReadPictureFacts(std::string_view head, std::string_view tail, int64_t fileSize) {
  TPictureFacts f;
  auto starts = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
  if (starts("\xFF\xD8\xFF")) {
    f.format = ".jpg";
    if (!LoaderFacts(head, f)) return f;
    f.imageDataAt = JpegImageData(head);
    // Phones append videos and other data after a photo's end: the end
    // marker may lie before the tail.
    const std::string_view data = f.imageDataAt > 0 ? head.substr(size_t(f.imageDataAt)) : "";
    if (tail.find("\xFF\xD9") == std::string_view::npos &&
        data.find("\xFF\xD9") == std::string_view::npos)
      f.problem = kCutShort;
  } else if (starts("\x89PNG\r\n\x1A\n")) {
    f.format = ".png";
    if (!LoaderFacts(head, f)) return f;
    if (tail.find("IEND") == std::string_view::npos) f.problem = kCutShort;
  } else if (starts("GIF87a") || starts("GIF89a")) {
    f.format = ".gif";
    GifFacts(head, tail, fileSize, f);
    return f;
  } else if (starts("BM")) {
    f.format = ".bmp";
    BmpFacts(head, fileSize, f);
    return f;
  } else if (starts("KVGF")) {
    f.format = ".kvgfx";
    TMemoryStream s(head);
    TGfxHeader header;
    if (!ReadGfxHeader(s, header)) return f.problem = kDamagedHeader, f;
    f.width = header.width, f.height = header.height;
    return f;
  } else {
    return f;
  }
  const TExifFacts exif = ReadPictureMetadata(head).exif;
  if (exif.orientation != 0) f.orientation = exif.orientation;
  f.date = exif.dateTimeOriginal.empty() ? exif.dateTime : exif.dateTimeOriginal;
  return f;
}

int64_t ExifDateSeconds(std::string_view d) {
  // "YYYY:MM:DD HH:MM:SS"; cameras without a clock write blanks or zeros.
  if (d.size() < 19) return -1;
  int v[6];
  const size_t at[6] = {0, 5, 8, 11, 14, 17}, len[6] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i) {
    v[i] = 0;
    for (size_t k = 0; k < len[i]; ++k) {
      const char c = d[at[i] + k];
      if (c < '0' || c > '9') return -1;
      v[i] = v[i] * 10 + (c - '0');
    }
  }
  if (d[4] != ':' || d[7] != ':' || d[10] != ' ' || d[13] != ':' || d[16] != ':') return -1;
  if (v[0] < 1800 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59 ||
      v[5] > 60)
    return -1;
  // Days from the civil date (proleptic Gregorian).
  const int y = v[0] - (v[1] <= 2), m = v[1];
  const int era = y / 400, yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + v[2] - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = int64_t(era) * 146097 + doe - 719468;
  return days * 86400 + v[3] * 3600 + v[4] * 60 + v[5];
}

int NaturalCompare(std::string_view a, std::string_view b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      size_t si = i, sj = j;
      while (si < a.size() && a[si] == '0') ++si;
      while (sj < b.size() && b[sj] == '0') ++sj;
      size_t ei = si, ej = sj;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
      if (int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj))) return c < 0 ? -1 : 1;
      i = ei, j = ej;
      continue;
    }
    if (a[i] != b[j]) return uint8_t(a[i]) < uint8_t(b[j]) ? -1 : 1;
    ++i, ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  // Equal by value ("01" and "1"): byte order keeps the result total.
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0;
}

std::string MemberNameFor(std::string_view fileName, std::string_view format) {
  std::string name;
  for (char c : fileName) {
    const bool control = uint8_t(c) < 32 || c == 0x7F;
    // "|" starts a loader request, "%x%" a path modifier, ":" a drive, '"'
    // ends a name in the document's comment tables.
    name += control || c == '|' || c == '%' || c == ':' || c == '"' ? '_' : c;
  }
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!name.empty() && blank(name.front())) name.erase(name.begin());
  while (!name.empty() && blank(name.back())) name.pop_back();
  // A "\" separates folders in the show: kept only between ordinary parts,
  // so the name never climbs out of the show's folder.
  bool ordinary = true;
  for (size_t start = 0; start <= name.size();) {
    size_t end = std::min(name.find('\\', start), name.size());
    std::string_view part = std::string_view(name).substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || blank(part.front()) || blank(part.back()))
      ordinary = false;
    start = end + 1;
  }
  if (!ordinary) std::replace(name.begin(), name.end(), '\\', '_');
  if (name.empty()) name = "picture";
  // Names the player generates itself are not for files.
  for (std::string_view generated : {"VectTxt2: ", "ColorSpaceExe_"})
    if (FoldedEquals(std::string_view(name).substr(0, generated.size()), generated))
      name.insert(name.begin(), '_');
  if (format.empty()) return name;
  static const std::map<std::string_view, std::vector<std::string_view>> kTaken = {
      {".jpg", {".jpg", ".jpeg", ".jpe", ".jfif"}},
      {".png", {".png"}},
      {".gif", {".gif"}},
      {".bmp", {".bmp", ".dib"}},
      {".kvgfx", {".kvgfx"}}};
  const std::string ext = Lower(ExtensionOf(name));
  auto it = kTaken.find(format);
  if (it == kTaken.end() ||
      std::find(it->second.begin(), it->second.end(), ext) == it->second.end())
    name += format;
  return name;
}

}  // namespace lum::lumshow
