#include "imaging/picture_metadata.h"

#include <cstring>
#include <exception>

#include "foundation/code_page.h"
#include "foundation/memory_stream.h"
#include "foundation/utf.h"

namespace lum {
namespace {

// JPEG header segments are read one at a time (at most 64 KB each); a file
// with more segments than this before its image data is not worth reading.
constexpr int kMaxSegments = 1024;
// Photoshop resources may span several APP13 segments; more is hostile.
constexpr size_t kMaxResourceBytes = 4 << 20;

std::string CutAtNul(std::string_view s) {
  return std::string(s.substr(0, s.find('\0')));
}

// Text whose encoding nobody declared: UTF-8 when it is valid, else the code page.
std::string DecodeUndeclared(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : AnsiToUtf8(bytes);
}

// UTF-8 with bad sequences replaced, for text declared as UTF-8.
std::string SanitiseUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  for (size_t i = 0; i < bytes.size();) AppendUtf8(out, DecodeUtf8(bytes, i));
  return out;
}

class TTiff {
 public:
  explicit TTiff(std::string_view d, bool le = true) : d_(d), le_(le) {}

  bool Header(uint32_t& ifd0) {
    if (d_.size() < 8) return false;
    if (d_.substr(0, 2) == "II") {
      le_ = true;
    } else if (d_.substr(0, 2) == "MM") {
      le_ = false;
    } else {
      return false;
    }
    uint16_t magic = 0;
    return U16(2, magic) && magic == 42 && U32(4, ifd0);
  }

  bool LittleEndian() const { return le_; }

  // A 32-bit value held in an entry's value bytes.
  uint32_t ValueU32(std::string_view v) const {
    uint32_t x = 0;
    TTiff(v, le_).U32(0, x);
    return x;
  }

  bool U16(uint64_t off, uint16_t& v) const {
    if (off > d_.size() || d_.size() - off < 2) return false;
    auto b = reinterpret_cast<const uint8_t*>(d_.data() + off);
    v = le_ ? uint16_t(b[0] | b[1] << 8) : uint16_t(b[0] << 8 | b[1]);
    return true;
  }
  bool U32(uint64_t off, uint32_t& v) const {
    if (off > d_.size() || d_.size() - off < 4) return false;
    auto b = reinterpret_cast<const uint8_t*>(d_.data() + off);
    v = le_ ? uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24
            : uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
    return true;
  }

  struct TEntry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0;
    std::string_view value;  // the value bytes, checked against the block
    bool ok = false;         // false when the value lies outside the block
  };

  // Calls f(entry) for every entry of the IFD at off that lies inside the
  // block; a damaged IFD is read as far as it goes.
  template <class F>
  void Ifd(uint32_t off, F&& f) const {
    uint16_t n = 0;
    if (!U16(off, n)) return;
    uint64_t first = uint64_t(off) + 2;
    for (uint64_t i = 0; i < n; ++i) {
      uint64_t e = first + i * 12;
      if (e > d_.size() || d_.size() - e < 12) break;
      TEntry entry;
      U16(e, entry.tag);
      U16(e + 2, entry.type);
      U32(e + 4, entry.count);
      uint64_t bytes = uint64_t(entry.count) * TypeSize(entry.type);
      if (bytes <= 4) {
        entry.value = d_.substr(e + 8, bytes);
        entry.ok = TypeSize(entry.type) != 0;
      } else {
        uint32_t at = 0;
        U32(e + 8, at);
        if (at <= d_.size() && bytes <= d_.size() - at) {
          entry.value = d_.substr(at, bytes);
          entry.ok = true;
        }
      }
      f(entry);
    }
  }

 private:
  static uint64_t TypeSize(uint16_t type) {
    switch (type) {
      case 1:
      case 2:
      case 6:
      case 7:
        return 1;  // byte, ASCII, signed byte, undefined
      case 3:
      case 8:
        return 2;
      case 4:
      case 9:
      case 11:
      case 13:
        return 4;
      case 5:
      case 10:
      case 12:
        return 8;
      default:
        return 0;
    }
  }

  std::string_view d_;
  bool le_ = true;
};

bool IsByteType(uint16_t type) {
  return type == 1 || type == 2 || type == 7;
}

std::string DecodeUtf16(std::string_view body, bool le) {
  if (body.size() >= 2) {
    auto b0 = uint8_t(body[0]), b1 = uint8_t(body[1]);
    if (b0 == 0xFF && b1 == 0xFE) {
      le = true;
      body.remove_prefix(2);
    } else if (b0 == 0xFE && b1 == 0xFF) {
      le = false;
      body.remove_prefix(2);
    } else {
      // Writers disagree on the byte order; mostly Latin text shows which
      // byte is the high one by its zeros.
      size_t evenZeros = 0, oddZeros = 0;
      for (size_t i = 0; i + 1 < body.size(); i += 2) {
        evenZeros += body[i] == 0;
        oddZeros += body[i + 1] == 0;
      }
      if (le && evenZeros > oddZeros) le = false;
      if (!le && oddZeros > evenZeros) le = true;
    }
  }
  std::u16string text;
  for (size_t i = 0; i + 1 < body.size(); i += 2) {
    auto lo = uint8_t(body[i + (le ? 0 : 1)]), hi = uint8_t(body[i + (le ? 1 : 0)]);
    char16_t c = char16_t(lo | hi << 8);
    if (c == 0) break;
    text.push_back(c);
  }
  return Utf16ToUtf8(text);
}

std::string DecodeUserComment(std::string_view v, bool le) {
  if (v.size() < 8) return {};
  std::string_view charset = v.substr(0, 8), body = v.substr(8);
  if (charset == std::string_view("UNICODE\0", 8)) return DecodeUtf16(body, le);
  // JIS X 0208 without an escape form: nothing here can decode it faithfully.
  if (charset == std::string_view("JIS\0\0\0\0\0", 8)) return {};
  // ASCII, undefined (zeros) and unknown headers: plain bytes.
  return DecodeUndeclared(CutAtNul(body));
}

bool WantedDataset(int ds) {
  switch (ds) {
    case kIptcDocumentTitle:
    case kIptcSpecialInstructions:
    case kIptcByline:
    case kIptcBylineTitle:
    case kIptcCity:
    case kIptcSublocation:
    case kIptcProvinceState:
    case kIptcCountry:
    case kIptcTransmissionReference:
    case kIptcHeadline:
    case kIptcCredit:
    case kIptcSource:
    case kIptcCopyright:
    case kIptcCaption:
    case kIptcCaptionWriter:
      return true;
    default:
      return false;
  }
}

uint32_t Be(std::string_view d, size_t off, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = v << 8 | uint8_t(d[off + i]);
  return v;
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    auto c = uint8_t(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp, min;
    if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      auto t = uint8_t(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

TExifFacts ParseExifTiff(std::string_view tiff) {
  TExifFacts facts;
  TTiff t(tiff);
  uint32_t ifd0 = 0;
  if (!t.Header(ifd0)) return facts;
  facts.found = true;
  bool haveDescription = false, haveDate = false, haveExifIfd = false;
  uint32_t exifIfd = 0;
  // Only IFD0 and the one sub-IFD it names are visited, so pointers that
  // loop back cannot make the walk run on.
  t.Ifd(ifd0, [&](const TTiff::TEntry& e) {
    if (!e.ok) return;
    if (e.tag == 0x010E && !haveDescription && IsByteType(e.type)) {
      facts.imageDescription = DecodeUndeclared(CutAtNul(e.value));
      haveDescription = true;
    } else if (e.tag == 0x0132 && !haveDate && IsByteType(e.type)) {
      facts.dateTime = DecodeUndeclared(CutAtNul(e.value));
      haveDate = true;
    } else if (e.tag == 0x0112 && e.type == 3 && e.count >= 1 && facts.orientation == 0) {
      uint16_t v = 0;
      TTiff(e.value, t.LittleEndian()).U16(0, v);
      facts.orientation = v >= 1 && v <= 8 ? v : 0;
    } else if (e.tag == 0x8769 && !haveExifIfd && (e.type == 4 || e.type == 13) && e.count >= 1) {
      exifIfd = t.ValueU32(e.value);
      haveExifIfd = true;
    }
  });
  if (!haveExifIfd) return facts;
  bool haveComment = false, haveOriginal = false;
  t.Ifd(exifIfd, [&](const TTiff::TEntry& e) {
    if (e.ok && e.tag == 0x9286 && !haveComment && IsByteType(e.type)) {
      facts.userComment = DecodeUserComment(e.value, t.LittleEndian());
      haveComment = true;
    } else if (e.ok && e.tag == 0x9003 && !haveOriginal && IsByteType(e.type)) {
      facts.dateTimeOriginal = DecodeUndeclared(CutAtNul(e.value));
      haveOriginal = true;
    }
  });
  return facts;
}

TIptcFacts ParseIptcRecords(std::string_view d) {
  std::map<int, std::string_view> raw;
  bool utf8 = false;
  size_t pos = 0;
  while (d.size() - pos >= 5 && uint8_t(d[pos]) == 0x1C) {
    int record = uint8_t(d[pos + 1]), dataset = uint8_t(d[pos + 2]);
    uint32_t len = Be(d, pos + 3, 2);
    pos += 5;
    if (len & 0x8000) {
      // Extended dataset: the low bits give the size of the length field.
      size_t n = len & 0x7FFF;
      if (n == 0 || n > 4 || d.size() - pos < n) break;
      len = Be(d, pos, n);
      pos += n;
    }
    if (len > d.size() - pos) break;
    std::string_view value = d.substr(pos, len);
    pos += len;
    if (record == 1 && dataset == 90) {
      utf8 = value.find("\x1b%G") != std::string_view::npos;
    } else if (record == 2 && WantedDataset(dataset)) {
      raw.emplace(dataset, value);  // repeated datasets keep their first value
    }
  }
  TIptcFacts facts;
  for (auto& [ds, value] : raw) {
    std::string v = CutAtNul(value);
    facts[ds] = utf8 ? SanitiseUtf8(v) : DecodeUndeclared(v);
  }
  return facts;
}

TIptcFacts ParseIptcResources(std::string_view d) {
  size_t pos = 0;
  // Every resource takes at least 12 bytes, so the walk ends.
  while (d.size() - pos >= 12) {
    std::string_view sig = d.substr(pos, 4);
    if (sig != "8BIM" && sig != "PHUT" && sig != "AgHg" && sig != "DCSR" && sig != "MeSa") break;
    uint32_t id = Be(d, pos + 4, 2);
    size_t nameField = (1 + uint8_t(d[pos + 6]) + 1) & ~size_t(1);  // Pascal string, even size
    size_t p = pos + 6 + nameField;
    if (p > d.size() || d.size() - p < 4) break;
    uint32_t len = Be(d, p, 4);
    p += 4;
    if (len > d.size() - p) break;
    if (id == 0x0404 && sig == "8BIM") return ParseIptcRecords(d.substr(p, len));
    pos = p + len + (len & 1);
    if (pos > d.size()) break;
  }
  return {};
}

size_t ReadFull(TStream& s, void* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    size_t n = s.Read(static_cast<char*>(buffer) + done, count - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

TPictureMetadata ReadPictureMetadata(TStream& stream) {
  TPictureMetadata meta;
  std::string resources;
  try {
    uint8_t soi[8];
    if (ReadFull(stream, soi, 2) != 2) return meta;
    if (soi[0] == 0x89 && soi[1] == 'P') {
      if (ReadFull(stream, soi + 2, 6) == 6 && std::memcmp(soi, "\x89PNG\r\n\x1a\n", 8) == 0)
        ReadPngMetadata(stream, meta);
      return meta;
    }
    if (soi[0] != 0xFF || soi[1] != 0xD8) return meta;
    std::string segment;
    bool exifSeen = false;
    for (int n = 0; n < kMaxSegments; ++n) {
      uint8_t b = 0;
      if (stream.Read(&b, 1) != 1 || b != 0xFF) break;
      // Fill bytes may precede a marker; a long run of them is no JPEG.
      for (int fill = 0; b == 0xFF; ++fill)
        if (fill > 65536 || stream.Read(&b, 1) != 1) b = 0xD9;  // ends the walk
      uint8_t marker = b;
      if (marker == 0xD9 || marker == 0xDA) break;  // end of image, start of scan
      if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x00) continue;
      uint8_t lenBytes[2];
      if (ReadFull(stream, lenBytes, 2) != 2) break;
      size_t len = size_t(lenBytes[0]) << 8 | lenBytes[1];
      if (len < 2) break;
      segment.resize(len - 2);
      size_t got = ReadFull(stream, segment.data(), segment.size());
      bool whole = got == segment.size();
      segment.resize(got);
      if (marker == 0xE1 && !exifSeen &&
          segment.compare(0, 6, std::string_view("Exif\0\0", 6)) == 0) {
        meta.exif = ParseExifTiff(std::string_view(segment).substr(6));
        exifSeen = true;
      } else if (marker == 0xED) {
        constexpr std::string_view kPhotoshop("Photoshop 3.0\0", 14);
        if (segment.compare(0, kPhotoshop.size(), kPhotoshop) == 0 &&
            resources.size() + segment.size() <= kMaxResourceBytes)
          resources.append(segment, kPhotoshop.size());
      }
      if (!whole) break;
    }
  } catch (const std::exception&) {
    // A stream that fails mid-way: what was read so far stands.
  }
  if (!resources.empty()) meta.iptc = ParseIptcResources(resources);
  return meta;
}

TPictureMetadata ReadPictureMetadata(std::string_view picture) {
  TMemoryStream s(picture);
  return ReadPictureMetadata(s);
}

}  // namespace lum
