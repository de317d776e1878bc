#include "ui/lum_dialog.h"

#include <algorithm>
#include <string_view>

#include "document/ini_file.h"
#include "foundation/log.h"
#include "model/lum_slide.h"
#include "project/lum_source.h"
#include "render/slide_drawer.h"

namespace lum {

namespace {

constexpr const char* kMain = "main";
// Beyond this many numbered dialogs the document is not believed.
constexpr int kMaxDialogs = 10000;

// A dialog without a background of its own lies over the show unframed.
class TDialogDrawer : public TSlideDrawer {
 public:
  TDialogDrawer(T3DDrawer& drawer, bool background) : TSlideDrawer(drawer), background_(background) {}
  void DrawBackground(TLumSlide& slide, const TSlideBackground& b) override {
    if (background_) TSlideDrawer::DrawBackground(slide, b);
  }

 private:
  bool background_;
};

}  // namespace

const TIniList* FindDialogSection(const TIniFile& d, const std::string& name) {
  if (name == "help") {
    for (int k = 1; k <= kMaxDialogs; ++k) {
      const TIniList* s = d.Section("dialog_" + std::to_string(k) + "_");
      if (!s) return nullptr;
      if (ReadBool(s, "help", false)) return s;
    }
    return nullptr;
  }
  const int count = std::clamp(d.ReadInteger(kMain, "opt_customdialogscount", 0), 0, kMaxDialogs);
  for (int i = 1; i <= count; ++i)
    if (d.ReadString(kMain, "custom_dialog" + std::to_string(i), "NotFound") == name)
      return d.Section("dialog_" + std::to_string(i) + "_");
  return name.empty() ? nullptr : d.Section("dialog_" + name);
}

TDialogStack::TDialogStack(TLumSource& source, int windowW, int windowH) : source_(source) {
  producer_ = MakeRef<TSlideProducer>(source);
  producer_->SetFrame(std::max(windowW, 10), std::max(windowH, 10));
}

TRef<TLumSlide> TDialogStack::Build(const TIniList& section) {
  auto slide = MakeRef<TLumSlide>(producer_->Host(), producer_.Get(), 0);
  slide->SetDesignSize(producer_->DesignWidth(), producer_->DesignHeight());
  slide->LoadSlide(source_.Main(), source_.Times(), &section, 0, 1, 0, 0, 0);
  const TPresentationArea a = producer_->Area();
  const double w = producer_->DesignWidth(), h = producer_->DesignHeight();
  slide->SetAreaScale(w > 0 ? a.Width() * 100.0 / w : 0, h > 0 ? a.Height() * 100.0 / h : 0);
  return slide;
}

TDialogStack::TOpen* TDialogStack::TopOpen() {
  for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it)
    if (!it->Closing()) return &*it;
  return nullptr;
}

bool TDialogStack::Toggle(const std::string& name, double now) {
  for (TOpen& d : dialogs_)
    if (d.name == name && !d.Closing()) {
      d.closingAt = now;
      return true;
    }
  const TIniList* section = FindDialogSection(source_.Document(), name);
  if (!section) return false;
  try {
    TOpen d{name, Build(*section), ReadBool(section, "DialogPause", true), now};
    d.background = section->Find("bstyle") != nullptr;
    d.slide->SetTimeAndLayout(true, 0);
    dialogs_.push_back(std::move(d));
  } catch (const std::exception& e) {
    Log().Line("TLumDialog: \"" + name + "\" could not be made: " + e.what());
    return false;
  }
  return true;
}

bool TDialogStack::CloseTop(double now) {
  TOpen* d = TopOpen();
  if (!d) return false;
  d->closingAt = now;
  return true;
}

void TDialogStack::ClosePausing(double now) {
  for (TOpen& d : dialogs_)
    if (d.pause && !d.Closing()) d.closingAt = now;
}

bool TDialogStack::Pauses() const {
  return std::any_of(dialogs_.begin(), dialogs_.end(),
                     [](const TOpen& d) { return d.pause && !d.Closing(); });
}

size_t TDialogStack::OpenCount() const {
  return size_t(std::count_if(dialogs_.begin(), dialogs_.end(),
                              [](const TOpen& d) { return !d.Closing(); }));
}

bool TDialogStack::SetTime(double now) {
  const size_t before = dialogs_.size();
  std::erase_if(dialogs_,
                [&](const TOpen& d) { return d.Closing() && now - d.closingAt >= kDialogFadeMs; });
  bool changed = dialogs_.size() != before;
  for (TOpen& d : dialogs_) {
    const bool fading = d.Closing() || now - d.openedAt < kDialogFadeMs + 50;
    changed = d.slide->SetTimeAndLayout(true, std::max(0.0, now - d.openedAt)) || fading || changed;
  }
  return changed;
}

void TDialogStack::Draw(T3DDrawer& drawer, double now) {
  for (TOpen& d : dialogs_) {
    const double t = d.Closing() ? 1 - (now - d.closingAt) / kDialogFadeMs
                                 : (now - d.openedAt) / kDialogFadeMs;
    const int alpha = int(std::clamp(t, 0.0, 1.0) * 255 + 0.5);
    TDialogDrawer slides(drawer, d.background);
    if (alpha >= 255) {
      slides.DrawSlide(*d.slide);
      continue;
    }
    // Fading: drawn aside, then blended at its opacity.
    slides.BeginOffscreen(*d.slide);
    slides.DrawSlide(*d.slide);
    slides.EndOffscreen(*d.slide);
    slides.BlendOffscreen(*d.slide, alpha, false);
  }
}

bool TDialogStack::Pointer(int x, int y, int type, std::optional<TLumActionInfo>* action) {
  TOpen* d = TopOpen();
  if (!d) return false;
  // What the dialog's own objects do not cover (its slide and plain
  // containers span the whole area) reaches the show beneath.
  const TLumObject* hit =
      d->slide->PointerInput(x, y, type == kPointerPress ? kLeftButton : 0, type, action);
  if (!hit || hit == d->slide.Get() || std::string_view(hit->ClassName()) == "TLumObject") {
    if (action) action->reset();
    return false;
  }
  return true;
}

}  // namespace lum
