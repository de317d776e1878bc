#include "model/lum_button.h"

#include <algorithm>
#include <cmath>

#include "model/button_producer.h"
#include "model/lum_key_frame.h"
#include "model/lum_object_props.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "model/lum_text.h"

namespace lum {

namespace {

constexpr double kMaxPercent = 10000;
constexpr int kScaleXField = 4;
constexpr int kScaleYField = 5;

float Percent(const TIniList* section, std::string_view key, double def) {
  const double v = ReadFloat(section, key, def);
  return float(std::isfinite(v) ? std::clamp(v, -kMaxPercent, kMaxPercent) : def);
}

}  // namespace

void TLumButton::LoadFromSection(const TIniList* section) {
  std::string theme = ReadString(section, "Theme", "");
  btnOpacity_ = std::clamp(Percent(section, "BtnOpacity", 100), 0.0f, 100.0f);
  txtOpacity_ = std::clamp(Percent(section, "TxtOpacity", 100), 0.0f, 100.0f);
  hue_ = ReadInteger(section, "Hue", 0);
  saturation_ = ReadInteger(section, "Saturation", 0);
  lightness_ = ReadInteger(section, "Lightness", 0);
  minWidthSet_ = FindItem(section, "BtnMinWidth") != nullptr;
  minWidth_ = Percent(section, "BtnMinWidth", 0);
  offsetX_ = Percent(section, "BtnOffsetX", 100);
  ReadImageKeys(section);
  TLumObject::LoadFromSection(section);
  mipLodBias_ = 0;
  if (theme != theme_) {
    theme_ = std::move(theme);
    states_ = {};
    width_ = skinHeight_ = 0;
    captionRevision_ = ~uint64_t(0);
    DropPicture();
  }
}

TLumText* TLumButton::Caption() const {
  if (children_.empty() || children_.front()->Kind() != kKindText) return nullptr;
  return static_cast<TLumText*>(children_.front());
}

int TLumButton::WantedWidth() const {
  double ratio = 0, scaleX = 100;
  if (TLumText* caption = Caption()) {
    if (caption->Height() > 0) ratio = caption->Width() / caption->Height();
    TLumObjectProps* props = caption->Props();
    if (props && props->KeyFrameCount() > 0)
      scaleX = props->KeyFrames().front()->Value(kScaleXField);
  }
  return ButtonWidth(skinHeight_, minWidth_, ratio, scaleX, offsetX_);
}

bool TLumButton::RequestPicture() {
  TLumSlideHost* host = slide_ ? slide_->GetHost() : nullptr;
  TButtonProducer* producer =
      host && host->Accessor() ? host->ButtonProducers().Find(theme_) : nullptr;
  if (!producer) return false;  // no skin: the caption alone
  const TButtonTheme& skin = producer->Skin();
  if (skinHeight_ == 0) {
    skinHeight_ = skin.BaseHeight();
    filtering_ = TImageFiltering(skin.filtering);
    if (!minWidthSet_) minWidth_ = skin.btnMinWidth;
    captionScale_ = std::clamp(100.0 - skin.btnOffset, -kMaxPercent, kMaxPercent);
    if (TLumText* caption = Caption()) caption->SetColors(skin.textColor);
  }
  WriteCaptionScale();
  const int width = WantedWidth();
  if (width != width_ || !states_[0]) {
    // All three looks at once, so that hovering and pressing load nothing.
    for (int s = 0; s < 3; ++s)
      states_[size_t(s)] = host->OpenPicture(
          ButtonPictureName({producer->Theme(), s, width, hue_, saturation_, lightness_}));
    width_ = width;
  }
  const TRef<TImage>& shown = states_[size_t(state_)];
  if (!shown) return false;
  if (picture_.Get() != shown.Get()) {
    picture_ = shown;
    previous_ = nullptr;
    if (props_) props_->SetAspect(picture_->Width(), picture_->Height());
    UpdateGeometry(100, 0, 0);
    MarkChanged();
  }
  return true;
}

void TLumButton::WriteCaptionScale() {
  TLumText* caption = Caption();
  TLumObjectProps* props = caption ? caption->Props() : nullptr;
  // Written again only after the key frames were (re)loaded or rescaled.
  if (!props || props->KeyFrameCount() == 0 || props->Revision() == captionRevision_) return;
  props->SetKeyFrameValue(0, kScaleXField, float(captionScale_));
  props->SetKeyFrameValue(0, kScaleYField, float(captionScale_));
  captionRevision_ = props->Revision();
  // The caption is laid out after the button: it takes the scale this frame.
  if (props->CurrentTime() >= 0) props->Evaluate(props->CurrentTime(), false);
}

bool TLumButton::UpdateLayout(bool recursive) {
  // The caption's size sets the width, so it is measured first.
  if (TLumText* caption = Caption()) caption->RequestPicture();
  RequestPicture();
  PrepareShadow();
  return TLumObject::UpdateLayout(recursive);
}

void TLumButton::UpdateGeometry(float /*zoom*/, float /*panX*/, float /*panY*/) {
  if (!picture_) {
    visible_ = {};
    SetNominalSize(0, 0);
    return;
  }
  visible_ = {0, 0, double(picture_->Width()), double(picture_->Height())};
  borderPx_ = 0;
  SetNominalSize(picture_->Width(), picture_->Height());
}

double TLumButton::ShadowBlurScale() const {
  return ButtonBlurScale(Height(), MipLevel());
}

std::string TLumButton::ShadowSourceName() const {
  // Every state has the same outline: one shadow serves them all.
  return ButtonPictureName({theme_, 0, width_, hue_, saturation_, lightness_});
}

double TLumButton::FitFor(double /*pw*/, double ph) const {
  return h_ > 0 ? ph / h_ : 0.0;
}

void TLumButton::SetPointerState(int state) {
  state = std::clamp(state, 0, 2);
  if (state != state_) {
    state_ = state;
    if (const TRef<TImage>& shown = states_[size_t(state)];
        shown && shown.Get() != picture_.Get()) {
      picture_ = shown;
      UpdateGeometry(100, 0, 0);
    }
    MarkChanged();
  }
  for (TLumObject* c : children_)
    if (c->Kind() == kKindText) c->SetPointerState(state);
}

}  // namespace lum
