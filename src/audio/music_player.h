#pragma once
// The music player: a thread that keeps a 5-second schedule ahead of the show
// position, has channels opened ahead of time by its loader thread, starts
// and stops them on time, and provides the show clock.
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/music_source.h"
#include "audio/output/music_player_class.h"
#include "foundation/ref_object.h"
#include "foundation/thread_event_list.h"
#include "project/lum_source.h"

namespace lum {

class TLumMusicPlayer;

// Opens sound names of a show: "LoadFromDisk:" + path as a disk file, any
// other name as a member of the show.
TStreamOpenFunc ShowStreamOpener(TRef<TFileAccessor> accessor);

// A planned play of one name on the owner's timeline.
class TLumChannel : public TRefObject {
 public:
  std::atomic<int32_t> owner{0};  // item id; -1: the loader does not open it
  std::string name;
  int64_t fileOffset = 0;  // ms
  double start = 0;
  double end = 0;
  TRef<TChannelMusic> output;
  bool ready = false;
  bool started = false;
  bool stopped = false;
};

// What travels through the thread lists: one reference to a channel.
class TChannelContainer : public TRefObject {
 public:
  explicit TChannelContainer(TRef<TLumChannel> c) : channel(std::move(c)) {}
  TRef<TLumChannel> channel;
};

class TPlayItem : public TRefObject {
 public:
  explicit TPlayItem(TLumMusicPlayer& player);
  int32_t Id() const { return id_; }
  bool Finished() const { return finished_; }
  bool Ready() const;
  // The loader handed back one of this item's channels.
  void Receive(const TRef<TLumChannel>& channel);
  virtual void Update(bool running, double time) = 0;
  // final: the item ends for good; otherwise a seek or pause.
  virtual void Stop(bool final) = 0;
  // Everything left is stopped and released.
  void Finish();
  const std::vector<TRef<TLumChannel>>& Channels() const { return channels_; }

 protected:
  TRef<TLumChannel> NewChannel(const std::string& name, int64_t fileOffset, double start,
                               double end);
  void RemoveChannel(const TRef<TLumChannel>& channel);
  TLumMusicPlayer& player_;
  int32_t id_;
  bool finished_ = false;
  std::vector<TRef<TLumChannel>> channels_;
};

class TPlaySequence : public TPlayItem {
 public:
  TPlaySequence(TLumMusicPlayer& player, std::shared_ptr<TPlayList> list, double start,
                double offset, bool freeRunning);
  ~TPlaySequence() override;
  void Update(bool running, double time) override;
  void Stop(bool final) override;
  bool Started() const { return started_; }
  double Start() const { return start_; }
  double Offset() const { return offset_; }
  bool FreeRunning() const { return free_; }
  // Where a free-running sequence is on its own timeline.
  double FreeTime() const;

 private:
  std::shared_ptr<TPlayList> list_;
  int64_t next_ = 0;
  double start_;
  double offset_;
  bool started_ = false;
  bool free_;
  bool wasCurrent_ = false;
  double startClock_ = 0;
};

class TPlayComment : public TPlayItem {
 public:
  TPlayComment(TLumMusicPlayer& player, const std::string& name, int64_t fileOffset, double start,
               double end);
  ~TPlayComment() override;
  void Update(bool running, double time) override;
  void Stop(bool final) override;

 private:
  bool stopOnPause_ = true;
};

// Opens and frees output channels ahead of time (every 10 ms).
class TMusicLoader {
 public:
  explicit TMusicLoader(TLumMusicPlayer& player);
  ~TMusicLoader();
  void Start();
  void Stop();
  TThreadEventList& Events() { return events_; }

 private:
  void Handle(int code, TRefObject* data);
  TLumMusicPlayer& player_;
  TThreadEventList events_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
};

// What a test or a status line sees of the player's channels.
struct TChannelView {
  std::string name;
  bool comment = false;
  bool ready = false;
  bool playing = false;
  double position = 0;  // ms into the source
  int64_t fileOffset = 0;
  double start = 0;
  double end = 0;
};

class TLumMusicPlayer {
 public:
  // Throws EAssertion "No LumSource for LumMusicPlayer" without a project.
  // The output player comes from CreateOutputPlayer (or is given, for tests).
  TLumMusicPlayer(const TLumSource* source, bool ownsSource = false);
  TLumMusicPlayer(const TLumSource* source, std::unique_ptr<TMusicPlayerClass> output);
  ~TLumMusicPlayer();

  void Start();
  void Stop();
  void SetPlaying(bool playing);
  void SetTime(double limit, double position);
  void SetLimit(double limit) { SetTime(limit, -2147483647.0); }
  double Position();
  bool Ready() const { return ready_.load(); }
  float Volume() const;
  void SetVolume(float volume);

  bool HasOutput() const { return output_ != nullptr; }
  // The show time of the main music now heard (synchronised mode); NaN when
  // none sounds. Updated by every pass of the player thread.
  double HeardPosition() const { return heard_.load(); }
  double Limit();
  bool Running();
  const TLumMusicSource& MusicSource() const { return *music_; }
  std::vector<TChannelView> Channels();

  // For the items.
  double Clock();
  TMusicPlayerClass* Output() const { return output_.get(); }
  TMusicLoader& Loader() { return *loader_; }
  int32_t NextId();
  void Queue(const TRef<TLumChannel>& channel);
  // True when it was still queued (and is no longer).
  bool Unqueue(const TRef<TLumChannel>& channel);
  void MakeCurrent(TPlaySequence* sequence);
  TPlaySequence* CurrentSequence() const { return current_; }
  void SetCurrentComment(TPlayComment* comment) { currentComment_ = comment; }
  TPlayComment* CurrentComment() const { return currentComment_; }
  void Forget(TPlayItem* item);
  TThreadEventList& Events() { return events_; }

 private:
  void Construct();
  void Run();
  void Pass();
  void Handle(int code, TRefObject* data);
  void DoSeek(double position);
  // The device came back: the synchronised music and the comments start
  // again in step with the clock, a moment ahead so that they open in time.
  void Rejoin(double position, bool running);
  double Heard();
  void Schedule(double from, double to, bool seek);

  const TLumSource* source_;
  bool ownsSource_ = false;
  std::unique_ptr<TMusicPlayerClass> output_;
  std::unique_ptr<TLumMusicSource> music_;
  std::unique_ptr<TMusicLoader> loader_;
  std::vector<TRef<TLumChannel>> queue_;
  std::vector<TRef<TPlayItem>> items_;
  TPlaySequence* current_ = nullptr;
  TPlayComment* currentComment_ = nullptr;
  std::mutex lock_;
  std::mutex itemsLock_;
  bool running_ = false;
  double reference_ = 0;  // running: clock at position 0; paused: the position
  double limit_ = 2147483647.0;
  double windowEnd_ = 0;
  std::atomic<bool> ready_{false};
  std::atomic<double> heard_{std::numeric_limits<double>::quiet_NaN()};
  int8_t lastPlaying_ = -1;
  int32_t nextId_ = 0;
  int64_t clockBase_ = 0;
  TThreadEventList events_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
};

}  // namespace lum
