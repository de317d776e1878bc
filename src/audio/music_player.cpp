#include "audio/music_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <fmt/format.h>

#include "audio/composite_converter.h"
#include "audio/decoders/converter_factory.h"
#include "audio/decoders/media_info.h"
#include "audio/decoders/stream_opener.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/file_stream.h"
#include "foundation/log.h"

namespace lum {

namespace {

constexpr double kWindow = 5000;
// Time given to channels reopened after the device came back.
constexpr double kRejoinLead = 250;
constexpr const char* kModule = "LumMusicPlayer";

// Compositions are long texts; the log names them by size.
std::string ShortName(const std::string& name) {
  if (IsCompositionText(name)) return fmt::format("<composition of {} bytes>", name.size());
  return name;
}

void Note(const std::string& text) {
  if (Log().Enabled()) Log().Line(text);
}

double NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class TTimeData : public TRefObject {
 public:
  TTimeData(double l, double p) : limit(l), position(p) {}
  double limit;
  double position;
};

}  // namespace

TStreamOpenFunc ShowStreamOpener(TRef<TFileAccessor> accessor) {
  return [accessor](const std::string& name) -> std::unique_ptr<TStream> {
    if (!accessor) return nullptr;
    constexpr std::string_view kDisk = "LoadFromDisk:";
    try {
      if (name.size() > kDisk.size() && name.compare(0, kDisk.size(), kDisk) == 0) {
        std::string path = accessor->FindFileOnDisk(name.substr(kDisk.size()));
        if (path.empty()) return nullptr;
        return TFileStream::TryOpenRead(path);
      }
      return accessor->OpenMember(name);
    } catch (const std::exception&) {
      return nullptr;
    }
  };
}

// --- TPlayItem ---

TPlayItem::TPlayItem(TLumMusicPlayer& player) : player_(player), id_(player.NextId()) {}

bool TPlayItem::Ready() const {
  return std::all_of(channels_.begin(), channels_.end(),
                     [](const TRef<TLumChannel>& c) { return c->ready; });
}

void TPlayItem::Receive(const TRef<TLumChannel>& channel) {
  auto it = std::find(channels_.begin(), channels_.end(), channel);
  if (it == channels_.end() || finished_) {
    channel->owner = -1;
    player_.Loader().Events().Post(3, MakeRef<TChannelContainer>(channel));
    return;
  }
  channel->ready = true;
}

TRef<TLumChannel> TPlayItem::NewChannel(const std::string& name, int64_t fileOffset, double start,
                                        double end) {
  auto ch = MakeRef<TLumChannel>();
  ch->owner = id_;
  ch->name = name;
  ch->fileOffset = fileOffset;
  ch->start = start;
  ch->end = end;
  channels_.push_back(ch);
  player_.Loader().Events().Post(1, MakeRef<TChannelContainer>(ch));
  return ch;
}

void TPlayItem::RemoveChannel(const TRef<TLumChannel>& ch) {
  if (ch->started && !player_.Unqueue(ch) && ch->output && ch->output->IsPlaying()) {
    double t0 = NowMs();
    ch->output->Stop(10);
    Note(fmt::format("+++++++++++++++++++ Channel {} Stop Time {:.3f}", ShortName(ch->name),
                     NowMs() - t0));
  }
  ch->started = false;
  ch->stopped = true;
  std::erase(channels_, ch);
  if (ch->ready) {
    player_.Loader().Events().Post(3, MakeRef<TChannelContainer>(ch));
  } else {
    ch->owner = -1;  // still with the loader: it comes back and is released then
  }
}

void TPlayItem::Finish() {
  finished_ = true;
  auto channels = channels_;
  for (auto& c : channels) RemoveChannel(c);
}

// --- TPlaySequence ---

TPlaySequence::TPlaySequence(TLumMusicPlayer& player, std::shared_ptr<TPlayList> list, double start,
                             double offset, bool freeRunning)
    : TPlayItem(player),
      list_(std::move(list)),
      start_(start),
      offset_(offset),
      free_(freeRunning) {}

TPlaySequence::~TPlaySequence() {
  Note("TPlaySequence.Disposed");
}

void TPlaySequence::Update(bool running, double time) {
  if (finished_) return;
  double x;
  if (free_)
    x = started_ ? player_.Clock() - startClock_ + offset_ : offset_;
  else
    x = time - start_ + offset_;
  const TPlayList& list = *list_;
  if (!list.Repeat() && x > list.Total()) {
    Stop(true);
    return;
  }
  // Before its start a sequence preloads from its offset: nothing before it sounds.
  const double from = !free_ && !started_ && offset_ > 0 ? std::max(x, offset_) : x;
  while (list.Count() > 0 && (list.Repeat() || next_ < list.Count())) {
    TMusicItemInfo item = list.Item(next_);
    if (item.start >= from + kWindow) break;
    ++next_;
    if (item.start + item.duration <= from) continue;
    double into = std::max(from - item.start, 0.0);
    Note("Preload " + ShortName(item.fileName));
    NewChannel(item.fileName, int64_t(into + item.offset), item.start + into,
               item.start + item.duration);
    Note(fmt::format("Preload to time start {:.0f}", item.start + into));
  }
  if (!started_ && running && time >= start_) {
    started_ = true;
    if (free_) {
      startClock_ = player_.Clock();
      x = offset_;
    }
    Note(fmt::format("Sequence started at abs Time {:.0f}", time));
  }
  if (!wasCurrent_ && (free_ ? started_ : time >= start_)) {
    wasCurrent_ = true;
    player_.MakeCurrent(this);
  }
  if (!started_) return;
  if (!free_ && !running) {
    Stop(false);
    return;
  }
  auto channels = channels_;
  for (auto& ch : channels) {
    if (x >= ch->end) {
      RemoveChannel(ch);
    } else if (ch->ready && !ch->started && x >= ch->start) {
      player_.Queue(ch);
      ch->started = true;
      Note(fmt::format("Start Channel: {}   IntTime: {:.0f}", ShortName(ch->name), x));
    }
  }
}

double TPlaySequence::FreeTime() const {
  return started_ ? player_.Clock() - startClock_ + offset_ : offset_;
}

void TPlaySequence::Stop(bool final) {
  if (finished_) return;
  if (!final && free_) return;
  for (auto& ch : channels_) {
    if (!ch->started) continue;
    if (!player_.Unqueue(ch) && ch->output && ch->output->IsPlaying()) {
      ch->output->Stop(10);
      Note("Stop Channel: " + ShortName(ch->name));
    }
    ch->started = false;
  }
  started_ = false;
  if (final) {
    double played = free_ ? player_.Clock() - startClock_ : 0;
    Note(fmt::format("Finally sequence stop {:.0f}", played));
    Finish();
  }
}

// --- TPlayComment ---

TPlayComment::TPlayComment(TLumMusicPlayer& player, const std::string& name, int64_t fileOffset,
                           double start, double end)
    : TPlayItem(player) {
  NewChannel(name, fileOffset, start, end);
}

TPlayComment::~TPlayComment() = default;

void TPlayComment::Update(bool running, double x) {
  if (finished_ || channels_.empty()) return;
  TRef<TLumChannel> ch = channels_.front();
  if (x >= ch->end - 10) {
    Finish();
    return;
  }
  if (ch->started && !running && stopOnPause_) {
    if (!player_.Unqueue(ch) && ch->output && ch->output->IsPlaying()) ch->output->Stop(10);
    ch->started = false;
  }
  if (ch->ready && !ch->started && running && x >= ch->start) {
    player_.Queue(ch);
    ch->started = true;
    player_.SetCurrentComment(this);
  }
}

void TPlayComment::Stop(bool) {
  // A comment does not outlive a seek: the new window schedules what is under way.
  if (!finished_) Finish();
}

// --- TMusicLoader ---

TMusicLoader::TMusicLoader(TLumMusicPlayer& player)
    : player_(player), events_([this](int code, TRefObject* data) { Handle(code, data); }) {}

TMusicLoader::~TMusicLoader() {
  Stop();
}

void TMusicLoader::Start() {
  if (thread_.joinable()) return;
  quit_ = false;
  thread_ = std::thread([this] {
    while (!quit_) {
      events_.Drain();
      events_.WaitFor(std::chrono::milliseconds(10));
    }
    events_.Drain();
  });
}

void TMusicLoader::Stop() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
}

void TMusicLoader::Handle(int code, TRefObject* data) {
  auto* container = dynamic_cast<TChannelContainer*>(data);
  if (!container || !container->channel) return;
  TRef<TLumChannel> ch = container->channel;
  if (code == 1) {
    if (ch->owner != -1 && player_.Output()) {
      ch->output = player_.Output()->CreateChannel(ch->name, double(ch->fileOffset));
      if (!ch->output) {
        Note("+++++++++++++++++++ Channel Create ERROR");
      } else {
        double end = ch->output->Length() - double(ch->fileOffset) + ch->start;
        if (end < ch->end) ch->end = end;
      }
    }
    player_.Events().Post(2, MakeRef<TChannelContainer>(ch));
  } else if (code == 3) {
    if (ch->output && player_.Output()) {
      double t0 = NowMs();
      player_.Output()->DestroyChannel(ch->output);
      Note(fmt::format("+++++++++++++++++++ Destroy Channel {} Time {:.3f}", ShortName(ch->name),
                       NowMs() - t0));
    }
    ch->output = nullptr;
  }
}

// --- TLumMusicPlayer ---

TLumMusicPlayer::TLumMusicPlayer(const TLumSource* source, bool ownsSource)
    : source_(source),
      ownsSource_(ownsSource),
      events_([this](int code, TRefObject* data) { Handle(code, data); }) {
  if (!source_) AssertFailed(kModule, "No LumSource for LumMusicPlayer");
  output_ = CreateOutputPlayer();
  Construct();
}

TLumMusicPlayer::TLumMusicPlayer(const TLumSource* source,
                                 std::unique_ptr<TMusicPlayerClass> output)
    : source_(source),
      output_(std::move(output)),
      events_([this](int code, TRefObject* data) { Handle(code, data); }) {
  if (!source_) AssertFailed(kModule, "No LumSource for LumMusicPlayer");
  Construct();
}

void TLumMusicPlayer::Construct() {
  // Compositions play through the composite mixer unless a mixer is installed already.
  if (!CompositeHook().create) RegisterCompositeDecoder();
  music_ = std::make_unique<TLumMusicSource>(*source_);
  InstallStreamOpener(ShowStreamOpener(source_->Accessor()), nullptr);
  loader_ = std::make_unique<TMusicLoader>(*this);
  if (music_->PlayList() && !music_->SyncMode())
    items_.push_back(
        TRef<TPlayItem>(new TPlaySequence(*this, music_->SharedPlayList(), 0, 0, true)));
  DoSeek(0);
}

TLumMusicPlayer::~TLumMusicPlayer() {
  try {
    Stop();
  } catch (const std::exception&) {
  }
  try {
    std::lock_guard lock(itemsLock_);
    for (auto& item : items_) item->Finish();
    items_.clear();
    current_ = nullptr;
    currentComment_ = nullptr;
  } catch (const std::exception&) {
  }
  try {
    loader_->Events().Drain();  // frees what the items released
    loader_.reset();
  } catch (const std::exception&) {
  }
  events_.Shut();
  try {
    music_.reset();
  } catch (const std::exception&) {
  }
  try {
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    output_.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  } catch (const std::exception&) {
  }
  InstallStreamOpener(nullptr, nullptr);
  if (ownsSource_) delete source_;
}

void TLumMusicPlayer::Start() {
  if (thread_.joinable()) return;
  quit_ = false;
  loader_->Start();
  thread_ = std::thread([this] { Run(); });
}

void TLumMusicPlayer::Stop() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  if (loader_) loader_->Stop();
}

void TLumMusicPlayer::Run() {
  while (!quit_) {
    Pass();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The watch reopens the sound device from this thread.
  ReleaseSoundThreadData();
}

void TLumMusicPlayer::Pass() {
  using TChange = TMusicPlayerClass::TDeviceChange;
  const TChange change = output_ ? output_->Watch() : TChange::None;
  std::lock_guard items(itemsLock_);
  double t0 = NowMs();
  events_.Drain();
  bool running;
  double limit;
  {
    std::lock_guard lock(lock_);
    running = running_;
    limit = limit_;
  }
  double d = std::min(Position(), limit - 1);
  if (change == TChange::Back) Rejoin(d, running);
  if (running) {
    Schedule(windowEnd_, d + kWindow, false);
    windowEnd_ = d + kWindow;
  }
  double t1 = NowMs();
  // Without a device the items hold still as in a pause; the clock runs on.
  const bool sounding = running && !(output_ && output_->DeviceLost());
  for (size_t i = 0; i < items_.size(); ++i) items_[i]->Update(sounding, d);
  for (auto& ch : queue_) {
    if (!ch->output) continue;
    double s = NowMs();
    ch->output->Play(10);
    Note(fmt::format("+++++++++++++++++++ Play Channel {} Time {:.3f}", ShortName(ch->name),
                     NowMs() - s));
  }
  queue_.clear();
  double t2 = NowMs();
  for (auto it = items_.begin(); it != items_.end();) {
    if ((*it)->Finished()) {
      Forget(it->Get());
      it = items_.erase(it);
    } else {
      ++it;
    }
  }
  bool all = std::all_of(items_.begin(), items_.end(), [](auto& i) { return i->Ready(); });
  ready_ = all || running;
  heard_ = Heard();
  double t3 = NowMs();
  if (t3 - t0 > 1) {
    Note(fmt::format("+++++++++++++++++++ Main Synch Time {:.3f}", t2 - t1));
    Note(fmt::format("+++++++++++++++++++ Total Synch Time {:.3f}", t3 - t0));
    Note(fmt::format("+++++++++++++++++++ Total Free and Pack Time {:.3f}", t3 - t2));
  }
}

void TLumMusicPlayer::Forget(TPlayItem* item) {
  if (item == current_) {
    Note("Clear CurSequence");
    current_ = nullptr;
  }
  if (item == currentComment_) {
    Note("Clear CurComment !!!!!!!!!!!");
    currentComment_ = nullptr;
  } else if (dynamic_cast<TPlayComment*>(item)) {
    Note("Dispose noncurrent channel !!!!!!!!!!!");
  }
}

void TLumMusicPlayer::Handle(int code, TRefObject* data) {
  switch (code) {
    case 2: {
      auto* c = dynamic_cast<TChannelContainer*>(data);
      if (!c) return;
      TRef<TLumChannel> ch = c->channel;
      Note("Receive Channel: " + ShortName(ch->name));
      int32_t owner = ch->owner;
      for (auto& item : items_) {
        if (item->Id() == owner && owner != -1) {
          item->Receive(ch);
          return;
        }
      }
      loader_->Events().Post(3, MakeRef<TChannelContainer>(ch));
      return;
    }
    case 10: {
      std::lock_guard lock(lock_);
      if (!running_) {
        reference_ = Clock() - reference_;
        running_ = true;
      }
      return;
    }
    case 11: {
      std::lock_guard lock(lock_);
      if (running_) {
        reference_ = Clock() - reference_;
        running_ = false;
      }
      return;
    }
    case 12: {
      auto* t = dynamic_cast<TTimeData*>(data);
      if (!t) return;
      Note(fmt::format("Set Time {:.0f}", t->position));
      if (t->limit >= 0) {
        std::lock_guard lock(lock_);
        limit_ = t->limit;
      }
      if (t->position >= 0) DoSeek(t->position);
      return;
    }
    default:
      AssertFailed(kModule, "Unknown EventID");
  }
}

void TLumMusicPlayer::DoSeek(double position) {
  {
    std::lock_guard lock(lock_);
    reference_ = position;
    running_ = false;
  }
  for (size_t i = 0; i < items_.size(); ++i) items_[i]->Stop(false);
  Schedule(position, position + kWindow, true);
  windowEnd_ = position + kWindow;
}

void TLumMusicPlayer::Rejoin(double position, bool running) {
  const double from = position + (running ? kRejoinLead : 0.0);
  Note(fmt::format("Rejoin at {:.0f}", from));
  // What played on the lost device stood still: its channels are given up.
  // Free-running music goes on from where its own clock is by then.
  std::vector<TRef<TPlayItem>> free;
  for (auto& item : items_) {
    auto* sequence = dynamic_cast<TPlaySequence*>(item.Get());
    if (sequence && sequence->FreeRunning() && !sequence->Finished())
      free.push_back(TRef<TPlayItem>(new TPlaySequence(
          *this, music_->SharedPlayList(), from, sequence->FreeTime() + (from - position), true)));
    item->Stop(true);
  }
  items_.insert(items_.end(), free.begin(), free.end());
  Schedule(from, from + kWindow, true);
  windowEnd_ = from + kWindow;
}

double TLumMusicPlayer::Heard() {
  const TPlaySequence* s = current_;
  if (s && s->Started() && !s->FreeRunning()) {
    for (const auto& ch : s->Channels()) {
      if (!ch->started || !ch->output || !ch->output->IsPlaying()) continue;
      return s->Start() - s->Offset() + ch->start +
             (ch->output->Position() - double(ch->fileOffset));
    }
  }
  return std::numeric_limits<double>::quiet_NaN();
}

void TLumMusicPlayer::Schedule(double from, double to, bool seek) {
  if (to <= from && !seek) return;
  const double length = source_->Duration();
  const bool loops = source_->Repeats();
  if (music_->SyncMode() && music_->PlayList()) {
    int64_t first = length > 0 ? int64_t(std::floor(from / length)) : 0;
    if (!seek) ++first;
    int64_t last = length > 0 ? int64_t(std::floor(to / length)) : 0;
    if (!loops) last = std::min<int64_t>(last, 0);
    for (int64_t c = std::max<int64_t>(first, 0); c <= last; ++c) {
      double cs = double(c) * length;
      bool inside = from >= cs && (length <= 0 || from < cs + length);
      double start = inside ? from : cs;
      double offset = inside ? from - cs : 0;
      items_.push_back(TRef<TPlayItem>(
          new TPlaySequence(*this, music_->SharedPlayList(), start, offset, false)));
    }
  }
  const int64_t count = music_->SlideCount();
  if (count == 0) return;
  int64_t holder = source_->SlideAt(from);
  int64_t first = seek ? std::max<int64_t>(holder - count, 0) : holder + 1;
  first = std::max<int64_t>(first, 0);
  int64_t last = source_->SlideAt(to);
  if (!loops) last = std::min(last, count - 1);
  for (int64_t i = first; i <= last; ++i) {
    TSlideMusicInfo info = music_->Slide(i);
    if (info.comment.empty()) continue;
    Note("New Comment begin " + ShortName(info.comment));
    double elapsed = std::max(from - info.slide.start, 0.0);
    if (elapsed >= info.length) continue;
    items_.push_back(TRef<TPlayItem>(new TPlayComment(*this, info.comment, int64_t(elapsed),
                                                      std::max(info.slide.start, from),
                                                      info.slide.start + info.length)));
  }
}

double TLumMusicPlayer::Clock() {
  if (output_) return output_->Clock();
  return double(MsSinceStart());
}

double TLumMusicPlayer::Position() {
  std::lock_guard lock(lock_);
  double p = running_ ? Clock() - reference_ : reference_;
  return std::min(p, limit_);
}

double TLumMusicPlayer::Limit() {
  std::lock_guard lock(lock_);
  return limit_;
}

bool TLumMusicPlayer::Running() {
  std::lock_guard lock(lock_);
  return running_;
}

void TLumMusicPlayer::SetPlaying(bool playing) {
  if (lastPlaying_ == int8_t(playing)) return;
  lastPlaying_ = int8_t(playing);
  events_.Post(playing ? 10 : 11);
}

void TLumMusicPlayer::SetTime(double limit, double position) {
  ready_ = false;
  if (position >= 0) lastPlaying_ = -1;
  events_.Post(12, MakeRef<TTimeData>(limit, position));
}

float TLumMusicPlayer::Volume() const {
  return output_ ? output_->MasterVolume() : 0.0f;
}

void TLumMusicPlayer::SetVolume(float volume) {
  if (output_) output_->SetMasterVolume(volume);
}

int32_t TLumMusicPlayer::NextId() {
  int32_t id = nextId_;
  nextId_ = nextId_ == 2147483647 ? 0 : nextId_ + 1;
  return id;
}

void TLumMusicPlayer::Queue(const TRef<TLumChannel>& channel) {
  queue_.push_back(channel);
}

bool TLumMusicPlayer::Unqueue(const TRef<TLumChannel>& channel) {
  auto it = std::find(queue_.begin(), queue_.end(), channel);
  if (it == queue_.end()) return false;
  queue_.erase(it);
  return true;
}

void TLumMusicPlayer::MakeCurrent(TPlaySequence* sequence) {
  TPlaySequence* previous = current_;
  current_ = sequence;
  if (previous && previous != sequence) previous->Stop(true);
}

std::vector<TChannelView> TLumMusicPlayer::Channels() {
  std::lock_guard items(itemsLock_);
  std::vector<TChannelView> out;
  for (auto& item : items_) {
    bool comment = dynamic_cast<TPlayComment*>(item.Get()) != nullptr;
    for (auto& ch : item->Channels()) {
      TChannelView v;
      v.name = ch->name;
      v.comment = comment;
      v.ready = ch->ready;
      v.start = ch->start;
      v.end = ch->end;
      v.fileOffset = ch->fileOffset;
      if (ch->output) {
        v.playing = ch->output->IsPlaying();
        v.position = ch->output->Position();
      }
      out.push_back(std::move(v));
    }
  }
  return out;
}

}  // namespace lum
