// The main form carrying out actions: navigation, programs, printing.
#include "startup/main_form.h"

#include <cmath>

#include "container/lum_show_locator.h"
#include "foundation/log.h"
#include "foundation/sha256.h"
#include "project/lum_source.h"
#include "startup/trusted_programs.h"
#include "ui/print_dialog.h"
#include "ui/third_slide.h"

namespace lum {

double TMainForm::SlideTime(int64_t index) const {
  if (!times_) return 0;
  const TLumSlideRecord r = times_->Slide(index);
  double t = std::round(r.start);
  const bool pastLast = index == times_->SlideCount() && !times_->Repeats();
  if (r.transitionIn == 0 && !pastLast) t += 1;
  return t;
}

void TMainForm::RunActionText(const std::string& text) {
  if (ModalCount() > 0) return;
  const TLumActionInfo a = ParseActionText(text);
  if (!viewer_->RunAction(a)) Execute(a);
}

void TMainForm::Execute(const TLumActionInfo& a) {
  if (ModalCount() > 0) return;
  TLumEngine* engine = viewer_->Engine();
  switch (a.type) {
    case kActionExit:
      exitRequested_ = true;
      Close(0);
      break;
    case kActionPrevSlide:
      PreviousSlide();
      break;
    case kActionNextSlide:
      if (engine && engine->Waiting())
        engine->Continue();
      else
        NextSlide();
      break;
    case kActionPause:
      if (engine && engine->Waiting())
        engine->Continue();
      else
        viewer_->SetPause(!viewer_->Paused());
      break;
    case kActionGotoSlide:
      GotoSlide(a);
      break;
    case kActionStop:
      viewer_->SeekAndPause(0, true);
      break;
    case kActionCloseDialog:
      exitRequested_ = true;
      Close(1);
      break;
    case kActionSeek:
      viewer_->Seek(a.intArg);
      break;
    case kActionPrint:
      Capture([this](TRef<TBitmap> frame) { Print(std::move(frame)); });
      break;
    case kActionOpenWebSite:
      Report(Runner().OpenWebPage(a.textArg));
      break;
    case kActionWriteEmail:
      Report(Runner().SendMail(a.textArg));
      break;
    case kActionRunApp:
      RunCommands(a.textArg);
      break;
    case kActionRunAppAndExit:
      RunAndClose(a.textArg);
      break;
    case kActionRunPresentation:
    case kActionRunPresentationAndReturn:
      OpenOtherShow(a.textArg, a.type == kActionRunPresentationAndReturn);
      break;
    default:
      // The show's dialogs live in the engine's overlay, which takes their
      // actions before they come here.
      Log().Line("TMainForm: action " + std::string(ActionTypeName(a.type)) + " not carried out");
      break;
  }
}

void TMainForm::RunCommands(const std::string& text) {
  if (!text.empty()) Report(Runner().RunCommandLines(text));
}

// The user is asked while the window is still there; the programs start
// once it has closed.
void TMainForm::RunAndClose(const std::string& text) {
  const TCommandRunner runner = Runner();
  const TRunPlan plan = runner.Plan(text);
  Report(plan.verdict);
  const bool run = plan.verdict.status != TRunResult::TStatus::Refused &&
                   !plan.launches.empty() && Consent(plan.launches);
  Close(0);
  if (run) runner.Launch(plan);
}

TCommandRunner TMainForm::Runner() {
  return TCommandRunner(showFolder_, hooks_.spawn,
                        [this](const std::vector<TLaunch>& launches) { return Consent(launches); });
}

// Kiosks trust every show; otherwise a show the user trusts always, or the
// user's answer now, with the show paused meanwhile.
bool TMainForm::Consent(const std::vector<TLaunch>& launches) {
  if (options_.allowPrograms) return true;
  const std::string path = show_ ? show_->Path() : std::string();
  const TTrustedPrograms trusted(TrustedProgramsPath());
  // Hashing a large show takes seconds: only when a trusted one could match.
  if (!trusted.Empty() && !ShowHash().empty() && trusted.Contains(ShowHash())) {
    Log().Line("TMainForm: programs of a trusted show: " + path);
    return true;
  }
  if (!hooks_.askConsent) return false;
  std::vector<TConsentItem> items;
  for (const TLaunch& l : launches) {
    const auto& argv = l.request.argv;
    items.push_back({l.request.file, {argv.begin() + (argv.empty() ? 0 : 1), argv.end()}});
  }
  const bool wasPaused = viewer_->Paused();
  viewer_->SetPause(true);
  TConsentAnswer answer;
  try {
    answer = hooks_.askConsent(items);
  } catch (const std::exception& e) {
    Log().Line(std::string("TMainForm: consent dialog failed (") + e.what() + ")");
  }
  viewer_->SetPause(wasPaused);
  if (answer.run && answer.always && !ShowHash().empty() && !trusted.Add(ShowHash(), path))
    Log().Line("TMainForm: cannot remember the show in " + trusted.Path());
  return answer.run;
}

const std::string& TMainForm::ShowHash() {
  if (showHash_.empty() && show_) showHash_ = FileSha256Hex(show_->Path());
  return showHash_;
}

void TMainForm::Report(const TRunResult& result) {
  if (result.status == TRunResult::TStatus::Refused) ShowMessage(result.message, "");
}

void TMainForm::PreviousSlide() {
  if (!times_) return;
  const double p = double(viewer_->Position());
  int64_t k = std::max<int64_t>(0, times_->SlideAt(p));
  double target = 0;
  if (p < times_->Slide(k).end && k < 2) {
    target = 0;
  } else {
    if (p < times_->Slide(k).end) --k;
    const TLumSlideRecord r = times_->Slide(k);
    target = std::round(r.start + r.transitionIn);
    if (p - target < 500) {
      const TLumSlideRecord q = times_->Slide(k - 1);
      target = k <= 1 ? 0 : std::round(q.start + q.transitionIn);
    }
  }
  viewer_->Seek(std::max(0.0, target));
}

void TMainForm::NextSlide() {
  if (!times_) return;
  const double p = double(viewer_->Position());
  const int64_t n = times_->SlideCount();
  const int64_t from = std::max<int64_t>(0, times_->SlideAt(p)) + 1;
  for (int64_t i = from; i <= from + n; ++i) {
    if (!times_->Repeats() && i >= n) return;
    const TLumSlideRecord r = times_->Slide(i);
    if (std::round(r.start) <= p) continue;
    double target = r.start;
    if (r.transitionIn == 0)
      target += 1;
    else if (viewer_->Paused())
      target += r.transitionIn;
    viewer_->Seek(target);
    return;
  }
}

void TMainForm::GotoSlide(const TLumActionInfo& a) {
  if (!times_) return;
  int64_t index = 0;
  if (a.intArg == -1) {
    for (int32_t i = 0; i < times_->SlideCount(); ++i)
      if (times_->Slide(i).name == a.textArg) {
        index = i;
        break;
      }
  } else {
    index = a.intArg <= 1 ? 0 : a.intArg - 1;
  }
  viewer_->Seek(SlideTime(index));
}

void TMainForm::Capture(std::function<void(TRef<TBitmap>)> done) {
  if (!viewer_->Capture()) {
    done(nullptr);
    return;
  }
  captures_.push_back(std::move(done));
}

void TMainForm::Print(TRef<TBitmap> frame) {
  // Another dialog may have opened while the frame was on its way.
  if (!show_ || !times_ || closed_ || ModalCount() > 0) return;
  const int64_t count = times_->SlideCount();
  if (count <= 0) return;
  const int index = int(std::max<int64_t>(0, times_->SlideAt(double(viewer_->Position()))) % count);
  TSlidePictureSource source(show_->Accessor(), show_->Document(), index, std::move(frame));
  const bool wasPaused = viewer_->Paused();
  viewer_->SetPause(true);
  try {
    TLumPrintDialog(window_.get(), show_->Document(), source, index,
                    [this](const std::string& text) { ShowMessage(text, "Print"); })
        .Run();
  } catch (const std::exception& e) {
    Log().Line(std::string("TMainForm: print dialog failed (") + e.what() + ")");
  }
  viewer_->SetPause(wasPaused);
}

void TMainForm::ImageArrived(TRef<TBitmap> image) {
  // Every capture asked for so far gets the frame that came.
  auto waiting = std::move(captures_);
  captures_.clear();
  for (auto& done : waiting) done(image);
}

}  // namespace lum
