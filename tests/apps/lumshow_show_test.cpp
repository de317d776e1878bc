// lumshow info on the show timeline and options, show text escaped for the
// terminal, the password gate of the commands that play a show, lumshow action.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "project/show_options.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TCommandResult;
using test::TTempDir;

using test::Lumshow;

using test::Json;

TEST(LumshowInfo, DemoTimelineTransitionsAndOptions) {
  nlohmann::json info = Json(Lumshow({"info", DEMO_SHOW_PATH, "--json"}));
  EXPECT_EQ(info["show"]["slides"], 3);
  EXPECT_EQ(info["show"]["duration"], 12000);
  EXPECT_EQ(info["show"]["endBehaviour"], "repeat");
  EXPECT_EQ(info["show"]["screenSaver"], false);
  ASSERT_EQ(info["slides"].size(), 3u);
  const auto& last = info["slides"][2];
  EXPECT_EQ(last["name"], "Horizontal gradient");
  EXPECT_EQ(last["start"], 8000);
  EXPECT_EQ(last["transitionIn"], 1500);
  EXPECT_EQ(last["nextTransition"], 1000);  // the show repeats into slide 0
  EXPECT_EQ(last["endWithNext"], 13000);
  EXPECT_EQ(last["transition"]["ref"], "dissolve");
  EXPECT_EQ(last["transition"]["type"], 1);
  EXPECT_EQ(last["transition"]["duration"], 1500);
  EXPECT_EQ(info["options"]["opt_scr_caption"], "Demo show");
  EXPECT_EQ(info["options"]["opt_pausewheninactive"], false);
  EXPECT_EQ(info["options"]["opt_lng_button_ok"], "OK");
  EXPECT_EQ(info["options"]["opt_nav_fadein"], 500);
}

TEST(LumshowInfo, GeneratedProjectsInFolderMode) {
  TTempDir dir;
  std::string project =
      "[Main]\nopt_repeat=stop\nopt_pass=secret\nopt_scr_width=1024\nopt_scr_height=768\n"
      "object TheEffect:AnEffect\ntime=2000\nobject page:page\nkey=direction\n"
      "direction=11111111\nstdidx=7\nend\nend\n"
      "[Times]\nopt_slidescount=4\nopt_synchpos1=3000\nopt_synchpos2=6000\n"
      "opt_synchpos3=6000\nopt_synchpos4=9000\n"
      "[Slide1]\nPicture=C:\\Pics\\Alps.jpg\nobject TheEffect:AnEffect\nref=default\nend\n"
      "[Slide2]\nPers_EndAction=loop\nobject TheEffect:AnEffect\nref=default\nend\n"
      "[Slide3]\nobject TheEffect:AnEffect\nref=quick\ntime=500\nend\n"
      "[Slide4]\nPers_RunApp=1\nRunAppFN=C:\\Tools\\after.exe\n"
      "object TheEffect:AnEffect\nref=default\nend\n";
  std::string path = dir.Write("show/Project.lum", project);
  nlohmann::json a = Json(Lumshow({"info", path, "--json"}));
  nlohmann::json b = Json(Lumshow({"info", path, "--json"}));
  EXPECT_EQ(a, b);  // deterministic transitions
  EXPECT_EQ(a["source"]["kind"], "folder");
  EXPECT_EQ(a["show"]["endBehaviour"], "stop");
  EXPECT_EQ(a["show"]["designWidth"], 1024);
  const auto& s = a["slides"];
  EXPECT_EQ(s[0]["name"], "Alps");
  EXPECT_EQ(s[0]["transitionIn"], 2000);
  EXPECT_EQ(s[0]["transition"]["type"], 5);
  EXPECT_EQ(s[1]["endAction"], "loop");
  EXPECT_EQ(s[1]["loopLength"], 1000);
  EXPECT_EQ(s[2]["start"], 6000);
  EXPECT_EQ(s[2]["end"], 6000);
  EXPECT_TRUE(s[2]["transition"].is_null());
  EXPECT_EQ(s[3]["runApp"], "C:\\Tools\\after.exe");
  EXPECT_EQ(s[3]["nextTransition"], 0);  // a stopping show has nothing after its end
  EXPECT_EQ(a["options"]["opt_pass"], "(set)");
  EXPECT_EQ(a["options"]["opt_repeat"], "stop");

  // The show's own ".scr" extension stands in for a screen-saver executable.
  std::string saver = dir.Write("saver/Show.SCR", project);
  nlohmann::json scr = Json(Lumshow({"info", saver, "--json"}));
  EXPECT_EQ(scr["show"]["screenSaver"], true);
  EXPECT_EQ(scr["show"]["endBehaviour"], "repeat");
  EXPECT_EQ(scr["options"]["opt_scr_full"], 1);
}

TEST(LumshowInfo, BadTimelinesFailClearly) {
  TTempDir dir;
  std::string empty = dir.Write("empty/Project.lum", "[Main]\n[Times]\nopt_slidescount=0\n");
  nlohmann::json info = Json(Lumshow({"info", empty, "--json"}));
  EXPECT_EQ(info["show"]["slides"], 0);
  EXPECT_TRUE(info["slides"].empty());

  std::string back =
      dir.Write("back/Project.lum",
                "[Main]\n[Times]\nopt_slidescount=2\nopt_synchpos1=500\nopt_synchpos2=10\n");
  TCommandResult r = Lumshow({"info", back});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("lumshow: Incorrect time"), std::string::npos) << r.err;

  std::string absurd =
      dir.Write("absurd/Project.lum",
                "[Main]\n[Times]\nopt_slidescount=2000000000\n[Slide1]\n[Slide2]\n[Slide3]\n");
  r = Lumshow({"info", absurd});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("2000000000 slides"), std::string::npos) << r.err;
}

TEST(LumshowInfo, ShowTextIsPrintedEscaped) {
  TTempDir dir;
  const std::string hostile = "Evil\x1b[2J\u009b\x7f";
  const std::string shown = "Evil\\x1b[2J\\u009b\\x7f";
  const std::string project = dir.Write(
      "show/Project.lum",
      "\xEF\xBB\xBF[Main]\n[Times]\nopt_slidescount=1\nopt_synchpos1=1000\n[Slide1]\nslideid=" +
          hostile);
  const std::string member = hostile + ".txt", file = dir.Write("m.txt", "m");
  ASSERT_EQ(Lumshow({"pack", project, member + "=" + file, "-o", dir / "s.lumshow"}).status, 0);
  auto expectNoControls = [](const std::string& text) {
    EXPECT_EQ(text.find_first_of("\x1b\x7f"), std::string::npos) << text;
    EXPECT_EQ(text.find("\u009b"), std::string::npos) << text;
  };
  TCommandResult info = Lumshow({"info", dir / "s.lumshow"});
  EXPECT_NE(info.out.find(shown), std::string::npos) << info.out;
  expectNoControls(info.out);
  TCommandResult ls = Lumshow({"ls", dir / "s.lumshow"});
  // C0 in member names keeps the "#XX" form that cat and extract take.
  EXPECT_NE(ls.out.find("Evil#1B[2J\\u009b\\x7f.txt"), std::string::npos) << ls.out;
  expectNoControls(ls.out);
  // JSON escapes them too and reads back the show's own text.
  TCommandResult json = Lumshow({"info", dir / "s.lumshow", "--json"});
  expectNoControls(json.out);
  EXPECT_EQ(Json(json)["slides"][0]["name"], hostile);
  TCommandResult rows = Lumshow({"ls", dir / "s.lumshow", "--json"});
  expectNoControls(rows.out);
  EXPECT_EQ(Json(rows)[1]["name"], member);
  // Messages quoting a show's names are escaped as well.
  TCommandResult cat = Lumshow({"cat", dir / "s.lumshow", "x\x1b]0;title\x07"});
  EXPECT_EQ(cat.err, "lumshow: no member \"x\\x1b]0;title\\x07\" in the show\n");
}

TEST(LumshowPassword, PlayingCommandsNeedTheShowsPassword) {
  TTempDir dir;
  auto packed = [&](const std::string& name, const std::string& pass) {
    const std::string project = dir.Write(
        name + "/Project.lum",
        "[Main]\nopt_usepass=1\n" + pass + "opt_scr_width=64\nopt_scr_height=64\n[Times]\n" +
            "opt_slidescount=1\nopt_synchpos1=1000\n[Slide1]\nbstyle=1\nbcolor=255\n");
    EXPECT_EQ(Lumshow({"pack", project, "-o", dir / name + ".lumshow"}).status, 0);
    return dir / name + ".lumshow";
  };
  const std::string show = packed("gated", "opt_pass=Open Sesame\n");
  auto plays = [&](const std::string& s) -> std::vector<std::vector<std::string>> {
    return {{"render", s, "--time", "100", "--size", "64x64", "-o", dir / "f.png"},
            {"export", s, "-o", dir / "v.mp4", "--size", "64x64", "--fps", "5", "--to", "400"},
            {"audio", s, "-o", dir / "a.wav", "--to", "200"},
            {"dump", s, "--slide", "0", "--time", "100"},
            {"text", "Text: Arial:1:0:0::1:1:0:\"Hi\"", "--show", s, "-o", dir / "t.png"}};
  };
  auto with = [](std::vector<std::string> args, const std::string& password) {
    args.insert(args.end(), {"--password", password});
    return args;
  };
  for (const auto& args : plays(show)) {
    TCommandResult none = Lumshow(args);
    EXPECT_EQ(none.status, 1) << args[0];
    EXPECT_EQ(none.err, "lumshow: the show is protected by a password; give it with --password\n")
        << args[0];
    TCommandResult wrong = Lumshow(with(args, "open sesame"));  // compared exactly
    EXPECT_EQ(wrong.status, 1) << args[0];
    EXPECT_EQ(wrong.err, "lumshow: wrong password for the show (--password)\n") << args[0];
  }
  for (const char* out : {"f.png", "v.mp4", "a.wav", "t.png"})
    EXPECT_NE(access((dir / out).c_str(), F_OK), 0) << out;
  for (const auto& args : plays(show)) {
    TCommandResult right = Lumshow(with(args, "Open Sesame"));
    EXPECT_EQ(right.status, 0) << args[0] << ": " << right.err;
  }
  // The password is a gate for playing, not encryption: the members stay readable.
  EXPECT_EQ(Lumshow({"info", show}).status, 0);
  EXPECT_EQ(Lumshow({"ls", show}).status, 0);
  EXPECT_EQ(Lumshow({"extract", show, "-o", dir / "out"}).status, 0);
  EXPECT_EQ(test::ReadFile(dir / "out/Project.lum"), test::ReadFile(dir / "gated/Project.lum"));

  // A show that stores no password takes the player's fallback one, and nothing else.
  const std::string fallback = packed("fallback", "");
  EXPECT_EQ(Lumshow(with(plays(fallback)[0], "")).status, 1);
  EXPECT_EQ(Lumshow(with(plays(fallback)[0], kFallbackPassword)).status, 0);
}

TEST(LumshowAction, ActionRecords) {
  nlohmann::json a = Json(Lumshow({"action", "GotoSlide(12)", "--json"}));
  EXPECT_EQ(a, nlohmann::json::parse(R"({"type":7,"int":12,"text":"12"})"));
  a = Json(Lumshow({"action", "runapp(\"viewer.exe -f\")", "--json"}));
  EXPECT_EQ(a["type"], 10);
  EXPECT_EQ(a["text"], "viewer.exe -f");
  TCommandResult plain = Lumshow({"action", "NEXTSLIDE"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_NE(plain.out.find("nextslide"), std::string::npos);
  EXPECT_EQ(Lumshow({"action"}).status, 2);
}

}  // namespace
}  // namespace lum
