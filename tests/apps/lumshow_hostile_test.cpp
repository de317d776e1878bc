// Shows made to exhaust the machine: nesting that would overflow the stack,
// and documents that ask for more slides or key frames than memory allows.
// Each is refused with its message by the toolbox and the player, quickly,
// and never by a crash.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/raw_container.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TCommandResult;
using test::TTempDir;

constexpr const char* kHead =
    "[Main]\r\nMinorVersion=13\r\nopt_scr_width=320\r\nopt_scr_height=240\r\n";

// A show container holding only the project document, deflated by zlib itself.
std::string PackShow(const TTempDir& dir, const std::string& name, const std::string& project) {
  test::TRawContainer c;
  c.members.push_back({"Project.lum", test::RawDeflate(project), 1, ""});
  return dir.Write(name, c.Build());
}

// One slide of 3 s whose root holds body.
std::string OneSlide(const std::string& body) {
  return std::string(kHead) +
         "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n[Slide1]\r\n"
         "object Container:Root\r\n" +
         body + "end\r\n";
}

// A box with n key frames.
std::string Animated(int n) {
  std::string body = "object B:Box\r\nGUID={B}\r\nSize=100,100\r\nColor1=255,0,0\r\n";
  for (int i = 0; i < n; ++i)
    body += "object K:KeyPoint\r\nTime=" + std::to_string(i % 3000) + "\r\nend\r\n";
  return body + "end\r\n";
}

// The player as a user starts it: it tells why in its start-up box, which
// the user closes; the status and everything it wrote to stderr.
TCommandResult Play(const TTempDir& dir, const std::string& show) {
  test::TPlayer p(dir.Path(), show);
  TCommandResult r;
  std::string error;
  if (!p.Start(&error)) {
    ADD_FAILURE() << error;
    return r;
  }
  if (!p.Dialog(60000).is_null()) p.Request({{"command", "key"}, {"key", "Return"}});
  for (int i = 0; i < 100 && p.Running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  r.err = p.Log();
  r.status = p.Stop();
  return r;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST(HostileShows, NestingDeeperThan256IsRefusedByEveryCommandAndThePlayer) {
  TTempDir dir;
  // 100,000 nested objects deflate to a few kilobytes.
  std::string open, close;
  for (int i = 0; i < 100000; ++i) {
    open += "object F:Frame\r\nGUID={" + std::to_string(i) + "}\r\n";
    close += "end\r\n";
  }
  const std::string show = PackShow(dir, "deep.lumshow", OneSlide(open + close));
  const std::string message = "Objects nested deeper than 256 levels";
  const std::vector<std::vector<std::string>> commands = {
      {"info", show},
      {"audio", show, "-o", dir / "out.wav"},
      {"render", show, "--time", "100", "--size", "64x48", "-o", dir / "out.png"},
      {"export", show, "--size", "64x48", "-o", dir / "out.mp4"},
  };
  for (const auto& args : commands) {
    TCommandResult r = Lumshow(args);
    EXPECT_EQ(r.status, 1) << args[0] << ": " << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << args[0] << ": " << r.err;
  }
  TCommandResult played = Play(dir, show);
  EXPECT_EQ(played.status, 1) << played.err;
  EXPECT_NE(played.err.find(message), std::string::npos) << played.err;

  // The deepest a document may nest still plays.
  std::string open2, close2;
  for (int i = 0; i < 255; ++i) {
    open2 += "object F:Frame\r\nGUID={" + std::to_string(i) + "}\r\nSize=10,10\r\n";
    close2 += "end\r\n";
  }
  const std::string fine = PackShow(dir, "fine.lumshow", OneSlide(open2 + close2));
  TCommandResult r =
      Lumshow({"render", fine, "--time", "100", "--size", "64x48", "-o", dir / "fine.png"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(HostileShows, AMillionSlidesAreRefusedQuicklyByTheToolboxAndThePlayer) {
  TTempDir dir;
  std::string times = "[Times]\r\nopt_slidescount=1000000\r\n";
  for (int i = 1; i <= 1000000; ++i)
    times += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 10) + "\r\n";
  const std::string show = PackShow(dir, "slides.lumshow", kHead + times);
  const std::string message = "declares 1000000 slides, more than the 100000 allowed";
  auto start = std::chrono::steady_clock::now();
  TCommandResult info = Lumshow({"info", show});
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.err.find(message), std::string::npos) << info.err;
  TCommandResult played = Play(dir, show);
  EXPECT_EQ(played.status, 1);
  EXPECT_NE(played.err.find(message), std::string::npos) << played.err;
  // Refused once the text is read: seconds, not the minute and gigabytes of
  // building a million slides.
  EXPECT_LT(Seconds(start), 20);

  // With a section per slide the document is refused for its lines first.
  std::string sections;
  for (int i = 1; i <= 1000000; ++i) sections += "[Slide" + std::to_string(i) + "]\r\n";
  TCommandResult lines =
      Lumshow({"info", PackShow(dir, "lines.lumshow", kHead + times + sections)});
  EXPECT_EQ(lines.status, 1);
  EXPECT_NE(lines.err.find("The document has more than 2000000 lines"), std::string::npos)
      << lines.err;
}

TEST(HostileShows, KeyFramesAreBoundedPerObjectAndPerShow) {
  TTempDir dir;
  struct TCase {
    std::string what, body, message;  // message empty: renders
  } cases[] = {
      {"10000 on one object", Animated(10000), ""},
      {"10001 on one object", Animated(10001),
       "An object of the show has 10001 key frames, more than the 10000 allowed"},
      {"200001 on 21 objects",
       [] {
         std::string body;
         for (int i = 0; i < 20; ++i) body += Animated(10000);
         return body + Animated(1);
       }(),
       "The show has 200001 key frames, more than the 200000 allowed"},
  };
  for (const TCase& c : cases) {
    const std::string show = PackShow(dir, "keys.lumshow", OneSlide(c.body));
    TCommandResult r =
        Lumshow({"render", show, "--time", "100", "--size", "64x48", "-o", dir / "keys.png"});
    if (c.message.empty()) {
      EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
    } else {
      EXPECT_EQ(r.status, 1) << c.what;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
    }
  }
}

}  // namespace
}  // namespace lum
