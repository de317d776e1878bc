#pragma once
// A slide: the root of an object tree, with its timing, anchors, background
// and the press/release logic that turns pointer events into actions.
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "model/lum_object.h"
#include "model/lum_object_props.h"
#include "model/lum_slide_host.h"

namespace lum {

class TSlideProducer;

enum TSlideAnchor : int {
  kAnchorSlideBegin = 0,
  kAnchorPrevEffectEnd = 1,
  kAnchorNextEffectBegin = 2,
  kAnchorSlideEnd = 3,
};
const char* SlideAnchorName(int anchor);

enum class TBackgroundDrawn { Black, Solid, Picture, VGradient, HGradient };

struct TSlideBackground {
  int style = 0;                    // "bstyle"
  int colorStyle = 0;               // "bcolorstyle"
  uint32_t color1 = 0, color2 = 0;  // red in the low byte
  uint32_t shownColor1 = 0, shownColor2 = 0;
  std::string file;
  double size = 100;      // percent
  bool fromMain = false;  // read from the main section's "opt_" keys
  TBackgroundDrawn Drawn() const;
  bool operator==(const TSlideBackground&) const = default;
};

// The background keys of a slide section, or of the main section when the
// slide's own "bstyle" is 0.
TSlideBackground ReadSlideBackground(const TIniList* main, const TIniList* slide);

// How a background picture covers a slide.
struct TBackgroundTiling {
  double drawWidth = 0, drawHeight = 0;  // one tile
  int halvings = 0;                      // times the decoded picture is halved
  int tilesX = 0, tilesY = 0;            // tiles to each side of the centre
};
TBackgroundTiling TileBackground(double slideW, double slideH, double picW, double picH,
                                 double sizePercent);

// The slide's prepared background pictures: two at most, oldest out first.
class TSlidePictureCache {
 public:
  static std::string NameFor(double sizePercent, const std::string& file);
  TRef<TRefObject> Find(const std::string& name) const;
  void Add(const std::string& name, TRef<TRefObject> picture);
  size_t Count() const { return entries_.size(); }

 private:
  std::deque<std::pair<std::string, TRef<TRefObject>>> entries_;
};

// The slide-local timing handed to the property tree.
struct TSlideTimes {
  int32_t duration = 0, in = 0, out = 0;
};

// The main picture of a slide, for text macros.
struct TMainImage {
  std::string file;
  double width = 0, height = 0;
};

// Pointer events of the press/release routine.
enum TPointerEventType : int { kPointerMove = 0, kPointerPress = 1, kPointerRelease = 2 };
inline constexpr uint32_t kLeftButton = 1;  // other bits: other buttons and modifiers

class TLumSlide : public TLumObject {
 public:
  TLumSlide(TRef<TLumSlideHost> host, TSlideProducer* producer, int64_t pass);
  ~TLumSlide() override;
  const char* ClassName() const override { return "TLumSlide"; }

  // Loads background, name, the "Root" object section and the object tree.
  // Times come from "opt_synchpos<k>" of the times section (else main).
  void LoadSlide(const TIniList* main, const TIniList* times, const TIniList* section,
                 int32_t index, int32_t slideCount, double tin, double tout, double offset = 0);
  // The slide shown before the first: slide 0's background only.
  void LoadBlank(const TIniList* main, const TIniList* firstSection, double tout);

  // Design size and scale to the presentation area.
  void SetDesignSize(double w, double h) { SetNominalSize(w, h); }
  void SetAreaScale(double scaleX, double scaleY);

  int32_t Index() const { return index_; }
  // Slides of the show (0 for a produced special slide).
  int32_t SlideCount() const { return slideCount_; }
  const std::string& SlideName() const { return slideName_; }
  double BeginTime() const { return begin_; }
  double NextBeginTime() const { return nextBegin_; }
  double InDuration() const { return tin_; }
  double OutDuration() const { return tout_; }
  double Offset() const { return offset_; }
  int64_t Pass() const { return pass_; }
  TSlideProducer* Producer() const { return producer_; }
  TSlideTimes Times() const;
  double CurrentTime() const { return currentTime_; }
  const TSlideBackground& Background() const { return background_; }
  void SetBackground(const TSlideBackground& b);
  TSlidePictureCache& PictureCache() { return pictureCache_; }
  // A background's picture ready for tiling: decoded through the host, halved
  // as far as the tiling allows and kept in the picture cache; tiling receives
  // the tile size and counts (in slide units). Nothing when the background
  // has no picture or its file is missing.
  TRef<TBitmap> BackgroundPicture(const TSlideBackground& background, TBackgroundTiling& tiling);
  double DepthFactor() const { return depthFactor_; }
  double BlurScale() const { return blurScale_; }
  void SetBlurScale(double s) { blurScale_ = s; }
  double GetOpacityBase() const { return 100.0; }
  TVec3 Camera() const;
  // A world point seen from the camera, in window pixels.
  TVec3 Project(TVec3 p) const;
  // Time scaling applied at load (1 when none).
  double TimeScale() const { return timeScale_; }

  // Overrides.
  double GetAnchorTime(int anchor) const override;
  std::pair<double, double> GetContainerSize() const override { return {w_, h_}; }
  TWorldTransform GetParentTransform() const override;
  bool UpdateLayout(bool recursive) override;
  void SetTime(bool recursive, double time) override;
  void Draw(TObjectDrawer& drawer) override;
  TLumSlideHost* GetHost() const override { return host_.Get(); }
  TLumSlide* GetSlide() const override { return const_cast<TLumSlide*>(this); }
  bool SetTimeAndLayout(bool recursive, double time) override;

  // While the slide serves as a transition effect: the objects of another
  // slide drawn beneath (over the second background) and above, and the
  // weight of the blend. Cleared with empty lists and weight 0.
  void SetEffectLayers(std::vector<TLumObject*> beneath, std::vector<TLumObject*> above,
                       const TSlideBackground& second, double weight);
  bool ServesAsEffect() const { return effectActive_; }

  // Runs before the first layout; also callable again (texts re-render when
  // their display scale moved).
  void DisplayScalePrepass();
  bool PrepassDone() const { return prepassDone_; }

  // Pointer input at a window point; returns the object under the pointer and
  // fills action when a click completed.
  TLumObject* PointerInput(double x, double y, uint32_t held, int type,
                           std::optional<TLumActionInfo>* action);
  // The first image (or video) with "ImageIndex" in depth-first child order.
  std::optional<TMainImage> MainImage() const;

  // Every object of the tree (the slide first), depth first in child order.
  std::vector<TLumObject*> AllObjects() const;
  TLumObjectProps* RootProps() const { return rootProps_.Get(); }

 private:
  void ComputeTimes(const TIniList* main, const TIniList* times, int32_t slideCount);
  void LoadRoot(const TIniList* section);

  TRef<TLumSlideHost> host_;
  TSlideProducer* producer_ = nullptr;
  int64_t pass_ = 0;
  int32_t index_ = -1;
  int32_t slideCount_ = 0;
  std::string slideName_;
  double begin_ = 0, nextBegin_ = 0, tin_ = 0, tout_ = 0, offset_ = 0;
  TSlideBackground background_;
  TSlideBackground background2_;  // while another slide's objects are drawn beneath
  std::vector<TLumObject*> effectBeneath_, effectAbove_;
  double effectWeight_ = 0;
  bool effectActive_ = false;
  TSlidePictureCache pictureCache_;
  double currentTime_ = 0;
  double depthFactor_ = 0.57735026918962573;
  double blurScale_ = 1.0;
  double timeScale_ = 1.0;
  bool prepassDone_ = false;
  int prepassRuns_ = 0;
  TRef<TLumObjectProps> rootProps_;
};

}  // namespace lum
