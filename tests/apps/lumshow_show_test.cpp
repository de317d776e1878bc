// lumshow info on the show timeline and options, and lumshow action.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
