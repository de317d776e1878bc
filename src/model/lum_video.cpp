#include "model/lum_video.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>

#include "foundation/case_fold.h"
#include "foundation/file_stream.h"
#include "foundation/log.h"
#include "imaging/bitmap_store.h"
#include "imaging/color_lookup.h"
#include "imaging/picture_cache.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "model/shadow.h"

namespace lum {

namespace {

std::atomic<bool> gSynchronous{false};
std::atomic<int64_t> gShown{0}, gLate{0}, gSkipped{0};

double FiniteOr(double v, double def) {
  return std::isfinite(v) ? v : def;
}

// The first frame as a picture: it gives the object its size and framing,
// its shadow its shape (the chroma key's coverage as alpha), and stands in
// until the drawer has planes.
TRef<TImage> FramePicture(const TVideoFrame& f, const TVideoDrawParams& draw) {
  float keyU = 0, keyV = 0;
  ChromaKeyUV(draw.chromaKey, keyU, keyV);
  auto bmp = MakeRef<TBitmap>(f.width, f.height, TPixelFormat::Bgra32);
  for (int y = 0; y < f.height; ++y) {
    uint8_t* d = bmp->Row(y);
    for (int x = 0; x < f.width; ++x) {
      const size_t c = size_t(y / 2) * f.ChromaWidth() + size_t(x / 2);
      const double Y = (f.y[size_t(y) * f.width + size_t(x)] - 16) * 1.164;
      const double U = f.u[c] - 128.0, V = f.v[c] - 128.0;
      auto px = [](double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
      d[4 * x + 0] = px(Y + 2.018 * U);
      d[4 * x + 1] = px(Y - 0.813 * V - 0.391 * U);
      d[4 * x + 2] = px(Y + 1.596 * V);
      d[4 * x + 3] = draw.chromaEnabled ? px(255 * ChromaKeyCoverage(f.u[c] / 255.0, f.v[c] / 255.0,
                                                                     keyU, keyV, draw.chromaDelta))
                                        : 255;
    }
  }
  return MakeRef<TImage>(MakeRef<TSysBitmapStore>(bmp));
}

}  // namespace

TLumVideo::~TLumVideo() {
  if (extractor_ && shown_) extractor_->Give(std::move(shown_));
}

void TLumVideo::SetSynchronous(bool on) {
  gSynchronous = on;
}

bool TLumVideo::Synchronous() {
  return gSynchronous;
}

TVideoShowCounts TLumVideo::ShowCounts() {
  return {gShown.load(), gLate.load(), gSkipped.load()};
}

void TLumVideo::CountShown(int64_t index) {
  if (index == counted_ || !extractor_) return;
  // Only frames reached by playing on are judged; the first and those after
  // a jump back are merely shown.
  if (counted_ >= 0 && index > counted_) {
    gSkipped += index - counted_ - 1;
    const int32_t num = extractor_->RateNum(), den = extractor_->RateDen();
    const double interval = num > 0 && den > 0 ? 1000.0 * den / num : 40;
    if (videoTime_ - FrameIntervalStart(index, num, den) > interval) ++gLate;
  }
  ++gShown;
  counted_ = index;
}

void TLumVideo::LoadFromSection(const TIniList* section) {
  ReadImageKeys(section);
  antialiased_ = ReadBool(section, "AntialiasedBorder", true);
  fileName_ = ReadString(section, "FileName", "");
  loadFromDisk_ = ReadInteger(section, "LoadFromDisk", 0) == 1;
  mute_ = ReadInteger(section, "Mute", 0) == 1;
  waitForConvert_ = ReadBool(section, "WaitForConvert", false);
  deinterlace_ = DeinterlaceFromName(ReadString(section, "DeinterlaceType", "Auto"));
  draw_.chromaEnabled = ReadBool(section, "ChromaEnable", false);
  draw_.chromaKey = uint32_t(ReadInteger(section, "Chromakey", 0)) & 0xFFFFFF;
  draw_.chromaDelta = std::clamp(FiniteOr(ReadFloat(section, "ChromaDelta", 0), 0), 0.0, 1.0);
  timing_ = TVideoTiming();
  timing_.startLum = FiniteOr(ReadFloat(section, "StartLUMTime", 0), 0);
  timing_.fps = FiniteOr(ReadFloat(section, "FPSMultiplier", 1), 1);
  timing_.startVideo = FiniteOr(ReadFloat(section, "StartVideoTime", 0), 0);
  timing_.duration = FiniteOr(ReadFloat(section, "Duration", 0), 0);
  clipGuid_ = ReadString(section, "ClipGUID", "");
  linked_ = false;
  // A link to a clip that does not exist is dropped: the object's own keys hold.
  project_ = section ? &section->Root() : nullptr;
  if (!clipGuid_.empty() && section) {
    linked_ = clip_.Find(section->Root(), clipGuid_);
    if (!linked_) clipGuid_.clear();
  }
  if (linked_) {
    fileName_ = clip_.fileName;
    loadFromDisk_ = clip_.loadFromDisk;
    timing_ = clip_.Timing();
  }
  TLumObject::LoadFromSection(section);
}

std::unique_ptr<TStream> TLumVideo::OpenStream() const {
  TLumSlideHost* host = slide_ ? slide_->GetHost() : nullptr;
  if (!host || !host->Accessor() || fileName_.empty()) return nullptr;
  try {
    if (loadFromDisk_) {
      const std::string path = host->Accessor()->FindFileOnDisk(fileName_);
      return path.empty() ? nullptr : TFileStream::TryOpenRead(path);
    }
    return host->Accessor()->OpenMember(fileName_);
  } catch (const std::exception& e) {
    Log().Line("Video " + fileName_ + ": " + e.what());
    return nullptr;
  }
}

bool TLumVideo::OpenClip() {
  TLumSlideHost* host = slide_ ? slide_->GetHost() : nullptr;
  if (!host) return false;
  const std::string key = std::to_string(reinterpret_cast<uintptr_t>(host->Accessor().Get())) +
                          (loadFromDisk_ ? ":disk:" : ":member:") + FoldCase(fileName_);
  extractor_ = OpenVideoSource(key, fileName_, [this] { return OpenStream(); });
  if (!extractor_) return false;
  // A file of unknown length leaves the clip as it is.
  const double length = extractor_->DurationMs();
  if (linked_ && length > 0 && clip_.ClampTo(length)) {
    timing_ = clip_.Timing();
    if (project_) clip_.WriteBack(*project_);
  }
  return true;
}

void TLumVideo::Placeholder() {
  TLumSlideHost* host = slide_ ? slide_->GetHost() : nullptr;
  if (!host || !host->Accessor() || fileName_.empty()) return;
  picture_ = OpenImage(*host->Accessor(), fileName_, true);
}

bool TLumVideo::RequestPicture() {
  if (picture_) return true;
  if (!opened_) {
    opened_ = true;
    if (OpenClip()) {
      // The first frame of the video time, synchronously: the object needs
      // its size now.
      extractor_->Prepare(videoTime_, true);
      shown_ = extractor_->Take(videoTime_, 60);
      if (shown_) picture_ = FramePicture(*shown_, draw_);
    }
    if (!picture_) Placeholder();
  }
  if (!picture_) {
    UpdateGeometry(100, 0, 0);
    return false;
  }
  if (props_) props_->SetAspect(picture_->Width(), picture_->Height());
  UpdateGeometry(100, 0, 0);
  MarkChanged();
  return true;
}

void TLumVideo::SetTime(bool recursive, double time) {
  TLumImage::SetTime(recursive, time);
  const double begin = slide_ ? slide_->BeginTime() : 0.0;
  const double showStart = slide_ ? begin - slide_->Offset() : 0.0;
  const double v = VideoTimeAt(timing_, time - begin, showStart, 0);
  if (v != videoTime_) {
    videoTime_ = v;
    MarkChanged();
  }
}

const TVideoFrame* TLumVideo::CurrentFrame(double displayRate) {
  if (!extractor_) return shown_.get();
  const int64_t want = extractor_->IndexAt(videoTime_);
  if (shown_ && shown_->index == want) {
    CountShown(want);
    return shown_.get();
  }
  if (gSynchronous) extractor_->Prepare(videoTime_, true);
  std::unique_ptr<TVideoFrame> got = extractor_->Take(videoTime_, displayRate);
  // Keep whichever of the two is nearer: a stale frame beats a jump back.
  if (got && (!shown_ || std::llabs(got->index - want) <= std::llabs(shown_->index - want))) {
    std::swap(got, shown_);
  }
  extractor_->Give(std::move(got));
  // Drawn again until the wanted frame is there, even while the show stands still.
  if (!shown_ || shown_->index != want) MarkChanged();
  if (shown_) CountShown(shown_->index);
  return shown_.get();
}

std::string TLumVideo::ShadowSourceName() const {
  // Names the shape: the file, and the key that cuts it out. Never a
  // picture name: the picture resolver must not decode the video.
  std::string name = std::string(kVideoShadowSource) + fileName_;
  if (draw_.chromaEnabled) {
    char key[48];
    std::snprintf(key, sizeof key, "|key %06X %.4f", unsigned(draw_.chromaKey), draw_.chromaDelta);
    name += key;
  }
  return name;
}

TVideoDrawParams TLumVideo::DrawParams() const {
  TVideoDrawParams p = draw_;
  if (extractor_) {
    const TVideoFrameSource& s = *extractor_;
    p.field = ChooseField(deinterlace_, s.Interlaced(), s.TopFieldFirst(), videoTime_, s.RateNum(),
                          s.RateDen());
  }
  return p;
}

TColorGradeDraw TLumVideo::VideoGrade() {
  // The base changes with the display profile.
  videoBase_ = DisplayLookupBase(TLookupBase::Video);
  return videoGrades_.Current(Props(), videoBase_.Get());
}

void TLumVideo::DrawSelf(TObjectDrawer& drawer) {
  if (extractor_ && w_ > 0 && h_ > 0 && GetOpacity() > 0)
    drawer.DrawContent(*this);
  else
    TLumImage::DrawSelf(drawer);
}

void TLumVideo::StopMedia() {
  if (extractor_ && shown_) extractor_->Give(std::move(shown_));
  TLumImage::StopMedia();
}

}  // namespace lum
