// lumshow expr: the value, the compiled program, the compiler's trace,
// variables and the failures a user sees.
#include <gtest/gtest.h>

#include "support/lumshow_run.h"

namespace lum {
namespace {

using test::TCommandResult;

TCommandResult Expr(std::vector<std::string> args) {
  args.insert(args.begin(), "expr");
  return test::Lumshow(args);
}

TEST(LumshowExpr, ValueWithSeventeenDigits) {
  TCommandResult r = Expr({"Pi"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3.1415926535897931\n");
  EXPECT_EQ(Expr({"Lerp(10, 20, 0.25)"}).out, "12.5\n");
  EXPECT_EQ(Expr({"QSplineGraph(0.5, 0, 0, 1, 1)"}).out, "0.5\n");
  EXPECT_EQ(Expr({"--", "-2*3"}).out, "-6\n");
  // Options go before "--"; a negative value of a variable is fine.
  EXPECT_EQ(Expr({"--var", "x=-1.5", "--program", "--", "-x"}).out, "call x\nneg\n1.5\n");
}

TEST(LumshowExpr, ProgramAndTraceWithVariables) {
  TCommandResult r = Expr({"2*3+x", "--program", "--var", "x=1.5"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "call x\naddc 6\n7.5\n");
  r = Expr({"Power(x,2)", "--program", "--var", "X=3"});
  EXPECT_EQ(r.out, "call X\ncall(1) Sqr\n9\n");  // the variable keeps its own spelling
  r = Expr({"Lerp(10,20,0.25)", "--program"});
  EXPECT_EQ(r.out, "load 12.5\n12.5\n");
  r = Expr({"x-0", "--trace", "--var", "x=2", "--var", "y=5"});
  EXPECT_EQ(r.out, "call x\nload 0\n/drop\n(addc 0 \\drop)\n2\n");
  r = Expr({"x/y", "--program", "--var", "x=1", "--var", "y=3"});
  EXPECT_EQ(r.out, "call x\ncall y\ndiv\n0.33333333333333331\n");
}

TEST(LumshowExpr, CompileAndRunFailures) {
  struct TCase {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"x/0", "--var", "x=1"}, 1, "lumshow: Division by Zerro"},
      {{"Pi()"}, 1, "lumshow: Expected Operator"},
      {{"1e"}, 1, "lumshow: Invalid Number Format: 1e"},
      {{"unknown+1"}, 1, "lumshow: Unknown Function or Variable: unknown"},
      {{"Sqrt(-1)"}, 1, "lumshow: Function Call Error: Sqrt(-1)"},
      {{"1/(x-1)", "--var", "x=1"}, 1, "lumshow: evaluation failed: Division by zero"},
      {{std::string(1000, '(') + "1" + std::string(1000, ')')},
       1,
       "lumshow: Expression Nested Too Deep"},
      {{" "}, 1, "lumshow: the expression gives no value"},
      {{"x", "--var", "x"}, 2, "lumshow: --var wants NAME=VALUE"},
      {{"x", "--var", "1x=2"}, 2, "lumshow: --var wants NAME=VALUE"},
      {{"x", "--var", "x=abc"}, 2, "lumshow: --var x: not a number: abc"},
      {{"x", "--var", "x=inf"}, 2, "lumshow: --var x: not a number: inf"},
  };
  for (const TCase& c : cases) {
    TCommandResult r = Expr(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << ": " << r.err;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_TRUE(c.status != 1 || r.out.empty()) << r.out;
  }
}

}  // namespace
}  // namespace lum
