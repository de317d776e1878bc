#include "audio/volume_params.h"

#include <algorithm>
#include <cmath>

#include "audio/decoders/media_info.h"

namespace lum {

namespace {
int64_t FrameOfMs(double ms) {
  return MixBytesOfMs(ms) / kMixFrameBytes;
}
}  // namespace

void TVolumeParams::Prepare(double lengthMs) {
  std::vector<TVolumeItem> pts = points_;
  std::stable_sort(pts.begin(), pts.end(),
                   [](const TVolumeItem& a, const TVolumeItem& b) { return a.ms < b.ms; });
  std::vector<TVolumeItem> kept;
  for (size_t i = 0; i < pts.size(); ++i) {
    if (i + 1 < pts.size() && pts[i + 1].ms == pts[i].ms) continue;
    kept.push_back(pts[i]);
  }
  prepared_.clear();
  if (!kept.empty()) {
    TVolumeItem end{int32_t(std::lround(lengthMs)), kept.back().level};
    if (end.ms > kept.back().ms) kept.push_back(end);
  }
  for (size_t i = 0; i < kept.size(); ++i) {
    TVolumeItem2 p;
    p.frame = FrameOfMs(kept[i].ms);
    p.level = kept[i].level / 1000.0;
    if (i > 0) {
      int64_t frames = p.frame - prepared_.back().frame;
      if (frames > 0 && kept[i].level != kept[i - 1].level) {
        p.slope = (p.level - prepared_.back().level) / double(frames);
        p.flat = false;
      }
    }
    p.last = i + 1 == kept.size();
    prepared_.push_back(p);
  }
  SetPosition(0);
}

void TVolumeParams::EnterSegment(size_t index) {
  seg_ = index;
  if (index >= prepared_.size()) {
    finished_ = true;
    slope_ = 0;
    gain_ = prepared_.empty() ? 1.0 : prepared_.back().level;
    return;
  }
  const TVolumeItem2& p = prepared_[index];
  segEnd_ = p.frame;
  slope_ = index == 0 ? 0 : p.slope;
  // Landing exactly on the point's level keeps rounding from drifting.
  gain_ = p.level - double(segEnd_ - frame_) * slope_;
}

void TVolumeParams::NextSegment() {
  // Several zero-length segments may end at the same frame.
  size_t i = seg_;
  while (i < prepared_.size() && prepared_[i].frame <= frame_) ++i;
  EnterSegment(i);
}

void TVolumeParams::SetPosition(int64_t frame) {
  frame_ = frame;
  finished_ = false;
  if (prepared_.empty()) {
    gain_ = 1.0;
    slope_ = 0;
    segEnd_ = INT64_MAX;
    finished_ = true;  // nothing left to shape
    return;
  }
  size_t i = 0;
  while (i < prepared_.size() && prepared_[i].frame <= frame) ++i;
  if (i == 0) {
    // Before the first point: its level.
    seg_ = 0;
    segEnd_ = prepared_[0].frame;
    slope_ = 0;
    gain_ = prepared_[0].level;
    return;
  }
  EnterSegment(i);
}

double TVolumeParamsList::Step(bool& allUnity) {
  double g = Gain(allUnity);
  ++frame_;
  for (TVolumeParams& p : items_) p.Advance();
  return g;
}

double TVolumeParamsList::Gain(bool& allUnity) const {
  double g = 1.0;
  allUnity = true;
  for (const TVolumeParams& p : items_) {
    if (p.Unity()) continue;
    allUnity = false;
    g *= p.Gain();
  }
  return g;
}

bool TVolumeParamsList::AllFinished() const {
  if (items_.empty()) return false;
  for (const TVolumeParams& p : items_)
    if (!p.Finished()) return false;
  return true;
}

}  // namespace lum
