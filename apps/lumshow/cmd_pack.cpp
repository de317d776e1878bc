#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <fmt/format.h>

#include "commands.h"
#include "container/member_stream.h"
#include "container/show_packer.h"
#include "document/ini_file.h"
#include "foundation/case_fold.h"
#include "foundation/errors.h"
#include "foundation/paths.h"
#include "terminal_text.h"

namespace lum::lumshow {

namespace {

std::pair<std::string, std::string> SplitAssignment(const std::string& text, const char* what) {
  size_t eq = text.rfind('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
    throw TUsageError{fmt::format("{} \"{}\" is not NAME=VALUE", what, text)};
  }
  return {text.substr(0, eq), text.substr(eq + 1)};
}

int MethodOf(const std::string& text) {
  if (FoldedEquals(text, "stored")) return kMethodStored;
  if (FoldedEquals(text, "deflate")) return kMethodDeflate;
  if (FoldedEquals(text, "scramble")) return kMethodScramble;
  throw TUsageError{"unknown method \"" + text + "\" (stored, deflate or scramble)"};
}

// A MEMBER without "=": the file of references that lie outside the project's
// folder, packed under their names.
void AddNamedOutsideFile(const std::string& path, const std::vector<TPackInput>& outside,
                         std::vector<TPackInput>& inputs) {
  std::error_code ec;
  const std::string real = std::filesystem::canonical(path, ec).string();
  bool found = false;
  for (const TPackInput& ref : outside) {
    if (ec || ref.diskPath != real) continue;
    inputs.push_back(ref);
    found = true;
  }
  if (!found)
    throw TUsageError{fmt::format(
        "\"{}\" is neither NAME=PATH nor a file the project refers to outside its folder", path)};
}

// Says which references were left out, unless the command line gave a member of that name.
void ReportSkipped(const std::vector<TPackInput>& outside, const std::vector<TPackInput>& inputs) {
  for (const TPackInput& ref : outside) {
    const bool named = std::any_of(inputs.begin(), inputs.end(), [&](const TPackInput& in) {
      return FoldedEquals(in.name, ref.name);
    });
    if (named) continue;
    std::fprintf(stderr,
                 "lumshow: skipped \"%s\": it lies outside the project's folder (%s); name the "
                 "file on the command line to pack it\n",
                 Printable(ref.name).c_str(), Printable(ref.diskPath).c_str());
  }
}

}  // namespace

std::string PlayerBeside(const char* argv0) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::absolute(argv0, ec);
  const fs::path dir = self.parent_path();
  for (const fs::path& p : {dir / "lumviewer", dir / "../lumviewer/lumviewer"})
    if (fs::is_regular_file(p, ec)) return p.lexically_normal().string();
  throw TUsageError{"--exe: no lumviewer beside " + self.string() + "; name the player"};
}

int Pack(const TPackArgs& args) {
  TIniFile doc;
  if (!doc.LoadFromFile(args.project))
    throw ELumError("cannot read the project: " + doc.LoadError());
  // References outside the project's folder are packed only when the command
  // line names their file; the rest are reported and left out.
  std::vector<TPackInput> references, outside;
  if (!args.noReferences) {
    std::string folder(ExtractFilePath(args.project));
    references = CollectReferencedFiles(doc, folder.empty() ? CurrentFolder() : folder, &outside);
  }
  std::vector<TPackInput> inputs;
  for (const std::string& m : args.members) {
    if (m.find('=') == std::string::npos) {
      AddNamedOutsideFile(m, outside, inputs);
      continue;
    }
    auto [name, path] = SplitAssignment(m, "member");
    if (!FileExists(path)) throw ELumError("no file \"" + path + "\" for member \"" + name + "\"");
    inputs.push_back({name, path, -1});
  }
  for (const std::string& f : args.folders) {
    if (!DirectoryExists(f)) throw ELumError("no folder \"" + f + "\"");
    for (TPackInput& in : CollectFolder(f)) inputs.push_back(std::move(in));
  }
  ReportSkipped(outside, inputs);
  for (TPackInput& in : references) inputs.push_back(std::move(in));
  std::vector<TPackInput> methodOnly;
  for (const std::string& m : args.methods) {
    auto [name, method] = SplitAssignment(m, "method");
    int value = MethodOf(method);
    bool found = false;
    for (TPackInput& in : inputs) {
      if (FoldedEquals(in.name, name)) in.method = value, found = true;
    }
    if (!found) methodOnly.push_back({name, "", value});
  }
  for (const TPackInput& m : methodOnly) {
    if (!FoldedEquals(m.name, "Project.lum"))
      throw TUsageError{"--method names no member: \"" + m.name + "\""};
    inputs.push_back(m);
  }
  TPackOptions options;
  options.executable = args.executable;
  options.basePadding = args.basePadding;
  options.longTrailer = args.longTrailer;
  options.allowModify = args.allowModify;
  options.lumVersion = doc.ReadString("Main", "LumVersion", "");
  // On a terminal, one line that counts the members as they go in.
  TPackProgress progress;
  if (isatty(2)) {
    progress = [](size_t number, size_t count, const std::string& name) {
      std::string shown = Printable(name);
      if (shown.size() > 50) shown = "..." + shown.substr(shown.size() - 47);
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", number, count, shown.c_str());
    };
  }
  TPackReport r = PackShow(args.project, inputs, args.output, options, progress);
  if (progress) std::fputs("\r\033[K", stderr);
  std::fprintf(stderr, "lumshow: packed %lld member(s), %lld bytes, into %s\n",
               static_cast<long long>(r.members), static_cast<long long>(r.bytes),
               args.output.c_str());
  return 0;
}

}  // namespace lum::lumshow
