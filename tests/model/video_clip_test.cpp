// Video clip rules: show time to video time (clips continuing across
// slides, speed, start and length), frame indices, the deinterlace field,
// chroma key coverage, the shader choice, and clip upkeep in "Tracks".
#include <gtest/gtest.h>

#include "render/3d_yuv.h"
#include "render/drawer_shaders.h"
#include "model/video_clip.h"
#include "model/video_time.h"

namespace lum {
namespace {

TVideoTiming Timing(double startLum, double fps, double startVideo, double duration) {
  TVideoTiming t;
  t.startLum = startLum;
  t.fps = fps;
  t.startVideo = startVideo;
  t.duration = duration;
  return t;
}

TEST(VideoTime, StartLengthAndSpeed) {
  const TVideoTiming t = Timing(1000, 1, 2000, 5000);
  EXPECT_DOUBLE_EQ(VideoTimeAt(t, 0, 0, 0), 2000);  // before the start: first frame
  EXPECT_DOUBLE_EQ(VideoTimeAt(t, 999, 0, 0), 2000);
  EXPECT_DOUBLE_EQ(VideoTimeAt(t, 1500, 0, 0), 2500);
  EXPECT_DOUBLE_EQ(VideoTimeAt(t, 6000, 0, 0), 7000);   // the end
  EXPECT_DOUBLE_EQ(VideoTimeAt(t, 60000, 0, 0), 7000);  // the last frame stays
  // Twice the speed plays 10 000 ms of video in 5000 ms of show time.
  const TVideoTiming fast = Timing(0, 2, 0, 10000);
  EXPECT_DOUBLE_EQ(VideoTimeAt(fast, 2500, 0, 0), 5000);
  EXPECT_DOUBLE_EQ(VideoTimeAt(fast, 5000, 0, 0), 10000);
  EXPECT_DOUBLE_EQ(VideoTimeAt(fast, 9000, 0, 0), 10000);
}

TEST(VideoTime, ClipContinuesOnLaterSlides) {
  // A clip started 500 ms into slide 3 (timeline 10 000); slide 4 begins at 14 000.
  TVideoTiming clip = Timing(500, 1, 0, 60000);
  clip.isClip = true;
  clip.clipStart = 10000;
  EXPECT_DOUBLE_EQ(VideoTimeAt(clip, 3000, 10000, 0), 2500);  // on slide 3
  EXPECT_DOUBLE_EQ(VideoTimeAt(clip, 0, 14000, 0), 3500);     // where slide 3 left it
  EXPECT_DOUBLE_EQ(VideoTimeAt(clip, 1000, 14000, 0), 4500);
}

TEST(VideoTime, HostileSpeedsAndLengths) {
  // Zero, negative and non-finite speeds play at normal speed, never divide by zero.
  for (double f : {0.0, -2.0, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    const double v = VideoTimeAt(Timing(0, f, 0, 4000), 1000, 0, 0);
    EXPECT_DOUBLE_EQ(v, 1000) << f;
  }
  EXPECT_DOUBLE_EQ(VideoTimeAt(Timing(0, 1, 300, -50), 1000, 0, 0), 300);
}

TEST(VideoTime, FrameIndices) {
  EXPECT_EQ(FrameIndexAt(0, 25, 1), 0);
  EXPECT_EQ(FrameIndexAt(19, 25, 1), 0);
  EXPECT_EQ(FrameIndexAt(20, 25, 1), 1);  // round(0.5)
  EXPECT_EQ(FrameIndexAt(1000, 30000, 1001), 30);
  EXPECT_EQ(FrameIndexAt(-500, 25, 1), 0);
  EXPECT_EQ(FrameIndexAt(10000, 25, 1, 100), 99);        // stays on the last
  EXPECT_EQ(FrameIndexAt(10000, 25, 1, 100, true), 50);  // wraps when looping
  EXPECT_EQ(FrameIndexAt(1000, 0, 1), 0);
  EXPECT_EQ(FrameIndexAt(1000, 25, 0), 0);
  EXPECT_EQ(FrameIndexAt(1e300, 25, 1, 10), 9);
  EXPECT_DOUBLE_EQ(FrameIntervalStart(2, 25, 1), 60);
}

TEST(Deinterlace, FieldChoice) {
  // 25 fps: frame 5 spans 180..220 ms, midpoint 200.
  const double early = 190, late = 210;
  EXPECT_EQ(ChooseField(TDeinterlace::Auto, false, true, early, 25, 1), 0);
  EXPECT_EQ(ChooseField(TDeinterlace::Auto, true, true, early, 25, 1), 1);
  EXPECT_EQ(ChooseField(TDeinterlace::Auto, true, true, late, 25, 1), 2);
  EXPECT_EQ(ChooseField(TDeinterlace::Auto, true, false, early, 25, 1), 2);
  EXPECT_EQ(ChooseField(TDeinterlace::Auto, true, false, late, 25, 1), 1);
  EXPECT_EQ(ChooseField(TDeinterlace::Wave, true, true, early, 25, 1), 0);
  EXPECT_EQ(ChooseField(TDeinterlace::BobEven, true, false, early, 25, 1), 1);
  EXPECT_EQ(ChooseField(TDeinterlace::BobEven, false, false, late, 25, 1), 2);
  // BobOdd shows the second field first.
  EXPECT_EQ(ChooseField(TDeinterlace::BobOdd, true, true, early, 25, 1), 2);
  EXPECT_EQ(ChooseField(TDeinterlace::BobOdd, true, true, late, 25, 1), 1);
  EXPECT_EQ(ChooseField(TDeinterlace::BobOdd, true, true, early, 0, 0), 0);
  EXPECT_EQ(DeinterlaceFromName("bobodd"), TDeinterlace::BobOdd);
  EXPECT_EQ(DeinterlaceFromName("nonsense"), TDeinterlace::Auto);
}

TEST(ChromaKey, Coverage) {
  EXPECT_DOUBLE_EQ(ChromaKeyCoverage(0.3, 0.2, 0.3, 0.2, 0.1), 0);
  EXPECT_NEAR(ChromaKeyCoverage(0.35, 0.2, 0.3, 0.2, 0.1), 0.0625, 1e-9);  // d = 0.025
  EXPECT_DOUBLE_EQ(ChromaKeyCoverage(0.5, 0.4, 0.3, 0.2, 0.1), 1);         // d past delta
  EXPECT_DOUBLE_EQ(ChromaKeyCoverage(0.3, 0.2, 0.3, 0.2, 0), 1);           // no tolerance
  // Pure green keys out green, not grey or red.
  float u = 0, v = 0;
  ChromaKeyUV(0x00FF00, u, v);
  EXPECT_LT(u, 0.25f);
  EXPECT_LT(v, 0.25f);
  EXPECT_DOUBLE_EQ(ChromaKeyCoverage(u, v, u, v, 0.1), 0);
  EXPECT_DOUBLE_EQ(ChromaKeyCoverage(0.5, 0.5, u, v, 0.1), 1);
  float ru = 0, rv = 0;
  ChromaKeyUV(0x0000FF, ru, rv);
  EXPECT_DOUBLE_EQ(ChromaKeyCoverage(ru, rv, u, v, 0.1), 1);
}

TEST(VideoShaders, ChoiceAndConstants) {
  TYuvDrawOptions o;
  EXPECT_EQ(VideoShaderFor(o), shColorGradeVideo);
  o.field = 2;
  EXPECT_EQ(VideoShaderFor(o), shColorGradeDeinter);
  o.chromaKey = true;
  EXPECT_EQ(VideoShaderFor(o), shColorGradeChromaDeinter);
  o.field = 0;
  EXPECT_EQ(VideoShaderFor(o), shColorGradeChromaKey);
  o.field = 2;
  o.tolerance = 0.25f;
  o.keyU = 0.1f;
  o.keyV = 0.2f;
  const std::vector<float> c = VideoShaderConstants(o, 512, 0.5);
  ASSERT_EQ(c.size(), 20u);
  EXPECT_FLOAT_EQ(c[0], 0.5f);
  EXPECT_FLOAT_EQ(c[4], 512);
  EXPECT_FLOAT_EQ(c[5], 1 / 512.f);
  EXPECT_FLOAT_EQ(c[8], 1);  // odd rows: offsy (1, -1)
  EXPECT_FLOAT_EQ(c[9], -1);
  EXPECT_FLOAT_EQ(c[12], 0.25f);
  EXPECT_FLOAT_EQ(c[13], 4);
  EXPECT_FLOAT_EQ(c[16], 0.1f);
  EXPECT_FLOAT_EQ(c[17], 0.2f);
  o.field = 1;
  o.tolerance = 0;
  const std::vector<float> even = VideoShaderConstants(o, 0, 0);
  EXPECT_FLOAT_EQ(even[8], 0);
  EXPECT_FLOAT_EQ(even[9], 0);
  EXPECT_FLOAT_EQ(even[5], 0);   // no division by a zero height
  EXPECT_FLOAT_EQ(even[13], 0);  // nor by a zero tolerance
}

constexpr const char* kProject =
    "[Times]\nopt_slidescount=4\nopt_synchpos3=10000\nopt_synchpos4=14000\n"
    "[Tracks]\nobject {C1}:TVideoClip2\nClipGUID={C1}\nFileName=a.mp4\nStartSlideIdx=3\n"
    "StartLUMTime=500\nDuration=90000\nStartVideoTime=-5\nFPSMultiplier=1\nMute=0\n"
    "ClipCaption=Intro\nend\n";

TEST(VideoClip, FoundReadAndKeptWithinTheFile) {
  TIniFile doc;
  doc.LoadText(kProject);
  TVideoClip2 clip;
  EXPECT_FALSE(clip.Find(doc, "{nope}"));
  EXPECT_FALSE(clip.Find(doc, ""));
  ASSERT_TRUE(clip.Find(doc, "{c1}"));
  EXPECT_EQ(clip.fileName, "a.mp4");
  EXPECT_DOUBLE_EQ(clip.timelineStart, 10000);
  const TVideoTiming t = clip.Timing();
  EXPECT_TRUE(t.isClip);
  EXPECT_DOUBLE_EQ(VideoTimeAt(t, 0, 14000, 0), 3495);  // before upkeep moves the start
  EXPECT_TRUE(clip.HasSound());
  // Duration past the file becomes its length, a start outside it 0.
  EXPECT_TRUE(clip.ClampTo(30000));
  EXPECT_DOUBLE_EQ(clip.duration, 30000);
  EXPECT_DOUBLE_EQ(clip.startVideo, 0);
  EXPECT_FALSE(clip.ClampTo(30000));
  clip.fps = 2;
  EXPECT_FALSE(clip.HasSound());
  clip.fps = 1;
  clip.fileName = "x.GIF";
  EXPECT_FALSE(clip.HasSound());
}

TEST(VideoClip, UpkeepWritesBackIntoTracks) {
  TIniFile doc;
  doc.LoadText(kProject);
  TVideoClip2 clip;
  ASSERT_TRUE(clip.Find(doc, "{C1}"));
  clip.ClampTo(30000);
  clip.WriteBack(doc);
  TIniObject* o = FindClipObject(doc, "{C1}");
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(ReadFloat(o, "Duration", 0), 30000);
  EXPECT_EQ(ReadFloat(o, "StartVideoTime", -1), 0);
  EXPECT_EQ(ReadString(o, "ClipCaption", ""), "Intro");
  EXPECT_EQ(doc.Section("Tracks")->Objects().size(), 1u);
  // A clip not yet in "Tracks" is added there.
  TVideoClip2 fresh;
  fresh.guid = "{C2}";
  fresh.fileName = "b.avi";
  fresh.WriteBack(doc);
  TVideoClip2 back;
  ASSERT_TRUE(back.Find(doc, "{C2}"));
  EXPECT_EQ(back.fileName, "b.avi");
  EXPECT_DOUBLE_EQ(back.fps, 1);
}

}  // namespace
}  // namespace lum
