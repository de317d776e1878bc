// The overlay's cost per frame, side by side in one run: a 1920 × 1080 slide
// of one moving full-screen picture drawn with the overlay of its show (a
// logo, the navigation panel, the help dialog open with a picture and a box)
// against the same frames without overlay; once with the grid bar (three
// buttons) and once with the video-style bar, whose track and read-out
// follow the show time. Medians of interleaved rounds. Target: ratio ≤ 1.25
// (a bar is redrawn only where it changed and drawn as one texture).
// Drawing is headless (SDL_VIDEODRIVER=offscreen unless set). Exit status 2:
// the target was missed.
#include <epoxy/gl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_frames.h"
#include "bench_pictures.h"
#include "bench_timing.h"
#include "ui/third_slide.h"

using namespace lum;
namespace fs = std::filesystem;
using lum::bench::Clock;
using lum::bench::Median;
using lum::bench::MsSince;

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr int kRounds = 9, kFrames = 8;

// A 3 x 1 grid whose middle cell holds the buttons (cut from the ramp picture).
std::string Skin() {
  std::string s = "[Common]\nColsCount=3\nRowsCount=1\n[CellWithObjects]\nCell=2,1\n";
  for (int i = 1; i <= 3; ++i)
    s += "[Cell(" + std::to_string(i) + ":1)]\nBounds=" + std::to_string(i * 100) +
         ",0,120,60\nflnm_Texture=picture.bmp\n";
  s += "[Objects]\nCount=3\n";
  for (const char* name : {"backward", "pause", "forward"})
    s += std::string("[Action-") + name +
         "]\nBgTextureNormalBounds=0,0,40,40\nBtnTextureNormalBounds=400,200,40,40\n"
         "flnm_BgTextureNormal=picture.bmp\nflnm_BtnTextureNormal=picture.bmp\n";
  return s;
}

// An object of the dialog: a box of its size or a picture at a quarter of its own.
std::string Object(const std::string& head, const std::string& size, const std::string& key) {
  return head + "Size=" + size + "\nFitMode=None\nPosMode=Percent\nobject K:KeyPoint\nTime=0\n" +
         key + "\nend\nend\n";
}

// Video style: the bar 1920 x 48 over a stretched background, 40 x 40 buttons
// (7 to a strip per state), a 10 x 24 knob on a track line.
void WriteVideoSkin(const fs::path& dir) {
  std::ofstream(dir / "video.ini")
      << "[Common]\nVideoStyle=1\nBgLeft=4\nBgRight=4\nflnm_back=back.bmp\n"
         "[Pixel positions]\nBarSize=1920,48\nTrackHeight=16\nBtnSize=40,40\nDigitSize=12,24\n"
         "VolumeControlLength=120\nLeftSpace=8\nButtonsTrackSpace=12\nDigitsSoundBtnSpace=8\n"
         "SoundBtnTrackSpace=8\nRightSpace=12\n"
         "[Trackbar]\nflnm_Line=line.bmp\nflnm_Polzun=knob.bmp\n"
         "[Buttons]\nflnm_Normal=n.bmp\nflnm_Hover=h.bmp\nflnm_Click=c.bmp\n";
  using TRgb = std::array<uint8_t, 3>;
  lum::bench::WriteBmp(dir / "back.bmp", 16, 48, [](int, int y) { return TRgb{20, 20, uint8_t(60 + y)}; });
  lum::bench::WriteBmp(dir / "line.bmp", 16, 8, [](int, int) { return TRgb{200, 200, 200}; });
  lum::bench::WriteBmp(dir / "knob.bmp", 10, 24, [](int, int) { return TRgb{250, 250, 250}; });
  for (const char* strip : {"n.bmp", "h.bmp", "c.bmp"})
    lum::bench::WriteBmp(dir / strip, 280, 40, [](int x, int y) {
      return TRgb{uint8_t(40 + 30 * (x / 40)), uint8_t(y * 6), 90};
    });
}

std::string Document(const std::string& skin) {
  return "[Main]\nMinorVersion=13\nopt_scr_width=1920\nopt_scr_height=1080\n"
         "opt_logo=1\nopt_logo_fn=picture.bmp\nopt_logo_pos=5\nopt_logo_size=10\n"
         "opt_logo_opacity=60\nopt_fcp=1\nopt_nav_inifile=" + skin + "\nopt_cp=Bottom\n"
         "opt_nav_usevideoscale=1\nopt_nav_viewscale=8\nopt_newnavbuttons_count=3\n"
         "opt_newnavbutton1=backward\nopt_newnavbutton2=pause\nopt_newnavbutton3=forward\n"
         "opt_customdialogscount=1\ncustom_dialog1=Manual\n"
         "[Times]\nopt_slidescount=1\nopt_synchpos1=600000\n"
         "[Slide1]\nobject Container:Root\nobject P:Image\nGUID={P}\nImageName=picture.bmp\n"
         "Size=1920,1080\nFitMode=Cover\nobject K:KeyPoint\nTime=0\nPosition=0,0\nend\n"
         "object K:KeyPoint\nTime=10000\nPosition=20,10\nend\nend\nend\n"
         "[dialog_1_]\nhelp=1\nDialogPause=0\nobject Container:Root\n" +
         Object("object Card:Box\nGUID={Card}\nColor1=240,240,230\n", "640,400", "Position=0,0") +
         Object("object Photo:Image\nGUID={Photo}\nImageName=picture.bmp\n", "480,270",
                "Position=0,-10\nScaleX=25\nScaleY=25") +
         "end\n";
}

// One frame at show time t, with or without the overlay, finished.
void Draw(TOfflineFrameDriver& driver, TRootItem& root, const TRef<TDrawContainer>& slide,
          TThirdSlide* overlay, double t) {
  if (overlay) overlay->SetTime(t, 10000 + t);
  lum::bench::DrawFinished(driver, root, {slide}, t, overlay);
}

// The ratio of frames with the overlay of the show `project` to frames without.
double OverlayRatio(TOfflineFrameDriver& driver, const fs::path& project, const char* what) {
  lum::bench::TOpenShow show(project);
  TOverlayParams params;
  params.source = show.source.get();
  params.window = {0, 0, kW, kH};
  params.slideRect = driver.Slide();
  params.isPlaying = [] { return true; };
  auto overlay = MakeRef<TThirdSlide>(params);
  if (!overlay->HasPanel() || !overlay->HasLogo()) throw std::runtime_error("no panel or logo");
  overlay->ToggleDialog("help");
  if (overlay->OpenDialogs() != 1) throw std::runtime_error("the help dialog did not open");
  TRef<TDrawContainer> slide = driver.Producer().ProduceOrThrow(0);
  TRootItem with, without;
  auto run = [&](TRootItem& root, TThirdSlide* o, double base) {
    Draw(driver, root, slide, o, base);  // uploads what the first frame needs
    const auto t0 = Clock::now();
    for (int i = 1; i <= kFrames; ++i) Draw(driver, root, slide, o, base + 40.0 * i);
    return MsSince(t0) / kFrames;
  };
  std::vector<double> mine, ref, ratio;
  for (int r = 0; r < kRounds; ++r) {
    const double base = 1000 + 400 * r;
    const double m = run(with, overlay.Get(), base), p = run(without, nullptr, base);
    mine.push_back(m), ref.push_back(p), ratio.push_back(m / p);
  }
  overlay->ReleaseTextures(driver.Drawer());
  const double q = Median(ratio);
  std::printf("%s: with overlay %.3f ms/frame, without %.3f ms/frame, ratio %.3f %s\n", what,
              Median(mine), Median(ref), q, q <= 1.25 ? "(ok)" : "(over)");
  return q;
}

}  // namespace

int main() {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  const fs::path dir = fs::temp_directory_path() / ("bench_overlay_" + std::to_string(getpid()));
  fs::create_directories(dir);
  lum::bench::WriteRampBmp(dir / "picture.bmp", kW, kH);
  std::ofstream(dir / "nav.ini") << Skin();
  WriteVideoSkin(dir);
  std::ofstream(dir / "Project.lum") << Document("nav.ini");
  std::ofstream(dir / "Video.lum") << Document("video.ini");
  int status = 0;
  try {
    lum::bench::TOpenShow show(dir / "Project.lum");
    TOfflineFrameDriver driver(*show.source, kW, kH);
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("moving full-screen picture; logo, panel and the help dialog (target <= 1.25)\n");
    const double grid = OverlayRatio(driver, dir / "Project.lum", "grid bar  ");
    const double video = OverlayRatio(driver, dir / "Video.lum", "video bar ");
    if (grid > 1.25 || video > 1.25) status = 2;
  } catch (const std::exception& e) {
    std::printf("bench_overlay: %s\n", e.what());
    status = 1;
  }
  fs::remove_all(dir);
  return status;
}
