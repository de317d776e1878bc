#pragma once
// A mip level made while a picture is decoded: the decoder hands over its
// full-size rows one by one, top row first, and each halving keeps two rows
// instead of the whole picture. The result has the pixels HalveBitmap gives
// level by level, so a store may make any level without holding level 0.
#include <vector>

#include "imaging/bitmap.h"

namespace lum {

class TMipReducer {
 public:
  // Allocates level `level` of a width x height picture (24 or 32 bits;
  // EImageError for other formats and sizes TBitmap refuses).
  TMipReducer(int width, int height, TPixelFormat format, int level);

  // Where the next full-size row goes (width pixels); nothing after the last.
  uint8_t* Row();
  // The row at Row() is complete.
  void Next();
  // Hands over a full-size row kept elsewhere (Row() and Next() in one).
  void Add(const uint8_t* row);
  // Full-size rows handed over so far.
  int RowsDone() const { return done_; }
  // Level 0: rows go straight into Result(), so a decoder may write several
  // at once there and then call Next() for each.
  bool Direct() const { return stages_.empty(); }
  TBitmap& Result() { return *out_; }
  // The level; rows never handed over are mid grey (128), as a damaged
  // picture's missing rows are at full size.
  TRef<TBitmap> Finish();

 private:
  struct TStage {
    int width = 0, height = 0, received = 0;
    std::vector<uint8_t> pending, halved;
  };
  void Push(size_t stage, const uint8_t* row);

  TPixelFormat format_;
  int height_;
  int done_ = 0;
  std::vector<TStage> stages_;
  std::vector<uint8_t> input_;
  TRef<TBitmap> out_;
};

}  // namespace lum
