#pragma once
// Pictures of a show by name: decoded once per file source and name
// (case-insensitive) and shared; a placeholder picture stands in for a
// picture that is missing or cannot be decoded.
#include <functional>
#include <string>
#include <string_view>

#include "imaging/image.h"

namespace lum {

class TFileAccessor;
class TFileSource;

// Asked before a picture is decoded from the source; may make images for
// special names (nothing: not theirs).
using TImageCallback = std::function<TRef<TImage>(std::string_view name)>;
void AddImageCallback(const TFileSource& source, TImageCallback callback);
void RemoveImageCallbacks(const TFileSource& source);

// The picture of a name through the accessor (its source's cache entry),
// rotated as the source's RotationState says. Never nothing: a missing or
// broken picture gives the placeholder, with the video texts when video is set.
TRef<TImage> OpenImage(const TFileAccessor& accessor, std::string_view name, bool video = false);

// Handles alive in the cache (tests).
size_t PictureCacheSize();

// Placeholder texts.
inline constexpr const char* kImageNotFound = "Image not found";
inline constexpr const char* kVideoNotFound = "Video not found";
inline constexpr const char* kImageLoadError = "Image load error:";
inline constexpr const char* kVideoLoadError = "Video load error:";
// Light grey text, two lines (status, file part of the name, each with a
// blank before and after), on dark grey; 32-bit BGRA.
TRef<TBitmap> MakePlaceholderBitmap(std::string_view status, std::string_view name);

}  // namespace lum
