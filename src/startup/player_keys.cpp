// The player's own keys: full screen, mute, volume, a screenshot and the
// playback figures, for keys the show's key map leaves free, where the show
// permits control.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "container/lum_show_locator.h"
#include "foundation/log.h"
#include "imaging/image_lib_store.h"
#include "startup/main_form.h"

namespace lum {

namespace {

namespace fs = std::filesystem;

constexpr uint16_t kKeyFullScreen = 'F', kKeyMute = 'M', kKeyScreenshot = 'S', kKeyVolumeDown = '9',
                   kKeyVolumeUp = '0', kKeyStats = 'I';
constexpr float kVolumeStep = 0.1f;

// The user's pictures folder as the desktop names it (user-dirs.dirs), else
// ~/Pictures where it exists, else the home folder.
fs::path PicturesFolder() {
  const char* home = std::getenv("HOME");
  const fs::path homePath = home && *home ? home : ".";
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const fs::path dirs =
      (config && *config ? fs::path(config) : homePath / ".config") / "user-dirs.dirs";
  std::ifstream in(dirs);
  for (std::string line; std::getline(in, line);) {
    const std::string key = "XDG_PICTURES_DIR=\"";
    if (line.rfind(key, 0) != 0 || line.back() != '"') continue;
    std::string value = line.substr(key.size(), line.size() - key.size() - 1);
    if (value.rfind("$HOME", 0) == 0) value = homePath.string() + value.substr(5);
    if (!value.empty() && value[0] == '/') return value;
  }
  std::error_code ec;
  if (fs::is_directory(homePath / "Pictures", ec)) return homePath / "Pictures";
  return homePath;
}

// "<show> 2026-12-10 14.03.07.png": named after the show and the time.
std::string ScreenshotName(const std::string& show) {
  std::string stem = fs::path(show).stem().string();
  if (stem.empty()) stem = "lumviewer";
  char when[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(when, sizeof when, "%Y-%m-%d %H.%M.%S", &local);
  return stem + " " + when + ".png";
}

}  // namespace

bool TMainForm::PlayerKey(uint16_t code, uint32_t mods) {
  // Shift only makes `I` (figures on until pressed again) of `i` (for a while).
  const bool shiftStats = code == kKeyStats && mods == kModShift;
  if ((mods != 0 && !shiftStats) || !input_ || !input_->ControlPermitted() || input_->ScreenSaver())
    return false;
  TLumEngine* engine = viewer_->Engine();
  // The show's own dialogs have the keyboard while they are open.
  if (engine && engine->Status().dialogs > 0) return false;
  switch (code) {
    case kKeyFullScreen:
      viewer_->ToggleFullScreen();
      return true;
    case kKeyMute:
      SetMuted(!muted_);
      return true;
    case kKeyVolumeDown:
    case kKeyVolumeUp:
      if (!engine) return true;
      if (muted_) SetMuted(false);
      engine->SetVolume(std::clamp(
          engine->Status().volume + (code == kKeyVolumeUp ? kVolumeStep : -kVolumeStep), 0.0, 1.0));
      return true;
    case kKeyStats:
      if (!engine) return true;
      if (shiftStats)
        engine->ToggleStats();
      else
        engine->ShowStatsFor(kStatsFlashMs);
      return true;
    case kKeyScreenshot: {
      const fs::path path = PicturesFolder() / ScreenshotName(show_ ? show_->Path() : "");
      Capture([path](TRef<TBitmap> frame) {
        if (frame && WritePng(*frame, path.string()))
          Log().Line("Screenshot " + path.string());
        else
          Log().Line("Screenshot failed: cannot write " + path.string());
      });
      return true;
    }
    default:
      return false;
  }
}

void TMainForm::SetMuted(bool on) {
  TLumEngine* engine = viewer_->Engine();
  if (!engine || on == muted_) return;
  if (on) {
    volumeBeforeMute_ = float(engine->Status().volume);
    engine->SetVolume(0);
  } else {
    engine->SetVolume(volumeBeforeMute_);
  }
  muted_ = on;
}

}  // namespace lum
