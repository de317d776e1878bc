#pragma once
// The video-style navigation bar: play button, command buttons, a time
// track with a knob, a read-out, a sound button and a volume track, drawn
// into its own bitmap; a large centre button in a bitmap of its own. The
// host pushes time, total length, volume and play state in, and hears of
// seeks, volume changes, commands and repaints through callbacks.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "ui/nav_bar_picture.h"
#include "ui/video_nav_layout.h"

namespace lum {

class TIniFile;
class TDialogFont;

struct TVideoNavHost {
  std::function<void(double ms)> time;        // the user picked a time
  std::function<void(double volume)> volume;  // the user set the volume, 0..1
  // "play" (the play button or the centre button), "sound", or a command
  // button's name ("backward", "forward").
  std::function<void(const std::string& command)> command;
  // After a redraw: the changed part of the bar (bar pixels, may be empty)
  // and whether the centre button's bitmap changed.
  std::function<void(const TRect& bar, bool centre)> repaint;
  std::function<double()> totalLength;  // ms
};

// A skin picture split into fixed ends and a stretched middle.
struct TThreePart {
  TRef<TBitmap> left, middle, right;
  int32_t height = 0;
};

class TVideoNavBar {
 public:
  // What a redraw covers.
  enum : uint32_t {
    kRedrawPlay = 1,
    kRedrawCommands = 2,
    kRedrawTrack = 4,
    kRedrawSound = 8,
    kRedrawVolume = 16,
    kRedrawCentre = 32,
    kRedrawAll = 63
  };
  // Images of the button strips.
  enum : int {
    kImagePlay = 0,
    kImagePause = 1,
    kImageSoundOn = 2,
    kImageSoundOff = 3,
    kImageBackward = 4,
    kImageForward = 5,
    kImageCentre = 6,
    kImages = 7
  };

  explicit TVideoNavBar(TVideoNavHost host);
  ~TVideoNavBar();

  // Reads the skin and its pictures and registers the commands "backward"
  // and "forward". Throws ENavSkinError for a malformed skin or a picture
  // that cannot be had.
  void Load(const TIniFile& skin, const std::string& folder, const TNavPictureLoader& loader);

  // SetWidth, FitHeight and SetScale throw EImageError when the bar would be
  // larger than a picture may be.
  void SetWidth(int32_t w);
  // Scales the bar to height h (halving to fit); the width used, or 0 when
  // the bar is too narrow and hides.
  int32_t FitHeight(int32_t h);
  void SetScale(double s);
  // The show time; the track is redrawn only when the knob's pixel or the
  // displayed second changes.
  void SetTime(double ms);
  // 0..1, or negative for none; the sound button changes when it crosses 0.
  void SetVolume(double v);
  // Playing shows image 1 (pause) on the play button, else image 0 (play).
  void SetPlaying(bool playing);
  // The command buttons shown, by registered name; asks the host for the
  // total length (hours in the read-out from 60 minutes).
  void SetButtons(const std::vector<std::string>& commands);
  // The centre button's state (kNavNormal, kNavHover, kNavPressed).
  void SetCentreState(int state);

  // Pointer in bar pixels; Up reports the click of a pressed button.
  void MouseDown(int32_t x, int32_t y);
  void MouseMove(int32_t x, int32_t y);
  void MouseUp(int32_t x, int32_t y);
  // The pointer left the bar without a button held.
  void MouseLeave();
  bool Dragging() const { return drag_ != TDrag::None; }

  // Redraws what changed and tells the host the changed rectangle.
  void Flush();
  // The redraw flags collected since the last Flush.
  uint32_t Pending() const { return pending_; }

  bool Hidden() const { return hidden_; }
  double Scale() const { return scale_; }
  const TVideoNavSkin& Skin() const { return skin_; }
  const TVideoNavLayout& Layout() const { return layout_; }
  // Null until the bar has a size.
  const TBitmap* Bitmap() const { return bitmap_.Get(); }
  const TBitmap* Centre() const { return centre_.Get(); }
  // The read-out's text for time t and the total length: "mm:ss/mm:ss",
  // with hours "hh:mm:ss/hh:mm:ss".
  std::string Readout(double t) const;
  // Knob centres in bar pixels.
  int32_t SliderCentre(double t) const;
  int32_t VolumeCentre(double v) const;

 private:
  enum class TDrag { None, Slider, Volume, Button };
  struct TButton {
    TRect rect;
    std::string command;
    int state = kNavNormal;
  };

  void Relayout();
  void PrepareBackground();
  TRect Region(uint32_t flag) const;
  void DrawRegion(const TRect& clip);
  void DrawButtonImage(const TRect& clip, const TRect& r, int image, int state);
  void DrawReadout(const TRect& clip);
  int ButtonImage(size_t i) const;
  int HitButton(int32_t x, int32_t y) const;
  void SetButtonState(size_t i, int state);
  double TimeAt(int32_t x) const;
  double VolumeAt(int32_t x) const;
  int32_t DisplayedSecond(double t) const;

  TVideoNavHost host_;
  TVideoNavSkin skin_;
  std::vector<std::string> registered_;
  std::vector<std::string> commands_;
  std::array<std::array<TRef<TBitmap>, kImages>, 3> images_;
  TThreePart back_, line_;
  TRef<TBitmap> knob_;
  TVideoNavLayout layout_;
  std::vector<TButton> buttons_;  // play, the commands, sound
  TRef<TBitmap> bitmap_, background_, centre_;
  std::unique_ptr<TDialogFont> font_;
  int32_t width_ = 0;
  double scale_ = 1, time_ = 0, total_ = 0, volume_ = -1;
  bool playing_ = false, hours_ = false, hidden_ = false, whole_ = true;
  int centreState_ = kNavNormal;
  uint32_t pending_ = 0;
  TDrag drag_ = TDrag::None;
  int pressed_ = -1;
  double grab_ = 0;
};

}  // namespace lum
