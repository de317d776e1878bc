#include "video/video_fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lum::test {

void Ffmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto r = RunCommand(argv);
  ASSERT_EQ(r.status, 0) << r.err;
}

std::string NumberedClip(const TTempDir& dir, const std::string& name,
                         const std::vector<std::string>& codec, int frames) {
  std::string path = dir / name;
  std::vector<std::string> args{"-f",        "lavfi",
                                "-i",        "color=c=black:s=160x120:r=25,format=yuv420p",
                                "-vf",       "geq=lum='16+4*N':cb=128:cr=128",
                                "-frames:v", std::to_string(frames)};
  args.insert(args.end(), codec.begin(), codec.end());
  args.push_back(path);
  Ffmpeg(args);
  return path;
}

int FrameOfLuma(double luma) {
  return int(std::lround((luma - 16) / 4));
}

std::vector<int16_t> FfmpegPcm(const std::string& path) {
  auto r = RunCommand({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-i", path, "-f",
                       "s16le", "-ar", "44100", "-ac", "2", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<int16_t> s(r.out.size() / 2);
  std::memcpy(s.data(), r.out.data(), s.size() * 2);
  return s;
}

namespace {

int32_t MemRead(void* user, uint8_t* buffer, int32_t size) {
  auto* m = static_cast<TMemoryReader*>(user);
  if (m->failReads && m->pos > 4096) return -1;
  int64_t n = std::clamp<int64_t>(int64_t(m->data.size()) - m->pos, 0, size);
  std::memcpy(buffer, m->data.data() + m->pos, size_t(n));
  m->pos += n;
  m->served = std::max(m->served, m->pos);
  return int32_t(n);
}

int64_t MemSeek(void* user, int64_t offset, int32_t whence) {
  auto* m = static_cast<TMemoryReader*>(user);
  int64_t size = int64_t(m->data.size());
  if (whence == 0x10000) return size;
  int64_t base = whence == 0 ? 0 : whence == 1 ? m->pos : size;
  if (base + offset < 0) return -1;
  return m->pos = base + offset;
}

}  // namespace

TMemoryReader::TMemoryReader(std::string bytes, bool fail)
    : reader{this, MemRead, MemSeek}, data(std::move(bytes)), failReads(fail) {}

TRef<TFFMpegDll> Plugin() {
  static TRef<TFFMpegDll> lib = [] {
    std::string why;
    TRef<TFFMpegDll> l = TFFMpegDll::Load(LUMVIDEO_PATH, &why);
    EXPECT_TRUE(l) << why;
    return l;
  }();
  return lib;
}

TOpenMedia::TOpenMedia(const std::string& path, const std::string& name) : source_(ReadFile(path)) {
  Open(name);
}

TOpenMedia::TOpenMedia(TMemoryReader&& reader, const std::string& name)
    : source_(std::move(reader.data), reader.failReads) {
  Open(name);
}

void TOpenMedia::Open(const std::string& name) {
  lib_ = Plugin();
  if (!lib_) return;
  std::lock_guard guard(lib_->OpenLock());
  media_ = lib_->OpenMediaFile(name.c_str(), &source_.reader, &info_);
  if (media_) frame_ = lib_->AllocBuffer(media_);
}

TOpenMedia::~TOpenMedia() {
  if (frame_) lib_->FreeBuffer(frame_);
  if (media_) lib_->CloseMediaFile(media_);
}

std::string TOpenMedia::FormatName() const {
  int32_t n = lib_->GetFormatName(media_, nullptr, 0);
  std::string s(size_t(std::max(n, 0)) + 1, '\0');
  lib_->GetFormatName(media_, s.data(), int32_t(s.size()));
  s.resize(size_t(std::max(n, 0)));
  return s;
}

double TOpenMedia::Luma(int64_t* ptsUs) {
  int32_t size = lib_->ConvertFrame(media_, frame_, LUM_VIDEO_YUV420P, nullptr, info_.width);
  EXPECT_GT(size, 0);
  std::vector<uint8_t> yuv(size_t(std::max(size, 0)));
  EXPECT_EQ(lib_->ConvertFrame(media_, frame_, LUM_VIDEO_YUV420P, yuv.data(), info_.width), size);
  double sum = 0;
  size_t pixels = size_t(info_.width) * size_t(info_.height);
  for (size_t i = 0; i < pixels && i < yuv.size(); ++i) sum += yuv[i];
  if (ptsUs) lib_->GetDtsPts2(frame_, nullptr, ptsUs);
  return pixels ? sum / double(pixels) : 0;
}

int TOpenMedia::NextFrame() {
  if (lib_->GetNextVideoFrame(media_, frame_) != 0) return -1;
  return FrameOfLuma(Luma());
}

std::vector<int16_t> TOpenMedia::ReadAllAudio() {
  std::vector<int16_t> all;
  std::vector<uint8_t> block(4096);
  for (;;) {
    int32_t n = lib_->GetNextAudioFrame(media_, block.data(), int32_t(block.size()));
    if (n <= 0) break;
    EXPECT_EQ(n % 4, 0);
    size_t old = all.size();
    all.resize(old + size_t(n) / 2);
    std::memcpy(all.data() + old, block.data(), size_t(n));
  }
  return all;
}

}  // namespace lum::test
