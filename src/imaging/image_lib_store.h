#pragma once
// PNG pictures through libpng: every colour type and bit depth expanded to
// 24-bit BGR, or 32-bit BGRA when the picture has alpha or transparency.
// Any mip level is decoded straight from the file, halved row by row.
#include <string>

#include "imaging/bitmap_store.h"

namespace lum {

class TImageLibStore : public TBitmapStore {
 public:
  // Reads the header of the file in memory; throws EImageError when it is not
  // a PNG within the picture budget.
  explicit TImageLibStore(std::string file);
  const char* ClassName() const override { return "TImageLibStore"; }

 protected:
  TRef<TBitmap> DecodeLevel(int level) override;
  bool DecodesAnyLevel() const override { return true; }
  bool Redecodable() const override { return !file_.empty(); }
  int64_t DecodeBytes(int level) const override;

 private:
  std::string file_;  // freed once level 0 is decoded
  bool interlaced_ = false;
};

// Writes a bitmap as PNG (8-bit RGB or RGBA); false when the file cannot be written.
bool WritePng(const TBitmap& bitmap, const std::string& path);

}  // namespace lum
