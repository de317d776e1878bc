#pragma once
// Packing a project and its files into a container (`lumshow pack`).
#include <functional>
#include <string>
#include <vector>

#include "container/lum_pack_writer.h"

namespace lum {

class TIniFile;

struct TPackInput {
  std::string name;      // member name as the show refers to it
  std::string diskPath;  // where its bytes come from
  int method = -1;       // -1: the default for its kind
};

// Files a project document refers to that exist on disk (relative to the
// project's folder, or by their drive-less path there): every value that
// names a file with an extension. "LoadFromDisk:" names stay on disk. Disk
// paths are real paths (links resolved). A project is often a stranger's:
// only files whose real path lies inside the project's folder are taken; the
// others ("..", absolute names, links pointing out) go to outside, if given.
std::vector<TPackInput> CollectReferencedFiles(const TIniFile& document,
                                               const std::string& projectFolder,
                                               std::vector<TPackInput>* outside = nullptr);

// Every file under folder, named by its path relative to folder with "\" separators.
std::vector<TPackInput> CollectFolder(const std::string& folder);

struct TPackReport {
  int64_t members = 0;
  int64_t bytes = 0;
};

// Called before each member is written: its number (from 1), the count, its name.
using TPackProgress = std::function<void(size_t number, size_t count, const std::string& name)>;

// Writes the container: "Project.lum" (the document's bytes, deflated) and then
// the inputs (later inputs with an already used name are skipped). Default
// methods: deflate for the project, scramble for everything else. The output
// appears only when complete.
TPackReport PackShow(const std::string& projectPath, const std::vector<TPackInput>& inputs,
                     const std::string& outputPath, const TPackOptions& options,
                     const TPackProgress& progress = nullptr);

}  // namespace lum
