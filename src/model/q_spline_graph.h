#pragma once
// Easing curves: a cubic Bezier from (0,0) to (1,1) read as a graph y(x).
// The plain form finds the flat piece around x by bisection on every call; the
// optimised form cuts the curve into linear pieces once and walks the table.
#include <atomic>
#include <cstdint>
#include <vector>

#include "model/calc_func.h"

namespace lum {

// Squared distance under which a curve piece counts as its chord.
inline constexpr double kCurveFlatness = 1e-6;
// Subdivision stops here and takes the chord: control points far outside the
// unit square (or not numbers at all) never flatten within double precision.
inline constexpr int kMaxCurveDepth = 32;
// Curves that need more pieces than this keep the bisection form.
inline constexpr int kMaxCurvePieces = 16384;

struct TCurvePoint {
  double x, y;
};

class TCubicBezier {
 public:
  TCubicBezier(float x1, float y1, float x2, float y2) : x1_(x1), y1_(y1), x2_(x2), y2_(y2) {}
  TCurvePoint At(double t) const {
    double u = 1 - t;
    double a = 3 * t * u * u, b = 3 * t * t * u, c = t * t * t;
    return {a * x1_ + b * x2_ + c, a * y1_ + b * y2_ + c};
  }
  // Whether the curve on [lo, hi] stays within the flatness of its chord at
  // the middle and both quarter points.
  // The middle point is handed back for the next step.
  bool Flat(double lo, double hi, const TCurvePoint& a, const TCurvePoint& b,
            TCurvePoint& mid) const;
  // y of the curve point whose x is the argument, by adaptive bisection.
  double GraphY(double x) const;

 private:
  float x1_, y1_, x2_, y2_;
};

// One linear piece of a curve.
struct TKusochek {
  double x0, x1, slope, y0;
};

// Cuts [0, 1] into flat pieces, lower half first, so they come out in order.
class TCurveSeparator {
 public:
  explicit TCurveSeparator(const TCubicBezier& curve) : curve_(curve) {}
  // False (pieces incomplete) when the curve needs more than kMaxCurvePieces.
  bool Separate(std::vector<TKusochek>& pieces);

 private:
  bool Split(double lo, double hi, const TCurvePoint& a, const TCurvePoint& b, int depth);

  const TCubicBezier& curve_;
  std::vector<TKusochek>* pieces_ = nullptr;
};

// The chord piece between two curve points. A vertical chord has no slope:
// it gives the y of its start.
TKusochek ChordPiece(const TCurvePoint& a, const TCurvePoint& b);

// QSplineGraph(x, x1, y1, x2, y2).
class TQSplineGraph : public TMathFunc {
 public:
  TQSplineGraph() : TMathFunc("QSplineGraph", 5) {}
  void Eval(TCalcStack& stack) override;
  // Constant control points: a one-argument function with a piece table.
  TRef<TCalcFunc> Optimize(int constCount, const double* constants) const override;
};

// QSplineGraph with fixed control points. Remembers the piece used last, so
// that a sweep costs one step of the table per call.
class TQSplineGraphOpt final : public TMathFunc {
 public:
  TQSplineGraphOpt(double x1, double y1, double x2, double y2, std::vector<TKusochek> pieces);
  // Null when the curve needs too many pieces.
  static TRef<TQSplineGraphOpt> Make(double x1, double y1, double x2, double y2);

  void Eval(TCalcStack& stack) override { stack.Top() = Value(stack.Top()); }
  double Value1(double x) override { return Value(x); }
  double Value(double x) const {
    int32_t last = last_.load(std::memory_order_relaxed);
    const TKusochek* p = pieces_.data() + last;
    if (x >= p->x0) {
      while (x > p->x1 && p < last_piece_) ++p;
    } else {
      while (p > pieces_.data() && x < p->x0) --p;
    }
    // Written only when it moves, so that calls on the same piece do not wait
    // for each other's store.
    if (int32_t now = int32_t(p - pieces_.data()); now != last)
      last_.store(now, std::memory_order_relaxed);
    return (x - p->x0) * p->slope + p->y0;
  }
  const std::vector<TKusochek>& Pieces() const { return pieces_; }

 private:
  std::vector<TKusochek> pieces_;  // never empty
  const TKusochek* last_piece_;
  // The program is not shared; an atomic keeps a stray sharer well defined.
  mutable std::atomic<int32_t> last_{0};
};

}  // namespace lum
