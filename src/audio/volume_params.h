#pragma once
// Volume envelopes of the composite mixer: points of (time, level), prepared
// into per-frame slopes in the mixing format and evaluated frame by frame.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lum {

// A point as written in a composition: ms from the item's start, level in
// per mille (1000 = unchanged).
struct TVolumeItem {
  int32_t ms = 0;
  int32_t level = 1000;
  bool operator==(const TVolumeItem&) const = default;
};

// A prepared point: its frame in the mixing format, the per-frame slope of
// the segment that ends at it, and its level as a fraction.
struct TVolumeItem2 {
  int64_t frame = 0;
  double slope = 0;
  bool flat = true;
  bool last = false;
  double level = 1.0;
};

class TVolumeParams {
 public:
  TVolumeParams() = default;
  explicit TVolumeParams(std::vector<TVolumeItem> points, bool automatic = false)
      : points_(std::move(points)), automatic_(automatic) {}

  std::vector<TVolumeItem>& Points() { return points_; }
  const std::vector<TVolumeItem>& Points() const { return points_; }
  bool Automatic() const { return automatic_; }

  // Sorts the points, drops a point whose time equals the next one's, adds a
  // final point at lengthMs with the last level and computes the slopes.
  void Prepare(double lengthMs);
  // Places the gain at a frame (counted from the envelope's start).
  void SetPosition(int64_t frame);
  // One frame on.
  void Advance() {
    if (finished_) return;
    ++frame_;
    gain_ += slope_;
    if (frame_ >= segEnd_) NextSegment();
  }
  double Gain() const { return gain_; }
  // Gain within 0.99 .. 1.01: the envelope leaves samples alone.
  bool Unity() const { return gain_ >= 0.99 && gain_ <= 1.01; }
  // Past the last point.
  bool Finished() const { return finished_; }

 private:
  void EnterSegment(size_t index);
  void NextSegment();

  std::vector<TVolumeItem> points_;
  bool automatic_ = false;
  std::vector<TVolumeItem2> prepared_;
  size_t seg_ = 0;  // index of the point the current segment ends at
  int64_t frame_ = 0;
  int64_t segEnd_ = 0;
  double slope_ = 0;
  double gain_ = 1.0;
  bool finished_ = false;
};

// The envelopes of an item multiply.
class TVolumeParamsList {
 public:
  std::vector<TVolumeParams>& Items() { return items_; }
  const std::vector<TVolumeParams>& Items() const { return items_; }
  void Add(TVolumeParams p) { items_.push_back(std::move(p)); }
  void Prepare(double lengthMs) {
    for (TVolumeParams& p : items_) p.Prepare(lengthMs);
  }
  void SetPosition(int64_t frame) {
    frame_ = frame;
    for (TVolumeParams& p : items_) p.SetPosition(frame);
  }
  // Advances every envelope one frame and returns the product of the gains
  // that are not at unity; allUnity tells whether every one was.
  double Step(bool& allUnity);
  // Gain of the current frame without advancing.
  double Gain(bool& allUnity) const;
  bool AllFinished() const;
  bool Empty() const { return items_.empty(); }

 private:
  std::vector<TVolumeParams> items_;
  int64_t frame_ = 0;
};

}  // namespace lum
