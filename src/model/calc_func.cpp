#include "model/calc_func.h"

#include <atomic>
#include <cmath>
#include <mutex>
#include <numbers>
#include <random>

namespace lum {

TCalcFunc::TCalcFunc(std::string name, int arity, bool pure)
    : name_(std::move(name)), arity_(arity), pure_(pure) {
  if (arity < 0 || arity > kMaxArity) AssertFailed("calc_func", "Invalid function arity");
}

TRef<TCalcFunc> TCalcFunc::Optimize(int, const double*) const {
  return {};
}

double TCalcFunc::Value0() {
  TCalcStack stack;
  Eval(stack);
  return stack.Top();
}

double TCalcFunc::Value1(double x) {
  TCalcStack stack;
  stack.Push(x);
  Eval(stack);
  return stack.Top();
}

double TMathWrapper1Ext::Value1(double x) {
  if (!(x >= lo_ && x <= hi_)) throw ECalcError("Invalid argument to " + Name());
  return routine_(x);
}

void TPowerOptFunc::Eval(TCalcStack& stack) {
  double y = stack.Pop();
  stack.Top() = std::pow(stack.Top(), y);
}

TRef<TCalcFunc> TPowerOptFunc::Optimize(int constCount, const double* constants) const {
  if (constCount < 1 || std::fabs(constants[constCount - 1] - 2) >= 1e-6) return {};
  return CalcLookup("Sqr");
}

// Registry: 16 singly linked buckets. Entries are pushed at the head with a
// compare-and-exchange, so lookups never lock; filling is serialised so that
// only one thread does it.
class TCalcRegistry {
 public:
  static TCalcRegistry& Instance() {
    static TCalcRegistry registry;
    return registry;
  }
  ~TCalcRegistry() { Empty(); }

  TRef<TCalcFunc> Lookup(std::string_view name) {
    EnsureFilled();
    for (TCalcFunc* f = buckets_[Hash(name)].load(std::memory_order_acquire); f; f = f->next_)
      if (SameName(f->Name(), name)) return TRef<TCalcFunc>(f);
    return {};
  }

  void Register(const TRef<TCalcFunc>& func) {
    EnsureFilled();
    Push(func.Get());
  }

  std::vector<std::string> Names() {
    EnsureFilled();
    std::vector<std::string> names;
    for (auto& bucket : buckets_)
      for (TCalcFunc* f = bucket.load(std::memory_order_acquire); f; f = f->next_)
        names.push_back(f->Name());
    return names;
  }

  void Empty() {
    std::lock_guard lock(fillMutex_);
    for (auto& bucket : buckets_) {
      TCalcFunc* f = bucket.exchange(nullptr, std::memory_order_acq_rel);
      while (f) {
        TCalcFunc* next = f->next_;
        f->next_ = nullptr;
        f->Release();
        f = next;
      }
    }
    filled_.store(false, std::memory_order_release);
  }

 private:
  static constexpr int kBuckets = 16;

  static char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }
  static size_t Hash(std::string_view name) {
    uint32_t h = 2166136261u;
    for (char c : name) h = (h ^ uint8_t(Lower(c))) * 16777619u;
    return (h ^ (h >> 16)) & (kBuckets - 1);
  }
  static bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
  }

  void Push(TCalcFunc* f) {
    f->AddRef();
    auto& bucket = buckets_[Hash(f->Name())];
    TCalcFunc* head = bucket.load(std::memory_order_relaxed);
    do {
      f->next_ = head;
    } while (!bucket.compare_exchange_weak(head, f, std::memory_order_release,
                                           std::memory_order_relaxed));
  }

  void EnsureFilled() {
    if (filled_.load(std::memory_order_acquire)) return;
    std::lock_guard lock(fillMutex_);
    if (filled_.load(std::memory_order_relaxed)) return;
    Fill();
    filled_.store(true, std::memory_order_release);
  }

  void Add(const TRef<TCalcFunc>& f) { Push(f.Get()); }
  void Add(TCalcFunc* f) { Add(TRef<TCalcFunc>(f)); }
  void Fill();

  std::atomic<TCalcFunc*> buckets_[kBuckets] = {};
  std::atomic<bool> filled_{false};
  std::mutex fillMutex_;
};

namespace {

double Rnd() {
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<int32_t> draw(0, 2147483646);
  return draw(engine) / 2147483646.0;
}

constexpr double kIntLimit = 9223372036854775807.0;  // results must fit a 64-bit integer

double Cotan(double x) {
  return 1 / std::tan(x);
}
double Sqr(double x) {
  return x * x;
}
double Frac(double x) {
  return x - std::trunc(x);
}
double RoundHalfEven(double x) {
  double r = std::round(x);
  if (std::fabs(x - std::trunc(x)) == 0.5) r = 2 * std::round(x / 2);
  return r;
}
double Trunc(double x) {
  return std::trunc(x);
}
double Ceil(double x) {
  return std::ceil(x);
}
double Lerp(double a, double b, double t) {
  return a + (b - a) * t;
}
double Abs(double x) {
  return std::fabs(x);
}
double Sin(double x) {
  return std::sin(x);
}
double Cos(double x) {
  return std::cos(x);
}
double Tan(double x) {
  return std::tan(x);
}
double ArcTan(double x) {
  return std::atan(x);
}
double ArcSin(double x) {
  return std::asin(x);
}
double ArcCos(double x) {
  return std::acos(x);
}
double Sqrt(double x) {
  return std::sqrt(x);
}
double ArcTan2(double y, double x) {
  return std::atan2(y, x);
}
double Hypot(double x, double y) {
  return std::hypot(x, y);
}

}  // namespace

void TCalcRegistry::Fill() {
  const double inf = INFINITY;
  Add(new TMathConst("Pi", std::numbers::pi));
  Add(new TMathWrapper1("Sin", Sin));
  Add(new TMathWrapper1("Cos", Cos));
  Add(new TMathWrapper1("Tan", Tan));
  Add(new TMathWrapper1("Cotan", Cotan));
  Add(new TMathWrapper1Ext("ArcSin", ArcSin, -1, 1));
  Add(new TMathWrapper1Ext("ArcCos", ArcCos, -1, 1));
  Add(new TMathWrapper1("ArcTan", ArcTan));
  Add(new TMathWrapper2Ext("ArcTan2", ArcTan2));
  Add(new TMathWrapper2Ext("Hypot", Hypot));
  Add(new TMathWrapper1Ext("Sqrt", Sqrt, 0, inf));
  Add(new TPowerOptFunc("Power"));
  Add(new TPowerOptFunc("Pow"));
  Add(new TMathWrapper1("Sqr", Sqr));
  Add(new TMathWrapper1("Abs", Abs));
  Add(new TMathWrapper1("Frac", Frac));
  Add(new TMathWrapper1Ext("Round", RoundHalfEven, -kIntLimit, kIntLimit));
  Add(new TMathWrapper1Ext("Trunc", Trunc, -kIntLimit, kIntLimit));
  Add(new TMathWrapper1Ext("Ceil", Ceil, -kIntLimit, kIntLimit));
  Add(new TMathWrapper3("Lerp", Lerp));
  Add(new TMathWrapper0("Rnd", Rnd, false));
  Add(MakeCurveFunction());
}

TRef<TCalcFunc> CalcLookup(std::string_view name) {
  return TCalcRegistry::Instance().Lookup(name);
}

void CalcRegister(const TRef<TCalcFunc>& func) {
  if (func) TCalcRegistry::Instance().Register(func);
}

std::vector<std::string> CalcFunctionNames() {
  return TCalcRegistry::Instance().Names();
}

void CalcRegistryShutdown() {
  TCalcRegistry::Instance().Empty();
}

}  // namespace lum
