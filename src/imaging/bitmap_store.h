#pragma once
// Bitmap stores: a decoded or decodable picture handing out mip levels in
// the pixel formats asked for, each made once and cached.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/ref_object.h"
#include "imaging/bitmap.h"

namespace lum {

// Fraction of the current decode done (0..1).
using TImageProgress = std::function<void(double)>;

struct TImageParams {
  int width = 0;   // level 0
  int height = 0;  // level 0
  TPixelFormat format = TPixelFormat::None;
};

class TBitmapStore : public TRefObject {
 public:
  // The level's bitmap in the wanted format (None: as the store makes it).
  // Made on first request under the store's lock; later requests get the
  // cached bitmap. A decode that would not fit the picture budget
  // (TPictureBudget) is made at the first coarser level that fits, logged,
  // and that level (its Level() says which) answers every finer request
  // from then on. A store that breaks its contract raises EAssertion.
  TRef<TBitmap> GetMipLevel(int level, TPixelFormat wanted = TPixelFormat::None);
  // Drops every cached bitmap of a level (all formats) when the store can
  // make it again from what it keeps: a level that lives on elsewhere (a
  // texture) need not stay in memory twice. Bitmaps already handed out stay
  // with their holders. False when the level is kept.
  bool ForgetLevel(int level);
  // True when ForgetLevel would drop a level now.
  bool Forgettable();
  // The finest level the store hands out (0 unless the budget made it coarser).
  int FinestLevel() const { return floor_.load(std::memory_order_relaxed); }

  const TImageParams& Params() const { return params_; }
  // Embedded colour profile (ICC bytes) and the name it goes by; empty when none.
  const std::string& IccProfile() const { return icc_; }
  const std::string& IccName() const { return iccName_; }
  void SetIccProfile(std::string bytes, std::string name) {
    icc_ = std::move(bytes);
    iccName_ = std::move(name);
  }
  void SetProgress(TImageProgress progress) { progress_ = std::move(progress); }
  // The file the picture came from, for log lines.
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // Name of the concrete store, used in contract messages.
  virtual const char* ClassName() const = 0;

 protected:
  explicit TBitmapStore(TImageParams params) : params_(params) {}

  // Makes a level the store decodes itself (0..DecodedLevels()-1, or any
  // level when DecodesAnyLevel()), in its own format; nothing when it
  // cannot. Called under the lock.
  virtual TRef<TBitmap> DecodeLevel(int level) = 0;
  // How many levels DecodeLevel makes even when a finer one is cached;
  // others are halved from a finer level.
  virtual int DecodedLevels() const { return 1; }
  // True when DecodeLevel makes any level straight from the packed picture,
  // so that a coarse level never needs the fine ones in memory.
  virtual bool DecodesAnyLevel() const { return false; }
  // True when DecodeLevel can still make every level (the packed picture is
  // kept). Called under the lock.
  virtual bool Redecodable() const { return false; }
  // Forgets what the level was made from in stores underneath. Called under
  // the lock.
  virtual void ForgetSources(int /*level*/) {}
  // Memory a decode of the level takes: the bitmap and working buffers.
  // 0 for stores that hold their pixels already.
  virtual int64_t DecodeBytes(int /*level*/) const { return 0; }
  // Produces a level: decoded, or the box-filtered half of a finer one.
  virtual TRef<TBitmap> ProduceLevel(int level);
  // The bitmap itself when its format already is the wanted one, a converted
  // copy when the store can make one, else nothing.
  virtual TRef<TBitmap> ConvertBitmapFor(const TRef<TBitmap>& bitmap, TPixelFormat wanted);

  void ReportProgress(double fraction) const {
    if (progress_) progress_(fraction);
  }

  TImageParams params_;
  std::string icc_, iccName_, name_;
  TImageProgress progress_;

 private:
  // The cached level ProduceLevel halves from, or -1 when it decodes.
  int HalvingSource(int level) const;
  // The first level from `level` on whose decode (and conversion to the
  // wanted format) fits the budget; the coarsest level when none does.
  int AffordableLevel(int level, TPixelFormat wanted) const;
  // Makes room in the level array up to the level.
  void Reserve(int level);
  // The first cached bitmap of the level in the wanted format (None: any).
  TRef<TBitmap> Cached(int level, TPixelFormat wanted) const;
  // Produces the level and caches it; level becomes the coarser one the
  // bitmap is when the store underneath had to go coarser.
  void AddProduced(int& level);
  void LogCoarser(int level, int fit) const;

  std::recursive_mutex lock_;
  std::vector<std::vector<TRef<TBitmap>>> levels_;
  std::atomic<int> floor_{0};  // written under the lock
};

// A decoded bitmap kept in memory.
class TSysBitmapStore : public TBitmapStore {
 public:
  explicit TSysBitmapStore(TRef<TBitmap> bitmap);
  // A bitmap that is mip level bitmap->Level() of a picture of size's size:
  // it answers that level and every finer one.
  TSysBitmapStore(TRef<TBitmap> bitmap, TImageParams size);
  const char* ClassName() const override { return "TSysBitmapStore"; }

 protected:
  TRef<TBitmap> DecodeLevel(int level) override;

 private:
  TRef<TBitmap> bitmap_;
};

// A bitmap made elsewhere (a renderer's capture, a text picture) kept as is.
using TWrapperBitmapStore = TSysBitmapStore;

// A picture whose bitmaps are another store's, turned by an EXIF
// orientation code (3, 6 or 8).
class TRotatedBitmapStore : public TBitmapStore {
 public:
  TRotatedBitmapStore(TRef<TBitmapStore> inner, int exifCode);
  const char* ClassName() const override { return "TRotatedBitmapStore"; }

 protected:
  TRef<TBitmap> DecodeLevel(int level) override;
  int DecodedLevels() const override { return 64; }
  bool Redecodable() const override;
  void ForgetSources(int level) override { inner_->ForgetLevel(level); }

 private:
  TRef<TBitmapStore> inner_;
  int code_;
};

// The mip level to draw a picture of level-0 size w0 x h0 at tw x th: the
// deepest level still larger than the target in both dimensions (0 when
// level 0 is not). Targets must be positive.
int ChooseMipLevel(int w0, int h0, int tw, int th);

}  // namespace lum
