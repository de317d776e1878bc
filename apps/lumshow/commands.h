#pragma once
// The lumshow commands. Each returns the process exit status; failures throw
// and main turns them into "lumshow: <message>" with status 1.
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace lum::lumshow {

struct TInfoArgs {
  std::string show;
  bool json = false;
};
int Info(const TInfoArgs& args);

struct TListArgs {
  std::string show;
  bool json = false;
};
int List(const TListArgs& args);

int Cat(const std::string& show, const std::string& name);

struct TExtractArgs {
  std::string show;
  std::string folder;
  std::vector<std::string> names;
  bool overwrite = false;  // replace existing files (else they are skipped)
};
int Extract(const TExtractArgs& args);

struct TPackArgs {
  std::string project;
  std::string output;
  std::vector<std::string> members;  // NAME=PATH
  std::vector<std::string> folders;
  std::vector<std::string> methods;  // NAME=stored|deflate|scramble
  std::string executable;
  bool longTrailer = false;
  bool allowModify = false;
  bool noReferences = false;
  long long basePadding = 0;
};
int Pack(const TPackArgs& args);
// The lumviewer installed beside this lumshow, or built beside it; a usage
// error when there is none.
std::string PlayerBeside(const char* argv0);

struct TActionArgs {
  std::string text;
  bool json = false;
};
int Action(const TActionArgs& args);
struct TExprArgs {
  std::string expression;
  bool program = false;
  bool trace = false;
  std::vector<std::string> vars;  // NAME=VALUE
};
int Expr(const TExprArgs& args);
struct TImageArgs {
  std::string file;    // a picture file, or a show when member is set
  std::string member;  // picture inside the show
  std::string output;  // PNG to write
  int level = 0;       // mip level
  std::string icc;     // display profile to convert an embedded profile to; "none": keep
};
int Image(const TImageArgs& args);

struct TDumpArgs {
  std::string show;
  long long slide = 0;  // virtual slide number, repetitions allowed
  double time = 0;      // show time, ms
  std::string size = "1920x1080";
  bool json = false;
  std::string hit;  // "X,Y" in window pixels
  std::optional<std::string> password;  // for a show that asks for one
};
int Dump(const TDumpArgs& args);
struct TAudioArgs {
  std::string show;
  std::string output;
  double from = 0;
  double to = -1;  // below 0: the show's end
  std::optional<std::string> password;  // for a show that asks for one
};
int Audio(const TAudioArgs& args);

struct TRenderArgs {
  std::string show;
  double time = std::numeric_limits<double>::quiet_NaN();  // show time, ms; NaN: not given
  std::string size = "1920x1080";
  std::string output;
  std::optional<std::string> password;  // for a show that asks for one
  bool glInfo = false;  // only describe the OpenGL driver
};
int Render(const TRenderArgs& args);

struct TThumbnailArgs {
  std::string show;
  std::string output;  // PNG to write
  int size = 256;      // the frame fits into size x size
};
// The largest thumbnail side asked for; file managers ask for up to 1024.
inline constexpr int kMaxThumbnailSize = 2048;
// The first slide once its transition is over, fitted into the size: exit 1
// within 5 s for shows that cannot give one (damaged, hostile, protected).
int Thumbnail(const TThumbnailArgs& args);

struct TExportArgs {
  std::string show;
  std::string output;  // .mp4 (H.264 + AAC) or .webm (VP9 + Opus)
  std::string size = "1920x1080";
  int fps = 30;
  double from = 0;
  double to = -1;  // below 0: the show's end
  int crf = 20;
  std::string preset = "medium";
  bool cfr = false;  // every frame in the file, unchanged ones repeated
  std::optional<std::string> password;  // for a show that asks for one
};
int Export(const TExportArgs& args);

struct TTextArgs {
  std::string description;  // "Text: ..." (the prefix may be left out)
  std::string show;         // stored outlines from this show
  std::string member;       // a "VectTxt2: " key of the show
  std::string output;
  std::optional<std::string> password;  // for a show that asks for one
};
int Text(const TTextArgs& args);

struct TControlArgs {
  std::string socket;
  std::vector<std::string> requests;  // JSON objects, one line each
};
// Exit 1 when a reply is not ok.
int Control(const TControlArgs& args);

// Error raised for a wrong use of the command line (exit status 2).
struct TUsageError {
  std::string message;
};

}  // namespace lum::lumshow
