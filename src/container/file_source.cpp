#include "container/file_source.h"

#include "container/disk_path.h"
#include "container/path_modifiers.h"
#include "foundation/file_stream.h"
#include "document/ini_file.h"

namespace lum {

namespace {

std::atomic<uint64_t> gSequence{0};

// Bounds FileMap chains so that entries naming each other cannot loop.
constexpr int kMaxMapSteps = 32;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

TFileSource::TFileSource() : sequence_(++gSequence) {}

std::unique_ptr<TStream> OpenDiskFile(std::string_view name, std::string_view baseFolder) {
  std::string_view file = name.substr(0, name.find('|'));
  std::string path = FindDiskFile(ApplyPathModifiers(file), baseFolder);
  if (path.empty()) return nullptr;
  return TFileStream::TryOpenRead(path);
}

std::unique_ptr<TStream> TRealFileSource::Open(std::string_view name) {
  std::lock_guard<std::mutex> lock(lock_);
  return OpenDiskFile(name, base_);
}

bool ParseFileMapLine(std::string_view line, std::string& from, std::string& to) {
  if (line.empty() || line[0] != ';') return false;
  line.remove_prefix(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '=' && !quoted) {
      from = std::string(Unquote(Trim(line.substr(0, i))));
      to = std::string(Unquote(Trim(line.substr(i + 1))));
      return !from.empty() && !to.empty();
    }
  }
  return false;
}

bool ParseRotationLine(std::string_view line, std::string& name, int& code) {
  if (line.size() < 2 || line[0] != ';' || line[1] != '"') return false;
  size_t end = line.find("\"=", 2);
  if (end == std::string_view::npos) return false;
  name = std::string(line.substr(2, end - 2));
  code = ValueToInt(line.substr(end + 2), 0);
  return code == 1 || code == 3 || code == 6 || code == 8;
}

void TMappedFileSource::LoadMaps(const TIniFile& document) {
  std::string a, b;
  int code;
  if (const TIniList* map = document.Section("FileMap")) {
    for (const TIniItem* it : map->Items()) {
      if (it->IsText() && ParseFileMapLine(it->Value(), a, b)) AddFileMap(a, b);
    }
  }
  if (const TIniList* rot = document.Section("RotationState")) {
    for (const TIniItem* it : rot->Items()) {
      if (it->IsText() && ParseRotationLine(it->Value(), a, code)) AddRotation(a, code);
    }
  }
}

void TMappedFileSource::AddFileMap(std::string_view from, std::string_view to) {
  fileMap_[std::string(from)] = std::string(to);
}

void TMappedFileSource::AddRotation(std::string_view name, int code) {
  rotations_[std::string(name)] = code;
}

std::string TMappedFileSource::MapName(std::string_view name) const {
  std::string current(name);
  for (int step = 0; step < kMaxMapSteps; ++step) {
    auto it = fileMap_.find(current);
    if (it == fileMap_.end()) return current;
    current = it->second;
  }
  return {};
}

std::unique_ptr<TStream> TMappedFileSource::Open(std::string_view name) {
  std::lock_guard<std::mutex> lock(lock_);
  std::string mapped = MapName(name);
  if (mapped.empty()) return nullptr;
  return OpenMapped(mapped);
}

std::unique_ptr<TStream> TMappedFileSource::OpenMapped(std::string_view name) {
  return OpenDiskFile(name, base_);
}

int TMappedFileSource::Rotation(std::string_view name) const {
  auto it = rotations_.find(std::string(name));
  if (it == rotations_.end()) {
    std::string mapped = MapName(name);
    if (!mapped.empty() && mapped != name) it = rotations_.find(mapped);
  }
  return it == rotations_.end() ? 1 : it->second;
}

std::unique_ptr<TStream> TPackedFileSource::OpenMapped(std::string_view name) {
  return unpack_->OpenMember(name);
}

}  // namespace lum
