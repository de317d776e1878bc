#include "container/show_packer.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <unordered_set>

#include "container/disk_path.h"
#include "container/lum_show_locator.h"
#include "container/member_stream.h"
#include "foundation/case_fold.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/paths.h"
#include "foundation/side_file.h"
#include "document/ini_file.h"

namespace lum {

namespace {

// Values that could name a file: a file part with a short alphanumeric,
// not purely numeric extension ("a.jpg" yes, "1.5" no).
bool LooksLikeFileName(std::string_view v) {
  if (v.empty() || v.size() > 4096) return false;
  std::string_view ext = ExtractFileExt(v);
  if (ext.size() < 2 || ext.size() > 6) return false;
  bool letter = false;
  for (char c : ext.substr(1)) {
    bool digit = c >= '0' && c <= '9';
    bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!digit && !alpha) return false;
    letter |= alpha;
  }
  return letter;
}

void WalkValues(const TIniList& list, const std::function<void(std::string_view)>& visit) {
  std::vector<const TIniList*> stack{&list};
  while (!stack.empty()) {
    const TIniList* l = stack.back();
    stack.pop_back();
    for (const TIniItem* it : l->Items()) {
      if (it->Kind() == TIniKind::Object) {
        stack.push_back(static_cast<const TIniList*>(it));
      } else if (it->IsPlainItem()) {
        visit(it->Value());
      }
    }
  }
}

// The path with every link resolved, or "" when it does not exist.
std::string RealPath(const std::string& path) {
  if (path.empty()) return {};
  std::error_code ec;
  std::filesystem::path real = std::filesystem::canonical(path, ec);
  return ec ? std::string() : real.string();
}

}  // namespace

std::vector<TPackInput> CollectReferencedFiles(const TIniFile& document,
                                               const std::string& projectFolder,
                                               std::vector<TPackInput>* outside) {
  std::vector<TPackInput> out;
  std::unordered_set<std::string, TFoldedHash, TFoldedEqual> seen;
  const std::string realFolder = RealPath(projectFolder);
  const std::string root = realFolder.empty() ? "" : IncludeTrailingSlash(realFolder);
  auto visit = [&](std::string_view value) {
    std::string_view name = value.substr(0, value.find('|'));
    if (name.substr(0, 13) == "LoadFromDisk:" || !LooksLikeFileName(name)) return;
    if (seen.count(std::string(name))) return;
    seen.insert(std::string(name));
    std::string path = RealPath(FindDiskFile(name, projectFolder));
    if (path.empty()) return;
    if (!root.empty() && path.starts_with(root)) {
      out.push_back({std::string(name), path, -1});
    } else if (outside) {
      outside->push_back({std::string(name), path, -1});
    }
  };
  WalkValues(document, visit);
  for (const TIniSection* s : document.Sections()) WalkValues(*s, visit);
  return out;
}

std::vector<TPackInput> CollectFolder(const std::string& folder) {
  std::vector<TPackInput> out;
  std::vector<std::pair<std::string, std::string>> stack{{IncludeTrailingSlash(folder), ""}};
  while (!stack.empty()) {
    auto [dir, prefix] = stack.back();
    stack.pop_back();
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d) throw EFOpenError("Cannot read folder \"" + dir + "\"");
    std::vector<std::string> names;
    while (dirent* e = readdir(d.get())) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      std::string path = dir + n;
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        stack.push_back({path + "/", prefix + n + "\\"});
      } else if (S_ISREG(st.st_mode)) {
        out.push_back({prefix + n, path, -1});
      }
    }
  }
  return out;
}

TPackReport PackShow(const std::string& projectPath, const std::vector<TPackInput>& inputs,
                     const std::string& outputPath, const TPackOptions& options,
                     const TPackProgress& progress) {
  TPackReport report;
  // Written beside the output under a random name and renamed over it when
  // complete; the side file goes away on failure.
  TSideFile side(outputPath);
  {
    TFileStream& out = side.Stream();
    TLumPackWriter writer(out, options);
    std::unordered_set<std::string, TFoldedHash, TFoldedEqual> used;
    size_t number = 0;
    auto add = [&](const std::string& name, const std::string& path, int method) {
      ++number;
      if (!used.insert(name).second) return;
      if (progress) progress(number, inputs.size() + 1, name);
      TFileStream in(path, TFileStream::TMode::OpenRead);
      report.bytes += writer.AddMember(name, in, method);
      ++report.members;
    };
    int projectMethod = kMethodDeflate;
    for (const TPackInput& in : inputs) {
      if (FoldedEquals(in.name, kProjectMemberName) && in.method >= 0) projectMethod = in.method;
    }
    add(kProjectMemberName, projectPath, projectMethod);
    for (const TPackInput& in : inputs)
      add(in.name, in.diskPath, in.method >= 0 ? in.method : kMethodScramble);
    writer.Finish();
  }
  // A player with an appended show runs like the player itself.
  if (!options.executable.empty()) fchmod(side.Stream().Handle(), 0755);
  side.Commit();
  return report;
}

}  // namespace lum
