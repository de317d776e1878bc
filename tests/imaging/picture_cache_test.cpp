// Pictures of a show through the accessor: shared per source and name,
// decoded once, rotated, with callbacks first and a placeholder for missing
// and broken pictures.
#include <gtest/gtest.h>

#include <thread>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "foundation/memory_stream.h"
#include "imaging/image_fixtures.h"
#include "imaging/picture_cache.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::FromBitmap;
using test::MaxDifference;
using test::TTempDir;

struct TShow {
  TTempDir dir;
  TRef<TMappedFileSource> source;
  TRef<TFileAccessor> accessor;
  test::TPixels picture = test::MakeTestPicture(6, 4);
  TShow() {
    dir.Write("Pics/a.bmp", test::WriteBmp(picture, {}));
    dir.Write("Pics/broken.bmp", "BM not really");
    source = MakeRef<TMappedFileSource>(dir.Path() + "/");
    accessor = MakeRef<TFileAccessor>(source, dir.Path() + "/");
  }
};

TEST(PictureCache, SharedPerSourceAndCaseFoldedName) {
  TShow show;
  TRef<TImage> a = OpenImage(*show.accessor, "Pics/a.bmp");
  TRef<TImage> b = OpenImage(*show.accessor, "PICS/A.BMP");
  EXPECT_NE(a.Get(), b.Get());  // each user its own image
  EXPECT_EQ(&a->Store(), &b->Store());
  EXPECT_EQ(MaxDifference(FromBitmap(*a->GetMipLevel(0)), show.picture), 0);
  // Another source: decoded separately.
  TShow other;
  TRef<TImage> c = OpenImage(*other.accessor, "Pics/a.bmp");
  EXPECT_NE(&c->Store(), &a->Store());
  // The entry goes with its last user.
  size_t before = PictureCacheSize();
  a = nullptr;
  EXPECT_EQ(PictureCacheSize(), before);
  b = nullptr;
  EXPECT_EQ(PictureCacheSize(), before - 1);
}

TEST(PictureCache, ThreadsAskingTogetherDecodeOnce) {
  TShow show;
  int calls = 0;
  AddImageCallback(*show.source, [&](std::string_view name) -> TRef<TImage> {
    if (name != "special") return nullptr;
    ++calls;  // under the handle's lock: never concurrent for one name
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return MakeRef<TImage>(MakeRef<TSysBitmapStore>(MakeRef<TBitmap>(3, 3, TPixelFormat::Bgr24)));
  });
  std::vector<TRef<TImage>> got(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] { got[size_t(i)] = OpenImage(*show.accessor, "special"); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(calls, 1);
  for (const auto& img : got) EXPECT_EQ(&img->Store(), &got[0]->Store());
  EXPECT_EQ(got[0]->Width(), 3);
  // Callbacks come before the source: a file of that name is not read.
  show.dir.Write("special", test::WriteBmp(show.picture, {}));
  got.clear();
  EXPECT_EQ(OpenImage(*show.accessor, "special")->Width(), 3);
  RemoveImageCallbacks(*show.source);
}

TEST(PictureCache, RotationStateTurnsThePicture) {
  TShow show;
  show.source->AddRotation("pics/a.bmp", 6);
  TRef<TImage> img = OpenImage(*show.accessor, "Pics/a.bmp");
  EXPECT_EQ(img->Width(), 4);
  EXPECT_EQ(img->Height(), 6);
  test::TPixels r = FromBitmap(*img->GetMipLevel(0));
  EXPECT_EQ(r.At(3, 0), show.picture.At(0, 0));  // top-left went to the top-right
}

TEST(PictureCache, PlaceholdersForMissingAndBrokenPictures) {
  TShow show;
  TRef<TImage> missing = OpenImage(*show.accessor, "C:\\Pics\\gone.jpg");
  ASSERT_TRUE(missing);
  TRef<TBitmap> m = missing->GetMipLevel(0);
  EXPECT_EQ(
      MaxDifference(FromBitmap(*m), FromBitmap(*MakePlaceholderBitmap(kImageNotFound, "gone.jpg"))),
      0);
  const uint8_t* corner = m->Row(0);
  EXPECT_EQ(corner[0], 100);
  EXPECT_EQ(corner[2], 100);
  bool text = false;
  for (int y = 0; y < m->Height() && !text; ++y)
    for (int x = 0; x < m->Width(); ++x)
      if (m->Row(y)[x * 4] == 230) text = true;
  EXPECT_TRUE(text);
  TRef<TImage> broken = OpenImage(*show.accessor, "Pics/broken.bmp");
  EXPECT_EQ(MaxDifference(FromBitmap(*broken->GetMipLevel(0)),
                          FromBitmap(*MakePlaceholderBitmap(kImageLoadError, "broken.bmp"))),
            0);
  TRef<TImage> video = OpenImage(*show.accessor, "clip.mp4", true);
  EXPECT_EQ(MaxDifference(FromBitmap(*video->GetMipLevel(0)),
                          FromBitmap(*MakePlaceholderBitmap(kVideoNotFound, "clip.mp4"))),
            0);
  // The status texts differ in the picture.
  EXPECT_NE(MaxDifference(FromBitmap(*MakePlaceholderBitmap(kImageNotFound, "x")),
                          FromBitmap(*MakePlaceholderBitmap(kVideoNotFound, "x"))),
            0);
  // A very long name keeps the placeholder within bounds.
  EXPECT_LT(MakePlaceholderBitmap(kImageNotFound, std::string(100000, 'n'))->Width(), 4000);
}

TEST(LoadImageByName, AnyFailureGivesNothing) {
  TShow show;
  TRef<TImage> a = LoadImageByName(*show.accessor, "Pics/a.bmp");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Width(), 6);
  EXPECT_FALSE(LoadImageByName(*show.accessor, "Pics/missing.bmp"));
  EXPECT_FALSE(LoadImageByName(*show.accessor, "Pics/broken.bmp"));
  // Header only: the size without the pixels.
  TMemoryStream s(test::WriteBmp(show.picture, {}));
  TRef<TImage> head = LoadImage(s, "a.bmp", true);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->Height(), 4);
}

}  // namespace
}  // namespace lum
