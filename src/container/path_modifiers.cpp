#include "container/path_modifiers.h"

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <optional>

#include "container/disk_path.h"
#include "foundation/case_fold.h"
#include "foundation/paths.h"
#include "document/ini_file.h"

namespace lum {

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string Home() {
  return EnvOr("HOME", "/tmp");
}

std::string TempFolder() {
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
    const char* v = std::getenv(name);
    if (v && *v && DirectoryExists(v)) return v;
  }
  if (DirectoryExists("/tmp")) return "/tmp";
  std::string exeTemp = ExecutableFolder() + "TEMP";
  if (DirectoryExists(exeTemp) || mkdir(exeTemp.c_str(), 0700) == 0) return exeTemp;
  return ExecutableFolder();
}

std::optional<std::string> TokenFolder(std::string_view token) {
  if (FoldedEquals(token, "%APPDATA%")) return EnvOr("XDG_CONFIG_HOME", Home() + "/.config");
  if (FoldedEquals(token, "%LOCALAPPDATA%"))
    return EnvOr("XDG_DATA_HOME", Home() + "/.local/share");
  if (FoldedEquals(token, "%PROGRAMDATA%")) {
    return DirectoryExists("/usr/local/share") ? "/usr/local/share" : "/usr/share";
  }
  if (FoldedEquals(token, "%SYSTEMROOT%")) return std::string("C:\\Windows");
  if (FoldedEquals(token, "%TEMP%")) return TempFolder();
  return std::nullopt;
}

std::string StripTrailingSeparators(std::string s) {
  while (s.size() > 1 && (s.back() == '/' || s.back() == '\\')) s.pop_back();
  return s;
}

// A configured folder as a POSIX folder: token expanded, separators mapped,
// relative folders taken from the program's folder.
std::string ResolveFolder(std::string_view folder) {
  std::string expanded = ExpandFolderToken(folder);
  bool windowsAbsolute = expanded.size() >= 2 && expanded[1] == ':';
  std::string posix = ToPosixSeparators(expanded);
  if (!windowsAbsolute && (posix.empty() || posix[0] != '/')) posix = ExecutableFolder() + posix;
  return StripTrailingSeparators(posix);
}

std::mutex gMutex;
std::optional<std::vector<TPathModifier>> gList;

}  // namespace

std::string ExpandFolderToken(std::string_view folder) {
  if (folder.size() < 2 || folder[0] != '%') return std::string(folder);
  size_t close = folder.find('%', 1);
  if (close == std::string_view::npos || close + 1 > 14) return std::string(folder);
  std::optional<std::string> base = TokenFolder(folder.substr(0, close + 1));
  if (!base) return std::string(folder);
  std::string_view rest = folder.substr(close + 1);
  if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) rest.remove_prefix(1);
  std::string out = *base;
  char sep = base->size() >= 2 && (*base)[1] == ':' ? '\\' : '/';
  if (out.empty() || (out.back() != '/' && out.back() != '\\')) out += sep;
  return out + std::string(rest);
}

std::vector<TPathModifier> BuiltInPathModifiers() {
  return {
      {"%styles%", ResolveFolder("All\\Themes"), false},
      {"%styles%", ResolveFolder("%LOCALAPPDATA%\\Orvak\\Styles"), true},
      {"%effects%", ResolveFolder("All\\Effects"), false},
      {"%effects%", ResolveFolder("%LOCALAPPDATA%\\Orvak\\Effects"), true},
  };
}

std::vector<TPathModifier> PathModifiers() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (!gList) gList = BuiltInPathModifiers();
  return *gList;
}

void SetPathModifiers(std::vector<TPathModifier> list) {
  std::lock_guard<std::mutex> lock(gMutex);
  gList = std::move(list);
}

std::vector<TPathModifier> ReadPathModifiers(const TIniList& section) {
  std::vector<TPathModifier> list;
  int count = ReadInteger(&section, "Count", 0);
  for (int i = 0; i < count && i < 10000; ++i) {
    std::string n = std::to_string(i);
    std::string token = ReadString(&section, "Env" + n, "");
    if (token.empty()) continue;
    list.push_back({token, ResolveFolder(ReadString(&section, "Path" + n, "")),
                    ReadBool(&section, "Def" + n, false)});
  }
  return list;
}

std::string ApplyPathModifiers(std::string_view name) {
  if (name.find('%') == std::string_view::npos) return std::string(name);
  std::vector<TPathModifier> list = PathModifiers();
  std::string out(name);
  size_t from = 0;
  for (;;) {
    size_t open = out.find('%', from);
    if (open == std::string::npos) break;
    size_t close = out.find('%', open + 1);
    if (close == std::string::npos) break;
    std::string_view token(out.data() + open, close + 1 - open);
    std::optional<std::string> chosen, fallback;
    for (const TPathModifier& m : list) {
      if (!FoldedEquals(m.token, token)) continue;
      std::string candidate = out.substr(0, open) + m.folder + out.substr(close + 1);
      std::string file = candidate.substr(0, candidate.find('|'));
      if (!FindDiskFile(file, {}).empty()) {
        chosen = candidate;
        break;
      }
      if (m.isDefault && !fallback) fallback = candidate;
    }
    if (!chosen) chosen = fallback;
    if (!chosen) {
      from = close;  // the span stays; look for the next one from its closing "%"
      continue;
    }
    size_t folderLen = chosen->size() - (out.size() - (close + 1 - open));
    out = *chosen;
    from = open + folderLen;
  }
  return out;
}

}  // namespace lum
