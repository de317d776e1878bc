// The player in this process, its window under the offscreen driver: what
// the window goes through while a show plays (resize, minimise, full screen,
// a lost device) and a storm of seeks and pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "container/file_accessor.h"
#include "engine/lum_engine.h"
#include "engine/show_viewer.h"
#include "foundation/clock.h"
#include "foundation/log.h"
#include "render/gl/gl_renderer.h"
#include "render/render_backends.h"
#include "startup/main_form.h"
#include "support/player_shows.h"
#include "support/temp_dir.h"
#include "toolkit/window.h"

namespace lum {
namespace {

// Keeps every log line for the checks below.
class TCaptureLog : public TExclLog {
 public:
  bool Has(const std::string& text) {
    std::lock_guard g(lock_);
    for (auto& l : lines_)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }

 protected:
  void Emit(std::string_view line) override {
    std::lock_guard g(lock_);
    lines_.emplace_back(line);
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
};

TCaptureLog* gLog = nullptr;

class PlayerWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto log = std::make_unique<TCaptureLog>();
    gLog = log.get();
    SetLog(std::move(log));
    ASSERT_TRUE(TWindowThread::Init());
  }

  void Open(const std::string& text) {
    show_ = dir_.Write("show/Project.lum", text);
    TPlayerOptions o;
    o.viewer.resize = true;
    form_ = std::make_unique<TMainForm>(o);
    std::string message;
    ASSERT_TRUE(form_->OpenShow(show_, {}, {}, message)) << message;
  }

  void TearDown() override {
    form_.reset();
    for (int i = 0; i < 5; ++i) TWindowThread::Pump(1);
  }

  TEngineStatus Status() { return form_->Viewer().Engine()->Status(); }

  // Pumps the window thread until the engine's status satisfies done.
  template <class F>
  bool PumpUntil(F done, int timeoutMs = 8000) {
    const int64_t end = MsSinceStart() + timeoutMs;
    while (MsSinceStart() < end) {
      TWindowThread::Pump(5);
      if (done(Status())) return true;
    }
    return false;
  }

  void PumpFor(int ms) {
    PumpUntil([](const TEngineStatus&) { return false; }, ms);
  }

  // Playing, with frames coming.
  void ExpectPlaying(const char* where) {
    const TEngineStatus before = Status();
    EXPECT_TRUE(PumpUntil([&](const TEngineStatus& s) {
      return s.active && s.framesDrawn > before.framesDrawn + 5 && s.position > before.position;
    })) << where;
  }

  test::TTempDir dir_;
  std::string show_;
  std::unique_ptr<TMainForm> form_;
};

TEST_F(PlayerWindow, GoesOnAtTheSameTimeThroughWhatTheWindowGoesThrough) {
  Open(test::SlideShowText(4, 1500, 300, true));
  ExpectPlaying("at the start");
  TWindow& w = form_->Window();

  // A new size rebuilds the device and reopens the show at the same time.
  double t = Status().position;
  w.SetClientSize(400, 300);
  ASSERT_TRUE(
      PumpUntil([&](const TEngineStatus&) { return gLog->Has("OpenInt on diff size: 400 300"); }));
  ExpectPlaying("after the resize");
  EXPECT_GT(Status().position, t);

  // Minimised: no frames; restored: on again.
  w.Minimize();
  PumpFor(300);
  const int64_t frames = Status().framesDrawn;
  PumpFor(300);
  EXPECT_LE(Status().framesDrawn, frames + 1);
  w.Restore();
  ExpectPlaying("after the restore");

  // Full screen and back.
  w.SetMode(TWindowMode::FullScreenMonitor);
  ExpectPlaying("full screen");
  w.SetMode(TWindowMode::Borderless);
  w.SetClientSize(320, 240);
  ExpectPlaying("windowed again");

  // A lost device: the engine waits for the new one and goes on.
  t = Status().position;
  auto* gl = dynamic_cast<T3DRendererGL*>(
      form_->Viewer().Engine()->DrawController().Drawer()->Screen().Renderer());
  ASSERT_NE(gl, nullptr);
  gl->DeclareLost();
  ASSERT_TRUE(PumpUntil([&](const TEngineStatus&) { return gLog->Has("DrawDevice Reinited"); }));
  ExpectPlaying("after the lost device");
  EXPECT_GT(Status().position, t);
}

TEST_F(PlayerWindow, StormsOfSeeksAndPausesEndInTheLastRequest) {
  Open(test::SlideShowText(5, 1000, 200, false));
  ExpectPlaying("at the start");
  const std::string other = dir_.Write("other/Project.lum", test::SlideShowText(3, 800, 0, true));
  std::mt19937 random(7);
  int64_t stale = 0, lastSeek = -1;
  form_->Viewer().onPosition = [&](int64_t position, bool) {
    // Once the last seek is out, only its positions may arrive.
    if (lastSeek >= 0 && position + 1 < lastSeek) ++stale;
  };
  std::string message;
  for (int i = 0; i < 3000; ++i) {
    // Now and then another show opens while seeks are still pending.
    if (i % 500 == 250) {
      ASSERT_TRUE(form_->OpenShow(i % 1000 == 250 ? other : show_, {}, {}, message)) << message;
      continue;
    }
    switch (random() % 3) {
      case 0:
        form_->Seek(double(random() % 6000));
        break;
      case 1:
        form_->SetPause(true);
        break;
      case 2:
        form_->SetPause(false);
        break;
    }
    if (i % 50 == 0) TWindowThread::Pump(0);
  }
  ASSERT_TRUE(form_->OpenShow(show_, {}, {}, message)) << message;
  form_->SetPause(true);
  form_->Seek(2500);
  lastSeek = 2500;
  EXPECT_TRUE(PumpUntil([](const TEngineStatus& s) {
    return s.paused && !s.active && s.position == 2500 && s.framesDrawn > 0;
  }));
  PumpFor(300);
  const TEngineStatus s = Status();
  EXPECT_EQ(s.position, 2500);
  EXPECT_TRUE(s.paused);
  EXPECT_EQ(form_->Viewer().Position(), 2500);
  EXPECT_EQ(stale, 0);
}

// A file source whose files wait until released: a slide that needs one
// cannot be prepared meanwhile.
class THeldFiles : public TFileSource {
 public:
  std::unique_ptr<TStream> Open(std::string_view) override {
    std::unique_lock l(m_);
    cv_.wait(l, [&] { return released_; });
    return nullptr;
  }
  // Not "Release": that would hide the reference count's own.
  void LetGo() {
    {
      std::lock_guard l(m_);
      released_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool released_ = false;
};

TEST_F(PlayerWindow, AWindowThatChangesBeforeTheSlidesAreReadyGetsAFrameWithoutThem) {
  auto held = MakeRef<THeldFiles>();
  // Released however the test ends, before the player goes.
  struct TRelease {
    THeldFiles& files;
    ~TRelease() { files.LetGo(); }
  };
  TIniFile doc;
  doc.LoadText(test::SlideShowText(
      2, 1000, 0, true, 0,
      "object P:Image\nGUID={1}\nImageName=held.bmp\nobject K:KeyPoint\nTime=0\nend\nend\n"));
  {
    TRef<T3DEngine> renderer = CreateRenderEngine();
    TWindowOptions wo;
    wo.mode = TWindowMode::Borderless;
    wo.width = 320;
    wo.height = 240;
    TWindow window(wo);
    TLumShowViewer viewer(window, {}, renderer);
    TRelease release{*held};
    // Inside the first slide, past what the blank slide before it covers.
    viewer.OpenShow(MakeRef<TFileAccessor>(held, "/held/"), doc, 500);
    viewer.SetPause(false);
    auto frames = [&] { return viewer.Engine()->Status().emptyFrames; };
    auto pumpUntil = [&](const std::function<bool()>& done) {
      const int64_t end = MsSinceStart() + 8000;
      while (MsSinceStart() < end && !done()) TWindowThread::Pump(5);
      return done();
    };
    for (const int64_t settle = MsSinceStart() + 300; MsSinceStart() < settle;)
      TWindowThread::Pump(5);
    const int64_t before = frames();
    // The window lost what it showed (an expose): it is drawn again at once,
    // without the slides it is still waiting for.
    viewer.Engine()->DrawController().RequestRefresh();
    EXPECT_TRUE(pumpUntil([&] { return frames() > before; }));
    EXPECT_FALSE(viewer.FirstFrameShown()) << "a frame without slides is not the show's first";
    held->LetGo();
    EXPECT_TRUE(pumpUntil([&] { return viewer.FirstFrameShown(); }));
  }
  // The player gone, nothing of it holds the show's files any more.
  EXPECT_EQ(held->RefCount(), 1);
}

}  // namespace
}  // namespace lum
