#include "imaging/gif_loader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "foundation/log.h"
#include "imaging/loaders.h"
#include "imaging/picture_budget.h"

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
  TGifCloser(GifFileType* g) : gif(g) {}
  TGifCloser(TGifCloser&& o) noexcept : gif(o.gif) { o.gif = nullptr; }
  TGifCloser(const TGifCloser&) = delete;
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

// Reads an extension record; a graphics control block fills control. False
// for damaged data.
bool ReadExtension(GifFileType* gif, TFrameControl& control) {
  int code;
  GifByteType* ext;
  if (DGifGetExtension(gif, &code, &ext) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
    control.disposal = (ext[1] >> 2) & 7;
    control.delayMs = (ext[2] | ext[3] << 8) * 10;
    control.transparent = (ext[1] & 1) ? ext[4] : -1;
  }
  while (ext)
    if (DGifGetExtensionNext(gif, &ext) != GIF_OK) return false;
  return true;
}

// The next image record's descriptor, reading the extensions before it;
// false at the end of the file or at damaged records.
bool NextImage(GifFileType* gif, TFrameControl& control) {
  GifRecordType type;
  while (DGifGetRecordType(gif, &type) == GIF_OK && type != TERMINATE_RECORD_TYPE) {
    if (type == EXTENSION_RECORD_TYPE) {
      if (!ReadExtension(gif, control)) return false;
    } else if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) != GIF_OK) return false;
      const GifImageDesc& d = gif->Image;
      return d.Width > 0 && d.Height > 0 && d.Width <= 65535 && d.Height <= 65535;
    }
  }
  return false;
}

// What a first pass over the records finds, no pixels decoded.
struct TGifSurvey {
  int frames = 0;
  bool restores = false;  // some frame asks for the canvas before it back
};

TGifSurvey Survey(GifFileType* gif, int maxFrames) {
  TGifSurvey survey;
  TFrameControl control;
  while (survey.frames < maxFrames && NextImage(gif, control)) {
    ++survey.frames;
    survey.restores = survey.restores || control.disposal == 3;
    control = TFrameControl{};
    int codeSize;
    GifByteType* block;
    if (DGifGetCode(gif, &codeSize, &block) != GIF_OK) break;
    while (block)
      if (DGifGetCodeNext(gif, &block) != GIF_OK) return survey;
  }
  return survey;
}

// The screen-sized area of frame column f of the atlas.
struct TAtlas {
  TBitmap& bitmap;
  int w, h;
  uint8_t* At(int f, int x, int y) const { return bitmap.Row(y) + (size_t(f) * w + x) * 4; }
  void CopyColumn(int from, int to) const {
    for (int y = 0; y < h; ++y) std::memcpy(At(to, 0, y), At(from, 0, y), size_t(w) * 4);
  }
};

// Row of the image for the i-th line of data: interlaced rows come in four
// passes (every 8th from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
int ImageRow(const GifImageDesc& d, int i) {
  if (!d.Interlace) return i;
  const int n1 = (d.Height + 7) / 8, n2 = (d.Height + 3) / 8, n3 = (d.Height + 1) / 4;
  if (i < n1) return i * 8;
  if (i < n1 + n2) return (i - n1) * 8 + 4;
  if (i < n1 + n2 + n3) return (i - n1 - n2) * 4 + 2;
  return (i - n1 - n2 - n3) * 2 + 1;
}

// Draws the current image's lines into column f; false when its data is damaged.
bool DrawImage(GifFileType* gif, const TAtlas& atlas, int f, const TFrameControl& control,
               std::vector<GifPixelType>& line) {
  const GifImageDesc& d = gif->Image;
  const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
  line.resize(size_t(d.Width));
  for (int i = 0; i < d.Height; ++i) {
    if (DGifGetLine(gif, line.data(), d.Width) != GIF_OK) return false;
    const int y = d.Top + ImageRow(d, i);
    if (y < 0 || y >= atlas.h) continue;  // outside the logical screen
    for (int x = 0; x < d.Width; ++x) {
      const int cx = d.Left + x;
      const int idx = line[size_t(x)];
      if (cx < 0 || cx >= atlas.w || idx == control.transparent) continue;
      uint8_t* p = atlas.At(f, cx, y);
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
  return true;
}

// Composes up to `frames` frames, each in its own column of the atlas,
// which starts as a copy of the column before with that frame's disposal
// applied. Returns the frames decoded; their delays go to delays.
int DecodeFrames(GifFileType* gif, const TAtlas& atlas, int frames, std::vector<int>& delays) {
  TRef<TBitmap> saved;  // the canvas a frame with disposal 3 gives back
  std::vector<GifPixelType> line;
  TFrameControl control, previous;
  GifImageDesc prev{};
  int count = 0;
  for (int y = 0; y < atlas.h; ++y) std::memset(atlas.At(0, 0, y), 0, size_t(atlas.w) * 4);
  while (count < frames && NextImage(gif, control)) {
    const int f = count;
    if (f > 0) {
      atlas.CopyColumn(f - 1, f);
      if (previous.disposal == 2) {
        for (int y = std::max(prev.Top, 0); y < std::min(prev.Top + prev.Height, atlas.h); ++y)
          for (int x = std::max(prev.Left, 0); x < std::min(prev.Left + prev.Width, atlas.w); ++x)
            std::memset(atlas.At(f, x, y), 0, 4);
      } else if (previous.disposal == 3 && saved) {
        for (int y = 0; y < atlas.h; ++y)
          std::memcpy(atlas.At(f, 0, y), saved->Row(y), size_t(atlas.w) * 4);
      }
    }
    if (control.disposal == 3) {
      if (!saved) saved = MakeRef<TBitmap>(atlas.w, atlas.h, TPixelFormat::Bgra32);
      for (int y = 0; y < atlas.h; ++y)
        std::memcpy(saved->Row(y), atlas.At(f, 0, y), size_t(atlas.w) * 4);
    }
    const bool intact = DrawImage(gif, atlas, f, control, line);
    delays.push_back(control.delayMs);
    ++count;
    previous = control;
    prev = gif->Image;
    control = TFrameControl{};
    if (!intact) break;  // what was decoded of this frame stays; the rest is lost
  }
  return count;
}

// How many frames the atlas may hold: within the pixel budget of one
// picture, 1024 pixels a byte of file (at least 4 megapixels), and the
// picture memory left; the canvas kept for disposal 3 counts too.
int64_t FramesAllowed(int w, int h, int64_t fileSize, bool restores) {
  const int64_t pixels = int64_t(w) * h;
  int64_t n = PictureBudget() / pixels;
  if (fileSize >= 0) n = std::min(n, std::max<int64_t>(int64_t(1) << 22, fileSize * 1024) / pixels);
  const TPictureBudget& budget = TPictureBudget::Process();
  const int64_t left = budget.Limit() - budget.Used() - (restores ? pixels * 4 : 0);
  return std::min(n, std::max<int64_t>(left, 0) / (pixels * 4));
}

// Opens the GIF at the stream's position and checks its logical screen;
// nothing (logged) for a screen outside the budget or far larger than the
// file could fill (1024 pixels a byte, at least 4 megapixels): the atlas is
// allocated before any frame data is decoded.
TGifCloser OpenGif(TStream& stream) {
  int err = 0;
  TGifCloser gif{DGifOpen(&stream, ReadFromStream, &err)};
  if (!gif.gif) return gif;
  const int w = gif.gif->SWidth, h = gif.gif->SHeight;
  const int64_t fileSize = stream.Size();
  if (!PictureSizeAllowed(w, h)) {
    Log().Line("GIF refused: logical screen " + std::to_string(w) + " x " + std::to_string(h));
  } else if (fileSize >= 0 &&
             int64_t(w) * h > std::max<int64_t>(int64_t(1) << 22, fileSize * 1024)) {
    Log().Line("GIF refused: logical screen too large for the file");
  } else {
    return gif;
  }
  DGifCloseFile(gif.gif, &err);
  gif.gif = nullptr;
  return gif;
}

TRef<TBitmapStore> LoadGif(TLoadRequest& request, bool atlas) {
  TPositionGuard guard(request.stream);
  char sig[6];
  try {
    if (request.stream.Read(sig, 6) != 6 || std::memcmp(sig, "GIF", 3) != 0) return nullptr;
    request.stream.SetPosition(guard.Start());
    int w, h, frames, found;
    {
      // First pass: count the frames, so that the atlas is allocated once.
      TGifCloser gif = OpenGif(request.stream);
      if (!gif.gif) return nullptr;
      w = gif.gif->SWidth;
      h = gif.gif->SHeight;
      const TGifSurvey survey = Survey(gif.gif, atlas ? 1 << 20 : 1);
      found = survey.frames;
      const int64_t allowed = FramesAllowed(w, h, request.stream.Size(), survey.restores);
      frames = int(std::min<int64_t>(found, allowed));
    }
    if (frames < found)
      Log().Line("GIF \"" + std::string(request.name) + "\": " + std::to_string(frames) + " of " +
                 std::to_string(found) + " frames kept, as many as its size and the budget allow");
    if (frames <= 0) return nullptr;
    // Second pass: the frames straight into their columns of the atlas.
    request.stream.SetPosition(guard.Start());
    TGifCloser gif = OpenGif(request.stream);
    if (!gif.gif) return nullptr;
    auto bmp = MakeRef<TBitmap>(w * frames, h, TPixelFormat::Bgra32);
    const TAtlas canvas{*bmp, w, h};
    std::vector<int> delays;
    const int decoded = DecodeFrames(gif.gif, canvas, frames, delays);
    if (decoded <= 0) return nullptr;
    // Frames the first pass found but the second could not decode repeat the last.
    for (int f = decoded; f < frames; ++f) {
      canvas.CopyColumn(f - 1, f);
      delays.push_back(delays.back());
    }
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
