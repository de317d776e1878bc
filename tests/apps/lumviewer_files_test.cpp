// What a stranger's show can plant or name on disk: a library beside a
// self-playing show is never loaded, a FIFO, device, socket or folder given
// as a show is refused at once, outputs are never written through a planted
// link, and SIGTERM ends a player cleanly whatever it is busy with.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/viewer_show.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using nlohmann::json;
using test::Lumshow;
using test::RunCommand;
using test::TPlayer;
using test::TTempDir;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A 320 x 240 windowed show, one second per slide, each slide with objects.
std::string ShowText(const std::vector<std::string>& objects, const std::string& main = "") {
  std::string s =
      "[Main]\nLumVersion=5.6\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\n"
      "opt_scr_height=240\nopt_withoutborder=1\nopt_repeat=repeat\n" +
      main + "[Times]\nopt_slidescount=" + std::to_string(objects.size()) + "\n";
  for (size_t i = 0; i < objects.size(); ++i)
    s += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string(1000 * (i + 1)) + "\n";
  for (size_t i = 0; i < objects.size(); ++i)
    s += "[Slide" + std::to_string(i + 1) +
         "]\nbstyle=1\nbcolor=" + std::to_string(0x203040 * (i + 1)) + "\nobject Container:Root\n" +
         objects[i] + "end\n";
  return s;
}

std::string Packed(const TTempDir& dir, const std::string& out, const std::string& project,
                   std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"pack", project, "-o", out};
  args.insert(args.end(), extra.begin(), extra.end());
  const test::TCommandResult r = Lumshow(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return out;
}

// Polls until done or ms passed; whether done said yes.
bool Within(int ms, const std::function<bool()>& done) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A FIFO (no writer), a bound socket, a character device and a folder.
struct TSpecialFiles {
  explicit TSpecialFiles(const TTempDir& dir) : fifo(dir / "show.fifo"), socket(dir / "show.sock") {
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    sockFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socket.c_str());
    EXPECT_EQ(bind(sockFd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    fs::create_directories(dir / "folder.lumshow");
  }
  ~TSpecialFiles() { close(sockFd); }
  std::vector<std::string> NotFiles() const { return {fifo, socket, "/dev/zero"}; }
  std::string fifo, socket;
  int sockFd = -1;
};

TEST(LumviewerFiles, LibrariesPlantedBesideASelfPlayingShowAreNotLoaded) {
  TTempDir dir;
  dir.Write("src/clip.fake", "FAKECLIP 400 200 5 1 28 0");
  const std::string project = dir.Write(
      "src/Project.lum",
      ShowText({"object V:Video\nGUID={V}\nFitMode=None\nFileName=clip.fake\nDuration=900\n"
                "object K:KeyPoint\nTime=0\nend\nend\n"}));
  fs::create_directories(dir / "downloads");
  fs::create_directories(dir / "run");
  const std::string show = Packed(dir, dir / "downloads/show", project, {"--exe", LUMVIEWER_PATH});
  for (const char* name : {"liblumvideo.so", "liblcms2.so.2"})
    fs::copy_file(MARKER_LIBRARY, dir / ("downloads/" + std::string(name)));
  const std::string marker = dir / "marker";

  TPlayer planted(dir / "run", "", {"-icc", "sRGB"},
                  {"LUM_VIDEO_PLUGIN=", "LUM_TEST_MARKER=" + marker});
  planted.SetProgram(show);
  START(planted);
  EXPECT_TRUE(Within(10000, [&] {
    return planted.Log().find("Video library not available") != std::string::npos;
  })) << planted.LogTail();
  EXPECT_FALSE(fs::exists(marker)) << test::ReadFile(marker);
  EXPECT_EQ(planted.Stop(), 0);

  // The user's own choice still counts (and shows the marker would tell).
  TPlayer chosen(
      dir / "run", "", {},
      {"LUM_VIDEO_PLUGIN=" + dir / "downloads/liblumvideo.so", "LUM_TEST_MARKER=" + marker});
  chosen.SetProgram(show);
  START(chosen);
  EXPECT_TRUE(Within(10000, [&] { return fs::exists(marker); })) << chosen.LogTail();
  EXPECT_EQ(chosen.Stop(), 0);
}

// The player's box about a show it refused at start: shown at once, closed
// with Escape; the player's exit status and what it wrote to stderr.
int RefusedAtStart(const TTempDir& dir, const std::string& show,
                   const std::vector<std::string>& args, std::string& err) {
  TPlayer p(dir.Path(), show, args);
  std::string error;
  if (!p.Start(&error)) {
    ADD_FAILURE() << error;
    return -1;
  }
  bool met = false;
  const json s = p.WaitFor([](const json& s) { return !s["dialog"].is_null(); }, 5000, &met);
  EXPECT_TRUE(met) << s.dump();
  p.Request({{"command", "key"}, {"key", "Escape"}});
  for (int i = 0; i < 100 && p.Running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  err = p.Log();
  return p.Stop();
}

TEST(LumviewerFiles, SpecialFilesGivenAsShowsAreRefusedAtOnce) {
  TTempDir dir;
  TSpecialFiles special(dir);
  // timeout(1) turns a hang into status 124.
  std::string err;
  for (const std::string& path : special.NotFiles()) {
    test::TCommandResult r = RunCommand({"/usr/bin/timeout", "20", LUMSHOW_PATH, "info", path});
    EXPECT_EQ(r.status, 1) << path << ": " << r.err;
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    EXPECT_EQ(RefusedAtStart(dir, path, {}, err), 1) << path << ": " << err;
    EXPECT_NE(err.find("lumviewer: " + path + ": Slideshow File not Found (not a regular file"),
              std::string::npos)
        << err;
  }
  const test::TCommandResult r =
      RunCommand({"/usr/bin/timeout", "20", LUMSHOW_PATH, "info", dir / "folder.lumshow"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(RefusedAtStart(dir, dir / "folder.lumshow", {}, err), 1) << err;
  EXPECT_EQ(RefusedAtStart(dir, "", {"-filename", special.fifo}, err), 1) << err;
}

TEST(LumviewerFiles, APlayerRefusesSpecialFilesAndWritesThroughNoLink) {
  TTempDir dir;
  TSpecialFiles special(dir);
  const std::string show =
      Packed(dir, dir / "a.lumshow", dir.Write("a/Project.lum", ShowText({"", ""})));
  TPlayer p(dir.Path(), show);
  START(p);
  for (const std::string& path : special.NotFiles()) {
    const auto start = Clock::now();
    ASSERT_EQ(
        p.Request({{"command", "action"}, {"text", "runpresentation(\"" + path + "\")"}})["ok"],
        true);
    bool met = false;
    json s = p.WaitFor([](const json& s) { return !s["dialog"].is_null(); }, 5000, &met);
    ASSERT_TRUE(met) << p.LogTail();
    EXPECT_EQ(s["dialog"]["texts"],
              json::array({"Not LumShow Executable File or File Corrupted:", path, "OK"}));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << path;
    ASSERT_EQ(p.Request({{"command", "key"}, {"key", "Return"}})["ok"], true);
    s = p.WaitFor([](const json& s) { return s["dialog"].is_null() && s["active"] == true; }, 5000,
                  &met);
    EXPECT_TRUE(met) << s.dump();
    EXPECT_EQ(s["show"], show);
  }
  // A screenshot over a planted link replaces the link; its target stays.
  const std::string victim = dir.Write("victim", "keep");
  const std::string shot = dir / "shot.png";
  ASSERT_EQ(symlink(victim.c_str(), shot.c_str()), 0);
  EXPECT_EQ(p.Request({{"command", "screenshot"}, {"path", shot}})["ok"], true);
  EXPECT_EQ(test::ReadFile(victim), "keep");
  EXPECT_FALSE(fs::is_symlink(shot));
  EXPECT_EQ(test::ReadPicture(shot).width, 320);
  EXPECT_EQ(p.Stop(), 0);
}

TEST(LumviewerFiles, LumshowOutputsReplaceLinksInsteadOfFollowingThem) {
  TTempDir dir;
  const std::string victim = dir.Write("victim", "keep");
  const std::string project = dir.Write("a/Project.lum", ShowText({""}));
  const std::string out = dir / "out.lumshow";
  // A link at the output and at the name earlier versions wrote beside it.
  for (const std::string& link : {out, out + ".part"})
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  Packed(dir, out, project);
  const std::string png = dir / "frame.png";
  ASSERT_EQ(symlink(victim.c_str(), png.c_str()), 0);
  const test::TCommandResult r =
      Lumshow({"render", out, "--time", "500", "--size", "64x48", "-o", png});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(victim), "keep");
  EXPECT_FALSE(fs::is_symlink(out));
  EXPECT_FALSE(fs::is_symlink(png));
  EXPECT_EQ(test::ReadPicture(png).width, 64);
  EXPECT_TRUE(fs::is_symlink(out + ".part"));
  // Nothing else was left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 5);
}

// SIGTERM while slides of large pictures are still being prepared, and
// again while the show plays: the player ends with status 0 in seconds.
TEST(LumviewerFiles, SigtermEndsABusyPlayerCleanly) {
  TTempDir dir;
  const std::string bmp = test::WriteBmp(test::MakeTestPicture(3000, 2000), {});
  std::vector<std::string> slides;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "big" + std::to_string(i) + ".bmp";
    dir.Write("a/" + name, bmp);
    slides.push_back("object P:Image\nGUID={" + std::to_string(i + 1) + "}\nImageName=" + name +
                     "\nobject K:KeyPoint\nTime=0\nend\nend\n");
  }
  const std::string show =
      Packed(dir, dir / "big.lumshow", dir.Write("a/Project.lum", ShowText(slides)));
  for (bool playing : {false, true}) {
    TPlayer p(dir.Path(), show);
    START(p);
    if (playing) {
      bool met = false;
      p.WaitFor([](const json& s) { return s["position"].get<double>() > 300; }, 20000, &met);
      ASSERT_TRUE(met) << p.LogTail();
    }
    const auto start = Clock::now();
    ASSERT_EQ(kill(p.Pid(), SIGTERM), 0);
    EXPECT_TRUE(Within(6000, [&] { return !p.Running(); })) << p.LogTail();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
    EXPECT_EQ(p.Stop(), 0) << (playing ? "playing" : "loading") << "\n" << p.LogTail();
  }
}

}  // namespace
}  // namespace lum
