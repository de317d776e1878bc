#include "imaging/gfx_bitmap_store.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "container/z_stream.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "imaging/bmp_reader.h"
#include "imaging/loaders.h"
#include "imaging/mip_reducer.h"
#include "imaging/picture_budget.h"

namespace lum {

namespace {

bool ReadString16(TStream& s, std::string& out) {
  uint8_t len[2];
  if (s.Read(len, 2) != 2) return false;
  size_t n = size_t(len[0] | len[1] << 8);
  out.resize(n);
  return n == 0 || s.Read(out.data(), n) == n;
}

bool ParseDecimal(const std::string& text, int64_t& value) {
  const char* b = text.data();
  const char* e = b + text.size();
  while (b < e && *b == ' ') ++b;
  auto r = std::from_chars(b, e, value);
  return r.ec == std::errc() && r.ptr == e;
}

void PutString16(std::string& out, std::string_view s) {
  out.push_back(char(s.size() & 0xFF));
  out.push_back(char(s.size() >> 8));
  out.append(s);
}

}  // namespace

bool ReadGfxHeader(TStream& stream, TGfxHeader& header) {
  TPositionGuard guard(stream);
  try {
    char magic[4];
    if (stream.Read(magic, 4) != 4 || std::memcmp(magic, "KVGF", 4) != 0) return false;
    uint8_t count[2];
    if (stream.Read(count, 2) != 2) return false;
    int n = count[0] | count[1] << 8;
    for (int i = 0; i < n; ++i) {
      std::string name, value;
      if (!ReadString16(stream, name) || !ReadString16(stream, value)) return false;
      header.fields[name] = value;
    }
    auto get = [&](const char* key) -> const std::string* {
      auto it = header.fields.find(key);
      return it == header.fields.end() ? nullptr : &it->second;
    };
    const std::string *file = get("File"), *w = get("Width"), *h = get("Height"),
                      *size = get("OriginalSize");
    int64_t wv, hv, sv;
    if (!file || !w || !h || !size || !ParseDecimal(*w, wv) || !ParseDecimal(*h, hv) ||
        !ParseDecimal(*size, sv) || sv < 0)
      return false;
    if (!PictureSizeAllowed(wv, hv)) {
      Log().Line("Picture refused: declared size " + *w + " x " + *h + " exceeds the budget");
      return false;
    }
    header.file = *file;
    header.width = int(wv);
    header.height = int(hv);
    header.originalSize = sv;
    guard.Keep();
    return true;
  } catch (const ELumError&) {
    return false;
  }
}

TGfxBitmapStore::TGfxBitmapStore(TGfxHeader header, std::unique_ptr<TMemoryStream> packed)
    : TBitmapStore({header.width, header.height, TPixelFormat::Bgra32}),
      header_(std::move(header)),
      packed_(std::move(packed)) {}

int64_t TGfxBitmapStore::InflatedLimit() const {
  // A BMP of the declared size cannot be larger than this; the declared
  // original size only narrows it.
  const int64_t bound = 14 + 124 + 12 + 1024 + int64_t(header_.width) * header_.height * 4 +
                        int64_t(header_.height) * 4;
  return std::min(bound, header_.originalSize);
}

int64_t TGfxBitmapStore::DecodeBytes(int level) const {
  const int w = header_.width, h = header_.height;
  const int64_t result = level > 0 || !packed_ ? LevelBytes(w, h, TPixelFormat::Bgra32, level) : 0;
  // The inflated file and the picture read from it, at full size.
  const int64_t working = packed_ ? InflatedLimit() + BitmapBytes(w, h, TPixelFormat::Bgra32) : 0;
  return result + working;
}

TRef<TBitmap> TGfxBitmapStore::DecodeFull() {
  const int64_t working =
      InflatedLimit() + BitmapBytes(header_.width, header_.height, TPixelFormat::Bgra32);
  if (!TPictureBudget::Process().Fits(working)) {
    Log().Line("Picture \"" + header_.file + "\" refused: decoding it takes " +
               std::to_string(Megabytes(working)) + " MB, more than the picture budget has left");
    return nullptr;
  }
  try {
    TRef<TBitmap> decoded;
    {
      TPictureCharge charge(InflatedLimit());
      TMemoryStream bmp;
      packed_->SetPosition(0);
      InflateWithCallbacks(
          *packed_, bmp, [this] { ReportProgress(0.5); }, InflatedLimit());
      bmp.SetPosition(0);
      decoded = ReadBmp(bmp);
    }
    if (decoded && decoded->Width() == header_.width && decoded->Height() == header_.height)
      return decoded->Format() == TPixelFormat::Bgra32
                 ? decoded
                 : ConvertBitmap(*decoded, TPixelFormat::Bgra32);
  } catch (const ELumError& e) {
    Log().Line("Damaged picture \"" + header_.file + "\": " + e.what());
  }
  return nullptr;
}

TRef<TBitmap> TGfxBitmapStore::DecodeLevel(int level) {
  if (level < 0) return nullptr;
  TRef<TBitmap> full = packed_ ? DecodeFull() : nullptr;
  // Once level 0 is made no finer level can be asked for.
  if (level == 0) packed_.reset();
  TRef<TBitmap> result;
  if (full && level == 0) {
    result = full;
  } else if (full) {
    TMipReducer out(header_.width, header_.height, TPixelFormat::Bgra32, level);
    for (int y = 0; y < full->Height(); ++y) out.Add(full->Row(y));
    result = out.Finish();
  } else {
    result = MakeRef<TBitmap>(MipDimension(header_.width, level),
                              MipDimension(header_.height, level), TPixelFormat::Bgra32);
    result->Fill(kBlankGfxGrey, kBlankGfxGrey, kBlankGfxGrey, 255);
  }
  result->SetLevel(level);
  ReportProgress(1.0);
  return result;
}

TRef<TBitmapStore> LoadGfxPicture(TLoadRequest& request) {
  TStream& s = request.stream;
  TPositionGuard guard(s);
  TGfxHeader header;
  if (!ReadGfxHeader(s, header)) return nullptr;
  std::unique_ptr<TMemoryStream> packed;
  if (!request.headerOnly) {
    std::string rest;
    // The compressed copy of a picture within budget cannot be sensibly
    // larger than the picture itself.
    if (!ReadRestLimited(s, kMaxPictureFileBytes, rest)) return nullptr;
    packed = std::make_unique<TMemoryStream>(rest);
  }
  auto store = MakeRef<TGfxBitmapStore>(std::move(header), std::move(packed));
  store->SetProgress(request.progress);
  store->SetName(std::string(request.name));
  guard.Keep();
  return store;
}

std::string WriteGfx(std::string_view bmpFile, int width, int height, std::string_view fileName) {
  std::string out = "KVGF";
  out.push_back(4);
  out.push_back(0);
  PutString16(out, "File");
  PutString16(out, fileName);
  PutString16(out, "Width");
  PutString16(out, std::to_string(width));
  PutString16(out, "Height");
  PutString16(out, std::to_string(height));
  PutString16(out, "OriginalSize");
  PutString16(out, std::to_string(bmpFile.size()));
  out += DeflateRaw(bmpFile);
  return out;
}

}  // namespace lum
