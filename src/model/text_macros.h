#pragma once
// Text macros such as "<%SlideIndex%>": expansion of a text's lines and the
// values that come from the slide and its main picture.
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/stream.h"

namespace lum {

// Answers one macro, named with its brackets ("<%SlideIndex%>"); asked once
// per occurrence.
using TMacroResolver = std::function<std::string(std::string_view macro)>;

// Not a macro of the text: the name under which expansion asks the resolver
// for the main picture's EXIF date-time, from which Exif.Date and Exif.Time
// are cut.
inline constexpr std::string_view kExifDateTimeQuery = "<%MainImg.Exif.DateTime%>";

// The macros replaced by their resolved values, in replacement order.
const std::vector<std::string_view>& ResolvedMacros();
// The macros derived from "<%MainImg.PathNameExt%>" or the EXIF date-time, in order.
const std::vector<std::string_view>& DerivedMacros();

// Replaces every occurrence of macro (ASCII letters in any case) in line with
// a value asked from value() each time. Replaced text is not searched again,
// so a value holding the macro itself stays as it is.
std::string ReplaceMacro(std::string_view line, std::string_view macro,
                         const std::function<std::string()>& value);

// Expands one line: the resolved macros, then the derived ones; a line that
// ends up empty becomes a single blank.
std::string ExpandTextMacros(std::string_view line, const TMacroResolver& resolve);
std::vector<std::string> ExpandTextMacros(const std::vector<std::string>& lines,
                                          const TMacroResolver& resolve);

// Parts of a picture name written with "\" separators.
std::string PathFileName(std::string_view p);     // after the last "\", no extension
std::string PathWithoutExt(std::string_view p);   // the whole name without extension
std::string PathFileNameExt(std::string_view p);  // after the last "\" (a trailing "\" ignored)
std::string PathFolderPath(std::string_view p);   // up to and including the last "\"
std::string PathFolderName(std::string_view p);   // between the last two "\"
// "YYYY:MM:DD HH:MM:SS" split at its first blank.
std::string DatePart(std::string_view dateTime);
std::string TimePart(std::string_view dateTime);

// What the macros tell of a slide's main picture.
struct TMainImageFacts {
  bool present = false;       // the slide has a main picture
  std::string path;           // its "ImageName" as written in the document
  int width = 0, height = 0;  // 0 while the picture is not loaded
  std::string exifComment, exifDescription, exifDateTime;
  std::map<int, std::string> iptc;  // IPTC record 2 dataset -> first value
};

// Fills the EXIF and IPTC fields from the picture's file; unreadable data
// leaves them empty.
void ReadMainImageMetadata(TStream& stream, TMainImageFacts& facts);

// The value of a macro (or of kExifDateTimeQuery) for a slide: slideIndex
// counts from 0. Unknown names and every "MainImg" macro without a main
// picture give "".
std::string ResolveTextMacro(std::string_view macro, int slideIndex, int slidesCount,
                             const TMainImageFacts& main);

}  // namespace lum
