// lumshow new: the inputs collected, the document built, then the show
// written as a container or as a folder with the document beside the files.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>

#include "commands.h"
#include "container/lum_pack_writer.h"
#include "container/lum_show_locator.h"
#include "container/member_stream.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/paths.h"
#include "foundation/side_file.h"
#include "media_inputs.h"
#include "show_maker.h"
#include "terminal_text.h"

namespace lum::lumshow {

namespace {

// One line on a terminal counting the files as they go in, redrawn a few
// times a second.
class TFileProgress {
 public:
  explicit TFileProgress(size_t total) : total_(total), enabled_(isatty(2) != 0) {}
  void Update(size_t done, const std::string& name) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    std::string shown = Printable(name);
    if (shown.size() > 50) shown = "..." + shown.substr(shown.size() - 47);
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done, total_, shown.c_str());
    drawn_ = true;
  }
  ~TFileProgress() {
    if (drawn_) std::fputs("\r\033[K", stderr);
  }

 private:
  size_t total_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// The folder a path lies in ("." for a bare name).
std::string FolderOf(const std::string& path) {
  std::string folder(ExtractFilePath(path));
  return folder.empty() ? "." : folder;
}

// The faults of an output file found before any work is done.
void CheckOutputFile(const std::string& path, bool force) {
  const std::string folder = FolderOf(path);
  if (!DirectoryExists(folder)) throw ELumError("no folder \"" + folder + "\" for the show");
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw ELumError("\"" + path + "\" is a folder");
    if (!force) throw ELumError("\"" + path + "\" exists; --force replaces it");
  }
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    throw ELumError("cannot write in folder \"" + folder + "\": " + std::strerror(errno));
}

// Each distinct member once, in the order of first use.
std::vector<const TMediaItem*> Members(const std::vector<TMediaItem>& items) {
  std::vector<const TMediaItem*> out;
  std::set<std::string> seen;
  for (const TMediaItem& it : items)
    if (seen.insert(it.member).second) out.push_back(&it);
  return out;
}

// The container's file, into which the kernel copies stored members
// (copy_file_range) rather than the bytes passing through this process.
class TContainerFile : public TStream {
 public:
  explicit TContainerFile(TFileStream& file) : f_(file) {}
  size_t Read(void* buffer, size_t count) override { return f_.Read(buffer, count); }
  size_t Write(const void* buffer, size_t count) override { return f_.Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return f_.Seek(offset, origin); }
  int64_t Position() override { return f_.Position(); }
  int64_t Size() override { return f_.Size(); }
  void SetSize(int64_t size) override { f_.SetSize(size); }

  int64_t CopyFrom(TStream& source, int64_t count) override {
    auto* in = dynamic_cast<TFileStream*>(&source);
    if (!in || count >= 0) return TStream::CopyFrom(source, count);
    f_.Flush();
    loff_t from = in->Position(), to = f_.Position();
    const loff_t start = to;
    ssize_t n;
    while ((n = copy_file_range(in->Handle(), &from, f_.Handle(), &to, size_t(1) << 30, 0)) > 0) {
    }
    in->SetPosition(from);
    f_.SetPosition(to);
    // Where the kernel cannot copy (file systems, old kernels), the rest goes the usual way.
    return (to - start) + (n < 0 ? TStream::CopyFrom(source, count) : 0);
  }

 private:
  TFileStream& f_;
};

int64_t WriteContainer(const std::string& output, const std::string& document,
                       const std::vector<const TMediaItem*>& members) {
  TSideFile side(output);
  TContainerFile out(side.Stream());
  TLumPackWriter writer(out, TPackOptions{});
  writer.AddMember(kProjectMemberName, document, kMethodDeflate);
  TFileProgress progress(members.size());
  size_t done = 0;
  for (const TMediaItem* m : members) {
    progress.Update(++done, m->member);
    TFileStream in(m->path, TFileStream::TMode::OpenRead);
    // Pictures, music and videos are compressed already: stored as they are.
    writer.AddMember(m->member, in, kMethodStored);
  }
  writer.Finish();
  const int64_t bytes = side.Stream().Position();
  side.Commit();
  return bytes;
}

// The disk path of a member inside folder: "\" separates folders.
std::string MemberPath(const std::string& folder, const std::string& member) {
  std::string rel = member;
  for (char& c : rel)
    if (c == '\\') c = '/';
  return IncludeTrailingSlash(folder) + rel;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Puts the file at target: a hard link where the file system allows, else a
// copy that appears only when complete.
void PlaceFile(const std::string& source, const std::string& target, bool force) {
  struct stat st;
  if (lstat(target.c_str(), &st) == 0) {
    if (SameFile(source, target)) return;
    if (!force) throw ELumError("\"" + target + "\" exists; --force replaces it");
    if (S_ISDIR(st.st_mode)) throw ELumError("\"" + target + "\" is a folder");
  }
  const std::string folder = FolderOf(target);
  if (!ForceDirectories(folder)) throw ELumError("cannot make folder \"" + folder + "\"");
  if (lstat(target.c_str(), &st) != 0 && link(source.c_str(), target.c_str()) == 0) return;
  TSideFile side(target);
  TFileStream in(source, TFileStream::TMode::OpenRead);
  side.Stream().CopyFrom(in, -1);
  side.Commit();
}

void WriteFolder(const std::string& folder, const std::string& document,
                 const std::vector<const TMediaItem*>& members, bool force) {
  if (!DirectoryExists(folder) && mkdir(folder.c_str(), 0755) != 0)
    throw ELumError("cannot make folder \"" + folder + "\": " + std::strerror(errno));
  TFileProgress progress(members.size());
  size_t done = 0;
  for (const TMediaItem* m : members) {
    progress.Update(++done, m->member);
    PlaceFile(m->path, MemberPath(folder, m->member), force);
  }
  // The document last: a folder without it is no show yet.
  TSideFile side(IncludeTrailingSlash(folder) + kProjectMemberName);
  side.Stream().WriteBuffer(document.data(), document.size());
  side.Commit();
}

// The faults of an output folder found before any work is done: its parent
// must exist (the folder itself is made when the show is written).
void CheckFolder(const std::string& folder, bool force) {
  if (DirectoryExists(folder))
    return CheckOutputFile(IncludeTrailingSlash(folder) + kProjectMemberName, force);
  std::string trimmed = folder;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::string parent = FolderOf(trimmed);
  if (!DirectoryExists(parent)) throw ELumError("no folder \"" + parent + "\" for the show");
  if (access(parent.c_str(), W_OK | X_OK) != 0)
    throw ELumError("cannot write in folder \"" + parent + "\": " + std::strerror(errno));
}

}  // namespace

int New(const TNewArgs& args) {
  if (args.inputs.empty()) throw TUsageError{"new: name the pictures or folders to show"};
  if (args.output.empty() == args.folder.empty())
    throw TUsageError{"new: give either -o OUT.lumshow or --folder DIR"};
  if (!args.output.empty()) CheckOutputFile(args.output, args.force);
  if (!args.folder.empty()) CheckFolder(args.folder, args.force);
  const std::vector<TMediaItem> items = CollectMedia(args);
  // Built before anything is written: options it cannot honour leave no trace.
  const std::string document = BuildShowDocument(items, args);
  const std::vector<const TMediaItem*> members = Members(items);
  int64_t bytes = 0;
  if (!args.output.empty()) {
    bytes = WriteContainer(args.output, document, members);
  } else {
    WriteFolder(args.folder, document, members, args.force);
  }
  size_t slides = 0, music = 0;
  for (const TMediaItem& it : items) (it.kind == TMediaKind::Music ? music : slides) += 1;
  std::fprintf(stderr, "lumshow: made %s: %zu slide(s), %zu music file(s), %zu file(s) stored%s\n",
               Printable(args.output.empty() ? args.folder : args.output).c_str(), slides, music,
               members.size(), bytes > 0 ? (", " + std::to_string(bytes) + " bytes").c_str() : "");
  return 0;
}

}  // namespace lum::lumshow
