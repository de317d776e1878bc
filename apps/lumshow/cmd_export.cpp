// lumshow export: the show as a video file. Frames come from the offline
// frame driver 1/fps apart; only frames that differ from the one before are
// drawn and encoded, the others are held by time stamps (or repeated with
// --cfr). Sound is the mix of lumshow audio. The file is written beside OUT
// as .OUT.part-XXXXXX and renamed when complete, so OUT is never half-written.
#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <csignal>
#include <functional>
#include <memory>
#include <cstdio>
#include <set>

#include "audio/composite_converter.h"
#include "audio/decoders/stream_opener.h"
#include "audio/music_player.h"
#include "audio/show_sound_render.h"
#include "commands.h"
#include "engine/offline_frame_driver.h"
#include "foundation/errors.h"
#include "foundation/side_file.h"
#include "imaging/bitmap.h"
#include "imaging/color_management.h"
#include "job_queue.h"
#include "progress_bar.h"
#include "project/lum_source.h"
#include "render/frame_reader.h"
#include "show_open.h"
#include "video/video_encoder.h"

namespace lum::lumshow {

namespace {

constexpr int kMaxSide = 8192;
constexpr int kMaxFps = 240;
// Sound is mixed this far ahead of the pictures at a time.
constexpr double kSoundChunkMs = 30000;
// Frames waiting for the encoder (8 MB each at 1080p).
constexpr size_t kEncodeBacklog = 3;

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) {
  gInterrupted = true;
}

// Ctrl-C and termination end the export cleanly; a file-size limit makes
// writes fail instead of killing the process.
void CatchSignals() {
  struct sigaction sa = {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
}

bool EndsWith(std::string text, const std::string& tail) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Encoders want even sizes: odd ones grow by a pixel.
std::pair<int, int> ExportSize(const std::string& text) {
  auto [w, h] = ParseSize(text, kMaxSide);
  w += w % 2;
  h += h % 2;
  if (w > kMaxSide || h > kMaxSide || w < 16 || h < 16)
    throw TUsageError{"--size must be 16 to 8192 pixels a side"};
  return {w, h};
}

TEncoderSettings Settings(const TExportArgs& args) {
  TEncoderSettings s;
  s.container = EndsWith(args.output, ".webm") ? "webm" : "mp4";
  std::tie(s.width, s.height) = ExportSize(args.size);
  if (args.fps < 1 || args.fps > kMaxFps) throw TUsageError{"--fps must be 1 to 240"};
  s.fps = args.fps;
  const int maxCrf = s.container == "webm" ? 63 : 51;
  if (args.crf < 0 || args.crf > maxCrf)
    throw TUsageError{"--crf must be 0 to " + std::to_string(maxCrf)};
  s.crf = args.crf;
  static const std::set<std::string> kPresets = {"ultrafast", "superfast", "veryfast",
                                                 "faster",    "fast",      "medium",
                                                 "slow",      "slower",    "veryslow"};
  if (!kPresets.count(args.preset))
    throw TUsageError{"--preset must be one of ultrafast, superfast, veryfast, faster, fast, "
                      "medium, slow, slower, veryslow"};
  s.preset = args.preset;
  return s;
}

// The file being written: ".OUT.part-XXXXXX" beside OUT, created new (a link
// planted there is never followed) and renamed over OUT once complete.
std::unique_ptr<TSideFile> PartFile(const std::string& out) {
  try {
    return std::make_unique<TSideFile>(out);
  } catch (const EFOpenError& e) {
    throw ELumError("cannot write \"" + out + "\": " + e.what());
  }
}

// The show's sound, mixed in step with the pictures and handed on in chunks.
class TSoundFeed {
 public:
  using TSink = std::function<void(std::vector<int16_t>)>;
  TSoundFeed(TLumSource& source, TSink sink, double from, double to)
      : music_(source), sink_(std::move(sink)), done_(from), to_(to) {}
  // Mixes the sound up to show time t (at most the end).
  void Until(double t) {
    t = std::min(t, to_);
    while (done_ < t) {
      const double end = std::min(done_ + kSoundChunkMs, to_);
      sink_(RenderShowSound(music_, done_, end));
      done_ = end;
    }
  }

 private:
  TLumMusicSource music_;
  TSink sink_;
  double done_, to_;
};

// What an export covers: frames 1/fps apart from show time from.
struct TExportRange {
  double from, to;
  int64_t frames;
  int fps;
  bool cfr;
  double Time(int64_t n) const { return from + double(n) * 1000.0 / fps; }
};

// Draws the range's changed frames and encodes them with the sound into
// path; throws on failure or interruption.
void EncodeRange(const TExportRange& r, TLumSource& src, TOfflineFrameDriver& driver,
                 TProgressBar& bar, const std::string& path, const TEncoderSettings& settings) {
  TVideoEncoder encoder(path, settings);
  // Encoding runs beside the drawing of the next frames.
  TJobQueue encode(kEncodeBacklog);
  TSoundFeed sound(
      src,
      [&](std::vector<int16_t> pcm) {
        encode.Push([&encoder, pcm = std::move(pcm)] { encoder.Sound(pcm.data(), pcm.size() / 2); });
      },
      r.from, r.to);
  int64_t shown = -1;
  for (int64_t n = 0; n < r.frames; ++n) {
    if (gInterrupted) throw ELumError("interrupted");
    if (shown < 0 || driver.Changed(r.Time(n))) {
      // The encoder converts straight from the read-back buffer.
      driver.Stream(r.Time(n), [&encode, &encoder, n](TRef<TFramePixels> frame) {
        encode.Push([&encoder, frame = std::move(frame), n] {
          encoder.Picture(frame->Rows().top, frame->Rows().pitch, n);
        });
      });
      shown = n;
    } else if (r.cfr) {
      driver.Flush();
      encode.Push([&encoder, n] { encoder.Repeat(n); });
    }
    sound.Until(r.Time(n + 1));
    bar.Update(n + 1);
  }
  driver.Flush();
  // The last picture held to the end, so the file lasts as long as the range
  // (with --cfr the loop has repeated it there already).
  if (!r.cfr && shown < r.frames - 1)
    encode.Push([&encoder, last = r.frames - 1] { encoder.Repeat(last); });
  sound.Until(r.to);
  encode.Push([&encoder] { encoder.Finish(); });
  encode.Drain();
}

void CheckOutput(const std::string& out) {
  struct stat st = {};
  if (stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw TUsageError{"-o names a folder: \"" + out + "\""};
}

}  // namespace

int Export(const TExportArgs& args) {
  TEncoderSettings settings = Settings(args);
  CheckOutput(args.output);
  if (!std::isfinite(args.from) || args.from < 0) throw TUsageError{"--from must not be negative"};
  auto loc = OpenShowToPlay(args.show, args.password);
  ColorManagement().Apply(loc->Document());
  TLumSource src(loc->Accessor(), loc->Document(), {loc->Path(), 0});
  const double length = src.Duration();
  double to = args.to < 0 ? length : args.to;
  if (!src.Repeats()) to = std::min(to, length);
  if (args.from >= to)
    throw TUsageError{"--from is at or past the end (" + std::to_string(int64_t(to)) + " ms)"};
  if (to - args.from > 24.0 * 3600 * 1000) throw TUsageError{"more than 24 hours of video"};
  const int64_t frames =
      std::max<int64_t>(1, int64_t(std::ceil((to - args.from) * settings.fps / 1000.0 - 1e-6)));

  CatchSignals();
  // Decoded pictures are tens of megabytes each and come and go with every
  // slide: mapped on their own they return to the system when freed instead
  // of fragmenting the heap (a long export would otherwise keep growing).
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  RegisterCompositeDecoder();
  InstallStreamOpener(ShowStreamOpener(loc->Accessor()), nullptr);
  TProgressBar bar(frames, to - args.from, TProgressBar::OnTerminal());
  TOfflineFrameDriver driver(src, settings.width, settings.height);
  driver.SetFailureHandler([&](const std::string& why) {
    bar.Message("lumshow: warning: " + ForTerminal(why) + " (a blank slide stands in)");
  });
  std::unique_ptr<TSideFile> part = PartFile(args.output);
  try {
    EncodeRange({args.from, to, frames, settings.fps, args.cfr}, src, driver, bar, part->Path(),
                settings);
  } catch (const ELumError&) {
    if (gInterrupted) throw ELumError("interrupted: nothing written to \"" + args.output + "\"");
    throw;
  }
  InstallStreamOpener(nullptr, nullptr);
  part->Commit();
  bar.Finish();
  return 0;
}

}  // namespace lum::lumshow
