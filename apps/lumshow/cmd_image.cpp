// lumshow image: a picture as the loaders decode it, written as PNG.
#include <cstdio>
#include <string>

#include "commands.h"
#include "container/file_accessor.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "imaging/color_management.h"
#include "imaging/color_transform.h"
#include "imaging/image.h"
#include "imaging/image_lib_store.h"
#include "show_open.h"

namespace lum::lumshow {

namespace {

// The file of a loader request name: "x.gif|framesatlas" is "x.gif" decoded
// by the loader registered for the whole name, as the player asks for it.
std::string RequestedFile(const std::string& name) {
  return name.substr(0, name.find('|'));
}

}  // namespace

int Image(const TImageArgs& args) {
  if (args.level < 0) throw TUsageError{"--level must be 0 or more"};
  TRef<TBitmapStore> store;
  if (!args.member.empty()) {
    std::unique_ptr<TLumShowLocator> show = OpenShow(args.file);
    int rotation = 1;
    std::unique_ptr<TStream> s =
        show->Accessor()->OpenMember(RequestedFile(args.member), &rotation);
    if (!s) throw ELumError("no member \"" + args.member + "\" in the show");
    store = LoadBitmapStore(*s, args.member, &s);
    if (!store) throw ELumError("\"" + args.member + "\" is not a picture the loaders can decode");
    if (rotation == 3 || rotation == 6 || rotation == 8)
      store = MakeRef<TRotatedBitmapStore>(store, rotation);
  } else {
    // A file whose own name holds "|" is taken as it is.
    std::unique_ptr<TStream> s = TFileStream::TryOpenRead(args.file);
    if (!s) s = TFileStream::TryOpenRead(RequestedFile(args.file));
    if (!s) throw ELumError("cannot open \"" + args.file + "\"");
    store = LoadBitmapStore(*s, args.file, &s);
    if (!store) throw ELumError("\"" + args.file + "\" is not a picture the loaders can decode");
  }
  const TImageParams& p = store->Params();
  int deepest = 0;
  while (MipDimension(p.width, deepest) > 1 || MipDimension(p.height, deepest) > 1) ++deepest;
  if (args.level > deepest)
    throw TUsageError{"--level " + std::to_string(args.level) + " is below the last level (" +
                      std::to_string(deepest) + ") of this picture"};
  TRef<TBitmap> level = store->GetMipLevel(args.level);
  if (!args.icc.empty() && args.icc != "none" && store->IccProfile().empty())
    std::fprintf(stderr, "lumshow: the picture has no colour profile; left as decoded\n");
  if (!args.icc.empty() && args.icc != "none" && !store->IccProfile().empty()) {
    TRef<TColorProfile> output = ResolveDisplayProfile(args.icc);
    if (!output) throw ELumError("cannot read the colour profile \"" + args.icc + "\"");
    // Converted on a copy: the store's cached level stays as decoded.
    TPixelFormat f =
        level->Format() == TPixelFormat::Bgra32 ? TPixelFormat::Bgra32 : TPixelFormat::Bgr24;
    level = ConvertBitmap(*level, f);
    auto t = MakeRef<TEngineColorTransform>(
        MakeRef<TColorProfile>(store->IccProfile(), store->IccName()), output);
    if (!t->TransformRect(*level, {0, 0, level->Width(), level->Height()}, *level, 0, 0))
      std::fprintf(stderr, "lumshow: colour engine not available; picture left unconverted\n");
  }
  if (!WritePng(*level, args.output)) throw ELumError("cannot write \"" + args.output + "\"");
  std::printf("%d x %d %s\n", level->Width(), level->Height(),
              PixelFormatName(store->Params().format));
  return 0;
}

}  // namespace lum::lumshow
