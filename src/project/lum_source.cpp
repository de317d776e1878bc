#include "project/lum_source.h"

#include <algorithm>
#include <cmath>

#include "foundation/case_fold.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "foundation/paths.h"

namespace lum {

TLumSource::TLumSource(TRef<TFileAccessor> accessor, TIniFile& document,
                       TLumSourceSettings settings)
    : accessor_(std::move(accessor)), document_(&document) {
  Construct(settings);
}

TLumSource::TLumSource(TRef<TFileAccessor> accessor, std::unique_ptr<TIniFile> document,
                       TLumSourceSettings settings)
    : accessor_(std::move(accessor)),
      ownedDocument_(std::move(document)),
      document_(ownedDocument_.get()) {
  Construct(settings);
}

TLumSource::~TLumSource() = default;

void TLumSource::Construct(const TLumSourceSettings& settings) {
  ApplyScreenSaver(settings.hostPath.empty() ? ExecutablePath() : settings.hostPath);
  main_ = document_->Section("Main");
  times_ = document_->Section("Times");
  ReadOptions();
  int32_t count = CheckedSlideCount();
  CheckKeyFrames();
  order_ = TSlideOrder::ForProject(ReadString(main_, "ProjectFilePath", ""), count);
  effects_ = std::make_unique<TLUMEffectManager>(document_);
  effects_->SetSlideSections([this](int32_t i) { return SlideSection(i); });
  rotation_ = settings.randomSeed ? std::make_unique<TEffectRotation>(*settings.randomSeed)
                                  : std::make_unique<TEffectRotation>();
  rotation_->Build(*effects_);
  slides_.resize(size_t(count));
  BuildSlides();
}

void TLumSource::ApplyScreenSaver(const std::string& hostPath) {
  screenSaver_ = FoldedEquals(ExtractFileExt(hostPath), ".scr");
  if (!screenSaver_) {
    document_->WriteInteger("Main", "opt_ssaver", 0);
    return;
  }
  document_->WriteInteger("Main", "opt_ssaver", 1);
  document_->WriteInteger("Main", "opt_fcp", 0);
  document_->WriteInteger("Main", "opt_hidecursor", 1);
  document_->WriteInteger("Main", "opt_scr_full", 1);
  document_->WriteString("Main", "opt_repeat", "repeat");
}

void TLumSource::ReadOptions() {
  endBehaviour_ = TEndBehaviour(ReadChoice(main_, "opt_repeat", {"repeat", "close", "stop"}, false,
                                           int(TEndBehaviour::Repeat)));
  pauseWhenInactive_ = ReadBool(main_, "opt_pausewheninactive", true);
  hiderColor_ = uint32_t(ReadInteger(main_, "opt_scr_hidercolor", 0)) & 0xFFFFFFu;
  unsharpAmount_ = ReadFloat(main_, "opt_scr_unsharpamount", 0);
}

// Each slide needs its section and its end time; a count beyond what the
// document holds would only make a table of empty slides.
int32_t TLumSource::CheckedSlideCount() const {
  int32_t count = std::max(ReadInteger(times_, "opt_slidescount", 0), 0);
  if (count > kMaxSlides)
    throw ELumError("The project declares " + std::to_string(count) + " slides, more than the " +
                    std::to_string(kMaxSlides) + " allowed");
  size_t times = times_ ? times_->Items().size() : 0;
  size_t limit = std::max(times, document_->Sections().size());
  if (size_t(count) > limit)
    throw ELumError("The project declares " + std::to_string(count) +
                    " slides but holds the sections and times of at most " + std::to_string(limit));
  return count;
}

// Counted where the document is opened, so that a show with too many is
// refused at once rather than slide by slide.
void TLumSource::CheckKeyFrames() const {
  int64_t total = 0;
  auto isKeyFrame = [](const TIniObject* o) { return FoldedEquals(o->ClassName(), "KeyPoint"); };
  auto visit = [&](const TIniObject* o, int) {
    if (isKeyFrame(o)) return false;
    int64_t own = std::count_if(o->Objects().begin(), o->Objects().end(), isKeyFrame);
    if (own > kMaxKeyFramesPerObject)
      throw ELumError("An object of the show has " + std::to_string(own) +
                      " key frames, more than the " + std::to_string(kMaxKeyFramesPerObject) +
                      " allowed");
    total += own;
    return true;
  };
  WalkObjects(document_, visit);
  for (const TIniSection* s : document_->Sections()) WalkObjects(s, visit);
  if (total > kMaxKeyFrames)
    throw ELumError("The show has " + std::to_string(total) + " key frames, more than the " +
                    std::to_string(kMaxKeyFrames) + " allowed");
}

double TLumSource::TransitionDuration(int64_t index) {
  int32_t n = SlideCount();
  if (n == 0 || (index >= n && !Repeats())) return 0;
  return effects_->Duration(int32_t(index % n));
}

void TLumSource::BuildSlides() {
  double start = 0;
  for (int32_t i = 0; i < SlideCount(); ++i) {
    TLumSlideRecord& r = slides_[i];
    r.start = start;
    r.end = ReadInteger(times_, "opt_synchpos" + std::to_string(i + 1), 0);
    if (r.end < start) AssertFailed("kvLumSource2", "Incorrect time");
    r.transitionIn = std::min(TransitionDuration(i), r.end - r.start);
    r.name = SlideName(i);
    start = r.end;
  }
  for (int32_t i = 0; i < SlideCount(); ++i) {
    TLumSlideRecord& r = slides_[i];
    double next = TransitionDuration(i + 1);
    if (i + 1 < SlideCount())
      next = std::min(next, slides_[i + 1].end - slides_[i + 1].start);
    else if (next > 0)
      next = std::min(next, slides_[0].end - slides_[0].start);
    r.nextTransition = next;
    r.endWithNext = r.end + next;
  }
  duration_ = slides_.empty() ? 0 : slides_.back().end;
}

std::string TLumSource::SlideName(int32_t index) const {
  TIniList* section = SlideSection(index);
  std::string name = ReadString(section, "slideid", "");
  if (!name.empty()) return name;
  std::string picture = ReadString(section, "Picture", "");
  std::string_view file = ExtractFileName(picture);
  return std::string(file.substr(0, file.size() - ExtractFileExt(file).size()));
}

TLumSlideRecord TLumSource::Slide(int64_t index, int64_t* repetition) const {
  if (repetition) *repetition = 0;
  TLumSlideRecord r;
  if (index <= -2) {
    r.start = kLongBefore;
    r.end = r.endWithNext = kBeforeFirst;
    return r;
  }
  if (index == -1) {
    r.start = kBeforeFirst;
    r.nextTransition = r.endWithNext = slides_.empty() ? 0 : slides_[0].transitionIn;
    return r;
  }
  int64_t n = SlideCount();
  if (n == 0) return r;
  int64_t rep = index / n;
  r = slides_[size_t(index % n)];
  double shift = double(rep) * duration_;
  r.start += shift;
  r.end += shift;
  r.endWithNext += shift;
  if (repetition) *repetition = rep;
  return r;
}

int64_t TLumSource::SlideAt(double t) const {
  if (t <= kBeforeFirst) return -2;
  if (t <= 0) return -1;
  int64_t n = SlideCount();
  if (n == 0) return -1;
  if (duration_ <= 0) return n - 1;
  double rep = std::floor(t / duration_);
  double local = t - rep * duration_;
  if (local <= 0 && rep > 0) {  // a repetition's boundary belongs to the one before
    rep -= 1;
    local = duration_;
  }
  auto it = std::lower_bound(slides_.begin(), slides_.end(), local,
                             [](const TLumSlideRecord& r, double v) { return r.end < v; });
  int64_t i = std::min<int64_t>(it - slides_.begin(), n - 1);
  return int64_t(rep) * n + i;
}

TTransitionChoice TLumSource::Transition(int32_t index) {
  return rotation_->TransitionForSlide(*effects_, index, SlideCount());
}

TSlideEnd TLumSource::EndAction(int32_t index) const {
  if (SlideCount() == 0 || index < 0) return {};
  index %= SlideCount();
  TIniItem* item = FindItem(SlideSection(index), "Pers_EndAction");
  if (!item) return {};
  std::string_view v = item->Value();
  if (v.empty())
    return {
        ReadBool(main_, "opt_manualshow", false) ? TSlideEndAction::Pause : TSlideEndAction::None,
        0};
  if (FoldedEquals(v, "pause")) return {TSlideEndAction::Pause, 0};
  if (FoldedEquals(v, "loop")) {
    const TLumSlideRecord& r = slides_[size_t(index)];
    return {TSlideEndAction::Loop, r.end - r.start - r.transitionIn};
  }
  return {};
}

std::optional<std::string> TLumSource::Program(int32_t index) const {
  if (SlideCount() == 0 || index < 0) return std::nullopt;
  TIniList* section = SlideSection(index % SlideCount());
  if (!ReadBool(section, "Pers_RunApp", false)) return std::nullopt;
  std::string file = ReadString(section, "RunAppFN", "");
  if (file.empty()) return std::nullopt;
  return file;
}

TIniList* TLumSource::SlideSection(int32_t index) const {
  if (index < 0) return nullptr;
  return document_->Section("Slide" + std::to_string(SlideSectionNumber(order_.get(), index)));
}

}  // namespace lum
