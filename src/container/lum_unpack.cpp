#include "container/lum_unpack.h"

#include <cstring>

#include <fmt/format.h>

#include "container/member_stream.h"
#include "container/partial_stream.h"
#include "container/scramble_key.h"
#include "container/z_stream.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "foundation/paths.h"

namespace lum {

namespace {

int64_t ReadInt64At(TStream& s, int64_t pos) {
  unsigned char b[8];
  s.SetPosition(pos);
  s.ReadBuffer(b, 8);
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return int64_t(v);
}

bool HasMarkAt(TStream& s, int64_t pos) {
  char b[4];
  s.SetPosition(pos);
  return s.Read(b, 4) == 4 && std::memcmp(b, ".dne", 4) == 0;
}

}  // namespace

TContainerTrailer ReadTrailer(TStream& file) {
  TContainerTrailer t;
  int64_t size = file.Size();
  if (size >= 12 && HasMarkAt(file, size - 4)) {
    t.form = TTrailerForm::Short;
    t.end = size;
    t.base = 0;
  } else if (size >= 20 && HasMarkAt(file, size - 12)) {
    t.form = TTrailerForm::Long;
    t.end = size - 8;
    // Hostile lengths must not overflow; an impossible base marks the trailer invalid.
    if (__builtin_sub_overflow(t.end, ReadInt64At(file, size - 8), &t.base)) t.base = -1;
  } else {
    return t;
  }
  t.storedPosition = ReadInt64At(file, t.end - 12);
  if (__builtin_add_overflow(t.storedPosition, t.base, &t.directoryPos) ||
      __builtin_sub_overflow(t.end - 12, t.directoryPos, &t.directorySize)) {
    t.directoryPos = t.directorySize = -1;
  }
  return t;
}

std::string DirectoryName(std::string_view memberName) {
  std::string out;
  out.reserve(memberName.size());
  for (char c : memberName) {
    if (c == '[') {
      out += '<';
    } else if (c == ']') {
      out += '>';
    } else if (static_cast<unsigned char>(c) < 32) {
      out += fmt::format("#{:02X}", unsigned(static_cast<unsigned char>(c)));
    } else {
      out += c;
    }
  }
  return out;
}

std::string MemberNameOf(std::string_view sectionName, bool decodeControls) {
  std::string out;
  out.reserve(sectionName.size());
  auto hex = [](char c) {
    return (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
  };
  for (size_t i = 0; i < sectionName.size(); ++i) {
    char c = sectionName[i];
    if (c == '<') {
      out += '[';
    } else if (c == '>') {
      out += ']';
    } else if (decodeControls && c == '#' && i + 2 < sectionName.size() &&
               hex(sectionName[i + 1]) >= 0 && hex(sectionName[i + 2]) >= 0 &&
               hex(sectionName[i + 1]) * 16 + hex(sectionName[i + 2]) < 32) {
      out += char(hex(sectionName[i + 1]) * 16 + hex(sectionName[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

bool TLumUnpack::Fail(const char* message, std::string detail) {
  error_ = message;
  detail_ = std::move(detail);
  file_.reset();
  directory_.Clear();
  if (!detail_.empty()) Log().Line("Container \"" + path_ + "\": " + detail_);
  return false;
}

bool TLumUnpack::Open(const std::string& path) {
  path_ = path;
  error_.clear();
  detail_.clear();
  if (key_.empty()) key_ = ScrambleKey();
  file_ = TFileStream::TryOpenRead(path);
  if (!file_) {
    return Fail("Slideshow File not Found",
                SpecialFileExists(path) ? "not a regular file but a FIFO, device or socket" : "");
  }
  try {
    trailer_ = ReadTrailer(*file_);
  } catch (const std::exception& e) {
    return Fail("", e.what());
  }
  if (trailer_.form == TTrailerForm::None) return Fail("", {});
  if (!ReadDirectory()) return false;
  return ApplyProtection();
}

bool TLumUnpack::ReadDirectory() {
  const TContainerTrailer& t = trailer_;
  if (t.base < 0 || t.base > t.end || t.directoryPos < 0 || t.directorySize < 0) {
    return Fail("Slide-show File Damaged", "the trailer points outside the file");
  }
  try {
    TPartialStream window(*file_, t.directoryPos, t.directorySize);
    std::unique_ptr<TMemoryStream> text =
        InflateToMemory(window, kMaxDocumentSize - 1, "the directory unpacks to 128 MB or more");
    if (!directory_.Load(*text)) return Fail("Slide-show File Damaged", directory_.LoadError());
  } catch (const std::exception& e) {
    return Fail("Slide-show File Damaged", std::string("directory: ") + e.what());
  }
  return true;
}

bool TLumUnpack::ApplyProtection() {
  const TIniList* prot = directory_.Section(kProtectionSection);
  lumVersion_ = ReadString(prot, "lumversion", "");
  shift_ = 0;
  const TIniItem* strucpos = FindItem(prot, "strucpos");
  if (!strucpos) return true;
  constexpr int64_t kNotANumber = INT64_MIN;
  int64_t stored = ValueToInt64(strucpos->Value(), kNotANumber);
  int64_t actual = trailer_.directoryPos;
  if (stored == actual) return true;
  if (!ReadBool(prot, "allowmodify", false)) {
    return Fail("Slide-show File Modified",
                fmt::format("directory at {} but written at {}", actual, strucpos->Value()));
  }
  if (stored == kNotANumber || stored > actual || __builtin_sub_overflow(actual, stored, &shift_)) {
    shift_ = 0;
    return Fail("Slide-show File Damaged",
                fmt::format("directory at {} but written at {}", actual, strucpos->Value()));
  }
  return true;
}

bool TLumUnpack::EntryOf(const TIniSection* section, TMemberEntry& entry) const {
  int64_t ps = ReadInt64(section, "_ps", -1);
  int64_t sz = ReadInt64(section, "_sz", -1);
  // A missing position stays missing whatever the shift.
  if (ps == -1 || sz == -1) return false;
  int64_t pos;
  if (__builtin_add_overflow(ps, shift_, &pos)) pos = INT64_MIN;
  if (pos == -1) return false;
  entry.sectionName = std::string(section->Name());
  entry.position = pos;
  entry.size = sz;
  entry.method = ReadInteger(section, "_pm", 0);
  return true;
}

bool TLumUnpack::FindMember(std::string_view name, TMemberEntry& entry) const {
  const TIniList* list = directory_.Section(DirectoryName(name));
  if (!list || list == &directory_) return false;
  return EntryOf(static_cast<const TIniSection*>(list), entry);
}

std::vector<TMemberEntry> TLumUnpack::Members() const {
  std::vector<TMemberEntry> out;
  for (const TIniSection* s : directory_.Sections()) {
    TMemberEntry e;
    if (s->Name() != kProtectionSection && EntryOf(s, e)) out.push_back(std::move(e));
  }
  return out;
}

std::unique_ptr<TStream> TLumUnpack::OpenEntry(const TMemberEntry& entry) const {
  return OpenMemberStream(path_, entry.method, key_, entry.position, entry.size);
}

std::unique_ptr<TStream> TLumUnpack::OpenMember(std::string_view name) const {
  TMemberEntry entry;
  if (!FindMember(name, entry)) return nullptr;
  return OpenEntry(entry);
}

}  // namespace lum
