// The facts text macros show, from a PNG's chunks: EXIF in eXIf (or in a
// tool's raw profile), the PNG text keywords that mean the same as the EXIF
// fields, and the time of the picture.
#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "foundation/utf.h"
#include "imaging/picture_metadata.h"

namespace lum {
namespace {

// Chunks walked before giving up, and the largest metadata chunk read (or
// text inflated); bigger ones are skipped, never held.
constexpr int kMaxChunks = 4096;
constexpr uint32_t kMaxChunkBytes = 1 << 20;

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Latin-1 (tEXt, zTXt) as UTF-8.
std::string Latin1ToUtf8(std::string_view s) {
  std::string out;
  for (unsigned char c : s) AppendUtf8(out, c);
  return out;
}

// zlib data inflated, at most kMaxChunkBytes; nothing when damaged or larger.
std::optional<std::string> Inflate(std::string_view z) {
  z_stream s{};
  if (inflateInit(&s) != Z_OK) return std::nullopt;
  std::string out;
  std::array<char, 16384> buf;
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(z.data()));
  s.avail_in = uInt(z.size());
  int r = Z_OK;
  while (r == Z_OK) {
    s.next_out = reinterpret_cast<Bytef*>(buf.data());
    s.avail_out = uInt(buf.size());
    r = inflate(&s, Z_NO_FLUSH);
    out.append(buf.data(), buf.size() - s.avail_out);
    if (out.size() > kMaxChunkBytes || (r == Z_BUF_ERROR && s.avail_in == 0)) break;
  }
  inflateEnd(&s);
  if (r != Z_STREAM_END || out.size() > kMaxChunkBytes) return std::nullopt;
  return out;
}

// A text chunk's keyword and its text as UTF-8.
struct TPngText {
  std::string keyword, text;
};

std::optional<TPngText> ParseText(std::string_view type, std::string_view d) {
  const size_t nul = d.find('\0');
  if (nul == std::string_view::npos || nul == 0 || nul > 79) return std::nullopt;
  TPngText t{std::string(d.substr(0, nul)), {}};
  std::string_view rest = d.substr(nul + 1);
  if (type == "tEXt") {
    t.text = Latin1ToUtf8(rest);
  } else if (type == "zTXt") {
    if (rest.empty() || rest[0] != 0) return std::nullopt;
    auto text = Inflate(rest.substr(1));
    if (!text) return std::nullopt;
    t.text = Latin1ToUtf8(*text);
  } else {
    // iTXt: compression flag and method, language and translated keyword.
    if (rest.size() < 2) return std::nullopt;
    const bool compressed = rest[0] == 1;
    if (compressed && rest[1] != 0) return std::nullopt;
    rest = rest.substr(2);
    for (int field = 0; field < 2; ++field) {
      const size_t end = rest.find('\0');
      if (end == std::string_view::npos) return std::nullopt;
      rest = rest.substr(end + 1);
    }
    std::optional<std::string> text =
        compressed ? Inflate(rest) : std::optional<std::string>(std::string(rest));
    if (!text) return std::nullopt;
    t.text = IsValidUtf8(*text) ? *text : Latin1ToUtf8(*text);
  }
  return t;
}

// The bytes of a tool's raw profile text: "\n<name>\n<length>\n<hex...>",
// whitespace anywhere in the hex; nothing unless it holds the length declared.
std::string RawProfileBytes(std::string_view text) {
  const size_t nameEnd = text.find('\n', text.find_first_not_of('\n'));
  const size_t lengthEnd =
      nameEnd == std::string_view::npos ? nameEnd : text.find('\n', nameEnd + 1);
  if (lengthEnd == std::string_view::npos) return {};
  size_t declared = 0;
  for (char c : text.substr(nameEnd + 1, lengthEnd - nameEnd - 1)) {
    if (c >= '0' && c <= '9') declared = declared * 10 + size_t(c - '0');
    if (declared > kMaxChunkBytes) return {};
  }
  std::string out;
  int high = -1;
  for (size_t i = lengthEnd + 1; i < text.size() && out.size() < declared; ++i) {
    const char c = text[i];
    const int v = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(char(high << 4 | v));
      high = -1;
    }
  }
  return declared > 0 && out.size() == declared ? out : std::string();
}

bool InRange(int v, int lo, int hi) {
  return v >= lo && v <= hi;
}

std::string ExifDateTime(int y, int mo, int d, int h, int mi, int s) {
  if (!InRange(y, 0, 9999) || !InRange(mo, 1, 12) || !InRange(d, 1, 31) || !InRange(h, 0, 23) ||
      !InRange(mi, 0, 59) || !InRange(s, 0, 60))
    return {};
  char out[32];
  std::snprintf(out, sizeof out, "%04d:%02d:%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return out;
}

// A PNG "Creation Time" as EXIF writes its date-time; empty when its form is
// not known.
std::string PngTimeToExif(std::string_view text) {
  const std::string t(text.substr(0, 64));
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep1 = 0, sep2 = 0, mid = 0;
  // EXIF's own form, and ISO 8601 with "-" and "T" or a blank.
  if (std::sscanf(t.c_str(), "%4d%c%2d%c%2d%c%2d:%2d:%2d", &y, &sep1, &mo, &sep2, &d, &mid, &h, &mi,
                  &s) == 9 &&
      sep1 == sep2 && (sep1 == ':' || sep1 == '-') && (mid == ' ' || mid == 'T'))
    return ExifDateTime(y, mo, d, h, mi, s);
  // RFC 1123, which the PNG specification suggests: "[Sat, ]4 Jul 2015 18:22:05 ...".
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const size_t comma = t.find(',');
  const std::string rest = comma == std::string::npos ? t : t.substr(comma + 1);
  char month[4] = {};
  if (std::sscanf(rest.c_str(), "%2d %3s %4d %2d:%2d:%2d", &d, month, &y, &h, &mi, &s) == 6)
    for (int m = 0; m < 12; ++m)
      if (std::strcmp(month, kMonths[m]) == 0) return ExifDateTime(y, m + 1, d, h, mi, s);
  return {};
}

}  // namespace

void ReadPngMetadata(TStream& stream, TPictureMetadata& meta) {
  std::string comment, description, created, changed;
  TExifFacts rawExif;
  try {
    for (int n = 0; n < kMaxChunks; ++n) {
      uint8_t head[8];
      if (ReadFull(stream, head, 8) != 8) break;
      const uint32_t length = Be32(head);
      const std::string_view type(reinterpret_cast<const char*>(head + 4), 4);
      if (length > 0x7FFFFFFF || type == "IEND") break;
      const bool wanted =
          type == "eXIf" || type == "tEXt" || type == "zTXt" || type == "iTXt" || type == "tIME";
      if (!wanted || length > kMaxChunkBytes) {
        // The picture data and anything else: stepped over, not read.
        stream.SetPosition(stream.Position() + int64_t(length) + 4);
        continue;
      }
      std::string body(length, '\0');
      uint8_t crc[4];
      if (ReadFull(stream, body.data(), length) != length || ReadFull(stream, crc, 4) != 4) break;
      uLong sum = crc32(0, head + 4, 4);
      sum = crc32(sum, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
      if (sum != Be32(crc)) continue;  // a damaged chunk tells nothing
      if (type == "eXIf") {
        std::string_view tiff(body);
        if (tiff.substr(0, 6) == std::string_view("Exif\0\0", 6)) tiff.remove_prefix(6);
        if (!meta.exif.found) meta.exif = ParseExifTiff(tiff);
      } else if (type == "tIME") {
        const auto* b = reinterpret_cast<const uint8_t*>(body.data());
        if (length == 7) changed = ExifDateTime(b[0] << 8 | b[1], b[2], b[3], b[4], b[5], b[6]);
      } else if (std::optional<TPngText> t = ParseText(type, body)) {
        if (t->keyword == "Comment" && comment.empty()) comment = t->text;
        if (t->keyword == "Description" && description.empty()) description = t->text;
        if (t->keyword == "Creation Time" && created.empty()) created = PngTimeToExif(t->text);
        if (t->keyword == "Raw profile type exif" || t->keyword == "Raw profile type APP1") {
          std::string raw = RawProfileBytes(t->text);
          std::string_view tiff(raw);
          if (tiff.substr(0, 6) == std::string_view("Exif\0\0", 6)) tiff.remove_prefix(6);
          if (!rawExif.found) rawExif = ParseExifTiff(tiff);
        }
        if (t->keyword == "Raw profile type iptc" && meta.iptc.empty()) {
          const std::string raw = RawProfileBytes(t->text);
          meta.iptc = raw.starts_with("8BIM") ? ParseIptcResources(raw) : ParseIptcRecords(raw);
        }
      }
    }
  } catch (const std::exception&) {
    // A stream that fails mid-way: what was read so far stands.
  }
  // EXIF first, as in JPEG pictures; the PNG's own keywords stand in for it.
  if (!meta.exif.found) meta.exif = std::move(rawExif);
  if (meta.exif.userComment.empty()) meta.exif.userComment = std::move(comment);
  if (meta.exif.imageDescription.empty()) meta.exif.imageDescription = std::move(description);
  if (meta.exif.dateTime.empty()) meta.exif.dateTime = created.empty() ? changed : created;
}

}  // namespace lum
