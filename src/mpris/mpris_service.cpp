#include "mpris/mpris_service.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstring>
#include <string_view>
#include <vector>

#include "foundation/log.h"

namespace lum {

namespace {

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
// How long one turn of the bus loop waits for traffic, and how often the
// player's state is asked for.
constexpr uint64_t kWaitUs = 50000;
constexpr int64_t kTickUs = 100000;
// A blocked bus must not hold the player's exit for long.
constexpr uint64_t kCallTimeoutUs = 2000000;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string ErrorText(int r) {
  return std::strerror(r < 0 ? -r : r);
}

int AppendBool(sd_bus_message* reply, bool v) {
  return sd_bus_message_append(reply, "b", int(v));
}

int AppendMetadata(sd_bus_message* reply, const TMprisState& s) {
  int r = sd_bus_message_open_container(reply, 'a', "{sv}");
  const std::string track = MprisTrackId(s);
  if (r >= 0) r = sd_bus_message_append(reply, "{sv}", "mpris:trackid", "o", track.c_str());
  if (r >= 0 && s.hasShow) {
    r = sd_bus_message_append(reply, "{sv}", "mpris:length", "x", s.lengthUs);
    if (r >= 0) r = sd_bus_message_append(reply, "{sv}", "xesam:title", "s", s.title.c_str());
    if (r >= 0 && !s.artUrl.empty())
      r = sd_bus_message_append(reply, "{sv}", "mpris:artUrl", "s", s.artUrl.c_str());
  }
  if (r >= 0) r = sd_bus_message_close_container(reply);
  return r;
}

}  // namespace

struct TMprisService::TBus {
  sd_bus* bus = nullptr;
  sd_bus_slot* root = nullptr;
  sd_bus_slot* player = nullptr;
  ~TBus() {
    sd_bus_slot_unref(root);
    sd_bus_slot_unref(player);
    // No flush: a bus that stopped reading must not hold the player's exit.
    sd_bus_close_unref(bus);
  }
};

// The sd-bus callbacks; userdata is the service.
struct TMprisCalls {
  static TMprisService& Self(void* userdata) { return *static_cast<TMprisService*>(userdata); }

  // Steering calls do nothing when the show does not allow it.
  static int Steer(sd_bus_message* m, void* userdata, TMprisRequest::TKind kind) {
    TMprisService& self = Self(userdata);
    if (self.Current().canControl) self.sink_({kind});
    return sd_bus_reply_method_return(m, "");
  }
  static int Play(sd_bus_message* m, void* u, sd_bus_error*) {
    return Steer(m, u, TMprisRequest::TKind::Play);
  }
  static int Pause(sd_bus_message* m, void* u, sd_bus_error*) {
    return Steer(m, u, TMprisRequest::TKind::Pause);
  }
  static int PlayPause(sd_bus_message* m, void* u, sd_bus_error*) {
    return Steer(m, u, TMprisRequest::TKind::PlayPause);
  }
  static int Stop(sd_bus_message* m, void* u, sd_bus_error*) {
    return Steer(m, u, TMprisRequest::TKind::Stop);
  }
  static int Next(sd_bus_message* m, void* u, sd_bus_error*) {
    return Steer(m, u, TMprisRequest::TKind::Next);
  }
  static int Previous(sd_bus_message* m, void* u, sd_bus_error*) {
    return Steer(m, u, TMprisRequest::TKind::Previous);
  }
  static int Raise(sd_bus_message* m, void* u, sd_bus_error*) {
    Self(u).sink_({TMprisRequest::TKind::Raise});
    return sd_bus_reply_method_return(m, "");
  }
  static int Quit(sd_bus_message* m, void* u, sd_bus_error*) {
    Self(u).sink_({TMprisRequest::TKind::Quit});
    return sd_bus_reply_method_return(m, "");
  }

  static int Seek(sd_bus_message* m, void* u, sd_bus_error*) {
    int64_t offset = 0;
    const int r = sd_bus_message_read(m, "x", &offset);
    if (r < 0) return r;
    TMprisService& self = Self(u);
    TMprisState s = self.Current();
    if (s.canControl) {
      s.positionUs = self.PositionNow();
      const TMprisSeek to = MprisSeekBy(s, offset);
      TMprisRequest q{to.next ? TMprisRequest::TKind::Next : TMprisRequest::TKind::SetPosition};
      q.positionUs = to.positionUs;
      self.sink_(q);
      if (!to.next) self.Expect(to.positionUs);
    }
    return sd_bus_reply_method_return(m, "");
  }

  static int SetPosition(sd_bus_message* m, void* u, sd_bus_error*) {
    const char* track = nullptr;
    int64_t position = 0;
    const int r = sd_bus_message_read(m, "ox", &track, &position);
    if (r < 0) return r;
    TMprisService& self = Self(u);
    const TMprisState s = self.Current();
    if (auto to = MprisSetPosition(s, track ? track : "", position); to && s.canControl) {
      TMprisRequest q{TMprisRequest::TKind::SetPosition};
      q.positionUs = *to;
      self.sink_(q);
      self.Expect(*to);
    }
    return sd_bus_reply_method_return(m, "");
  }

  static int OpenUri(sd_bus_message*, void*, sd_bus_error* error) {
    // Shows open through the player's own command line and actions only.
    return sd_bus_error_set(error, SD_BUS_ERROR_NOT_SUPPORTED, "opening addresses is not supported");
  }

  static int Get(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                 void* u, sd_bus_error*) {
    TMprisService& self = Self(u);
    const TMprisState s = self.Current();
    const std::string_view p = property;
    const bool steer = s.canControl && s.hasShow;
    if (p == "PlaybackStatus") return sd_bus_message_append(reply, "s", MprisStatusName(s.status));
    if (p == "Metadata") return AppendMetadata(reply, s);
    if (p == "Volume") return sd_bus_message_append(reply, "d", s.volume);
    if (p == "Position") return sd_bus_message_append(reply, "x", self.PositionNow());
    if (p == "Rate" || p == "MinimumRate" || p == "MaximumRate")
      return sd_bus_message_append(reply, "d", 1.0);
    if (p == "CanControl") return AppendBool(reply, s.canControl);
    if (p == "CanPlay" || p == "CanPause" || p == "CanSeek" || p == "CanGoNext" ||
        p == "CanGoPrevious")
      return AppendBool(reply, steer);
    if (p == "CanQuit" || p == "CanRaise") return AppendBool(reply, true);
    if (p == "HasTrackList") return AppendBool(reply, false);
    if (p == "Identity") return sd_bus_message_append(reply, "s", self.identity_.identity.c_str());
    if (p == "DesktopEntry")
      return sd_bus_message_append(reply, "s", self.identity_.desktopEntry.c_str());
    if (p == "SupportedUriSchemes" || p == "SupportedMimeTypes")
      return sd_bus_message_append(reply, "as", 0);
    return -EINVAL;
  }

  static int SetVolume(sd_bus*, const char*, const char*, const char*, sd_bus_message* value,
                       void* u, sd_bus_error* error) {
    double v = 0;
    const int r = sd_bus_message_read(value, "d", &v);
    if (r < 0) return r;
    TMprisService& self = Self(u);
    if (!self.Current().canControl)
      return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "the show does not allow control");
    if (auto to = MprisVolume(v)) {
      TMprisRequest q{TMprisRequest::TKind::SetVolume};
      q.volume = *to;
      self.sink_(q);
    }
    return 0;
  }

  static int SetRate(sd_bus*, const char*, const char*, const char*, sd_bus_message* value,
                     void* u, sd_bus_error*) {
    double v = 1;
    const int r = sd_bus_message_read(value, "d", &v);
    if (r < 0) return r;
    // Only the normal rate exists; a rate of 0 asks for a pause.
    if (v == 0 && Self(u).Current().canControl) Self(u).sink_({TMprisRequest::TKind::Pause});
    return 0;
  }
};

namespace {

constexpr uint64_t kChanges = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;
constexpr uint64_t kConst = SD_BUS_VTABLE_PROPERTY_CONST;

const sd_bus_vtable kRootVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Raise", "", "", TMprisCalls::Raise, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Quit", "", "", TMprisCalls::Quit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("CanQuit", "b", TMprisCalls::Get, 0, kConst),
    SD_BUS_PROPERTY("CanRaise", "b", TMprisCalls::Get, 0, kConst),
    SD_BUS_PROPERTY("HasTrackList", "b", TMprisCalls::Get, 0, kConst),
    SD_BUS_PROPERTY("Identity", "s", TMprisCalls::Get, 0, kConst),
    SD_BUS_PROPERTY("DesktopEntry", "s", TMprisCalls::Get, 0, kConst),
    SD_BUS_PROPERTY("SupportedUriSchemes", "as", TMprisCalls::Get, 0, kConst),
    SD_BUS_PROPERTY("SupportedMimeTypes", "as", TMprisCalls::Get, 0, kConst),
    SD_BUS_VTABLE_END};

const sd_bus_vtable kPlayerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Next", "", "", TMprisCalls::Next, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Previous", "", "", TMprisCalls::Previous, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Pause", "", "", TMprisCalls::Pause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PlayPause", "", "", TMprisCalls::PlayPause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Stop", "", "", TMprisCalls::Stop, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Play", "", "", TMprisCalls::Play, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Seek", "x", "", TMprisCalls::Seek, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetPosition", "ox", "", TMprisCalls::SetPosition, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("OpenUri", "s", "", TMprisCalls::OpenUri, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Seeked", "x", 0),
    SD_BUS_PROPERTY("PlaybackStatus", "s", TMprisCalls::Get, 0, kChanges),
    SD_BUS_WRITABLE_PROPERTY("Rate", "d", TMprisCalls::Get, TMprisCalls::SetRate, 0, kChanges),
    SD_BUS_PROPERTY("Metadata", "a{sv}", TMprisCalls::Get, 0, kChanges),
    SD_BUS_WRITABLE_PROPERTY("Volume", "d", TMprisCalls::Get, TMprisCalls::SetVolume, 0,
                             kChanges),
    // Clients read the position when they need it; jumps come as Seeked.
    SD_BUS_PROPERTY("Position", "x", TMprisCalls::Get, 0, 0),
    SD_BUS_PROPERTY("MinimumRate", "d", TMprisCalls::Get, 0, kConst),
    SD_BUS_PROPERTY("MaximumRate", "d", TMprisCalls::Get, 0, kConst),
    SD_BUS_PROPERTY("CanGoNext", "b", TMprisCalls::Get, 0, kChanges),
    SD_BUS_PROPERTY("CanGoPrevious", "b", TMprisCalls::Get, 0, kChanges),
    SD_BUS_PROPERTY("CanPlay", "b", TMprisCalls::Get, 0, kChanges),
    SD_BUS_PROPERTY("CanPause", "b", TMprisCalls::Get, 0, kChanges),
    SD_BUS_PROPERTY("CanSeek", "b", TMprisCalls::Get, 0, kChanges),
    SD_BUS_PROPERTY("CanControl", "b", TMprisCalls::Get, 0, kChanges),
    SD_BUS_VTABLE_END};

}  // namespace

TMprisService::TMprisService(TMprisIdentity identity, TSink sink, std::function<void()> tick)
    : identity_(std::move(identity)), sink_(std::move(sink)), tick_(std::move(tick)) {
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

TMprisService::~TMprisService() {
  thread_ = {};  // stops and joins; the bus closes on that thread
}

void TMprisService::Publish(const TMprisState& state) {
  std::lock_guard g(lock_);
  const int64_t now = NowUs();
  if (MprisJumped(published_, now - publishedAtUs_, state)) seeked_ = true;
  if (!MprisChangedProperties(published_, state).empty()) changed_ = true;
  published_ = state;
  publishedAtUs_ = now;
}

void TMprisService::Expect(int64_t positionUs) {
  std::lock_guard g(lock_);
  published_.positionUs = positionUs;
  publishedAtUs_ = NowUs();
  seeked_ = true;
}

TMprisState TMprisService::Current() const {
  std::lock_guard g(lock_);
  return published_;
}

// Between polls the clock runs on while playing, up to the show's end.
int64_t TMprisService::PositionNow() const {
  std::lock_guard g(lock_);
  int64_t p = published_.positionUs;
  if (published_.status == TPlaybackStatus::Playing) p += NowUs() - publishedAtUs_;
  return std::clamp<int64_t>(p, 0, std::max<int64_t>(0, published_.lengthUs));
}

void TMprisService::Run(std::stop_token stop) {
  if (Connect()) Loop(stop);
  bus_.reset();
}

bool TMprisService::Connect() {
  bus_ = std::make_unique<TBus>();
  int r = sd_bus_open_user(&bus_->bus);
  if (r < 0) {
    Log().Line("MPRIS: no session bus (" + ErrorText(r) + "), media controls off");
    return false;
  }
  sd_bus_set_method_call_timeout(bus_->bus, kCallTimeoutUs);
  r = sd_bus_add_object_vtable(bus_->bus, &bus_->root, kObjectPath, kRootInterface, kRootVtable,
                               this);
  if (r >= 0)
    r = sd_bus_add_object_vtable(bus_->bus, &bus_->player, kObjectPath, kPlayerInterface,
                                 kPlayerVtable, this);
  if (r >= 0) r = sd_bus_request_name(bus_->bus, identity_.busName.c_str(), 0);
  if (r < 0) {
    Log().Line("MPRIS: cannot offer " + identity_.busName + " on the session bus (" +
               ErrorText(r) + "), media controls off");
    return false;
  }
  Log().Line("MPRIS: on the session bus as " + identity_.busName);
  return true;
}

void TMprisService::Loop(std::stop_token stop) {
  int64_t nextTick = 0;
  while (!stop.stop_requested()) {
    int r = 0;
    do r = sd_bus_process(bus_->bus, nullptr);
    while (r > 0 && !stop.stop_requested());
    if (r >= 0 && sd_bus_is_open(bus_->bus) <= 0) r = -ENOTCONN;
    if (r >= 0 && NowUs() >= nextTick) {
      nextTick = NowUs() + kTickUs;
      if (tick_) tick_();
    }
    if (r >= 0) EmitChanges();
    if (r >= 0) r = sd_bus_wait(bus_->bus, kWaitUs);
    if (r < 0 && r != -EINTR) {
      // The player plays on without media controls.
      Log().Line("MPRIS: the session bus went away (" + ErrorText(r) + "), media controls off");
      return;
    }
  }
}

void TMprisService::EmitChanges() {
  bool seeked = false, changed = false;
  TMprisState now;
  {
    std::lock_guard g(lock_);
    std::swap(seeked, seeked_);
    std::swap(changed, changed_);
    now = published_;
  }
  if (changed) {
    std::vector<std::string> names = MprisChangedProperties(announced_, now);
    std::vector<char*> strv;
    for (std::string& n : names) strv.push_back(n.data());
    strv.push_back(nullptr);
    if (names.size() > 0)
      sd_bus_emit_properties_changed_strv(bus_->bus, kObjectPath, kPlayerInterface, strv.data());
    announced_ = now;
  }
  if (seeked)
    sd_bus_emit_signal(bus_->bus, kObjectPath, kPlayerInterface, "Seeked", "x", PositionNow());
}

}  // namespace lum
