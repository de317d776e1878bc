#include "model/q_spline_graph.h"

#include <cmath>
#include <cstdio>

namespace lum {

namespace {

double Dist2(const TCurvePoint& p, const TCurvePoint& a, const TCurvePoint& b, double f) {
  double dx = p.x - (a.x + (b.x - a.x) * f), dy = p.y - (a.y + (b.y - a.y) * f);
  return dx * dx + dy * dy;
}

}  // namespace

bool TCubicBezier::Flat(double lo, double hi, const TCurvePoint& a, const TCurvePoint& b,
                        TCurvePoint& mid) const {
  mid = At((lo + hi) / 2);
  return Dist2(mid, a, b, 0.5) < kCurveFlatness &&
         Dist2(At(0.75 * lo + 0.25 * hi), a, b, 0.25) < kCurveFlatness &&
         Dist2(At(0.25 * lo + 0.75 * hi), a, b, 0.75) < kCurveFlatness;
}

TKusochek ChordPiece(const TCurvePoint& a, const TCurvePoint& b) {
  double dx = b.x - a.x;
  double slope = dx != 0 ? (b.y - a.y) / dx : 0;
  if (!std::isfinite(slope)) slope = 0;
  return {a.x, b.x, slope, a.y};
}

double TCubicBezier::GraphY(double x) const {
  double lo = 0, hi = 1;
  TCurvePoint a = At(0), b = At(1), pm;
  for (int depth = 0; depth < kMaxCurveDepth && !Flat(lo, hi, a, b, pm); ++depth) {
    double m = (lo + hi) / 2;
    if (x <= pm.x) {
      hi = m;
      b = pm;
    } else {
      lo = m;
      a = pm;
    }
  }
  TKusochek piece = ChordPiece(a, b);
  return (x - piece.x0) * piece.slope + piece.y0;
}

bool TCurveSeparator::Separate(std::vector<TKusochek>& pieces) {
  pieces.clear();
  pieces_ = &pieces;
  return Split(0, 1, curve_.At(0), curve_.At(1), 0);
}

bool TCurveSeparator::Split(double lo, double hi, const TCurvePoint& a, const TCurvePoint& b,
                            int depth) {
  TCurvePoint pm;
  if (depth >= kMaxCurveDepth || curve_.Flat(lo, hi, a, b, pm)) {
    if (pieces_->size() >= size_t(kMaxCurvePieces)) return false;
    pieces_->push_back(ChordPiece(a, b));
    return true;
  }
  double m = (lo + hi) / 2;
  return Split(lo, m, a, pm, depth + 1) && Split(m, hi, pm, b, depth + 1);
}

void TQSplineGraph::Eval(TCalcStack& stack) {
  double y2 = stack.Pop(), x2 = stack.Pop(), y1 = stack.Pop(), x1 = stack.Pop();
  stack.Top() = TCubicBezier(float(x1), float(y1), float(x2), float(y2)).GraphY(stack.Top());
}

TRef<TCalcFunc> TQSplineGraph::Optimize(int constCount, const double* constants) const {
  if (constCount < 4) return {};
  const double* c = constants + constCount - 4;
  return TQSplineGraphOpt::Make(c[0], c[1], c[2], c[3]);
}

namespace {

std::string OptName(double x1, double y1, double x2, double y2) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "QSplineGraph-opt(%.5g:%.5g;%.5g:%.5g)", x1, y1, x2, y2);
  return buf;
}

}  // namespace

TQSplineGraphOpt::TQSplineGraphOpt(double x1, double y1, double x2, double y2,
                                   std::vector<TKusochek> pieces)
    : TMathFunc(OptName(x1, y1, x2, y2), 1), pieces_(std::move(pieces)) {
  if (pieces_.empty()) pieces_.push_back({0, 1, 1, 0});
  last_piece_ = &pieces_.back();
}

TRef<TQSplineGraphOpt> TQSplineGraphOpt::Make(double x1, double y1, double x2, double y2) {
  TCubicBezier curve{float(x1), float(y1), float(x2), float(y2)};
  std::vector<TKusochek> pieces;
  if (!TCurveSeparator(curve).Separate(pieces)) return {};
  return MakeRef<TQSplineGraphOpt>(x1, y1, x2, y2, std::move(pieces));
}

TRef<TCalcFunc> MakeCurveFunction() {
  return MakeRef<TQSplineGraph>();
}

}  // namespace lum
