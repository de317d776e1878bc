#pragma once
// Clips made by the ffmpeg program at test time, read through the built
// plugin (LUMVIDEO_PATH) from memory as the player reads container members.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/ref_object.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "video/ffmpeg_dll.h"

namespace lum::test {

// Runs ffmpeg quietly with the arguments; fails the test when it fails.
void Ffmpeg(const std::vector<std::string>& args);

// A clip of `frames` frames at 25 fps whose frame n is a flat grey of luma
// 16 + 4n, so that any decoded frame tells its own number.
std::string NumberedClip(const TTempDir& dir, const std::string& name,
                         const std::vector<std::string>& codec, int frames = 50);
// The frame number a luma level stands for.
int FrameOfLuma(double luma);

// Interleaved 16-bit stereo samples at 44100 Hz, decoded by ffmpeg itself.
std::vector<int16_t> FfmpegPcm(const std::string& path);

// Bytes read through the reader interface; with failReads every read past
// the first 4 KB fails.
struct TMemoryReader {
  explicit TMemoryReader(std::string bytes, bool failReads = false);
  LumVideoReader reader{};
  std::string data;
  int64_t pos = 0;
  int64_t served = 0;  // the end of the furthest read that succeeded
  bool failReads;
};

// The built plugin, loaded once.
TRef<TFFMpegDll> Plugin();

// A media source opened through the plugin; closed at the end of its scope.
class TOpenMedia {
 public:
  TOpenMedia(const std::string& path, const std::string& name = "qweclip");
  explicit TOpenMedia(TMemoryReader&& reader, const std::string& name = "qweclip");
  ~TOpenMedia();
  LumMedia Handle() const { return media_; }
  const LumVideoMediaInfo& Info() const { return info_; }
  std::string FormatName() const;
  // The frame number of the next decoded frame, -1 at the end.
  int NextFrame();
  // The mean of the planar conversion's luma plane; the frame's time in us.
  double Luma(int64_t* ptsUs = nullptr);
  // All PCM until the end.
  std::vector<int16_t> ReadAllAudio();
  LumFrame Frame() const { return frame_; }
  const TMemoryReader& Source() const { return source_; }

 private:
  void Open(const std::string& name);
  TRef<TFFMpegDll> lib_;
  TMemoryReader source_;
  LumVideoMediaInfo info_{};
  LumMedia media_ = nullptr;
  LumFrame frame_ = nullptr;
};

}  // namespace lum::test
