#include "container/lum_show_locator.h"

#include "container/container_path.h"
#include "container/disk_path.h"
#include "container/path_modifiers.h"
#include "foundation/file_stream.h"
#include "foundation/log.h"
#include "foundation/paths.h"

namespace lum {

namespace {

std::string FolderOf(const std::string& path) {
  std::string_view folder = ExtractFilePath(path);
  return folder.empty() ? CurrentFolder() : std::string(folder);
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

}  // namespace

void TLumShowLocator::ReadCommon() {
  lumVersion_ = document_->ReadString("Main", "LumVersion", "");
}

std::unique_ptr<TLumShowLocator> TLumShowLocator::OpenContainer(const std::string& path,
                                                                std::string& message) {
  message.clear();
  std::string real = TReplacePair::Target(path);
  if (!real.empty()) return OpenProjectFile(real, message);

  auto unpack = std::make_unique<TLumUnpack>();
  if (!unpack->Open(path)) {
    message = unpack->Error();
    if (!message.empty() && !unpack->ErrorDetail().empty())
      message += " (" + unpack->ErrorDetail() + ")";
    return nullptr;
  }
  const TLumUnpack* reader = unpack.get();
  auto source = MakeRef<TPackedFileSource>(std::move(unpack));
  std::unique_ptr<TLumShowLocator> loc(new TLumShowLocator());
  loc->path_ = path;
  loc->unpack_ = reader;
  loc->accessor_ = MakeRef<TFileAccessor>(source, FolderOf(path));
  loc->projectName_ = kProjectMemberName;
  loc->document_ = std::make_unique<TIniFile>();
  try {
    std::unique_ptr<TStream> project = reader->OpenMember(kProjectMemberName);
    if (!project || !loc->document_->Load(*project)) {
      message = "Executable SlideShow Open Error";
      if (!project)
        message += " (the container has no " + std::string(kProjectMemberName) + ")";
      else
        message += " (" + loc->document_->LoadError() + ")";
      return nullptr;
    }
  } catch (const std::exception& e) {
    message = std::string("Executable SlideShow Open Error (") + e.what() + ")";
    return nullptr;
  }
  loc->ReadCommon();
  source->LoadMaps(*loc->document_);
  Log().Line("Show opened: " + path);
  return loc;
}

std::unique_ptr<TLumShowLocator> TLumShowLocator::OpenProjectFile(const std::string& path,
                                                                  std::string& message) {
  message.clear();
  std::string projectFolder = FolderOf(path);
  auto source = MakeRef<TMappedFileSource>(projectFolder);
  std::unique_ptr<TStream> stream = TFileStream::TryOpenRead(path);
  auto doc = std::make_unique<TIniFile>();
  if (!stream || !doc->Load(*stream)) {
    message = "Can`t Load .lum File\r" + Quoted(path);
    if (stream) message += " (" + doc->LoadError() + ")";
    return nullptr;
  }
  std::unique_ptr<TLumShowLocator> loc(new TLumShowLocator());
  loc->path_ = path;
  loc->projectName_ = path;
  loc->document_ = std::move(doc);
  loc->ReadCommon();
  // The show folder is where the executable was built; on this machine that
  // folder rarely exists, and then the project's own folder stands in.
  std::string showFolder = projectFolder;
  std::string exe = loc->document_->ReadString("Main", "opt_exefn", "");
  if (!exe.empty()) {
    std::string exeFolder = ToPosixSeparators(ExtractFilePath(exe));
    if (DirectoryExists(exeFolder)) showFolder = IncludeTrailingSlash(exeFolder);
  }
  loc->accessor_ = MakeRef<TFileAccessor>(source, showFolder);
  source->LoadMaps(*loc->document_);
  if (const TIniList* mods = loc->document_->Section("PathModifiers")) {
    SetPathModifiers(ReadPathModifiers(*mods));
  }
  Log().Line("Project opened: " + path);
  return loc;
}

bool TLumShowLocator::QuickCheck(const std::string& path, std::string* lumVersion) {
  try {
    TLumUnpack unpack;
    if (!unpack.Open(path)) return false;
    if (lumVersion) *lumVersion = unpack.LumVersion();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<std::string> TLumShowLocator::ContainerCandidates(const std::string& path) {
  std::string first = ResolveContainerPath(path);
  if (DirectoryExists(path) && first == path) {
    // A bundle folder without the ".app" name.
    std::string dat = IncludeTrailingSlash(path) + "Contents/Resources/slideshow.dat";
    if (FileExists(dat)) first = dat;
  }
  std::vector<std::string> out{first};
  std::string second = ResolveContainerPath(ChangeFileExt(path, ".lumshow"));
  if (second != first && FileExists(second)) out.push_back(second);
  return out;
}

std::unique_ptr<TLumShowLocator> TLumShowLocator::OpenAny(const std::string& path,
                                                          std::string& message) {
  std::vector<std::string> tried = ContainerCandidates(path);
  std::string first = tried[0];
  std::string second = ChangeFileExt(path, ".lumshow");
  std::string firstMessage;
  for (const std::string& candidate : tried) {
    if (auto loc = OpenContainer(candidate, message)) return loc;
    if (firstMessage.empty()) firstMessage = message;
  }
  // No container in the file: a project document (folder mode).
  if (firstMessage.empty() && FileExists(path)) {
    auto loc = OpenProjectFile(path, message);
    if (loc && loc->Document().Section("Main")) return loc;
    if (loc)
      message = "Can`t Load Show\r" + Quoted(path) +
                " is neither a show container nor a project document";
    return nullptr;
  }
  message =
      (firstMessage.empty() ? std::string("Can`t Load Show") : firstMessage) + "\r" + Quoted(first);
  if (second != first) message += " or " + Quoted(second);
  return nullptr;
}

}  // namespace lum
