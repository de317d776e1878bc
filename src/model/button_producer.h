#pragma once
// Button skins: a theme's btn.ini names nine pieces per state (corners, edges,
// centre); the producer composes them into a button picture of any width.
// Corners keep their size; the top and bottom edges are scaled across the
// width between the corners, the left and right edges down the height
// between them, and the centre both ways (bilinear, so gradients in the
// skin stay smooth rather than repeating visibly).
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "imaging/bitmap.h"
#include "imaging/image.h"

namespace lum {

class TFileAccessor;
class TIniFile;

inline constexpr std::string_view kButtonPrefix = "Button: ";
inline constexpr const char* kFallbackTheme = "aqua";
// Composed skins are at most this wide and high (16 MiB of pixels); skins
// whose pieces add up to more cannot be used.
inline constexpr int kMaxSkinSide = 2048;

enum TSkinPieceIndex : int {
  kLeftTop,
  kTop,
  kRightTop,
  kRight,
  kRightBottom,
  kBottom,
  kLeftBottom,
  kLeft,
  kCenter
};

// "picture name,left,top,width,height": where in its picture a piece lies.
struct TSkinPiece {
  std::string picture;
  int left = 0, top = 0, width = 0, height = 0;
  std::string text;  // the key's value, for messages
};
TSkinPiece ParseSkinPiece(std::string_view value);

struct TButtonTheme {
  std::array<std::array<TSkinPiece, 9>, 3> pieces;  // normal, hover, pressed
  uint32_t textColor = 0;                           // r | g << 8 | b << 16
  float btnOffset = 0, btnMinWidth = 0;
  int filtering = 2;  // Nearest, Bilinear, Default
  // From the normal state's corners and edges.
  int BaseWidth() const;
  int BaseHeight() const;
};
TButtonTheme ReadButtonTheme(const TIniFile& ini);

// What the picture name of a button says.
struct TButtonRequest {
  std::string theme;
  int state = 0, width = 0, hue = 0, saturation = 0, lightness = 0;
};
std::string ButtonPictureName(const TButtonRequest& request);
// The fields after "Button: "; the theme is everything before the last five.
TButtonRequest ParseButtonPictureName(std::string_view fields);

// The button's width in skin pixels for skin height h, caption width/height
// ratio, the caption's first key-frame "ScaleX" and the button's
// "BtnMinWidth" and "BtnOffsetX" (percent of h).
int ButtonWidth(int skinHeight, double minWidth, double captionRatio, double captionScaleX,
                double offsetX);

// Shifts hue (degrees), saturation and lightness (percent, -100..100) of a
// 32-bit BGRA bitmap in place; alpha is kept.
void ShiftHsl(TBitmap& bitmap, int hue, int saturation, int lightness);

// A message picture: the words in yellow on blue (a skin that cannot be used).
TRef<TBitmap> SkinMessagePicture(std::string_view words);

class TButtonProducer {
 public:
  // Reads theme's btn.ini under the skin path; Loaded() tells whether it was found.
  TButtonProducer(TRef<TFileAccessor> accessor, std::string skinPath, std::string theme);
  bool Loaded() const { return loaded_; }
  const std::string& Theme() const { return theme_; }
  const TButtonTheme& Skin() const { return skin_; }
  // The skin of a state at a width (clamped to 1..kMaxSkinSide); a message
  // picture when a piece cannot be used; nothing when the theme is not loaded.
  TRef<TBitmap> Draw(int state, int width, int hue, int saturation, int lightness);

 private:
  TRef<TBitmap> Piece(const TSkinPiece& piece);

  TRef<TFileAccessor> accessor_;
  std::string path_, theme_;
  bool loaded_ = false;
  TButtonTheme skin_;
  std::map<std::string, TRef<TBitmap>> pictures_;  // decoded skin pictures by name
};

// The producers of a show, one per theme, created on first use.
class TButtonProducerHost {
 public:
  TButtonProducerHost(TRef<TFileAccessor> accessor, std::string skinPath)
      : accessor_(std::move(accessor)), path_(std::move(skinPath)) {}
  // The theme's producer, else the fallback theme's; nothing when neither loads.
  TButtonProducer* Find(const std::string& theme);
  // The picture of a "Button: " name (the fields after the prefix).
  TRef<TImage> Picture(std::string_view fields);

 private:
  TButtonProducer* Load(const std::string& theme);

  std::mutex lock_;
  TRef<TFileAccessor> accessor_;
  std::string path_;
  std::map<std::string, std::unique_ptr<TButtonProducer>> producers_;
  std::map<std::string, TRef<TImage>> pictures_;  // composed pictures by name
};

}  // namespace lum
