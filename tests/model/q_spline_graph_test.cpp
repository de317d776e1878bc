// Easing curves: the bisection form, the piece table and their agreement.
#include <gtest/gtest.h>

#include <cmath>

#include "model/calc_cmd_list.h"
#include "model/expression_parser.h"
#include "model/q_spline_graph.h"

namespace lum {
namespace {

double Curve(double x, double x1, double y1, double x2, double y2) {
  TCalcStack stack;
  for (double v : {x, x1, y1, x2, y2}) stack.Push(v);
  TQSplineGraph().Eval(stack);
  EXPECT_EQ(stack.Count(), 1);
  return stack.Top();
}

TEST(QSplineGraph, StraightAndSymmetricCurves) {
  EXPECT_DOUBLE_EQ(Curve(0.5, 0, 0, 1, 1), 0.5);
  for (double x = 0; x <= 1; x += 0.05) EXPECT_NEAR(Curve(x, 0.3, 0.3, 0.7, 0.7), x, 1e-12);
  EXPECT_NEAR(Curve(0, 0.25, 0, 0.75, 1), 0, 1e-12);
  EXPECT_NEAR(Curve(1, 0.25, 0, 0.75, 1), 1, 1e-12);
  EXPECT_NEAR(Curve(0.5, 0.25, 0, 0.75, 1), 0.5, 1e-9);
  for (double x = 0.01; x < 0.5; x += 0.0137) {
    double y = Curve(x, 0.25, 0, 0.75, 1);
    // Symmetric about (0.5, 0.5), within the flatness of the pieces.
    EXPECT_NEAR(y + Curve(1 - x, 0.25, 0, 0.75, 1), 1, 2e-3) << x;
    EXPECT_LT(y, x) << x;  // eases in
  }
  // Arguments outside 0..1 continue along the first and last pieces.
  double slope0 = Curve(0.001, 0.25, 0, 0.75, 1) / 0.001;
  EXPECT_NEAR(Curve(-1, 0.25, 0, 0.75, 1), -slope0, 1e-9);
  EXPECT_GT(Curve(2, 0.25, 0, 0.75, 1), 1);
}

TEST(QSplineGraph, CurveValuesAreOnTheBezier) {
  // A point of the curve by its parameter is found again by its x.
  TCubicBezier curve(0.42f, 0.0f, 0.58f, 1.0f);
  for (double t = 0.05; t < 1; t += 0.1) {
    TCurvePoint p = curve.At(t);
    EXPECT_NEAR(curve.GraphY(p.x), p.y, 2e-3) << t;
  }
}

// An asymmetric curve, (0.1, 0.6) and (0.7, 1): points worked out by hand
// from B(t) = 3t(1 - t)^2 P1 + 3t^2(1 - t) P2 + t^3, e.g. t = 0.25:
// x = 0.0421875 + 0.0984375 + 0.015625 = 0.15625, y = 0.253125 + 0.140625 +
// 0.015625 = 0.409375. Both forms stay within the flatness of their pieces.
TEST(QSplineGraph, AsymmetricCurveByHand) {
  const double points[][2] = {
      {0.0442, 0.1738}, {0.15625, 0.409375}, {0.425, 0.725}, {0.73125, 0.928125}, {0.9018, 0.9882}};
  TRef<TQSplineGraphOpt> opt = TQSplineGraphOpt::Make(0.1, 0.6, 0.7, 1);
  ASSERT_TRUE(opt);
  for (const auto& p : points) {
    EXPECT_NEAR(Curve(p[0], 0.1, 0.6, 0.7, 1), p[1], 2e-3) << p[0];
    EXPECT_NEAR(opt->Value(p[0]), p[1], 2e-3) << p[0];
  }
  // Mirrored through the centre the curve is another one: (0.3, 0) and (0.9, 0.4).
  for (const auto& p : points) EXPECT_NEAR(Curve(1 - p[0], 0.3, 0, 0.9, 0.4), 1 - p[1], 2e-3);
}

TEST(QSplineGraph, OptimisedFormMatchesBisection) {
  const double curves[][4] = {{0.25, 0, 0.75, 1},        {0.42, 0, 0.58, 1}, {0, 0, 0.58, 1},
                              {0.42, 0, 1, 1},           {0.1, 0.9, 0.2, 1}, {0.3, -0.5, 0.6, 1.6},
                              {0.68, -0.55, 0.27, 1.55}, {0, 0, 1, 1}};
  for (const auto& c : curves) {
    TRef<TQSplineGraphOpt> opt = TQSplineGraphOpt::Make(c[0], c[1], c[2], c[3]);
    ASSERT_TRUE(opt);
    ASSERT_FALSE(opt->Pieces().empty());
    for (size_t i = 1; i < opt->Pieces().size(); ++i)  // contiguous, in order of t
      ASSERT_EQ(opt->Pieces()[i].x0, opt->Pieces()[i - 1].x1);
    TCubicBezier curve{float(c[0]), float(c[1]), float(c[2]), float(c[3])};
    // Forward, backward and jumping sweeps exercise every move of the cursor.
    for (int i = -100; i <= 1100; ++i) {
      double x = i / 1000.0;
      ASSERT_NEAR(opt->Value(x), curve.GraphY(x), 1e-6) << x << " curve " << c[0];
    }
    for (int i = 1100; i >= -100; i -= 7) {
      double x = i / 1000.0;
      ASSERT_NEAR(opt->Value(x), curve.GraphY(x), 1e-6) << x;
    }
    for (double x : {0.9, 0.1, 0.95, 0.0, 1.0, 0.5, -0.3, 1.7})
      ASSERT_NEAR(opt->Value(x), curve.GraphY(x), 1e-6);
  }
}

TEST(QSplineGraph, HostileControlPointsTerminate) {
  // Points far outside the square never flatten within double precision; the
  // depth cap ends the bisection, and the table gives up to the plain form.
  double y = Curve(0.5, 1e30, -1e30, -1e30, 1e30);
  (void)y;
  EXPECT_FALSE(TQSplineGraphOpt::Make(1e30, -1e30, -1e30, 1e30));
  EXPECT_TRUE(std::isnan(Curve(0.5, NAN, 0, 1, 1)));
  // Vertical pieces have no slope: their start value is taken.
  EXPECT_TRUE(std::isfinite(Curve(1, 1, 0, 1, 0)));
  // Through the compiler: the plain call stays and runs to an end.
  TExpressionParser parser;
  TCalcCmdList program;
  ASSERT_TRUE(parser.Compile("QSplineGraph(Rnd, 1e30, -1e30, -1e30, 1e30)", program));
  EXPECT_EQ(CalcCmdText(program[program.Count() - 1]), "call(5) QSplineGraph");
}

TEST(QSplineGraph, NameKeepsFiveSignificantDigits) {
  EXPECT_EQ(TQSplineGraphOpt::Make(0.123456, 1, 0.5, 0.999999)->Name(),
            "QSplineGraph-opt(0.12346:1;0.5:1)");
}

}  // namespace
}  // namespace lum
