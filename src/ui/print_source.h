#pragma once
// What the print dialog prints and saves: the slide's main picture (decoded,
// or its file's bytes and name) and the frame captured when printing was
// asked for; and what Save writes from them.
#include <memory>
#include <optional>
#include <string>

#include "container/file_accessor.h"
#include "document/ini_file.h"
#include "foundation/stream.h"
#include "imaging/bitmap.h"

namespace lum {

class TPrintPictureSource {
 public:
  virtual ~TPrintPictureSource() = default;
  // The slide's main picture decoded; null when it has none or it cannot be read.
  virtual TRef<TBitmap> MainPicture() = 0;
  // The captured frame; null when none came.
  virtual TRef<TBitmap> CapturedFrame() = 0;
  // The main picture's file as a stream, with its name as the show stores
  // it; null with an empty name when the slide has none.
  virtual std::unique_ptr<TStream> MainPictureFile(std::string& name) = 0;
};

// The slide's main picture as the project document names it ([Slide<N>]
// "Picture" for the 0-based index), opened through the show's accessor.
class TSlidePictureSource : public TPrintPictureSource {
 public:
  TSlidePictureSource(TRef<TFileAccessor> accessor, const TIniFile& document, int slideIndex,
                      TRef<TBitmap> frame);
  TRef<TBitmap> MainPicture() override;
  TRef<TBitmap> CapturedFrame() override { return frame_; }
  std::unique_ptr<TStream> MainPictureFile(std::string& name) override;

 private:
  TRef<TFileAccessor> accessor_;
  std::string picture_;
  TRef<TBitmap> frame_;
};

// A file Save offers: the proposed name, the default extension (no dot),
// the filter shown ("*.jpg") and the bytes to write.
struct TSaveContent {
  std::string name, defaultExt, filter, bytes;
};

// What Save writes: with mainOnly and a main picture, its bytes unchanged
// for a JPEG name, else the picture decoded and written as BMP under its
// name with ".bmp"; otherwise the captured frame as "Slide<index + 1>.bmp".
// Nothing, with the reason in error, when the picture cannot be decoded or
// there is nothing to save.
std::optional<TSaveContent> SaveContent(TPrintPictureSource& source, bool mainOnly, int slideIndex,
                                        std::string& error);

// A bitmap with positive width and height.
bool HasPicture(const TRef<TBitmap>& bitmap);

// ".jpg", ".jpeg", ".jpe", ".jfif" in any letter case.
bool IsJpegName(std::string_view name);

}  // namespace lum
