// Fuzzes the stored text members: the first byte picks the reader, the rest
// is the member. A laid-out text that reads is laid out and filled with the
// outlines of a cache read from the same bytes, so that hostile positions,
// sizes, metrics and paths all reach the layout and the rasteriser.
#include <cstdint>
#include <string>

#include "imaging/bitmap.h"
#include "text/font_cache.h"
#include "text/text_picture.h"
#include "text/vect_text_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lum;
  // Pictures stay small so that each run is quick; larger ones are refused.
  SetPictureBudget(1 << 16);
  if (size < 2) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  uint8_t mode = data[0], split = data[1];
  TFontCache& cache = TFontCache::Instance();
  cache.Clear();
  if (mode & 1) {
    // A cache member and a layout member from the two parts of the input.
    size_t at = bytes.size() * split / 256;
    TGlyphCache c;
    if (ReadGlyphCache(bytes.substr(0, at), c)) {
      for (const TGlyphOutline& g : c.glyphs)
        if (!GlyphOutlineUsable(g)) __builtin_trap();  // the reader lets no bad glyph through
      c.key = "F:";
      cache.Add(std::move(c));
    }
    bytes = bytes.substr(at);
  }
  TVectText text;
  if (!ReadVectText(bytes, text)) return 0;
  // Every glyph's key names the one cache, whatever it said.
  for (auto& line : text.lines)
    for (TPlacedGlyph& g : line) g.cacheKey = "F:";
  TTextParams params = DefaultTextParams();
  params.scale = 0.05 + ((mode >> 1) & 7) / 8.0;
  params.style = mode >> 4;
  params.align = uint8_t(split % 3);
  params.lineSpacing = double(int8_t(split)) * 4;
  if (TRef<TTextPictureStore> store = MakeTextPicture(text, params))
    store->GetMipLevel(0, TPixelFormat::Bgra32);
  // The writer's bytes read back to the same text.
  TVectText again;
  if (!ReadVectText(WriteVectText(text), again) || again.lines.size() != text.lines.size())
    __builtin_trap();
  return 0;
}
