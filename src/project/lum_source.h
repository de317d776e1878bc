#pragma once
// The show project: what playback needs from the project document — the slide
// timeline with transition durations, names, end actions and programs, the
// end behaviour, screen-saver adjustments and the transition of each slide.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "container/file_accessor.h"
#include "document/ini_file.h"
#include "project/slide_order.h"
#include "transitions/effect_rotation.h"
#include "transitions/lum_effect_manager.h"

namespace lum {

enum class TEndBehaviour : int32_t { Repeat = 0, Close = 1, Stop = 2 };
enum class TSlideEndAction : int32_t { None = 0, Pause = 1, Loop = 2 };

struct TLumSlideRecord {
  double start = 0;
  double end = 0;
  double transitionIn = 0;
  double nextTransition = 0;
  double endWithNext = 0;
  std::string name;
};

struct TSlideEnd {
  TSlideEndAction action = TSlideEndAction::None;
  double loopLength = 0;
};

// What stands in for the running executable and the random source.
struct TLumSourceSettings {
  // Path whose ".scr" extension makes a screen-saver show; empty: the executable.
  std::string hostPath;
  // Seed of the transition chooser's random source (reproducible runs).
  std::optional<uint32_t> randomSeed;
};

class TLumSource {
 public:
  // Slide times before the show: the slide before the first and everything earlier.
  static constexpr double kBeforeFirst = -1073741823.0;
  static constexpr double kLongBefore = -2147483647.0;
  // Bounds on what a document may ask to be built, each far above real shows
  // (hundreds of slides, a few thousand key frames). Key frames are built a
  // slide at a time, but one slide may hold all of a document's.
  static constexpr int32_t kMaxSlides = 100000;
  static constexpr int64_t kMaxKeyFrames = 200000;
  static constexpr int32_t kMaxKeyFramesPerObject = 10000;

  // Throws EAssertion "Incorrect time" for decreasing slide ends, and
  // ELumError for a slide count the document cannot hold or beyond kMaxSlides,
  // and for key frames beyond kMaxKeyFrames or kMaxKeyFramesPerObject.
  TLumSource(TRef<TFileAccessor> accessor, TIniFile& document, TLumSourceSettings settings = {});
  TLumSource(TRef<TFileAccessor> accessor, std::unique_ptr<TIniFile> document,
             TLumSourceSettings settings = {});
  ~TLumSource();

  const TRef<TFileAccessor>& Accessor() const { return accessor_; }
  TIniFile& Document() const { return *document_; }
  TIniList* Main() const { return main_; }
  TIniList* Times() const { return times_; }
  TLUMEffectManager& EffectManager() const { return *effects_; }
  TEffectRotation& Rotation() const { return *rotation_; }

  int32_t SlideCount() const { return int32_t(slides_.size()); }
  double Duration() const { return duration_; }
  TEndBehaviour EndBehaviour() const { return endBehaviour_; }
  bool Repeats() const { return endBehaviour_ == TEndBehaviour::Repeat; }
  bool ScreenSaver() const { return screenSaver_; }
  bool PauseWhenInactive() const { return pauseWhenInactive_; }
  uint32_t HiderColor() const { return hiderColor_; }
  double UnsharpAmount() const { return unsharpAmount_; }

  // Any index: repetitions past the end, the slide before the first (-1) and
  // earlier ones. repetition receives index div N for indexes at or past N.
  TLumSlideRecord Slide(int64_t index, int64_t* repetition = nullptr) const;
  // The first index from -1 upwards whose slide holds t; a boundary belongs
  // to the earlier slide, times past the end run into the repetitions.
  int64_t SlideAt(double t) const;

  TTransitionChoice Transition(int32_t index);
  TSlideEnd EndAction(int32_t index) const;
  std::optional<std::string> Program(int32_t index) const;
  TIniList* SlideSection(int32_t index) const;

 private:
  void Construct(const TLumSourceSettings& settings);
  void ApplyScreenSaver(const std::string& hostPath);
  void ReadOptions();
  int32_t CheckedSlideCount() const;
  void CheckKeyFrames() const;
  void BuildSlides();
  std::string SlideName(int32_t index) const;
  double TransitionDuration(int64_t index);

  TRef<TFileAccessor> accessor_;
  std::unique_ptr<TIniFile> ownedDocument_;
  TIniFile* document_;
  TIniList* main_ = nullptr;
  TIniList* times_ = nullptr;
  std::shared_ptr<TSlideOrder> order_;
  std::unique_ptr<TLUMEffectManager> effects_;
  std::unique_ptr<TEffectRotation> rotation_;
  std::vector<TLumSlideRecord> slides_;
  double duration_ = 0;
  TEndBehaviour endBehaviour_ = TEndBehaviour::Repeat;
  bool screenSaver_ = false;
  bool pauseWhenInactive_ = true;
  uint32_t hiderColor_ = 0;
  double unsharpAmount_ = 0;
};

}  // namespace lum
