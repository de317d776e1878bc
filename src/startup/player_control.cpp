#include "startup/player_control.h"

#include <cmath>

#include "audio/output/music_player_class.h"
#include "foundation/process_memory.h"
#include "imaging/image_lib_store.h"
#include "imaging/picture_budget.h"
#include "model/lum_video.h"
#include "render/3d_engine.h"
#include "render/device_failures.h"
#include "startup/main_form.h"
#include "ui/system_dialog.h"

namespace lum {

namespace {

// The open system dialog: its caption, the texts of its items, and apart
// its buttons and its check boxes with their state.
nlohmann::json DialogFields() {
  TSystemDialog* d = CurrentSystemDialog();
  if (!d) return nullptr;
  nlohmann::json texts = nlohmann::json::array(), buttons = nlohmann::json::array(),
                 boxes = nlohmann::json::array();
  for (const TDialogItem& item : d->Template().items) {
    if (!item.masked) texts.push_back(d->ItemText(item.id));
    if (item.kind == TDialogItemKind::Button) buttons.push_back(d->ItemText(item.id));
    if (item.kind == TDialogItemKind::CheckBox)
      boxes.push_back({{"text", d->ItemText(item.id)}, {"checked", d->Checked(item.id)}});
  }
  return {{"caption", d->Template().caption},
          {"texts", texts},
          {"buttons", buttons},
          {"checkBoxes", boxes},
          {"dpi", d->Dpi()}};
}

nlohmann::json StatusFields(const TPlayerStatus& s) {
  const TVideoShowCounts video = TLumVideo::ShowCounts();
  return {{"position", s.engine.position},
          {"duration", s.engine.duration},
          {"paused", s.engine.paused},
          {"active", s.engine.active},
          {"waiting", s.engine.waiting},
          {"ended", s.engine.ended},
          {"slide", s.engine.slide},
          {"framesDrawn", s.engine.framesDrawn},
          {"fps", s.engine.fps},
          {"frameIntervalStdDev", s.engine.intervalStdDev},
          {"frameIntervals", s.engine.intervals},
          {"frameIntervalMeanAll", s.engine.intervalMean},
          {"frameIntervalStdDevAll", s.engine.intervalStdDevAll},
          {"window", {s.windowWidth, s.windowHeight}},
          {"fullscreen", s.fullScreen},
          {"show", s.show},
          {"endReports", s.endReports},
          {"returnStack", s.returnStack},
          {"messages", s.messages},
          {"hover", s.engine.hover},
          {"hoverClass", s.engine.hoverClass},
          {"showDialogs", s.engine.dialogs},
          {"volume", s.engine.volume},
          {"muted", s.muted},
          {"cursorHidden", s.cursorHidden},
          {"glErrors", DeviceFailureCount()},
          {"audioOffsetMs", s.engine.audioOffset},
          {"soundDevice", SoundDeviceStateName(SoundDeviceState())},
          {"musicPositionMs", std::isnan(s.engine.musicPosition)
                                  ? nlohmann::json(nullptr)
                                  : nlohmann::json(s.engine.musicPosition)},
          {"videoFramesShown", video.shown},
          {"lateVideoFrames", video.late},
          {"textureBytes", TextureBytes()},
          {"rssBytes", ResidentBytes()},
          {"pictureBytes", TPictureBudget::Process().Used()},
          {"statsShown", s.engine.statsShown},
          {"dialog", DialogFields()}};
}

void Screenshot(TMainForm& form, const std::string& path, TControlReply reply) {
  form.Capture([path, reply](TRef<TBitmap> image) {
    if (!image) return reply.Error("no frame could be captured");
    if (!WritePng(*image, path)) return reply.Error("cannot write \"" + path + "\"");
    reply.Ok({{"path", path}, {"width", image->Width()}, {"height", image->Height()}});
  });
}

void Click(TMainForm& form, const TControlRequest& r) {
  form.PointerMoved(r.x, r.y, 0);
  if (r.doubleClick) {
    form.Pointer(r.x, r.y, r.button, kMouseEventDown, 0);
    form.Pointer(r.x, r.y, r.button, kMouseEventUp, 0);
    form.Pointer(r.x, r.y, r.button, kMouseEventDouble, 0);
  } else {
    form.Pointer(r.x, r.y, r.button, kMouseEventDown, 0);
  }
  form.Pointer(r.x, r.y, r.button, kMouseEventUp, 0);
}

void Key(TMainForm& form, const TControlRequest& r) {
  // An open dialog has the keyboard, as it would for a user.
  if (TSystemDialog* d = CurrentSystemDialog()) {
    d->Key(r.virtualKey, r.modifiers, true);
    d->Key(r.virtualKey, r.modifiers, false);
    return;
  }
  form.Key(r.virtualKey, r.modifiers, true);
  form.Key(r.virtualKey, r.modifiers, false);
}

}  // namespace

void RunControlRequest(TMainForm& form, const TControlRequest& r, TControlReply reply) {
  std::string message;
  switch (r.command) {
    case TControlCommand::Status: {
      nlohmann::json fields = StatusFields(form.Status());
      fields["maxFrameIntervalMs"] = form.TakeMaxFrameInterval();
      return reply.Ok(fields);
    }
    case TControlCommand::Pause:
      form.SetPause(true);
      break;
    case TControlCommand::Play:
      form.SetPause(false);
      break;
    case TControlCommand::Toggle:
      form.SetPause(!form.Viewer().Paused());
      break;
    case TControlCommand::Seek:
      if (r.position < 0) return reply.Error("position must not be negative");
      form.Seek(r.position);
      break;
    // Input may open a modal box that waits for more input: the reply goes
    // first, so the client can send it.
    case TControlCommand::Action:
      reply.Ok();
      return form.RunActionText(r.text);
    case TControlCommand::Key:
      reply.Ok();
      return Key(form, r);
    case TControlCommand::Type:
      if (TSystemDialog* d = CurrentSystemDialog()) d->Text(r.text);
      break;
    case TControlCommand::Click:
      reply.Ok();
      return Click(form, r);
    case TControlCommand::Screenshot:
      return Screenshot(form, r.path, reply);
    case TControlCommand::Open:
      if (!form.OpenShow(r.path, {}, {}, message))
        return reply.Error(message.empty() ? "the show was not opened" : message);
      break;
    case TControlCommand::Quit:
      reply.Ok();
      form.Close(0);
      return;
  }
  reply.Ok();
}

TControlDispatcher MessageBoxDispatcher() {
  return [](TControlRequest r, TControlReply reply) {
    const bool queued = TWindowThread::Post([r, reply] {
      TSystemDialog* d = CurrentSystemDialog();
      switch (r.command) {
        case TControlCommand::Status:
          return reply.Ok({{"show", ""}, {"dialog", DialogFields()}});
        case TControlCommand::Key:
          reply.Ok();
          if (d) {
            d->Key(r.virtualKey, r.modifiers, true);
            d->Key(r.virtualKey, r.modifiers, false);
          }
          return;
        case TControlCommand::Quit:
          reply.Ok();
          if (d) d->EndDialog(kIdCancel);
          return;
        default:
          return reply.Error("no show is open");
      }
    });
    if (!queued) reply.Error("the player is closing");
  };
}

TControlDispatcher PlayerDispatcher(TMainForm& form) {
  return [&form](TControlRequest request, TControlReply reply) {
    const bool queued = TWindowThread::Post([&form, request, reply] {
      try {
        RunControlRequest(form, request, reply);
      } catch (const std::exception& e) {
        reply.Error(e.what());
      }
    });
    if (!queued) reply.Error("the player is closing");
  };
}

}  // namespace lum
