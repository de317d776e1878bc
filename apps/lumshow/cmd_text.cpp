#include <cstdio>

#include "commands.h"
#include "foundation/errors.h"
#include "imaging/bitmap.h"
#include "imaging/image_lib_store.h"
#include "show_open.h"
#include "text/live_vectorizer.h"
#include "text/text_params.h"
#include "text/text_picture.h"

namespace lum::lumshow {

namespace {

// A "VectTxt2: " key names font, style and lines: as a description at scale 1.
std::string DescriptionOfKey(std::string_view key) {
  if (key.starts_with(kVectTextPrefix)) key.remove_prefix(kVectTextPrefix.size());
  const size_t font = key.find(':');
  const size_t style = font == std::string_view::npos ? font : key.find(':', font + 1);
  if (style == std::string_view::npos)
    throw TUsageError{"--member wants a key \"VectTxt2: FONT:STYLE:\\\"LINES\\\"\""};
  const TTextParams d = DefaultTextParams();
  return std::string(kTextPrefix) + std::string(key.substr(0, font)) +
         ":1:0:0:" + std::string(key.substr(font + 1, style - font - 1)) + ":" +
         std::to_string(d.align) + ":1:0:" + std::string(key.substr(style + 1));
}

}  // namespace

int Text(const TTextArgs& args) {
  std::string description = args.description;
  if (!args.member.empty()) {
    if (args.show.empty()) throw TUsageError{"--member needs --show"};
    description = DescriptionOfKey(args.member);
  }
  if (description.empty()) throw TUsageError{"give a text description, or --show and --member"};
  if (!description.starts_with(kTextPrefix)) description.insert(0, kTextPrefix);
  std::unique_ptr<TLumShowLocator> show;
  if (!args.show.empty()) show = OpenShowToPlay(args.show, args.password);
  // Stored outlines of the show first; installed fonts for what it lacks.
  TRef<TTextPictureStore> text =
      MakeTextPicture(description, show ? show->Accessor().Get() : nullptr, MakeLiveVectorizer());
  if (!text) throw ELumError("the text could not be made (see the log with --verbose)");
  TRef<TBitmap> level = text->GetMipLevel(0, TPixelFormat::Bgra32);
  if (!level) throw ELumError("the text could not be rasterised");
  if (!WritePng(*level, args.output)) throw ELumError("cannot write \"" + args.output + "\"");
  const TTextRect& b = text->GlyphBounds();
  std::printf("picture %dx%d  glyphs %.2f,%.2f - %.2f,%.2f  font size %.2f  line height %.2f\n",
              level->Width(), level->Height(), b.left, b.top, b.right, b.bottom, text->FontSize(),
              text->LineHeight());
  return 0;
}

}  // namespace lum::lumshow
