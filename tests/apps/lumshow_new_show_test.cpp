// What a show made by lumshow new holds and plays: its timeline and
// transitions as lumshow info reads them, the slow zoom and pan as rendered
// frames, pictures turned as their EXIF orientation says (against
// ImageMagick's own turn), captions and title drawn, and the music at its
// pitch in the mixed sound (counted here from the samples).
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "document/ini_file.h"
#include "foundation/errors.h"
#include "imaging/image_fixtures.h"
#include "show_maker.h"
#include "support/environment.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TPixels;
using test::TRgb;
using test::TTempDir;

// A picture whose red grows to the right and green downwards, so that a
// rendered pixel tells which part of the picture it shows.
TPixels Ramp(int w, int h) {
  TPixels p;
  p.width = w;
  p.height = h;
  p.px.resize(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p.At(x, y) = {uint8_t(x * 255 / (w - 1)), uint8_t(y * 255 / (h - 1)), 0};
  return p;
}

TPixels Flat(int w, int h, TRgb c) {
  TPixels p;
  p.width = w;
  p.height = h;
  p.px.assign(size_t(w) * h, c);
  return p;
}

std::string Tool(const std::string& name) {
  std::string path = test::FindProgram(name);
  if (path.empty()) ADD_FAILURE() << name << " is not installed (scripts/install-deps)";
  return path;
}

class NewShow : public ::testing::Test {
 protected:
  // Makes a show folder from the inputs; its project document.
  std::string Make(std::vector<std::string> args, const std::string& name = "show") {
    args.insert(args.begin(), "new");
    args.insert(args.end(), {"--folder", dir / name});
    test::TCommandResult r = Lumshow(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return dir / (name + "/Project.lum");
  }
  nlohmann::json Info(const std::string& show) {
    return test::Json(Lumshow({"info", show, "--json"}));
  }
  TPixels Frame(const std::string& show, double ms, const std::string& size) {
    const std::string out = dir / "frame.png";
    test::TCommandResult r =
        Lumshow({"render", show, "--time", std::to_string(ms), "--size", size, "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(out);
  }
  std::string Picture(const std::string& name, const TPixels& p) {
    return dir.Write("in/" + name, test::WriteBmp(p, {}));
  }
  // A sine tone of that pitch and length encoded to MP3 by lame, beside
  // the pictures' folder.
  std::string Tone(const std::string& name, int hz, int seconds) {
    const std::string wav = dir / "tone.wav", mp3 = dir / name;
    test::RunTool({Tool("sox"), "-n", "-r", "44100", "-c", "2", wav, "synth",
                   std::to_string(seconds), "sine", std::to_string(hz), "vol", "0.5"});
    test::RunTool({Tool("lame"), "--quiet", wav, mp3});
    return mp3;
  }
  TTempDir dir;
};

std::vector<std::string> Refs(const nlohmann::json& info) {
  std::vector<std::string> refs;
  for (const auto& s : info["slides"])
    refs.push_back(s["transition"].is_null() ? "" : s["transition"]["ref"]);
  return refs;
}

TEST_F(NewShow, TimelineTransitionsAndEnd) {
  for (int i = 0; i < 12; ++i)
    Picture(fmt::format("p{:02}.bmp", i), Flat(64, 48, {uint8_t(20 * i), 90, 90}));
  const std::string in = dir / "in";
  struct TCase {
    std::vector<std::string> args;
    size_t slides;
    int slideMs, transitionMs;
    std::string endBehaviour, firstName;
  };
  const TCase cases[] = {
      {{}, 12, 5000, 1000, "stop", "p00"},
      {{"--slide-time", "3000", "--transition-time", "500", "--loop"},
       12,
       3000,
       500,
       "repeat",
       "p00"},
      {{"--title", "Summer", "--transition", "push"}, 13, 5000, 1000, "stop", "Title"},
      {{"--transition", "all"}, 12, 5000, 1000, "stop", "p00"},
  };
  int n = 0;
  for (const TCase& c : cases) {
    std::vector<std::string> args{in};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const nlohmann::json info = Info(Make(args, "show" + std::to_string(n++)));
    SCOPED_TRACE(info["slides"][0].dump());
    ASSERT_EQ(info["slides"].size(), c.slides);
    EXPECT_EQ(info["show"]["endBehaviour"], c.endBehaviour);
    EXPECT_EQ(info["show"]["duration"], double(c.slides) * c.slideMs);
    EXPECT_EQ(info["slides"][0]["name"], c.firstName);
    for (const auto& s : info["slides"]) {
      EXPECT_EQ(s["end"].get<double>() - s["start"].get<double>(), c.slideMs);
      EXPECT_EQ(s["transitionIn"], c.transitionMs);
    }
  }
  // Rotation: the player chooses from the enabled catalogue.
  std::set<int> types;
  const nlohmann::json rotation = Info(dir / "show0/Project.lum");
  for (const auto& s : rotation["slides"]) {
    EXPECT_EQ(s["transition"]["ref"], "default");
    types.insert(s["transition"]["type"].get<int>());
  }
  EXPECT_GT(types.size(), 3u);
  // One family, a different variant on each slide.
  const nlohmann::json push = Info(dir / "show2/Project.lum");
  for (const std::string& r : Refs(push)) EXPECT_EQ(r, "push");
  EXPECT_NE(push["slides"][1]["transition"]["flags"], push["slides"][2]["transition"]["flags"]);
  // Every family in turn.
  const std::vector<std::string> all = Refs(Info(dir / "show3/Project.lum"));
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 11),
            (std::vector<std::string>{"dissolve", "hourhand", "shapes", "gates", "page", "mosaic",
                                      "push", "slide", "curling", "flip", "swap"}));
  EXPECT_EQ(all[11], "dissolve");

  test::TCommandResult bad =
      Lumshow({"new", in, "--transition", "sparkle", "--folder", dir / "bad"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("sparkle"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("curling"), std::string::npos) << bad.err;
}

TEST_F(NewShow, FitMusicStretchesSlidesToTheMusic) {
  for (int i = 0; i < 10; ++i)
    Picture(fmt::format("p{}.bmp", i), Flat(64, 48, {uint8_t(20 * i), 90, 90}));
  Tone("song.mp3", 440, 12);
  const std::string in = dir / "in";
  // Three photos share the song; music length as sox reads the file.
  const std::string song = dir / "song.mp3";
  const double songMs = std::stod(test::RunTool({Tool("soxi"), "-D", song})) * 1000;
  const nlohmann::json three = Info(Make(
      {in + "/p0.bmp", in + "/p1.bmp", in + "/p2.bmp", "--music", song, "--fit-music"}, "three"));
  EXPECT_NEAR(three["show"]["duration"].get<double>(), songMs, 60);
  const auto& s = three["slides"];
  EXPECT_NEAR(s[1]["end"].get<double>() - s[1]["start"].get<double>(),
              s[2]["end"].get<double>() - s[2]["start"].get<double>(), 1);
  // Ten photos cannot get below two seconds each.
  const nlohmann::json ten = Info(Make({in, "--music", song, "--fit-music"}, "ten"));
  EXPECT_EQ(ten["slides"].size(), 10u);
  EXPECT_EQ(ten["show"]["duration"], 20000);
}

// Samples of the left channel of a 44100 Hz stereo WAVE file.
std::vector<int16_t> LeftChannel(const std::string& path) {
  const std::string bytes = test::ReadFile(path);
  std::vector<int16_t> left;
  const size_t data = bytes.find("data");
  if (data == std::string::npos) return left;
  for (size_t i = data + 8; i + 4 <= bytes.size(); i += 4)
    left.push_back(int16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
  return left;
}

// Pitch by zero crossings and loudness (RMS) over [fromS, toS).
std::pair<double, double> PitchAndLevel(const std::vector<int16_t>& s, double fromS, double toS) {
  const size_t a = size_t(fromS * 44100), b = std::min(s.size(), size_t(toS * 44100));
  int crossings = 0;
  double sum = 0;
  for (size_t i = a + 1; i < b; ++i) {
    crossings += (s[i - 1] < 0) != (s[i] < 0);
    sum += double(s[i]) * s[i];
  }
  return {crossings / 2.0 / (toS - fromS), std::sqrt(sum / double(b - a))};
}

TEST_F(NewShow, MusicPlaysAtItsPitchRepeatsAndFadesAtTheEnd) {
  for (int i = 0; i < 5; ++i)
    Picture(fmt::format("p{}.bmp", i), Flat(64, 48, {uint8_t(20 * i), 90, 90}));
  Tone("a.mp3", 440, 6);
  Tone("b.mp3", 660, 6);
  const std::string in = dir / "in";
  // 15 s of slides over 12 s of music cross-fading over 2 s: a from 0 to 6,
  // b from 4 to 10, a again from 8 to 14, b again from 12, cut at 15 s.
  const std::string show = Make({in, "--music", dir / "a.mp3", "--music", dir / "b.mp3",
                                 "--slide-time", "3000", "--size", "320x180"});
  const std::string wav = dir / "mix.wav";
  test::TCommandResult r = Lumshow({"audio", show, "-o", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<int16_t> left = LeftChannel(wav);
  EXPECT_NEAR(left.size() / 44100.0, 15.0, 0.05);
  const auto [pitchA, levelA] = PitchAndLevel(left, 0.5, 3.5);
  const auto [pitchB, levelB] = PitchAndLevel(left, 6.5, 7.5);
  const auto [pitchAgain, levelAgain] = PitchAndLevel(left, 10.5, 11.5);
  EXPECT_NEAR(pitchA, 440, 3);
  EXPECT_NEAR(pitchB, 660, 3);
  EXPECT_NEAR(pitchAgain, 440, 3);
  EXPECT_GT(levelA, 5000);
  EXPECT_NEAR(levelB, levelA, levelA * 0.1);
  EXPECT_NEAR(levelAgain, levelA, levelA * 0.1);
  // The cut fades out instead of stopping dead.
  EXPECT_LT(PitchAndLevel(left, 14.85, 15.0).second, levelA * 0.3);
  EXPECT_GT(PitchAndLevel(left, 13.3, 13.5).second, levelA * 0.5);
}

TEST_F(NewShow, MotionFollowsTheSeed) {
  Picture("wide.bmp", Ramp(640, 360));
  Picture("tall.bmp", Ramp(240, 480));
  const std::string in = dir / "in";
  auto make = [&](const std::string& name, std::vector<std::string> extra) {
    std::vector<std::string> args{
        in, "--size", "320x180", "--slide-time", "4000", "--transition-time", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Make(args, name);
  };
  const std::string seven = make("seven", {"--seed", "7"}), again = make("again", {"--seed", "7"}),
                    other = make("other", {"--seed", "8"}),
                    still = make("still", {"--motion", "off"});
  // tall.bmp is slide 0, wide.bmp slide 1 (sorted by name).
  const TPixels begin = Frame(seven, 4100, "320x180"), end = Frame(seven, 7900, "320x180");
  EXPECT_GT(test::MaxDifference(begin, end), 40) << "the framing moves over the slide";
  EXPECT_LE(test::MaxDifference(begin, Frame(again, 4100, "320x180")), 1)
      << "same seed, same frame";
  EXPECT_LE(test::MaxDifference(end, Frame(again, 7900, "320x180")), 1);
  // The ramp is gentle: a pan of 30 pixels changes a channel by about 12.
  EXPECT_GT(test::MaxDifference(begin, Frame(other, 4100, "320x180")), 10) << "another seed";
  // The photo fills the screen while it moves: no background at the corners.
  for (const TRgb& c : {begin.At(1, 1), begin.At(318, 178)}) EXPECT_GT(c.r + c.g, 20);

  // A portrait photo pans vertically: the centre keeps its column, not its row.
  const TRgb top = Frame(seven, 100, "320x180").At(160, 90),
             bottom = Frame(seven, 3900, "320x180").At(160, 90);
  EXPECT_NEAR(top.r, 128, 16);
  EXPECT_NEAR(bottom.r, 128, 16);
  EXPECT_GT(std::abs(top.g - bottom.g), 80);

  // Still: the whole portrait photo fitted (x 115 to 205) and unmoving.
  const TPixels a = Frame(still, 100, "320x180"), b = Frame(still, 3900, "320x180");
  EXPECT_LE(test::MaxDifference(a, b), 1);
  EXPECT_LT(a.At(118, 2).r + a.At(118, 2).g, 40);       // the photo's top-left corner
  EXPECT_GT(a.At(202, 177).r + a.At(202, 177).g, 440);  // its bottom-right one
  EXPECT_EQ(a.At(20, 90), (TRgb{0, 0, 0}));
}

TEST_F(NewShow, ExifOrientationTurnsThePictureUpright) {
  // Quadrants red, green / blue, yellow, stored as the camera took them.
  TPixels q = Flat(400, 300, {255, 0, 0});
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x)
      q.At(x, y) = y < 150 ? (x < 200 ? TRgb{255, 0, 0} : TRgb{0, 255, 0})
                           : (x < 200 ? TRgb{0, 0, 255} : TRgb{255, 255, 0});
  const std::string jpeg = test::CjpegFile(q, {"-quality", "95"});
  for (int k = 1; k <= 8; ++k) {
    const std::string path = dir.Write("in/o" + std::to_string(k) + ".jpg", jpeg);
    test::RunTool({Tool("exiftool"), "-q", "-n", "-overwrite_original",
                   "-Orientation=" + std::to_string(k), path});
  }
  const std::string show = Make({dir / "in", "--motion", "off", "--slide-time", "1000",
                                 "--transition-time", "0", "--size", "800x600"});
  for (int k = 1; k <= 8; ++k) {
    SCOPED_TRACE("orientation " + std::to_string(k));
    const std::string upright = dir / "upright.png";
    test::RunTool(
        {Tool("convert"), dir / ("in/o" + std::to_string(k) + ".jpg"), "-auto-orient", upright});
    const TPixels want = test::ReadPicture(upright),
                  got = Frame(show, 500 + 1000 * (k - 1), "800x600");
    const double scale = std::min(800.0 / want.width, 600.0 / want.height);
    const double left = (800 - want.width * scale) / 2, top = (600 - want.height * scale) / 2;
    for (double fx : {0.25, 0.75})
      for (double fy : {0.25, 0.75}) {
        const TRgb w = want.At(int(fx * want.width), int(fy * want.height));
        const TRgb g =
            got.At(int(left + fx * want.width * scale), int(top + fy * want.height * scale));
        EXPECT_NEAR(g.r, w.r, 40) << fx << "," << fy;
        EXPECT_NEAR(g.g, w.g, 40) << fx << "," << fy;
        EXPECT_NEAR(g.b, w.b, 40) << fx << "," << fy;
      }
  }
  // The pictures are stored as they came: turned by the player, not rewritten.
  EXPECT_EQ(Lumshow({"cat", show, "o6.jpg"}).out, test::ReadFile(dir / "in/o6.jpg"));
}

// Pixels in rows [y0, y1) brighter than 200 in every channel, and darker than 100.
std::pair<int, int> WhiteAndDark(const TPixels& p, int y0, int y1) {
  int white = 0, dark = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < p.width; ++x) {
      const TRgb c = p.At(x, y);
      white += c.r > 200 && c.g > 200 && c.b > 200;
      dark += c.r < 100 && c.g < 100 && c.b < 100;
    }
  return {white, dark};
}

TEST_F(NewShow, CaptionsAndTitleAreDrawn) {
  const TPixels grey = Flat(320, 180, {128, 128, 128});
  Picture("Beach day.bmp", grey);
  const std::string dated = dir / "in/dated.jpg", undated = dir / "in/undated.jpg";
  dir.Write("in/dated.jpg", test::CjpegFile(grey, {}));
  dir.Write("in/undated.jpg", test::CjpegFile(grey, {}));
  test::RunTool(
      {Tool("exiftool"), "-q", "-overwrite_original", "-ModifyDate=2015:07:04 18:22:05", dated});
  const std::vector<std::string> common{"--motion",          "off", "--slide-time", "2000",
                                        "--transition-time", "0",   "--size",       "640x360"};
  auto make = [&](const std::string& name, std::vector<std::string> args) {
    args.insert(args.end(), common.begin(), common.end());
    return Make(args, name);
  };
  const std::string named =
      make("named", {dir / "in/Beach day.bmp", "--captions", "name", "--title", "Holiday 2015"});
  const std::string plain = make("plain", {dir / "in/Beach day.bmp"});
  const std::string dates = make("dates", {dated, undated, "--captions", "date"});

  // The title slide: white letters in the middle, nothing at the top.
  const TPixels title = Frame(named, 1000, "640x360");
  EXPECT_GT(WhiteAndDark(title, 150, 210).first, 500);
  EXPECT_EQ(WhiteAndDark(title, 0, 100).first, 0);
  // The caption at the bottom over its soft shadow; none without captions.
  const auto [white, dark] = WhiteAndDark(Frame(named, 3000, "640x360"), 320, 358);
  EXPECT_GT(white, 60);
  EXPECT_GT(dark, 20) << "the shadow under the letters";
  EXPECT_EQ(WhiteAndDark(Frame(plain, 1000, "640x360"), 320, 358).first, 0);
  // Dates come from the picture's EXIF: a picture without one has no caption.
  EXPECT_GT(WhiteAndDark(Frame(dates, 1000, "640x360"), 320, 358).first, 40);
  EXPECT_EQ(WhiteAndDark(Frame(dates, 3000, "640x360"), 320, 358).first, 0);
}

// The document alone: many photos, a clip's length, and header numbers and
// names it cannot hold.
TEST(NewShowDocument, TenThousandPhotosClipsAndHostileHeaders) {
  lumshow::TNewArgs args;
  args.captions = "name";
  std::vector<lumshow::TMediaItem> items(10000);
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].member = fmt::format("photos\\IMG_{:05}.jpg", i);
    items[i].width = 4000;
    items[i].height = 3000;
    items[i].orientation = int(i % 8) + 1;
  }
  const auto t0 = std::chrono::steady_clock::now();
  const std::string text = lumshow::BuildShowDocument(items, args);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(seconds, 5.0);  // instrumented memory access
#else
  EXPECT_LT(seconds, 1.0);
#endif
  TIniFile doc;
  ASSERT_TRUE(doc.LoadText(text.substr(3))) << doc.LoadError();
  EXPECT_EQ(doc.ReadInteger("Times", "opt_slidescount", 0), 10000);
  EXPECT_EQ(doc.ReadInteger("Times", "opt_synchpos10000", 0), 50000000);
  EXPECT_EQ(doc.ReadString("Slide9999", "Picture", ""), "photos\\IMG_09998.jpg");

  // A video plays for its clip's length; its still neighbours keep theirs.
  items.resize(3);
  items[1] = {lumshow::TMediaKind::Video, "clip.mp4", "clip.mp4", 320, 240, 1, 7250, 0};
  const std::string mixed = lumshow::BuildShowDocument(items, args);
  ASSERT_TRUE(doc.LoadText(mixed.substr(3)));
  EXPECT_EQ(doc.ReadInteger("Times", "opt_synchpos1", 0), 5000);
  EXPECT_EQ(doc.ReadInteger("Times", "opt_synchpos2", 0), 12250);
  EXPECT_EQ(doc.ReadInteger("Times", "opt_synchpos3", 0), 17250);
  EXPECT_NE(mixed.find("object Clip:Video\r\n    GUID="), std::string::npos);

  // Numbers from hostile headers: no overflow, at worst a clear refusal.
  items.assign(2, {});
  items[0].member = "a.jpg";
  items[0].orientation = 99;
  items[1] = {lumshow::TMediaKind::Music, "m.mp3", "m.mp3", 0, 0, 1, INT64_MAX, 0};
  lumshow::TNewArgs fit = args;
  fit.fitMusic = true;
  ASSERT_TRUE(doc.LoadText(lumshow::BuildShowDocument(items, fit).substr(3)));
  EXPECT_EQ(doc.ReadInteger("Times", "opt_synchpos1", 0), INT32_MAX);
  items[1].kind = lumshow::TMediaKind::Video;
  EXPECT_THROW(lumshow::BuildShowDocument(items, args), ELumError);

  for (const char* name :
       {"a.jpg\r\n[Main]\r\nopt_runapponexit=1", "a.jpg\nopt_repeat=repeat", " a.jpg"}) {
    items.assign(1, lumshow::TMediaItem{});
    items[0].member = name;
    EXPECT_THROW(lumshow::BuildShowDocument(items, args), ELumError) << name;
  }
}

}  // namespace
}  // namespace lum
