// Video objects over a stand-in frame source installed as the video layer
// installs its own: the frame drawn follows the video time, clip upkeep
// writes the file's length back into "Tracks" (also while other threads read
// clips), and without a source the object stays without a picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "model/lum_video.h"
#include "model/slide_producer.h"
#include "model/video_clip.h"
#include "model/video_time.h"
#include "project/lum_source.h"

namespace lum {
namespace {

// 25 frames a second, 40 frames; frame n has luma 16 + n.
class TFakeFrames : public TVideoFrameSource {
 public:
  double DurationMs() const override { return 1600; }
  int32_t RateNum() const override { return 25; }
  int32_t RateDen() const override { return 1; }
  bool Interlaced() const override { return false; }
  bool TopFieldFirst() const override { return true; }
  int64_t IndexAt(double ms) const override { return FrameIndexAt(ms, 25, 1, 40); }
  std::unique_ptr<TVideoFrame> Take(double ms, double, bool* exact) override {
    auto f = std::make_unique<TVideoFrame>();
    f->Resize(8, 6);
    f->index = std::max<int64_t>(0, IndexAt(ms) - lag);
    std::fill(f->y.begin(), f->y.end(), uint8_t(16 + f->index));
    std::fill(f->u.begin(), f->u.end(), uint8_t(128));
    std::fill(f->v.begin(), f->v.end(), uint8_t(128));
    if (exact) *exact = true;
    return f;
  }
  void Give(std::unique_ptr<TVideoFrame> f) override { given += f ? 1 : 0; }
  bool Prepare(double, bool, int) override { return true; }
  int given = 0;
  int64_t lag = 0;  // frames the decoder is behind
};

struct TVideoShow {
  explicit TVideoShow(const std::string& objects, const std::string& tracks = "") {
    doc.LoadText(
        "[Main]\nMinorVersion=13\nopt_scr_width=1000\nopt_scr_height=1000\n"
        "[Times]\nopt_slidescount=1\nopt_synchpos1=5000\n" +
        tracks + "[Slide1]\nobject Container:Root\n" + objects + "end\n");
    source = std::make_unique<TLumSource>(nullptr, doc, TLumSourceSettings{"x", 1});
    producer = MakeRef<TSlideProducer>(*source);
    producer->SetFrame(1000, 1000);
  }
  TLumVideo* Video(const std::string& name, double time) {
    container = producer->ProduceOrThrow(0);
    At(time);
    for (TLumObject* o : container->slide->AllObjects())
      if (o->Name() == name) return dynamic_cast<TLumVideo*>(o);
    return nullptr;
  }
  void At(double time) { container->slide->SetTimeAndLayout(true, time); }
  TIniFile doc;
  std::unique_ptr<TLumSource> source;
  TRef<TSlideProducer> producer;
  TRef<TDrawContainer> container;
};

std::string VideoText(const std::string& name, const std::string& keys) {
  return "object " + name + ":Video\nGUID={" + name + "}\n" + keys + "end\n";
}

class VideoObject : public ::testing::Test {
 protected:
  void SetUp() override {
    SetVideoSourceFactory([this](const std::string& key, const std::string& file,
                                 const TVideoStreamOpener&) -> TRef<TVideoFrameSource> {
      keys.push_back(key);
      files.push_back(file);
      return frames;
    });
  }
  void TearDown() override { SetVideoSourceFactory({}); }
  TRef<TFakeFrames> frames = MakeRef<TFakeFrames>();
  std::vector<std::string> keys, files;
};

TEST_F(VideoObject, FramesFollowTheVideoTime) {
  TVideoShow show(VideoText("V", "FileName=C:\\Clips\\A.MP4\nStartLUMTime=200\nDuration=1600\n"));
  TLumVideo* v = show.Video("V", 1200);
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(v->Extractor(), frames.Get());
  EXPECT_GT(v->Width(), 0);  // sized by the first frame
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], "C:\\Clips\\A.MP4");
  EXPECT_NE(keys[0].find(":member:c:\\clips\\a.mp4"), std::string::npos) << keys[0];
  const TVideoFrame* f = v->CurrentFrame(60);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->index, 25);  // one second into the video
  EXPECT_EQ(f->y[0], 16 + 25);
  EXPECT_EQ(v->DrawParams().field, 0);
}

TEST_F(VideoObject, CountsFramesShownLateAndSkipped) {
  TVideoShow show(VideoText("V", "FileName=a.mp4\nDuration=1600\n"));
  TLumVideo* v = show.Video("V", 0);
  ASSERT_NE(v, nullptr);
  const TVideoShowCounts c0 = TLumVideo::ShowCounts();
  auto since = [&] {
    const TVideoShowCounts c = TLumVideo::ShowCounts();
    return std::vector<int64_t>{c.shown - c0.shown, c.late - c0.late, c.skipped - c0.skipped};
  };
  for (double t : {0, 40, 45, 80}) {  // frames 0, 1, 1 again, 2
    show.At(t);
    v->CurrentFrame(60);
  }
  EXPECT_EQ(since(), (std::vector<int64_t>{3, 0, 0}));
  show.At(400);  // frame 10, in its time: 3..9 never shown
  v->CurrentFrame(60);
  EXPECT_EQ(since(), (std::vector<int64_t>{4, 0, 7}));
  frames->lag = 2;
  show.At(800);  // frame 18 instead of 20: 80 ms after its time
  v->CurrentFrame(60);
  EXPECT_EQ(since(), (std::vector<int64_t>{5, 1, 14}));
  frames->lag = 0;
  show.At(100);  // back: shown, not judged
  v->CurrentFrame(60);
  EXPECT_EQ(since(), (std::vector<int64_t>{6, 1, 14}));
}

TEST_F(VideoObject, UpkeepClampsTheClipIntoTracks) {
  TVideoShow show(VideoText("V", "ClipGUID={c1}\n"),
                  "[Tracks]\nobject {c1}:TVideoClip2\nClipGUID={c1}\nFileName=a.mp4\n"
                  "Duration=99999\nStartVideoTime=-5\nend\n");
  TLumVideo* v = show.Video("V", 0);
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->LinkedToClip());
  const TIniObject* c = FindClipObject(show.doc, "{c1}");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(ReadFloat(c, "Duration", 0), 1600);
  EXPECT_EQ(ReadFloat(c, "StartVideoTime", -1), 0);
}

TEST(VideoObjectWithoutSource, StaysWithoutPicture) {
  SetVideoSourceFactory({});
  TVideoShow show(VideoText("V", "FileName=a.mp4\nDuration=1000\n"));
  TLumVideo* v = show.Video("V", 0);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Extractor(), nullptr);
  EXPECT_EQ(v->CurrentFrame(60), nullptr);
  EXPECT_EQ(v->Width(), 0);
}

// Upkeep adding clips while other threads look clips up: nothing lost, no
// reader sees a half-written clip.
TEST(VideoClipUpkeep, WriteBacksAndLookupsFromManyThreads) {
  TIniFile doc;
  doc.LoadText("[Tracks]\n");
  std::atomic<int> badReads{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i) {
        TVideoClip2 c;
        c.guid = "{" + std::to_string(t) + "-" + std::to_string(i) + "}";
        c.fileName = "f" + std::to_string(t) + ".mp4";
        c.duration = 1000 + i;
        c.WriteBack(doc);
      }
    });
    threads.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i) {
        TVideoClip2 c;
        if (c.Find(doc, "{" + std::to_string(t) + "-" + std::to_string(i / 2) + "}") &&
            c.fileName != "f" + std::to_string(t) + ".mp4")
          ++badReads;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(badReads, 0);
  EXPECT_EQ(doc.Section("Tracks")->Objects().size(), 600u);
  TVideoClip2 last;
  ASSERT_TRUE(last.Find(doc, "{3-149}"));
  EXPECT_DOUBLE_EQ(last.duration, 1149);
}

}  // namespace
}  // namespace lum
