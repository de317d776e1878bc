#pragma once
// The player's own ".kvgfx" pictures: "KVGF", named text fields, then a raw
// deflate stream of a BMP file. Decoded on first use, at the level asked
// for; a damaged payload, or one too large for the picture budget left,
// gives a blank picture of the declared size.
#include <map>
#include <memory>
#include <string>

#include "foundation/memory_stream.h"
#include "imaging/bitmap_store.h"

namespace lum {

// Fill of a picture whose payload cannot be decoded (opaque mid grey).
inline constexpr uint8_t kBlankGfxGrey = 128;

struct TGfxHeader {
  std::map<std::string, std::string> fields;
  std::string file;
  int width = 0, height = 0;
  int64_t originalSize = 0;
};

// Reads the header at the stream's position; false (position restored) when
// it is not a .kvgfx header with the four required fields and a size within
// the picture budget.
bool ReadGfxHeader(TStream& stream, TGfxHeader& header);

class TGfxBitmapStore : public TBitmapStore {
 public:
  TGfxBitmapStore(TGfxHeader header, std::unique_ptr<TMemoryStream> packed);
  const char* ClassName() const override { return "TGfxBitmapStore"; }
  const TGfxHeader& Header() const { return header_; }

 protected:
  TRef<TBitmap> DecodeLevel(int level) override;
  bool DecodesAnyLevel() const override { return true; }
  bool Redecodable() const override { return packed_ != nullptr; }
  int64_t DecodeBytes(int level) const override;

 private:
  // Most bytes the payload may inflate to.
  int64_t InflatedLimit() const;
  // Level 0 from the payload, 32-bit; nothing when it is damaged or does
  // not fit the budget (logged).
  TRef<TBitmap> DecodeFull();

  TGfxHeader header_;
  std::unique_ptr<TMemoryStream> packed_;  // freed once level 0 is decoded
};

// Writes a .kvgfx file (tests, tools): header fields then the BMP deflated.
std::string WriteGfx(std::string_view bmpFile, int width, int height, std::string_view fileName);

}  // namespace lum
