// lumshow dump: slides of the demo and of generated projects, with the
// expected window geometry worked out by hand.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Json;
using test::Lumshow;
using test::TTempDir;

void ExpectCorners(const nlohmann::json& o, std::vector<std::pair<double, double>> expected) {
  ASSERT_EQ(o["corners"].size(), 4u) << o.dump();
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_NEAR(o["corners"][i][0].get<double>(), expected[i].first, 1e-6) << o["name"] << i;
    EXPECT_NEAR(o["corners"][i][1].get<double>(), expected[i].second, 1e-6) << o["name"] << i;
  }
}

const nlohmann::json* Named(const nlohmann::json& list, const std::string& name) {
  for (const auto& o : list) {
    if (o["name"] == name) return &o;
    if (const nlohmann::json* inner = Named(o["children"], name)) return inner;
  }
  return nullptr;
}

TEST(LumshowDump, DemoSlidesWithTheirGeometry) {
  nlohmann::json d =
      Json(Lumshow({"dump", DEMO_SHOW_PATH, "--slide", "0", "--time", "1500", "--json"}));
  EXPECT_EQ(d["begin"], 0);
  EXPECT_EQ(d["name"], "Slide1");
  EXPECT_EQ(d["title"], "Solid colour");
  EXPECT_EQ(d["nextBegin"], 4000);
  EXPECT_EQ(d["anchors"]["PrevEffectEnd"], 1000);
  EXPECT_EQ(d["anchors"]["SlideEnd"], 5000);
  EXPECT_EQ(d["area"], nlohmann::json::parse("[0,0,1920,1080]"));
  EXPECT_EQ(d["background"]["drawn"], "solid");
  EXPECT_EQ(d["background"]["color"], nlohmann::json::parse("[72,61,139]"));
  ASSERT_EQ(d["objects"].size(), 2u);
  // The banner: 1920 x 200 fitted 1:1, its centre 70 % of half the height up.
  ExpectCorners(d["objects"][0], {{0, 62}, {1920, 62}, {1920, 262}, {0, 262}});
  // The square half-way: at the centre, 20 % down, turned 90 degrees; 100
  // units fitted into 1080 (x10.8) at 15 % is 162 pixels.
  const auto& sq = d["objects"][1];
  EXPECT_EQ(sq["values"]["Angle"], 90);
  EXPECT_EQ(sq["values"]["Pos.X"], 0);
  ExpectCorners(sq, {{1041, 567}, {1041, 729}, {879, 729}, {879, 567}});
  EXPECT_EQ(sq["visible"], true);
  EXPECT_EQ(sq["kind"], 2);
  EXPECT_EQ(sq["class"], "TLumBox");
  EXPECT_EQ(sq["values"].size(), 15u);

  // Slide 2 in the show's second pass: all times shift by the 12 s show.
  nlohmann::json r = Json(Lumshow(
      {"dump", DEMO_SHOW_PATH, "--slide", "5", "--time", "21000", "--hit", "960,864", "--json"}));
  EXPECT_EQ(r["begin"], 20000);
  EXPECT_EQ(r["anchors"]["PrevEffectEnd"], 21500);
  EXPECT_EQ(r["background"]["drawn"], "hgradient");
  ExpectCorners(r["objects"][0], {{672, 777.6}, {1248, 777.6}, {1248, 950.4}, {672, 950.4}});
  EXPECT_EQ(r["hit"]["object"], "Again");
  EXPECT_EQ(r["hit"]["action"]["type"], "gotoslide");
  // Outside the box the click lands on the slide, whose action is empty.
  nlohmann::json miss = Json(Lumshow(
      {"dump", DEMO_SHOW_PATH, "--slide", "2", "--time", "9000", "--hit", "10,10", "--json"}));
  EXPECT_EQ(miss["hit"]["object"], "(slide)");
  EXPECT_EQ(miss["hit"]["action"]["type"], "none");
}

// The demo's last slide carries a short clip, sized by its first frame
// (480 x 270 and its border, 490.8 x 280.8 units, at 40 % of the slide's
// 1080 rows) and listed by info.
TEST(LumshowDump, DemoClipOnTheLastSlide) {
  nlohmann::json d =
      Json(Lumshow({"dump", DEMO_SHOW_PATH, "--slide", "2", "--time", "9700", "--json"}));
  const nlohmann::json* clip = Named(d["objects"], "Clip");
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ((*clip)["class"], "TLumVideo");
  EXPECT_EQ((*clip)["visible"], true);
  const double half = 216 * 490.8 / 280.8;
  ExpectCorners(*clip,
                {{960 - half, 135}, {960 + half, 135}, {960 + half, 567}, {960 - half, 567}});
  nlohmann::json info = Json(Lumshow({"info", DEMO_SHOW_PATH, "--json"}));
  ASSERT_EQ(info["clips"].size(), 1u);
  EXPECT_EQ(info["clips"][0]["file"], "clip.mp4");
  EXPECT_EQ(info["clips"][0]["width"], 480);
  EXPECT_EQ(info["clips"][0]["frame_rate"], "25/1");
}

std::string GeneratedProject() {
  // Design 800 x 400 shown in 1000 x 1000: the area is 1000 x 500 at top 250,
  // one design unit is 1.25 pixels, the slide's centre is (500, 500).
  return "[Main]\nMinorVersion=13\nopt_scr_width=800\nopt_scr_height=400\nopt_bstyle=1\n"
         "opt_bcolor=65280\n[Times]\nopt_slidescount=2\nopt_synchpos1=2000\nopt_synchpos2=4000\n"
         "[Slide1]\nobject Container:Root\n"
         "object Abs:Box\nGUID={1}\nSize=40,20\nFitMode=None\nPosMode=Absolute\n"
         "object K:KeyPoint\nTime=0\nPosition=100,-40\nend\n"
         "object K:KeyPoint\nTime=1000\nPosition=300,-40\nend\n"
         "object Kid:Box\nGUID={2}\nSize=10,10\nFitMode=None\n"
         "object K:KeyPoint\nTime=0\nPosition=100,100\nCenterPos=-100,-100\nend\nend\n"
         "end\n"
         "object Late:Box\nGUID={3}\nSize=80,40\nDeltaTime1=1500\nAction=exit\n"
         "object K:KeyPoint\nTime=0\nScaleX=25\nScaleY=25\nend\nend\n"
         "object Back:Frame\nGUID={4}\nSize=10,10\nHideMode=1\nChildInvis=1\n"
         "object K:KeyPoint\nTime=0\nAngleY=180\nScaleX=10\nScaleY=10\nend\n"
         "object Inner:Box\nGUID={5}\nSize=10,10\nend\nend\n"
         "end\n"
         "[Slide2]\nobject Container:Root\nobject NoGuid:Box\nSize=1,1\nend\nend\n";
}

TEST(LumshowDump, GeneratedProjectGeometryByHand) {
  TTempDir dir;
  std::string path = dir.Write("show/Project.lum", GeneratedProject());
  nlohmann::json d = Json(
      Lumshow({"dump", path, "--slide", "0", "--time", "500", "--size", "1000x1000", "--json"}));
  EXPECT_EQ(d["area"], nlohmann::json::parse("[0,250,1000,750]"));
  EXPECT_EQ(d["background"]["source"], "main");
  // Abs at t=500 is at (200, -40) design units: 40 x 20 around it.
  const nlohmann::json* abs = Named(d["objects"], "Abs");
  ASSERT_TRUE(abs);
  ExpectCorners(*abs, {{725, 437.5}, {775, 437.5}, {775, 462.5}, {725, 462.5}});
  // Kid: 100 % of half of Abs's size from its centre, pivot at its own
  // left-top corner: 10 x 10 units from Abs's right-bottom corner.
  const nlohmann::json* kid = Named(d["objects"], "Kid");
  ASSERT_TRUE(kid);
  ExpectCorners(*kid, {{775, 462.5}, {787.5, 462.5}, {787.5, 475}, {775, 475}});
  const nlohmann::json* late = Named(d["objects"], "Late");
  EXPECT_EQ((*late)["visible"], false);
  // Turned away with HideMode 1 and ChildInvis: both hidden.
  EXPECT_EQ((*Named(d["objects"], "Back"))["visible"], false);
  EXPECT_EQ((*Named(d["objects"], "Inner"))["visible"], false);

  // From 1500 ms Late shows (inclusive) and takes the click: 80 x 40 fitted
  // into 800 x 400 (x10) at 25 % is 200 x 100 units, 250 x 125 pixels.
  nlohmann::json e = Json(Lumshow({"dump", path, "--slide", "0", "--time", "1500", "--size",
                                   "1000x1000", "--hit", "600,540", "--json"}));
  const nlohmann::json* late2 = Named(e["objects"], "Late");
  EXPECT_EQ((*late2)["visible"], true);
  ExpectCorners(*late2, {{375, 437.5}, {625, 437.5}, {625, 562.5}, {375, 562.5}});
  EXPECT_EQ(e["hit"]["object"], "Late");
  EXPECT_EQ(e["hit"]["action"]["type"], "exit");

  // The text form names the objects.
  test::TCommandResult text = Lumshow({"dump", path, "--slide", "0", "--time", "0"});
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("TLumBox \"Abs\""), std::string::npos);
}

TEST(LumshowDump, BadSlidesAndBadArguments) {
  TTempDir dir;
  std::string path = dir.Write("show/Project.lum", GeneratedProject());
  test::TCommandResult bad = Lumshow({"dump", path, "--slide", "1", "--time", "0"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("LumObject GUID not Assigned"), std::string::npos) << bad.err;
  // The rest of the show still opens.
  EXPECT_EQ(Lumshow({"info", path}).status, 0);
  EXPECT_EQ(Lumshow({"dump", path, "--slide", "2", "--time", "4000"}).status, 0);
  EXPECT_EQ(Lumshow({"dump", path, "--slide", "0", "--time", "0", "--size", "0x5"}).status, 2);
  EXPECT_EQ(Lumshow({"dump", path, "--slide", "0", "--time", "0", "--hit", "5"}).status, 2);
  EXPECT_EQ(Lumshow({"dump", path, "--time", "0"}).status, 2);
  EXPECT_EQ(Lumshow({"dump", path, "--slide", "0", "--time", "nan"}).status, 2);

  std::string flat = dir.Write("flat/Project.lum",
                               "[Main]\nopt_scr_width=800\nopt_scr_height=0\n[Times]\n"
                               "opt_slidescount=1\nopt_synchpos1=10\n[Slide1]\n");
  test::TCommandResult zero = Lumshow({"dump", flat, "--slide", "0", "--time", "0"});
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("ZeroSize of Presentation!"), std::string::npos);
}

}  // namespace
}  // namespace lum
