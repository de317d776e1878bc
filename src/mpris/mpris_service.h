#pragma once
// The freedesktop media player interface (org.mpris.MediaPlayer2 and its
// .Player) on the session bus, through sd-bus. The bus runs on a thread of
// its own: property reads are answered from the last published state, and
// method calls become requests for the player. Without a session bus, or
// once the bus goes away, the service logs it and does nothing more; the
// player never waits on the bus.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "mpris/mpris_state.h"

struct sd_bus;

namespace lum {

// What a client asked of the player; values are already checked.
struct TMprisRequest {
  enum class TKind : uint8_t {
    Play,
    Pause,
    PlayPause,
    Stop,
    Next,
    Previous,
    SetPosition,  // positionUs
    SetVolume,    // volume
    Raise,
    Quit
  };
  TKind kind = TKind::Play;
  int64_t positionUs = 0;
  double volume = 0;
};

struct TMprisIdentity {
  std::string busName;       // "org.mpris.MediaPlayer2.<name>"
  std::string identity;      // what media widgets call the player
  std::string desktopEntry;  // the .desktop file's name without extension
};

class TMprisService {
 public:
  using TSink = std::function<void(const TMprisRequest&)>;

  // Connects on its own thread. sink gets the requests and tick is called
  // about every 100 ms while on the bus, both on the bus thread.
  TMprisService(TMprisIdentity identity, TSink sink, std::function<void()> tick);
  // Leaves the bus (the name goes with the connection).
  ~TMprisService();
  TMprisService(const TMprisService&) = delete;
  TMprisService& operator=(const TMprisService&) = delete;

  // Any thread: the player's state now. Clients hear of what changed, and
  // of position jumps through Seeked.
  void Publish(const TMprisState& state);

 private:
  struct TBus;
  void Run(std::stop_token stop);
  bool Connect();
  void Loop(std::stop_token stop);
  void EmitChanges();
  TMprisState Current() const;
  // A seek asked for: clients read the new position at once, and hear of it.
  void Expect(int64_t positionUs);
  int64_t PositionNow() const;

  friend struct TMprisCalls;

  TMprisIdentity identity_;
  TSink sink_;
  std::function<void()> tick_;
  std::unique_ptr<TBus> bus_;  // bus thread only
  mutable std::mutex lock_;
  TMprisState published_;      // under lock_
  int64_t publishedAtUs_ = 0;  // steady clock, under lock_
  bool seeked_ = false;        // under lock_: a Seeked signal is due
  bool changed_ = false;       // under lock_: the state differs from the one announced
  TMprisState announced_;      // bus thread only
  std::jthread thread_;
};

}  // namespace lum
