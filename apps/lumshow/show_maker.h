#pragma once
// lumshow new: a show made from a folder of photos, videos and music. Three
// steps, each its own file: collecting the inputs (headers only, nothing
// decoded), building the project document, writing the show (a container or
// a folder with the document beside the files).
#include <cstdint>
#include <string>
#include <vector>

namespace lum::lumshow {

struct TNewArgs {
  std::vector<std::string> inputs;  // files and folders
  std::string output;               // OUT.lumshow (a container)
  std::string folder;               // or DIR: DIR/Project.lum beside the files
  bool force = false;               // replace an existing OUT / DIR/Project.lum
  std::vector<std::string> music;
  std::string size = "1920x1080";  // the show's design size
  int slideTimeMs = 5000;
  int transitionTimeMs = 1000;
  bool fitMusic = false;
  std::string transition = "default";  // a family name, "default" or "all"
  bool motion = true;
  std::string captions = "none";  // none, name, date, caption
  std::string title;
  std::string sort = "name";  // name, date, none
  uint64_t seed = 1;
  std::string background = "#000000";
  bool loop = false;  // the show repeats; else it stops at the end
};
int New(const TNewArgs& args);

enum class TMediaKind { Picture, Video, Music };

// One usable input, read from its header only.
struct TMediaItem {
  TMediaKind kind = TMediaKind::Picture;
  std::string path;    // the file on disk
  std::string member;  // its name in the show; duplicates by content share one
  int width = 0, height = 0;  // pixels as stored (pictures, videos)
  int orientation = 1;        // EXIF orientation 1..8 (pictures)
  int64_t durationMs = 0;     // videos and music
  int64_t sortTime = 0;       // EXIF date, else file time (seconds since 1970)
};

// The project document of the show (INI text) for the collected items in
// their order: pictures and videos become slides, music the track. Throws
// ELumError for options it cannot honour and for member names a document
// value cannot hold (line breaks, blanks at either end).
std::string BuildShowDocument(const std::vector<TMediaItem>& items, const TNewArgs& args);

}  // namespace lum::lumshow
