#pragma once
// Video objects: a picture object whose picture is a clip decoded by the
// video library. The keys come from the object or, when linked, from its
// clip in "Tracks"; the show time becomes a video time, and the drawer takes
// the frame of that time from the file's shared extractor. Without the file
// or the library the object shows the video placeholder picture.
#include <memory>
#include <string>

#include "model/color_grade.h"
#include "model/lum_image.h"
#include "model/video_clip.h"
#include "model/video_frame_source.h"

namespace lum {

// What the drawer needs of a video object beyond the picture's framing.
struct TVideoDrawParams {
  int field = 0;  // 0 both, 1 top (even) field, 2 bottom (odd) field
  bool chromaEnabled = false;
  uint32_t chromaKey = 0;  // r | g << 8 | b << 16
  double chromaDelta = 0;  // tolerance, 0..1 of the chroma range
};

// Video frames shown by every video object of the process while playing
// forward (for playback figures).
struct TVideoShowCounts {
  int64_t shown = 0;    // distinct frames drawn
  int64_t late = 0;     // first drawn more than one frame interval after their time
  int64_t skipped = 0;  // never drawn: a later frame came first
};

class TLumVideo : public TLumImage {
 public:
  using TLumImage::TLumImage;
  ~TLumVideo() override;
  const char* ClassName() const override { return "TLumVideo"; }
  void LoadFromSection(const TIniList* section) override;
  void DrawSelf(TObjectDrawer& drawer) override;
  void SetTime(bool recursive, double time) override;
  void StopMedia() override;
  bool RequestPicture() override;

  // Renders without a player take each frame synchronously: the frame of
  // the time, never a nearby one.
  static void SetSynchronous(bool on);
  static bool Synchronous();
  static TVideoShowCounts ShowCounts();

  const std::string& FileName() const { return fileName_; }
  const std::string& ClipGuid() const { return clipGuid_; }
  bool LinkedToClip() const { return linked_; }
  const TVideoClip2& Clip() const { return clip_; }
  const TVideoTiming& Timing() const { return timing_; }
  TDeinterlace Deinterlace() const { return deinterlace_; }
  bool Mute() const { return mute_; }
  bool WaitForConvert() const { return waitForConvert_; }
  // Video time (ms into the file) of the last SetTime.
  double VideoTime() const { return videoTime_; }
  // The frame source while the file is open.
  TVideoFrameSource* Extractor() const { return extractor_.Get(); }
  TVideoDrawParams DrawParams() const;
  // The shadow's source: the file and its chroma key (kVideoShadowSource first).
  std::string ShadowSourceName() const override;
  // The colour grade of the moment baked over the video conversion: the
  // (V, U, Y) volumes the video shaders look colours up in. Always volumes;
  // an ungraded clip gets the conversion alone.
  TColorGradeDraw VideoGrade();
  // The frame for the current video time (the previous one while the
  // wanted one is not decoded yet); null before any frame was decoded.
  const TVideoFrame* CurrentFrame(double displayRate);

 private:
  bool OpenClip();
  std::unique_ptr<TStream> OpenStream() const;
  void Placeholder();
  void CountShown(int64_t index);

  std::string fileName_, clipGuid_;
  TIniFile* project_ = nullptr;  // where clip upkeep writes back
  bool linked_ = false, loadFromDisk_ = false, mute_ = false, waitForConvert_ = false;
  bool opened_ = false;
  TVideoClip2 clip_;
  TVideoTiming timing_;
  TDeinterlace deinterlace_ = TDeinterlace::Auto;
  TVideoDrawParams draw_;
  double videoTime_ = 0;
  TRef<TVideoFrameSource> extractor_;
  TColorGrades videoGrades_;
  TRef<const TBitmap> videoBase_;  // held: the grades compare it by address
  std::unique_ptr<TVideoFrame> shown_;
  int64_t counted_ = -1;  // index of the last frame counted as shown
};

}  // namespace lum
