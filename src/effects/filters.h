#pragma once
// The built-in filter families: cross-fade, soft-edged shape wipes, mosaic,
// push and slide, clock hand and brooms, page curl, flip and swap.
#include <array>
#include <cstdint>
#include <vector>

#include "effects/draw_filter.h"

namespace lum {

// ---- cross-fade ----

class TAlphaFilter : public TDrawFilter {
 public:
  const char* ClassName() const override { return "TAlphaFilter"; }
  void Draw(TFilterTarget& target) override;
};

// ---- soft-edged shape wipes ----

// The ramp of a soft edge: 15 points x_i = 255 i / 14 with S(x) = x² / 128
// below 127.5 and 255 − (255 − x)² / 128 above.
double EdgeCurve(double x);

class TCommonFilter : public TDrawFilter {
 public:
  // cx, cy: the centre as fractions of the width and height.
  TCommonFilter(double cx, double cy) : cx_(cx), cy_(cy) {}
  void Initialize(const TFilterRect& slide, double edge, double duration) override;
  void Draw(TFilterTarget& target) override;
  virtual double ComputeReach() = 0;
  // One ring between two sizes with its outer and inner alphas.
  virtual void DrawBand(TFilterTarget& target, int index, double outerAlpha, double innerAlpha,
                        double outerSize, double innerSize) = 0;

  double CenterX() const { return px_; }
  double CenterY() const { return py_; }
  double FractionX() const { return cx_; }
  double FractionY() const { return cy_; }
  double Reach() const { return reach_; }
  // The shape's size at the current time.
  double Size() const;

 protected:
  double cx_, cy_;
  double px_ = 0, py_ = 0;
  double reach_ = 0;
};

class TCircleFilter : public TCommonFilter {
 public:
  TCircleFilter(double cx, double cy, bool reverse) : TCommonFilter(cx, cy) { reverse_ = reverse; }
  const char* ClassName() const override { return "TCircleFilter"; }
  double ComputeReach() override;
  void DrawBand(TFilterTarget& t, int index, double oa, double ia, double os, double is) override;
  int Segments() const { return segments_; }
  // Distance of the centre to the slide (0 inside).
  double Gap() const { return gap_; }

 private:
  int segments_ = 128;
  double gap_ = 0;
};

class TRhombFilter : public TCommonFilter {
 public:
  TRhombFilter(double cx, double cy, bool reverse) : TCommonFilter(cx, cy) { reverse_ = reverse; }
  const char* ClassName() const override { return "TRhombFilter"; }
  double ComputeReach() override;
  void DrawBand(TFilterTarget& t, int index, double oa, double ia, double os, double is) override;
};

class TSquareFilter : public TCommonFilter {
 public:
  TSquareFilter(double cx, double cy, bool reverse) : TCommonFilter(cx, cy) { reverse_ = reverse; }
  const char* ClassName() const override { return "TSquareFilter"; }
  double ComputeReach() override;
  void DrawBand(TFilterTarget& t, int index, double oa, double ia, double os, double is) override;
  double Aspect() const { return aspect_; }

 private:
  double aspect_ = 1;
};

// Two full-height bands: the opening moves horizontally.
class THLines : public TCommonFilter {
 public:
  THLines(double cx, double cy, bool reverse) : TCommonFilter(cx, cy) { reverse_ = reverse; }
  const char* ClassName() const override { return "THLines"; }
  double ComputeReach() override;
  void DrawBand(TFilterTarget& t, int index, double oa, double ia, double os, double is) override;
};

// Two full-width bands: the opening moves vertically.
class TVLines : public TCommonFilter {
 public:
  TVLines(double cx, double cy, bool reverse) : TCommonFilter(cx, cy) { reverse_ = reverse; }
  const char* ClassName() const override { return "TVLines"; }
  double ComputeReach() override;
  void DrawBand(TFilterTarget& t, int index, double oa, double ia, double os, double is) override;
};

// Bands at 45°: mode 0 one band from the top-left corner, 1 two bands from
// the middle, 2 one band from the bottom-right corner; mirrored reflects
// about the vertical centre line.
class TDiagLines : public TCommonFilter {
 public:
  TDiagLines(int mode, bool mirrored, bool reverse)
      : TCommonFilter(0.5, 0.5), mode_(mode), mirrored_(mirrored) {
    reverse_ = reverse;
  }
  const char* ClassName() const override { return "TDiagLines"; }
  void Initialize(const TFilterRect& slide, double edge, double duration) override;
  double ComputeReach() override;
  void DrawBand(TFilterTarget& t, int index, double oa, double ia, double os, double is) override;
  int Mode() const { return mode_; }
  bool Mirrored() const { return mirrored_; }
  // Distance of a slide point from the band's origin along the diagonal
  // (the quantity the band's size is compared with).
  double DistanceOf(double x, double y) const;

 private:
  int mode_;
  bool mirrored_;
};

// ---- mosaic ----

// The linear-congruential generator of the mosaic.
class TMosaicRandom {
 public:
  explicit TMosaicRandom(uint32_t seed) : seed_(seed) {}
  float Next();

 private:
  uint32_t seed_;
};

class TRandomFilter : public TDrawFilter {
 public:
  static constexpr int kMaxCells = 128;  // per axis
  TRandomFilter(int columns, int rows, int spread, uint32_t seed);
  const char* ClassName() const override { return "TRandomFilter"; }
  void Initialize(const TFilterRect& slide, double edge, double duration) override;
  void Draw(TFilterTarget& target) override;
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  int Spread() const { return spread_; }
  uint32_t Seed() const { return seed_; }
  const std::vector<int32_t>& Thresholds() const { return thresholds_; }
  // The alpha of cell i at the current time; -1 when it is not drawn.
  int CellAlpha(size_t i) const;

 private:
  int columns_, rows_, spread_;
  uint32_t seed_;
  std::vector<int32_t> thresholds_;
};

// ---- push and slide ----

// Direction 1 enters from the left, 2 from the right, 3 from the top, 4
// from the bottom.
class TSlideFilter : public TDrawFilter {
 public:
  explicit TSlideFilter(int direction) : direction_(direction) {}
  const char* ClassName() const override { return "TSlideFilter"; }
  void Draw(TFilterTarget& target) override;
  int Direction() const { return direction_; }
  // Offset of the filtered slide at the current time.
  void Offset(double& dx, double& dy) const;

 protected:
  void DrawShifted(TFilterTarget& target, double dx, double dy);
  int direction_;
};

class TPushFilter : public TSlideFilter {
 public:
  explicit TPushFilter(int direction) : TSlideFilter(direction) {}
  const char* ClassName() const override { return "TPushFilter"; }
  void DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) override;
  // Offset of the outgoing slide.
  void PushOffset(double& dx, double& dy) const;
};

// ---- clock hand and brooms ----

// The quadratic alpha table of the brooms: T[i] = i² div 128 below 128,
// T[255 − i] = 255 − T[i].
const std::array<uint8_t, 256>& BroomTable();

// A line through a pivot sweeping over the slide.
class TSweepFilter : public TDrawFilter {
 public:
  static constexpr int kSteps = 1000;  // per full turn
  void Draw(TFilterTarget& target) override;
  // The sweep's start and end angles and the edge's angular width.
  double StartAngle() const { return start_; }
  double EndAngle() const { return end_; }
  double EdgeAngle() const { return band_; }
  double PivotX() const { return pivotX_; }
  double PivotY() const { return pivotY_; }
  // Alpha (0..255) of the filtered slide at angle a about the pivot.
  double AlphaAt(double angle) const;
  bool Prepared() const { return prepared_; }

 protected:
  virtual void Prepare() = 0;
  double Front() const;
  double pivotX_ = 0, pivotY_ = 0, start_ = 0, end_ = 0, band_ = 0.01;
  double far_ = 1;
  bool prepared_ = false;
  bool mirrored_ = false;
  bool hardStart_ = false;
};

class TClockEffect : public TSweepFilter {
 public:
  explicit TClockEffect(bool mirrored) { mirrored_ = mirrored; }
  const char* ClassName() const override { return "TClockEffect"; }
  bool Mirrored() const { return mirrored_; }

 protected:
  void Prepare() override;
};

class TBroomEffect : public TSweepFilter {
 public:
  // kind 1..8 (plus 8 reversed): up, right, down, left, up-right,
  // down-right, down-left, up-left.
  TBroomEffect(int kind, double pivotDistance);
  const char* ClassName() const override { return "TBroomEffect"; }
  int Kind() const { return kind_; }
  double PivotDistance() const { return distance_; }

 protected:
  void Prepare() override;

 private:
  int kind_;
  double distance_;
};

// ---- page curl ----

class TRollEffect2 : public TDrawFilter {
 public:
  TRollEffect2(int rollKind, int direction, bool fullTube, double radius, bool useBackColor,
               bool useVolume, uint32_t color, double volume);
  const char* ClassName() const override { return "TRollEffect2"; }
  void Draw(TFilterTarget& target) override;
  void DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) override;
  int RollKind() const { return rollKind_; }
  int Direction() const { return direction_; }
  // Roller code 1..8 and its unit direction.
  int Roller() const { return roller_; }
  double DirX() const { return dx_; }
  double DirY() const { return dy_; }
  bool FullTube() const { return fullTube_; }
  double Radius() const { return radius_; }
  bool UseBackColor() const { return useBack_; }
  bool UseVolume() const { return useVolume_; }
  uint32_t Color() const { return color_; }
  double Volume() const { return volume_; }
  // Grid of the page (columns, rows) and the fold position along the roll
  // direction at the current time (slide pixels from the start edge).
  int GridColumns() const { return gridX_; }
  int GridRows() const { return gridY_; }
  double Fold() const;

 private:
  int rollKind_, direction_, roller_ = 1;
  double dx_ = 1, dy_ = 0;
  bool fullTube_;
  double radius_;
  bool useBack_, useVolume_;
  uint32_t color_;
  double volume_;
  int gridX_ = 1, gridY_ = 1;
};

// ---- flip ----

class TOverturnEffect : public TDrawFilter {
 public:
  // axis 1..4, plus 4 when spinning about the centre.
  TOverturnEffect(int axis, bool ease, double depth);
  const char* ClassName() const override { return "TOverturnEffect"; }
  void Draw(TFilterTarget& target) override;
  void DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) override;
  int Axis() const { return axis_; }
  bool Ease() const { return ease_; }
  double Depth() const { return depth_; }
  // The turn angle at the current time (0..π).
  double Angle() const;
  // Which slide shows now: 0 outgoing, 1 incoming.
  int Shown() const;

 private:
  int axis_;
  bool ease_;
  double depth_;
};

// ---- swap ----

class TTwoSlidesEffect : public TDrawFilter {
 public:
  TTwoSlidesEffect(int direction, double angle, double depth, double distance);
  const char* ClassName() const override { return "TTwoSlidesEffect"; }
  void Draw(TFilterTarget& target) override;
  void DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) override;
  int Direction() const { return direction_; }
  double Angle() const { return angle_; }
  double Depth() const { return depth_; }
  double Distance() const { return distance_; }
  // Draws one slide at its own parameter x (0 in place, 1 deepest), moving
  // to this side (1 the outgoing slide's, -1 the incoming one's).
  void DrawAt(TFilterTarget& target, double x, double side);
  // Which slide is drawn last now: 0 outgoing, 1 incoming.
  int Front() const;

 private:
  int direction_;
  double angle_, depth_, distance_;
};

}  // namespace lum
