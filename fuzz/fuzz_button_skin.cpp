// Fuzzes button skins: a btn.ini document read through a producer and its
// pieces composed at a few widths from a small skin picture; the same bytes
// as a "Button: " name and as a piece value.
#include <cstdint>
#include <string>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "foundation/memory_stream.h"
#include "model/button_producer.h"

namespace {

// A 16 x 16 24-bit BMP of one colour.
std::string SkinPicture() {
  const int w = 16, h = 16, row = w * 3, size = 54 + row * h;
  std::string b(size_t(size), '\0');
  auto put = [&](int at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[size_t(at + i)] = char((v >> (8 * i)) & 0xFF);
  };
  b[0] = 'B', b[1] = 'M';
  put(2, uint32_t(size), 4), put(10, 54, 4), put(14, 40, 4), put(18, w, 4), put(22, h, 4);
  put(26, 1, 2), put(28, 24, 2);
  for (int i = 54; i < size; ++i) b[size_t(i)] = char(0x40 + i % 3 * 0x30);
  return b;
}

// btn.ini is the fuzzed document; every other name is the skin picture.
class TSkinSource : public lum::TFileSource {
 public:
  explicit TSkinSource(std::string ini) : ini_(std::move(ini)), picture_(SkinPicture()) {}
  std::unique_ptr<lum::TStream> Open(std::string_view name) override {
    const bool ini = name.size() >= 7 && name.substr(name.size() - 7) == "btn.ini";
    return std::make_unique<lum::TMemoryStream>(ini ? ini_ : picture_);
  }

 private:
  std::string ini_, picture_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lum;
  std::string text(reinterpret_cast<const char*>(data), size);
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TSkinSource>(text), "/nowhere/");
  TButtonProducer producer(accessor, "skins\\", "t");
  for (int state = 0; state < 3; ++state)
    for (int width : {1, 40, 300}) producer.Draw(state, width, 30, -20, 10);
  const TButtonTheme& theme = producer.Skin();
  ButtonWidth(theme.BaseHeight(), theme.btnMinWidth, double(size % 7), 100 - theme.btnOffset, 100);
  ParseButtonPictureName(text);
  ParseSkinPiece(text);
  return 0;
}
