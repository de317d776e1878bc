#pragma once
// Opens a show: a container (executable with appended container, .lumshow
// file, bundle) or a project document on disk (folder mode), and ties
// together its accessor and parsed project document.
#include <memory>
#include <string>
#include <vector>

#include "container/file_accessor.h"
#include "container/lum_unpack.h"
#include "document/ini_file.h"

namespace lum {

inline constexpr const char* kProjectMemberName = "Project.lum";

class TLumShowLocator {
 public:
  // Opens a container; nothing on failure, with message set to the user text
  // ("" when the file carries no container at all).
  static std::unique_ptr<TLumShowLocator> OpenContainer(const std::string& path,
                                                        std::string& message);
  // Opens a project document from disk; nothing (with message) on failure.
  static std::unique_ptr<TLumShowLocator> OpenProjectFile(const std::string& path,
                                                          std::string& message);
  // Trailer, directory and protection checks only; gives "lumversion".
  static bool QuickCheck(const std::string& path, std::string* lumVersion);
  // Any form a user may name: container, show executable, bundle folder or
  // project document. The message says what failed, with the paths tried.
  static std::unique_ptr<TLumShowLocator> OpenAny(const std::string& path, std::string& message);
  // The files OpenAny tries as containers for a path, in order: the resolved
  // container path, then the ".lumshow" sibling when that exists.
  static std::vector<std::string> ContainerCandidates(const std::string& path);

  TIniFile& Document() { return *document_; }
  const TIniFile& Document() const { return *document_; }
  const TRef<TFileAccessor>& Accessor() const { return accessor_; }
  bool IsContainer() const { return unpack_ != nullptr; }
  // The container reader; null in folder mode.
  const TLumUnpack* Unpack() const { return unpack_; }
  // [Main] "LumVersion" of the project.
  const std::string& LumVersion() const { return lumVersion_; }
  const std::string& ProjectMemberName() const { return projectName_; }
  // The file the show was opened from (container or project document).
  const std::string& Path() const { return path_; }

 private:
  TLumShowLocator() = default;
  void ReadCommon();

  std::unique_ptr<TIniFile> document_;
  TRef<TFileAccessor> accessor_;
  const TLumUnpack* unpack_ = nullptr;  // owned by the packed source
  std::string lumVersion_;
  std::string projectName_;
  std::string path_;
};

}  // namespace lum
