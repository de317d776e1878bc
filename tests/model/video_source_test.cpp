// Frame sources and the extractor over a stand-in video library: which
// frames are decoded for a request, field order from frame flags, failures
// that keep the previous picture, and seeking storms that must never stall.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "foundation/memory_stream.h"
#include "model/video_time.h"
#include "video/video_extractor.h"

namespace lum {
namespace {

TRef<TFFMpegDll> FakeLibrary() {
  std::string why;
  TRef<TFFMpegDll> lib = TFFMpegDll::Load(FAKE_CLIP_PLUGIN, &why);
  EXPECT_TRUE(lib) << why;
  return lib;
}

TRef<TWinVideoSource> Clip(const std::string& description, std::string* why = nullptr) {
  return TWinVideoSource::Open(FakeLibrary(), "clip.avi",
                               std::make_unique<TMemoryStream>(description), why);
}

int LumaOf(const TVideoFrame& f) {
  return f.y.empty() ? -1 : f.y[f.y.size() / 2];
}

TEST(VideoSource, DecodesOnlyWhatARequestNeeds) {
  TRef<TWinVideoSource> s = Clip("FAKECLIP 64 48 25 1 100 0");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->FrameCount(), 100);
  EXPECT_FALSE(s->Interlaced());
  EXPECT_EQ(s->FormatName(), "fakeclip");
  TVideoFrame f;
  ASSERT_TRUE(s->GetFrame(10, f));
  EXPECT_EQ(f.index, 10);
  EXPECT_EQ(LumaOf(f), 16 + 80);
  EXPECT_EQ(f.u[0], 128);
  const int64_t base = s->DecodeCount();
  ASSERT_TRUE(s->GetFrame(10, f));  // the same frame: nothing decoded
  EXPECT_EQ(s->DecodeCount(), base);
  ASSERT_TRUE(s->GetFrame(11, f));  // the next: exactly one
  EXPECT_EQ(s->DecodeCount(), base + 1);
  EXPECT_EQ(f.index, 11);
  ASSERT_TRUE(s->GetFrame(3, f));  // backwards: a seek, not a decode from the start
  EXPECT_EQ(f.index, 3);
  EXPECT_EQ(s->DecodeCount(), base + 2);
  EXPECT_EQ(LumaOf(f), 16 + 24);
  // A little ahead: decoded on (a seek would start again at a key frame).
  ASSERT_TRUE(s->GetFrame(8, f));
  EXPECT_EQ(f.index, 8);
  EXPECT_EQ(s->DecodeCount(), base + 7);
}

TEST(VideoSource, FieldOrderFromFrameFlags) {
  TRef<TWinVideoSource> tff = Clip("FAKECLIP 64 48 25 1 10 3");
  ASSERT_TRUE(tff);
  EXPECT_TRUE(tff->Interlaced());
  EXPECT_TRUE(tff->TopFieldFirst());
  TRef<TWinVideoSource> bff = Clip("FAKECLIP 64 48 25 1 10 1");
  ASSERT_TRUE(bff);
  EXPECT_TRUE(bff->Interlaced());
  EXPECT_FALSE(bff->TopFieldFirst());
}

TEST(VideoSource, RefusesWhatCannotBeShown) {
  std::string why;
  EXPECT_FALSE(Clip("not a clip at all", &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(Clip("FAKECLIP 0 48 25 1 10 0", &why));
  EXPECT_NE(why.find("frame size"), std::string::npos);
  EXPECT_FALSE(Clip("FAKECLIP 100000 100000 25 1 10 0", &why));
  EXPECT_FALSE(Clip("", &why));
  EXPECT_FALSE(TWinVideoSource::Open(nullptr, "x", std::make_unique<TMemoryStream>("x"), &why));
  EXPECT_NE(why.find("library"), std::string::npos);
  EXPECT_FALSE(TWinVideoSource::Open(FakeLibrary(), "x", nullptr, &why));
  EXPECT_NE(why.find("not found"), std::string::npos);
  // Zero frame rates play at 25 frames a second.
  TRef<TWinVideoSource> s = Clip("FAKECLIP 16 16 0 0 10 0");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->RateNum(), 25);
}

TEST(VideoSource, AFrameThatFailsKeepsThePrevious) {
  TRef<TWinVideoSource> s = Clip("FAKECLIP 16 16 25 1 5 0");
  ASSERT_TRUE(s);
  TVideoFrame f;
  ASSERT_TRUE(s->GetFrame(4, f));
  // Past the end the decoder stops advancing: the last frame stands for the
  // frame asked for, and for every later one without decoding again.
  ASSERT_TRUE(s->GetFrame(9, f));
  EXPECT_EQ(f.index, 9);
  EXPECT_EQ(LumaOf(f), 16 + 32);
  const int64_t decodes = s->DecodeCount();
  TVideoFrame later;
  ASSERT_TRUE(s->GetFrame(12, later));
  EXPECT_EQ(later.index, 12);
  EXPECT_EQ(LumaOf(later), 16 + 32);
  EXPECT_EQ(s->DecodeCount(), decodes);
  // Frames before it are still decoded as themselves.
  ASSERT_TRUE(s->GetFrame(2, f));
  EXPECT_EQ(f.index, 2);
  EXPECT_EQ(LumaOf(f), 16 + 16);
}

TEST(VideoExtractor, PreparedFramesAreExact) {
  auto x = MakeRef<TLumVideoExtractor>(Clip("FAKECLIP 32 32 25 1 250 0"));
  for (double ms : {0.0, 400.0, 4000.0, 1200.0, 9960.0}) {
    ASSERT_TRUE(x->Prepare(ms, true));
    bool exact = false;
    std::unique_ptr<TVideoFrame> f = x->Take(ms, 60, &exact);
    ASSERT_TRUE(f);
    EXPECT_TRUE(exact) << ms;
    EXPECT_EQ(f->index, FrameIndexAt(ms, 25, 1, 250));
    x->Give(std::move(f));
  }
  // Past the end: the last frame.
  ASSERT_TRUE(x->Prepare(60000, true));
  std::unique_ptr<TVideoFrame> last = x->Take(60000, 60);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->index, 249);
  x->Give(std::move(last));
}

TEST(VideoExtractor, AMissedFrameIsDecodedWithoutBeingPrepared) {
  auto x = MakeRef<TLumVideoExtractor>(Clip("FAKECLIP 32 32 25 1 250 0"));
  ASSERT_TRUE(x->Prepare(0, true));
  bool exact = true;
  auto first = x->Take(4000, 60, &exact);
  ASSERT_TRUE(first);
  EXPECT_FALSE(exact);
  x->Give(std::move(first));
  // The worker goes for frame 100 itself, not the one after it.
  for (int i = 0; i < 200 && !exact; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (auto f = x->Take(4000, 60, &exact)) x->Give(std::move(f));
  }
  EXPECT_TRUE(exact);
  // At the last frame nothing past the end is asked for.
  ASSERT_TRUE(x->Prepare(9960, true));
  auto last = x->Take(9960, 60, &exact);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->index, 249);
  x->Give(std::move(last));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_LE(x->Source().CurrentIndex(), 249);
}

TEST(VideoExtractor, ReadsAheadOfTheFrameShown) {
  auto x = MakeRef<TLumVideoExtractor>(Clip("FAKECLIP 32 32 25 1 250 0"));
  ASSERT_TRUE(x->Prepare(400, true));
  bool exact = false;
  auto shown = x->Take(400, 25, &exact);  // frame 10
  ASSERT_TRUE(exact);
  // Frames 11 and 12 come without being asked for.
  for (int i = 0; i < 200 && x->Source().CurrentIndex() < 12; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  x->Give(std::move(shown));
  auto later = x->Take(480, 25, &exact);
  ASSERT_TRUE(later);
  EXPECT_TRUE(exact);
  EXPECT_EQ(later->index, 12);
  x->Give(std::move(later));
}

TEST(VideoExtractor, PoolGrowsWhileImagesAreHeld) {
  auto x = MakeRef<TLumVideoExtractor>(Clip("FAKECLIP 32 32 25 1 250 0"));
  std::vector<std::unique_ptr<TVideoFrame>> held;
  for (int i = 0; i < 6; ++i) {
    x->Prepare(i * 40.0, true);
    if (auto f = x->Take(i * 40.0, 25)) held.push_back(std::move(f));
  }
  EXPECT_GE(held.size(), 3u);
  for (auto& f : held) x->Give(std::move(f));
  EXPECT_GE(x->PoolSize(), 4u);
  EXPECT_LE(x->PoolSize(), 16u);
}

TEST(VideoExtractor, SeekingStormsNeverStall) {
  auto x = MakeRef<TLumVideoExtractor>(Clip("FAKECLIP 64 64 30 1 900 0"));
  std::atomic<bool> stop{false};
  // A drawing thread taking frames while another seeks at random.
  std::thread draw([&] {
    double t = 0;
    while (!stop) {
      if (auto f = x->Take(t, 60)) x->Give(std::move(f));
      t += 16.7;
    }
  });
  std::mt19937 rng(18);
  std::uniform_real_distribution<double> pick(-1000, 40000);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) x->Prepare(pick(rng), i % 10 == 0, 2000);
  stop = true;
  draw.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  // Still answering after the storm.
  ASSERT_TRUE(x->Prepare(5000, true));
  bool exact = false;
  auto f = x->Take(5000, 60, &exact);
  ASSERT_TRUE(f);
  EXPECT_TRUE(exact);
  x->Give(std::move(f));
}

// Thread ids of this process.
std::set<int> Threads() {
  std::set<int> ids;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/task"))
    ids.insert(std::stoi(e.path().filename().string()));
  return ids;
}

// A thread's nice value, from its stat line (field 19); 100 when it is gone.
int NiceOf(int tid) {
  std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  if (!std::getline(f, line) || line.rfind(')') == std::string::npos) return 100;
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 19 && rest >> field; ++i) {
  }
  return std::stoi(field);
}

// Whether a thread here may lower its nice value again after raising it.
bool ThreadsMayStepBack() {
  bool back = false;
  std::thread([&] {
    const int nice = getpriority(PRIO_PROCESS, 0);
    back = setpriority(PRIO_PROCESS, 0, nice + 1) == 0 && setpriority(PRIO_PROCESS, 0, nice) == 0;
  }).join();
  return back;
}

TEST(VideoExtractor, WorkerRunsOneStepBelowNormalUntilItsFirstFrame) {
  const int normal = getpriority(PRIO_PROCESS, 0);
  const bool stepped = normal < 19 && ThreadsMayStepBack();
  const std::set<int> before = Threads();
  auto x = MakeRef<TLumVideoExtractor>(Clip("FAKECLIP 32 32 25 1 250 0"));
  int worker = -1;
  for (int i = 0; i < 500 && worker < 0; ++i) {
    for (int id : Threads())
      if (!before.contains(id)) worker = id;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_GT(worker, 0);
  // Lowered as it starts (where the system would let it step back up).
  const int want = stepped ? normal + 1 : normal;
  for (int i = 0; i < 500 && NiceOf(worker) != want; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(NiceOf(worker), want);
  ASSERT_TRUE(x->Prepare(400, true));
  for (int i = 0; i < 500 && NiceOf(worker) != normal; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(NiceOf(worker), normal);
}

}  // namespace
}  // namespace lum
