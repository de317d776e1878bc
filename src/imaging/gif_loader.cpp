#include "imaging/gif_loader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "foundation/log.h"
#include "imaging/loaders.h"

namespace lum {

namespace {

int ReadFromStream(GifFileType* gif, GifByteType* out, int n) {
  auto* s = static_cast<TStream*>(gif->UserData);
  try {
    return n > 0 ? int(s->Read(out, size_t(n))) : 0;
  } catch (const ELumError&) {
    return 0;
  }
}

struct TGifCloser {
  GifFileType* gif;
  ~TGifCloser() {
    int err;
    if (gif) DGifCloseFile(gif, &err);
  }
};

struct TFrameControl {
  int disposal = 0;
  int delayMs = 0;
  int transparent = -1;
};

// Decodes up to maxFrames composed frames (W x H BGRA each, one after the other).
bool DecodeGif(TStream& stream, int maxFrames, std::vector<uint8_t>& frames, int& w, int& h,
               std::vector<int>& delays) {
  int err = 0;
  GifFileType* gif = DGifOpen(&stream, ReadFromStream, &err);
  if (!gif) return false;
  TGifCloser closer{gif};
  w = gif->SWidth;
  h = gif->SHeight;
  if (!PictureSizeAllowed(w, h)) {
    Log().Line("GIF refused: logical screen " + std::to_string(w) + " x " + std::to_string(h));
    return false;
  }
  // The logical screen is allocated before any frame data is read: a screen
  // far larger than the file could fill is refused (1024 pixels a byte, at
  // least 4 megapixels).
  int64_t fileSize = stream.Size();
  if (fileSize >= 0 && int64_t(w) * h > std::max<int64_t>(int64_t(1) << 22, fileSize * 1024)) {
    Log().Line("GIF refused: logical screen too large for the file");
    return false;
  }
  const size_t frameBytes = size_t(w) * size_t(h) * 4;
  std::vector<uint8_t> canvas(frameBytes, 0), saved;
  std::vector<uint8_t> line;
  TFrameControl control, previous;
  int prevLeft = 0, prevTop = 0, prevW = 0, prevH = 0;
  bool havePrevious = false;
  int count = 0;
  GifRecordType type;
  while (count < maxFrames && DGifGetRecordType(gif, &type) == GIF_OK) {
    if (type == TERMINATE_RECORD_TYPE) break;
    if (type == EXTENSION_RECORD_TYPE) {
      int code;
      GifByteType* ext;
      if (DGifGetExtension(gif, &code, &ext) != GIF_OK) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        control.disposal = (ext[1] >> 2) & 7;
        control.delayMs = (ext[2] | ext[3] << 8) * 10;
        control.transparent = (ext[1] & 1) ? ext[4] : -1;
      }
      bool ok = true;
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) != GIF_OK) {
          ok = false;
          break;
        }
      }
      if (!ok) break;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) != GIF_OK) break;
    const GifImageDesc& d = gif->Image;
    if (d.Width <= 0 || d.Height <= 0 || d.Width > 65535 || d.Height > 65535) break;
    // The frame before: dispose of it as it asked.
    if (havePrevious) {
      if (previous.disposal == 2) {
        for (int y = std::max(prevTop, 0); y < std::min(prevTop + prevH, h); ++y)
          for (int x = std::max(prevLeft, 0); x < std::min(prevLeft + prevW, w); ++x)
            std::memset(&canvas[(size_t(y) * w + x) * 4], 0, 4);
      } else if (previous.disposal == 3 && !saved.empty()) {
        canvas = saved;
      }
    }
    if (control.disposal == 3) saved = canvas;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    line.resize(size_t(d.Width));
    bool damaged = false;
    for (int i = 0; i < d.Height; ++i) {
      int row = i;
      if (d.Interlace) {
        // Rows come in four passes: every 8th from 0, every 8th from 4, every 4th from 2, every 2nd
        // from 1.
        int n1 = (d.Height + 7) / 8, n2 = (d.Height + 3) / 8, n3 = (d.Height + 1) / 4;
        if (i < n1)
          row = i * 8;
        else if (i < n1 + n2)
          row = (i - n1) * 8 + 4;
        else if (i < n1 + n2 + n3)
          row = (i - n1 - n2) * 4 + 2;
        else
          row = (i - n1 - n2 - n3) * 2 + 1;
      }
      if (DGifGetLine(gif, line.data(), d.Width) != GIF_OK) {
        damaged = true;
        break;
      }
      int y = d.Top + row;
      if (y < 0 || y >= h) continue;  // outside the logical screen
      for (int x = 0; x < d.Width; ++x) {
        int cx = d.Left + x;
        if (cx < 0 || cx >= w) continue;
        int idx = line[size_t(x)];
        if (idx == control.transparent) continue;
        uint8_t* p = &canvas[(size_t(y) * w + cx) * 4];
        if (map && idx < map->ColorCount) {
          const GifColorType& c = map->Colors[idx];
          p[0] = c.Blue;
          p[1] = c.Green;
          p[2] = c.Red;
        } else {
          p[0] = p[1] = p[2] = 0;
        }
        p[3] = 255;
      }
    }
    frames.insert(frames.end(), canvas.begin(), canvas.end());
    delays.push_back(control.delayMs);
    ++count;
    previous = control;
    prevLeft = d.Left;
    prevTop = d.Top;
    prevW = d.Width;
    prevH = d.Height;
    havePrevious = true;
    control = TFrameControl{};
    if (damaged) break;  // what was decoded of this frame stays; the rest is lost
    // Each further frame widens the atlas: stop before it would leave the budget.
    if (!PictureSizeAllowed(int64_t(w) * (count + 1), h)) break;
  }
  return count > 0;
}

TRef<TBitmapStore> LoadGif(TLoadRequest& request, bool atlas) {
  TPositionGuard guard(request.stream);
  char sig[6];
  try {
    if (request.stream.Read(sig, 6) != 6 || std::memcmp(sig, "GIF", 3) != 0) return nullptr;
    request.stream.SetPosition(guard.Start());
    std::vector<uint8_t> frames;
    std::vector<int> delays;
    int w = 0, h = 0;
    if (!DecodeGif(request.stream, atlas ? 1 << 20 : 1, frames, w, h, delays)) return nullptr;
    int n = int(delays.size());
    auto bmp = MakeRef<TBitmap>(w * n, h, TPixelFormat::Bgra32);
    for (int f = 0; f < n; ++f)
      for (int y = 0; y < h; ++y)
        std::memcpy(bmp->Row(y) + size_t(f) * w * 4, &frames[(size_t(f) * h + y) * w * 4],
                    size_t(w) * 4);
    guard.Keep();
    return MakeRef<TGifBitmapStore>(bmp, w, std::move(delays));
  } catch (const ELumError&) {
    return nullptr;
  }
}

}  // namespace

TRef<TBitmapStore> LoadGifPicture(TLoadRequest& request) {
  return LoadGif(request, false);
}
TRef<TBitmapStore> LoadGifFirstFrame(TLoadRequest& request) {
  return LoadGif(request, false);
}
TRef<TBitmapStore> LoadGifFramesAtlas(TLoadRequest& request) {
  return LoadGif(request, true);
}

}  // namespace lum
