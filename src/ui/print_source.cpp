#include "ui/print_source.h"

#include "foundation/case_fold.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "imaging/bmp_writer.h"
#include "imaging/image.h"

namespace lum {

namespace {

// A main picture larger than this is not copied into memory to be saved.
constexpr int64_t kMaxSavedPicture = int64_t(1) << 30;

TRef<TBitmap> Decoded(std::unique_ptr<TStream> stream, std::string_view name) {
  try {
    TRef<TImage> image = LoadImage(std::move(stream), name);
    return image ? image->GetMipLevel(0, TPixelFormat::Bgra32) : nullptr;
  } catch (const std::exception& e) {
    Log().Line(std::string("Print: picture not decoded (") + e.what() + ")");
    return nullptr;
  }
}

std::optional<TSaveContent> MainPictureContent(std::unique_ptr<TStream> file,
                                               const std::string& stored, std::string& error) {
  const std::string name(ExtractFileName(stored));
  if (IsJpegName(name)) {
    std::string ext(ExtractFileExt(name).substr(1));
    return TSaveContent{name, ext, "*." + ext,
                        ReadRest(*file, kMaxSavedPicture, "The picture is too large to save")};
  }
  const TRef<TBitmap> picture = Decoded(std::move(file), stored);
  if (!HasPicture(picture)) {
    error = "The picture \"" + name + "\" could not be read.";
    return std::nullopt;
  }
  return TSaveContent{ChangeFileExt(name, ".bmp"), "bmp", "*.bmp", EncodeBmp(*picture)};
}

}  // namespace

TSlidePictureSource::TSlidePictureSource(TRef<TFileAccessor> accessor, const TIniFile& document,
                                         int slideIndex, TRef<TBitmap> frame)
    : accessor_(std::move(accessor)),
      picture_(document.ReadString("Slide" + std::to_string(slideIndex + 1), "Picture", "")),
      frame_(std::move(frame)) {}

TRef<TBitmap> TSlidePictureSource::MainPicture() {
  std::string name;
  std::unique_ptr<TStream> file = MainPictureFile(name);
  return file ? Decoded(std::move(file), name) : nullptr;
}

std::unique_ptr<TStream> TSlidePictureSource::MainPictureFile(std::string& name) {
  name.clear();
  if (picture_.empty() || !accessor_) return nullptr;
  try {
    std::unique_ptr<TStream> file = accessor_->OpenMember(picture_);
    if (file) name = picture_;
    return file;
  } catch (const std::exception& e) {
    Log().Line("Print: \"" + picture_ + "\" not opened (" + e.what() + ")");
    return nullptr;
  }
}

bool HasPicture(const TRef<TBitmap>& bitmap) {
  return bitmap && bitmap->Width() > 0 && bitmap->Height() > 0;
}

bool IsJpegName(std::string_view name) {
  const std::string_view ext = ExtractFileExt(name);
  for (const char* j : {".jpg", ".jpeg", ".jpe", ".jfif"})
    if (FoldedEquals(ext, j)) return true;
  return false;
}

std::optional<TSaveContent> SaveContent(TPrintPictureSource& source, bool mainOnly, int slideIndex,
                                        std::string& error) {
  if (mainOnly) {
    std::string name;
    std::unique_ptr<TStream> file = source.MainPictureFile(name);
    if (file && !name.empty()) {
      try {
        return MainPictureContent(std::move(file), name, error);
      } catch (const std::exception& e) {
        error = "The picture \"" + name + "\" could not be read: " + e.what();
        return std::nullopt;
      }
    }
  }
  const TRef<TBitmap> frame = source.CapturedFrame();
  if (!HasPicture(frame)) {
    error = "There is no picture of the slide to save.";
    return std::nullopt;
  }
  return TSaveContent{"Slide" + std::to_string(slideIndex + 1) + ".bmp", "bmp", "*.bmp",
                      EncodeBmp(*frame)};
}

}  // namespace lum
