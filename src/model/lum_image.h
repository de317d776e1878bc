#pragma once
// Picture objects and the classes built on them: the picture by name through
// the show's picture source, its framing (aspect, zoom and pan, crop, border),
// sprite-sheet and GIF animation, and the record handed to the drawer.
#include <vector>

#include "imaging/image.h"
#include "model/color_grade.h"
#include "model/lum_object.h"

namespace lum {

enum class TImageFiltering : int { Nearest = 0, Bilinear = 1, Default = 2 };

struct TBorderParams {
  bool borderEnabled = false;
  bool cropEnabled = false;
  bool aspectEnabled = false;
  float borderWidth = 1.5f;           // percent of the visible height
  uint32_t borderColor = 0xFFFFFFFF;  // r | g << 8 | b << 16 | a << 24
  uint32_t shownBorderColor = 0xFFFFFFFF;
  float crop[4] = {0, 0, 0, 0};  // left, top, right, bottom, percent
  float aspect = 0;              // width / height; 0 = the picture's
  float zoom = 100;              // percent of the aspect rectangle shown
  float panX = 0, panY = 0;      // -100..100
};

struct TImageAnimationParams {
  bool enabled = false;
  int columns = 1, rows = 1, count = 1;
  std::vector<int> durations;  // ms per frame
  int repetitions = 0;         // 0 = endless
  double offset = 0;           // ms of slide time before frame 0
};

// What the drawer needs of a picture object for one frame.
struct TImageDrawParams {
  bool antialiased = true;
  double opacity = 1;  // 0..1
  TImageFiltering filtering = TImageFiltering::Default;
  int mipLevel = 0;  // the level of the picture to draw from
  float mipLodBias = -0.5f;
  int columns = 1, rows = 1;
  bool hasBorderColor = false;
  uint32_t borderColor = 0;  // r | g << 8 | b << 16 | a << 24, as shown
  // Texts: their white picture is tinted with the state's colour.
  bool hasTextColor = false;
  uint32_t textColor = 0xFFFFFF;  // r | g << 8 | b << 16, as shown
  // The colour grades of the key frames around the current time.
  TColorGradeDraw grade;
};

class TLumImage : public TLumObject {
 public:
  static constexpr int32_t kIndexNotSet = -2147483647;
  using TLumObject::TLumObject;
  const char* ClassName() const override { return "TLumImage"; }
  void LoadFromSection(const TIniList* section) override;
  void DrawSelf(TObjectDrawer& drawer) override;
  bool UpdateLayout(bool recursive) override;
  void SetTime(bool recursive, double time) override;
  const TRefObject* GetColorLut() const override { return colorLut_.Get(); }

  const std::string& ImageName() const { return imageName_; }
  int32_t ImageIndex() const { return imageIndex_; }
  // Pixel size of the held picture; 0 x 0 while none is held.
  std::pair<double, double> GetNaturalSize() const override;

  // Obtains the picture when none is held; true when one is held afterwards.
  virtual bool RequestPicture();
  // The name RequestPicture asks the picture source for.
  std::string PictureRequestName() const;
  const TRef<TImage>& Picture() const { return picture_; }
  virtual void FillDrawParams(TImageDrawParams& params) const;
  virtual double GetDrawOpacity() const { return GetOpacity(); }
  // Shadows from the alpha of the shown part of the picture.
  void PrepareShadow() override;
  // The shadow's blur per unit of "ShadowSize", in picture pixels.
  virtual double ShadowBlurScale() const;
  // The name the shadow's description gives as its source.
  virtual std::string ShadowSourceName() const { return PictureRequestName(); }

  const TBorderParams& Border() const { return border_; }
  const TImageAnimationParams& Animation() const { return anim_; }
  void SetBorder(const TBorderParams& border);
  void SetAnimation(const TImageAnimationParams& animation);
  void SetImageName(std::string name);
  void SetRestoreAlpha(bool on);
  bool Animated() const { return anim_.enabled; }
  TImageFiltering Filtering() const { return filtering_; }
  int EffectBuffer() const { return effectBuffer_; }

  // Derived geometry, in picture pixels of level 0: the part of the picture
  // shown (for animated pictures the current cell) and the border band.
  TRectF VisibleRect() const { return anim_.enabled ? CellRect(frame_) : visible_; }
  double BorderThickness() const { return borderPx_; }
  int CurrentFrame() const { return frame_; }
  TRectF CellRect(int frame) const;
  // The mip level whose size covers the object's largest display size.
  int MipLevel() const;

 protected:
  void ReadImageKeys(const TIniList* section);
  // Recomputes the visible rectangle and nominal size from the picture and
  // the border record (with the given zoom and pan).
  virtual void UpdateGeometry(float zoom, float panX, float panY);
  void DropPicture();

  std::string imageName_;
  int32_t imageIndex_ = kIndexNotSet;
  bool antialiased_ = true;
  TImageFiltering filtering_ = TImageFiltering::Default;
  float mipLodBias_ = -0.5f;
  int effectBuffer_ = 0;
  bool restoreAlpha_ = false;
  TBorderParams border_;
  TImageAnimationParams anim_;
  TRef<TImage> picture_, previous_;
  TRef<TRefObject> colorLut_;
  TRectF visible_;
  // The unzoomed frame: what the display maxima, which take the animated
  // zoom in already, are measured against.
  TRectF nominal_;
  double borderPx_ = 0;
  int frame_ = 0;
  // Baked once per chain change, read while drawing.
  mutable TColorGrades grades_;
};

}  // namespace lum
