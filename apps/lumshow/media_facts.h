#pragma once
// What `lumshow new` learns about one file without decoding it: the picture
// format and size from its header, the date it was taken, and the name it
// gets in the show. Pure functions of their inputs (tests, fuzzing).
#include <cstdint>
#include <string>
#include <string_view>

namespace lum::lumshow {

// What the header of a picture file says. format is the extension the
// player's loaders take it by (".jpg", ".png", ".gif", ".bmp", ".kvgfx"),
// empty when the bytes are no picture they read; problem says why a picture
// is not usable (kCutShort, kDamagedHeader or another reason).
inline constexpr std::string_view kCutShort = "cut short";
inline constexpr std::string_view kDamagedHeader = "damaged header";
struct TPictureFacts {
  std::string format;
  std::string problem;
  int width = 0, height = 0;
  int orientation = 1;
  std::string date;  // EXIF date the picture was taken, as stored
  // JPEG: where the image data starts (-1: beyond the head); its end marker
  // may lie anywhere after it.
  int64_t imageDataAt = -1;
};

// head: the file's first bytes (up to kPictureHeadBytes), tail: its last
// bytes (up to kPictureTailBytes), fileSize: its length.
inline constexpr size_t kPictureHeadBytes = 1 << 20;
inline constexpr size_t kPictureTailBytes = 4096;
TPictureFacts ReadPictureFacts(std::string_view head, std::string_view tail, int64_t fileSize);

// "YYYY:MM:DD HH:MM:SS" (EXIF) as seconds since 1970, taken as UTC; -1 when
// it is no such date.
int64_t ExifDateSeconds(std::string_view date);

// Orders names as people count: digit runs by their value ("2" before
// "10"), everything else byte by byte. Negative, zero or positive.
int NaturalCompare(std::string_view a, std::string_view b);

// A member name for a file name within the container's and the document's
// rules: no control characters, "|", "%", ":" or '"'; no blanks at either
// end; "\" kept only between ordinary parts; the extension one the loaders
// dispatch on for format (appended when the name lacks it; format may be
// empty for videos and music).
std::string MemberNameFor(std::string_view fileName, std::string_view format);

// The extension of a name's last part, with its dot ("" when none; a
// leading dot is no extension).
std::string_view ExtensionOf(std::string_view name);

}  // namespace lum::lumshow
