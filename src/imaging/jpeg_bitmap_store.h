#pragma once
// JPEG pictures: the file kept in memory, levels 0-3 decoded straight at
// 1/1, 1/2, 1/4 and 1/8 by the library's scaled decoding, coarser ones
// halved while decoding at 1/8; 24-bit BGR.
#include <string>

#include "imaging/bitmap_store.h"

namespace lum {

class TJpegBitmapStore : public TBitmapStore {
 public:
  // Reads the header of the file in memory; throws EImageError when it is no
  // JPEG the store can decode, or when its coefficient buffer (progressive
  // and multi-scan files) exceeds the picture budget's limit. A picture over
  // the pixel budget at full size starts at the first scaled level that fits
  // (Shift() levels down).
  explicit TJpegBitmapStore(std::string file);
  const char* ClassName() const override { return "TJpegBitmapStore"; }

  bool Progressive() const { return progressive_; }
  bool Greyscale() const { return components_ == 1; }
  int Shift() const { return shift_; }
  // Size of the picture as stored in the file.
  int FileWidth() const { return fileWidth_; }
  int FileHeight() const { return fileHeight_; }
  // Bytes the library's full-size coefficient buffer takes; 0 for files
  // decoded in one sequential scan.
  int64_t CoefficientBytes() const { return coefficientBytes_; }

 protected:
  TRef<TBitmap> DecodeLevel(int level) override;
  int DecodedLevels() const override { return 4 - shift_; }
  bool DecodesAnyLevel() const override { return true; }
  bool Redecodable() const override { return true; }
  int64_t DecodeBytes(int level) const override;

 private:
  std::string file_;
  int64_t coefficientBytes_ = 0;
  int fileWidth_ = 0, fileHeight_ = 0, components_ = 0, shift_ = 0;
  bool progressive_ = false;
};

}  // namespace lum
