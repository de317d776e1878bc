#include "media_inputs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>

#include "audio/decoders/media_info.h"
#include "foundation/case_fold.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/sha256.h"
#include "imaging/picture_metadata.h"
#include "media_facts.h"
#include "terminal_text.h"
#include "video/ffmpeg_dll.h"
#include "video/video_source.h"

namespace lum::lumshow {

namespace {

// Folders nest deeper than this only by accident or malice.
constexpr int kMaxFolderDepth = 32;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// A file met among the inputs.
struct TFound {
  std::string path;
  bool music = false;  // named by --music
};

bool IsMusicName(std::string_view name) {
  static const std::set<std::string, std::less<>> kMusic = {
      ".mp3", ".mp2", ".mp1", ".wav", ".ogg", ".oga", ".opus", ".flac", ".m4a", ".aac", ".wma"};
  return kMusic.count(Lower(ExtensionOf(name))) > 0;
}

bool IsVideoName(std::string_view name) {
  static const std::set<std::string, std::less<>> kVideo = {
      ".mp4", ".m4v", ".mov", ".avi",  ".mkv", ".webm", ".mpg", ".mpeg", ".wmv",
      ".flv", ".ts",  ".mts", ".m2ts", ".3gp", ".ogv",  ".vob", ".asf"};
  return kVideo.count(Lower(ExtensionOf(name))) > 0;
}

void Skip(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "lumshow: skipped \"%s\": %s\n", Printable(path).c_str(), why.c_str());
}

class TWalker {
 public:
  std::vector<TFound> found;

  void Input(const std::string& path, bool music) {
    struct stat st;
    const char* fault = nullptr;
    if (stat(path.c_str(), &st) != 0) {
      fault = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode) && !music) {
      return Folder(path, st, 0);
    } else if (!S_ISREG(st.st_mode)) {
      fault = "not a file or folder";
    }
    if (!fault) return found.push_back({path, music});
    // Music named by --music was asked for: missing it is an error, not a skip.
    if (music) throw ELumError("cannot use the music \"" + Printable(path) + "\": " + fault);
    Skip(path, fault);
  }

 private:
  // Folder contents by name; links followed, but a folder is entered once,
  // so a link loop ends.
  void Folder(const std::string& dir, const struct stat& st, int depth) {
    if (!entered_.insert({st.st_dev, st.st_ino}).second) return;
    if (depth >= kMaxFolderDepth) return Skip(dir, "folders nested too deep");
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d) return Skip(dir, std::strerror(errno));
    std::vector<std::string> names;
    while (dirent* e = readdir(d.get())) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(std::move(n));
    }
    d.reset();
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalCompare(a, b) < 0; });
    const std::string prefix = dir.back() == '/' ? dir : dir + "/";
    for (const std::string& n : names) {
      const std::string path = prefix + n;
      struct stat sub;
      if (stat(path.c_str(), &sub) != 0) {
        Skip(path, std::strerror(errno));
      } else if (S_ISDIR(sub.st_mode)) {
        // Hidden folders hold thumbnails and tools' caches, not the user's pictures.
        if (n[0] != '.') Folder(path, sub, depth + 1);
      } else if (S_ISREG(sub.st_mode)) {
        found.push_back({path, false});
      } else {
        Skip(path, "not a file or folder");
      }
    }
  }

  std::set<std::pair<dev_t, ino_t>> entered_;
};

// One usable input while collecting: the item plus what finds duplicates.
struct TCandidate {
  TMediaItem item;
  int64_t size = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string fingerprint;  // quick hash of the first and last bytes
  std::string hash;         // of the whole file, made only when needed
};

// Most headers fit the first read; only pictures whose header is longer are
// read again, up to kPictureHeadBytes.
constexpr size_t kFirstHeadBytes = 64 << 10;

// The first headBytes and the last kPictureTailBytes of a file of size bytes;
// the stream is left at its start.
void ReadEnds(TStream& s, int64_t size, size_t headBytes, std::string& head, std::string& tail) {
  s.SetPosition(0);
  head.resize(size_t(std::min<int64_t>(size, int64_t(headBytes))));
  head.resize(ReadFull(s, head.data(), head.size()));
  const int64_t tailAt = std::max<int64_t>(0, size - int64_t(kPictureTailBytes));
  s.SetPosition(tailAt);
  tail.resize(size_t(size - tailAt));
  tail.resize(ReadFull(s, tail.data(), tail.size()));
  s.SetPosition(0);
}

// Whether an end-of-image marker follows from (within the image data, where
// 0xFF is always followed by 0 or a restart marker): the photo is whole even
// when other data was appended after it.
bool JpegEndAfter(TStream& s, int64_t from) {
  constexpr size_t kPiece = 1 << 20;
  std::string piece(kPiece + 1, '\0');
  s.SetPosition(from);
  size_t kept = 0;  // a 0xFF at the end of the last piece
  while (size_t n = ReadFull(s, piece.data() + kept, kPiece)) {
    if (std::string_view(piece.data(), kept + n).find("\xFF\xD9") != std::string_view::npos)
      return true;
    kept = piece[kept + n - 1] == '\xFF' ? 1 : 0;
    piece[0] = '\xFF';
  }
  return false;
}

class TClassifier {
 public:
  // The candidate for a file, or false (with a message) when it is not usable.
  bool Classify(const TFound& f, TCandidate& c) {
    std::unique_ptr<TFileStream> s;
    try {
      s = TFileStream::TryOpenRead(f.path);
    } catch (const std::exception&) {
    }
    if (!s) return Fail(f, "cannot be read");
    struct stat st;
    if (fstat(s->Handle(), &st) != 0) return Fail(f, "cannot be read");
    std::string head, tail;
    try {
      c.size = s->Size();
      ReadEnds(*s, c.size, kFirstHeadBytes, head, tail);
    } catch (const std::exception& e) {
      return Fail(f, std::string("cannot be read: ") + e.what());
    }
    c.item.path = f.path;
    c.dev = st.st_dev, c.ino = st.st_ino;
    c.item.sortTime = int64_t(st.st_mtime);
    // A quick hash of the ends tells most files apart; a whole-file hash
    // settles only the files that agree on it and on their size.
    const std::hash<std::string_view> quick;
    c.fingerprint = std::to_string(quick(head)) + ":" + std::to_string(quick(tail));
    // The POSIX file name: "\" and ":" are ordinary characters here.
    const std::string name = f.path.substr(f.path.rfind('/') + 1);
    if (f.music || IsMusicName(name)) return Music(f, std::move(s), name, c);
    TPictureFacts p = ReadPictureFacts(head, tail, c.size);
    // Headers longer than the first read (large colour profiles) get the longest.
    if (p.problem == kDamagedHeader && int64_t(head.size()) < c.size) {
      try {
        ReadEnds(*s, c.size, kPictureHeadBytes, head, tail);
      } catch (const std::exception& e) {
        return Fail(f, std::string("cannot be read: ") + e.what());
      }
      p = ReadPictureFacts(head, tail, c.size);
    }
    if (p.format == ".jpg" && p.problem == kCutShort && c.size > int64_t(head.size()) &&
        JpegEndAfter(*s, std::max<int64_t>(p.imageDataAt, int64_t(head.size()) - 1)))
      p.problem.clear();
    if (!p.format.empty()) {
      if (!p.problem.empty()) return Fail(f, "damaged picture (" + p.problem + ")");
      c.item.kind = TMediaKind::Picture;
      c.item.width = p.width, c.item.height = p.height;
      c.item.orientation = p.orientation;
      const int64_t taken = ExifDateSeconds(p.date);
      if (taken >= 0) c.item.sortTime = taken;
      c.item.member = MemberNameFor(name, p.format);
      return true;
    }
    if (IsVideoName(name)) return Video(f, std::move(s), name, c);
    return Fail(f, "not a picture, video or music file");
  }

  // Says once how many videos went without the video library.
  void Report() const {
    if (videosWithoutLibrary_ > 0)
      std::fprintf(stderr,
                   "lumshow: %d video file(s) left out: the video library (liblumvideo.so) is "
                   "not installed, so the show has no video slides\n",
                   videosWithoutLibrary_);
  }

 private:
  bool Fail(const TFound& f, const std::string& why) {
    // Music named by --music was asked for: missing it is an error, not a skip.
    if (f.music) throw ELumError("cannot use the music \"" + Printable(f.path) + "\": " + why);
    Skip(f.path, why);
    return false;
  }

  bool Music(const TFound& f, std::unique_ptr<TFileStream> s, const std::string& name,
             TCandidate& c) {
    TMediaInfo info;
    if (!DetectMediaInfo(s.get(), name, info) || info.durationMs == 0)
      return Fail(f, "not a sound file the player plays");
    c.item.kind = TMediaKind::Music;
    c.item.durationMs = info.durationMs;
    c.item.member = MemberNameFor(name, "");
    return true;
  }

  bool Video(const TFound& f, std::unique_ptr<TFileStream> s, const std::string& name,
             TCandidate& c) {
    if (!libraryTried_) {
      library_ = TFFMpegDll::Acquire();
      libraryTried_ = true;
    }
    if (!library_) {
      ++videosWithoutLibrary_;
      return false;
    }
    std::string why;
    TRef<TWinVideoSource> v = TWinVideoSource::Open(library_, name, std::move(s), &why);
    if (!v) return Fail(f, why.empty() ? "not a video the player plays" : why);
    c.item.kind = TMediaKind::Video;
    c.item.width = v->Width(), c.item.height = v->Height();
    c.item.durationMs = int64_t(v->DurationMs() + 0.5);
    c.item.member = MemberNameFor(name, "");
    return true;
  }

  TRef<TFFMpegDll> library_;
  bool libraryTried_ = false;
  int videosWithoutLibrary_ = 0;
};

void SortCandidates(std::vector<TCandidate>& list, const std::string& order) {
  auto byName = [](const TCandidate& a, const TCandidate& b) {
    return NaturalCompare(a.item.path, b.item.path) < 0;
  };
  if (order == "name") {
    std::stable_sort(list.begin(), list.end(), byName);
  } else if (order == "date") {
    std::stable_sort(list.begin(), list.end(), [&](const TCandidate& a, const TCandidate& b) {
      if (a.item.sortTime != b.item.sortTime) return a.item.sortTime < b.item.sortTime;
      return byName(a, b);
    });
  } else if (order != "none") {
    throw ELumError("unknown --sort \"" + order + "\" (name, date or none)");
  }
}

// Same bytes: the same file, or equal size, ends and whole-file hash. The
// whole file is read only when the cheap tests already agree.
class TDuplicates {
 public:
  // The member of an earlier candidate with the same content, or "".
  std::string Find(TCandidate& c) {
    auto it = byEnds_.find({c.size, c.fingerprint});
    if (it == byEnds_.end()) return {};
    for (TKnown& k : it->second) {
      if (k.dev == c.dev && k.ino == c.ino) return k.member;
      if (k.hash.empty()) k.hash = FileSha256Hex(k.path);
      if (c.hash.empty()) c.hash = FileSha256Hex(c.item.path);
      if (!k.hash.empty() && k.hash == c.hash) return k.member;
    }
    return {};
  }
  void Add(const TCandidate& c) {
    byEnds_[{c.size, c.fingerprint}].push_back({c.item.path, c.item.member, c.dev, c.ino, c.hash});
  }

 private:
  struct TKnown {
    std::string path, member;
    dev_t dev;
    ino_t ino;
    std::string hash;  // whole-file SHA-256, made when first needed
  };
  std::map<std::pair<int64_t, std::string>, std::vector<TKnown>> byEnds_;
};

// Gives every distinct file its own member name: names equal but for letter
// case (as the container compares them) get a number.
class TNamer {
 public:
  TNamer() {
    for (const char* reserved : {"Project.lum", "ExeGUID", "lcms2.dll", "ffmpeg.dll"})
      used_.insert(reserved);
  }
  // c.item.member holds the name wanted; it becomes the name given.
  void Name(TCandidate& c) {
    const std::string same = duplicates_.Find(c);
    if (!same.empty()) {
      c.item.member = same;
      return;
    }
    const std::string wanted = c.item.member;
    const std::string_view ext = ExtensionOf(wanted);
    const std::string stem = wanted.substr(0, wanted.size() - ext.size());
    for (int n = 2; !used_.insert(c.item.member).second; ++n)
      c.item.member = stem + "-" + std::to_string(n) + std::string(ext);
    duplicates_.Add(c);
  }

 private:
  std::unordered_set<std::string, TFoldedHash, TFoldedEqual> used_;
  TDuplicates duplicates_;
};

}  // namespace

std::vector<TMediaItem> CollectMedia(const TNewArgs& args) {
  TWalker walker;
  for (const std::string& in : args.inputs) walker.Input(in, false);
  for (const std::string& m : args.music) walker.Input(m, true);
  TClassifier classifier;
  std::vector<TCandidate> slides, music, named;
  for (const TFound& f : walker.found) {
    TCandidate c;
    if (!classifier.Classify(f, c)) continue;
    (c.item.kind == TMediaKind::Music ? (f.music ? named : music) : slides).push_back(std::move(c));
  }
  classifier.Report();
  if (slides.empty()) throw ELumError("no picture or video to make a show of");
  SortCandidates(slides, args.sort);
  // Music met among the inputs plays in name order unless the order is as given.
  SortCandidates(music, args.sort == "none" ? "none" : "name");
  named.insert(named.end(), std::make_move_iterator(music.begin()),
               std::make_move_iterator(music.end()));
  std::vector<TMediaItem> items;
  items.reserve(slides.size() + named.size());
  TNamer namer;
  for (std::vector<TCandidate>* list : {&slides, &named}) {
    for (TCandidate& c : *list) {
      namer.Name(c);
      items.push_back(std::move(c.item));
    }
  }
  return items;
}

}  // namespace lum::lumshow
